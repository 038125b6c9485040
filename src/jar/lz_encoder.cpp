#include "jar/lz_encoder.h"

#include <cmath>
#include <cstring>

#include "jar/codec_error.h"
#include "jar/codec_models.h"

uint8_t g_lz_buf[kWorkSize + kLzPadding];
bool g_lz_cost_based = false;

namespace {

inline constexpr int kHashSize = 1 << 14;
inline constexpr uint16_t kNoPos = 0xFFFF;
inline constexpr int kGreedyChain = 12;
inline constexpr int kCostChain = 120;
// Greedy parsing leaves a match of the minimum length to literals when it
// lies farther back than this: its distance would cost more than it saves.
inline constexpr int kFarShortMatch = 1024;
inline constexpr int kCostTableSize = 1024;
inline constexpr uint32_t kBit = 1000000;

uint16_t g_head[kHashSize];
uint16_t g_prev[kWorkSize];
uint32_t g_cost[kCostTableSize];
bool g_cost_ready = false;
LzModels g_enc_models;

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

void BuildChains(const LzSegment& seg) {
  memset(g_head, 0xFF, sizeof g_head);
  const uint8_t* buf = g_lz_buf;
  // The last two positions are never searched (no room for a match) and no
  // later position of the segment could find them, so they stay out.
  for (int i = seg.start; i + 2 < seg.end; ++i) {
    unsigned h = buf[i] ^ (buf[i + 1] << 3) ^ (buf[i + 2] << 6);
    g_prev[i] = g_head[h];
    g_head[h] = static_cast<uint16_t>(i);
  }
}

inline int CommonPrefix(const uint8_t* a, const uint8_t* b, int max) {
  int n = 0;
  while (n < max) {
    uint64_t x, y;
    memcpy(&x, a + n, 8);
    memcpy(&y, b + n, 8);
    uint64_t diff = x ^ y;
    if (diff != 0) {
      n += __builtin_ctzll(diff) >> 3;
      return n < max ? n : max;
    }
    n += 8;
  }
  return max;
}

inline Match Search(int p, int end, int chain_limit) {
  Match m = {0, 0};
  int max = end - p;
  if (max > kMaxMatch) max = kMaxMatch;
  if (max < kMinMatch) return m;
  const uint8_t* buf = g_lz_buf;
  const uint8_t* cur = buf + p;
  int best = kMinMatch - 1;
  unsigned c = g_prev[p];
  for (int visited = 0; c != kNoPos && visited < chain_limit; ++visited, c = g_prev[c]) {
    if (buf[c + best] != cur[best]) continue;
    int len = CommonPrefix(buf + c, cur, max);
    if (len > best) {
      best = len;
      m.pos = static_cast<int>(c);
      if (best >= max) break;
    }
  }
  if (best >= kMinMatch) m.len = best;
  return m;
}

inline void PutKind(ArcodOut& a, KindModel& k, int s) {
  ArcodPut(a, ModelCum(k, s), k.count[s], k.total);
  ModelUpdate(k, s);
}

void EncodeLiteral(ArcodOut& a, LzModels& m, int b) {
  uint32_t count = m.lit.node[256 + b];
  if (count == 0) {
    PutKind(a, m.kind, kKindUnseen);
    int i = m.unseen.index[b];
    ArcodPut(a, static_cast<uint32_t>(i), 1, static_cast<uint32_t>(m.unseen.length));
    UnseenRemove(m.unseen, i);
  } else {
    PutKind(a, m.kind, kKindSeen);
    ArcodPut(a, LitTreeCum(m.lit, b), count, m.lit.node[1]);
  }
  LitTreeAdd(m.lit, b);
}

void LenPut(ArcodOut& a, LzModels& m, int len) {
  if (len < kMinMatch || len > kMaxMatch) CodecError("LenPut: BUG");
  int s = LenSlot(len);
  ArcodPut(a, ModelCum(m.len, s), m.len.count[s], m.len.total);
  ModelUpdate(m.len, s);
  if (s >= 16) ArcodRaw(a, 3, static_cast<uint32_t>((len - 18) % 8));
}

void PosPut(ArcodOut& a, LzModels& m, int dist) {
  if (dist < 0 || dist >= kMaxDistance) CodecError("PosPut: back oor");
  int s = PosSlot(static_cast<uint32_t>(dist));
  ArcodPut(a, ModelCum(m.pos, s), m.pos.count[s], m.pos.total);
  ModelUpdate(m.pos, s);
  if (s > 1) ArcodRaw(a, s - 1, static_cast<uint32_t>(dist - (1 << (s - 1))));
}

void EncodeMatch(ArcodOut& a, LzModels& m, int len, int dist) {
  PutKind(a, m.kind, kKindMatch);
  LenPut(a, m, len);
  PosPut(a, m, dist);
}

inline uint32_t LiteralCost(const LzModels& m, int b) {
  uint32_t count = m.lit.node[256 + b];
  if (count == 0) {
    return XArcodPut(m.kind.count[kKindUnseen], m.kind.total) +
           XArcodPut(1, static_cast<uint32_t>(m.unseen.length));
  }
  return XArcodPut(m.kind.count[kKindSeen], m.kind.total) + XArcodPut(count, m.lit.node[1]);
}

inline uint32_t MatchCost(const LzModels& m, int len, int dist) {
  uint32_t cost = XArcodPut(m.kind.count[kKindMatch], m.kind.total);
  int ls = LenSlot(len);
  cost += XArcodPut(m.len.count[ls], m.len.total);
  if (ls >= 16) cost += 3 * kBit;
  int ps = PosSlot(static_cast<uint32_t>(dist));
  cost += XArcodPut(m.pos.count[ps], m.pos.total);
  if (ps > 1) cost += static_cast<uint32_t>(ps - 1) * kBit;
  return cost;
}

int ParseGreedy(ArcodOut& a, const LzSegment& seg) {
  LzModels& m = g_enc_models;
  const uint8_t* buf = g_lz_buf;
  int end = seg.end;
  // The search made at p + 1 as lookahead serves the next step when it is
  // made there.
  int ahead_at = -1;
  Match ahead = {0, 0};
  int p = seg.start;
  while (p < end) {
    Match here = ahead_at == p ? ahead : Search(p, end, kGreedyChain);
    bool take = here.len >= kMinMatch && !(here.len == kMinMatch && p - here.pos > kFarShortMatch);
    if (take) {
      ahead = Search(p + 1, end, kGreedyChain);
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
    if (a.out >= a.limit) return 0;
  }
  return 1;
}

inline void Fill(Candidate& x, int q, int end, const LzModels& m) {
  if (x.at == q) return;
  x.at = q;
  Match found = Search(q, end, kCostChain);
  x.len = found.len;
  if (found.len >= kMinMatch) {
    x.pos = found.pos;
    x.cost = MatchCost(m, found.len, q - found.pos - 1);
  }
}

int ParseCost(ArcodOut& a, const LzSegment& seg) {
  LzModels& m = g_enc_models;
  const uint8_t* buf = g_lz_buf;
  int end = seg.end;
  // Records for p, p + 1 and p + 2, rotated as the parse moves by one.
  Candidate rec[3] = {{-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0}};
  int ia = 0;
  int p = seg.start;
  while (p < end) {
    Candidate& A = rec[ia];
    Candidate& B = rec[(ia + 1) % 3];
    Candidate& C = rec[(ia + 2) % 3];
    Fill(A, p, end, m);
    bool literal = true;
    if (A.len != 0) {
      uint64_t per = A.cost / static_cast<uint32_t>(A.len);
      Fill(B, p + 1, end, m);
      uint64_t lit0 = LiteralCost(m, buf[p]);
      if (B.len != 0 && (B.cost + lit0) / static_cast<uint64_t>(B.len + 1) < per) {
        literal = true;
      } else {
        Fill(C, p + 2, end, m);
        if (C.len != 0 &&
            (C.cost + lit0 + LiteralCost(m, buf[p + 1])) / static_cast<uint64_t>(C.len + 2) < per) {
          literal = true;
        } else {
          uint64_t sum = 0;
          literal = true;
          for (int i = 0; i < A.len; ++i) {
            sum += LiteralCost(m, buf[p + i]);
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
    if (a.out >= a.limit) return 0;
  }
  return 1;
}

}  // namespace

uint32_t XArcodPut(uint32_t count, uint32_t total) {
  if (total >= kCostTableSize) CodecError("XArcodPut: oor");
  return g_cost[total] - g_cost[count];
}

void LzInit() {
  if (g_cost_ready) return;
  g_cost[0] = 0;
  for (int i = 1; i < kCostTableSize; ++i) {
    g_cost[i] = static_cast<uint32_t>(std::llround(1e6 * std::log2(static_cast<double>(i))));
  }
  g_cost_ready = true;
}

int LzEncode(ArcodOut& a, const LzSegment* segments, int count) {
  for (int s = 0; s < count; ++s) {
    const LzSegment& seg = segments[s];
    BuildChains(seg);
    LzModelsReset(g_enc_models);
    int ok = g_lz_cost_based ? ParseCost(a, seg) : ParseGreedy(a, seg);
    if (!ok) return 0;
  }
  return 1;
}
