#include "index/move_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "board/move_generation.h"
#include "entry_walk.h"
#include "index/position_index.h"
#include "test_support.h"

namespace {

TEST(Relation, AgreesWithTheGeometryOfEverySquarePair) {
  for (int k = 0; k < 64; k++) {
    for (int p = 0; p < 64; p++) {
      if (p == k) continue;
      int df = (p & 7) - (k & 7), dr = (p >> 3) - (k >> 3);
      int d = kMailboxOfSq[p] - kMailboxOfSq[k];
      uint8_t r = Relation(d);
      bool knight = (abs(df) == 1 && abs(dr) == 2) || (abs(df) == 2 && abs(dr) == 1);
      bool diagonal = abs(df) == abs(dr);
      bool straight = df == 0 || dr == 0;
      if (knight) {
        ASSERT_TRUE(r & kRelKnight) << k << " " << p;
        EXPECT_EQ(kKnightJumps[(r & kRelDirMask) - 8], d);
      }
      if (diagonal || straight) {
        ASSERT_TRUE(r & (diagonal ? kRelDiagonal : kRelStraight)) << k << " " << p;
        int v = kLineDirs[r & kRelDirMask];
        int steps = std::max(abs(df), abs(dr));
        EXPECT_EQ(v * steps, d) << k << " " << p;
      }
    }
  }
  EXPECT_EQ(Relation(0), 0);
  EXPECT_EQ(Relation(13), 0);
  EXPECT_EQ(Relation(78), 0);
  EXPECT_EQ(Relation(-77), kRelDiagonal | 1);
}

// Boards where both sides are placed, legal or not: the fast check tests
// agree with the board's attack tests on the kings' squares.
void CheckInChk(const char* name, double limit, int samples) {
  Basi b;
  MakeBasi(name, &b);
  int failures = 0;
  for (int wtm = 0; wtm < 2; wtm++) {
    ForEachEntry(b, wtm, limit, samples, [&](const Entry& e) {
      if (failures > 5) return;
      Ccc board;
      int placed = wtm ? HashToWtmSetW(e.hashw, &b, &board) : HashToZtmSetW(e.hashw, &b, &board);
      if (!placed || !HashPlaceZ(e.hashz, &b, &board)) return;
      int w = InChkW(&board), z = InChkZ(&board);
      int aw = AttackedByZ(&board, board.wsqr[0]), az = AttackedByW(&board, board.zsqr[0]);
      if (w != aw || z != az) {
        ADD_FAILURE() << EntryText(b, e) << " InChkW " << w << " vs " << aw << ", InChkZ " << z
                      << " vs " << az;
        failures++;
      }
    });
  }
}

TEST(InChk, AgreesWithTheAttackTests) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK"}) CheckInChk(name, 3e5, 100000);
  for (const char* name : {"KQKR", "KRBKN", "KNPKQ", "KBBKP"}) CheckInChk(name, 0, 40000);
}

TEST(InChk, AdjacentKings) {
  Ccc board;
  std::string text(64, '.');
  text[8 * 4 + 4] = 'k';  // e4
  text[8 * 4 + 5] = 'K';  // f4
  CccSetString(text.c_str(), &board);
  EXPECT_EQ(InChkW(&board), -1);
  EXPECT_EQ(InChkZ(&board), 1);
  text[8 * 4 + 0] = 'R';  // a4 attacks e4 as well
  CccSetString(text.c_str(), &board);
  EXPECT_EQ(InChkZ(&board), 2);
}

bool IsLeaving(const Ccc& board, uint32_t m) {
  return (CccCell(&board, MoveTo(m)) & kWhiteBit) || (m & kMoveEp) || MovePromo(m) != 0;
}

