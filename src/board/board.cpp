#include "board/board.h"

#include <cstring>

#include "support/console.h"

namespace {

// Attack test shared by both colours: `pawn_a`/`pawn_b` are the steps from
// s to the squares a pawn of the attacking colour attacks s from.
inline int Attacked(const Ccc* b, int s, int pawn, int knight, int bishop, int rook, int queen, int king,
                    int pawn_a, int pawn_b) {
  const uint8_t* cell = b->sqrx + kCccOrigin + s;
  int found = 0;
  int step = 0;
  auto record = [&](int d) {
    ++found;
    step = d;
  };
  if (cell[pawn_a] == pawn) record(pawn_a);
  if (cell[pawn_b] == pawn) record(pawn_b);
  for (int j : kKnightJumps) {
    if (cell[j] == knight) record(j);
  }
  for (int i = 0; i < 8; ++i) {
    int d = kLineDirs[i];
    if (cell[d] == king) {
      record(d);
      continue;
    }
    int t = d;
    while (cell[t] == kEmpty) t += d;
    int v = cell[t];
    if (v == queen || v == (i < 4 ? bishop : rook)) record(d);
  }
  if (found == 0) return 0;
  return found > 1 ? 2 : step;
}

// Moves the rook that goes with a castling king.
void CastleRook(Ccc* b, uint8_t* list, int rook, int from, int to) {
  CccCell(b, to) = static_cast<uint8_t>(rook);
  CccCell(b, from) = kEmpty;
  SqrMov(list, from, to);
}

// Puts square s into a side's list: the king in slot 0, others in the
// first free slot of 1..15.
void FillOne(uint8_t* list, int s, bool king, const char* overflow) {
  if (king) {
    list[0] = static_cast<uint8_t>(s);
    return;
  }
  for (int i = 1; i <= kCccMaxPieces; ++i) {
    if (list[i] == 0) {
      list[i] = static_cast<uint8_t>(s);
      return;
    }
  }
  OutError("%s", overflow);
}

}  // namespace

int CodeOfChar(char c) {
  switch (c) {
    case 'P': return kWP;
    case 'N': return kWN;
    case 'B': return kWB;
    case 'R': return kWR;
    case 'Q': return kWQ;
    case 'K': return kWK;
    case 'p': return kZP;
    case 'n': return kZN;
    case 'b': return kZB;
    case 'r': return kZR;
    case 'q': return kZQ;
    case 'k': return kZK;
    default: return 0;
  }
}

int AttackedByW(const Ccc* b, int s) { return Attacked(b, s, kWP, kWN, kWB, kWR, kWQ, kWK, -11, -9); }

int AttackedByZ(const Ccc* b, int s) { return Attacked(b, s, kZP, kZN, kZB, kZR, kZQ, kZK, 11, 9); }

int CccInCheck(const Ccc* b) {
  // A side without a king (a set-up text may lack one) is never in check.
  if (b->wtm) return b->wsqr[0] != 0 ? AttackedByZ(b, b->wsqr[0]) : 0;
  return b->zsqr[0] != 0 ? AttackedByW(b, b->zsqr[0]) : 0;
}

void SqrMov(uint8_t* list, int sold, int snew) {
  for (int i = 0; list[i] != 0; ++i) {
    if (list[i] == sold) {
      list[i] = static_cast<uint8_t>(snew);
      return;
    }
  }
  OutError("SqrMov: sold not found");
}

void SqrSub(uint8_t* list, int sold) {
  int i = 0;
  while (list[i] != 0 && list[i] != sold) ++i;
  if (list[i] == 0) OutError("SqrSub: sold not found");
  // Slot 16 is always 0, so the shift stops at the terminator.
  for (; list[i] != 0; ++i) list[i] = list[i + 1];
}

void CheckMove(const Ccc* b, uint32_t move) {
  if (move == kNullMove) {
    if (CccInCheck(b) != 0) OutError("CheckMove: nullmove while in check");
    return;
  }
  int piece = CccCell(b, MoveFrom(move));
  int victim = CccCell(b, MoveTo(move));
  if (b->wtm) {
    if (!(piece & kWhiteBit)) OutError("CheckMove: not white piece");
    if (!(victim & (kEmpty | kBlackBit))) OutError("CheckMove: not zwart victim");
    if (victim == kZK) OutError("CheckMove: victim is ZK");
  } else {
    if (!(piece & kBlackBit)) OutError("CheckMove: not zwart piece");
    if (!(victim & (kEmpty | kWhiteBit))) OutError("CheckMove: not white victim");
    if (victim == kWK) OutError("CheckMove: victim is WK");
  }
}

