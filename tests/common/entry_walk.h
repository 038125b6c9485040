// Walking the entries of an endgame's tables, and an independent way of
// turning an entry into a board (square string and the board's own rules),
// for tests that check the index against the board pieces.
#pragma once

#include <cstdint>
#include <string>

#include "board/board.h"
#include "index/basis.h"

struct Entry {
  int32_t row;
  int32_t column;
  int32_t hashw;
  int32_t hashz;
};

// Calls visit(entry) for every entry of the white-to-move (wtm = 1) or
// black-to-move table, or for `samples` entries spread at random over it
// when the table is larger than `limit`.
template <typename Visit>
void ForEachEntry(const Basi& b, int wtm, double limit, int samples, Visit visit);

// A square-string board built from the entry's squares by the board's own
// reader, or false when the entry is no legal position by the square rules
// (pawn on the last rank, two men on one square, an en-passant coding that
// cannot stand, the king of the side not to move attacked).
bool IndependentBoard(const Basi& b, int32_t hashw, int32_t hashz, int wtm, Ccc* out);

// Same cells, side to move and en-passant square under one of the board's
// symmetries (left-right only when `pawns`).
bool SameUpToSymmetry(const Ccc& a, const Ccc& c, bool pawns);
// Image of square sq (0..63) under symmetry g (bit 0 file mirror, bit 1
// rank flip, bit 2 transposition).
int SymSquare(int sq, int g);

// Configuration numbers of a board whose piece lists are in basis order;
// a pawn that may be taken en passant in its first-rank coding.
int32_t HashOfSide(const Ccc& board, bool white);

std::string EntryText(const Basi& b, const Entry& e);

// ----------------------------------------------------------------------------

#include "index/position_index.h"

template <typename Visit>
void ForEachEntry(const Basi& b, int wtm, double limit, int samples, Visit visit) {
  int32_t rows = wtm ? b.numw : b.numz;
  int32_t cols = wtm ? b.zsize : b.wsize;
  double total = static_cast<double>(rows) * cols;
  auto make = [&](int32_t r, int32_t c) {
    Entry e{r, c, 0, 0};
    if (wtm) {
      e.hashw = UnreduceW(r, &b);
      e.hashz = c;
    } else {
      e.hashz = UnreduceZ(r, &b);
      e.hashw = c;
    }
    return e;
  };
  if (total <= limit) {
    for (int32_t r = 0; r < rows; r++) {
      for (int32_t c = 0; c < cols; c++) visit(make(r, c));
    }
    return;
  }
  uint64_t x = 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(b.material) ^ (uint64_t)wtm << 40;
  for (int i = 0; i < samples; i++) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    int32_t r = static_cast<int32_t>((x >> 33) % static_cast<uint64_t>(rows));
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    int32_t c = static_cast<int32_t>((x >> 33) % static_cast<uint64_t>(cols));
    visit(make(r, c));
  }
}
