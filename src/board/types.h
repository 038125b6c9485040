// The words every layer above the board shares: piece codes, colours, the
// men-a-side limit and material codes.
#pragma once

#include <cstdint>

// Piece codes, shared by the basis, the board and the probe key: white
// 16 + 2k, black 1 + 2k, k in the order P N B R Q K.
// clang-format off
enum PieceCode : int {
  kWP = 16, kWN = 18, kWB = 20, kWR = 22, kWQ = 24, kWK = 26,
  kZP = 1, kZN = 3, kZB = 5, kZR = 7, kZQ = 9, kZK = 11,
};
// clang-format on
inline constexpr int kWhiteBit = 16;
inline constexpr int kBlackBit = 1;
inline constexpr int PieceKind(int code) { return (code >> 1) & 7; }

// Colours: Z stands for Black in every name (UnmoveZ, ztm). Code written once
// for both colours is a template over `bool kW`, true for White.
inline constexpr int PawnCode(bool white) { return white ? kWP : kZP; }

// Men of one side, king included, in any endgame this program handles.
inline constexpr int kMaxSideMen = 5;

// Material code of an endgame: a 3-bit count per piece type and colour (the
// unit of each below), bit 30 for the white-to-move database.
inline constexpr uint32_t kWhiteToMove = 0x40000000;
inline constexpr uint32_t kWhiteMask = 0x71c71c7;   // all white counts
inline constexpr uint32_t kBlackMask = 0x38e38e38;  // all black counts

inline constexpr uint32_t kUnitWP = 1, kUnitWN = 0x40, kUnitWB = 0x1000, kUnitWR = 0x40000,
                          kUnitWQ = 0x1000000;
inline constexpr uint32_t kUnitZP = 8, kUnitZN = 0x200, kUnitZB = 0x8000, kUnitZR = 0x200000,
                          kUnitZQ = 0x8000000;

inline constexpr uint32_t SwapColours(uint32_t code) {
  return ((code >> 3) & kWhiteMask) | ((code & kWhiteMask) << 3);
}
