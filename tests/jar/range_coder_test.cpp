// The range coder and the models, checked coder against decoder and against
// values worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "jar/block_codec.h"
#include "jar/codec_models.h"
#include "jar/jas.h"
#include "jar/range_coder.h"
#include "block_kinds.h"

namespace {

struct Symbol {
  bool raw;
  uint32_t a;  // cum, or bit count
  uint32_t b;  // count, or value
  uint32_t total;
};

std::vector<Symbol> RandomSymbols(uint64_t seed, int n) {
  block_kinds::Rng rng{seed};
  std::vector<Symbol> out;
  for (int i = 0; i < n; ++i) {
    if (rng.Below(5) == 0) {
      int bits = 1 + rng.Below(16);
      out.push_back({true, static_cast<uint32_t>(bits), static_cast<uint32_t>(rng.Next() & ((1u << bits) - 1)), 0});
    } else {
      uint32_t total = 1 + static_cast<uint32_t>(rng.Below(1023));
      // Mostly likely symbols, so that low runs into long chains of 0xFF.
      uint32_t count = rng.Below(3) ? total - static_cast<uint32_t>(rng.Below(static_cast<int>(total > 4 ? 4 : total)))
                                    : 1 + static_cast<uint32_t>(rng.Below(static_cast<int>(total)));
      uint32_t cum = static_cast<uint32_t>(rng.Below(static_cast<int>(total - count + 1)));
      out.push_back({false, cum, count, total});
    }
  }
  return out;
}

// Encodes the symbols; notes whether some carry turned a written 0xFF into 0.
int EncodeSymbols(const std::vector<Symbol>& symbols, uint8_t* record, bool* carried_through) {
  ArcodOut a;
  ArcodStart(a, record, 1 << 20);
  record[0] = 2;
  *carried_through = false;
  std::vector<uint8_t> before;
  for (const Symbol& s : symbols) {
    before.assign(a.begin, a.out);
    if (s.raw) {
      ArcodRaw(a, static_cast<int>(s.a), s.b);
    } else {
      ArcodPut(a, s.a, s.b, s.total);
    }
    for (size_t i = 0; i < before.size(); ++i) {
      if (before[i] == 0xFF && a.begin[i] == 0x00) *carried_through = true;
    }
  }
  ArcodFlush(a);
  return static_cast<int>(a.out - record);
}

TEST(RangeCoder, DecoderReadsBackEverySymbolAndStopsThreeBytesPastThePayload) {
  std::vector<uint8_t> record(1 << 20);
  bool any_carry = false;
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    std::vector<Symbol> symbols = RandomSymbols(seed, 3000);
    bool carried;
    int length = EncodeSymbols(symbols, record.data(), &carried);
    any_carry |= carried;
    ArcodIn d;
    ArcodOpen(d, record.data() + 1, length - 1);
    for (size_t i = 0; i < symbols.size(); ++i) {
      const Symbol& s = symbols[i];
      if (s.raw) {
        ASSERT_EQ(ArcodRawGet(d, static_cast<int>(s.a)), s.b) << "seed " << seed << " symbol " << i;
      } else {
        uint32_t t = ArcodFreq(d, s.total);
        ASSERT_GE(t, s.a) << "seed " << seed << " symbol " << i;
        ASSERT_LT(t, s.a + s.b) << "seed " << seed << " symbol " << i;
        ArcodNext(d, s.a, s.b);
      }
    }
    EXPECT_EQ(d.in, d.end) << "seed " << seed;
  }
  EXPECT_TRUE(any_carry) << "no stream carried into a 0xFF byte already written";
}

TEST(RangeCoder, CarryRunsThroughTrailingFFBytesIntoTheFirstByteBelow) {
  uint8_t record[16] = {};
  ArcodOut a;
  ArcodStart(a, record, 16);
  a.begin[0] = 0x12;
  a.begin[1] = 0xFF;
  a.begin[2] = 0xFF;
  a.out = a.begin + 3;
  a.low = 0xFFFFFF00u;
  a.range = 0x01000000u;
  // r = 0x10000; low + 0x10000 wraps to 0x0000FF00.
  ArcodPut(a, 1, 1, 256);
  EXPECT_EQ(a.begin[0], 0x13);
  EXPECT_EQ(a.begin[1], 0x00);
  EXPECT_EQ(a.begin[2], 0x00);
  // range 0x10000 needs one shift: the top byte 0x00 of low 0x0000FF00.
  ASSERT_EQ(a.out, a.begin + 4);
  EXPECT_EQ(a.begin[3], 0x00);
  EXPECT_EQ(a.low, 0x00FF0000u);
  EXPECT_EQ(a.range, 0x01000000u);
}

TEST(RangeCoder, RawValueAtTheLimitIsRefused) {
  uint8_t record[64];
  ArcodOut a;
  ArcodStart(a, record, 64);
  ArcodRaw(a, 8, 255);
  EXPECT_THROW(ArcodRaw(a, 8, 256), CodecAbort);
  EXPECT_STREQ(JasLastError(), "ArcodRaw: bits  8  val 0x00000100");
}

