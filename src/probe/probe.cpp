#include "probe/probe.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "board/move_generation.h"
#include "index/db_format.h"
#include "index/names.h"
#include "index/probe_key.h"
#include "probe/tables.h"

namespace {

int CountMen(const uint8_t* list) {
  int n = 0;
  while (n < kCccListSize && list[n] != 0) n++;
  return n;
}

// What one database says of a board: White's win (its value byte) or none
// (kValueNone), or why it cannot say.
struct Half {
  int byte;  // 0..255, or kProbeMissing / kProbeDamaged
  char name[9];
};

Half StraightByte(zok_tb* tb, const Ccc* board) {
  Half h = {kValueNone, {}};
  // A lone king never mates; no database is needed to say so.
  if (CountMen(board->wsqr) <= 1) return h;
  Pap key;
  PapMake(board, &key);
  ProbeDb* db = ProbeDatabase(tb, key.material);
  memcpy(h.name, db->name, sizeof h.name);
  h.byte = db->state != 0 ? db->state : ProbeDbByte(tb, db, key.index);
  return h;
}

// The value of a win (`win`) or loss of the side to move from a byte.
void SetMate(zok_value* v, bool win, int byte) {
  v->outcome = win ? ZOK_WIN : ZOK_LOSS;
  v->moves = byte;
  v->plies = win ? 2 * byte - 1 : 2 * byte;
}

void SetUnknown(zok_value* v, zok_reason reason, const char* name) {
  v->outcome = ZOK_UNKNOWN;
  v->reason = reason;
  snprintf(v->missing, sizeof v->missing, "%s", name);
}

const char kFiles[] = "abcdefgh";

bool UciBefore(uint32_t a, uint32_t b) {
  char ta[8], tx[8];
  ProbeMoveText(a, ta);
  ProbeMoveText(b, tx);
  return strcmp(ta, tx) < 0;
}

}  // namespace

int ProbeByte(zok_tb* tb, uint32_t material, double index) {
  ProbeDb* db = ProbeDatabase(tb, material);
  if (db->state != 0) return db->state;
  return ProbeDbByte(tb, db, index);
}

double ProbeEntries(zok_tb* tb, uint32_t material) {
  ProbeDb* db = ProbeDatabase(tb, material);
  return db->state != 0 ? db->state : db->size;
}

int ProbeBoardByte(zok_tb* tb, const Ccc* board) {
  int white = CountMen(board->wsqr);
  int black = CountMen(board->zsqr);
  if (white > kMaxSideMen || black > kMaxSideMen || white + black > kPapMaxPieces) return kProbeMissing;
  if (board->castL || board->castS || board->castl || board->casts) return kProbeMissing;
  return StraightByte(tb, board).byte;
}

void ProbeMirror(const Ccc* board, Ccc* mirror) {
  memset(mirror, 0, sizeof *mirror);
  for (int rank = 0; rank < 8; rank++) {
    for (int file = 0; file < 8; file++) {
      int cell = CccCell(board, MailboxSquare(rank, file));
      if (cell & kAnyPiece) cell ^= kAnyPiece;
      CccCell(mirror, MailboxSquare(7 - rank, file)) = static_cast<uint8_t>(cell);
    }
  }
  if (board->eps != 0) {
    mirror->eps =
        static_cast<uint8_t>(MailboxSquare(7 - MailboxRank(board->eps), MailboxFile(board->eps)));
  }
  CccFillSqrx(mirror);
  mirror->wtm = board->wtm ? 0 : 1;
  mirror->castL = board->castl;
  mirror->castS = board->casts;
  mirror->castl = board->castL;
  mirror->casts = board->castS;
}

