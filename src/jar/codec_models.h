// The adaptive models shared by the LZ stream decoder and encoder. Both sides
// update them identically after every symbol, so they stay in step.
#pragma once

#include <cstdint>
#include <cstring>

#include "jar/jar_format.h"

// A frequency model over N symbols: counts start at 1, grow by 3 and are
// halved (rounding up) once the total passes kLimit.
template <int N, uint32_t kLimit>
struct CountModel {
  static constexpr int kSymbols = N;
  uint32_t count[N];
  uint32_t total;
};

using KindModel = CountModel<3, 420>;  // 0 unseen literal, 1 seen literal, 2 match
using LenModel = CountModel<32, 940>;
using PosModel = CountModel<17, 400>;

inline constexpr int kKindUnseen = 0;
inline constexpr int kKindSeen = 1;
inline constexpr int kKindMatch = 2;

template <int N, uint32_t kLimit>
inline void ModelReset(CountModel<N, kLimit>& m) {
  for (int i = 0; i < N; ++i) m.count[i] = 1;
  m.total = N;
}

template <int N, uint32_t kLimit>
inline void ModelUpdate(CountModel<N, kLimit>& m, int s) {
  m.count[s] += 3;
  m.total += 3;
  if (m.total > kLimit) {
    uint32_t total = 0;
    for (int i = 0; i < N; ++i) {
      m.count[i] = (m.count[i] + 1) >> 1;
      total += m.count[i];
    }
    m.total = total;
  }
}

template <int N, uint32_t kLimit>
inline uint32_t ModelCum(const CountModel<N, kLimit>& m, int s) {
  uint32_t cum = 0;
  for (int i = 0; i < s; ++i) cum += m.count[i];
  return cum;
}

// Literal counts as a complete binary tree: node 1 is the root (the total),
// node k has children 2k and 2k+1, byte b is leaf 256 + b.
inline constexpr uint32_t kLitTreeLimit = 1000;
struct LitTree {
  uint32_t node[512];
};

inline void LitTreeReset(LitTree& t) { memset(t.node, 0, sizeof t.node); }

// Halves the leaves (rounding up, so a seen byte stays seen) and sums the
// inner nodes afresh.
inline void LitTreeHalve(LitTree& t) {
  for (int k = 256; k < 512; ++k) t.node[k] = (t.node[k] + 1) >> 1;
  for (int k = 255; k >= 1; --k) t.node[k] = t.node[2 * k] + t.node[2 * k + 1];
}

inline void LitTreeAdd(LitTree& t, int b) {
  int k = 256 + b;
  // Nine levels, unrolled: this runs for every literal.
  ++t.node[k];
  ++t.node[k >> 1];
  ++t.node[k >> 2];
  ++t.node[k >> 3];
  ++t.node[k >> 4];
  ++t.node[k >> 5];
  ++t.node[k >> 6];
  ++t.node[k >> 7];
  ++t.node[1];
  if (t.node[1] > kLitTreeLimit) LitTreeHalve(t);
}

// Sum of the counts of all bytes below b.
inline uint32_t LitTreeCum(const LitTree& t, int b) {
  // Branch-free: which side a byte lies on is data, not a pattern.
  uint32_t cum = 0;
#pragma GCC unroll 8
  for (int k = 256 + b; k > 1; k >>= 1) cum += t.node[k - 1] & (0u - static_cast<uint32_t>(k & 1));
  return cum;
}

// Byte values not yet seen in the stream, with each value's place in the list.
struct UnseenList {
  uint8_t value[256];
  uint8_t index[256];
  int length;
};

inline void UnseenReset(UnseenList& u) {
  for (int i = 0; i < 256; ++i) u.value[i] = u.index[i] = static_cast<uint8_t>(i);
  u.length = 256;
}

// The last value moves into the freed place.
inline void UnseenRemove(UnseenList& u, int i) {
  uint8_t last = u.value[--u.length];
  u.value[i] = last;
  u.index[last] = static_cast<uint8_t>(i);
}

// Digits of the row list: counts start at 1 and grow by 1, never rescaled.
struct RowModel {
  uint32_t count[8];
};

inline void RowModelReset(RowModel& m) {
  for (int i = 0; i < 8; ++i) m.count[i] = 1;
}

// The five models of one LZ stream.
struct LzModels {
  KindModel kind;
  LenModel len;
  PosModel pos;
  LitTree lit;
  UnseenList unseen;
};

inline void LzModelsReset(LzModels& m) {
  ModelReset(m.kind);
  ModelReset(m.len);
  ModelReset(m.pos);
  LitTreeReset(m.lit);
  UnseenReset(m.unseen);
}

// Number of significant bits of a distance code (its slot).
inline int PosSlot(uint32_t d) { return d == 0 ? 0 : 32 - __builtin_clz(d); }

// Length slot: 3..17 direct, 146 alone, 18..145 in groups of eight.
inline int LenSlot(int len) {
  if (len <= 17) return len - 3;
  if (len == 146) return 15;
  return 16 + (len - 18) / 8;
}
