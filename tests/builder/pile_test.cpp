#include "builder/pile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "builder/build_driver.h"
#include "support/checked_ops.h"
#include "index/names.h"
#include "builder/work_names.h"
#include "index/position_index.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

// A small made-up geometry: 37 white-row rows of 256 columns, 74 black-row
// rows of 128 columns (the pile only looks at these four figures).
void SetGeometry() {
  memset(&g_basi, 0, sizeof g_basi);
  strcpy(g_basi.name, "TST");
  g_basi.numw = 37;
  g_basi.zsize = 256;
  g_basi.numz = 74;
  g_basi.wsize = 128;
  SetWorkName("TST");
  PlatMkdir("TST");
}

std::vector<uint8_t> ReadJar(const std::string& path) {
  JILE* f = FileRopen(path.c_str());
  std::vector<uint8_t> bytes;
  for (int c; (c = JarGetc(f)) >= 0;) bytes.push_back(static_cast<uint8_t>(c));
  FileClose(f);
  return bytes;
}

std::vector<uint8_t> ChopBytes(const std::vector<std::pair<uint32_t, uint32_t>>& records) {
  ChopStream w;
  ChopCreate(&w, "TST/CODES");
  for (auto [column, row] : records) PilePutHaha(PileKey(column, row), &w);
  ChopCloseWriter(&w);
  return ReadJar("TST/CODES");
}

std::vector<uint64_t> ChopRecords(const std::string& path) {
  ChopStream r;
  ChopOpenReader(&r, path.c_str());
  std::vector<uint64_t> keys;
  for (uint64_t k; PileGet(&r, &k);) keys.push_back(k);
  ChopCloseReader(&r);
  return keys;
}

bool AnyChopLeft() {
  return !PlatFindFiles("TST/L*").empty();
}

class PileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd_ = std::make_unique<ScopedCwd>(dir_.path());
    SetGeometry();
  }
  void TearDown() override { cwd_.reset(); }
  TempDir dir_;
  std::unique_ptr<ScopedCwd> cwd_;
};

}  // namespace

TEST(PileSortTest, MatchesStandardSortForManySizesAndShapes) {
  std::mt19937_64 rng(7);
  for (int32_t n : {0, 1, 2, 10, 11, 12, 499, 500, 501, 4000, 70000}) {
    for (int shape = 0; shape < 4; shape++) {
      std::vector<uint64_t> v(n);
      for (auto& x : v) {
        uint64_t r = rng();
        // Shapes: full keys; one row only (the radix skips the row bytes);
        // few distinct values (many equal keys); small rows and columns.
        if (shape == 1) r = PileKey(static_cast<uint32_t>(r), 12345);
        if (shape == 2) r = PileKey(r % 7, r % 3);
        if (shape == 3) r = PileKey(r % 5000, (r >> 32) % 40);
        x = r;
      }
      std::vector<uint64_t> want = v;
      std::sort(want.begin(), want.end());
      PileSort(v.data(), n, 7);
      ASSERT_EQ(v, want) << "n " << n << " shape " << shape;
    }
  }
}

TEST(PileSortTest, DescendingInputIsSorted) {
  std::vector<uint64_t> v(20000);
  for (size_t i = 0; i < v.size(); i++) v[i] = PileKey(7 * (v.size() - i), (v.size() - i) / 100);
  std::vector<uint64_t> want = v;
  std::sort(want.begin(), want.end());
  PileSort(v.data(), static_cast<int32_t>(v.size()), 7);
  EXPECT_EQ(v, want);
}

TEST(PileSortTest, InsertionSortRefusesRecordsFarFromTheirPlace) {
  std::vector<uint64_t> v(20);
  for (int i = 0; i < 20; i++) v[i] = i + 1;
  v[15] = 0;  // must move back 15 places
  EXPECT_FATAL(SubInsert(v.data(), 0, 20), "SubInsert: 15 -> 0");
}

TEST(PileCodeTest, CodeLengthsAtTheBoundaries) {
  struct Case {
    uint32_t v;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {0, {0}},
      {127, {127}},
      {128, {128, 128}},
      {8191, {159, 255}},
      {8192, {160, 32, 0}},
      {2097151, {191, 255, 255}},
      {2097152, {192, 0, 32, 0, 0}},
      {0xffffffffu, {192, 255, 255, 255, 255}},
  };
  for (const Case& c : cases) {
    uint8_t out[5];
    int n = ChopPutCode(c.v, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + n), c.bytes) << c.v;
  }
}

