// The endgame basis: piece order, material code and index sizes of one
// endgame, made from its base name.
#pragma once

#include <cstdint>

#include "board/types.h"

struct Basi {
  char name[16];      // base name in capitals, e.g. KQKR: also the work directory's
  uint8_t white[8];   // White's piece codes, king first, in the name's order
  uint8_t black[8];   // Black's piece codes, king first
  uint32_t material;  // material code (3 bits per piece count, no kings), side bit clear
  int32_t nw;         // White's men, king included
  int32_t nz;         // Black's men, king included
  int32_t npawns;     // pawns of both sides
  int32_t epflag;     // 1 when both sides have pawns, so that en passant can occur
  int32_t wbits;      // bits of a white configuration number hashw: 6 per man
  int32_t zbits;      // bits of a black configuration number hashz
  int32_t wsize;      // white configurations, 2^wbits: the columns of Black's rows
  int32_t zsize;      // black configurations, 2^zbits: the columns of White's rows
  int32_t numw;       // reduced white configurations (king on 10 squares, 32 with pawns)
  int32_t numz;       // reduced black configurations
};

void MakeBasi(const char* name, Basi* basis);
