// The position index against the board's own square reader and check test:
// decoding, reduction and unreduction of every symmetric image.
#include "index/position_index.h"

#include <gtest/gtest.h>

#include <cstring>

#include "entry_walk.h"

namespace {

// Decoding agrees with the board's own square reader and check test, and
// both candidates of every symmetric image reduce back to the entry.
void CheckTable(const char* name, int wtm, double limit, int samples) {
  Basi b;
  MakeBasi(name, &b);
  bool pawns = b.npawns != 0;
  int32_t rows = wtm ? b.numw : b.numz;
  double legal = 0;
  int failures = 0;
  ForEachEntry(b, wtm, limit, samples, [&](const Entry& e) {
    if (failures > 5) return;
    Ccc board, other;
    int got = HashToCccp(e.hashw, e.hashz, &b, wtm, &board);
    bool want = IndependentBoard(b, e.hashw, e.hashz, wtm, &other);
    if (got != (want ? 1 : 0)) {
      ADD_FAILURE() << EntryText(b, e) << " legal " << got;
      failures++;
      return;
    }
    if (!got) return;
    legal++;
    bool same = memcmp(board.sqrx, other.sqrx, sizeof board.sqrx) == 0 &&
                board.wtm == other.wtm && board.eps == other.eps && board.wsqr[0] == other.wsqr[0] &&
                board.zsqr[0] == other.zsqr[0];
    if (!same) {
      ADD_FAILURE() << EntryText(b, e) << " board differs";
      failures++;
      return;
    }
    for (int g = 0; g < (pawns ? 2 : 8); g++) {
      int32_t hw = 0, hz = 0;
      for (int i = 0; i < b.nw; i++) hw = hw << 6 | SymSquare(e.hashw >> 6 * (b.nw - 1 - i) & 63, g);
      for (int i = 0; i < b.nz; i++) hz = hz << 6 | SymSquare(e.hashz >> 6 * (b.nz - 1 - i) & 63, g);
      int32_t out[4];
      if (wtm) {
        ReduceW(hw, hz, &b, out);
      } else {
        ReduceZ(hw, hz, &b, out);
      }
      bool found = false;
      int valid = 0;
      for (int k = 0; k < 4; k += 2) {
        if (out[k + 1] >= rows) continue;
        valid++;
        found |= out[k + 1] == e.row && out[k] == e.column;
        Ccc again;
        int32_t w = wtm ? UnreduceW(out[k + 1], &b) : out[k];
        int32_t z = wtm ? out[k] : UnreduceZ(out[k + 1], &b);
        bool ok = HashToCccp(w, z, &b, wtm, &again) == 1 && SameUpToSymmetry(board, again, pawns);
        if (!ok) {
          ADD_FAILURE() << EntryText(b, e) << " symmetry " << g << " candidate " << k / 2;
          failures++;
        }
      }
      if (!found || valid == 0) {
        ADD_FAILURE() << EntryText(b, e) << " symmetry " << g << " not reduced back";
        failures++;
      }
    }
  });
  EXPECT_GT(legal, 0) << name;
}

TEST(HashToCccp, EntriesAgreeWithTheBoard) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK"}) {
    for (int wtm = 0; wtm < 2; wtm++) CheckTable(name, wtm, 3e5, 100000);
  }
  for (const char* name : {"KQKR", "KRPKP", "KQKBP", "KPPKP", "KNNKB"}) {
    for (int wtm = 0; wtm < 2; wtm++) CheckTable(name, wtm, 0, 40000);
  }
}

}  // namespace
