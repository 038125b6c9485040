// Legal move generation from an attack and pin map, with separate check
// evasion generators.
#pragma once

#include <cstdint>

#include "board/board.h"

// Room for every move list a board record can hold: 15 pieces besides the
// king, none with more than 27 moves, plus king, castling, en passant and
// the terminating 0.
inline constexpr int kCccMaxMoves = 448;

// Attack map bits (cells aligned with sqrx).
inline constexpr uint8_t kMapAttacked = 16;
inline constexpr uint8_t kMapPinned = 15;  // any restriction bit
inline constexpr uint8_t kMapCheckLine = 32;
inline constexpr uint8_t kDirBit[8] = {1, 1, 2, 2, 4, 4, 8, 8};
inline constexpr uint8_t kPinMark[8] = {14, 14, 13, 13, 11, 11, 7, 7};

// Writes the legal moves of the side to move and a 0 word; returns the count.
int CccGenMoves(const Ccc* board, uint32_t* moves);

// Pawn moves that resolve a single check with step `check` from the own
// king: blocks on the checking line and captures of the checker. Marks the
// checking line (bit 32) in `map`; returns the number of moves written.
int PawnChkW(const Ccc* board, uint8_t* map, int check, uint32_t* moves);
int PawnChkZ(const Ccc* board, uint8_t* map, int check, uint32_t* moves);
