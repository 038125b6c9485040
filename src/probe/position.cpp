// Positions from their piece lists and from FEN text, checked so that
// nothing the board, the probe key or the move generator does with them can
// fail.
#include <cstring>

#include "probe/probe.h"

namespace {

int Mailbox(int sq) { return MailboxSquare(sq >> 3, sq & 7); }

// An en-passant square on the board: legal when the pawn that crossed it
// stands in front of it and the squares it left are empty; kept only when a
// pawn of the side to move can take.
bool SetEp(Ccc* b, int ep) {
  int s = Mailbox(ep);
  int ahead = b->wtm ? -10 : 10;  // from the square to the pawn that crossed it
  int rank = b->wtm ? 5 : 2;
  int own = b->wtm ? kWP : kZP, their = b->wtm ? kZP : kWP;
  if (MailboxRank(s) != rank || CccCell(b, s) != kEmpty || CccCell(b, s - ahead) != kEmpty ||
      CccCell(b, s + ahead) != their) {
    return false;
  }
  if (CccCell(b, s + ahead - 1) == own || CccCell(b, s + ahead + 1) == own)
    b->eps = static_cast<uint8_t>(s);
  return true;
}

bool Square(const char* t, int* sq) {
  if (t[0] < 'a' || t[0] > 'h' || t[1] < '1' || t[1] > '8') return false;
  *sq = (t[1] - '1') * 8 + (t[0] - 'a');
  return true;
}

const char* SkipSpace(const char* t) {
  while (*t == ' ' || *t == '\t' || *t == '\r' || *t == '\n') t++;
  return t;
}

// A move counter field: digits, ended by a space or the end.
const char* Counter(const char* t) {
  if (*t < '0' || *t > '9') return nullptr;
  while (*t >= '0' && *t <= '9') t++;
  return *t == 0 || *t == ' ' || *t == '\t' || *t == '\r' || *t == '\n' ? t : nullptr;
}

}  // namespace

bool ProbeSetBoard(const zok_position* pos, Ccc* b) {
  if (pos == nullptr || pos->count < 2 || pos->count > 32) return false;
  memset(b, 0, sizeof *b);
  for (int rank = 0; rank < 8; rank++) {
    for (int file = 0; file < 8; file++) CccCell(b, MailboxSquare(rank, file)) = kEmpty;
  }
  int kings[2] = {0, 0}, men[2] = {0, 0};
  for (int i = 0; i < pos->count; i++) {
    int code = CodeOfChar(pos->piece[i]);
    int sq = pos->square[i];
    if (code == 0 || sq > 63) return false;
    int s = Mailbox(sq);
    if (CccCell(b, s) != kEmpty) return false;
    if (PieceKind(code) == 0 && (sq < 8 || sq >= 56)) return false;
    int side = (code & kWhiteBit) ? 0 : 1;
    men[side]++;
    if (code == kWK || code == kZK) kings[side]++;
    CccCell(b, s) = static_cast<uint8_t>(code);
  }
  if (kings[0] != 1 || kings[1] != 1 || men[0] > 16 || men[1] > 16) return false;
  // The square lists in ascending order, as the board's own fill makes them
  // (move generation follows it), without its scan of the whole board.
  int order[32];
  for (int i = 0; i < pos->count; i++) {
    int j = i;
    for (; j > 0 && pos->square[order[j - 1]] > pos->square[i]; j--) order[j] = order[j - 1];
    order[j] = i;
  }
  int filled[2] = {1, 1};
  for (int k = 0; k < pos->count; k++) {
    int i = order[k];
    int code = CodeOfChar(pos->piece[i]);
    uint8_t* list = (code & kWhiteBit) ? b->wsqr : b->zsqr;
    int& n = filled[(code & kWhiteBit) ? 0 : 1];
    list[PieceKind(code) == 5 ? 0 : n++] = static_cast<uint8_t>(Mailbox(pos->square[i]));
  }
  if (pos->white_to_move != 0 && pos->white_to_move != 1) return false;
  b->wtm = static_cast<uint8_t>(pos->white_to_move);
  // The side that has just moved cannot be in check.
  if (b->wtm ? AttackedByW(b, b->zsqr[0]) != 0 : AttackedByZ(b, b->wsqr[0]) != 0) return false;
  if (pos->ep_square != -1) {
    if (pos->ep_square < 0 || pos->ep_square > 63 || !SetEp(b, pos->ep_square)) return false;
  }
  if (pos->castling & ~15) return false;
  bool white_king = CccCell(b, kE1) == kWK, black_king = CccCell(b, kE8) == kZK;
  b->castL = (pos->castling & ZOK_CASTLE_WHITE_LONG) && white_king && CccCell(b, kA1) == kWR;
  b->castS = (pos->castling & ZOK_CASTLE_WHITE_SHORT) && white_king && CccCell(b, kH1) == kWR;
  b->castl = (pos->castling & ZOK_CASTLE_BLACK_LONG) && black_king && CccCell(b, kA8) == kZR;
  b->casts = (pos->castling & ZOK_CASTLE_BLACK_SHORT) && black_king && CccCell(b, kH8) == kZR;
  return true;
}

extern "C" int zok_parse_fen(const char* fen, zok_position* pos) {
  if (fen == nullptr || pos == nullptr) return ZOK_BAD_FEN;
  zok_position p;
  memset(&p, 0, sizeof p);
  const char* t = SkipSpace(fen);
  for (int rank = 7; rank >= 0; rank--) {
    int file = 0;
    bool digit = false;  // "44" fills the rank too, but is no FEN
    while (file < 8) {
      char c = *t++;
      if (c >= '1' && c <= '8' && !digit) {
        file += c - '0';
        digit = true;
        continue;
      }
      digit = false;
      if (CodeOfChar(c) == 0 || p.count == 32) return ZOK_BAD_FEN;
      p.piece[p.count] = c;
      p.square[p.count++] = static_cast<unsigned char>(rank * 8 + file);
      file++;
    }
    if (file != 8 || *t++ != (rank > 0 ? '/' : ' ')) return ZOK_BAD_FEN;
  }
  t = SkipSpace(t);
  if (*t != 'w' && *t != 'b') return ZOK_BAD_FEN;
  p.white_to_move = *t++ == 'w';
  if (*t != ' ') return ZOK_BAD_FEN;
  t = SkipSpace(t);
  if (*t == '-') {
    t++;
  } else {
    static const char kRights[] = "KQkq";
    int last = -1;
    while (*t != 0 && *t != ' ') {
      const char* at = strchr(kRights, *t);
      if (at == nullptr || at - kRights <= last) return ZOK_BAD_FEN;
      last = static_cast<int>(at - kRights);
      p.castling |= 1 << last;
      t++;
    }
    if (last < 0) return ZOK_BAD_FEN;
  }
  if (*t != ' ') return ZOK_BAD_FEN;
  t = SkipSpace(t);
  p.ep_square = -1;
  if (*t == '-') {
    t++;
  } else {
    if (!Square(t, &p.ep_square)) return ZOK_BAD_FEN;
    t += 2;
  }
  // The two move counters may be left out.
  for (int i = 0; i < 2; i++) {
    t = SkipSpace(t);
    if (*t == 0) break;
    t = Counter(t);
    if (t == nullptr) return ZOK_BAD_FEN;
  }
  if (*SkipSpace(t) != 0) return ZOK_BAD_FEN;
  Ccc board;
  if (!ProbeSetBoard(&p, &board)) return ZOK_BAD_FEN;
  *pos = p;
  return ZOK_OK;
}
