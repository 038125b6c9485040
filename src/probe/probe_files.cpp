// The databases of a handle, read by offset from their block tables, and
// the decoded-block cache all threads share.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "index/db_format.h"
#include "index/names.h"
#include "platform/platform.h"
#include "probe/probe.h"
#include "probe/tables.h"

namespace {

// Opens the database from the first directory holding it; it is readable
// when its header is that of a finished database of this material.
void OpenDb(const zok_tb* tb, ProbeDb* db) {
  db->state = kProbeMissing;
  for (const std::string& dir : tb->dirs) {
    std::string path = dir + db->name;
    int fd = PlatOpenRead((path + ".JIX").c_str());
    if (fd < 0) continue;
    PlatCloseFd(fd);
    std::string error;
    const JarHeader& h = db->reader.header();
    const bool sound = db->reader.Open(path, &error) && h.block_count > 0 && h.format == kDbFormat &&
                       h.content == static_cast<int32_t>(db->material);
    db->state = sound ? 0 : kProbeDamaged;
    if (sound) db->size = db->reader.size();
    return;
  }
}

// Reads, decodes and checks block `block` into `out` (kBlockSize bytes).
bool LoadBlock(ProbeDb* db, int block, uint8_t* out) {
  std::string error;
  return db->reader.Read(block, out, &error) > 0;
}

uint64_t Mix(uint64_t key) {
  key ^= key >> 29;
  key *= 0xbf58476d1ce4e5b9ull;
  return key ^ (key >> 32);
}

size_t Home(const ProbeShard& shard, uint64_t key) {
  return static_cast<size_t>(Mix(key >> 6 ^ key)) & (shard.table.size() - 1);
}

// The slot of a cached block, or -1.
int Find(const ProbeShard& shard, uint64_t key) {
  const size_t mask = shard.table.size() - 1;
  for (size_t i = Home(shard, key);; i = (i + 1) & mask) {
    const ProbeEntry& e = shard.table[i];
    if (e.key == key) return e.slot;
    if (e.key == kProbeNoKey) return -1;
  }
}

void Add(ProbeShard& shard, uint64_t key, int slot) {
  const size_t mask = shard.table.size() - 1;
  size_t i = Home(shard, key);
  while (shard.table[i].key != kProbeNoKey) i = (i + 1) & mask;
  shard.table[i] = {key, slot};
}

// Removes a key, moving back the entries after it that would otherwise no
// longer be found (linear probing keeps no tombstones).
void Remove(ProbeShard& shard, uint64_t key) {
  const size_t mask = shard.table.size() - 1;
  size_t i = Home(shard, key);
  while (shard.table[i].key != key) i = (i + 1) & mask;
  for (size_t j = i;;) {
    shard.table[i].key = kProbeNoKey;
    for (;;) {
      j = (j + 1) & mask;
      if (shard.table[j].key == kProbeNoKey) return;
      size_t k = Home(shard, shard.table[j].key);
      bool stays = i <= j ? (i < k && k <= j) : (i < k || k <= j);
      if (!stays) break;
    }
    shard.table[i] = shard.table[j];
    i = j;
  }
}

// Blocks a shard's arena holds: 2 MB, a huge page.
constexpr size_t kArenaBlocks = 64;

// Adds an arena of up to kArenaBlocks blocks to the shard; false when no
// memory is left, and the shard then keeps the blocks it has.
bool Grow(ProbeShard& shard) {
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
void Insert(ProbeShard& shard, uint64_t key, const uint8_t* block) {
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
      std::vector<ProbeEntry> old(2 * shard.table.size(), ProbeEntry{kProbeNoKey, 0});
      old.swap(shard.table);
      for (const ProbeEntry& e : old) {
        if (e.key != kProbeNoKey) Add(shard, e.key, e.slot);
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

}  // namespace

ProbeDb* ProbeDatabase(zok_tb* tb, uint32_t material) {
  const uint32_t mask = kProbeDbSlots - 1;
  uint32_t start = static_cast<uint32_t>(Mix(material)) & mask;
  for (uint32_t i = start, n = 0; n < kProbeDbSlots; i = (i + 1) & mask, n++) {
    ProbeDb* db = tb->slots[i].load(std::memory_order_acquire);
    if (db == nullptr) break;
    if (db->material == material) return db;
  }
  std::lock_guard<std::mutex> guard(tb->open_lock);
  uint32_t i = start;
  for (uint32_t n = 0;; i = (i + 1) & mask, n++) {
    // Only codes of no endgame could fill the table: they have no database.
    if (n == kProbeDbSlots) return &tb->none;
    ProbeDb* db = tb->slots[i].load(std::memory_order_acquire);
    if (db == nullptr) break;
    if (db->material == material) return db;
  }
  auto db = std::make_unique<ProbeDb>();
  db->material = material;
  db->id = static_cast<uint32_t>(tb->dbs.size());
  if (!FresNameTo(material, db->name)) {
    db->state = kProbeMissing;
  } else {
    OpenDb(tb, db.get());
  }
  ProbeDb* made = db.get();
  tb->dbs.push_back(std::move(db));
  tb->slots[i].store(made, std::memory_order_release);
  return made;
}

namespace {

// The cached copy of a block, or a freshly loaded one: with `out` null the
// byte at `offset` is returned, else the whole block is copied there and 0
// returned; kProbeDamaged when it cannot be read.
int CachedBlock(zok_tb* tb, ProbeDb* db, int block, int offset, uint8_t* out) {
  uint64_t key = uint64_t(db->id) << 32 | uint32_t(block);
  ProbeShard& shard = tb->shards[Mix(key) % uint64_t(tb->shard_count)];
  {
    std::lock_guard<std::mutex> guard(shard.lock);
    int slot = Find(shard, key);
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
  if (!LoadBlock(db, block, into)) return kProbeDamaged;
  std::lock_guard<std::mutex> guard(shard.lock);
  // Another thread may have loaded it meanwhile.
  if (Find(shard, key) < 0) Insert(shard, key, into);
  return out == nullptr ? into[offset] : 0;
}

}  // namespace

int ProbeDbByte(zok_tb* tb, ProbeDb* db, double index) {
  if (!(index >= 0 && index < db->size)) return kProbeDamaged;
  int block = static_cast<int>(index / kBlockSize);
  int offset = static_cast<int>(index - double(block) * kBlockSize);
  return CachedBlock(tb, db, block, offset, nullptr);
}

bool ProbeDbBlock(zok_tb* tb, ProbeDb* db, int block, uint8_t* out) {
  if (block < 0 || block >= db->reader.blocks()) return false;
  return CachedBlock(tb, db, block, 0, out) == 0;
}

ProbeShard::~ProbeShard() {
  for (const auto& [memory, size] : arenas) PlatFreeLarge(memory, size);
}

void ProbeInit(zok_tb* tb, size_t cache_bytes) {
  tb->none.state = kProbeMissing;
  snprintf(tb->none.name, sizeof tb->none.name, "?");
  size_t blocks = cache_bytes / kBlockSize;
  if (blocks < 1) blocks = 1;
  if (blocks > size_t(1) << 30) blocks = size_t(1) << 30;
  tb->shard_count = blocks < size_t(kProbeShards) ? static_cast<int>(blocks) : kProbeShards;
  tb->shards.reset(new ProbeShard[size_t(tb->shard_count)]);
  for (int i = 0; i < tb->shard_count; i++) {
    ProbeShard& s = tb->shards[size_t(i)];
    s.capacity = static_cast<int>(blocks / size_t(tb->shard_count) + (size_t(i) < blocks % size_t(tb->shard_count)));
    s.table.assign(16, ProbeEntry{kProbeNoKey, 0});
  }
  tb->slots.reset(new std::atomic<ProbeDb*>[kProbeDbSlots]);
  for (int i = 0; i < kProbeDbSlots; i++) tb->slots[size_t(i)] = nullptr;
}

void ProbeCloseFiles(zok_tb* tb) {
  for (auto& db : tb->dbs) db->reader.Close();
}
