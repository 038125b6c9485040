// The block codec end to end: every method and flag on the kinds of blocks
// the system stores, the facts the format fixes, and damaged records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "jar/block_codec.h"
#include "jar/block_decoder.h"
#include "jar/block_encoder.h"
#include "block_kinds.h"
#include "jar/codec_error.h"
#include "jar/jas.h"
#include "jar/lz_encoder.h"
#include "jar/range_coder.h"

namespace {

using block_kinds::kKindCount;
using block_kinds::KindName;
using block_kinds::MakeBlock;
using Block = std::vector<uint8_t>;
using Record = std::vector<uint8_t>;

Block NewBlock() { return Block(kBlockSize); }

Record Encode(const Block& block, int flags) {
  int length = BlockEncode(block.data(), flags);
  EXPECT_GT(length, 0) << JasLastError();
  return Record(g_record, g_record + length);
}

// Decodes a record; the block on failure is empty.
Block Decode(const Record& record) {
  Block block = NewBlock();
  memcpy(g_record, record.data(), record.size());
  if (!BlockDecode(static_cast<int>(record.size()), block.data())) return Block();
  return block;
}

std::string DecodeError(const Record& record) {
  Block block = NewBlock();
  memcpy(g_record, record.data(), record.size());
  if (BlockDecode(static_cast<int>(record.size()), block.data())) return "decoded";
  return JasLastError();
}

// The method a flag value selects when no fallback happens.
int MethodOfFlags(int flags) {
  static const int kBits[] = {0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
  static const int kMethods[] = {8, 7, 6, 5, 2, 3};
  for (int i = 0; i < 6; ++i) {
    if (flags & kBits[i]) return kMethods[i];
  }
  return 4;
}

// A block that LZ codes well but has no dominant values and no similar
// rows in either orientation: random bytes repeating with a period of 10007,
// which no row distance (64 d) nor transposed row distance (4096 d + e) meets.
Block RepeatingBlock(uint64_t seed) {
  block_kinds::Rng rng{seed};
  Block block = NewBlock();
  constexpr int kPeriod = 10007;
  for (int i = 0; i < kPeriod; ++i) block[i] = static_cast<uint8_t>(rng.Next());
  for (int i = kPeriod; i < kBlockSize; ++i) block[i] = block[i - kPeriod];
  return block;
}

// Reads the header of a method-4 record: k and v[1..k].
std::vector<int> SplitHeader(const Record& record) {
  std::vector<uint8_t> copy(record.begin(), record.end());
  copy.resize(copy.size() + 3);
  ArcodIn a;
  ArcodOpen(a, copy.data() + 1, static_cast<int>(record.size()) - 1);
  std::vector<int> header;
  int k = static_cast<int>(ArcodRawGet(a, 2));
  header.push_back(k);
  for (int j = 1; j <= k; ++j) header.push_back(static_cast<int>(ArcodRawGet(a, 8)));
  return header;
}

TEST(BlockCodec, EveryMethodAndParsingRoundTripsOnEveryKind) {
  std::vector<int> flag_set = {0x80};
  for (int method_bit : {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20}) {
    flag_set.push_back(method_bit);
    flag_set.push_back(method_bit | 0x40);
  }
  Block block = NewBlock();
  for (int kind = 0; kind < kKindCount; ++kind) {
    for (uint64_t seed = 1; seed <= 2; ++seed) {
      MakeBlock(kind, seed, block.data());
      for (int flags : flag_set) {
        SCOPED_TRACE(std::string(KindName(kind)) + " seed " + std::to_string(seed) + " flags " +
                     std::to_string(flags));
        Record record = Encode(block, flags);
        ASSERT_LE(record.size(), static_cast<size_t>(kMaxRecordLength));
        int method = record[0];
        if (!(flags & 0x80)) {
          int wanted = MethodOfFlags(flags);
          EXPECT_TRUE(method == wanted || method == 2 || method == 1) << "method " << method;
        }
        EXPECT_EQ(method == 1, record.size() == static_cast<size_t>(kMaxRecordLength));
        ASSERT_EQ(Decode(record), block);
      }
    }
  }
}

TEST(BlockCodec, OnlyTheHighestMethodBitAndTheParsingBitCount) {
  Block block = NewBlock();
  MakeBlock(block_kinds::kValueTable, 3, block.data());
  Record canonical[2][9];
  for (int cost = 0; cost < 2; ++cost) {
    for (int bit : {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20}) {
      canonical[cost][MethodOfFlags(bit)] = Encode(block, bit | (cost ? 0x40 : 0));
    }
  }
  for (int flags = 0; flags < 0x80; ++flags) {
    ASSERT_EQ(Encode(block, flags), canonical[(flags >> 6) & 1][MethodOfFlags(flags)]) << "flags " << flags;
  }
  Record trial = Encode(block, 0x80);
  for (int flags : {0x81, 0xA5, 0xC0, 0xFF}) EXPECT_EQ(Encode(block, flags), trial) << "flags " << flags;
}

TEST(BlockCodec, RandomBlockEndsAsAStoredRecordUnderEveryFlag) {
  Block block = NewBlock();
  MakeBlock(block_kinds::kRandom, 5, block.data());
  for (int flags : {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x42, 0x80}) {
    Record record = Encode(block, flags);
    ASSERT_EQ(record.size(), 32769u) << "flags " << flags;
    EXPECT_EQ(record[0], 1);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), record.begin() + 1));
  }
}

