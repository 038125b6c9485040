#include "jar/lz_encoder.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "jar/codec_error.h"
#include "jar/codec_models.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline constexpr uint16_t kNoPos = 0xFFFF;
inline constexpr int kGreedyChain = 12;
inline constexpr int kCostChain = 120;
inline constexpr int kPrefetchAhead = 2;
// Greedy parsing leaves a match of the minimum length to literals when it
// lies farther back than this: its distance would cost more than it saves.
inline constexpr int kFarShortMatch = 1024;
inline constexpr uint32_t kBit = 1000000;

struct Match {
  int len;  // 0 = none
  int pos;
};

// Candidate of cost-based parsing: the match found at `at` and its cost.
struct Candidate {
  int at;
  int len;
  int pos;
  uint32_t cost;
};

void BuildChains(LzState& s, const LzSegment& seg) {
  memset(s.head, 0xFF, sizeof s.head);
  const uint8_t* buf = s.buf;
  // The last two positions are never searched (no room for a match) and no
  // later position of the segment could find them, so they stay out.
  for (int i = seg.start; i + 2 < seg.end; ++i) {
    unsigned h = buf[i] ^ (buf[i + 1] << 3) ^ (buf[i + 2] << 6);
    s.prev[i] = s.head[h];
    s.head[h] = static_cast<uint16_t>(i);
  }
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t x;
  memcpy(&x, p, 8);
  return x;
}

// Common prefix of a and b beyond the first `n` bytes, which match; at most max.
inline int ExtendPrefix(const uint8_t* a, const uint8_t* b, int n, int max) {
  while (n < max) {
    uint64_t diff = Load64(a + n) ^ Load64(b + n);
    if (diff != 0) {
      n += std::countr_zero(diff) >> 3;
      return n < max ? n : max;
    }
    n += 8;
  }
  return max;
}

// The longest common prefix among the candidates visited, the first one to
// reach it; a candidate is kept only when it beats the best so far. Which
// candidates are compared in full is free, as long as none that could beat
// the best is passed over: while the best is short, one 8-byte comparison
// gives any candidate's prefix up to 8 without a branch on the data; once it
// is 8 or more, a candidate can only win when the 8 bytes up to the best
// length match.
inline Match Search(const LzState& s, int p, int end, int chain_limit) {
  Match m = {0, 0};
  int max = end - p;
  if (max > kMaxMatch) max = kMaxMatch;
  if (max < kMinMatch) return m;
  const uint8_t* buf = s.buf;
  const uint16_t* prev = s.prev;
  const uint8_t* cur = buf + p;
  int best = kMinMatch - 1;
  int best_pos = 0;
  unsigned c = prev[p];
  {
    // The chain walk is a row of dependent loads that mostly miss the first
    // level cache; fetching the first candidates of the positions ahead
    // lets their searches start from the cache.
    unsigned ahead = p + kPrefetchAhead + 2 < end ? prev[p + kPrefetchAhead] : kNoPos;
    if (ahead != kNoPos) {
      __builtin_prefetch(&prev[ahead]);
      __builtin_prefetch(buf + ahead);
    }
  }
  int visited = 0;
  const uint64_t head = Load64(cur);
  const int short_max = max < 8 ? max : 8;
  for (; c != kNoPos && visited < chain_limit; ++visited, c = prev[c]) {
    int len = std::countr_zero(Load64(buf + c) ^ head) >> 3;
    if (len >= 8 && max > 8) {
      len = ExtendPrefix(buf + c, cur, 8, max);
      if (len > best) {
        best = len;
        best_pos = static_cast<int>(c);
      }
      ++visited;
      c = prev[c];
      goto long_walk;
    }
    if (len > short_max) len = short_max;
    best_pos = len > best ? static_cast<int>(c) : best_pos;
    best = len > best ? len : best;
    if (best >= max) goto done;
  }
  goto done;
long_walk:
  if (best >= max) goto done;
  for (; c != kNoPos && visited < chain_limit; ++visited, c = prev[c]) {
    if (Load64(buf + c + best - 7) != Load64(cur + best - 7)) continue;
    int len = ExtendPrefix(buf + c, cur, 0, max);
    if (len > best) {
      best = len;
      best_pos = static_cast<int>(c);
      if (best >= max) break;
    }
  }
done:
  if (best >= kMinMatch) {
    m.len = best;
    m.pos = best_pos;
  }
  return m;
}

#define LZ_INLINE inline __attribute__((always_inline))

