// Legal moves against a brute-force generator over random games, and perft against the
// public counts (the deep ones run in bench/perft_bench); the board's fatal move checks.
#include "board/move_generation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "perft_support.h"
#include "test_support.h"

namespace {

// Brute force on an 8x8 array: pseudo-legal moves, each kept when the own
// king is not attacked afterwards. Nothing here uses the generator's map or steps.
struct Grid {
  int c[8][8];  // [rank][file], piece code or 0
};
// Diagonal, straight, knight.
const int kSteps[16][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}, {1, 0},  {-1, 0}, {0, 1},   {0, -1},
                           {1, 2}, {2, 1},  {-1, 2}, {-2, 1},  {1, -2}, {2, -1}, {-1, -2}, {-2, -1}};

bool OnBoard(int r, int f) { return r >= 0 && r < 8 && f >= 0 && f < 8; }

bool Attacks(const Grid& g, int pr, int pf, int tr, int tf) {
  int v = g.c[pr][pf], kind = PieceKind(v), dr = tr - pr, df = tf - pf;
  if (kind == 0) return dr == ((v & kWhiteBit) ? 1 : -1) && std::abs(df) == 1;
  if (kind == 1) return std::abs(dr * df) == 2;
  if (kind == 5) return std::max(std::abs(dr), std::abs(df)) == 1;
  bool diag = dr != 0 && std::abs(dr) == std::abs(df), straight = (dr == 0) != (df == 0);
  if (!((diag && kind != 3) || (straight && kind != 2))) return false;
  int sr = (dr > 0) - (dr < 0), sf = (df > 0) - (df < 0);
  for (int r = pr + sr, f = pf + sf; r != tr || f != tf; r += sr, f += sf)
    if (g.c[r][f] != 0) return false;
  return true;
}

bool Attacked(const Grid& g, int tr, int tf, bool by_white) {
  for (int s = 0; s < 64; ++s) {
    int v = g.c[s >> 3][s & 7];
    if (v != 0 && ((v & kWhiteBit) != 0) == by_white && Attacks(g, s >> 3, s & 7, tr, tf)) return true;
  }
  return false;
}

bool KingAttacked(const Grid& g, bool white) {
  int s = 0;
  while (s < 64 && g.c[s >> 3][s & 7] != (white ? kWK : kZK)) s++;
  return s < 64 && Attacked(g, s >> 3, s & 7, !white);
}

Grid ToGrid(const Ccc& b) {
  Grid g{};
  for (int s = 0; s < 64; ++s) {
    int v = CccCell(&b, MailboxSquare(s >> 3, s & 7));
    g.c[s >> 3][s & 7] = (v & kAnyPiece) ? v : 0;
  }
  return g;
}

std::vector<uint32_t> BruteMoves(const Ccc& b) {
  Grid g = ToGrid(b);
  bool w = b.wtm;
  int own = w ? kWhiteBit : kBlackBit, fwd = w ? 1 : -1, kr = w ? 0 : 7;
  std::vector<uint32_t> out;
  auto add = [&](int fr, int ff, int tr, int tf, uint32_t flags) {
    int victim = g.c[tr][tf];
    if ((victim & own) || victim == kWK || victim == kZK) return;
    Grid h = g;
    h.c[tr][tf] = h.c[fr][ff];
    h.c[fr][ff] = 0;
    if (flags & kMoveEp) h.c[fr][tf] = 0;
    if (KingAttacked(h, w)) return;
    uint32_t m = MakeMove(MailboxSquare(fr, ff), MailboxSquare(tr, tf)) | flags;
    bool promotes = PieceKind(g.c[fr][ff]) == 0 && (tr == 7 || tr == 0);
    for (uint32_t p = promotes ? 1 : 0; p <= (promotes ? 4u : 0u); ++p)
      out.push_back(m | p << kMovePromoShift);
  };
  for (int r = 0; r < 8; ++r)
    for (int f = 0; f < 8; ++f) {
      int v = g.c[r][f], kind = PieceKind(v);
      if (v == 0 || !(v & own)) continue;
      if (kind == 0) {
        if (g.c[r + fwd][f] == 0) {
          add(r, f, r + fwd, f, 0);
          if (r == (w ? 1 : 6) && g.c[r + 2 * fwd][f] == 0) add(r, f, r + 2 * fwd, f, 0);
        }
        for (int tf : {f - 1, f + 1}) {
          if (!OnBoard(r + fwd, tf)) continue;
          if (g.c[r + fwd][tf] != 0) add(r, f, r + fwd, tf, 0);
          else if (b.eps == MailboxSquare(r + fwd, tf)) add(r, f, r + fwd, tf, kMoveEp);
        }
        continue;
      }
      int lo = kind == 1 ? 8 : kind == 3 ? 4 : 0, hi = kind == 1 ? 16 : kind == 2 ? 4 : 8;
      for (int i = lo; i < hi; ++i)
        for (int tr = r + kSteps[i][0], tf = f + kSteps[i][1]; OnBoard(tr, tf);
             tr += kSteps[i][0], tf += kSteps[i][1]) {
          add(r, f, tr, tf, 0);
          if (kind == 1 || kind == 5 || g.c[tr][tf] != 0) break;
        }
    }
  // Castling: rights, empty squares, not in check, nothing attacked on the king's way.
  bool may = !KingAttacked(g, w);
  auto safe = [&](int f) { return g.c[kr][f] == 0 && !Attacked(g, kr, f, !w); };
  if ((w ? b.castS : b.casts) && may && safe(5) && safe(6)) out.push_back(w ? kCastleWS : kCastleZS);
  if ((w ? b.castL : b.castl) && may && g.c[kr][1] == 0 && safe(2) && safe(3))
    out.push_back(w ? kCastleWL : kCastleZL);
  return out;
}

