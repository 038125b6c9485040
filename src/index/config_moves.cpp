#include "index/config_moves.h"

#include "index/position_index.h"

namespace {

// The field of piece i in a number of n pieces, king highest.
struct Field {
  int32_t base;
  int shift;
};

inline Field FieldOf(int32_t h, int n, int i) {
  int shift = 6 * (n - 1 - i);
  return {h & ~(63 << shift), shift};
}

inline int32_t With(Field f, int s) { return f.base | kSqOfMailbox[s] << f.shift; }

// Bounded by the list's size, which also keeps the compiler from making this
// a call to strlen: the lists hold a few squares and this runs for every
// entry of every pass.
inline int ListLength(const uint8_t* list) {
  int n = 0;
  while (n < kCccListSize && list[n] != 0) n++;
  return n;
}

// Every empty target of a knight, slider or king on s; pawns are the
// caller's. Returns the new count.
int PieceTargets(const Ccc* board, int s, Field f, int32_t* out, int count) {
  int kind = PieceKind(CccCell(board, s));
  if (kind == 1) {
    for (int j : kKnightJumps) {
      if (CccCell(board, s + j) == kEmpty) out[count++] = With(f, s + j);
    }
    return count;
  }
  if (kind == 5) {
    for (int v : kLineDirs) {
      if (CccCell(board, s + v) == kEmpty) out[count++] = With(f, s + v);
    }
    return count;
  }
  int first = kind == 3 ? 4 : 0;
  int last = kind == 2 ? 4 : 8;
  for (int di = first; di < last; di++) {
    int v = kLineDirs[di];
    for (int t = s + v; CccCell(board, t) == kEmpty; t += v) out[count++] = With(f, t);
  }
  return count;
}

// The only un-move of a side whose last move was a double step: the pawn on
// `now` goes back to `from`.
int UnmoveDoubleStep(int32_t h, const uint8_t* list, int now, int from, int32_t* out) {
  int n = ListLength(list);
  for (int i = 1; i < n; i++) {
    if (list[i] != now) continue;
    out[0] = With(FieldOf(h, n, i), from);
    return 1;
  }
  return 0;
}

}  // namespace

template <bool kW>
int Unmove(int32_t hash, const Ccc* board, int32_t* out) {
  const uint8_t* list = kW ? board->wsqr : board->zsqr;
  // The side's pawns came from one rank back: White's from below.
  constexpr int kBack = kW ? -10 : 10;
  constexpr int kPawn = PawnCode(kW);
  constexpr int kEnemyPawn = PawnCode(!kW);
  if (board->eps != 0) {
    return UnmoveDoubleStep(hash, list, board->eps - kBack, board->eps + kBack, out);
  }
  int n = ListLength(list);
  int count = 0;
  for (int i = 0; i < n; i++) {
    int s = list[i];
    Field f = FieldOf(hash, n, i);
    if (CccCell(board, s) != kPawn) {
      count = PieceTargets(board, s, f, out, count);
      continue;
    }
    if ((kW ? s < 21 : s > 58) || CccCell(board, s + kBack) != kEmpty) continue;
    out[count++] = With(f, s + kBack);
    // A double step beside an enemy pawn left an en-passant right: that
    // position has another number and is reached through its eps.
    if ((kW ? s >= 31 && s <= 38 : s >= 41 && s <= 48) &&
        CccCell(board, s + 2 * kBack) == kEmpty && CccCell(board, s - 1) != kEnemyPawn &&
        CccCell(board, s + 1) != kEnemyPawn) {
      out[count++] = With(f, s + 2 * kBack);
    }
  }
  return count;
}

template int Unmove<true>(int32_t, const Ccc*, int32_t*);
template int Unmove<false>(int32_t, const Ccc*, int32_t*);

int QuietZ(int32_t hashz, const Ccc* board, int32_t* out) {
  int n = ListLength(board->zsqr);
  int count = 0;
  for (int i = 0; i < n; i++) {
    int s = board->zsqr[i];
    Field f = FieldOf(hashz, n, i);
    if (CccCell(board, s) != kZP) {
      count = PieceTargets(board, s, f, out, count);
      continue;
    }
    if (s < 21 || CccCell(board, s - 10) != kEmpty) continue;
    out[count++] = With(f, s - 10);
    if (s >= 61 && CccCell(board, s - 20) == kEmpty) {
      bool ep = CccCell(board, s - 21) == kWP || CccCell(board, s - 19) == kWP;
      out[count++] = With(f, ep ? s - 60 : s - 20);
    }
  }
  return count;
}
