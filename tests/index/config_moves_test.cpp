// The un-move, quiet-move and move-counting generators of the passes and
// their fast check tests against the full move generator and the board's
// attack tests, in both directions.
#include "index/config_moves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board/move_generation.h"
#include "entry_walk.h"
#include "index/move_counter.h"
#include "index/position_index.h"

namespace {

// The quiet moves of the side to move, as the configurations of that side
// they reach.
std::vector<Ccc> QuietSuccessors(const Ccc& board) {
  uint32_t moves[kCccMaxMoves];
  int n = CccGenMoves(&board, moves);
  std::vector<Ccc> out;
  for (int i = 0; i < n; i++) {
    if (CccCell(&board, MoveTo(moves[i])) != kEmpty || (moves[i] & kMoveSpecial) != 0) continue;
    Ccc next;
    CccDoMove(const_cast<Ccc*>(&board), moves[i], &next);
    out.push_back(next);
  }
  return out;
}

int Unmove(bool white, int32_t h, const Ccc* board, int32_t* out) {
  return white ? UnmoveW(h, board, out) : UnmoveZ(h, board, out);
}

// Every quiet move from a legal position reaches a position whose un-move
// list holds the origin; every legal predecessor listed has the quiet move.
std::string CheckUnmoves(const Basi& b, const Entry& e, int wtm) {
  Ccc origin;
  if (!HashToCccp(e.hashw, e.hashz, &b, wtm, &origin)) return "-";
  bool white = wtm == 1;
  int32_t out[kConfigMovesMax];
  for (const Ccc& next : QuietSuccessors(origin)) {
    int32_t hw = HashOfSide(next, true), hz = HashOfSide(next, false);
    Ccc decoded;
    if (HashToCccp(hw, hz, &b, !wtm, &decoded) != 1) return "successor does not decode";
    int k = Unmove(white, white ? hw : hz, &decoded, out);
    if (std::find(out, out + k, white ? e.hashw : e.hashz) == out + k)
      return "successor does not un-move to the origin";
  }
  int k = Unmove(!white, white ? e.hashz : e.hashw, &origin, out);
  int32_t other_side = HashOfSide(origin, white);
  for (int i = 0; i < k; i++) {
    Ccc before;
    if (!HashToCccp(white ? other_side : out[i], white ? out[i] : other_side, &b, !wtm, &before))
      continue;
    bool found = false;
    for (const Ccc& next : QuietSuccessors(before)) {
      found |= HashOfSide(next, !white) == (white ? e.hashz : e.hashw);
    }
    if (!found) return "predecessor o" + std::to_string(out[i]) + " has no quiet move here";
  }
  return "";
}

TEST(Unmove, AgreesWithTheGenerator) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK", "KRPKP", "KPPKP", "KQKRP",
                            "KNPKBP"})
    CheckEntries(name, -1, 5e4, 15000, CheckUnmoves);
}

// QuietZ lists the generator's quiet black moves, and besides them only
// moves that leave the black king attacked.
std::string CheckQuietZ(const Basi& b, const Entry& e, int) {
  Ccc board;
  if (!HashToCccp(e.hashw, e.hashz, &b, 0, &board)) return "-";
  int32_t out[kConfigMovesMax];
  std::vector<int32_t> listed(out, out + QuietZ(e.hashz, &board, out)), legal;
  for (const Ccc& next : QuietSuccessors(board)) legal.push_back(HashOfSide(next, false));
  std::sort(listed.begin(), listed.end());
  std::sort(legal.begin(), legal.end());
  bool ok = std::adjacent_find(listed.begin(), listed.end()) == listed.end() &&
            std::includes(listed.begin(), listed.end(), legal.begin(), legal.end());
  Ccc plain = board;
  plain.eps = 0;
  for (int32_t h : listed) {
    Ccc next;
    if (std::binary_search(legal.begin(), legal.end(), h)) continue;
    ok &= HashToCccp(HashOfSide(plain, true), h, &b, 1, &next) == 0;
  }
  return ok ? "" : "QuietZ differs from the generator";
}

TEST(QuietZ, AgreesWithTheGenerator) {
  for (const char* name : {"KQK", "KPKP", "KRKP", "KBNK", "KRPKP", "KQKRP", "KPKPP", "KNPKBP"})
    CheckEntries(name, 0, 3e5, 50000, CheckQuietZ);
}

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
  for (const char* name :
       {"KQK", "KPK", "KPKP", "KRKP", "KBNK", "KQKR", "KRBKN", "KNPKQ", "KBBKP"})
    CheckEntries(name, -1, 3e5, 60000, CheckInChk);
}

// ZtmGen's count and its list of moves that leave the material (captures,
// en passant, promotions) against the full generator.
std::string CheckZtmGen(const Basi& b, const Entry& e, int) {
  Ccc board;
  if (!HashToCccp(e.hashw, e.hashz, &b, 0, &board)) return "-";
  uint32_t fast[kZtmGenMaxList], full[kCccMaxMoves];
  int n = ZtmGen(&board, fast);
  int m = CccGenMoves(&board, full);
  std::vector<uint32_t> listed(fast, std::find(fast, fast + kZtmGenMaxList, 0u)), leaving;
  for (uint32_t mv : std::vector<uint32_t>(full, full + m))
    if ((CccCell(&board, MoveTo(mv)) & kWhiteBit) || (mv & kMoveEp) || MovePromo(mv) != 0)
      leaving.push_back(mv);
  std::sort(listed.begin(), listed.end());
  std::sort(leaving.begin(), leaving.end());
  if (n != m) return "count " + std::to_string(n) + " vs " + std::to_string(m);
  return listed == leaving ? "" : "listed moves differ";
}

// The larger ones bring pins, blocks, checks by every piece, promotions and
// en passant.
TEST(ZtmGen, AgreesWithTheGenerator) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK", "KQKN", "KQKRP", "KRBKN",
                            "KRPKP", "KBNKQ", "KQKPP", "KNPKBP"})
    CheckEntries(name, 0, 3e5, 80000, CheckZtmGen);
}

}  // namespace
