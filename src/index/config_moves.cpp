#include "index/config_moves.h"

#include "board/geometry.h"
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

// Square set of the pieces of both lists.
inline uint64_t Occupied(const Ccc* board) {
  uint64_t occ = 0;
  for (int i = 0; i < kCccListSize && board->wsqr[i] != 0; i++) {
    occ |= uint64_t{1} << kSqOfMailbox[board->wsqr[i]];
  }
  for (int i = 0; i < kCccListSize && board->zsqr[i] != 0; i++) {
    occ |= uint64_t{1} << kSqOfMailbox[board->zsqr[i]];
  }
  return occ;
}

// The empty squares of ray kDi from sq, nearest first. All eight padded
// squares are written and the count then advances over the empty ones, so
// that where a ray ends costs no branch: the caller's array has room for
// the surplus.
template <int kDi>
inline int RayTargets(int sq, uint64_t occ, Field f, int32_t* out, int count) {
  const int32_t* ray = kGeometry.ray_sq[sq][kDi];
  int32_t* o = out + count;
  for (int k = 0; k < 8; k++) o[k] = f.base | ray[k] << f.shift;
  // The nearest blocker, or else the ray's last square, which counts when
  // it is empty.
  uint64_t blockers = kGeometry.ray_set[sq][kDi] & occ;
  uint64_t stops = blockers | kGeometry.ray_end[sq][kDi];
  constexpr int kStep = kSqLineSteps[kDi];
  int stop = kStep > 0 ? __builtin_ctzll(stops) : 63 - __builtin_clzll(stops);
  // Every step but a sideways one changes the rank by one.
  int dist = kStep == 1 || kStep == -1 ? stop - sq : (stop >> 3) - (sq >> 3);
  if (kStep < 0) dist = -dist;
  return count + dist - static_cast<int>(blockers >> stop & 1);
}

// The same for the steps of a knight or king: every step written, the count
// advanced when its cell is empty.
inline int StepTargets(const Ccc* board, int s, const uint8_t* step_sq, const int* steps, Field f,
                       int32_t* out, int count) {
  for (int k = 0; k < 8; k++) {
    out[count] = f.base | static_cast<int32_t>(step_sq[k]) << f.shift;
    count += CccCell(board, s + steps[k]) == kEmpty;
  }
  return count;
}

// Where the generators put their targets: a list (every target kept) or a
// bitmap test (the first target missing from the bitmap ends the search).
// at() is where a group of up to 8 targets (a ray or a piece's steps, padded)
// is written; take(n) takes the first n of them and says whether to go on.
struct ListSink {
  int32_t* out;
  int count;
  int32_t* at() { return out + count; }
  bool take(int n) {
    count += n;
    return true;
  }
};

struct BitmapSink {
  const uint8_t* bits;
  int32_t group[8];
  int32_t* at() { return group; }
  bool take(int n) {
    for (int k = 0; k < n; k++) {
      if ((bits[group[k] >> 3] >> (group[k] & 7) & 1) == 0) return false;
    }
    return true;
  }
};

// Every empty target of a knight, slider or king on s, group by group;
// pawns are the caller's. False when the sink stopped.
template <class Sink>
bool PieceTargets(const Ccc* board, int s, uint64_t occ, Field f, Sink& sink) {
  int sq = kSqOfMailbox[s];
  int kind = PieceKind(CccCell(board, s));
  if (kind == 1)
    return sink.take(StepTargets(board, s, kGeometry.knight_sq[sq], kKnightJumps, f, sink.at(), 0));
  if (kind == 5)
    return sink.take(StepTargets(board, s, kGeometry.king_sq[sq], kLineDirs, f, sink.at(), 0));
  if (kind != 3 && !(sink.take(RayTargets<0>(sq, occ, f, sink.at(), 0)) &&
                     sink.take(RayTargets<1>(sq, occ, f, sink.at(), 0)) &&
                     sink.take(RayTargets<2>(sq, occ, f, sink.at(), 0)) &&
                     sink.take(RayTargets<3>(sq, occ, f, sink.at(), 0)))) {
    return false;
  }
  return kind == 2 || (sink.take(RayTargets<4>(sq, occ, f, sink.at(), 0)) &&
                       sink.take(RayTargets<5>(sq, occ, f, sink.at(), 0)) &&
                       sink.take(RayTargets<6>(sq, occ, f, sink.at(), 0)) &&
                       sink.take(RayTargets<7>(sq, occ, f, sink.at(), 0)));
}

// Black's quiet moves as QuietZ lists them, into a sink. False when the sink
// stopped.
template <class Sink>
bool QuietZTargets(int32_t hashz, const Ccc* board, Sink& sink) {
  int n = ListLength(board->zsqr);
  uint64_t occ = Occupied(board);
  for (int i = 0; i < n; i++) {
    int s = board->zsqr[i];
    Field f = FieldOf(hashz, n, i);
    if (CccCell(board, s) != kZP) {
      if (!PieceTargets(board, s, occ, f, sink)) return false;
      continue;
    }
    if (s < 21 || CccCell(board, s - 10) != kEmpty) continue;
    sink.at()[0] = With(f, s - 10);
    if (!sink.take(1)) return false;
    if (s >= 61 && CccCell(board, s - 20) == kEmpty) {
      bool ep = CccCell(board, s - 21) == kWP || CccCell(board, s - 19) == kWP;
      sink.at()[0] = With(f, ep ? s - 60 : s - 20);
      if (!sink.take(1)) return false;
    }
  }
  return true;
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
  uint64_t occ = Occupied(board);
  ListSink sink{out, 0};
  int& count = sink.count;
  for (int i = 0; i < n; i++) {
    int s = list[i];
    Field f = FieldOf(hash, n, i);
    if (CccCell(board, s) != kPawn) {
      PieceTargets(board, s, occ, f, sink);
      continue;
    }
    if ((kW ? s < 21 : s > 58) || CccCell(board, s + kBack) != kEmpty) continue;
    out[count++] = With(f, s + kBack);
    // A double step beside an enemy pawn left an en-passant right: that
    // position has another number and is reached through its eps.
    if ((kW ? s >= 31 && s <= 38 : s >= 41 && s <= 48) && CccCell(board, s + 2 * kBack) == kEmpty &&
        CccCell(board, s - 1) != kEnemyPawn && CccCell(board, s + 1) != kEnemyPawn) {
      out[count++] = With(f, s + 2 * kBack);
    }
  }
  return count;
}

template int Unmove<true>(int32_t, const Ccc*, int32_t*);
template int Unmove<false>(int32_t, const Ccc*, int32_t*);

int QuietZ(int32_t hashz, const Ccc* board, int32_t* out) {
  ListSink sink{out, 0};
  QuietZTargets(hashz, board, sink);
  return sink.count;
}

bool QuietZAllIn(int32_t hashz, const Ccc* board, const uint8_t* bits) {
  BitmapSink sink{bits, {}};
  return QuietZTargets(hashz, board, sink);
}