TEST(BlockCodec, FreeBlockUnderMethod5IsMethodByteCountsAndFinalByte) {
  Block block(kBlockSize, 0xFF);
  // Worked by hand: raw 10 bits of 0 leaves range 0x3FFFFF (one byte out),
  // raw 16 bits of 0 leaves 0x3FFF (two bytes out), the flush one more.
  Record record = Encode(block, 0x04);
  EXPECT_EQ(record, (Record{5, 0, 0, 0, 0}));
  EXPECT_EQ(Decode(record), block);
}

TEST(BlockCodec, EqualBytesCodeAsOneLiteralAndRepeatsOfTheLastByte) {
  Block block(kBlockSize, 0x42);
  Record record = Encode(block, 0x02);
  ASSERT_EQ(record[0], 2);
  RepTraceMatch matches[400];
  RepTrace trace = {matches, 400, 0, 0};
  g_rep_trace = &trace;
  Block back = Decode(record);
  g_rep_trace = nullptr;
  EXPECT_EQ(back, block);
  EXPECT_EQ(trace.literal_count, 1);
  // 32767 = 224 * 146 + 63.
  ASSERT_EQ(trace.match_count, 225);
  for (int i = 0; i < trace.match_count; ++i) {
    EXPECT_EQ(matches[i].dist, 0);
    EXPECT_EQ(matches[i].len, i < 224 ? 146 : 63);
  }
}

// Greedy parsing takes a match of length 3 only up to 1024 bytes back.
TEST(BlockCodec, GreedyTakesAShortMatch1024BackButNot1025) {
  for (int distance : {1024, 1025}) {
    Block block = NewBlock();
    int c = 1000, p = 1000 + distance;
    const uint8_t first[] = {1, 5, 6, 7, 2}, second[] = {3, 5, 6, 7, 4};
    memcpy(block.data() + c - 1, first, 5);
    memcpy(block.data() + p - 1, second, 5);
    Record record = Encode(block, 0x02);
    ASSERT_EQ(record[0], 2);
    RepTraceMatch matches[1000];
    RepTrace trace = {matches, 1000, 0, 0};
    g_rep_trace = &trace;
    Block back = Decode(record);
    g_rep_trace = nullptr;
    ASSERT_EQ(back, block);
    bool short_match_at_p = false, covers_p = false;
    for (int i = 0; i < trace.match_count; ++i) {
      if (matches[i].pos == p && matches[i].len == 3 && matches[i].dist == distance - 1) short_match_at_p = true;
      if (matches[i].pos <= p && p < matches[i].pos + matches[i].len) covers_p = true;
    }
    EXPECT_EQ(short_match_at_p, distance == 1024) << "distance " << distance;
    EXPECT_EQ(covers_p, distance == 1024) << "distance " << distance;
  }
}