void ProbeBoard(zok_tb* tb, const Ccc* board, zok_value* value) {
  memset(value, 0, sizeof *value);
  int white = CountMen(board->wsqr);
  int black = CountMen(board->zsqr);
  if (white > kMaxSideMen || black > kMaxSideMen || white + black > kPapMaxPieces) {
    SetUnknown(value, ZOK_TOO_MANY_MEN, "");
    return;
  }
  if (board->castL || board->castS || board->castl || board->casts) {
    SetUnknown(value, ZOK_CASTLING, "");
    return;
  }
  Half straight = StraightByte(tb, board);
  if (straight.byte >= 0 && straight.byte != kValueNone) {
    SetMate(value, board->wtm != 0, straight.byte);
    return;
  }
  Ccc mirror;
  ProbeMirror(board, &mirror);
  Half swapped = StraightByte(tb, &mirror);
  if (swapped.byte >= 0 && swapped.byte != kValueNone) {
    SetMate(value, mirror.wtm != 0, swapped.byte);
    return;
  }
  for (const Half* h : {&straight, &swapped}) {
    if (h->byte < 0) {
      SetUnknown(value, h->byte == kProbeMissing ? ZOK_MISSING : ZOK_DAMAGED, h->name);
      return;
    }
  }
  value->outcome = ZOK_DRAW;
}

zok_value ProbeBackUp(const zok_value& successor) {
  zok_value v = successor;
  if (successor.outcome == ZOK_LOSS) {
    v.outcome = ZOK_WIN;
    v.moves = successor.moves + 1;
    v.plies = successor.plies + 1;
  } else if (successor.outcome == ZOK_WIN) {
    v.outcome = ZOK_LOSS;
    v.moves = successor.moves;
    v.plies = successor.plies + 1;
  }
  return v;
}

int ProbeRank(const zok_value& value) {
  switch (value.outcome) {
    case ZOK_WIN: return 1000000 - value.plies;
    case ZOK_LOSS: return -1000000 + value.plies;
    case ZOK_DRAW: return 0;
    default: return INT_MIN;
  }
}

uint32_t ProbeBestMove(zok_tb* tb, const Ccc* board, zok_value* value) {
  ProbeBoard(tb, board, value);
  if (value->outcome == ZOK_UNKNOWN) return 0;
  uint32_t moves[kCccMaxMoves + 1];
  int n = CccGenMoves(board, moves);
  uint32_t best = 0;
  int best_rank = INT_MIN;
  zok_value unknown = {};  // the first successor whose value is unknown
  for (int i = 0; i < n; i++) {
    Ccc after;
    CccDoMove(const_cast<Ccc*>(board), moves[i], &after);
    zok_value v;
    ProbeBoard(tb, &after, &v);
    v = ProbeBackUp(v);
    if (v.outcome == ZOK_UNKNOWN) {
      if (unknown.reason == ZOK_KNOWN) unknown = v;
      continue;
    }
    // Of equal moves the first in coordinate notation, as the ranked list
    // of every move has it.
    int rank = ProbeRank(v);
    if (rank > best_rank || (rank == best_rank && UciBefore(moves[i], best))) {
      best_rank = rank;
      best = moves[i];
    }
  }
  if (n == 0) return 0;
  // The best of the known successors is a best move only when it gives the
  // position's value: one unknown successor may hold the mate the others
  // miss, and a draw among the rest is then no move of a won position.
  if (best != 0 && best_rank == ProbeRank(*value)) return best;
  zok_outcome outcome = value->outcome;
  if (unknown.reason != ZOK_KNOWN) {
    SetUnknown(value, unknown.reason, unknown.missing);
  } else {
    // Every successor is known and none gives the value: the databases
    // contradict each other, and the one that gave the value is named.
    Ccc mirror;
    ProbeMirror(board, &mirror);
    const Half straight = StraightByte(tb, board), swapped = StraightByte(tb, &mirror);
    auto wins = [](const Half& h) { return h.byte >= 0 && h.byte != kValueNone; };
    const Half& source = wins(straight)          ? straight
                         : wins(swapped)         ? swapped
                         : straight.name[0] != 0 ? straight
                                                 : swapped;
    SetUnknown(value, ZOK_DAMAGED, source.name);
  }
  value->outcome = outcome;
  return 0;
}

void ProbeMoveText(uint32_t move, char* text) {
  int from = MoveFrom(move), to = MoveTo(move);
  int n = 0;
  text[n++] = kFiles[MailboxFile(from)];
  text[n++] = static_cast<char>('1' + MailboxRank(from));
  text[n++] = kFiles[MailboxFile(to)];
  text[n++] = static_cast<char>('1' + MailboxRank(to));
  if (int p = MovePromo(move)) text[n++] = " nbrq"[p];
  text[n] = 0;
}
