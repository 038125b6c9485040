#include "builder/cache.h"

#include <cstdio>
#include <cstring>

#include "support/checked_ops.h"
#include "support/console.h"
#include "builder/progress.h"
#include "index/names.h"

namespace {

CacheSlot* g_slots[kCacheSlots];
int g_count = 0;

}  // namespace

int CacheCount() { return g_count; }

int CacheProbe(uint32_t code, double index) {
  int32_t block = static_cast<int32_t>(index * (1.0 / kCacheBlock));
  g_prog.cache_probes += 1;
  CacheSlot* slot = nullptr;
  for (int i = 0; i < g_count; i++) {
    if (g_slots[i]->code == code) {
      slot = g_slots[i];
      break;
    }
  }
  if (slot == nullptr) slot = CacheOpen(code);
  int p;
  for (;;) {
    for (p = 0; p < kCacheBuffers; p++) {
      if (slot->tags[slot->order[p]] == block) break;
    }
    if (p < kCacheBuffers) break;
    CacheLoad(slot, block);
  }
  uint8_t u = slot->order[p];
  if (p > 0) {
    memmove(slot->order + 1, slot->order, p);
    slot->order[0] = u;
  }
  int offset = static_cast<int>(index - static_cast<double>(block) * kCacheBlock);
  return slot->buffers[u][offset];
}

void CacheLoad(CacheSlot* slot, int32_t block) {
  int i = 0;
  while (i < kCacheBuffers && slot->tags[i] >= 0) i++;
  if (i == kCacheBuffers) i = slot->order[kCacheBuffers - 1];
  slot->tags[i] = block;
  FileSeek(slot->file, static_cast<double>(block) * kCacheBlock);
  FileReadAny(slot->buffers[i], kCacheBlock, slot->file);
  g_prog.cache_loads += 1;
}

CacheSlot* CacheOpen(uint32_t code) {
  if (g_count == kCacheSlots) OutError("CacheOpen: out of caches");
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
  g_slots[g_count] = slot;
  OutCons("\rcache %2d <- [%s] ... \n", g_count, path);
  OutFile("cache %2d <- [%s]\n", g_count, path);
  g_count++;
  return slot;
}

void CacheCloseAll() {
  for (int i = 0; i < g_count; i++) {
    FileClose(g_slots[i]->file);
    SysFree(g_slots[i]);
    g_slots[i] = nullptr;
  }
  g_count = 0;
}