TEST(BlockCodec, SplitNumbersTheFrequentValuesBackwards) {
  // Counts 20000 and 12768: three values, the third the byte 0 (all counts
  // are 0 by then), so v[1] = 0.
  Block block = NewBlock();
  MakeBlock(block_kinds::kTwoValues, 4, block.data());
  int counts[256] = {};
  for (uint8_t b : block) ++counts[b];
  int a = -1, b = -1;
  for (int v = 0; v < 256; ++v) {
    if (counts[v] == 20000) a = v;
    if (counts[v] == 12768) b = v;
  }
  ASSERT_TRUE(a >= 0 && b >= 0);
  Record record = Encode(block, 0);
  ASSERT_EQ(record[0], 4);
  EXPECT_EQ(SplitHeader(record), (std::vector<int>{3, 0, b, a}));
  EXPECT_EQ(Decode(record), block);

  // The byte 0 as the most frequent value is chosen twice, as v[3] and v[1].
  for (int i = 0; i < kBlockSize; ++i) block[i] = i % 8 < 5 && i < 32000 ? 0 : 9;
  record = Encode(block, 0);
  ASSERT_EQ(record[0], 4);
  EXPECT_EQ(SplitHeader(record), (std::vector<int>{3, 0, 9, 0}));
  EXPECT_EQ(Decode(record), block);

  // Equal counts: the lower value is taken first.
  for (int i = 0; i < kBlockSize; ++i) block[i] = i % 2 ? 3 : 9;
  record = Encode(block, 0);
  ASSERT_EQ(record[0], 4);
  EXPECT_EQ(SplitHeader(record), (std::vector<int>{3, 0, 9, 3}));
  EXPECT_EQ(Decode(record), block);

  // One dominant value: k = 1.
  MakeBlock(block_kinds::kSparseBitmap, 1, block.data());
  record = Encode(block, 0);
  ASSERT_EQ(record[0], 4);
  EXPECT_EQ(SplitHeader(record), (std::vector<int>{1, 0}));
}

TEST(BlockCodec, MethodsThatDoNotPayFallBackToMethod2) {
  Block block = RepeatingBlock(11);
  for (int flags : {0x00, 0x01, 0x04, 0x08, 0x10, 0x20}) {
    Record record = Encode(block, flags);
    EXPECT_EQ(record[0], 2) << "flags " << flags;
    EXPECT_LT(record.size(), 11000u);
    EXPECT_EQ(Decode(record), block);
  }
}

TEST(BlockCodec, TrialPicksTheEarliestMethodOnEqualLengths) {
  // Every method falls back to the same method-2 record: method 4 is picked
  // and coded again with cost-based parsing.
  Block block = RepeatingBlock(12);
  Record record = Encode(block, 0x80);
  EXPECT_EQ(LastTrial().picked, 4);
  for (int m = 5; m <= 8; ++m) EXPECT_EQ(LastTrial().length[m], LastTrial().length[4]);
  EXPECT_EQ(record, Encode(block, 0x42));

  // Two listed rows that differ in every byte: no same-marks, so the two
  // bitmap layouts of methods 5 and 6 code alike; the first smallest wins.
  block.assign(kBlockSize, 0xFF);
  for (int c = 0; c < 64; ++c) {
    block[c] = static_cast<uint8_t>(c);
    block[64 + c] = static_cast<uint8_t>(c + 1);
  }
  record = Encode(block, 0x80);
  EXPECT_EQ(LastTrial().length[5], LastTrial().length[6]);
  int smallest = 4;
  for (int m = 5; m <= 8; ++m) {
    if (LastTrial().length[m] < LastTrial().length[smallest]) smallest = m;
  }
  EXPECT_EQ(LastTrial().picked, smallest);
  EXPECT_EQ(record[0], smallest);
  EXPECT_EQ(Decode(record), block);
}

TEST(BlockCodec, RowOrderSharedByBothLayoutsOfAnOrientation) {
  // Methods 5 and 6 list the same rows in the same order; only the bitmap
  // differs. The row list is the first thing in both records.
  Block block = NewBlock();
  MakeBlock(block_kinds::kRowTable, 6, block.data());
  Record r5 = Encode(block, 0x04);
  Record r6 = Encode(block, 0x08);
  ASSERT_EQ(r5[0], 5);
  ASSERT_EQ(r6[0], 6);
  EXPECT_EQ(Decode(r5), block);
  EXPECT_EQ(Decode(r6), block);
  // Independently ordered again inside a trial, the records stay the same.
  Encode(block, 0x80);
  EXPECT_EQ(Encode(block, 0x04), r5);
}

