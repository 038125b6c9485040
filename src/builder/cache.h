// Block cache over the finished databases of sub-endgames: the initial
// passes of a build read single value bytes from them in an order that jumps
// around the files.
#pragma once

#include <cstdint>
#include <memory>

#include "builder/values.h"
#include "jar/block_cache.h"
#include "jar/jar_file.h"
#include "jar/jar_reader.h"

inline constexpr int kCacheSlots = 25;
inline constexpr int kCacheBuffers = 20;

// The handle of set 0's slot checks the database and stands for it in the
// build's accounting (the slot's size, which the log's memory figures count,
// stays as it was); every set loads its blocks through the slot's reader in
// SubCache.
struct CacheSlot {
  uint32_t code;
  bool announced;  // its "cache" line is out
  int64_t seen;    // the row serial of the set that last probed it
  char path[256];
  JILE* file;                    // set 0 only
  uint8_t order[kCacheBuffers];  // buffer numbers, most recently used first
  int32_t tags[kCacheBuffers];   // block held by each buffer, -1 when empty
  uint8_t buffers[kCacheBuffers][kBlockSize];
};

// The open slots of one build. Threads probe through sets of their own: set
// 0 uses the slots, set s > 0 copies[(s - 1) * kCacheSlots + slot], each with
// its own buffers; all read through readers[slot], which many threads may
// share. Slots are only opened between parallel calls.
//
// With more than one set, a block a set's buffers miss comes from `blocks`,
// shared by every set and keyed by material code, so that a block is decoded
// once however many sets want it; it lives until CacheCloseAll. Its memory
// is not the build's accounted memory: the sets' buffers and the figures
// stay as they were.
struct SubCache {
  CacheSlot* slots[kCacheSlots];
  std::unique_ptr<JarReader> readers[kCacheSlots];
  std::unique_ptr<JarBlockCache> blocks;
  int count;
  int announced;  // "cache" lines written
  int sets;
  CacheSlot** copies;
};

// One thread's probing through one set, for one row at a time: the codes the
// row probes in order of their first probe, and those not open yet.
struct CacheUser {
  int set;
  int64_t serial;  // of the row being computed
  double probes;
  double loads;
  uint32_t* codes;
  int* ncodes;
  uint32_t missing[kCacheSlots];
  int nmissing;
};

struct Build;

// The value byte of entry `index` of database `code` (side bit included).
int CacheProbe(Build& b, uint32_t code, double index);
CacheSlot* CacheOpen(Build& b, uint32_t code);
// The same from a set's thread: the value byte, or -1 with the code noted as
// missing in `user` when no slot holds it yet.
int CacheProbeSet(SubCache& cache, CacheUser& user, uint32_t code, double index);
// Opens the missing codes for every set, without their "cache" lines, which
// CacheAnnounce writes when the rows that probe them first are committed.
void CacheOpenMissing(Build& b, const uint32_t* codes, int count);
void CacheAnnounce(Build& b, uint32_t code);
// The other sets' slots and buffers are held beyond one thread's share.
void CacheSetThreads(Build& b, int sets);
void CacheCloseAll(Build& b);
