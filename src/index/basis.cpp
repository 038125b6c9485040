#include "index/basis.h"

#include <cctype>
#include <cstring>

#include "support/console.h"

namespace {

// Piece code of a letter for the given side, or 0 for a foreign character.
int LetterCode(char c, bool white) {
  static const char kLetters[] = "PNBRQK";
  const char* p = c != 0 ? strchr(kLetters, c) : nullptr;
  if (p == nullptr) return 0;
  int kind = static_cast<int>(p - kLetters);
  return white ? kWhiteBit + 2 * kind : kBlackBit + 2 * kind;
}

// Stores the pieces of one side from text[*pos]; the white side stops before
// the next K, the black side runs to the end.
void ReadSide(const char* text, int* pos, bool white, Basi* b) {
  uint8_t* list = white ? b->white : b->black;
  int32_t* count = white ? &b->nw : &b->nz;
  while (text[*pos] != 0) {
    if (*count == kMaxSideMen) OutError("MakeBasi: too many of one side");
    int code = LetterCode(text[*pos], white);
    if (code == 0) OutError("MakeBasi: bad piece");
    if (PieceKind(code) != 5) b->material += 1u << (3 * (code & 15));
    if (PieceKind(code) == 0) b->npawns++;
    if (*count > 0 && code > list[*count - 1]) OutError("MakeBasi: bad order");
    list[(*count)++] = static_cast<uint8_t>(code);
    ++*pos;
    if (white && text[*pos] == 'K') return;
  }
}

}  // namespace

void MakeBasi(const char* name, Basi* b) {
  memset(b, 0, sizeof *b);
  int n = 0;
  while (n < 10 && name[n] != 0) {
    b->name[n] = static_cast<char>(toupper(static_cast<unsigned char>(name[n])));
    n++;
  }
  int pos = 0;
  ReadSide(b->name, &pos, true, b);
  int white_pawns = b->npawns;
  ReadSide(b->name, &pos, false, b);
  if (white_pawns > 0 && b->npawns > white_pawns) b->epflag = 1;
  if (b->white[0] != kWK || b->white[1] == kWK || b->black[0] != kZK || b->black[1] == kZK) {
    OutError("MakeBasi: kings problem");
  }
  b->wbits = 6 * b->nw;
  b->zbits = 6 * b->nz;
  b->wsize = 1 << b->wbits;
  b->zsize = 1 << b->zbits;
  int per_king = b->npawns != 0 ? 32 : 10;
  b->numw = (b->wsize / 64) * per_king;
  b->numz = (b->zsize / 64) * per_king;
}
