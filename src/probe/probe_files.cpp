// The databases of a handle, read by offset from their block tables, and
// the decoded-block cache all threads share.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "index/db_format.h"
#include "index/names.h"
#include "jar/block_decoder.h"
#include "jar/codec_error.h"
#include "platform/platform.h"
#include "probe/probe.h"
#include "probe/tables.h"

namespace {

constexpr int kRecordHead = 8;  // check value and record length

uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// What one thread needs to load a block: its own decoder and buffers, so
// that threads decode at once without sharing state.
struct Scratch {
  BlockDecoder decoder;
  uint8_t record[kMaxRecordLength + kRecordPadding];
  uint8_t block[kBlockSize];
};
thread_local std::unique_ptr<Scratch> t_scratch;

// Reads the header and block table of the database at `path`; false when
// they are not those of a finished database of this material.
bool ReadTable(ProbeDb* db, int fd) {
  uint8_t bytes[kJarHeaderSize];
  if (PlatPread(fd, bytes, kJarHeaderSize, 0) != kJarHeaderSize) return false;
  JarHeaderUnpack(bytes, &db->header);
  const JarHeader& h = db->header;
  if (memcmp(h.magic, "JAR5", 4) != 0) return false;
  if (h.version != kJarVersion && h.version != kJarVersionSplit) return false;
  if (h.foffindex < kJarHeaderSize || h.file_blocks <= 0 || h.block_count <= 0) return false;
  if (h.last_block_size < 1 || h.last_block_size > kBlockSize) return false;
  if (h.format != kDbFormat || h.content != static_cast<int32_t>(db->material)) return false;
  size_t n = static_cast<size_t>(h.block_count);
  // A damaged count must not size the table (up to 8 GB) before the file shows it holds that many.
  uint8_t last;
  if (PlatPread(fd, &last, 1, int64_t(h.foffindex) + 4 * int64_t(n) - 1) != 1) return false;
  std::vector<uint8_t> raw(4 * n);
  if (PlatPread(fd, raw.data(), raw.size(), h.foffindex) != static_cast<int64_t>(raw.size())) return false;
  db->table.resize(n);
  for (size_t i = 0; i < n; i++) db->table[i] = Get32(&raw[4 * i]);
  db->size = double(h.block_count - 1) * kBlockSize + h.last_block_size;
  db->chunks = static_cast<int>((int64_t(h.block_count) + h.file_blocks - 1) / h.file_blocks);
  db->fds.reset(new std::atomic<int>[2 * size_t(db->chunks)]);
  for (int i = 0; i < 2 * db->chunks; i++) db->fds[i] = -1;
  return true;
}

// Looks the database up in the directories and reads its table.
void OpenDb(const zok_tb* tb, ProbeDb* db) {
  db->state = kProbeMissing;
  for (const std::string& dir : tb->dirs) {
    std::string path = dir + db->name;
    int fd = PlatOpenRead((path + ".JIX").c_str());
    if (fd < 0) continue;
    db->path = path;
    db->state = ReadTable(db, fd) ? 0 : kProbeDamaged;
    PlatCloseFd(fd);
    return;
  }
}

// The descriptor of chunk file `file` (a split file's second halves
// numbered from kJarSplitChunk), opened on first use; -1 on failure.
int ChunkFd(zok_tb* tb, ProbeDb* db, int file) {
  int slot = file < kJarSplitChunk ? file : db->chunks + file - kJarSplitChunk;
  if (slot < 0 || slot >= 2 * db->chunks) return -1;
  int fd = db->fds[slot].load(std::memory_order_acquire);
  if (fd != -1) return fd < 0 ? -1 : fd;
  std::lock_guard<std::mutex> guard(tb->open_lock);
  fd = db->fds[slot].load(std::memory_order_acquire);
  if (fd == -1) {
    char name[32];
    snprintf(name, sizeof name, ".J%02X", static_cast<unsigned>(file));
    fd = PlatOpenRead((db->path + name).c_str());
    if (fd < 0) fd = -2;
    db->fds[slot].store(fd, std::memory_order_release);
  }
  return fd < 0 ? -1 : fd;
}

// Reads, decodes and checks block `block` into `out` (kBlockSize bytes).
bool LoadBlock(zok_tb* tb, ProbeDb* db, int block, Scratch& s, uint8_t* out) {
  const JarHeader& h = db->header;
  uint32_t at = db->table[size_t(block)];
  int file = block / h.file_blocks;
  if (h.version == kJarVersionSplit && (at & kJarSplitBit)) {
    file += kJarSplitChunk;
    at &= ~kJarSplitBit;
  }
  int fd = ChunkFd(tb, db, file);
  if (fd < 0) return false;
  uint8_t head[kRecordHead];
  if (PlatPread(fd, head, kRecordHead, at) != kRecordHead) return false;
  uint32_t sum = Get32(head);
  uint32_t length = Get32(head + 4);
  if (length < 1 || length > static_cast<uint32_t>(kMaxRecordLength)) return false;
  int n = static_cast<int>(length);
  if (PlatPread(fd, s.record, size_t(n), int64_t(at) + kRecordHead) != n) return false;
  memset(s.record + n, 0, kRecordPadding);
  try {
    SubDecode(s.decoder, s.record, n, out);
  } catch (const CodecAbort&) {
    return false;
  }
  int valid = block == h.block_count - 1 ? h.last_block_size : kBlockSize;
  return JarBlockSum(out, valid) == sum;
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
  if (!t_scratch) t_scratch = std::make_unique<Scratch>();
  Scratch& s = *t_scratch;
  uint8_t* into = out != nullptr ? out : s.block;
  if (!LoadBlock(tb, db, block, s, into)) return kProbeDamaged;
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
  if (block < 0 || block >= db->header.block_count) return false;
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
  for (auto& db : tb->dbs) {
    for (int i = 0; i < 2 * db->chunks; i++) {
      int fd = db->fds[size_t(i)].load();
      if (fd >= 0) PlatCloseFd(fd);
    }
  }
}
