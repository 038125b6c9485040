// Inside the probing library: the open handle, its databases (opened on
// first use and kept) and the decoded-block cache all threads share.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "index/names.h"
#include "jar/block_cache.h"
#include "jar/jar_reader.h"

// One database of the handle, read by block number through its reader.
struct ProbeDb {
  uint32_t material = 0;
  uint32_t id = 0;  // number within the handle, part of the cache key
  int state = 0;    // 0 readable, else kProbeMissing or kProbeDamaged
  char name[9] = {};
  double size = 0;  // entries
  JarReader reader;
  // Why it is damaged: the first failure met, its header's or a record's.
  std::mutex damage_lock;
  std::string damage;
};

// Room for every material code of up to seven men, both sides to move.
inline constexpr int kProbeDbSlots = 16384;

struct zok_tb {
  SearchPath path;
  std::mutex open_lock;                            // opening databases and chunk files
  std::unique_ptr<std::atomic<ProbeDb*>[]> slots;  // by material code, open addressing
  std::vector<std::unique_ptr<ProbeDb>> dbs;
  ProbeDb none;                          // what a code gets when the table is full
  std::unique_ptr<JarBlockCache> cache;  // decoded blocks, all threads
};

// The database of a material code, opened on first use (never null).
ProbeDb* ProbeDatabase(zok_tb* tb, uint32_t material);
// The byte at `index` of a readable database through the cache, or
// kProbeDamaged.
int ProbeDbByte(zok_tb* tb, ProbeDb* db, double index);
// Copies block `block` of a readable database through the cache into `out`
// (kBlockSize bytes); false when it cannot be read.
bool ProbeDbBlock(zok_tb* tb, ProbeDb* db, int block, uint8_t* out);
// What made the database of name `name` (as zok_value's `missing` gives
// it) damaged: the first failure met reading it, naming its file and block;
// empty when none was met.
std::string ProbeDamage(zok_tb* tb, const char* name);
// Sets up a new handle's database table and cache; closes a handle's files.
void ProbeInit(zok_tb* tb, size_t cache_bytes);
void ProbeCloseFiles(zok_tb* tb);