TEST(Models, CountModelHalvesRoundingUpPastItsLimit) {
  KindModel m;
  ModelReset(m);
  EXPECT_EQ(m.total, 3u);
  // 139 updates of symbol 2 reach 3 + 417 = 420 (no rescale), one more passes.
  for (int i = 0; i < 139; ++i) ModelUpdate(m, 2);
  EXPECT_EQ(m.count[2], 418u);
  EXPECT_EQ(m.total, 420u);
  ModelUpdate(m, 0);
  // counts 4, 1, 418 -> 2, 1, 209.
  EXPECT_EQ(m.count[0], 2u);
  EXPECT_EQ(m.count[1], 1u);
  EXPECT_EQ(m.count[2], 209u);
  EXPECT_EQ(m.total, 212u);
}

TEST(Models, LitTreeKeepsSeenBytesAndSumsItsLeaves) {
  LitTree t;
  LitTreeReset(t);
  LitTreeAdd(t, 7);
  for (int i = 0; i < 1000; ++i) LitTreeAdd(t, 200);
  // 1001 > 1000: leaves 1 and 1000 become 1 and 500.
  EXPECT_EQ(t.node[256 + 7], 1u);
  EXPECT_EQ(t.node[256 + 200], 500u);
  EXPECT_EQ(t.node[256 + 8], 0u);
  EXPECT_EQ(t.node[1], 501u);
  EXPECT_EQ(LitTreeCum(t, 200), 1u);
  EXPECT_EQ(LitTreeCum(t, 7), 0u);
  EXPECT_EQ(LitTreeCum(t, 255), 501u);
}

TEST(Models, UnseenListMovesTheLastValueIntoTheGap) {
  UnseenList u;
  UnseenReset(u);
  UnseenRemove(u, 10);
  EXPECT_EQ(u.length, 255);
  EXPECT_EQ(u.value[10], 255);
  EXPECT_EQ(u.index[255], 10);
  UnseenRemove(u, 10);
  EXPECT_EQ(u.value[10], 254);
}

TEST(Models, SlotsOfLengthsAndDistances) {
  EXPECT_EQ(LenSlot(3), 0);
  EXPECT_EQ(LenSlot(17), 14);
  EXPECT_EQ(LenSlot(146), 15);
  EXPECT_EQ(LenSlot(18), 16);
  EXPECT_EQ(LenSlot(145), 31);
  EXPECT_EQ(PosSlot(0), 0);
  EXPECT_EQ(PosSlot(1), 1);
  EXPECT_EQ(PosSlot(3), 2);
  EXPECT_EQ(PosSlot(1023), 10);
  EXPECT_EQ(PosSlot(65535), 16);
}

// The encoder divides by the small totals of the LZ models through a table
// of reciprocals; it must agree with the machine's division everywhere, the
// multiples of the divisor and the top of the 32-bit range included.
TEST(RangeCoder, ReciprocalDivisionIsExactForEveryTotalBelow1024) {
  block_kinds::Rng rng{77};
  for (uint32_t d = 1; d < 1024; ++d) {
    std::vector<uint32_t> xs = {0, 1, d - 1, d, d + 1, 0xFFFFFFFFu, 0xFFFFFF00u, 0x01000000u, 0x00FFFFFFu};
    uint32_t top = 0xFFFFFFFFu / d;
    for (uint32_t q : {top, top - 1, top / 2, 1u << 14, (1u << 24) / d}) {
      xs.push_back(q * d);
      xs.push_back(q * d - 1);
      xs.push_back(q * d + d - 1);
    }
    for (int i = 0; i < 300; ++i) xs.push_back(static_cast<uint32_t>(rng.Next()));
    for (uint32_t x : xs) ASSERT_EQ(ArcodDivSmall(x, d), x / d) << x << " / " << d;
  }
}

// ArcodPutSmall codes exactly as ArcodPut for the same symbols.
TEST(RangeCoder, SmallTotalPutWritesTheSameBytesAsPut) {
  std::vector<Symbol> symbols = RandomSymbols(5, 20000);
  std::vector<uint8_t> one(1 << 20), two(1 << 20);
  ArcodOut a, b;
  ArcodStart(a, one.data(), 1 << 20);
  ArcodStart(b, two.data(), 1 << 20);
  for (const Symbol& s : symbols) {
    if (s.raw) {
      ArcodRaw(a, static_cast<int>(s.a), s.b);
      ArcodRaw(b, static_cast<int>(s.a), s.b);
    } else {
      ArcodPut(a, s.a, s.b, s.total);
      ArcodPutSmall(b, s.a, s.b, s.total);
    }
  }
  ArcodFlush(a);
  ArcodFlush(b);
  ASSERT_EQ(a.out - one.data(), b.out - two.data());
  EXPECT_TRUE(std::equal(one.data(), a.out, two.data()));
}

}  // namespace
