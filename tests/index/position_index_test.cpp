// The position index against the board's own square reader and check test:
// decoding, reduction and unreduction of every symmetric image.
#include "index/position_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "entry_walk.h"

namespace {

// Decoding agrees with the independent board, and both candidates of every
// symmetric image reduce back to the entry.
std::string CheckEntry(const Basi& b, const Entry& e, int wtm) {
  bool pawns = b.npawns != 0;
  Ccc board, other;
  int got = HashToCccp(e.hashw, e.hashz, &b, wtm, &board);
  if (got != (IndependentBoard(b, e.hashw, e.hashz, wtm, &other) ? 1 : 0)) {
    return "legal " + std::to_string(got);
  }
  if (!got) return "";
  if (memcmp(board.sqrx, other.sqrx, sizeof board.sqrx) != 0 || board.wtm != other.wtm ||
      board.eps != other.eps || board.wsqr[0] != other.wsqr[0] || board.zsqr[0] != other.zsqr[0]) {
    return "board differs";
  }
  for (int g = 0; g < (pawns ? 2 : 8); g++) {
    int32_t hw = 0, hz = 0, out[4];
    for (int i = 0; i < b.nw; i++) hw = hw << 6 | SymSquare(e.hashw >> 6 * (b.nw - 1 - i) & 63, g);
    for (int i = 0; i < b.nz; i++) hz = hz << 6 | SymSquare(e.hashz >> 6 * (b.nz - 1 - i) & 63, g);
    Reduce(b, wtm, hw, hz, out);
    bool found = false;
    for (int k = 0; k < 4; k += 2) {
      if (out[k + 1] >= (wtm ? b.numw : b.numz)) continue;
      found |= out[k + 1] == e.row && out[k] == e.column;
      Entry c = EntryAt(b, wtm, out[k + 1], out[k]);
      Ccc again;
      if (HashToCccp(c.hashw, c.hashz, &b, wtm, &again) != 1 ||
          !SameUpToSymmetry(board, again, pawns)) {
        return "symmetry " + std::to_string(g) + " candidate " + std::to_string(k / 2);
      }
    }
    if (!found) return "symmetry " + std::to_string(g) + " not reduced back";
  }
  return "";
}

TEST(HashToCccp, EntriesAgreeWithTheBoard) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK"}) {
    CheckEntries(name, -1, 3e5, 100000, CheckEntry);
  }
  for (const char* name : {"KQKR", "KRPKP", "KQKBP", "KPPKP", "KNNKB"}) {
    CheckEntries(name, -1, 0, 40000, CheckEntry);
  }
}

}  // namespace
