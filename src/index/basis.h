// The endgame basis: piece order, material code and index sizes of one
// endgame, made from its base name.
#pragma once

#include <cstdint>

// Piece codes, shared by the basis, the board and the probe key: white
// 16 + 2k, black 1 + 2k, k in the order P N B R Q K.
enum PieceCode : int {
  kWP = 16, kWN = 18, kWB = 20, kWR = 22, kWQ = 24, kWK = 26,
  kZP = 1, kZN = 3, kZB = 5, kZR = 7, kZQ = 9, kZK = 11,
};
inline constexpr int kWhiteBit = 16;
inline constexpr int kBlackBit = 1;
inline constexpr int PieceKind(int code) { return (code >> 1) & 7; }

struct Basi {
  char name[16];
  uint8_t white[8];
  uint8_t black[8];
  uint32_t material;
  int32_t nw;
  int32_t nz;
  int32_t npawns;
  int32_t epflag;
  int32_t wbits;
  int32_t zbits;
  int32_t wsize;
  int32_t zsize;
  int32_t numw;
  int32_t numz;
};

void MakeBasi(const char* name, Basi* basis);
