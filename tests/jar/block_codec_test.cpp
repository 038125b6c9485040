// The block codec end to end: every method and flag on the kinds of blocks
// the system stores, damaged records, and coding on two threads at once.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "block_kinds.h"
#include "jar/block_codec.h"
#include "jar/block_decoder.h"
#include "jar/block_encoder.h"
#include "jar/jas.h"
#include "jar/lz_encoder.h"
#include "jar/range_coder.h"

namespace {

using block_kinds::kKindCount;
using block_kinds::KindName;
using block_kinds::MakeBlock;
using Block = std::vector<uint8_t>;
using Record = std::vector<uint8_t>;

Record Encode(BlockEncoder& e, const Block& block, int flags) {
  Record record(kMaxRecordLength);
  int length = BlockEncode(e, block.data(), flags, record.data());
  EXPECT_GT(length, 0) << JasLastError();
  record.resize(static_cast<size_t>(length));
  return record;
}

// The decoded block, or the decoder's message.
std::string Decode(const Record& record, Block* block) {
  Record padded(record);
  padded.resize(record.size() + kRecordPadding);
  block->assign(kBlockSize, 0);
  if (BlockDecode(TestDecoder(), padded.data(), static_cast<int>(record.size()), block->data())) return "decoded";
  return JasLastError();
}

TEST(BlockCodec, EveryMethodAndParsingRoundTripsOnEveryKind) {
  std::vector<int> flag_set = {kFlagTrial};
  for (int method_bit : {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20}) {
    flag_set.push_back(method_bit);
    flag_set.push_back(method_bit | kFlagCostBased);
  }
  Block block(kBlockSize), back;
  for (int kind = 0; kind < kKindCount; ++kind) {
    for (uint64_t seed = 1; seed <= 2; ++seed) {
      MakeBlock(kind, seed, block.data());
      for (int flags : flag_set) {
        SCOPED_TRACE(std::string(KindName(kind)) + " seed " + std::to_string(seed) + " flags " +
                     std::to_string(flags));
        Record record = Encode(TestEncoder(), block, flags);
        EXPECT_EQ(record[0] == kMethodStored, record.size() == static_cast<size_t>(kMaxRecordLength));
        ASSERT_EQ(Decode(record, &back), "decoded");
        ASSERT_EQ(back, block);
      }
    }
  }
}

// Records built symbol by symbol, for damaged data the encoder never writes.
struct Crafted {
  Record rec = Record(70000);
  ArcodOut a;
  LzState& lz = TestEncoder().lz;
  explicit Crafted(int method) {
    rec[0] = static_cast<uint8_t>(method);
    ArcodStart(a, rec.data(), static_cast<int>(rec.size()));
    LzStreamStart(lz);
  }
  void Literals(const std::vector<uint8_t>& bytes) {
    LzStreamStart(lz);
    for (uint8_t b : bytes) LzPutLiteral(lz, a, b);
  }
  void RowList(const std::vector<int>& rows) {
    ArcodRaw(a, 10, static_cast<uint32_t>(rows.size()));
    uint32_t count[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    int prev = 0;
    for (int row : rows) {
      int d = (row - prev + kRows) % kRows;
      for (int digit : {d % 8, d / 8 % 8, d / 64}) {
        uint32_t cum = 0, total = 0;
        for (int j = 0; j < 8; ++j) cum += j < digit ? count[j] : 0, total += count[j];
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

// Expansion of 114 runs of 286 and one of `last` + 31 bytes: 32768 is right.
Record RleRecord(int last) {
  std::vector<uint8_t> rle;
  for (int i = 0; i < 114; ++i) rle.insert(rle.end(), {kRleEscapeHigh, 255, 0});
  rle.insert(rle.end(), {kRleEscapeHigh, static_cast<uint8_t>(last), 0});
  Crafted c(kMethodRle);
  ArcodRaw(c.a, 16, static_cast<uint32_t>(rle.size()));
  c.Literals(rle);
  return c.Done();
}

// One listed row with one value and 64 marks of `marks`.
Record OneRowRecord(uint8_t marks) {
  Crafted c(kMethodRowsColumns);
  c.RowList({7});
  ArcodRaw(c.a, 16, 1);
  c.Literals({1});
  c.Literals(std::vector<uint8_t>(8, marks));
  return c.Done();
}

TEST(BlockDecode, RefusesDamagedRecordsWithTheirMessage) {
  struct Case {
    std::function<Record()> make;
    const char* message;
  } cases[] = {
      {[] { return Record{0, 1, 2, 3}; }, "SubDecode: BUG"},
      {[] { return Record{9, 1, 2, 3}; }, "SubDecode: BUG"},
      {[] { return Record(100, 1); }, "SubDecode: bad record length 100"},
      {[] { return Record(); }, "SubDecode: bad record length 0"},
      {[] { return Record(kMaxRecordLength + 1, 1); }, "SubDecode: bad record length 32770"},
      {[] { Crafted c(kMethodLz); LzPutLiteral(c.lz, c.a, 'a'); LzPutMatch(c.lz, c.a, 3, 1); return c.Done(); },
       "RepDecode: match before start"},
      {[] { Crafted c(kMethodRle); ArcodRaw(c.a, 16, 5); c.Literals({'a'}); LzPutMatch(c.lz, c.a, 10, 0);
            return c.Done(); },
       "RepDecode: BUG"},
      {[] { Crafted c(kMethodRle); ArcodRaw(c.a, 16, 65535); return c.Done(); },
       "SubDecode: bad run-length size 65535"},
      {[] { return RleRecord(132); }, "ExpandRle: size BUG"},
      {[] { return RleRecord(134); }, "ExpandRle: size BUG"},
      {[] { Crafted c(kMethodSplit); ArcodRaw(c.a, 2, 2); return c.Done(); }, "SubDecode: bad k 2"},
      {[] { Crafted c(kMethodSplit); ArcodRaw(c.a, 2, 1); ArcodRaw(c.a, 8, 0); ArcodRaw(c.a, 16, 40000);
            ArcodRaw(c.a, 16, 10); return c.Done(); },
       "SubDecode: bad split sizes"},
      {[] { Crafted c(kMethodRowsColumns); c.RowList({3, 3}); return c.Done(); }, "RowList: row 3 listed twice"},
      {[] { Crafted c(kMethodRowsRows); c.RowList({}); ArcodRaw(c.a, 16, 32769); return c.Done(); },
       "SubDecode: bad value count 32769"},
      {[] { return OneRowRecord(0xFF); }, "SubDecode: values left over"},
      {[] { return OneRowRecord(0); }, "SubDecode: values short"},
  };
  static std::string hooked;
  JarHookError([](const char* message) { hooked = message; });
  Block block;
  for (const Case& c : cases) {
    hooked.clear();
    EXPECT_EQ(Decode(c.make(), &block), c.message);
    EXPECT_EQ(hooked, c.message) << "through the file layer's error hook";
  }
  JarHookError(nullptr);
  EXPECT_EQ(Decode(RleRecord(133), &block), "decoded");
  EXPECT_EQ(block, Block(kBlockSize, 0));
}

// The worker thread codes one block with its job's context while this thread
// codes another with its own, over every kind and the flags the system uses:
// the records are those of coding one block after the other.
TEST(BlockEncode, TwoThreadsCodeTheRecordsOfOneThread) {
  static BlockEncodeJob job;
  BlockEncoderPtr mine(BlockEncoderNew());
  for (int flags : {0, 2, 0x40, 0x80, 0x01, 0x24}) {
    for (int kind = 0; kind < kKindCount; ++kind) {
      Block first(kBlockSize), second(kBlockSize);
      MakeBlock(kind, 11, first.data());
      MakeBlock(kind, 12, second.data());
      const Record want_first = Encode(TestEncoder(), first, flags);
      const Record want_second = Encode(TestEncoder(), second, flags);
      ASSERT_TRUE(BlockEncodeStart(&job, first.data(), flags));
      EXPECT_EQ(Encode(*mine, second, flags), want_second) << KindName(kind) << " flags " << flags;
      int length = BlockEncodeFinish(&job);
      EXPECT_EQ(Record(job.record, job.record + length), want_first) << KindName(kind) << " flags " << flags;
    }
  }
}

}  // namespace
