// The position index: configuration numbers of each side, the rows of the
// two tables with the king of the side to move reduced by symmetry, the
// en-passant coding, and decoding of entries into boards.
#pragma once

#include <cstdint>

#include "board/board.h"
#include "index/basis.h"

// Square numbers sq = 8 * rank + file in every index number and probe key;
// the board works on mailbox numbers.
inline constexpr uint8_t kMailboxOfSq[64] = {
    1,  2,  3,  4,  5,  6,  7,  8,  11, 12, 13, 14, 15, 16, 17, 18, 21, 22, 23, 24, 25, 26,
    27, 28, 31, 32, 33, 34, 35, 36, 37, 38, 41, 42, 43, 44, 45, 46, 47, 48, 51, 52, 53, 54,
    55, 56, 57, 58, 61, 62, 63, 64, 65, 66, 67, 68, 71, 72, 73, 74, 75, 76, 77, 78,
};
// Inverse of kMailboxOfSq for s = 0 .. 79; border cells give 0.
inline constexpr uint8_t kSqOfMailbox[80] = {
    0, 0,  1,  2,  3,  4,  5,  6,  7,  0, 0, 8,  9,  10, 11, 12, 13, 14, 15, 0,
    0, 16, 17, 18, 19, 20, 21, 22, 23, 0, 0, 24, 25, 26, 27, 28, 29, 30, 31, 0,
    0, 32, 33, 34, 35, 36, 37, 38, 39, 0, 0, 40, 41, 42, 43, 44, 45, 46, 47, 0,
    0, 48, 49, 50, 51, 52, 53, 54, 55, 0, 0, 56, 57, 58, 59, 60, 61, 62, 63, 0,
};

// Reduced king numbers. Without pawns the king of the side to move is
// brought into the triangle a1-d1-d4 (10 squares, 10 elsewhere); with pawns
// only onto files a-d (32 squares, 32 elsewhere).
inline constexpr uint8_t KingRedFree[64] = {
    0,  1,  2,  3,  10, 10, 10, 10, 10, 4,  5,  6,  10, 10, 10, 10, 10, 10, 7,  8,  10, 10,
    10, 10, 10, 10, 10, 9,  10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10,
    10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10,
};
inline constexpr uint8_t KingUnFree[10] = {0, 1, 2, 3, 9, 10, 11, 18, 19, 27};
inline constexpr uint8_t KingRedPawn[64] = {
    0,  1,  2,  3,  32, 32, 32, 32, 4,  5,  6,  7,  32, 32, 32, 32, 8,  9,  10, 11, 32, 32,
    32, 32, 12, 13, 14, 15, 32, 32, 32, 32, 16, 17, 18, 19, 32, 32, 32, 32, 20, 21, 22, 23,
    32, 32, 32, 32, 24, 25, 26, 27, 32, 32, 32, 32, 28, 29, 30, 31, 32, 32, 32, 32,
};
inline constexpr uint8_t KingUnPawn[32] = {
    0,  1,  2,  3,  8,  9,  10, 11, 16, 17, 18, 19, 24, 25, 26, 27,
    32, 33, 34, 35, 40, 41, 42, 43, 48, 49, 50, 51, 56, 57, 58, 59,
};

// Row value of a missing second candidate of ReduceW / ReduceZ.
inline constexpr int32_t kNoRow = 0x7fffffff;

// Each function below is written once for both colours, over kW (true for
// White); the W and Z names are the ones callers use.

// Configuration number of one side from its table row, king unreduced.
template <bool kW>
int32_t Unreduce(int32_t r, const Basi* basis);
inline int32_t UnreduceW(int32_t r, const Basi* basis) { return Unreduce<true>(r, basis); }
inline int32_t UnreduceZ(int32_t r, const Basi* basis) { return Unreduce<false>(r, basis); }

// The two candidate entries of a position, with side kW to move: out[0]
// column, out[1] row, out[2] second column, out[3] second row. A row of numw
// (numz) or more marks an invalid candidate.
template <bool kW>
void Reduce(int32_t hashw, int32_t hashz, const Basi* basis, int32_t out[4]);
inline void ReduceW(int32_t hashw, int32_t hashz, const Basi* basis, int32_t out[4]) {
  Reduce<true>(hashw, hashz, basis, out);
}
inline void ReduceZ(int32_t hashw, int32_t hashz, const Basi* basis, int32_t out[4]) {
  Reduce<false>(hashw, hashz, basis, out);
}

// Number of board positions one entry of a row stands for: 2, 4 or 8.
template <bool kW>
int Weight(int32_t r, const Basi* basis);
inline int WeightW(int32_t r, const Basi* basis) { return Weight<true>(r, basis); }
inline int WeightZ(int32_t r, const Basi* basis) { return Weight<false>(r, basis); }

// The number with a pawn in the en-passant coding moved to its real square;
// applies to rows as well, since the king is never changed.
template <bool kW>
int32_t UnEp(int32_t hash, const Basi* basis);
inline int32_t UnEpW(int32_t hashw, const Basi* basis) { return UnEp<true>(hashw, basis); }
inline int32_t UnEpZ(int32_t hashz, const Basi* basis) { return UnEp<false>(hashz, basis); }

// Place one side's pieces on a board in basis order; 0 when the number is no
// valid placement (pawn on the last rank, refused en-passant coding, square
// taken).
template <bool kW>
int HashPlace(int32_t hash, const Basi* basis, Ccc* board);
inline int HashPlaceW(int32_t hashw, const Basi* basis, Ccc* board) {
  return HashPlace<true>(hashw, basis, board);
}
inline int HashPlaceZ(int32_t hashz, const Basi* basis, Ccc* board) {
  return HashPlace<false>(hashz, basis, board);
}

// Empty board with the side to move set (kWtm) and side kW placed.
template <bool kWtm, bool kW>
int HashToSet(int32_t hash, const Basi* basis, Ccc* board);
inline int HashToWtmSetW(int32_t hashw, const Basi* basis, Ccc* board) {
  return HashToSet<true, true>(hashw, basis, board);
}
inline int HashToWtmSetZ(int32_t hashz, const Basi* basis, Ccc* board) {
  return HashToSet<true, false>(hashz, basis, board);
}
inline int HashToZtmSetW(int32_t hashw, const Basi* basis, Ccc* board) {
  return HashToSet<false, true>(hashw, basis, board);
}
inline int HashToZtmSetZ(int32_t hashz, const Basi* basis, Ccc* board) {
  return HashToSet<false, false>(hashz, basis, board);
}

// Decodes an entry into the board; 1 when it is a legal position.
int HashToCccp(int32_t hashw, int32_t hashz, const Basi* basis, int wtm, Ccc* board);

// 1 when the board's en-passant square can really be used.
int TestEp(const Ccc* board);

// The empty board that decoding starts from.
extern const Ccc kCccEmpty;
