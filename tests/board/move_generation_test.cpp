// Legal move generation: the orders the generator promises, the special
// rules, and a cross-check against a plain brute-force generator over
// positions of random games.
#include "board/move_generation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "board/board_display.h"
#include "perft_support.h"
#include "test_support.h"

namespace {

std::vector<uint32_t> Gen(const Ccc& b) {
  uint32_t moves[kCccMaxMoves];
  int n = CccGenMoves(&b, moves);
  EXPECT_EQ(moves[n], 0u);
  return std::vector<uint32_t>(moves, moves + n);
}

// The moves as notation texts, in generated order.
std::string Texts(const Ccc& b) {
  std::string out;
  for (uint32_t m : Gen(b)) {
    if (!out.empty()) out += '|';
    out += CccMoveText(m, &b);
  }
  return out;
}

int Sq(const char* name) { return MailboxSquare(name[1] - '1', name[0] - 'a'); }
uint32_t Mv(const char* from, const char* to, uint32_t flags = 0) {
  return MakeMove(Sq(from), Sq(to)) | flags;
}

TEST(GenMoves, InitialPositionPawnByPawnThenKnights) {
  Ccc b;
  CccSetString(kInitialPosition, &b);
  EXPECT_EQ(Texts(b),
            " a2-a3  | a2-a4  | b2-b3  | b2-b4  | c2-c3  | c2-c4  | d2-d3  | d2-d4  |"
            " e2-e3  | e2-e4  | f2-f3  | f2-f4  | g2-g3  | g2-g4  | h2-h3  | h2-h4  |"
            "Nb1-c3  |Nb1-a3  |Ng1-h3  |Ng1-f3  ");
}

TEST(GenMoves, CastlingNeverCrossesAnAttackedSquare) {
  Ccc b = FenBoard("3r3k/8/8/8/8/8/8/R3K2R w KQ - 0 1");
  std::vector<uint32_t> m = Gen(b);
  EXPECT_EQ(m.front(), kCastleWS);  // castling comes first
  EXPECT_EQ(std::count(m.begin(), m.end(), kCastleWL), 0);
  // Black, rook on f1 covering f8: long castling only.
  b = FenBoard("r3k2r/8/8/8/8/8/8/K4R2 b kq - 0 1");
  m = Gen(b);
  EXPECT_EQ(m.front(), kCastleZL);
  EXPECT_EQ(std::count(m.begin(), m.end(), kCastleZS), 0);
  // b1 attacked does not matter, b1 occupied does.
  b = FenBoard("1r5k/8/8/8/8/8/8/R3K3 w Q - 0 1");
  EXPECT_EQ(Gen(b).front(), kCastleWL);
  b = FenBoard("7k/8/8/8/8/8/8/RN2K3 w Q - 0 1");
  m = Gen(b);
  EXPECT_EQ(std::count(m.begin(), m.end(), kCastleWL), 0);
  // Not out of check.
  b = FenBoard("4r2k/8/8/8/8/8/8/R3K2R w KQ - 0 1");
  m = Gen(b);
  EXPECT_EQ(std::count(m.begin(), m.end(), kCastleWL) + std::count(m.begin(), m.end(), kCastleWS), 0);
}

TEST(GenMoves, PinnedPiecesKeepToThePinLine) {
  // Bishop pinned on the e-file: no bishop move at all.
  Ccc b = FenBoard("4r2k/8/8/8/8/8/4B3/4K3 w - - 0 1");
  EXPECT_EQ(Texts(b), "Ke1-f2  |Ke1-d2  |Ke1-f1  |Ke1-d1  ");
  // Rook pinned on the e-file: along the file only, the pinner included.
  b = FenBoard("4r2k/8/8/8/8/8/4R3/4K3 w - - 0 1");
  EXPECT_EQ(Texts(b),
            "Re2-e3  |Re2-e4  |Re2-e5  |Re2-e6  |Re2-e7  |Re2xe8+ |Ke1-f2  |Ke1-d2  |"
            "Ke1-f1  |Ke1-d1  ");
  // Pawn pinned diagonally: it may take the pinner and may not advance.
  b = FenBoard("7k/8/8/8/8/5b2/4P3/3K4 w - - 0 1");
  EXPECT_EQ(Texts(b), " e2xf3  |Kd1-c2  |Kd1-d2  |Kd1-e1  |Kd1-c1  ");
  // Knight pinned diagonally: frozen.
  b = FenBoard("7k/8/8/8/8/5b2/4N3/3K4 w - - 0 1");
  EXPECT_EQ(Texts(b), "Kd1-c2  |Kd1-d2  |Kd1-e1  |Kd1-c1  ");
}

TEST(GenMoves, DoubleCheckLeavesOnlyKingMoves) {
  // Rook e8 and knight d3 both give check; the rook on a3 could take the
  // knight but must not, and the king may not go to f2 (knight) or e2.
  Ccc b = FenBoard("4r2k/8/8/8/8/R2n4/8/4K3 w - - 0 1");
  ASSERT_EQ(CccInCheck(&b), 2);
  EXPECT_EQ(Texts(b), "Ke1-d2  |Ke1-f1  |Ke1-d1  ");
}

TEST(GenMoves, KnightCheckIsAnsweredByCaptureOrKingMove) {
  Ccc b = FenBoard("7k/8/8/8/8/3n4/8/RB2K3 w Q - 0 1");
  ASSERT_EQ(CccInCheck(&b), Sq("d3") - Sq("e1"));
  EXPECT_EQ(Texts(b), "Bb1xd3  |Ke1-d2  |Ke1-e2  |Ke1-f1  |Ke1-d1  ");
}

TEST(GenMoves, SingleCheckOrderPawnsPiecesKing) {
  // Bishop b4 checks along c3-d2: the pawn blocks on c3, the a3 pawn takes
  // the checker, knight and rook block, then the king steps aside.
  Ccc b = FenBoard("6k1/8/8/8/1b6/P7/2P4R/1N2K3 w - - 0 1");
  EXPECT_EQ(Texts(b),
            " c2-c3  | a3xb4  |Nb1-c3  |Nb1-d2  |Rh2-d2  |Ke1-f2  |Ke1-e2  |Ke1-f1  |"
            "Ke1-d1  ");
  // Bishop a5: the double advance b2-b4 blocks as well.
  b = FenBoard("7k/8/8/b7/8/8/1PP5/4K1N1 w - - 0 1");
  EXPECT_EQ(Texts(b), " c2-c3  | b2-b4  |Ke1-f2  |Ke1-e2  |Ke1-f1  |Ke1-d1  ");
  // Black, rook e1 checking along the file: the f2 pawn takes it with the
  // four promotions; the king moves keep the table's direction order.
  b = FenBoard("4k3/8/8/8/8/8/5p2/4R2K b - - 0 1");
  EXPECT_EQ(Texts(b),
            " f2xe1Q+| f2xe1R+| f2xe1B | f2xe1N |Ke8-d7  |Ke8-f7  |Ke8-f8  |Ke8-d8  ");
}

TEST(GenMoves, EnPassantThatOpensTheRankIsRefused) {
  // Black has just played c7-c5; b5xc6 would clear the fifth rank.
  Ccc b;
  CccSetString("........"
               "........"
               "..e....."
               "KPp....r"
               "........"
               "........"
               "........"
               "....k...w",
               &b);
  ASSERT_EQ(b.eps, Sq("c6"));
  std::vector<uint32_t> m = Gen(b);
  EXPECT_EQ(std::count(m.begin(), m.end(), Mv("b5", "c6", kMoveEp)), 0);
  // Without the rook the capture comes first.
  b = FenBoard("8/8/8/KPp5/8/8/8/4k3 w - c6 0 1");
  EXPECT_EQ(Gen(b).front(), Mv("b5", "c6", kMoveEp));
}

TEST(GenMoves, EnPassantOrderAndCheckResolution) {
  // Both neighbours may take; the pawn from the lower file comes first
  // for White (origin e - 11 then e - 9).
  Ccc b = FenBoard("4k3/8/8/2PpP3/8/8/8/4K3 w - d6 0 1");
  std::vector<uint32_t> m = Gen(b);
  ASSERT_GE(m.size(), 2u);
  EXPECT_EQ(m[0], Mv("c5", "d6", kMoveEp));
  EXPECT_EQ(m[1], Mv("e5", "d6", kMoveEp));
  // Black: origins e + 9 then e + 11.
  b = FenBoard("4k3/8/8/8/3pPp2/8/8/4K3 b - e3 0 1");
  m = Gen(b);
  EXPECT_EQ(m[0], Mv("d4", "e3", kMoveEp));
  EXPECT_EQ(m[1], Mv("f4", "e3", kMoveEp));
  // The double-stepped pawn gives check: taking it en passant resolves it.
  b = FenBoard("8/8/8/3pP3/4K3/8/8/7k w - d6 0 1");
  ASSERT_EQ(CccInCheck(&b), Sq("d5") - Sq("e4"));
  m = Gen(b);
  EXPECT_EQ(m[0], Mv("e5", "d6", kMoveEp));
}

TEST(GenMoves, SeventhRankPawnGivesTwelvePromotions) {
  Ccc b = FenBoard("1n1n3k/2P5/8/8/8/8/8/K7 w - - 0 1");
  std::vector<uint32_t> m = Gen(b);
  ASSERT_GE(m.size(), 12u);
  const uint32_t q = kPromoQ << kMovePromoShift, r = kPromoR << kMovePromoShift,
                 bb = kPromoB << kMovePromoShift, n = kPromoN << kMovePromoShift;
  std::vector<uint32_t> want = {Mv("c7", "d8", q), Mv("c7", "d8", r), Mv("c7", "d8", bb),
                                Mv("c7", "d8", n), Mv("c7", "b8", q), Mv("c7", "b8", r),
                                Mv("c7", "b8", bb), Mv("c7", "b8", n), Mv("c7", "c8", q),
                                Mv("c7", "c8", r), Mv("c7", "c8", bb), Mv("c7", "c8", n)};
  EXPECT_EQ(std::vector<uint32_t>(m.begin(), m.begin() + 12), want);
  // Black promotes on the first rank in the same order.
  b = FenBoard("k7/8/8/8/8/8/2p5/1N1N3K b - - 0 1");
  m = Gen(b);
  EXPECT_EQ(m[0], Mv("c2", "b1", q));
  EXPECT_EQ(m[3], Mv("c2", "b1", n));
  EXPECT_EQ(m[4], Mv("c2", "d1", q));
  EXPECT_EQ(m[8], Mv("c2", "c1", q));
}

TEST(GenMoves, MateAndStalemateGiveNoMoves) {
  Ccc mate = FenBoard("R5k1/5ppp/8/8/8/8/8/6K1 b - - 0 1");
  EXPECT_TRUE(Gen(mate).empty());
  EXPECT_NE(CccInCheck(&mate), 0);
  Ccc stale = FenBoard("7k/5Q2/8/8/8/8/8/6K1 b - - 0 1");
  EXPECT_TRUE(Gen(stale).empty());
  EXPECT_EQ(CccInCheck(&stale), 0);
}

TEST(GenMoves, BoardIsLeftUnchanged) {
  Ccc b = FenBoard("8/8/8/KPp4r/8/8/8/4k3 w - c6 0 1");
  Ccc before = b;
  Gen(b);
  EXPECT_EQ(memcmp(&b, &before, sizeof b), 0);
}

TEST(GenMoves, SideWithoutAKingIsNeverInCheck) {
  // A set-up text may lack a king; slot 0 then holds 0, which must not be
  // taken for a king on the border.
  Ccc b = FenBoard("7k/8/8/8/8/8/8/R7 w - - 0 1");
  Ccc before = b;
  EXPECT_EQ(CccInCheck(&b), 0);
  EXPECT_EQ(Gen(b).size(), 14u);
  EXPECT_EQ(memcmp(&b, &before, sizeof b), 0);
  b = FenBoard("r7/8/8/8/8/8/8/7K b - - 0 1");
  EXPECT_EQ(CccInCheck(&b), 0);
  EXPECT_EQ(Gen(b).size(), 14u);
  // The side to move keeps its king moves when the other king is missing.
  b = FenBoard("8/8/8/8/8/8/8/7K w - - 0 1");
  EXPECT_EQ(Gen(b).size(), 3u);
}

TEST(GenMovesDeath, EvasionGeneratorsRefuseAStepToNoEnemy) {
  Ccc b = FenBoard("4k3/8/8/8/8/8/4R3/4K3 w - - 0 1");
  uint8_t map[kCccCells] = {};
  uint32_t moves[kCccMaxMoves];
  EXPECT_FATAL(PawnChkW(&b, map, 10, moves), "PawnChkW: in check not Ok");
  b = FenBoard("4k3/4r3/8/8/8/8/8/4K3 b - - 0 1");
  EXPECT_FATAL(PawnChkZ(&b, map, -10, moves), "PawnChkZ: in check not Ok");
}

// ---------------------------------------------------------------------
// Brute force: pseudo-legal moves on an 8x8 array, each kept when the own
// king is not attacked afterwards, attacks found piece by piece from
// coordinates. Nothing here uses the generator's map or steps.

struct Grid {
  int c[8][8];  // [rank][file], piece code or 0
};

Grid ToGrid(const Ccc& b) {
  Grid g{};
  for (int r = 0; r < 8; ++r)
    for (int f = 0; f < 8; ++f) {
      int v = CccCell(&b, MailboxSquare(r, f));
      g.c[r][f] = (v & kAnyPiece) ? v : 0;
    }
  return g;
}

bool OnBoard(int r, int f) { return r >= 0 && r < 8 && f >= 0 && f < 8; }

bool Attacks(const Grid& g, int pr, int pf, int tr, int tf) {
  int v = g.c[pr][pf];
  int dr = tr - pr, df = tf - pf;
  int kind = PieceKind(v);
  bool white = v & kWhiteBit;
  if (dr == 0 && df == 0) return false;
  switch (kind) {
    case 0: return dr == (white ? 1 : -1) && std::abs(df) == 1;
    case 1: return std::abs(dr * df) == 2;
    case 5: return std::abs(dr) <= 1 && std::abs(df) <= 1;
    default: break;
  }
  bool diag = std::abs(dr) == std::abs(df);
  bool straight = dr == 0 || df == 0;
  if (!((diag && (kind == 2 || kind == 4)) || (straight && (kind == 3 || kind == 4)))) return false;
  int sr = (dr > 0) - (dr < 0), sf = (df > 0) - (df < 0);
  for (int r = pr + sr, f = pf + sf; r != tr || f != tf; r += sr, f += sf)
    if (g.c[r][f] != 0) return false;
  return true;
}

bool SquareAttackedBy(const Grid& g, int tr, int tf, bool by_white) {
  for (int r = 0; r < 8; ++r)
    for (int f = 0; f < 8; ++f) {
      int v = g.c[r][f];
      if (v != 0 && ((v & kWhiteBit) != 0) == by_white && Attacks(g, r, f, tr, tf)) return true;
    }
  return false;
}

bool KingAttacked(const Grid& g, bool white) {
  int king = white ? kWK : kZK;
  for (int r = 0; r < 8; ++r)
    for (int f = 0; f < 8; ++f)
      if (g.c[r][f] == king) return SquareAttackedBy(g, r, f, !white);
  return false;
}

std::vector<uint32_t> BruteMoves(const Ccc& b) {
  Grid g = ToGrid(b);
  bool w = b.wtm;
  int own = w ? kWhiteBit : kBlackBit;
  std::vector<uint32_t> out;
  auto add = [&](int fr, int ff, int tr, int tf, uint32_t flags) {
    int victim = g.c[tr][tf];
    if (victim != 0 && (victim & own)) return;
    if (victim == kWK || victim == kZK) return;
    Grid h = g;
    h.c[tr][tf] = h.c[fr][ff];
    h.c[fr][ff] = 0;
    if (flags & kMoveEp) h.c[fr][tf] = 0;
    if (KingAttacked(h, w)) return;
    uint32_t m = MakeMove(MailboxSquare(fr, ff), MailboxSquare(tr, tf)) | flags;
    if (PieceKind(g.c[fr][ff]) == 0 && (tr == 7 || tr == 0)) {
      for (int p = 1; p <= 4; ++p) out.push_back(m | static_cast<uint32_t>(p) << kMovePromoShift);
    } else {
      out.push_back(m);
    }
  };
  static const int kKn[8][2] = {{1, 2}, {2, 1}, {-1, 2}, {-2, 1}, {1, -2}, {2, -1}, {-1, -2}, {-2, -1}};
  static const int kDirs[8][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}};
  for (int r = 0; r < 8; ++r)
    for (int f = 0; f < 8; ++f) {
      int v = g.c[r][f];
      if (v == 0 || !(v & own)) continue;
      int kind = PieceKind(v);
      if (kind == 0) {
        int fwd = w ? 1 : -1;
        int start = w ? 1 : 6;
        if (OnBoard(r + fwd, f) && g.c[r + fwd][f] == 0) {
          add(r, f, r + fwd, f, 0);
          if (r == start && g.c[r + 2 * fwd][f] == 0) add(r, f, r + 2 * fwd, f, 0);
        }
        for (int df : {-1, 1}) {
          int tr = r + fwd, tf = f + df;
          if (!OnBoard(tr, tf)) continue;
          if (g.c[tr][tf] != 0) add(r, f, tr, tf, 0);
          else if (b.eps == MailboxSquare(tr, tf)) add(r, f, tr, tf, kMoveEp);
        }
      } else if (kind == 1 || kind == 5) {
        for (int i = 0; i < 8; ++i) {
          int tr = r + (kind == 1 ? kKn[i][0] : kDirs[i][0]);
          int tf = f + (kind == 1 ? kKn[i][1] : kDirs[i][1]);
          if (OnBoard(tr, tf)) add(r, f, tr, tf, 0);
        }
      } else {
        for (int i = 0; i < 8; ++i) {
          if (i < 4 && kind == 3) continue;
          if (i >= 4 && kind == 2) continue;
          for (int tr = r + kDirs[i][0], tf = f + kDirs[i][1]; OnBoard(tr, tf);
               tr += kDirs[i][0], tf += kDirs[i][1]) {
            add(r, f, tr, tf, 0);
            if (g.c[tr][tf] != 0) break;
          }
        }
      }
    }
  // Castling: rights, empty squares, king not in check, nothing attacked
  // on its way.
  int kr = w ? 0 : 7;
  bool by = !w;
  bool in_check = KingAttacked(g, w);
  if ((w ? b.castS : b.casts) && !in_check && g.c[kr][5] == 0 && g.c[kr][6] == 0 &&
      !SquareAttackedBy(g, kr, 5, by) && !SquareAttackedBy(g, kr, 6, by))
    out.push_back(w ? kCastleWS : kCastleZS);
  if ((w ? b.castL : b.castl) && !in_check && g.c[kr][1] == 0 && g.c[kr][2] == 0 &&
      g.c[kr][3] == 0 && !SquareAttackedBy(g, kr, 3, by) && !SquareAttackedBy(g, kr, 2, by))
    out.push_back(w ? kCastleWL : kCastleZL);
  return out;
}

