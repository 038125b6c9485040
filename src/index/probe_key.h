// The probe key of a position: the material code of its endgame with the
// side-to-move bit, and its entry number in that endgame's table, computed
// from the board alone (no basis), for up to 7 men.
#pragma once

#include <cstdint>

#include "board/board.h"

inline constexpr int kPapMaxPieces = 7;

struct Pap {
  uint8_t codes[8];    // side to move first, each side by decreasing code
  uint8_t squares[8];  // 0..63; a pawn open to en passant in its coding
  uint32_t material;   // with kWhiteToMove when White is to move
  double index;        // entry number (may pass 2^32)
};

// PapCreate, the normalisation and PapPack.
void PapMake(const Ccc* board, Pap* key);
// Codes, squares and material of the board, not yet normalised.
void PapCreate(const Ccc* board, Pap* key);
// Brings the side to move's king into the reduced area and fixes the order
// of identical pieces and the diagonal reflection.
void PapNormalise(Pap* key);
// The entry number of a normalised key.
void PapPack(Pap* key);
