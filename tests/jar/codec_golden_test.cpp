// The encoder's records are a contract: any change to how fast they are made
// must leave every byte as it was. This test hashes the records of a few
// hundred fixed blocks under the flags the system uses and compares with the
// hashes the encoder wrote when it was first checked against the decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "block_kinds.h"
#include "jar/jas.h"
#include "test_support.h"

namespace {

using Block = std::vector<uint8_t>;
using block_kinds::kKindCount;

// Flags of the write wrappers (0, 2, 128), cost-based parsing alone, and
// run-length coding, which no wrapper passes but which the format allows.
constexpr int kFlags[] = {0, 2, 0x40, 128, 1};
constexpr int kFlagCount = sizeof kFlags / sizeof kFlags[0];
constexpr int kVariantCount = 6;

// Blocks beyond the kinds: bitmaps of other densities and run lengths, and
// blocks whose halves code very differently (one half random), so that
// streams end at the record limit in mid-block.
void MakeVariant(int variant, uint64_t seed, uint8_t* out) {
  block_kinds::Rng rng{seed * 104729 + static_cast<uint64_t>(variant)};
  if (variant < 3) {  // runs of set and clear bits, short to long
    block_kinds::RunBitmap(rng, variant == 0 ? 6 : variant == 1 ? 90 : 700, out);
  } else if (variant == 3) {  // a density that drifts through the block
    for (int i = 0; i < kBlockSize; ++i) {
      out[i] = 0;
      for (int j = 0; j < 8; ++j) {
        if (rng.Below(1000) < 1 + (i * 600) / kBlockSize) out[i] |= static_cast<uint8_t>(1u << j);
      }
    }
  } else if (variant == 4) {  // half a value table, half random bytes, in either order
    block_kinds::MakeBlock(block_kinds::kValueTable, seed, out);
    int cut = kBlockSize / 4 + rng.Below(kBlockSize / 2);
    bool random_first = rng.Below(2) != 0;
    for (int i = 0; i < kBlockSize; ++i) {
      if ((i < cut) == random_first) out[i] = static_cast<uint8_t>(rng.Next());
    }
  } else {  // a few byte values in short random runs: many distinct matches
    uint8_t vals[5];
    for (auto& v : vals) v = static_cast<uint8_t>(rng.Next());
    for (int i = 0; i < kBlockSize;) {
      uint8_t v = vals[rng.Below(5)];
      for (int run = 1 + rng.Below(9); run > 0 && i < kBlockSize; --run) out[i++] = v;
    }
  }
}

// The blocks of a row of kGolden: 24 of a kind, 12 of a variant, or those of
// a real build's work files (KQKR after pass 3, bitmaps of every density),
// kept as the records the build wrote with flag 0, which the encoder must
// write again.
std::vector<Block> Blocks(int row) {
  std::vector<Block> blocks;
  for (int s = 1; row < kKindCount + kVariantCount && s <= (row < kKindCount ? 24 : 12); ++s) {
    blocks.emplace_back(kBlockSize);
    if (row < kKindCount) block_kinds::MakeBlock(row, s, blocks.back().data());
    if (row >= kKindCount) MakeVariant(row - kKindCount, s, blocks.back().data());
  }
  if (row < kKindCount + kVariantCount) return blocks;
  const std::string data = ReadFile(ZOK_SOURCE_DIR "/tests/jar/data/kqkr_pass3_blocks.rec");
  for (size_t at = 0, length; at + 4 <= data.size(); at += 4 + length) {
    const auto* p = reinterpret_cast<const uint8_t*>(data.data()) + at + 4;
    length = p[-4] | p[-3] << 8 | p[-2] << 16 | static_cast<size_t>(p[-1]) << 24;
    if (length == 0 || at + 4 + length > data.size()) break;
    memcpy(g_record, p, length);
    blocks.emplace_back(kBlockSize);
    EXPECT_TRUE(BlockDecode(static_cast<int>(length), blocks.back().data())) << g_codec_error;
    const int again = BlockEncode(blocks.back().data(), 0);
    EXPECT_EQ(Block(g_record, g_record + again), Block(p, p + length)) << "block " << blocks.size();
  }
  return blocks;
}

// FNV-1a of the records of `blocks` under `flags` with their lengths; under
// flag 0x80 the greedy length of every trial method counts too. Every record
// must decode back.
uint64_t HashRecords(const std::vector<Block>& blocks, int flags) {
  uint64_t h = 0xCBF29CE484222325ull;
  auto byte = [&h](uint8_t b) { h = (h ^ b) * 0x100000001B3ull; };
  auto word = [&](int w) {
    for (int i = 0; i < 32; i += 8) byte(static_cast<uint8_t>(w >> i));
  };
  for (const Block& block : blocks) {
    int length = BlockEncode(block.data(), flags);
    EXPECT_GT(length, 0) << g_codec_error;
    if (length <= 0) return 0;
    word(length);
    for (int i = 0; i < length; ++i) byte(g_record[i]);
    for (int m = 4; m <= 8 && (flags & kFlagTrial); ++m) word(LastTrial().length[m]);
    Block back(kBlockSize);
    EXPECT_TRUE(BlockDecode(length, back.data()) && back == block) << g_codec_error << flags;
  }
  return h;
}

// Rows: the block kinds in their order, then the variants, then the real
// blocks; columns: kFlags.
// clang-format off
constexpr uint64_t kGolden[block_kinds::kKindCount + kVariantCount + 1][kFlagCount] = {
    {0x114D4F760B9B9B92ull, 0x5FEAFF4AE75CDF55ull, 0x7F21559BA0C8A157ull, 0x6E0E4A6B987A0762ull, 0x7B4E2077A8F895FAull},  // sparse_bitmap
    {0xB9974E219101B214ull, 0x281227C75057933Eull, 0x3B6CF2F1E846E975ull, 0x72398AAA5A15BED1ull, 0xFAA8C59964534DD3ull},  // dense_bitmap
    {0x016D4559A7234468ull, 0x9B23522BD3C94ED2ull, 0x8D976C4327434173ull, 0xF7BA7D586519E048ull, 0x28B5F222C38EA65Bull},  // value_table
    {0xBE6392FFD0DA6CC6ull, 0x045C6744393C7FE9ull, 0x9767BE69A87F7B68ull, 0x144BAAF0E6A1C7AAull, 0xC04D2ECDADF66C7Aull},  // row_table
    {0xE4F4DD27B5B9905Aull, 0xE4F4DD27B5B9905Aull, 0xE4F4DD27B5B9905Aull, 0xEF0320EA6BA316FAull, 0xE4F4DD27B5B9905Aull},  // random
    {0x43B656E5B571BFFBull, 0xD115CC3C1F8B613Eull, 0x43B656E5B571BFFBull, 0x82FAC36A5932741Full, 0x0458724B1B8F9189ull},  // equal
    {0xF906AB3C4ACBE560ull, 0x7F2653501ADE0123ull, 0xC3A69A70A0145F2Full, 0x7DF3A432D75ECF50ull, 0x6C69ECDC70D38C16ull},  // two_values
    {0xC803C60AB2A33194ull, 0xC803C60AB2A33194ull, 0x9AC9A7112BF00BD3ull, 0x550AB16F491BF438ull, 0xC803C60AB2A33194ull},  // variant 0
    {0xE10BB4E06A802010ull, 0x0C6900E48F19D86Aull, 0x232EBC15617C35D5ull, 0x02C20C07F5BA508Aull, 0x1D5CD61DE4998091ull},  // variant 1
    {0x9ADFAB04940FFB4Dull, 0xA9F30DE28E21C1F7ull, 0x48D342E2ADC2C825ull, 0x9A58BBCB3BB6640Dull, 0x45F056F023535BDEull},  // variant 2
    {0x438F4B7CDD17A1F5ull, 0x438F4B7CDD17A1F5ull, 0x9B5FEA33609F944Aull, 0xCEF04DAE675671F4ull, 0x82E81CACD27EA742ull},  // variant 3
    {0x830C03D3A39B57A9ull, 0xF5316B7A2D573DD7ull, 0x19232E671C379CD3ull, 0x21D56ECE4B9041DCull, 0x51CEBAD08433A667ull},  // variant 4
    {0x9E407F38E6B0CDE7ull, 0x5073DA12CF4F3EB7ull, 0x7DE9C3B69FCA8EE8ull, 0x5B1B52637C17A096ull, 0x5241276B1D18332Aull},  // variant 5
    {0x6802D8FCACFD3480ull, 0x5C3D588384E430F8ull, 0x6541D5FC89E94680ull, 0x82B083B697100970ull, 0xA9713C76C6E93957ull},  // real
};
// clang-format on

TEST(CodecGolden, RecordsOfEveryBlockKindVariantAndRealBlockStayByteIdentical) {
  for (int row = 0; row <= kKindCount + kVariantCount; ++row) {
    const std::vector<Block> blocks = Blocks(row);
    SCOPED_TRACE(row < kKindCount ? block_kinds::KindName(row) : "row " + std::to_string(row));
    ASSERT_EQ(blocks.size(), row < kKindCount ? 24u : row < kKindCount + kVariantCount ? 12u : 14u);
    for (int f = 0; f < kFlagCount; ++f) {
      EXPECT_EQ(HashRecords(blocks, kFlags[f]), kGolden[row][f]) << "flags " << kFlags[f];
    }
  }
}

}  // namespace
