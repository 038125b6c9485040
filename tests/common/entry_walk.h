// Walking the entries of an endgame's tables, and an independent way of
// turning an entry into a board (square string and the board's own rules),
// for tests that check the index against the board pieces.
#pragma once

#include <gtest/gtest.h>

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

// Runs check(b, e, wtm) over ForEachEntry of both tables (or of table
// `only_wtm`); check returns "" when the entry agrees, "-" when it does not
// apply, else what differs. Fails when no entry was checked.
template <typename Check>
void CheckEntries(const char* name, int only_wtm, double limit, int samples, Check check) {
  Basi b;
  MakeBasi(name, &b);
  int failures = 0;
  double checked = 0;
  for (int wtm = 0; wtm < 2; wtm++) {
    if (only_wtm >= 0 && wtm != only_wtm) continue;
    ForEachEntry(b, wtm, limit, samples, [&](const Entry& e) {
      if (failures > 5) return;
      std::string why = check(b, e, wtm);
      if (why == "-") return;
      checked++;
      if (!why.empty()) {
        ADD_FAILURE() << EntryText(b, e) << " " << why;
        failures++;
      }
    });
  }
  EXPECT_GT(checked, 0) << name;
}

// ----------------------------------------------------------------------------

#include "index/position_index.h"

// The entry at row r, column c of a table, and the (up to two) candidate
// entries of a position as the index reduces it.
inline Entry EntryAt(const Basi& b, int wtm, int32_t r, int32_t c) {
  return wtm ? Entry{r, c, UnreduceW(r, &b), c} : Entry{r, c, c, UnreduceZ(r, &b)};
}
inline void Reduce(const Basi& b, int wtm, int32_t hashw, int32_t hashz, int32_t out[4]) {
  wtm ? ReduceW(hashw, hashz, &b, out) : ReduceZ(hashw, hashz, &b, out);
}

template <typename Visit>
void ForEachEntry(const Basi& b, int wtm, double limit, int samples, Visit visit) {
  int32_t rows = wtm ? b.numw : b.numz;
  int32_t cols = wtm ? b.zsize : b.wsize;
  double total = static_cast<double>(rows) * cols;
  auto make = [&](int32_t r, int32_t c) { return EntryAt(b, wtm, r, c); };
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
