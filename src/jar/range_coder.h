// The 32-bit range coder (Arcod) in both directions. The encoder propagates a
// carry out of `low` into the bytes it has already written; the decoder sees
// the same interval arithmetic modulo 2^32 and needs no carry.
#pragma once

#include <cstdint>

#include "jar/codec_error.h"

inline constexpr uint32_t kArcodTop = 1u << 24;
inline constexpr uint32_t kArcodStartRange = 0xFFFFFF00u;

// Decoder state. `end` lies three bytes past the payload: those are the 0xFF
// bytes ArcodOpen supplies, and a valid payload is consumed exactly up to it.
struct ArcodIn {
  uint32_t low;
  uint32_t range;
  uint32_t code;
  uint32_t r;
  const uint8_t* in;
  const uint8_t* end;
};

inline uint32_t ArcodInByte(ArcodIn& a) {
  if (a.in == a.end) CodecError("ArcodNext: read past record");
  return *a.in++;
}

// The payload buffer must have three writable bytes after `size`.
inline void ArcodOpen(ArcodIn& a, uint8_t* payload, int size) {
  payload[size] = payload[size + 1] = payload[size + 2] = 0xFF;
  a.in = payload;
  a.end = payload + size + 3;
  a.low = 0;
  a.range = kArcodStartRange;
  a.code = 0;
  for (int i = 0; i < 4; ++i) a.code = (a.code << 8) | ArcodInByte(a);
  a.r = 0;
}

// The caller checks the result against `total`: damaged data can give more.
inline uint32_t ArcodFreq(ArcodIn& a, uint32_t total) {
  a.r = a.range / total;
  return (a.code - a.low) / a.r;
}

inline void ArcodNext(ArcodIn& a, uint32_t cum, uint32_t count) {
  a.low += cum * a.r;
  a.range = count * a.r;
  while (a.range < kArcodTop) {
    a.low <<= 8;
    a.range <<= 8;
    a.code = (a.code << 8) | ArcodInByte(a);
  }
}

inline uint32_t ArcodRawGet(ArcodIn& a, int n) {
  uint32_t r = a.range >> n;
  uint32_t v = (a.code - a.low) / r;
  if (v >> n) CodecError("ArcodRawGet: bad value");
  a.low += v * r;
  a.range = r;
  while (a.range < kArcodTop) {
    a.low <<= 8;
    a.range <<= 8;
    a.code = (a.code << 8) | ArcodInByte(a);
  }
  return v;
}

// Encoder state. `begin` is the first payload byte (after the method byte);
// `limit` is where the record reaches its limit of 32768 bytes.
struct ArcodOut {
  uint32_t low;
  uint32_t range;
  uint8_t* out;
  uint8_t* begin;
  uint8_t* limit;
};

inline void ArcodStart(ArcodOut& a, uint8_t* record, int record_limit) {
  a.low = 0;
  a.range = kArcodStartRange;
  a.begin = record + 1;
  a.out = a.begin;
  a.limit = record + record_limit;
}

// The interval never leaves the one it started as, so a carry stops at the
// first payload byte at the latest.
inline void ArcodCarry(ArcodOut& a) {
  uint8_t* p = a.out - 1;
  while (p >= a.begin && ++*p == 0) --p;
}

// Moves the top bytes of low out while range is below 2^24, without a loop,
// for the coding steps whose range cannot drop below 2^8 (a total below 1024,
// a flat value of at most 16 bits): at most three bytes go. The top three
// bytes of low are stored, and out advances past the ones that count; the
// record buffer has room for them beyond its limit.
inline void ArcodShift(ArcodOut& a) {
  int n = __builtin_clz(a.range) >> 3;
  uint32_t low = a.low;
  a.out[0] = static_cast<uint8_t>(low >> 24);
  a.out[1] = static_cast<uint8_t>(low >> 16);
  a.out[2] = static_cast<uint8_t>(low >> 8);
  a.out += n;
  a.low = low << (8 * n);
  a.range <<= 8 * n;
}

inline void ArcodPut(ArcodOut& a, uint32_t cum, uint32_t count, uint32_t total) {
  uint32_t r = a.range / total;
  uint32_t low = a.low + r * cum;
  if (low < a.low) ArcodCarry(a);
  a.low = low;
  a.range = r * count;
  while (a.range < kArcodTop) {
    *a.out++ = static_cast<uint8_t>(a.low >> 24);
    a.low <<= 8;
    a.range <<= 8;
  }
}

// Reciprocals for the totals of the LZ stream models (all below 1024):
// floor(x / d) = (x * m) >> 63 with m = floor(2^63 / d) + 1, exact for every
// 32-bit x, since the error x (m - 2^63 / d) / 2^63 stays below 1 / d.
inline constexpr int kArcodSmallTotal = 1024;
struct ArcodReciprocals {
  uint64_t m[kArcodSmallTotal];
  constexpr ArcodReciprocals() : m() {
    for (int d = 1; d < kArcodSmallTotal; ++d) m[d] = (1ull << 63) / static_cast<uint64_t>(d) + 1;
  }
};
inline constexpr ArcodReciprocals kArcodReciprocals{};

inline uint32_t ArcodDivSmall(uint32_t x, uint32_t d) {
  // (2x m) >> 64 is (x m) >> 63: the quotient is the high word of the
  // product, without a double-word shift after the multiply.
  unsigned __int128 q = static_cast<unsigned __int128>(uint64_t{x} << 1) * kArcodReciprocals.m[d];
  return static_cast<uint32_t>(q >> 64);
}

// ArcodPut for a total below 1024 (the caller guarantees it).
inline void ArcodPutSmall(ArcodOut& a, uint32_t cum, uint32_t count, uint32_t total) {
  uint32_t r = ArcodDivSmall(a.range, total);
  uint32_t low = a.low + r * cum;
  if (low < a.low) ArcodCarry(a);
  a.low = low;
  a.range = r * count;
  ArcodShift(a);
}

inline void ArcodRaw(ArcodOut& a, int n, uint32_t v) {
  if (n > 16 || (v >> n) != 0) CodecError("ArcodRaw: bits %2d  val 0x%08X", n, v);
  uint32_t r = a.range >> n;
  uint32_t low = a.low + r * v;
  if (low < a.low) ArcodCarry(a);
  a.low = low;
  a.range = r;
  ArcodShift(a);
}

inline void ArcodFlush(ArcodOut& a) { *a.out++ = static_cast<uint8_t>(a.low >> 24); }
