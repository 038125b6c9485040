// Configuration move generators of the retrograde passes: the numbers of one
// side's configurations that differ from a decoded board by one quiet move
// (no capture, no promotion) of one piece of that side.
#pragma once

#include <cstdint>

#include "board/board.h"

// Room for every result (a king and four queens, each on its most mobile
// square of an otherwise empty board) and for the 8 words that the
// generators may write past the last one.
inline constexpr int kConfigMovesMax = 8 + 4 * 27 + 8;

// Predecessors of a board by one quiet un-move of side kW (true White), the
// side not to move: `hash` is that side's configuration the board was
// decoded from; returns the count written.
template <bool kW>
int Unmove(int32_t hash, const Ccc* board, int32_t* out);
// White-to-move predecessors of a black-to-move board.
inline int UnmoveW(int32_t hashw, const Ccc* board, int32_t* out) {
  return Unmove<true>(hashw, board, out);
}
// Black-to-move predecessors of a white-to-move board.
inline int UnmoveZ(int32_t hashz, const Ccc* board, int32_t* out) {
  return Unmove<false>(hashz, board, out);
}
// White-to-move successors of a black-to-move board by Black's quiet moves;
// a double step beside a white pawn is written in the en-passant coding.
int QuietZ(int32_t hashz, const Ccc* board, int32_t* out);
// Whether every move QuietZ lists leads to a column set in the bitmap
// `bits`: the moves are tested as each piece's are found, and the first
// that leads elsewhere ends the search.
bool QuietZAllIn(int32_t hashz, const Ccc* board, const uint8_t* bits);
