// Square geometry computed once at compile time: the rays of the line
// directions and the knight and king steps of every square, as square
// numbers sq = 8 * rank + file and as 64-bit square sets (bit sq). The
// generators that run on every entry of a build index these instead of
// walking the mailbox square by square.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "board/board.h"

// kLineDirs as steps of sq; the even indices go up (nearest square of a ray
// has the lowest number), the odd ones down.
inline constexpr int kSqLineSteps[8] = {9, -9, 7, -7, 8, -8, 1, -1};

struct Geometry {
  // Squares of each ray from the nearest outwards, padded with 0 to 8
  // (words, so that eight of them are shifted and stored in a few vector
  // instructions).
  int32_t ray_sq[64][8][8];
  uint64_t ray_set[64][8];
  // The ray's farthest square, or sq itself when the ray is empty.
  uint64_t ray_end[64][8];
  // The target square of each knight jump and king step in the order of
  // kKnightJumps / kLineDirs; 0 where it leaves the board.
  uint8_t knight_sq[64][8];
  uint8_t king_sq[64][8];
  uint64_t knight_set[64];
  uint64_t king_set[64];
  // Squares from which a pawn of each colour attacks a square: [0] White's.
  uint64_t pawn_from_set[2][64];
};

// Rank part of a mailbox step (file part within -2 .. 2).
constexpr int StepRanks(int v) { return (v + (v > 0 ? 5 : -5)) / 10; }

constexpr Geometry MakeGeometry() {
  Geometry g{};
  auto on = [](int r, int f) { return r >= 0 && r < 8 && f >= 0 && f < 8; };
  for (int sq = 0; sq < 64; sq++) {
    int r = sq >> 3, f = sq & 7;
    for (int d = 0; d < 8; d++) {
      int dr = StepRanks(kLineDirs[d]);
      int df = kLineDirs[d] - 10 * dr;
      int n = 0;
      for (int tr = r + dr, tf = f + df; on(tr, tf); tr += dr, tf += df) {
        g.ray_sq[sq][d][n++] = 8 * tr + tf;
        g.ray_set[sq][d] |= uint64_t{1} << (8 * tr + tf);
        g.ray_end[sq][d] = uint64_t{1} << (8 * tr + tf);
      }
      if (n == 0) g.ray_end[sq][d] = uint64_t{1} << sq;
      if (on(r + dr, f + df)) {
        g.king_sq[sq][d] = static_cast<uint8_t>(8 * (r + dr) + f + df);
        g.king_set[sq] |= uint64_t{1} << (8 * (r + dr) + f + df);
      }
      int jr = StepRanks(kKnightJumps[d]);
      int jf = kKnightJumps[d] - 10 * jr;
      if (on(r + jr, f + jf)) {
        g.knight_sq[sq][d] = static_cast<uint8_t>(8 * (r + jr) + f + jf);
        g.knight_set[sq] |= uint64_t{1} << (8 * (r + jr) + f + jf);
      }
    }
    // A white pawn attacks sq from one rank below, a black one from above.
    for (int side = 0; side < 2; side++) {
      int pr = side == 0 ? r - 1 : r + 1;
      for (int pf : {f - 1, f + 1}) {
        if (on(pr, pf)) g.pawn_from_set[side][sq] |= uint64_t{1} << (8 * pr + pf);
      }
    }
  }
  return g;
}

inline constexpr Geometry kGeometry = MakeGeometry();
