// Legal move counts against the public perft figures: the standard
// positions at shallow depths (the deep ones run in bench/perft_bench), the
// special cases (en passant, castling, promotion, checks) at full depth.
#include <gtest/gtest.h>

#include <vector>

#include "perft_support.h"

namespace {

// The counts of depths 1, 2, ... (standard) or of the one depth given.
struct PerftCase {
  const char* fen;
  int first_depth;
  std::vector<uint64_t> counts;
};

const PerftCase kCases[] = {
    {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 1, {20, 400, 8902, 197281}},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 1,
     {48, 2039, 97862, 4085603}},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", 1, {14, 191, 2812, 43238, 674624}},
    {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", 1, {6, 264, 9467, 422333}},
    {"r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1", 1, {6, 264, 9467, 422333}},
    {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", 1, {44, 1486, 62379}},
    // The reference table misprints "2B1P3": these are the counts with the bishop on g4.
    {"r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10", 1,
     {46, 2079, 89890}},
    {"3k4/3p4/8/K1P4r/8/8/8/8 b - - 0 1", 6, {1134888}},
    {"8/8/4k3/8/2p5/8/B2P2K1/8 w - - 0 1", 6, {1015133}},
    {"8/8/1k6/2b5/2pP4/8/5K2/8 b - d3 0 1", 6, {1440467}},
    {"5k2/8/8/8/8/8/8/4K2R w K - 0 1", 6, {661072}},
    {"3k4/8/8/8/8/8/8/R3K3 w Q - 0 1", 6, {803711}},
    {"r3k2r/1b4bq/8/8/8/8/7B/R3K2R w KQkq - 0 1", 4, {1274206}},
    {"r3k2r/8/3Q4/8/8/5q2/8/R3K2R b KQkq - 0 1", 4, {1720476}},
    {"2K2r2/4P3/8/8/8/8/8/3k4 w - - 0 1", 6, {3821001}},
    {"8/8/1P2K3/8/2n5/1q6/8/5k2 b - - 0 1", 5, {1004658}},
    {"4k3/1P6/8/8/8/8/K7/8 w - - 0 1", 6, {217342}},
    {"8/P1k5/K7/8/8/8/8/8 w - - 0 1", 6, {92683}},
    {"K1k5/8/P7/8/8/8/8/8 w - - 0 1", 6, {2217}},
    {"8/k1P5/8/1K6/8/8/8/8 w - - 0 1", 7, {567584}},
    {"8/8/2k5/5q2/5n2/8/5K2/8 b - - 0 1", 4, {23527}},
};

TEST(Perft, MatchesTheReferenceCounts) {
  for (const PerftCase& c : kCases) {
    for (size_t i = 0; i < c.counts.size(); i++) {
      int depth = c.first_depth + static_cast<int>(i);
      EXPECT_EQ(Perft(FenBoard(c.fen), depth), c.counts[i]) << c.fen << " depth " << depth;
    }
  }
}

}  // namespace
