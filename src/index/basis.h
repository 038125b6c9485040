// The endgame basis: piece order, material code and index sizes of one
// endgame, made from its base name.
#pragma once

#include <cstdint>

#include "board/types.h"

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
