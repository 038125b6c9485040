// The pile: a pass's new results, given in its own row layout, transposed
// into the other side's layout out of memory. Records are collected in a large
// buffer, each full buffer is sorted and written as one compressed chop file,
// and at the end of the pass the chops are merged, five at a time, into the
// NEWF bitmap file of the pass.
#pragma once

#include <cstdint>

#include "builder/values.h"

struct JILE;

// Buffer capacities of the two kinds of pass.
inline constexpr int32_t kPileMates = 250000;
inline constexpr int32_t kPileIteration = 1000000;
inline constexpr int kPileLevels = 10;
inline constexpr int kPileMergeWidth = 5;

// One record: column then row. As a sort key the row is the high word, so
// that byte 7 of the key is the most significant.
struct PileRecord {
  uint32_t column;
  uint32_t row;
};
inline uint64_t PileKey(uint32_t column, uint32_t row) {
  return static_cast<uint64_t>(row) << 32 | column;
}

// Chop stream writer and reader.
inline constexpr int kChopBuffer = 600;
inline constexpr int kChopFlushAt = 590;  // leaves room for one record (2 x 5 bytes)
inline constexpr int kChopRefillBelow = 10;

struct ChopStream {
  int32_t open;
  JILE* file;
  uint32_t last_row;
  uint32_t base_column;
  uint32_t last_column;
  uint8_t buffer[kChopBuffer];
  int32_t fill;   // writer: bytes held; reader: next byte to decode
  int32_t valid;  // reader: bytes of the buffer holding data
};

struct PileState {
  uint64_t* buffer;
  uint64_t* scratch;  // as large: the radix sort's other half
  int32_t capacity;
  int32_t count;
  int32_t level;  // 0 while filling
  int32_t chops;  // chop files on the current level
  int32_t level_files[kPileLevels];
  double level_bytes[kPileLevels];
  ChopStream writer;
  ChopStream readers[kPileMergeWidth];
};

struct Build;

void PileOpen(Build& b, int32_t capacity);
void PilePush(Build& b, uint32_t column, uint32_t row);
// A result pushed under its entries in the rows of `layout`: a white-to-move
// result (kWhiteRows) is given in black-row terms (its hashw as column, its
// unreduced hashz), a black-to-move result (kBlackRows) in white-row terms
// (its unreduced hashw, its hashz as column).
template <Layout layout>
void PileAdd(Build& b, uint32_t hashw, uint32_t hashz);
inline void PileAddZ(Build& b, uint32_t column, uint32_t hashz) {
  PileAdd<kWhiteRows>(b, column, hashz);
}
inline void PileAddW(Build& b, uint32_t hashw, uint32_t column) {
  PileAdd<kBlackRows>(b, hashw, column);
}
void PileFlush(Build& b);
void PileClose(Build& b);
// Merges all chops and writes NEWF(pass) in `layout`; no chop remains after.
void NewfWrite(Build& b, int pass, Layout layout);

// The pieces, open for tests and the benchmark.
void PileSort(uint64_t* records, int32_t count, int byte);
// Sorts through `scratch` (as large) and returns whichever of the two holds
// the result: a few linear passes instead of the in-place sort's scattered
// swaps.
uint64_t* PileSortRadix(uint64_t* records, uint64_t* scratch, int32_t count);
void PipTest(const uint64_t* records, int32_t count);
void SubInsert(uint64_t* records, int32_t first, int32_t count);
void ChopCreate(ChopStream* w, const char* path, const JarContext* cx);
void PilePutHaha(uint64_t key, ChopStream* w);
void ChopCloseWriter(ChopStream* w);
void ChopOpenReader(ChopStream* r, const char* path, const JarContext* cx);
int PileGet(ChopStream* r, uint64_t* key);  // 1 with a record, 0 at the end
void ChopCloseReader(ChopStream* r);
// Code helpers of the chop stream.
int ChopPutCode(uint32_t v, uint8_t* out);  // bytes written (1, 2, 3 or 5)
void MergLevel(Build& b);
