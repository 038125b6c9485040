// The black-to-move move counter and the fast check tests that the build
// runs on every decoded position.
#pragma once

#include <cstdint>

#include "board/board.h"

// Relation of a piece to a king, by the difference d = piece - king of their
// mailbox numbers (-78 .. 78): knight jump, diagonal or straight line, and
// the index of the direction from the king towards the piece (0..7 into
// kLineDirs, 8..15 into kKnightJumps).
inline constexpr uint8_t kRelKnight = 64;
inline constexpr uint8_t kRelDiagonal = 16;
inline constexpr uint8_t kRelStraight = 32;
inline constexpr uint8_t kRelDirMask = 15;
inline constexpr int kRelSpan = 78;

struct RelationTable {
  uint8_t entry[2 * kRelSpan + 1];
};

constexpr RelationTable MakeRelationTable() {
  RelationTable t{};
  for (int i = 0; i < 8; i++) {
    int v = kLineDirs[i];
    uint8_t kind = i < 4 ? kRelDiagonal : kRelStraight;
    for (int m = 1; m <= 7; m++) t.entry[kRelSpan + m * v] = static_cast<uint8_t>(kind | i);
    t.entry[kRelSpan + kKnightJumps[i]] = static_cast<uint8_t>(kRelKnight | (8 + i));
  }
  return t;
}
inline constexpr RelationTable kRelation = MakeRelationTable();
inline constexpr uint8_t Relation(int d) { return kRelation.entry[kRelSpan + d]; }

// 0 when the king is not attacked, 2 for two or more attackers, else the
// step from the king towards the single attacker.
int InChkW(const Ccc* board);
int InChkZ(const Ccc* board);

// Black to move on a board decoded from an index: returns the number of all
// legal moves and lists only those that leave the endgame (captures, en
// passant, promotions), ended by a 0 word; the others are only counted.
// The array must hold kZtmGenMaxList words.
int ZtmGen(const Ccc* board, uint32_t* moves);

// Leaving moves that ZtmGen can list for at most 15 black pieces besides the
// king (each pawn 12 promotion words, each queen 8 captures, 8 king
// captures, two en-passant captures) and the terminating 0.
inline constexpr int kZtmGenMaxList = 15 * 12 + 8 + 2 + 1;
