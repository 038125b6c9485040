#include "builder/cache.h"

#include <cstdio>
#include <cstring>

#include "support/checked_ops.h"
#include "support/console.h"
#include "builder/build.h"
#include "index/names.h"

int CacheProbe(Build& b, uint32_t code, double index) {
  int32_t block = static_cast<int32_t>(index * (1.0 / kCacheBlock));
  b.prog.cache_probes += 1;
  SubCache& cache = b.cache;
  CacheSlot* slot = nullptr;
  for (int i = 0; i < cache.count; i++) {
    if (cache.slots[i]->code == code) {
      slot = cache.slots[i];
      break;
    }
  }
  if (slot == nullptr) slot = CacheOpen(b, code);
  int p;
  for (;;) {
    for (p = 0; p < kCacheBuffers; p++) {
      if (slot->tags[slot->order[p]] == block) break;
    }
    if (p < kCacheBuffers) break;
    CacheLoad(b, slot, block);
  }
  uint8_t u = slot->order[p];
  if (p > 0) {
    memmove(slot->order + 1, slot->order, p);
    slot->order[0] = u;
  }
  int offset = static_cast<int>(index - static_cast<double>(block) * kCacheBlock);
  return slot->buffers[u][offset];
}

void CacheLoad(Build& b, CacheSlot* slot, int32_t block) {
  int i = 0;
  while (i < kCacheBuffers && slot->tags[i] >= 0) i++;
  if (i == kCacheBuffers) i = slot->order[kCacheBuffers - 1];
  slot->tags[i] = block;
  FileSeek(slot->file, static_cast<double>(block) * kCacheBlock);
  FileReadAny(slot->buffers[i], kCacheBlock, slot->file);
  b.prog.cache_loads += 1;
}

CacheSlot* CacheOpen(Build& b, uint32_t code) {
  SubCache& cache = b.cache;
  if (cache.count == kCacheSlots) OutError("CacheOpen: out of caches");
  char path[256];
  snprintf(path, sizeof path, "%s", FresFind(code));
  CacheSlot* slot = static_cast<CacheSlot*>(SysAlloc(sizeof(CacheSlot)));
  slot->code = code;
  slot->file = FileRopen(path);
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
  for (int i = 0; i < kCacheBuffers; i++) {
    slot->order[i] = static_cast<uint8_t>(i);
    slot->tags[i] = -1;
  }
  cache.slots[cache.count] = slot;
  OutCons("\rcache %2d <- [%s] ... \n", cache.count, path);
  OutFile("cache %2d <- [%s]\n", cache.count, path);
  cache.count++;
  return slot;
}

void CacheCloseAll(Build& b) {
  SubCache& cache = b.cache;
  for (int i = 0; i < cache.count; i++) {
    FileClose(cache.slots[i]->file);
    SysFree(cache.slots[i]);
    cache.slots[i] = nullptr;
  }
  cache.count = 0;
}
