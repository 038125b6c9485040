#include "entry_walk.h"

#include <cstdio>

namespace {

int SqOf(int rank, int file) { return 8 * rank + file; }

}  // namespace

bool IndependentBoard(const Basi& b, int32_t hashw, int32_t hashz, int wtm, Ccc* out) {
  int code[64] = {};
  int ep = -1;          // square the double-stepped pawn crossed
  int ep_pawn = -1;     // where that pawn stands
  for (int side = 0; side < 2; side++) {
    bool white = side == 0;
    int n = white ? b.nw : b.nz;
    int32_t h = white ? hashw : hashz;
    for (int i = 0; i < n; i++) {
      int c = white ? b.white[i] : b.black[i];
      int sq = h >> 6 * (n - 1 - i) & 63;
      int rank = sq >> 3;
      if (PieceKind(c) == 0) {
        if (rank == 7) return false;
        if (rank == 0) {
          // Only the side that just moved can have a double-stepped pawn.
          if (!b.epflag || ep >= 0 || (white ? wtm : !wtm)) return false;
          ep_pawn = white ? sq + 24 : sq + 32;
          ep = white ? sq + 16 : sq + 40;
          sq = ep_pawn;
        }
      }
      if (code[sq] != 0) return false;
      code[sq] = c;
    }
  }
  if (ep >= 0) {
    int file = ep_pawn & 7;
    int capturer = wtm ? kWP : kZP;
    bool beside = (file > 0 && code[ep_pawn - 1] == capturer) ||
                  (file < 7 && code[ep_pawn + 1] == capturer);
    int start = wtm ? ep + 8 : ep - 8;
    if (!beside || code[ep] != 0 || code[start] != 0) return false;
  }
  static const char kLetters[] = "PNBRQK";
  std::string text(64, '.');
  for (int rank = 0; rank < 8; rank++) {
    for (int file = 0; file < 8; file++) {
      int sq = SqOf(rank, file);
      char& ch = text[8 * (7 - rank) + file];
      if (code[sq] != 0) {
        char letter = kLetters[PieceKind(code[sq])];
        ch = (code[sq] & kWhiteBit) ? letter : static_cast<char>(letter + 32);
      } else if (sq == ep) {
        ch = 'E';
      }
    }
  }
  // The side not to move must not be in check: ask the board with that side
  // to move.
  CccSetString((text + (wtm ? "" : "w")).c_str(), out);
  if (CccInCheck(out) != 0) return false;
  CccSetString((text + (wtm ? "w" : "")).c_str(), out);
  return true;
}

int SymSquare(int sq, int g) {
  int file = sq & 7, rank = sq >> 3;
  if (g & 1) file ^= 7;
  if (g & 2) rank ^= 7;
  if (g & 4) {
    int t = file;
    file = rank;
    rank = t;
  }
  return 8 * rank + file;
}

bool SameUpToSymmetry(const Ccc& a, const Ccc& c, bool pawns) {
  if (a.wtm != c.wtm || (a.eps == 0) != (c.eps == 0)) return false;
  for (int g = 0; g < (pawns ? 2 : 8); g++) {
    bool same = true;
    for (int sq = 0; sq < 64 && same; sq++) {
      same = CccCell(&a, kMailboxOfSq[sq]) == CccCell(&c, kMailboxOfSq[SymSquare(sq, g)]);
    }
    if (same && a.eps != 0) {
      same = kMailboxOfSq[SymSquare(kSqOfMailbox[a.eps], g)] == c.eps;
    }
    if (same) return true;
  }
  return false;
}

int32_t HashOfSide(const Ccc& board, bool white) {
  const uint8_t* list = white ? board.wsqr : board.zsqr;
  int32_t h = 0;
  for (int i = 0; list[i] != 0; i++) {
    int s = list[i];
    if (board.eps != 0) {
      if (white && s == board.eps + 10 && CccCell(&board, s) == kWP) s -= 30;
      if (!white && s == board.eps - 10 && CccCell(&board, s) == kZP) s -= 40;
    }
    h = h << 6 | kSqOfMailbox[s];
  }
  return h;
}

std::string EntryText(const Basi& b, const Entry& e) {
  char text[96];
  snprintf(text, sizeof text, "%s row %d column %d hashw o%08o hashz o%08o", b.name, e.row,
           e.column, e.hashw, e.hashz);
  return text;
}