// ZtmGen's count and list against the full generator on a legal
// black-to-move board; returns a failure text or "".
std::string CompareWithGenerator(const Ccc& board) {
  uint32_t fast[kZtmGenMaxList], full[kCccMaxMoves];
  int n = ZtmGen(&board, fast);
  int m = CccGenMoves(&board, full);
  std::vector<uint32_t> listed, leaving;
  for (int i = 0; fast[i] != 0; i++) listed.push_back(fast[i]);
  for (int i = 0; i < m; i++) {
    if (IsLeaving(board, full[i])) leaving.push_back(full[i]);
  }
  std::sort(listed.begin(), listed.end());
  std::sort(leaving.begin(), leaving.end());
  if (n != m) return "count " + std::to_string(n) + " vs " + std::to_string(m);
  if (listed != leaving) return "listed moves differ";
  return "";
}

void CheckZtmGen(const char* name, double limit, int samples) {
  Basi b;
  MakeBasi(name, &b);
  int failures = 0;
  double legal = 0;
  ForEachEntry(b, 0, limit, samples, [&](const Entry& e) {
    if (failures > 5) return;
    Ccc board;
    if (!HashToCccp(e.hashw, e.hashz, &b, 0, &board)) return;
    legal++;
    std::string why = CompareWithGenerator(board);
    if (!why.empty()) {
      ADD_FAILURE() << EntryText(b, e) << " " << why;
      failures++;
    }
  });
  EXPECT_GT(legal, 0) << name;
}

TEST(ZtmGen, AgreesWithTheGeneratorOnSmallEndgames) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK", "KQKN"}) {
    CheckZtmGen(name, 3e5, 100000);
  }
}

// Pins, blocks, checks by every piece, promotions and en passant.
TEST(ZtmGen, AgreesWithTheGeneratorOnSampledLargerEndgames) {
  for (const char* name : {"KQKRP", "KRBKN", "KRPKP", "KBNKQ", "KQKPP", "KNPKBP"}) {
    CheckZtmGen(name, 0, 60000);
  }
}

TEST(ZtmGen, CornerKingAgainstQueen) {
  Ccc board;
  std::string text(64, '.');
  text[0] = 'k';   // a8
  text[60] = 'Q';  // e1
  text[63] = 'K';  // h1
  CccSetString(text.c_str(), &board);
  uint32_t moves[kZtmGenMaxList];
  EXPECT_EQ(ZtmGen(&board, moves), 3);
  EXPECT_EQ(moves[0], 0u);
  text[60] = '.';
  text[17] = 'Q';  // b6: stalemate
  CccSetString(text.c_str(), &board);
  EXPECT_EQ(ZtmGen(&board, moves), 0);
  EXPECT_EQ(InChkZ(&board), 0);
  text[17] = '.';
  text[8] = 'Q';   // a7, guarded by the king on b6: mate
  text[63] = '.';
  text[17] = 'K';
  CccSetString(text.c_str(), &board);
  EXPECT_EQ(ZtmGen(&board, moves), 0);
  EXPECT_EQ(InChkZ(&board), -10);
}

TEST(ZtmGen, PawnOnTheSecondRankListsPromotions) {
  Ccc board;
  std::string text(64, '.');
  text[0] = 'k';          // a8
  text[8 * 6 + 4] = 'p';  // e2
  text[8 * 7 + 3] = 'N';  // d1
  text[8 * 7 + 7] = 'K';  // h1
  CccSetString(text.c_str(), &board);
  uint32_t moves[kZtmGenMaxList];
  int n = ZtmGen(&board, moves);
  int listed = 0;
  while (moves[listed] != 0) listed++;
  EXPECT_EQ(listed, 8);
  EXPECT_EQ(n, 8 + 3);  // and the king's three squares
  EXPECT_EQ(moves[0], (15u << 24 | 4u | 4u << 8));
}

TEST(ZtmGen, CheckLineThatEndsOnABlackPieceIsFatal) {
  Ccc board;
  std::string text(64, '.');
  text[0] = 'k';          // a8
  text[8 * 7 + 0] = 'r';  // a1
  text[8 * 7 + 7] = 'K';  // h1
  CccSetString(text.c_str(), &board);
  // A board whose white list claims the black rook.
  board.wsqr[1] = 1;
  board.wsqr[2] = 0;
  uint32_t moves[kZtmGenMaxList];
  EXPECT_FATAL(ZtmGen(&board, moves), "ChkPawnZ: in check not Ok");
}

}  // namespace