TEST_F(PileTest, ChopStreamBytesAndRoundTripAtTheBoundaries) {
  // Same-row gaps give even codes 2 x gap; new rows give 4 x rows + 1 (or
  // + 3 for a column below the run's base) and then 2 x distance.
  std::vector<std::pair<uint32_t, uint32_t>> records = {
      {0, 0},                 // code 0
      {64, 0},                // gap 64 -> code 128
      {100, 0},               // gap 36 -> 72
      {40, 1},                // row +1 below base 64... base is 0: +1 above
      {10, 32},               // row +31, below base 40: 127, distance 30 -> 60
      {4105, 32},             // gap 4095 -> 8190 (two bytes)
      {4106, 2080},           // row +2048 above base 10: 8193, 4096 -> 8192
      {1052682, 2080},        // gap 1048576 -> 2097152 (five bytes)
      {1052682, 2080},        // repeated record: code 0
  };
  std::vector<uint8_t> want = {
      0,                       //
      128, 128,                // 128
      72,                      //
      5, 80,                   // row 1 (4 + 1), distance 40 -> 80
      127, 60,                 // 31 x 4 + 3 = 127
      159, 254,                // 8190
      160, 32, 1, 160, 32, 0,  // 8193, then 8192
      192, 0, 32, 0, 0,        // 2097152
      0,                       //
  };
  EXPECT_EQ(ChopBytes(records), want);
  std::vector<uint64_t> back = ChopRecords("TST/CODES");
  ASSERT_EQ(back.size(), records.size());
  for (size_t i = 0; i < records.size(); i++) {
    EXPECT_EQ(back[i], PileKey(records[i].first, records[i].second)) << i;
  }
}

TEST_F(PileTest, RowCodeMarksAColumnBelowTheBase) {
  // A same-row record leaves the base column alone; a new row sets it.
  EXPECT_EQ(ChopBytes({{100, 1}, {40, 2}}), (std::vector<uint8_t>{5, 128, 200, 7, 120}));
  EXPECT_EQ(ChopRecords("TST/CODES"),
            (std::vector<uint64_t>{PileKey(100, 1), PileKey(40, 2)}));
}

TEST_F(PileTest, LongStreamsCrossTheBufferRefills) {
  std::mt19937 rng(3);
  std::vector<std::pair<uint32_t, uint32_t>> records;
  uint32_t row = 0, column = 0;
  for (int i = 0; i < 5000; i++) {
    if (rng() % 4 == 0) {
      row += 1 + rng() % 3000000;
      column = rng() % 0x40000000;
    } else {
      column += rng() % 300;
    }
    records.emplace_back(column, row);
  }
  ChopBytes(records);
  std::vector<uint64_t> back = ChopRecords("TST/CODES");
  ASSERT_EQ(back.size(), records.size());
  for (size_t i = 0; i < records.size(); i++) {
    ASSERT_EQ(back[i], PileKey(records[i].first, records[i].second)) << i;
  }
}

TEST_F(PileTest, WriterRefusesRecordsOutOfOrder) {
  ChopStream w;
  ChopCreate(&w, "TST/BAD");
  PilePutHaha(PileKey(5, 3), &w);
  EXPECT_FATAL(PilePutHaha(PileKey(9, 2), &w), "PilePutHaha: hi gap < 0");
}

TEST_F(PileTest, EqualRecordsInOneBufferStop) {
  // Sorted: (3,0) (5,1) (5,1); the later copy is record 2.
  EXPECT_FATAL(
      {
        PileOpen(10);
        PilePush(5, 1);
        PilePush(3, 0);
        PilePush(5, 1);
        PileClose();
      },
      "PipTest: fail at 2");
}

