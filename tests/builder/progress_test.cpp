// The progress line's counts past 2^32, as six- and seven-man passes reach
// them: kept exactly and printed in full, wider where they must be.
#include "builder/progress.h"

#include <gtest/gtest.h>

#include <string>

TEST(Progress, CountsPastTwoToThe32AccumulateAndPrintInFull) {
  // 2^32 + 17; KQQKQQ's positions (8 x 10 x 64^5) and a seven-man table's (8 x 10 x 64^6).
  EXPECT_EQ(ProgCount(4294967313.0), " 4294,967313");
  EXPECT_EQ(ProgCount(85899345920.0), "85899,345920");
  EXPECT_EQ(ProgCount(5497558138880.0), "5497558,138880");
  ProgState prog{};
  for (int row = 0; row < 8; row++) ProgTick(prog, 1 << 30);  // rows of 5 white men, Black's layout
  EXPECT_EQ(prog.done + prog.pending, 8589934592.0);
  prog.cache_display = 1;  // probes and block loads of the sub-endgame cache
  prog.cache_probes = 5e12;
  prog.cache_loads = 3e9;
  const std::string line = ProgText(prog, 0);
  EXPECT_EQ(line.substr(line.size() - 22), " 5000000000k3000000000");
}
