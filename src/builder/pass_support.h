// Small pieces the passes share: placing one side's pieces square by square
// on a board, and walking the set bits of a row bitmap.
#pragma once

#include <cstdint>

#include "board/board.h"
#include "index/basis.h"
#include "index/position_index.h"

// Calls visit(column) for every placement of pieces first .. count-1 of one
// side on empty squares, the first piece outermost, squares a1 .. h8, so that
// columns come in ascending order. `allow(i, sq)` may refuse a square; it may
// also change the board (the en-passant coding) and `undo(i, sq)` restores it.
template <class Allow, class Undo, class Visit>
inline void PlaceLoop(Ccc* board, uint8_t* list, const uint8_t* codes, int count, int i, uint32_t column,
                      Allow&& allow, Undo&& undo, Visit&& visit) {
  if (i >= kMaxSideMen) return;  // bounds the recursion for the compiler
  for (int sq = 0; sq < 64; sq++) {
    int s = allow(i, sq);
    if (s == 0) continue;
    uint8_t& cell = CccCell(board, s);
    if (cell != kEmpty) {
      undo(i, sq);
      continue;
    }
    cell = codes[i];
    list[i] = static_cast<uint8_t>(s);
    uint32_t next = column << 6 | static_cast<uint32_t>(sq);
    if (i + 1 == count) {
      visit(next);
    } else {
      PlaceLoop(board, list, codes, count, i + 1, next, allow, undo, visit);
    }
    cell = kEmpty;
    list[i] = 0;
    undo(i, sq);
  }
}

// Calls f(column) for each set bit of a row bitmap of `bytes` bytes, in
// ascending order, skipping zero bytes.
template <class F>
inline void ForEachBit(const uint8_t* map, int32_t bytes, F&& f) {
  for (int32_t i = 0; i < bytes; i++) {
    uint32_t b = map[i];
    while (b != 0) {
      int bit = __builtin_ctz(b);
      b &= b - 1;
      f(static_cast<uint32_t>(i) * 8 + static_cast<uint32_t>(bit));
    }
  }
}