TEST(Rle, CodesRunsAsSpecified) {
  auto rle = [](const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out(2 * in.size() + 3);
    out.resize(static_cast<size_t>(RleEncode(in.data(), static_cast<int>(in.size()), out.data(), 1 << 30)));
    return out;
  };
  EXPECT_EQ(rle({0x10, 0x10}), (std::vector<uint8_t>{0x10, 0x10}));
  EXPECT_EQ(rle({0xE5}), (std::vector<uint8_t>{0xE0, 0xE5}));
  EXPECT_EQ(rle(std::vector<uint8_t>(3, 7)), (std::vector<uint8_t>{0xE2, 7}));
  EXPECT_EQ(rle(std::vector<uint8_t>(16, 7)), (std::vector<uint8_t>{0xEE, 7, 7}));
  EXPECT_EQ(rle(std::vector<uint8_t>(30, 7)), (std::vector<uint8_t>{0xEE, 7, 0xEE, 7}));
  EXPECT_EQ(rle(std::vector<uint8_t>(31, 7)), (std::vector<uint8_t>{0xEF, 0, 7}));
  EXPECT_EQ(rle(std::vector<uint8_t>(286, 7)), (std::vector<uint8_t>{0xEF, 255, 7}));
  EXPECT_EQ(rle(std::vector<uint8_t>(288, 7)), (std::vector<uint8_t>{0xEF, 255, 7, 7, 7}));

  block_kinds::Rng rng{77};
  std::vector<uint8_t> in;
  while (in.size() < 20000) {
    uint8_t x = static_cast<uint8_t>(rng.Below(4) ? 0xDC + rng.Below(24) : rng.Next());
    in.insert(in.end(), static_cast<size_t>(rng.Below(3) ? 1 + rng.Below(3) : rng.Below(400)), x);
  }
  std::vector<uint8_t> coded = rle(in), back(in.size());
  EXPECT_EQ(ExpandRle(coded.data(), static_cast<int>(coded.size()), back.data(), static_cast<int>(back.size())),
            static_cast<int>(in.size()));
  EXPECT_EQ(back, in);
}

TEST(Rle, ExpansionPastItsTargetOrCutShortIsRefused) {
  uint8_t out[40];
  const uint8_t run[] = {0xEF, 10, 1};  // 41 bytes
  EXPECT_THROW(ExpandRle(run, 3, out, 40), CodecAbort);
  EXPECT_STREQ(JasLastError(), "ExpandRle: size BUG");
  const uint8_t cut[] = {5, 0xE3};
  EXPECT_THROW(ExpandRle(cut, 2, out, 40), CodecAbort);
  EXPECT_STREQ(JasLastError(), "ExpandRle: size BUG");
}

TEST(Flip, TransposesEach4096BytePart) {
  Block in = NewBlock(), out = NewBlock(), back = NewBlock();
  MakeBlock(block_kinds::kRandom, 9, in.data());
  ASSERT_EQ(Flip6464(in.data(), out.data()), kBlockSize);
  for (int q = 0; q < 8; ++q) {
    EXPECT_EQ(out[4096 * q + 64 * 3 + 17], in[4096 * q + 64 * 17 + 3]);
    EXPECT_EQ(out[4096 * q + 64 * 63 + 0], in[4096 * q + 63]);
  }
  Flip6464(out.data(), back.data());
  EXPECT_EQ(back, in);
}

