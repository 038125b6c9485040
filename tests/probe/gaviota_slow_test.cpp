// The three-man databases against an independent reference: the Gaviota
// tables of Debian's gaviotatb package, read by its own probing library.
#include <gtest/gtest.h>

#include <cctype>

#include "gaviota_reference.h"
#include "probe_support.h"
#include "test_support.h"

namespace {

// Every placement of the kings and one man, the man White's or Black's (whose
// wins come from the colour-swapped database), either side to move.
TEST(GaviotaSlow, EveryThreeManPositionAgrees) {
#ifndef ZOK_GAVIOTA_TABLES
  GTEST_SKIP() << "the gaviotatb and libgaviotatb-dev packages are not installed";
#else
  ASSERT_TRUE(GaviotaOpen()) << "no three-man tables in " ZOK_GAVIOTA_TABLES;
  Tb tb = OpenTb(BuiltDatabases({"KQK", "KRK", "KBK", "KNK", "KPK", "KKQ", "KKR", "KKB", "KKN", "KKP"}));
  int checked = 0, wrong = 0;
  std::string first;  // the first disagreement: the man, then wk + 64 bk + 4096 sq + 2^18 stm
  for (char man : std::string("QRBNPqrbnp")) {
    const bool pawn = std::tolower(man) == 'p';
    for (int i = 0; i < 2 * 64 * 64 * 64; i++) {
      const unsigned wk = i & 63, bk = i >> 6 & 63, sq = i >> 12 & 63, stm = i >> 18;
      if (wk == bk || sq == wk || sq == bk || (pawn && (sq < 8 || sq >= 56))) continue;
      std::string want = GaviotaValue(wk, bk, man, sq, stm == 0);
      zok_position pos = {
          3, {'K', 'k', man}, {(unsigned char)wk, (unsigned char)bk, (unsigned char)sq}, stm == 0, -1,
          0};
      zok_value v;
      std::string got = zok_probe(tb.get(), &pos, &v) != ZOK_OK ? "illegal"
                        : v.outcome == ZOK_DRAW                 ? "draw"
                        : v.outcome == ZOK_WIN                  ? "win " + std::to_string(v.plies)
                        : v.outcome == ZOK_LOSS                 ? "loss " + std::to_string(v.plies)
                                                                : "unknown";
      if (got != want && wrong++ == 0) first = man + std::to_string(i) + ": " + got + " != " + want;
      checked += got != "illegal";
    }
  }
  EXPECT_EQ(wrong, 0) << first;
  EXPECT_EQ(checked, 3891168);
#endif
}

}  // namespace