// Sum of the counts below symbol s, over all N counts so that the loop has a
// fixed length and no branch on s.
template <int N, uint32_t kLimit>
LZ_INLINE uint32_t CumBelow(const CountModel<N, kLimit>& m, int s) {
#if defined(__SSE2__)
  __m128i limit = _mm_set1_epi32(s);
  __m128i index = _mm_setr_epi32(0, 1, 2, 3);
  __m128i four = _mm_set1_epi32(4);
  __m128i sum = _mm_setzero_si128();
  int i = 0;
  for (; i + 4 <= N; i += 4) {
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.count + i));
    sum = _mm_add_epi32(sum, _mm_and_si128(c, _mm_cmplt_epi32(index, limit)));
    index = _mm_add_epi32(index, four);
  }
  sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
  sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
  uint32_t cum = static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
  for (; i < N; ++i) cum += m.count[i] & (0u - static_cast<uint32_t>(i < s));
  return cum;
#else
  uint32_t cum = 0;
  for (int i = 0; i < N; ++i) cum += m.count[i] & (0u - static_cast<uint32_t>(i < s));
  return cum;
#endif
}

// Every total the LZ models code with stays below 1024, which the fast
// division of ArcodPutSmall needs.
LZ_INLINE void PutKind(ArcodOut& a, KindModel& k, int s) {
  ArcodPutSmall(a, ModelCum(k, s), k.count[s], k.total);
  ModelUpdate(k, s);
}

LZ_INLINE void EncodeLiteral(ArcodOut& a, LzModels& m, int b) {
  uint32_t* node = m.lit.node;
  uint32_t count = node[256 + b];
  if (count == 0) {
    PutKind(a, m.kind, kKindUnseen);
    int i = m.unseen.index[b];
    ArcodPutSmall(a, static_cast<uint32_t>(i), 1, static_cast<uint32_t>(m.unseen.length));
    UnseenRemove(m.unseen, i);
    LitTreeAdd(m.lit, b);
    return;
  }
  PutKind(a, m.kind, kKindSeen);
  uint32_t root = node[1];
  // One walk from the leaf to the root sums the left siblings (not on the
  // path, so not yet incremented) and counts the byte.
  uint32_t cum = 0;
  int k = 256 + b;
#pragma GCC unroll 8
  for (int level = 0; level < 8; ++level, k >>= 1) {
    cum += node[k - 1] & (0u - static_cast<uint32_t>(k & 1));
    ++node[k];
  }
  ++node[1];
  ArcodPutSmall(a, cum, count, root);
  if (node[1] > kLitTreeLimit) LitTreeHalve(m.lit);
}

LZ_INLINE void LenPut(ArcodOut& a, LzModels& m, int len) {
  if (len < kMinMatch || len > kMaxMatch) CodecError("LenPut: BUG");
  int s = LenSlot(len);
  ArcodPutSmall(a, CumBelow(m.len, s), m.len.count[s], m.len.total);
  ModelUpdate(m.len, s);
  if (s >= 16) ArcodRaw(a, 3, static_cast<uint32_t>((len - 18) % 8));
}

LZ_INLINE void PosPut(ArcodOut& a, LzModels& m, int dist) {
  if (dist < 0 || dist >= kMaxDistance) CodecError("PosPut: back oor");
  int s = PosSlot(static_cast<uint32_t>(dist));
  ArcodPutSmall(a, CumBelow(m.pos, s), m.pos.count[s], m.pos.total);
  ModelUpdate(m.pos, s);
  if (s > 1) ArcodRaw(a, s - 1, static_cast<uint32_t>(dist - (1 << (s - 1))));
}

LZ_INLINE void EncodeMatch(ArcodOut& a, LzModels& m, int len, int dist) {
  PutKind(a, m.kind, kKindMatch);
  LenPut(a, m, len);
  PosPut(a, m, dist);
}

// Cost of coding `count` out of `total`, in millionths of a bit.
inline uint32_t XArcodPut(const LzState& s, uint32_t count, uint32_t total) {
  if (total >= kLzCostTableSize) CodecError("XArcodPut: oor");
  return s.cost[total] - s.cost[count];
}

inline uint32_t LiteralCost(const LzState& s, int b) {
  const LzModels& m = s.models;
  uint32_t count = m.lit.node[256 + b];
  if (count == 0) {
    return XArcodPut(s, m.kind.count[kKindUnseen], m.kind.total) +
           XArcodPut(s, 1, static_cast<uint32_t>(m.unseen.length));
  }
  return XArcodPut(s, m.kind.count[kKindSeen], m.kind.total) + XArcodPut(s, count, m.lit.node[1]);
}

