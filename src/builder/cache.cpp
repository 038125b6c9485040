#include "builder/cache.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "builder/build.h"
#include "builder/row_batches.h"
#include "index/names.h"
#include "support/checked_ops.h"
#include "support/console.h"

namespace {

// The shared blocks' budget: what two sets' buffers hold (25 slots of 20
// blocks, 16 MB each), enough to keep the blocks that sets working on
// neighbouring rows ask for at about the same time. It fills only as blocks
// are decoded. One set has no other to share with: it reads as it always
// did, and its build holds no more memory than before.
constexpr size_t kSharedBlockBytes = size_t(32) << 20;

// The value byte at `index` from a slot's buffers, taking its block from the
// shared blocks (when there are) when none holds it.
int SlotProbe(CacheSlot* slot, JarBlockCache* blocks, const JarReader& reader, double index,
              double* loads) {
  int32_t block = static_cast<int32_t>(index * (1.0 / kBlockSize));
  int p;
  for (;;) {
    for (p = 0; p < kCacheBuffers; p++) {
      if (slot->tags[slot->order[p]] == block) break;
    }
    if (p < kCacheBuffers) break;
    int i = 0;
    while (i < kCacheBuffers && slot->tags[i] >= 0) i++;
    if (i == kCacheBuffers) i = slot->order[kCacheBuffers - 1];
    slot->tags[i] = block;
    std::string error;
    const bool read = blocks != nullptr
                          ? blocks->Fetch(slot->code, reader, block, 0, slot->buffers[i], &error) >= 0
                          : reader.Read(block, slot->buffers[i], &error) > 0;
    if (!read) OutError("FileSeek: failed: %s", error.c_str());
    *loads += 1;
  }
  uint8_t u = slot->order[p];
  if (p > 0) {
    memmove(slot->order + 1, slot->order, p);
    slot->order[0] = u;
  }
  int offset = static_cast<int>(index - static_cast<double>(block) * kBlockSize);
  return slot->buffers[u][offset];
}

// Set 0's slot on `path`, its header checked, its buffers empty; with
// `file` false another set's slot, its buffers empty. Counted to `cx`.
CacheSlot* SlotOpen(uint32_t code, const char* path, const JarContext* cx, bool file) {
  CacheSlot* slot = static_cast<CacheSlot*>(SysAlloc(sizeof(CacheSlot), cx));
  slot->code = code;
  slot->announced = false;
  slot->seen = -1;
  snprintf(slot->path, sizeof slot->path, "%s", path);
  slot->file = nullptr;
  for (int i = 0; i < kCacheBuffers; i++) {
    slot->order[i] = static_cast<uint8_t>(i);
    slot->tags[i] = -1;
  }
  if (!file) return slot;
  slot->file = FileRopen(path, cx);
  const char* name;
  int32_t format;
  uint32_t metric;
  int32_t content;
  if (JarGetCreator(slot->file, &name, &format, &metric, &content) != 0) {
    OutError("CacheOpen: get creator failed");
  }
  if (format != kDbFormat) OutError("CacheOpen: [%s] has wrong format version", path);
  if (metric != kMetricDtm) OutError("CacheOpen: [%s] is DTC while DTM requiered", path);
  if (static_cast<uint32_t>(content) != code) {
    OutError("CacheOpen: [%s] content does not match", path);
  }
  // The handle's data stream is open while the slot is, as the build's
  // stream figures have always counted it.
  if (JarSize(slot->file) > 0) FileSeek(slot->file, 0);
  return slot;
}

// The slot of `code` and the copies of the other sets; no "cache" line.
CacheSlot* SlotAdd(Build& b, uint32_t code) {
  SubCache& cache = b.cache;
  if (cache.count == kCacheSlots) OutError("CacheOpen: out of caches");
  char path[256];
  snprintf(path, sizeof path, "%s", b.search->Find(code).c_str());
  auto reader = std::make_unique<JarReader>();
  if (!cache.blocks && cache.sets > 1) cache.blocks = std::make_unique<JarBlockCache>(kSharedBlockBytes);
  CacheSlot* slot = SlotOpen(code, path, &b.counted, true);
  std::string error;
  if (!reader->Open(path, &error)) OutError("FileRopen: [%s] failed: %s", path, error.c_str());
  for (int s = 1; s < cache.sets; s++) {
    cache.copies[(s - 1) * kCacheSlots + cache.count] = SlotOpen(code, path, &b.quiet, false);
  }
  cache.readers[cache.count] = std::move(reader);
  cache.slots[cache.count++] = slot;
  return slot;
}

}  // namespace