// The counts of depths 1, 2, ... (standard) or of the one depth given.
struct PerftCase {
  const char* fen;
  int first_depth;
  std::vector<uint64_t> counts;
};

const PerftCase kCases[] = {
    {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 1, {20, 400, 8902, 197281}},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
     1,
     {48, 2039, 97862, 4085603}},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", 1, {14, 191, 2812, 43238, 674624}},
    {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", 1, {6, 264, 9467, 422333}},
    {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", 1, {44, 1486, 62379}},
    // The reference table misprints "2B1P3": these are the counts with the bishop on g4.
    {"r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10", 1, {46, 2079, 89890}},
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

TEST(GenMoves, AgreesWithBruteForceOverRandomGames) {
  uint32_t seed = 12345;
  int positions = 0;
  for (int game = 0; game < 120; ++game) {
    Ccc b = FenBoard(kCases[game % std::size(kCases)].fen);  // the perft positions
    for (int ply = 0; ply < 80; ++ply) {
      uint32_t moves[kCccMaxMoves];
      int n = CccGenMoves(&b, moves);
      EXPECT_EQ(moves[n], 0u);
      std::vector<uint32_t> got(moves, moves + n), want = BruteMoves(b);
      EXPECT_EQ(CccInCheck(&b) != 0, KingAttacked(ToGrid(b), b.wtm));
      std::sort(got.begin(), got.end());
      std::sort(want.begin(), want.end());
      ASSERT_EQ(got, want) << "game " << game << " ply " << ply;
      ++positions;
      if (n == 0) break;
      seed = seed * 1103515245u + 12345u;
      CccDoMove(&b, moves[(seed >> 8) % n]);  // a fault in the piece lists shows next ply
    }
  }
  EXPECT_GT(positions, 5000);
}

TEST(Perft, MatchesTheReferenceCounts) {
  for (const PerftCase& c : kCases) {
    for (size_t i = 0; i < c.counts.size(); i++) {
      int depth = c.first_depth + static_cast<int>(i);
      EXPECT_EQ(Perft(FenBoard(c.fen), depth), c.counts[i]) << c.fen << " depth " << depth;
    }
  }
}

TEST(BoardDeath, MovesThatDoNotFitTheBoardAreFatal) {
  const char* kW = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
  const char* kZ = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1";
  const char* const kCases[][4] = {
      {kW, "e7", "e5", "CheckMove: not white piece"},
      {kW, "e1", "e2", "CheckMove: not zwart victim"},
      {"4k3/3P4/8/8/8/8/8/4K3 w - - 0 1", "d7", "e8", "CheckMove: victim is ZK"},
      {kZ, "e2", "e4", "CheckMove: not zwart piece"},
      {"4r2k/8/8/8/8/8/8/4K3 w - - 0 1", nullptr, nullptr, "CheckMove: nullmove while in check"},
  };
  auto sq = [](const char* name) { return MailboxSquare(name[1] - '1', name[0] - 'a'); };
  for (const auto& c : kCases) {
    Ccc b = FenBoard(c[0]);
    EXPECT_FATAL(CccDoMove(&b, c[1] != nullptr ? MakeMove(sq(c[1]), sq(c[2])) : kNullMove), c[3]);
  }
}

}  // namespace