// Pushes records and checks the NEWF file against a bitmap set directly.
void CheckPile(int32_t capacity, const std::vector<std::pair<uint32_t, uint32_t>>& pushes,
               Layout layout, int pass) {
  int32_t rows = LayoutRows(g_basi, layout), columns = LayoutColumns(g_basi, layout);
  std::vector<uint8_t> want(static_cast<size_t>(rows) * columns / 8, 0);
  PileOpen(capacity);
  for (auto [column, row] : pushes) {
    PilePush(column, row);
    BitSet(want.data() + static_cast<size_t>(row) * columns / 8, column);
  }
  PileClose();
  NewfWrite(pass, layout);
  std::vector<uint8_t> got = ReadJar(FlocName(kTagNew, pass));
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); i++) ASSERT_EQ(got[i], want[i]) << "byte " << i;
  EXPECT_FALSE(AnyChopLeft());
}

TEST_F(PileTest, RandomSetsOfManySizesGiveTheTransposedBitmap) {
  std::mt19937 rng(11);
  for (Layout layout : {kWhiteRows, kBlackRows}) {
    int32_t rows = LayoutRows(g_basi, layout), columns = LayoutColumns(g_basi, layout);
    // Sizes and capacities chosen for 0 to 115 chops, up to three merge levels.
    const std::pair<int, int32_t> runs[] = {{0, 1},   {1, 1},    {5, 1},    {6, 1},
                                            {29, 1},  {30, 1},   {31, 1},   {31, 5},
                                            {150, 5}, {150, 7},  {800, 7},  {800, 64},
                                            {3000, 64}, {3000, 3001}};
    for (auto [size, capacity] : runs) {
      {
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
  }
}

TEST_F(PileTest, TheSameRecordInTwoChopsSetsOneBit) {
  // Capacity 4: the first four records fill chop 0, the repeats land in
  // chop 1 and chop 2.
  CheckPile(4, {{1, 0}, {2, 0}, {3, 5}, {200, 36}, {3, 5}, {1, 0}, {7, 7}, {200, 36}, {3, 5}},
            kWhiteRows, 3);
}

TEST_F(PileTest, SixChopsMergeIntoTwoAndFiveDoNot) {
  PileOpen(1);
  for (uint32_t i = 0; i < 5; i++) PilePush(i, i);
  PileFlush();
  MergLevel();
  EXPECT_EQ(g_pile.level, 0);
  EXPECT_EQ(g_pile.chops, 5);
  EXPECT_TRUE(JarExists("TST/L0C00004"));
  PilePush(40, 5);
  PileClose();
  MergLevel();
  EXPECT_EQ(g_pile.level, 1);
  EXPECT_EQ(g_pile.chops, 2);
  EXPECT_EQ(g_pile.level_files[0], 6);
  EXPECT_EQ(g_pile.level_files[1], 2);
  EXPECT_FALSE(JarExists("TST/L0C00000"));
  EXPECT_EQ(ChopRecords("TST/L1C00000"),
            (std::vector<uint64_t>{PileKey(0, 0), PileKey(1, 1), PileKey(2, 2), PileKey(3, 3),
                                   PileKey(4, 4)}));
  EXPECT_EQ(ChopRecords("TST/L1C00001"), (std::vector<uint64_t>{PileKey(40, 5)}));
  NewfWrite(2, kBlackRows);
  EXPECT_FALSE(AnyChopLeft());
}

TEST_F(PileTest, ManyChopsNeedSeveralMergeLevels) {
  // 200 single-record chops: 200 -> 40 -> 8 -> 2 chops on level 3.
  std::vector<std::pair<uint32_t, uint32_t>> pushes;
  for (uint32_t i = 0; i < 200; i++) pushes.emplace_back((i * 37) % 256, (i * 11) % 37);
  std::set<uint64_t> unique;
  for (auto [c, r] : pushes) unique.insert(PileKey(c, r));
  ASSERT_EQ(unique.size(), pushes.size());
  CheckPile(1, pushes, kWhiteRows, 5);
  EXPECT_EQ(g_pile.level, 3);
  EXPECT_EQ(g_pile.level_files[1], 40);
  EXPECT_EQ(g_pile.level_files[2], 8);
  EXPECT_EQ(g_pile.level_files[3], 2);
}

TEST_F(PileTest, AnEmptyPileWritesAnAllZeroFile) {
  CheckPile(100, {}, kBlackRows, 4);
  EXPECT_EQ(g_pile.level_files[0], 0);
}

TEST_F(PileTest, StaleChopsOfAnInterruptedRunAreRemoved) {
  PileOpen(1);
  for (uint32_t i = 0; i < 8; i++) PilePush(i, 0);
  PileFlush();
  // The pass stops here; its rerun (a new process) opens the pile again.
  ASSERT_TRUE(JarExists("TST/L0C00007"));
  SysFree(g_pile.buffer);
  CheckPile(3, {{1, 1}}, kWhiteRows, 9);
}

namespace {

// A property of a position that every board symmetry keeps: the distances
// (in king steps) between all its pieces.
bool Chosen(int32_t hashw, int32_t hashz, const Basi& b) {
  int sq[8], n = 0;
  for (int i = b.nw - 1; i >= 0; i--) sq[n++] = (hashw >> (6 * i)) & 63;
  for (int i = b.nz - 1; i >= 0; i--) sq[n++] = (hashz >> (6 * i)) & 63;
  int sum = 0;
  for (int i = 0; i < n; i++) {
    for (int j = i + 1; j < n; j++) {
      int dr = std::abs(sq[i] / 8 - sq[j] / 8), df = std::abs(sq[i] % 8 - sq[j] % 8);
      sum += (i + 1) * (j + 2) * std::max(dr, df);
    }
  }
  return sum % 3 == 0;
}

// Pushes every chosen legal position of one side, given in its working
// layout, and checks the NEWF file in the other layout against the entries
// that decode to a chosen legal position.
void CheckTransposition(const char* name, bool white_to_move) {
  MakeBasi(name, &g_basi);
  SetWorkName("TST");
  const Basi& b = g_basi;
  Ccc board;
  Layout from = white_to_move ? kBlackRows : kWhiteRows;
  Layout to = white_to_move ? kWhiteRows : kBlackRows;
  PileOpen(40000);  // a few chops, one merge level for KRKN
  for (int32_t r = 0; r < LayoutRows(b, from); r++) {
    int32_t own = white_to_move ? UnreduceZ(r, &b) : UnreduceW(r, &b);
    for (int32_t c = 0; c < LayoutColumns(b, from); c++) {
      int32_t hashw = white_to_move ? c : own, hashz = white_to_move ? own : c;
      if (!HashToCccp(hashw, hashz, &b, white_to_move ? 1 : 0, &board)) continue;
      if (!Chosen(hashw, hashz, b)) continue;
      if (white_to_move) {
        PileAddZ(c, hashz);
      } else {
        PileAddW(hashw, c);
      }
    }
  }
  PileClose();
  NewfWrite(white_to_move ? 1 : 2, to);
  std::vector<uint8_t> got = ReadJar(FlocName(kTagNew, white_to_move ? 1 : 2));
  int32_t columns = LayoutColumns(b, to);
  ASSERT_EQ(got.size(), LayoutBitmapBytes(b, to));
  int64_t set = 0;
  for (int32_t r = 0; r < LayoutRows(b, to); r++) {
    int32_t own = white_to_move ? UnreduceW(r, &b) : UnreduceZ(r, &b);
    for (int32_t c = 0; c < columns; c++) {
      int32_t hashw = white_to_move ? own : c, hashz = white_to_move ? c : own;
      bool want = HashToCccp(hashw, hashz, &b, white_to_move ? 1 : 0, &board) &&
                  Chosen(hashw, hashz, b);
      bool bit = BitTest(got.data() + static_cast<size_t>(r) * columns / 8, c);
      ASSERT_EQ(bit, want) << name << " row " << r << " column " << c;
      set += bit;
    }
  }
  EXPECT_GT(set, 0);
}

}  // namespace

// Each position reaches the pile once per entry that stands for it in the
// pass's layout; positions with a king on a long diagonal have two such
// entries there, and two in the target layout when the other king is on the
// a1-h8 diagonal. Every entry of the target layout must come out set, and
// no record may reach one buffer twice.
TEST_F(PileTest, ResultsLandOnEveryEntryOfTheirPositionInTheOtherLayout) {
  for (const char* name : {"KQK", "KRKN"}) {
    CheckTransposition(name, true);
    CheckTransposition(name, false);
  }
}
