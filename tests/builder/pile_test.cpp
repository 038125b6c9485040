// The pile against plain sorts, directly set bitmaps and the position decoder.
#include "builder/pile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "builder/build.h"
#include "builder/work_names.h"
#include "index/position_index.h"
#include "platform/platform.h"
#include "support/checked_ops.h"
#include "test_support.h"

namespace {

std::vector<uint8_t> ReadNewf(int pass) {
  JILE* f = FileRopen(FlocName("TST", kTagNew, pass));
  std::vector<uint8_t> bytes;
  for (int c; (c = JarGetc(f)) >= 0;) bytes.push_back(static_cast<uint8_t>(c));
  FileClose(f);
  return bytes;
}

// A build of "TST" in a fresh directory with a small made-up geometry: 37
// white-row rows of 256 columns, 74 black-row rows of 128 (all the pile needs).
class PileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    strcpy(b_.basi.name, "TST");
    b_.basi.numw = 37;
    b_.basi.zsize = 256;
    b_.basi.numz = 74;
    b_.basi.wsize = 128;
    PlatMkdir("TST");
  }

  // Pushes (column, row) records and checks NEWF against a bitmap set
  // directly, with one thread and with three (which read the chops apart).
  void CheckPile(int32_t capacity, const std::vector<std::pair<uint32_t, uint32_t>>& pushes,
                 Layout layout, int pass) {
    int32_t columns = LayoutColumns(b_.basi, layout);
    std::vector<uint8_t> want(LayoutBitmapBytes(b_.basi, layout), 0);
    for (auto [column, row] : pushes)
      BitSet(want.data() + static_cast<size_t>(row) * columns / 8, column);
    for (int threads : {1, 3}) {
      const int was = PlatSetThreadCount(threads);
      PileOpen(b_, capacity);
      for (auto [column, row] : pushes) PilePush(b_, column, row);
      PileClose(b_);
      NewfWrite(b_, pass, layout);
      PlatSetThreadCount(was);
      ASSERT_EQ(ReadNewf(pass), want) << threads << " threads";
      EXPECT_TRUE(PlatFindFiles("TST/L*").empty());
    }
  }

  TempDir dir_;
  ScopedCwd cwd_{dir_.path()};
  std::unique_ptr<Build> owned_ = std::make_unique<Build>();
  Build& b_ = *owned_;
};

TEST(PileSortTest, BothSortsMatchTheStandardSortForManySizesAndShapes) {
  std::mt19937_64 rng(7);
  for (int32_t n : {0, 1, 2, 10, 11, 12, 499, 500, 501, 4000, 70000}) {
    // Shapes: full keys; one row (the radix skips the row bytes); many equal
    // keys; small rows and columns; descending.
    for (int shape = 0; shape < 5; shape++) {
      std::vector<uint64_t> v(n);
      for (int32_t i = 0; i < n; i++) {
        uint64_t r = rng();
        const uint64_t keys[] = {r, PileKey(static_cast<uint32_t>(r), 12345), PileKey(r % 7, r % 3),
                                 PileKey(r % 5000, (r >> 32) % 40), PileKey(7 * (n - i), (n - i) / 100)};
        v[i] = keys[shape];
      }
      std::vector<uint64_t> want = v, radix = v, scratch(v.size());
      std::sort(want.begin(), want.end());
      PileSort(v.data(), n, 7);
      ASSERT_EQ(v, want) << "n " << n << " shape " << shape;
      const uint64_t* sorted = PileSortRadix(radix.data(), scratch.data(), n);
      ASSERT_TRUE(std::equal(want.begin(), want.end(), sorted)) << "radix n " << n << " shape " << shape;
    }
  }
}

// New rows with columns below and above the base, and gaps of every code length.
TEST_F(PileTest, ChopStreamsRoundTripAcrossBufferRefills) {
  std::mt19937 rng(3);
  std::vector<uint64_t> keys, back;
  uint32_t row = 0, column = 0;
  for (int i = 0; i < 5000; i++) {
    bool new_row = rng() % 4 == 0;
    row += new_row ? 1 + rng() % 3000000 : 0;
    column = new_row ? rng() % 0x40000000 : column + rng() % (i % 3 == 0 ? 3000000 : 300);
    keys.push_back(PileKey(column, row));
  }
  ChopStream w, r;
  ChopCreate(&w, "TST/CODES", nullptr);
  for (uint64_t k : keys) PilePutHaha(k, &w);
  ChopCloseWriter(&w);
  ChopOpenReader(&r, "TST/CODES", nullptr);
  for (uint64_t k; PileGet(&r, &k);) back.push_back(k);
  ChopCloseReader(&r);
  EXPECT_EQ(back, keys);
}

