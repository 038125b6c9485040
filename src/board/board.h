// The board record: a 10-column mailbox of cells, a square list per side,
// side to move, en-passant square and castling flags; the 32-bit move word;
// making moves, attack tests and setting a board from a square string.
#pragma once

#include <cstdint>

#include "board/types.h"

// Mailbox number of a playing square: s = 10 * rank + file + 1 (a1 = 1,
// h8 = 78). The cell array covers s = -20 .. 99, so a knight's jump or a
// slider's step from any playing square lands on a cell of the array.
inline constexpr int kCccCells = 120;
inline constexpr int kCccOrigin = 20;     // cell index of s = 0
inline constexpr int kCccListSize = 17;   // king, 15 pieces, terminating 0
inline constexpr int kCccMaxPieces = 15;  // besides the king

// Cell values besides the piece codes; & 32 tests empty, & 17 any piece,
// & 33 empty or black, & 48 empty or white.
inline constexpr uint8_t kBorder = 0;
inline constexpr uint8_t kEmpty = 32;
inline constexpr int kAnyPiece = kWhiteBit | kBlackBit;

// Mailbox numbers of the squares that castling and its rights involve.
inline constexpr int kA1 = 1, kB1 = 2, kC1 = 3, kD1 = 4, kE1 = 5, kF1 = 6, kG1 = 7, kH1 = 8;
inline constexpr int kA8 = 71, kB8 = 72, kC8 = 73, kD8 = 74, kE8 = 75, kF8 = 76, kG8 = 77, kH8 = 78;

inline constexpr int MailboxSquare(int rank, int file) { return 10 * rank + file + 1; }
inline constexpr int MailboxRank(int s) { return s / 10; }
inline constexpr int MailboxFile(int s) { return s % 10 - 1; }

struct Ccc {
  uint8_t sqrx[kCccCells];     // cell of s at sqrx[s + kCccOrigin]
  uint8_t wsqr[kCccListSize];  // white squares, king in slot 0, 0-ended
  uint8_t zsqr[kCccListSize];  // black squares, same rules
  uint8_t wtm;                 // 1 White to move, 0 Black
  uint8_t eps;                 // square the double-stepping pawn crossed, or 0
  uint8_t castL;               // White long (queen side)
  uint8_t castS;               // White short
  uint8_t castl;               // Black long
  uint8_t casts;               // Black short
};

inline uint8_t& CccCell(Ccc* b, int s) { return b->sqrx[s + kCccOrigin]; }
inline uint8_t CccCell(const Ccc* b, int s) { return b->sqrx[s + kCccOrigin]; }

// Move word: bits 0-7 target, 8-10 promotion piece (1 N, 2 B, 3 R, 4 Q),
// bit 11 en passant, bit 12 castling, bits 24-31 origin.
inline constexpr uint32_t kMoveTargetMask = 0xFF;
inline constexpr int kMovePromoShift = 8;
inline constexpr uint32_t kMovePromoMask = 0x700;
inline constexpr uint32_t kMoveEp = 0x800;
inline constexpr uint32_t kMoveCastle = 0x1000;
inline constexpr uint32_t kMoveSpecial = 0x1F00;  // any of bits 8-12
inline constexpr int kMoveOriginShift = 24;
inline constexpr uint32_t kNullMove = 79;
inline constexpr int kPromoN = 1, kPromoB = 2, kPromoR = 3, kPromoQ = 4;

inline constexpr uint32_t kCastleWL = 0x05001003;  // e1-c1
inline constexpr uint32_t kCastleWS = 0x05001007;  // e1-g1
inline constexpr uint32_t kCastleZL = 0x4B001049;  // e8-c8
inline constexpr uint32_t kCastleZS = 0x4B00104D;  // e8-g8

inline constexpr uint32_t MakeMove(int from, int to) {
  return static_cast<uint32_t>(from) << kMoveOriginShift | static_cast<uint32_t>(to);
}
inline constexpr int MoveFrom(uint32_t m) { return static_cast<int>(m >> kMoveOriginShift); }
inline constexpr int MoveTo(uint32_t m) { return static_cast<int>(m & kMoveTargetMask); }
inline constexpr int MovePromo(uint32_t m) {
  return static_cast<int>((m & kMovePromoMask) >> kMovePromoShift);
}

// Line directions (four diagonal, then four straight) and knight jumps, in
// the order that attack tests and move generation follow.
inline constexpr int kLineDirs[8] = {11, -11, 9, -9, 10, -10, 1, -1};
inline constexpr int kKnightJumps[8] = {21, -21, 19, -19, 12, -12, 8, -8};

inline constexpr const char* kInitialPosition =
    "rnbqkbnrpppppppp................................PPPPPPPPRNBQKBNRwLSls";

// Makes the move; with `out` the input is copied there first and kept.
void CccDoMove(Ccc* board, uint32_t move, Ccc* out = nullptr);
// Ends the process when the move does not fit the board.
void CheckMove(const Ccc* board, uint32_t move);
void SqrMov(uint8_t* list, int sold, int snew);
void SqrSub(uint8_t* list, int sold);
// 0 when no piece of that colour attacks s, 2 for two or more attackers,
// else the signed step from s towards the single attacker.
int AttackedByW(const Ccc* board, int s);
int AttackedByZ(const Ccc* board, int s);
int CccInCheck(const Ccc* board);
void CccSetString(const char* text, Ccc* board);
void CccFillSqrx(Ccc* board);
// The piece code of a FEN letter ("KQRBNP" white, "kqrbnp" black), 0 for
// any other character.
int CodeOfChar(char c);
