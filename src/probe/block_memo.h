// A thread's own copies of the blocks it read last, in front of a handle's
// shared cache. A walk whose probes stay on a few blocks for a while (as
// -verify's do, column by column) finds them here without a lock and without
// the shared cache's copy of the block; a miss copies the block from the
// shared cache, which decodes it when it has to.
//
// One memo belongs to one thread; any number may share one handle. Its
// memory is `blocks` times 32 KiB, taken when it is made.
#pragma once

#include <cstdint>
#include <vector>

#include "zok/probe.h"

struct ProbeDb;

struct ProbeMemo {
  ProbeMemo(zok_tb* tb, int blocks);
  zok_tb* tb;
  int sets;                     // a power of two, kMemoWays slots each
  std::vector<uint8_t> memory;  // the blocks, in slots
  std::vector<uint64_t> keys;   // per set and way, most recent first
  std::vector<uint32_t> slots;  // where each way's block lies in memory
  // The last block found, for the run of probes that stay on it: its
  // database, the entries it holds and its bytes.
  uint32_t last_material;
  int64_t last_first, last_end;
  const uint8_t* last_block;
  // The last databases asked for, by material code.
  uint32_t materials[16];
  ProbeDb* dbs[16];
};

// The value byte of entry `index` of the database of material code
// `material` (side-to-move bit included), as ProbeByte gives it: 0..255, or
// kProbeMissing / kProbeDamaged.
int ProbeMemoFetch(ProbeMemo& memo, uint32_t material, int64_t index);
inline int ProbeMemoByte(ProbeMemo& memo, uint32_t material, int64_t index) {
  if (material == memo.last_material && index >= memo.last_first && index < memo.last_end) {
    return memo.last_block[index - memo.last_first];
  }
  return ProbeMemoFetch(memo, material, index);
}
