// The black-to-move counter and the fast check tests against the full move
// generator and the board's attack tests.
#include "index/move_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board/move_generation.h"
#include "entry_walk.h"
#include "index/position_index.h"

namespace {

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

// The larger ones bring pins, blocks, checks by every piece, promotions and
// en passant.
TEST(ZtmGen, AgreesWithTheGenerator) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK", "KQKN"}) {
    CheckZtmGen(name, 3e5, 100000);
  }
  for (const char* name : {"KQKRP", "KRBKN", "KRPKP", "KBNKQ", "KQKPP", "KNPKBP"}) {
    CheckZtmGen(name, 0, 60000);
  }
}

}  // namespace
