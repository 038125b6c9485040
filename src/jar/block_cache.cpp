#include "jar/block_cache.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr uint64_t kNoKey = ~uint64_t(0);  // a free table entry
constexpr int kShards = 64;

uint64_t Mix(uint64_t key) {
  key ^= key >> 29;
  key *= 0xbf58476d1ce4e5b9ull;
  return key ^ (key >> 32);
}

// Blocks a shard's arena holds: 2 MB, a huge page.
constexpr size_t kArenaBlocks = 64;

}  // namespace

size_t JarBlockCache::Home(const Shard& shard, uint64_t key) {
  return static_cast<size_t>(Mix(key >> 6 ^ key)) & (shard.table.size() - 1);
}

// The slot of a cached block, or -1.
int JarBlockCache::Find(const Shard& shard, uint64_t key) {
  const size_t mask = shard.table.size() - 1;
  for (size_t i = Home(shard, key);; i = (i + 1) & mask) {
    const Entry& e = shard.table[i];
    if (e.key == key) return e.slot;
    if (e.key == kNoKey) return -1;
  }
}

void JarBlockCache::Add(Shard& shard, uint64_t key, int slot) {
  const size_t mask = shard.table.size() - 1;
  size_t i = Home(shard, key);
  while (shard.table[i].key != kNoKey) i = (i + 1) & mask;
  shard.table[i] = {key, slot};
}

// Removes a key, moving back the entries after it that would otherwise no
// longer be found (linear probing keeps no tombstones).
void JarBlockCache::Remove(Shard& shard, uint64_t key) {
  const size_t mask = shard.table.size() - 1;
  size_t i = Home(shard, key);
  while (shard.table[i].key != key) i = (i + 1) & mask;
  for (size_t j = i;;) {
    shard.table[i].key = kNoKey;
    for (;;) {
      j = (j + 1) & mask;
      if (shard.table[j].key == kNoKey) return;
      size_t k = Home(shard, shard.table[j].key);
      bool stays = i <= j ? (i < k && k <= j) : (i < k || k <= j);
      if (!stays) break;
    }
    shard.table[i] = shard.table[j];
    i = j;
  }
}

// Adds an arena of up to kArenaBlocks blocks to the shard; false when no
// memory is left, and the shard then keeps the blocks it has.
bool JarBlockCache::Grow(Shard& shard) {
  size_t n = std::min(kArenaBlocks, size_t(shard.capacity) - shard.blocks.size());
  auto* memory = static_cast<uint8_t*>(PlatAllocLarge(n * kBlockSize));
  if (memory == nullptr) {
    shard.capacity = static_cast<int>(shard.blocks.size());
    return false;
  }
  shard.arenas.emplace_back(memory, n * kBlockSize);
  for (size_t i = 0; i < n; i++) shard.blocks.push_back(memory + i * kBlockSize);
  return true;
}

// Puts a loaded block into the shard (its lock held), evicting by CLOCK
// when full.
void JarBlockCache::Insert(Shard& shard, uint64_t key, const uint8_t* block) {
  if (shard.keys.size() == shard.blocks.size() && shard.keys.size() < size_t(shard.capacity) &&
      !Grow(shard) && shard.capacity == 0) {
    return;  // no memory for even one block: nothing is cached
  }
  int slot;
  if (static_cast<int>(shard.keys.size()) < shard.capacity) {
    slot = static_cast<int>(shard.keys.size());
    shard.keys.push_back(key);
    shard.used.push_back(1);
    if (2 * shard.keys.size() > shard.table.size()) {
      std::vector<Entry> old(2 * shard.table.size(), Entry{kNoKey, 0});
      old.swap(shard.table);
      for (const Entry& e : old) {
        if (e.key != kNoKey) Add(shard, e.key, e.slot);
      }
    }
  } else {
    while (shard.used[size_t(shard.hand)] != 0) {
      shard.used[size_t(shard.hand)] = 0;
      shard.hand = (shard.hand + 1) % shard.capacity;
    }
    slot = shard.hand;
    shard.hand = (shard.hand + 1) % shard.capacity;
    Remove(shard, shard.keys[size_t(slot)]);
    shard.keys[size_t(slot)] = key;
    shard.used[size_t(slot)] = 1;
  }
  memcpy(shard.blocks[size_t(slot)], block, kBlockSize);
  Add(shard, key, slot);
}

JarBlockCache::Shard::~Shard() {
  for (const auto& [memory, size] : arenas) PlatFreeLarge(memory, size);
}

JarBlockCache::JarBlockCache(size_t bytes) {
  size_t blocks = bytes / kBlockSize;
  if (blocks < 1) blocks = 1;
  if (blocks > size_t(1) << 30) blocks = size_t(1) << 30;
  shard_count_ = blocks < size_t(kShards) ? static_cast<int>(blocks) : kShards;
  shards_.reset(new Shard[size_t(shard_count_)]);
  for (int i = 0; i < shard_count_; i++) {
    Shard& s = shards_[size_t(i)];
    s.capacity =
        static_cast<int>(blocks / size_t(shard_count_) + (size_t(i) < blocks % size_t(shard_count_)));
    s.table.assign(16, Entry{kNoKey, 0});
  }
}

JarBlockCache::~JarBlockCache() = default;

int JarBlockCache::Fetch(uint32_t file, const JarReader& reader, int32_t block, int offset, uint8_t* out,
                         std::string* error) {
  const uint64_t key = uint64_t(file) << 32 | uint32_t(block);
  Shard& shard = shards_[Mix(key) % uint64_t(shard_count_)];
  {
    std::lock_guard<std::mutex> guard(shard.lock);
    const int slot = Find(shard, key);
    if (slot >= 0) {
      shard.hits++;
      shard.used[size_t(slot)] = 1;
      const uint8_t* cached = shard.blocks[size_t(slot)];
      if (out == nullptr) return cached[size_t(offset)];
      memcpy(out, cached, kBlockSize);
      return 0;
    }
    shard.misses++;
  }
  thread_local std::unique_ptr<uint8_t[]> t_block;
  if (!t_block) t_block.reset(new uint8_t[kBlockSize]);
  uint8_t* into = out != nullptr ? out : t_block.get();
  if (reader.Read(block, into, error) == 0) return -1;
  std::lock_guard<std::mutex> guard(shard.lock);
  // Another thread may have loaded it meanwhile.
  if (Find(shard, key) < 0) Insert(shard, key, into);
  return out == nullptr ? into[offset] : 0;
}

void JarBlockCache::Stats(double* hits, double* misses) const {
  double h = 0, m = 0;
  for (int i = 0; i < shard_count_; i++) {
    const Shard& s = shards_[size_t(i)];
    std::lock_guard<std::mutex> guard(s.lock);
    h += s.hits;
    m += s.misses;
  }
  if (hits != nullptr) *hits = h;
  if (misses != nullptr) *misses = m;
}
