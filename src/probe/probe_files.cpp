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

void NoteDamage(ProbeDb* db, const std::string& why) {
  std::lock_guard<std::mutex> guard(db->damage_lock);
  if (db->damage.empty()) db->damage = why;
}

// Opens the database from the first directory holding it; it is readable
// when its header is that of a finished database of this material.
void OpenDb(const zok_tb* tb, ProbeDb* db) {
  db->state = kProbeMissing;
  const std::string path = tb->path.Try(db->name);
  if (path.empty()) return;
  std::string error;
  const JarHeader& h = db->reader.header();
  if (!db->reader.Open(path, &error)) {
    NoteDamage(db, error);
  } else if (h.block_count == 0 || h.format != kDbFormat ||
             h.content != static_cast<int32_t>(db->material)) {
    NoteDamage(db, path + ".JIX: no finished database of " + db->name);
  } else {
    db->state = 0;
    db->size = db->reader.size();
    return;
  }
  db->state = kProbeDamaged;
}

uint64_t Mix(uint64_t key) {
  key ^= key >> 29;
  key *= 0xbf58476d1ce4e5b9ull;
  return key ^ (key >> 32);
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
  std::string error;
  const int r = tb->cache->Fetch(db->id, db->reader, block, offset, out, &error);
  if (r >= 0) return r;
  NoteDamage(db, error);
  return kProbeDamaged;
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

std::string ProbeDamage(zok_tb* tb, const char* name) {
  std::lock_guard<std::mutex> guard(tb->open_lock);
  for (auto& db : tb->dbs) {
    if (strcmp(db->name, name) != 0) continue;
    std::lock_guard<std::mutex> damage(db->damage_lock);
    return db->damage;
  }
  return "";
}

void ProbeInit(zok_tb* tb, size_t cache_bytes) {
  tb->none.state = kProbeMissing;
  snprintf(tb->none.name, sizeof tb->none.name, "?");
  tb->cache = std::make_unique<JarBlockCache>(cache_bytes);
  tb->slots.reset(new std::atomic<ProbeDb*>[kProbeDbSlots]);
  for (int i = 0; i < kProbeDbSlots; i++) tb->slots[size_t(i)] = nullptr;
}

void ProbeCloseFiles(zok_tb* tb) {
  for (auto& db : tb->dbs) db->reader.Close();
}
