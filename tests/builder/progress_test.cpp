// The progress line's counts past 2^32, as a six- or seven-man pass reaches
// them: accumulated exactly and printed in full (wider where they must be).
#include "builder/progress.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Progress, CountsPastTwoToThe32AccumulateAndPrintInFull) {
  const struct {
    double count;
    const char* text;
  } cases[] = {
      {999999, "      999999"},
      {4294967313.0, " 4294,967313"},      // 2^32 + 17
      {85899345920.0, "85899,345920"},     // KQQKQQ's positions: 8 x 10 x 64^5
      {5497558138880.0, "5497558,138880"}, // a seven-man table's: 8 x 10 x 64^6
  };
  for (const auto& c : cases) EXPECT_STREQ(ProgCount(c.count), c.text);
  // A black-row pass of five white men ticks 2^30 entries a row.
  ProgState prog{};
  for (int row = 0; row < 8; row++) ProgTick(prog, 1 << 30);
  EXPECT_EQ(prog.done + prog.pending, 8589934592.0);
  // Probes and block loads of the sub-endgame cache.
  prog.cache_display = 1;
  prog.cache_probes = 5e12;
  prog.cache_loads = 3e9;
  const std::string line = ProgText(prog, 0);
  EXPECT_EQ(line.substr(line.size() - 21), "5000000000k3000000000");
}

}  // namespace
