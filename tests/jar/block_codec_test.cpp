// The block codec end to end: every method and flag on the kinds of blocks
// the system stores, coding on two threads at once, and damaged records.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "block_kinds.h"
#include "jar/jas.h"
#include "jar/lz_encoder.h"
#include "jar/range_coder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(BlockEncoder& e, const Bytes& block, int flags) {
  Bytes record(kMaxRecordLength);
  record.resize(static_cast<size_t>(BlockEncode(e, block.data(), flags, record.data(), g_codec_error)));
  EXPECT_FALSE(record.empty()) << g_codec_error;
  return record;
}

// The decoded block, or the decoder's message.
std::string Decode(Bytes record, Bytes* block) {
  const int length = static_cast<int>(record.size());
  record.resize(record.size() + kRecordPadding);
  block->assign(kBlockSize, 0);
  const bool decoded = BlockDecode(TestDecoder(), record.data(), length, block->data(), g_codec_error);
  return decoded ? "decoded" : g_codec_error;
}

// Every method, alone and with cost-based parsing, the trial and the work
// files' coding, on two blocks of every kind: records decode back, are stored
// exactly when that long, and do not depend on what the encoder coded before
// (threads code a file's blocks with encoders of different histories). The
// work coding uses only methods 1 and 9.
TEST(BlockCodec, EveryFlagRoundTripsOnEveryKindWhateverTheEncoderCodedBefore) {
  BlockEncoderPtr other(BlockEncoderNew());
  Bytes first(kBlockSize), second(kBlockSize), back;
  for (int kind = 0; kind < block_kinds::kKindCount; ++kind) {
    block_kinds::MakeBlock(kind, 1, first.data());
    block_kinds::MakeBlock(kind, 2, second.data());
    for (int flags :
         {0x80, 0, 1, 2, 4, 8, 0x10, 0x20, 0x40, 0x41, 0x42, 0x44, 0x48, 0x50, 0x60, 0x100}) {
      SCOPED_TRACE(std::string(block_kinds::KindName(kind)) + " flags " + std::to_string(flags));
      const Bytes want[2] = {Encode(TestEncoder(), first, flags), Encode(TestEncoder(), second, flags)};
      for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(want[i][0] == kMethodStored, want[i].size() == size_t{kMaxRecordLength});
        if (flags == kFlagWork) {
          EXPECT_TRUE(want[i][0] == kMethodStored || want[i][0] == kMethodRleBytes);
        }
        ASSERT_EQ(Decode(want[i], &back), "decoded");
        ASSERT_EQ(back, i == 0 ? first : second);
      }
      EXPECT_EQ(Encode(*other, second, flags), want[1]);
    }
  }
}

// A record the encoder never writes: raw {bits, value}s, then literals and a match.
Bytes Crafted(int method, std::vector<std::pair<int, int>> raw, const Bytes& literals = {}, int len = 0,
              int dist = 0) {
  Bytes record(70000, static_cast<uint8_t>(method));
  ArcodOut a;
  ArcodStart(a, record.data(), static_cast<int>(record.size()));
  for (auto [bits, value] : raw) ArcodRaw(a, bits, static_cast<uint32_t>(value));
  LzState& lz = TestEncoder().lz;
  LzStreamStart(lz);
  for (uint8_t b : literals) LzPutLiteral(lz, a, b);
  if (len > 0) LzPutMatch(lz, a, len, dist);
  ArcodFlush(a);
  return Bytes(record.begin(), record.begin() + (a.out - record.data()));
}

TEST(BlockDecode, RefusesDamagedRecordsWithTheirMessage) {
  const struct {
    Bytes record;
    const char* message;
  } cases[] = {
      {{kMethodRleBytes + 1, 1, 2, 3}, "SubDecode: BUG: unknown method 10"},
      {{kMethodRleBytes, 1, 2, 3}, "ExpandRle: size BUG: too few bytes"},
      {Bytes(100, kMethodStored), "SubDecode: bad record length 100"},
      {Bytes(kMaxRecordLength + 1, 1), "SubDecode: bad record length 32770"},
      {Crafted(kMethodLz, {}, {'a'}, 3, 1), "RepDecode: match before start"},
      {Crafted(kMethodRle, {{16, 5}}, {'a'}, 10, 0), "RepDecode: BUG: match past the end"},
      {Crafted(kMethodRle, {{16, 65535}}), "SubDecode: bad run-length size 65535"},
      {Crafted(kMethodSplit, {{2, 2}}), "SubDecode: bad k 2"},
      {Crafted(kMethodSplit, {{2, 1}, {8, 0}, {16, 40000}, {16, 10}}), "SubDecode: bad split sizes"},
      {Crafted(kMethodRowsRows, {{10, 0}, {16, 32769}}), "SubDecode: bad value count 32769"},
  };
  Bytes block;
  for (const auto& c : cases) EXPECT_EQ(Decode(c.record, &block), c.message);
}

}  // namespace