// Records built symbol by symbol, for damaged data the encoder never writes.
struct Crafted {
  Record rec = Record(70000);
  ArcodOut a;
  explicit Crafted(int method) {
    rec[0] = static_cast<uint8_t>(method);
    ArcodStart(a, rec.data(), static_cast<int>(rec.size()));
    LzStreamStart();
  }
  void RowList(const std::vector<int>& rows) {
    ArcodRaw(a, 10, static_cast<uint32_t>(rows.size()));
    uint32_t count[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    int prev = 0;
    for (int row : rows) {
      int d = (row - prev + 512) % 512;
      for (int digit : {d % 8, d / 8 % 8, d / 64}) {
        uint32_t cum = 0, total = 0;
        for (int j = 0; j < 8; ++j) {
          cum += j < digit ? count[j] : 0;
          total += count[j];
        }
        ArcodPut(a, cum, count[digit], total);
        ++count[digit];
      }
      prev = row;
    }
  }
  Record Done() {
    ArcodFlush(a);
    return Record(rec.begin(), rec.begin() + (a.out - rec.data()));
  }
};

TEST(BlockDecode, RefusesDamagedRecordsWithTheirMessage) {
  EXPECT_EQ(DecodeError(Record{0, 1, 2, 3}), "SubDecode: BUG");
  EXPECT_EQ(DecodeError(Record{9, 1, 2, 3}), "SubDecode: BUG");
  EXPECT_EQ(DecodeError(Record(100, 1)), "SubDecode: bad record length 100");
  {
    Block out = NewBlock();
    EXPECT_EQ(BlockDecode(0, out.data()), 0);
    EXPECT_STREQ(JasLastError(), "SubDecode: bad record length 0");
    EXPECT_EQ(BlockDecode(kMaxRecordLength + 1, out.data()), 0);
    EXPECT_STREQ(JasLastError(), "SubDecode: bad record length 32770");
  }
  {  // a match reaching before the start of the output
    Crafted c(2);
    LzPutLiteral(c.a, 'a');
    LzPutMatch(c.a, 3, 1);
    EXPECT_EQ(DecodeError(c.Done()), "RepDecode: match before start");
  }
  {  // a match passing the end of its stream
    Crafted c(3);
    ArcodRaw(c.a, 16, 5);
    LzStreamStart();
    LzPutLiteral(c.a, 'a');
    LzPutMatch(c.a, 10, 0);
    EXPECT_EQ(DecodeError(c.Done()), "RepDecode: BUG");
  }
  {  // an LZ stream longer than any buffer
    Crafted c(3);
    ArcodRaw(c.a, 16, 65535);
    EXPECT_EQ(DecodeError(c.Done()), "SubDecode: bad run-length size 65535");
  }
  // Expansions of 32767 and 32769 bytes; 32768 is right.
  for (int last : {132, 133, 134}) {
    std::vector<uint8_t> rle;
    for (int i = 0; i < 114; ++i) rle.insert(rle.end(), {0xEF, 255, 0});
    rle.insert(rle.end(), {0xEF, static_cast<uint8_t>(last), 0});
    Crafted c(3);
    ArcodRaw(c.a, 16, static_cast<uint32_t>(rle.size()));
    LzStreamStart();
    for (uint8_t b : rle) LzPutLiteral(c.a, b);
    Record record = c.Done();
    if (last == 133) {
      EXPECT_EQ(Decode(record), Block(kBlockSize, 0));
    } else {
      EXPECT_EQ(DecodeError(record), "ExpandRle: size BUG") << "run " << last + 31;
    }
  }
  for (int k : {0, 2}) {
    Crafted c(4);
    ArcodRaw(c.a, 2, static_cast<uint32_t>(k));
    EXPECT_EQ(DecodeError(c.Done()), "SubDecode: bad k " + std::to_string(k));
  }
  {
    Crafted c(4);
    ArcodRaw(c.a, 2, 1);
    ArcodRaw(c.a, 8, 0);
    ArcodRaw(c.a, 16, 40000);
    ArcodRaw(c.a, 16, 10);
    EXPECT_EQ(DecodeError(c.Done()), "SubDecode: bad split sizes");
  }
  {
    Crafted c(5);
    c.RowList({3, 3});
    EXPECT_EQ(DecodeError(c.Done()), "RowList: row 3 listed twice");
  }
  {
    Crafted c(6);
    c.RowList({});
    ArcodRaw(c.a, 16, 32769);
    EXPECT_EQ(DecodeError(c.Done()), "SubDecode: bad value count 32769");
  }
  {  // one listed row, all marks set, but a value left over
    Crafted c(5);
    c.RowList({7});
    ArcodRaw(c.a, 16, 1);
    LzStreamStart();
    LzPutLiteral(c.a, 1);
    LzStreamStart();
    for (int i = 0; i < 8; ++i) LzPutLiteral(c.a, 0xFF);
    EXPECT_EQ(DecodeError(c.Done()), "SubDecode: values left over");
  }
  {  // the same, with no marks and so 64 values wanted
    Crafted c(5);
    c.RowList({7});
    ArcodRaw(c.a, 16, 1);
    LzStreamStart();
    LzPutLiteral(c.a, 1);
    LzStreamStart();
    for (int i = 0; i < 8; ++i) LzPutLiteral(c.a, 0);
    EXPECT_EQ(DecodeError(c.Done()), "SubDecode: values short");
  }
}

TEST(BlockDecode, ReportsThroughTheErrorHook) {
  static std::string seen;
  JarHookError([](const char* message) { seen = message; });
  EXPECT_EQ(DecodeError(Record{9}), "SubDecode: BUG");
  JarHookError(nullptr);
  EXPECT_EQ(seen, "SubDecode: BUG");
}

TEST(BlockDecode, CutOrAlteredRecordsFailCleanly) {
  Block block = NewBlock();
  block_kinds::Rng rng{2024};
  int failures = 0, trials = 0;
  for (int kind = 0; kind < kKindCount; ++kind) {
    if (kind == block_kinds::kRandom) continue;
    MakeBlock(kind, 1, block.data());
    for (int flags : {0x00, 0x01, 0x02, 0x04, 0x20}) {
      Record record = Encode(block, flags);
      for (int i = 0; i < 40; ++i, ++trials) {
        Record bad = record;
        if (i < 8) {
          bad.resize(static_cast<size_t>(rng.Below(static_cast<int>(record.size()))) + 1);
        } else {
          int flips = 1 + rng.Below(4);
          for (int f = 0; f < flips; ++f) {
            bad[static_cast<size_t>(1 + rng.Below(static_cast<int>(bad.size()) - 1))] ^=
                static_cast<uint8_t>(1 + rng.Below(255));
          }
        }
        if (DecodeError(bad) != "decoded") ++failures;
      }
    }
  }
  // Most damage is noticed; none may crash (the sanitizer build watches).
  EXPECT_GT(failures, trials / 2);
}

TEST(BlockEncode, EncoderErrorsTakeTheErrorExit) {
  Block block = NewBlock();
  EXPECT_THROW(SubEncode(block.data(), 9), CodecAbort);
  EXPECT_STREQ(JasLastError(), "SubEncode: bad code 9");
  LzInit();
  EXPECT_EQ(XArcodPut(1, 2), 1000000u);
  EXPECT_EQ(XArcodPut(1, 1023), 9998590u);
  EXPECT_THROW(XArcodPut(1, 1024), CodecAbort);
  EXPECT_STREQ(JasLastError(), "XArcodPut: oor");
  Crafted c(2);
  EXPECT_THROW(LzPutMatch(c.a, 2, 0), CodecAbort);
  EXPECT_STREQ(JasLastError(), "LenPut: BUG");
  EXPECT_THROW(LzPutMatch(c.a, 3, 65536), CodecAbort);
  EXPECT_STREQ(JasLastError(), "PosPut: back oor");
}

// Both encoders at once, over every kind and the flags the system uses: the
// worker's records equal the main thread's, block for block.
TEST(BlockEncode, TheWorkerThreadCodesTheRecordsOfTheMainThread) {
  static BlockEncodeJob job;
  for (int flags : {0, 2, 0x40, 0x80, 0x01, 0x24}) {
    for (int kind = 0; kind < kKindCount; ++kind) {
      Block first = NewBlock();
      Block second = NewBlock();
      MakeBlock(kind, 11, first.data());
      MakeBlock(kind, 12, second.data());
      const Record want_first = Encode(first, flags);
      const Record want_second = Encode(second, flags);
      ASSERT_TRUE(BlockEncodeStart(&job, first.data(), flags));
      EXPECT_EQ(Encode(second, flags), want_second) << KindName(kind) << " flags " << flags;
      int length = BlockEncodeFinish(&job);
      EXPECT_EQ(Record(job.record, job.record + length), want_first) << KindName(kind) << " flags " << flags;
    }
  }
}

TEST(BlockEncode, ARedirectedErrorLeavesTheFileLayerAlone) {
  Block block = NewBlock();
  JasError("before");
  char text[32] = "";
  CodecErrorRedirect(text, sizeof text);
  EXPECT_THROW(SubEncode(block.data(), 9), CodecAbort);
  CodecErrorRedirect(nullptr, 0);
  EXPECT_STREQ(text, "SubEncode: bad code 9");
  EXPECT_STREQ(JasLastError(), "before");
}

}  // namespace
