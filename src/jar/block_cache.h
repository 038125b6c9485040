// Decoded blocks of any number of files, shared by all threads: bounded by a
// byte budget, split in shards each under its own lock (threads probing
// different blocks rarely wait for each other), and replaced by the CLOCK
// rule (a block read since the hand last passed gets another round). A
// block missing from the cache is read and decoded by the thread that
// wants it, outside the lock, so threads decode different blocks at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "jar/jar_reader.h"

class JarBlockCache {
 public:
  // Room for `bytes` of blocks (at least one block), taken as first needed.
  explicit JarBlockCache(size_t bytes);
  ~JarBlockCache();
  JarBlockCache(const JarBlockCache&) = delete;
  JarBlockCache& operator=(const JarBlockCache&) = delete;

  // Block `block` of `reader`'s file, which `file` names among the files
  // sharing the cache. With `out` null the byte at `offset` of the block
  // (0..255); else the whole block (kBlockSize bytes) is copied to `out` and
  // the result is 0. -1 with `error` set when the block cannot be read.
  int Fetch(uint32_t file, const JarReader& reader, int32_t block, int offset, uint8_t* out,
            std::string* error);
  // Fetches answered from the cache and fetches that decoded, so far.
  void Stats(double* hits, double* misses) const;

 private:
  struct Entry {
    uint64_t key;
    int slot;
  };
  struct alignas(64) Shard {
    mutable std::mutex lock;
    std::vector<Entry> table;  // open addressing, a power of two long, at most half full
    std::vector<uint64_t> keys;
    std::vector<uint8_t> used;
    std::vector<uint8_t*> blocks;                     // grown up to capacity, in arenas
    std::vector<std::pair<uint8_t*, size_t>> arenas;  // memory and bytes
    int capacity = 0;
    int hand = 0;
    double hits = 0;
    double misses = 0;
    ~Shard();
  };
  static size_t Home(const Shard& shard, uint64_t key);
  static int Find(const Shard& shard, uint64_t key);
  static void Add(Shard& shard, uint64_t key, int slot);
  static void Remove(Shard& shard, uint64_t key);
  static bool Grow(Shard& shard);
  static void Insert(Shard& shard, uint64_t key, const uint8_t* block);

  int shard_count_ = 0;
  std::unique_ptr<Shard[]> shards_;
};
