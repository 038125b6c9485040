#include "builder/values.h"

#include <gtest/gtest.h>

#include <string>

#include "builder/build_driver.h"
#include "support/console.h"
#include "builder/progress.h"
#include "index/names.h"
#include "builder/work_names.h"
#include "index/basis.h"

TEST(ValuesTest, PlyToValueByte) {
  EXPECT_EQ(ValueOfPly(0), 0);    // checkmate
  EXPECT_EQ(ValueOfPly(1), 1);    // mate in one
  EXPECT_EQ(ValueOfPly(2), 1);
  EXPECT_EQ(ValueOfPly(69), 35);  // KQKR's longest
  EXPECT_EQ(ValueOfPly(505), 253);
  EXPECT_EQ(ValueOfPly(506), 253);
  EXPECT_EQ(ValueOfPly(507), 254);
  EXPECT_EQ(ValueOfPly(509), 254);  // saturates, never 255
  EXPECT_EQ(ValueOfPly(899), 254);
  // A White conversion into a loss of Black in v wins in v + 1 moves; a
  // Black conversion into a White win in v loses in v moves.
  for (int v = 0; v < 253; v++) {
    EXPECT_EQ(ValueOfPly(ConvPlyW(v)), v + 1);
    EXPECT_EQ(ValueOfPly(ConvPlyZ(v)), v);
    EXPECT_EQ(PassK(ConvPlyW(v)), v);
    EXPECT_EQ(PassK(ConvPlyZ(v)), v);
  }
  EXPECT_EQ(PassK(899), 255);
  EXPECT_EQ(PassK(898), 255);
}

TEST(ValuesTest, ConversionFileBlocksOfWhite) {
  // maxbcwply 15 or less: pass 15 reads the pass -1 pair and rewrites nothing.
  EXPECT_EQ(ConvModeW(15, 15), 1);
  EXPECT_TRUE(ConvDoneW(15, 1, 15));
  EXPECT_EQ(ConvModeW(17, 15), 0);
  // maxbcwply 21: pass 15 writes BCB015 and is done with BCB-01; passes 17
  // to 21 read BCB015, and pass 21 removes it.
  EXPECT_EQ(ConvModeW(1, 21), 1);
  EXPECT_EQ(ConvReadPassW(1), -1);
  EXPECT_EQ(ConvModeW(15, 21), 2);
  EXPECT_EQ(ConvReadPassW(15), -1);
  EXPECT_TRUE(ConvDoneW(15, 2, 21));
  SetWorkName("KQKR");
  EXPECT_EQ(std::string(FlocName(kTagConvBits, ConvReadPassW(15))), "KQKR/BCB-01");
  for (int n = 17; n <= 21; n += 2) {
    EXPECT_EQ(ConvModeW(n, 21), 1);
    EXPECT_EQ(ConvReadPassW(n), 15);
    EXPECT_EQ(ConvDoneW(n, 1, 21), n == 21);
  }
  EXPECT_EQ(ConvModeW(23, 21), 0);
  EXPECT_FALSE(ConvDoneW(23, 0, 21));
  // Rewritten only when a later pass still needs the pair.
  EXPECT_EQ(ConvModeW(31, 32), 1);
  EXPECT_EQ(ConvModeW(31, 33), 2);
  EXPECT_EQ(ConvReadPassW(47), 31);
}

TEST(ValuesTest, ConversionFileBlocksOfBlack) {
  EXPECT_EQ(ConvReadPassZ(2), 0);
  EXPECT_EQ(ConvReadPassZ(16), 0);
  EXPECT_EQ(ConvReadPassZ(18), 16);
  EXPECT_EQ(ConvReadPassZ(32), 16);
  EXPECT_EQ(ConvReadPassZ(34), 32);
  EXPECT_EQ(ConvModeZ(16, 17), 1);
  EXPECT_EQ(ConvModeZ(16, 18), 2);
  EXPECT_EQ(ConvModeZ(20, 18), 0);
  EXPECT_TRUE(ConvDoneZ(18, 1, 18));
  EXPECT_FALSE(ConvDoneZ(14, 1, 18));
}

TEST(ValuesTest, BothLayoutsHoldTheSameEntries) {
  for (const char* name : {"KQK", "KPK", "KQKR", "KRPKR", "KQRKR"}) {
    Basi b;
    MakeBasi(name, &b);
    EXPECT_EQ(LayoutEntries(b, kWhiteRows), LayoutEntries(b, kBlackRows)) << name;
    EXPECT_EQ(LayoutRows(b, kWhiteRows), b.numw);
    EXPECT_EQ(LayoutColumns(b, kWhiteRows), b.zsize);
    EXPECT_EQ(LayoutRowBytes(b, kBlackRows) * 8, b.wsize);
    EXPECT_EQ(LayoutBitmapBytes(b, kWhiteRows) * 8, LayoutEntries(b, kWhiteRows));
  }
  EXPECT_EQ(NewfLayout(0), kBlackRows);
  EXPECT_EQ(NewfLayout(1), kWhiteRows);
  EXPECT_EQ(AllLayout(-1), kBlackRows);
  EXPECT_EQ(AllLayout(0), kWhiteRows);
  EXPECT_EQ(AllLayout(3), kBlackRows);
  EXPECT_EQ(ConvLayout(-1), kBlackRows);
  EXPECT_EQ(ConvLayout(15), kBlackRows);
  EXPECT_EQ(ConvLayout(16), kWhiteRows);
  EXPECT_EQ(FinLayout(41), kWhiteRows);
  EXPECT_EQ(FinLayout(40), kBlackRows);
}

TEST(ValuesTest, CountersCarryTheOpenTotalsOfEachSide) {
  RunInit();
  g_run.wmopen = 100;
  g_run.wnopen = 800;
  g_run.zmopen = 50;
  g_run.znopen = 200;
  g_prog = ProgState{};
  CountRestore(kWhite);
  CountResolve(3, 8);
  CountResolve(2, 4);
  EXPECT_FALSE(CountFoundNothing());
  CountStore(kWhite);
  EXPECT_EQ(g_run.wmopen, 95);
  EXPECT_EQ(g_run.wnopen, 800 - 24 - 8);
  EXPECT_EQ(g_run.zmopen, 50);
  g_prog = ProgState{};
  CountRestore(kBlack);
  EXPECT_TRUE(CountFoundNothing());
  CountAdd(10, 6, 2);
  CountStore(kBlack);
  EXPECT_EQ(g_prog.resolved_weighted, 20);
  EXPECT_EQ(g_run.zmopen, 56);
  EXPECT_EQ(g_run.znopen, 212);
}