void CccDoMove(Ccc* board, uint32_t move, Ccc* out) {
  CheckMove(board, move);
  Ccc* b = board;
  if (out != nullptr) {
    if (out != board) memcpy(out, board, sizeof *out);
    b = out;
  }
  b->wtm ^= 1;
  b->eps = 0;
  if (move == kNullMove) return;

  int from = MoveFrom(move);
  int to = MoveTo(move);
  if (from == kE1 || from == kA1 || to == kA1) b->castL = 0;
  if (from == kE1 || from == kH1 || to == kH1) b->castS = 0;
  if (from == kE8 || from == kA8 || to == kA8) b->castl = 0;
  if (from == kE8 || from == kH8 || to == kH8) b->casts = 0;

  int piece = CccCell(b, from);
  int victim = CccCell(b, to);
  CccCell(b, from) = kEmpty;
  CccCell(b, to) = static_cast<uint8_t>(piece);

  if (piece & kWhiteBit) {
    SqrMov(b->wsqr, from, to);
    if (victim & kBlackBit) SqrSub(b->zsqr, to);
    if (piece == kWP && to == from + 20 && (CccCell(b, to - 1) == kZP || CccCell(b, to + 1) == kZP)) {
      b->eps = static_cast<uint8_t>(to - 10);
    }
    if (move & kMoveSpecial) {
      if (int p = MovePromo(move)) {
        CccCell(b, to) = static_cast<uint8_t>(piece + 2 * p);
      } else if (move & kMoveEp) {
        CccCell(b, to - 10) = kEmpty;
        SqrSub(b->zsqr, to - 10);
      } else {
        if (to == kC1) CastleRook(b, b->wsqr, kWR, kA1, kD1);
        else CastleRook(b, b->wsqr, kWR, kH1, kF1);
      }
    }
  } else {
    SqrMov(b->zsqr, from, to);
    if (victim & kWhiteBit) SqrSub(b->wsqr, to);
    if (piece == kZP && to == from - 20 && (CccCell(b, to - 1) == kWP || CccCell(b, to + 1) == kWP)) {
      b->eps = static_cast<uint8_t>(to + 10);
    }
    if (move & kMoveSpecial) {
      if (int p = MovePromo(move)) {
        CccCell(b, to) = static_cast<uint8_t>(piece + 2 * p);
      } else if (move & kMoveEp) {
        CccCell(b, to + 10) = kEmpty;
        SqrSub(b->wsqr, to + 10);
      } else {
        if (to == kC8) CastleRook(b, b->zsqr, kZR, kA8, kD8);
        else CastleRook(b, b->zsqr, kZR, kH8, kF8);
      }
    }
  }
}

void CccFillSqrx(Ccc* b) {
  for (int s = 0; s < 80; ++s) {
    int v = CccCell(b, s);
    if (v & kWhiteBit) FillOne(b->wsqr, s, v == kWK, "CccFillSqrx: too many wpieces");
    if (v & kBlackBit) FillOne(b->zsqr, s, v == kZK, "CccFillSqrx: too many zpieces");
  }
}

void CccSetString(const char* text, Ccc* b) {
  memset(b, 0, sizeof *b);
  int pos = 0;
  for (int rank = 7; rank >= 0; --rank) {
    for (int file = 0; file < 8; ++file) {
      int s = MailboxSquare(rank, file);
      // A short text leaves the remaining squares empty rather than
      // reading past its end.
      char c = text[pos];
      if (c != 0) ++pos;
      int code = CodeOfChar(c);
      CccCell(b, s) = static_cast<uint8_t>(code != 0 ? code : kEmpty);
      if (c == 'E' || c == 'e' || c == '%') b->eps = static_cast<uint8_t>(s);
    }
  }
  CccFillSqrx(b);
  for (; text[pos] != 0; ++pos) {
    switch (text[pos]) {
      case 'W':
      case 'w': b->wtm = 1; break;
      case 'L': b->castL = 1; break;
      case 'S': b->castS = 1; break;
      case 'l': b->castl = 1; break;
      case 's': b->casts = 1; break;
      default: break;
    }
  }
  // Keep the en-passant square only when it lies behind an enemy pawn that
  // could just have made its double step and a pawn of the side to move can
  // take it; anything else would make the capture remove a wrong piece.
  if (int e = b->eps) {
    bool keep;
    if (b->wtm) {
      keep = MailboxRank(e) == 5 && CccCell(b, e - 10) == kZP &&
             (CccCell(b, e - 11) == kWP || CccCell(b, e - 9) == kWP);
    } else {
      keep = MailboxRank(e) == 2 && CccCell(b, e + 10) == kWP &&
             (CccCell(b, e + 9) == kZP || CccCell(b, e + 11) == kZP);
    }
    if (!keep) b->eps = 0;
  }
  if (!(CccCell(b, kE1) == kWK && CccCell(b, kA1) == kWR)) b->castL = 0;
  if (!(CccCell(b, kE1) == kWK && CccCell(b, kH1) == kWR)) b->castS = 0;
  if (!(CccCell(b, kE8) == kZK && CccCell(b, kA8) == kZR)) b->castl = 0;
  if (!(CccCell(b, kE8) == kZK && CccCell(b, kH8) == kZR)) b->casts = 0;
}