TEST_F(PileTest, RandomSetsGiveTheBitmapOfTheirRecords) {
  std::mt19937 rng(11);
  for (Layout layout : {kWhiteRows, kBlackRows}) {
    int32_t rows = LayoutRows(b_.basi, layout), columns = LayoutColumns(b_.basi, layout);
    // Sizes and capacities for 0 to 200 chops, up to three merge levels.
    for (auto [size, capacity] : {std::pair{0, 1},
                                  {1, 1},
                                  {5, 1},
                                  {6, 1},
                                  {31, 1},
                                  {31, 5},
                                  {150, 7},
                                  {200, 1},
                                  {800, 64},
                                  {3000, 64},
                                  {3000, 3001}}) {
      std::set<uint64_t> used;
      std::vector<std::pair<uint32_t, uint32_t>> pushes;
      while (static_cast<int>(pushes.size()) < size) {
        uint32_t c = rng() % columns, r = rng() % rows;
        if (used.insert(PileKey(c, r)).second) pushes.emplace_back(c, r);
      }
      SCOPED_TRACE(testing::Message() << "size " << size << " capacity " << capacity);
      CheckPile(capacity, pushes, layout, 7);
    }
  }
  // Chops of a pass stopped before its merge are gone when it runs again.
  PileOpen(b_, 1);
  for (uint32_t i = 0; i < 8; i++) PilePush(b_, i, 0);
  PileFlush(b_);
  ASSERT_TRUE(JarExists("TST/L0C00007"));
  SysFree(b_.pile.buffer);
  SysFree(b_.pile.scratch);
  CheckPile(3, {{1, 1}}, kWhiteRows, 9);
}

// A property of a position that every board symmetry keeps: the distances
// (in king steps) between all its pieces.
bool Chosen(int32_t hashw, int32_t hashz, const Basi& b) {
  int sq[8], n = 0, sum = 0;
  for (int i = b.nw - 1; i >= 0; i--) sq[n++] = (hashw >> (6 * i)) & 63;
  for (int i = b.nz - 1; i >= 0; i--) sq[n++] = (hashz >> (6 * i)) & 63;
  for (int i = 0; i < n; i++) {
    for (int j = i + 1; j < n; j++) {
      int dr = std::abs(sq[i] / 8 - sq[j] / 8), df = std::abs(sq[i] % 8 - sq[j] % 8);
      sum += (i + 1) * (j + 2) * std::max(dr, df);
    }
  }
  return sum % 3 == 0;
}

// Each position reaches the pile once per entry of it in the pass's layout; an entry of
// the other layout comes out set exactly when it decodes to a chosen legal position.
TEST_F(PileTest, ResultsLandOnEveryEntryOfTheirPositionInTheOtherLayout) {
  Ccc board;
  for (const char* name : {"KQK", "KRKN"}) {
    for (int wtm : {1, 0}) {
      MakeBasi(name, &b_.basi);
      strcpy(b_.basi.name, "TST");
      const Basi& b = b_.basi;
      // (row, column) of a layout to (hashw, hashz).
      auto hashes = [&](Layout layout, int32_t r, int32_t c) {
        return layout == kWhiteRows ? std::pair{UnreduceW(r, &b), c} : std::pair{c, UnreduceZ(r, &b)};
      };
      Layout from = wtm ? kBlackRows : kWhiteRows, to = wtm ? kWhiteRows : kBlackRows;
      PileOpen(b_, 40000);  // a few chops, one merge level for KRKN
      for (int32_t r = 0; r < LayoutRows(b, from); r++) {
        for (int32_t c = 0; c < LayoutColumns(b, from); c++) {
          auto [hashw, hashz] = hashes(from, r, c);
          if (!HashToCccp(hashw, hashz, &b, wtm, &board) || !Chosen(hashw, hashz, b)) continue;
          wtm ? PileAddZ(b_, c, hashz) : PileAddW(b_, hashw, c);
        }
      }
      PileClose(b_);
      NewfWrite(b_, 2 - wtm, to);
      std::vector<uint8_t> got = ReadNewf(2 - wtm);
      int32_t columns = LayoutColumns(b, to);
      ASSERT_EQ(got.size(), LayoutBitmapBytes(b, to));
      int64_t set = 0;
      for (int32_t r = 0; r < LayoutRows(b, to); r++) {
        for (int32_t c = 0; c < columns; c++) {
          auto [hashw, hashz] = hashes(to, r, c);
          bool want = HashToCccp(hashw, hashz, &b, wtm, &board) && Chosen(hashw, hashz, b);
          bool bit = BitTest(got.data() + static_cast<size_t>(r) * columns / 8, c);
          ASSERT_EQ(bit, want) << name << " row " << r << " column " << c;
          set += bit;
        }
      }
      EXPECT_GT(set, 0);
    }
  }
}

}  // namespace
