// The three-man databases against an independent reference: the Gaviota
// tables of Debian's gaviotatb package, read by its own probing library.
#include <gtest/gtest.h>

#include <cctype>

#include "probe_support.h"
#include "test_support.h"
#ifdef ZOK_GAVIOTA_TABLES
#include <gtb-probe.h>
#endif

namespace {

// Every placement of the kings and one man, the man White's or Black's (whose
// wins come from the colour-swapped database), either side to move: "draw",
// "win N" or "loss N" in plies from the side to move, or "illegal" (Gaviota's
// info is by colour; it forbids touching kings and the side not to move in check).
TEST(GaviotaSlow, EveryThreeManPositionAgrees) {
#ifndef ZOK_GAVIOTA_TABLES
  GTEST_SKIP() << "the gaviotatb and libgaviotatb-dev packages are not installed";
#else
  const char* paths[] = {ZOK_GAVIOTA_TABLES, nullptr};
  tb_init(0, tb_CP4, paths);
  tbcache_init(1 << 20, 10);  // probes fail without a cache
  ASSERT_EQ(tb_availability() & 3, 3u) << "no three-man tables in " ZOK_GAVIOTA_TABLES;
  Tb tb = OpenTb(BuiltDatabases({"KQK", "KRK", "KBK", "KNK", "KPK", "KKQ", "KKR", "KKB", "KKN", "KKP"}));
  int checked = 0, wrong = 0;
  std::string first;  // the first disagreement: the man, then wk + 64 bk + 4096 sq + 2^18 stm
  for (char man : std::string("QRBNPqrbnp")) {
    const bool white_man = std::isupper(man), pawn = std::tolower(man) == 'p';
    for (int i = 0; i < 2 * 64 * 64 * 64; i++) {
      const unsigned wk = i & 63, bk = i >> 6 & 63, sq = i >> 12 & 63, stm = i >> 18;
      if (wk == bk || sq == wk || sq == bk || (pawn && (sq < 8 || sq >= 56))) continue;
      unsigned ws[3] = {wk, tb_NOSQUARE, tb_NOSQUARE}, bs[3] = {bk, tb_NOSQUARE, tb_NOSQUARE}, info, plies;
      unsigned char wp[3] = {tb_KING, tb_NOPIECE, tb_NOPIECE}, bp[3] = {tb_KING, tb_NOPIECE, tb_NOPIECE};
      (white_man ? ws : bs)[1] = sq;
      (white_man ? wp : bp)[1] = static_cast<unsigned char>(tb_PAWN + std::string("pnbrq").find(std::tolower(man)));
      if (!tb_probe_hard(stm, tb_NOSQUARE, tb_NOCASTLE, ws, bs, wp, bp, &info, &plies)) info = tb_UNKNOWN;
      std::string want = info == tb_FORBID ? "illegal" : info == tb_DRAW ? "draw" : info == tb_UNKNOWN ? "unknown"
                       : ((info == tb_WMATE) == (stm == tb_WHITE_TO_MOVE) ? "win " : "loss ") + std::to_string(plies);
      zok_position pos = {3, {'K', 'k', man}, {(unsigned char)wk, (unsigned char)bk, (unsigned char)sq}, stm == 0, -1, 0};
      zok_value v;
      std::string got = zok_probe(tb.get(), &pos, &v) != ZOK_OK ? "illegal" : v.outcome == ZOK_DRAW ? "draw"
                      : v.outcome == ZOK_WIN ? "win " + std::to_string(v.plies)
                      : v.outcome == ZOK_LOSS ? "loss " + std::to_string(v.plies) : "unknown";
      if (got != want && wrong++ == 0) first = man + std::to_string(i) + ": " + got + " != " + want;
      checked += got != "illegal";
    }
  }
  EXPECT_EQ(wrong, 0) << first;
  EXPECT_EQ(checked, 3891168);
#endif
}

}  // namespace
