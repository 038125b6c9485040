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

// On boards where both sides are placed, legal or not, the fast check tests
// agree with the board's attack tests on the kings' squares.
std::string CheckInChk(const Basi& b, const Entry& e, int wtm) {
  Ccc board;
  int placed = wtm ? HashToWtmSetW(e.hashw, &b, &board) : HashToZtmSetW(e.hashw, &b, &board);
  if (!placed || !HashPlaceZ(e.hashz, &b, &board)) return "-";
  bool same = InChkW(&board) == AttackedByZ(&board, board.wsqr[0]) &&
              InChkZ(&board) == AttackedByW(&board, board.zsqr[0]);
  return same ? "" : "InChkW or InChkZ differs";
}

TEST(InChk, AgreesWithTheAttackTests) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK"}) {
    CheckEntries(name, -1, 3e5, 100000, CheckInChk);
  }
  for (const char* name : {"KQKR", "KRBKN", "KNPKQ", "KBBKP"}) {
    CheckEntries(name, -1, 0, 40000, CheckInChk);
  }
}

// ZtmGen's count and its list of moves that leave the material (captures,
// en passant, promotions) against the full generator.
std::string CheckZtmGen(const Basi& b, const Entry& e, int) {
  Ccc board;
  if (!HashToCccp(e.hashw, e.hashz, &b, 0, &board)) return "-";
  uint32_t fast[kZtmGenMaxList], full[kCccMaxMoves];
  int n = ZtmGen(&board, fast);
  int m = CccGenMoves(&board, full);
  std::vector<uint32_t> listed, leaving;
  for (int i = 0; fast[i] != 0; i++) listed.push_back(fast[i]);
  for (int i = 0; i < m; i++) {
    uint32_t mv = full[i];
    if ((CccCell(&board, MoveTo(mv)) & kWhiteBit) || (mv & kMoveEp) || MovePromo(mv) != 0) {
      leaving.push_back(mv);
    }
  }
  std::sort(listed.begin(), listed.end());
  std::sort(leaving.begin(), leaving.end());
  if (n != m) return "count " + std::to_string(n) + " vs " + std::to_string(m);
  return listed == leaving ? "" : "listed moves differ";
}

// The larger ones bring pins, blocks, checks by every piece, promotions and
// en passant.
TEST(ZtmGen, AgreesWithTheGenerator) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK", "KQKN"}) {
    CheckEntries(name, 0, 3e5, 100000, CheckZtmGen);
  }
  for (const char* name : {"KQKRP", "KRBKN", "KRPKP", "KBNKQ", "KQKPP", "KNPKBP"}) {
    CheckEntries(name, 0, 0, 60000, CheckZtmGen);
  }
}

}  // namespace
