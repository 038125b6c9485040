// Seeded blocks of the kinds databases and pass files store, for codec tests, fuzz
// seeds and benchmark; and one coder context and record buffer for single-threaded tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>

#include "jar/block_codec.h"
#include "jar/block_encoder.h"

// The record BlockEncode(block, flags) leaves and BlockDecode(length, block) reads.
inline uint8_t g_record[kMaxRecordLength + kRecordPadding];

inline BlockEncoder& TestEncoder() {
  static BlockEncoderPtr e(BlockEncoderNew());
  return *e;
}
inline BlockDecoder& TestDecoder() {
  static BlockDecoderPtr d(BlockDecoderNew());
  return *d;
}
inline char g_codec_error[256];  // the codec's message when a call below fails
inline int BlockEncode(const uint8_t* block, int flags) {
  return BlockEncode(TestEncoder(), block, flags, g_record, g_codec_error);
}
inline int BlockDecode(int length, uint8_t* block) {
  return BlockDecode(TestDecoder(), g_record, length, block, g_codec_error);
}
// What the trial of flag 0x80 measured for the last block of BlockEncode.
inline const TrialResult& LastTrial() { return TestEncoder().trial; }

namespace block_kinds {

struct Rng {
  uint64_t s;
  uint64_t Next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
};

// Bitmaps with a few bits set per thousand, and in runs of set and clear bits; value
// tables, mostly 255 with runs of small values, and in 64-byte rows, most all 0xFF, the
// others alike; random bytes; one byte value; two values, 20000 of one, 12768 of the other.
enum Kind {
  kSparseBitmap,
  kDenseBitmap,
  kValueTable,
  kRowTable,
  kRandom,
  kEqual,
  kTwoValues,
  kKindCount
};

inline const char* KindName(int kind) {
  static const char* const kNames[] = {"sparse_bitmap", "dense_bitmap", "value_table", "row_table",
                                       "random",        "equal",        "two_values"};
  return kNames[kind];
}

// A bitmap in runs of set and clear bits of 1 to run_max bits.
inline void RunBitmap(Rng& rng, int run_max, uint8_t* out) {
  memset(out, 0, kBlockSize);
  bool set = rng.Below(2) != 0;
  for (int bit = 0; bit < 8 * kBlockSize; set = !set) {
    int run = 1 + rng.Below(run_max);
    for (int i = 0; i < run && bit < 8 * kBlockSize; ++i, ++bit)
      if (set) out[bit >> 3] |= static_cast<uint8_t>(1u << (bit & 7));
  }
}

inline void MakeBlock(int kind, uint64_t seed, uint8_t* out) {
  Rng rng{seed * 7919 + static_cast<uint64_t>(kind)};
  switch (kind) {
    case kSparseBitmap:
      memset(out, 0, kBlockSize);
      for (int bit = 0; bit < 8 * kBlockSize; ++bit)
        if (rng.Below(1000) < 3) out[bit >> 3] |= static_cast<uint8_t>(1u << (bit & 7));
      break;
    case kDenseBitmap: RunBitmap(rng, 40, out); break;
    case kValueTable:
      for (int i = 0; i < kBlockSize;) {
        int free_run = 1 + rng.Below(600);
        for (int j = 0; j < free_run && i < kBlockSize; ++j) out[i++] = 255;
        int run = 5 + rng.Below(120);
        uint8_t v = static_cast<uint8_t>(1 + rng.Below(40));
        for (int j = 0; j < run && i < kBlockSize; ++j) {
          if (rng.Below(10) >= 7) v = static_cast<uint8_t>(rng.Below(2) ? 0 : 1 + rng.Below(40));
          out[i++] = v;
        }
      }
      break;
    case kRowTable: {
      uint8_t proto[8][64];
      for (auto& row : proto) {
        for (uint8_t& c : row) c = rng.Below(3) == 0 ? static_cast<uint8_t>(rng.Below(30)) : 0xFF;
      }
      for (uint8_t* row = out; row < out + kBlockSize; row += 64) {
        if (rng.Below(10) < 7) {
          memset(row, 0xFF, 64);
          continue;
        }
        memcpy(row, proto[rng.Below(8)], 64);
        for (int j = rng.Below(4); j > 0; --j) {
          row[rng.Below(64)] = static_cast<uint8_t>(rng.Below(30));
        }
      }
      break;
    }
    case kRandom:
      for (int i = 0; i < kBlockSize; ++i) out[i] = static_cast<uint8_t>(rng.Next());
      break;
    case kEqual: memset(out, static_cast<int>(0x40 + seed % 7), kBlockSize); break;
    case kTwoValues: {
      uint8_t a = static_cast<uint8_t>(rng.Below(256));
      uint8_t b = static_cast<uint8_t>(a + 1 + rng.Below(255));
      for (int i = 0; i < kBlockSize; ++i) out[i] = i < 20000 ? a : b;
      for (int i = kBlockSize - 1; i > 0; --i) std::swap(out[i], out[rng.Below(i + 1)]);
      break;
    }
  }
}

}  // namespace block_kinds