inline uint32_t MatchCost(const LzState& s, int len, int dist) {
  const LzModels& m = s.models;
  uint32_t cost = XArcodPut(s, m.kind.count[kKindMatch], m.kind.total);
  int ls = LenSlot(len);
  cost += XArcodPut(s, m.len.count[ls], m.len.total);
  if (ls >= 16) cost += 3 * kBit;
  int ps = PosSlot(static_cast<uint32_t>(dist));
  cost += XArcodPut(s, m.pos.count[ps], m.pos.total);
  if (ps > 1) cost += static_cast<uint32_t>(ps - 1) * kBit;
  return cost;
}

int ParseGreedy(LzState& s, ArcodOut& out, const LzSegment& seg) {
  // The coder state lives in registers for the loop.
  ArcodOut a = out;
  LzModels& m = s.models;
  const uint8_t* buf = s.buf;
  int end = seg.end;
  // The search made at p + 1 as lookahead serves the next step when it is
  // made there.
  int ahead_at = -1;
  Match ahead = {0, 0};
  int p = seg.start;
  while (p < end) {
    Match here = ahead_at == p ? ahead : Search(s, p, end, kGreedyChain);
    bool take = here.len >= kMinMatch && !(here.len == kMinMatch && p - here.pos > kFarShortMatch);
    if (take) {
      ahead = Search(s, p + 1, end, kGreedyChain);
      ahead_at = p + 1;
      if (ahead.len > here.len) take = false;
    }
    if (take) {
      EncodeMatch(a, m, here.len, p - here.pos - 1);
      p += here.len;
    } else {
      EncodeLiteral(a, m, buf[p]);
      ++p;
    }
    if (a.out >= a.limit) {
      out = a;
      return 0;
    }
  }
  out = a;
  return 1;
}

inline void Fill(const LzState& s, Candidate& x, int q, int end) {
  if (x.at == q) return;
  x.at = q;
  Match found = Search(s, q, end, kCostChain);
  x.len = found.len;
  if (found.len >= kMinMatch) {
    x.pos = found.pos;
    x.cost = MatchCost(s, found.len, q - found.pos - 1);
  }
}

int ParseCost(LzState& s, ArcodOut& out, const LzSegment& seg) {
  ArcodOut a = out;
  LzModels& m = s.models;
  const uint8_t* buf = s.buf;
  int end = seg.end;
  // Records for p, p + 1 and p + 2, rotated as the parse moves by one.
  Candidate rec[3] = {{-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0}};
  int ia = 0;
  int p = seg.start;
  while (p < end) {
    Candidate& A = rec[ia];
    Candidate& B = rec[(ia + 1) % 3];
    Candidate& C = rec[(ia + 2) % 3];
    Fill(s, A, p, end);
    bool literal = true;
    if (A.len != 0) {
      uint64_t per = A.cost / static_cast<uint32_t>(A.len);
      Fill(s, B, p + 1, end);
      uint64_t lit0 = LiteralCost(s, buf[p]);
      if (B.len != 0 && (B.cost + lit0) / static_cast<uint64_t>(B.len + 1) < per) {
        literal = true;
      } else {
        Fill(s, C, p + 2, end);
        if (C.len != 0 &&
            (C.cost + lit0 + LiteralCost(s, buf[p + 1])) / static_cast<uint64_t>(C.len + 2) < per) {
          literal = true;
        } else {
          uint64_t sum = 0;
          literal = true;
          for (int i = 0; i < A.len; ++i) {
            sum += LiteralCost(s, buf[p + i]);
            if (sum >= A.cost) {
              literal = false;
              break;
            }
          }
        }
      }
    }
    if (literal) {
      EncodeLiteral(a, m, buf[p]);
      ++p;
      ia = (ia + 1) % 3;
    } else {
      EncodeMatch(a, m, A.len, p - A.pos - 1);
      p += A.len;
    }
    if (a.out >= a.limit) {
      out = a;
      return 0;
    }
  }
  out = a;
  return 1;
}

}  // namespace

void LzInit(LzState& s) {
  s.cost[0] = 0;
  for (int i = 1; i < kLzCostTableSize; ++i) {
    s.cost[i] = static_cast<uint32_t>(std::llround(1e6 * std::log2(static_cast<double>(i))));
  }
}

int LzEncode(LzState& s, ArcodOut& a, const LzSegment* segments, int count) {
  for (int i = 0; i < count; ++i) {
    const LzSegment& seg = segments[i];
    BuildChains(s, seg);
    LzModelsReset(s.models);
    int ok = s.cost_based ? ParseCost(s, a, seg) : ParseGreedy(s, a, seg);
    if (!ok) return 0;
  }
  return 1;
}

void LzStreamStart(LzState& s) { LzModelsReset(s.models); }
void LzPutLiteral(LzState& s, ArcodOut& a, int b) { EncodeLiteral(a, s.models, b); }
void LzPutMatch(LzState& s, ArcodOut& a, int len, int dist) { EncodeMatch(a, s.models, len, dist); }