// The lists must hold exactly the squares of the pieces, king in slot 0.
void ExpectListsMatchCells(const Ccc& b) {
  for (int side = 0; side < 2; ++side) {
    const uint8_t* list = side == 0 ? b.wsqr : b.zsqr;
    int bit = side == 0 ? kWhiteBit : kBlackBit;
    std::vector<int> from_list, from_cells;
    for (int i = 0; list[i] != 0; ++i) from_list.push_back(list[i]);
    for (int s = 1; s < 79; ++s)
      if (CccCell(&b, s) & bit) from_cells.push_back(s);
    ASSERT_FALSE(from_list.empty());
    EXPECT_EQ(CccCell(&b, from_list[0]), side == 0 ? kWK : kZK);
    std::sort(from_list.begin(), from_list.end());
    EXPECT_EQ(from_list, from_cells);
  }
}

TEST(GenMoves, AgreesWithBruteForceOverRandomGames) {
  const char* starts[] = {
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
      "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
      "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
      "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P3/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
      "8/8/1k6/2b5/2pP4/8/5K2/8 b - d3 0 1",
      "r3k2r/1b4bq/8/8/8/8/7B/R3K2R w KQkq - 0 1",
  };
  uint32_t seed = 12345;
  int positions = 0;
  for (int game = 0; game < 120; ++game) {
    Ccc b = FenBoard(starts[game % 8]);
    for (int ply = 0; ply < 80; ++ply) {
      std::vector<uint32_t> got = Gen(b);
      std::vector<uint32_t> want = BruteMoves(b);
      EXPECT_EQ(CccInCheck(&b) != 0, KingAttacked(ToGrid(b), b.wtm));
      std::vector<uint32_t> sorted = got;
      std::sort(sorted.begin(), sorted.end());
      std::sort(want.begin(), want.end());
      ASSERT_EQ(sorted, want) << "game " << game << " ply " << ply;
      ++positions;
      if (got.empty()) break;
      seed = seed * 1103515245u + 12345u;
      CccDoMove(&b, got[(seed >> 8) % got.size()]);
      ExpectListsMatchCells(b);
    }
  }
  EXPECT_GT(positions, 5000);
}

TEST(GenMoves, MisprintedReferencePositionHasFortySevenMoves) {
  // The reference table's "2B1P3" variant of the middle-game position.
  Ccc b = FenBoard("r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P3/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10");
  EXPECT_EQ(Gen(b).size(), 47u);
  EXPECT_EQ(BruteMoves(b).size(), 47u);
}

}  // namespace
