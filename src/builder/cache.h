// Block cache over the finished databases of sub-endgames: the initial
// passes of a build read single value bytes from them in an order that jumps
// around the files.
#pragma once

#include <cstdint>

#include "builder/values.h"
#include "jar/jar_file.h"

inline constexpr int kCacheSlots = 25;
inline constexpr int kCacheBuffers = 20;
inline constexpr int kCacheBlock = 32768;

struct CacheSlot {
  uint32_t code;
  JILE* file;
  uint8_t order[kCacheBuffers];  // buffer numbers, most recently used first
  int32_t tags[kCacheBuffers];   // block held by each buffer, -1 when empty
  uint8_t buffers[kCacheBuffers][kCacheBlock];
};

// The open slots of one build.
struct SubCache {
  CacheSlot* slots[kCacheSlots];
  int count;
};

struct Build;

// The value byte of entry `index` of database `code` (side bit included).
int CacheProbe(Build& b, uint32_t code, double index);
CacheSlot* CacheOpen(Build& b, uint32_t code);
void CacheLoad(Build& b, CacheSlot* slot, int32_t block);
void CacheCloseAll(Build& b);
