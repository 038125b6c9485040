// The un-move and quiet-move generators of the passes against the full
// move generator, in both directions.
#include "index/config_moves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board/move_generation.h"
#include "entry_walk.h"
#include "index/position_index.h"

namespace {

bool IsQuiet(const Ccc& board, uint32_t m) {
  return CccCell(&board, MoveTo(m)) == kEmpty && (m & kMoveSpecial) == 0;
}

// The quiet moves of the side to move, as the positions they reach.
std::vector<Ccc> QuietSuccessors(const Ccc& board) {
  uint32_t moves[kCccMaxMoves];
  int n = CccGenMoves(&board, moves);
  std::vector<Ccc> out;
  for (int i = 0; i < n; i++) {
    if (!IsQuiet(board, moves[i])) continue;
    Ccc next;
    CccDoMove(const_cast<Ccc*>(&board), moves[i], &next);
    out.push_back(next);
  }
  return out;
}

bool Contains(const int32_t* list, int n, int32_t h) { return std::find(list, list + n, h) != list + n; }

struct Counts {
  double boards = 0;
  double moves = 0;
  int failures = 0;
};

// Every quiet move from a legal position reaches a position whose un-move
// list holds the origin; every legal predecessor that an un-move generator
// lists has that quiet move.
void CheckUnmoves(const char* name, double limit, int samples) {
  Basi b;
  MakeBasi(name, &b);
  Counts n;
  for (int wtm = 0; wtm < 2; wtm++) {
    ForEachEntry(b, wtm, limit, samples, [&](const Entry& e) {
      if (n.failures > 5) return;
      Ccc origin;
      if (!HashToCccp(e.hashw, e.hashz, &b, wtm, &origin)) return;
      n.boards++;
      bool white = wtm == 1;
      int32_t mine = white ? e.hashw : e.hashz;
      int32_t out[kConfigMovesMax];
      // Forwards: the reached position lists the origin.
      for (const Ccc& next : QuietSuccessors(origin)) {
        n.moves++;
        int32_t hw = HashOfSide(next, true), hz = HashOfSide(next, false);
        Ccc decoded;
        if (HashToCccp(hw, hz, &b, !wtm, &decoded) != 1) {
          ADD_FAILURE() << EntryText(b, e) << " successor does not decode";
          n.failures++;
          continue;
        }
        int k = white ? UnmoveW(hw, &decoded, out) : UnmoveZ(hz, &decoded, out);
        if (!Contains(out, k, mine)) {
          ADD_FAILURE() << EntryText(b, e) << " successor o" << std::oct << (white ? hw : hz)
                        << " does not un-move to the origin";
          n.failures++;
        }
      }
      // Backwards: this position is the successor; each legal listed
      // predecessor has the quiet move to it.
      int k = white ? UnmoveZ(e.hashz, &origin, out) : UnmoveW(e.hashw, &origin, out);
      int32_t other_side = white ? HashOfSide(origin, true) : HashOfSide(origin, false);
      for (int i = 0; i < k; i++) {
        Ccc before;
        int32_t hw = white ? other_side : out[i];
        int32_t hz = white ? out[i] : other_side;
        if (!HashToCccp(hw, hz, &b, !wtm, &before)) continue;
        bool found = false;
        for (const Ccc& next : QuietSuccessors(before)) {
          found |= HashOfSide(next, !white) == (white ? e.hashz : e.hashw);
        }
        if (!found) {
          ADD_FAILURE() << EntryText(b, e) << " predecessor o" << std::oct << out[i]
                        << " has no quiet move here";
          n.failures++;
        }
      }
    });
  }
  EXPECT_GT(n.moves, 0) << name;
}

TEST(Unmove, AgreesWithTheGenerator) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK"}) CheckUnmoves(name, 5e4, 12000);
  for (const char* name : {"KRPKP", "KPPKP", "KQKRP", "KNPKBP"}) CheckUnmoves(name, 0, 15000);
}

// QuietZ lists the generator's quiet black moves, and besides them only
// moves that leave the black king attacked.
void CheckQuietZ(const char* name, double limit, int samples) {
  Basi b;
  MakeBasi(name, &b);
  int failures = 0;
  double moves = 0;
  ForEachEntry(b, 0, limit, samples, [&](const Entry& e) {
    if (failures > 5) return;
    Ccc board;
    if (!HashToCccp(e.hashw, e.hashz, &b, 0, &board)) return;
    int32_t out[kConfigMovesMax];
    int k = QuietZ(e.hashz, &board, out);
    std::vector<int32_t> listed(out, out + k), legal;
    for (const Ccc& next : QuietSuccessors(board)) legal.push_back(HashOfSide(next, false));
    moves += static_cast<double>(legal.size());
    std::sort(listed.begin(), listed.end());
    std::sort(legal.begin(), legal.end());
    bool ok = std::adjacent_find(listed.begin(), listed.end()) == listed.end() &&
              std::includes(listed.begin(), listed.end(), legal.begin(), legal.end());
    Ccc plain = board;
    plain.eps = 0;
    int32_t hw = HashOfSide(plain, true);
    for (int32_t h : listed) {
      Ccc next;
      if (!std::binary_search(legal.begin(), legal.end(), h)) ok &= HashToCccp(hw, h, &b, 1, &next) == 0;
    }
    if (!ok) {
      ADD_FAILURE() << EntryText(b, e) << " QuietZ differs from the generator";
      failures++;
    }
  });
  EXPECT_GT(moves, 0) << name;
}

TEST(QuietZ, AgreesWithTheGenerator) {
  for (const char* name : {"KQK", "KPKP", "KRKP", "KBNK"}) CheckQuietZ(name, 3e5, 80000);
  for (const char* name : {"KRPKP", "KQKRP", "KPKPP", "KNPKBP"}) CheckQuietZ(name, 0, 30000);
}

}  // namespace