int CacheProbeSet(SubCache& cache, CacheUser& user, uint32_t code, double index) {
  user.probes += 1;
  int i = 0;
  while (i < cache.count && cache.slots[i]->code != code) i++;
  if (i == cache.count) {
    int m = 0;
    while (m < user.nmissing && user.missing[m] != code) m++;
    if (m == user.nmissing && m < kCacheSlots) user.missing[user.nmissing++] = code;
    return -1;
  }
  CacheSlot* slot = user.set == 0 ? cache.slots[i] : cache.copies[(user.set - 1) * kCacheSlots + i];
  if (slot->seen != user.serial) {
    slot->seen = user.serial;
    user.codes[(*user.ncodes)++] = code;
  }
  return SlotProbe(slot, cache.blocks.get(), *cache.readers[i], index, &user.loads);
}

void CacheOpenMissing(Build& b, const uint32_t* codes, int count) {
  for (int m = 0; m < count; m++) {
    int i = 0;
    while (i < b.cache.count && b.cache.slots[i]->code != codes[m]) i++;
    if (i == b.cache.count) SlotAdd(b, codes[m]);
  }
}

void CacheAnnounce(Build& b, uint32_t code) {
  SubCache& cache = b.cache;
  for (int i = 0; i < cache.count; i++) {
    CacheSlot* slot = cache.slots[i];
    if (slot->code != code || slot->announced) continue;
    slot->announced = true;
    OutCons("\rcache %2d <- [%s] ... \n", cache.announced, slot->path);
    OutFile("cache %2d <- [%s]\n", cache.announced, slot->path);
    cache.announced++;
  }
}

void CacheSetThreads(Build& b, int sets) {
  CacheCloseAll(b);
  SubCache& cache = b.cache;
  if (cache.copies != nullptr) {
    SysFree(cache.copies, &b.quiet);
    cache.copies = nullptr;
  }
  cache.sets = sets;
  if (sets > 1) {
    cache.copies =
        static_cast<CacheSlot**>(SysAlloc(sizeof(CacheSlot*) * kCacheSlots * (sets - 1), &b.quiet));
  }
}

int CacheProbe(Build& b, uint32_t code, double index) {
  b.prog.cache_probes += 1;
  SubCache& cache = b.cache;
  int i = 0;
  while (i < cache.count && cache.slots[i]->code != code) i++;
  if (i == cache.count) CacheOpen(b, code);
  return SlotProbe(cache.slots[i], cache.blocks.get(), *cache.readers[i], index, &b.prog.cache_loads);
}

CacheSlot* CacheOpen(Build& b, uint32_t code) {
  CacheSlot* slot = SlotAdd(b, code);
  CacheAnnounce(b, code);
  return slot;
}

void CacheCloseAll(Build& b) {
  SubCache& cache = b.cache;
  for (int i = 0; i < cache.count; i++) {
    FileClose(cache.slots[i]->file);
    SysFree(cache.slots[i], &b.counted);
    cache.slots[i] = nullptr;
    cache.readers[i].reset();
  }
  if (cache.count > 0 && cache.sets > 1) {
    for (int s = 1; s < cache.sets; s++) {
      for (int i = 0; i < cache.count; i++) {
        CacheSlot*& copy = cache.copies[(s - 1) * kCacheSlots + i];
        SysFree(copy, &b.quiet);
        copy = nullptr;
      }
    }
  }
  // The shared blocks go with the slots: the passes that follow get their
  // memory back, and a code opened again may name another file by then.
  cache.blocks.reset();
  cache.count = 0;
  cache.announced = 0;
}
