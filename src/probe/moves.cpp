// Every legal move of a position with its value, its notations and what it
// does (capture, check, mate), ranked best first for the side to move.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "board/move_generation.h"
#include "probe/probe.h"

namespace {

const char kPieceLetters[] = "PNBRQK";

// The sort class of a value: wins, draws, unknowns, losses; within wins
// fewer plies first, within losses more plies first.
int Class(const zok_value& v) {
  switch (v.outcome) {
    case ZOK_WIN: return 0;
    case ZOK_DRAW: return 1;
    case ZOK_LOSS: return 3;
    default: return 2;
  }
}

bool Before(const zok_move& a, const zok_move& b) {
  int ca = Class(a.value), cb = Class(b.value);
  if (ca != cb) return ca < cb;
  if (ca == 0 && a.value.plies != b.value.plies) return a.value.plies < b.value.plies;
  if (ca == 3 && a.value.plies != b.value.plies) return a.value.plies > b.value.plies;
  return strcmp(a.uci, b.uci) < 0;
}

// The standard algebraic notation of a legal move, without its check sign:
// a piece's origin is named by file, else rank, else both, only when
// another piece of its kind can go to the same square.
int San(const Ccc* board, uint32_t move, const uint32_t* legal, int n, char* text) {
  const int from = MoveFrom(move), to = MoveTo(move);
  const int kind = PieceKind(CccCell(board, from));
  int len = 0;
  auto square = [&](int s) {
    text[len++] = static_cast<char>('a' + MailboxFile(s));
    text[len++] = static_cast<char>('1' + MailboxRank(s));
  };
  if (move & kMoveCastle) {
    return snprintf(text, 8, "%s", MailboxFile(to) > MailboxFile(from) ? "O-O" : "O-O-O");
  }
  const bool capture = (CccCell(board, to) & kAnyPiece) != 0 || (move & kMoveEp) != 0;
  if (kind == 0) {
    if (capture) {
      text[len++] = static_cast<char>('a' + MailboxFile(from));
      text[len++] = 'x';
    }
    square(to);
    if (int p = MovePromo(move)) {
      text[len++] = '=';
      text[len++] = kPieceLetters[p];
    }
    text[len] = 0;
    return len;
  }
  text[len++] = kPieceLetters[kind];
  bool rival = false, same_file = false, same_rank = false;
  for (int i = 0; i < n; i++) {
    int other = MoveFrom(legal[i]);
    if (MoveTo(legal[i]) != to || other == from || PieceKind(CccCell(board, other)) != kind) continue;
    rival = true;
    same_file |= MailboxFile(other) == MailboxFile(from);
    same_rank |= MailboxRank(other) == MailboxRank(from);
  }
  if (rival) {
    if (!same_file) {
      text[len++] = static_cast<char>('a' + MailboxFile(from));
    } else if (!same_rank) {
      text[len++] = static_cast<char>('1' + MailboxRank(from));
    } else {
      square(from);
    }
  }
  if (capture) text[len++] = 'x';
  square(to);
  text[len] = 0;
  return len;
}

}  // namespace

int ProbeMoves(zok_tb* tb, const Ccc* board, zok_move* out) {
  uint32_t legal[kCccMaxMoves + 1];
  const int n = CccGenMoves(board, legal);
  for (int i = 0; i < n; i++) {
    const uint32_t move = legal[i];
    zok_move& m = out[i];
    memset(&m, 0, sizeof m);
    ProbeMoveText(move, m.uci);
    int len = San(board, move, legal, n, m.san);
    Ccc after;
    CccDoMove(const_cast<Ccc*>(board), move, &after);
    uint32_t replies[kCccMaxMoves + 1];
    const bool check = CccInCheck(&after) != 0;
    const bool stuck = CccGenMoves(&after, replies) == 0;
    if ((CccCell(board, MoveTo(move)) & kAnyPiece) != 0 || (move & kMoveEp)) m.flags |= ZOK_MOVE_CAPTURE;
    if (MovePromo(move) != 0) m.flags |= ZOK_MOVE_PROMOTION;
    if (move & kMoveEp) m.flags |= ZOK_MOVE_EN_PASSANT;
    if (check) m.flags |= ZOK_MOVE_CHECK;
    if (check && stuck) m.flags |= ZOK_MOVE_CHECKMATE;
    if (!check && stuck) m.flags |= ZOK_MOVE_STALEMATE;
    if (check) {
      m.san[len++] = stuck ? '#' : '+';
      m.san[len] = 0;
    }
    zok_value v;
    ProbeBoard(tb, &after, &v);
    m.value = ProbeBackUp(v);
  }
  std::sort(out, out + n, Before);
  return n;
}
