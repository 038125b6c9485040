#include "index/move_counter.h"

#include <initializer_list>

#include "board/geometry.h"
#include "board/move_generation.h"
#include "index/position_index.h"
#include "support/console.h"

namespace {

inline uint64_t Bit(int sq) { return uint64_t{1} << sq; }

inline bool IsKingStep(int d) {
  return d == 1 || d == -1 || d == 9 || d == -9 || d == 10 || d == -10 || d == 11 || d == -11;
}

// Attackers of the king on k among the pieces of `list` (slot 1 on), whose
// pawn attacks the king from k + pawn1 or k + pawn2.
int InChk(const Ccc* board, int k, int other_king, const uint8_t* list, int pawn1, int pawn2) {
  int found = 0;
  int step = 0;
  if (IsKingStep(other_king - k)) {
    step = other_king - k;
    found++;
  }
  for (int i = 1; list[i] != 0; i++) {
    int s = list[i];
    int d = s - k;
    uint8_t r = Relation(d);
    if (r == 0) continue;
    switch (PieceKind(CccCell(board, s))) {
      case 0:
        if (d != pawn1 && d != pawn2) continue;
        break;
      case 1:
        if (!(r & kRelKnight)) continue;
        break;
      case 2:
      case 3:
      case 4: {
        uint8_t need = PieceKind(CccCell(board, s)) == 2   ? kRelDiagonal
                       : PieceKind(CccCell(board, s)) == 3 ? kRelStraight
                                                           : kRelDiagonal | kRelStraight;
        if (!(r & need)) continue;
        int v = kLineDirs[r & kRelDirMask];
        int t = s - v;
        while (t != k && CccCell(board, t) == kEmpty) t -= v;
        if (t != k) continue;
        d = v;
        break;
      }
      default: continue;
    }
    step = d;
    found++;
  }
  if (found == 0) return 0;
  return found > 1 ? 2 : step;
}

// The nearest square of ray d from sq in `stops`, or the ray's last square
// when there is none (sq itself for an empty ray).
inline int RayStop(int d, int sq, uint64_t stops) {
  stops |= kGeometry.ray_end[sq][d];
  int up = __builtin_ctzll(stops), down = 63 - __builtin_clzll(stops);
  return (d & 1) == 0 ? up : down;
}

// Steps from sq to `to` along ray d: every step but a sideways one changes
// the rank by one.
inline int RayDistance(int d, int sq, int to) {
  int dist = d >= 6 ? to - sq : (to >> 3) - (sq >> 3);
  return (d & 1) == 0 ? dist : -dist;
}

// What Black's moves depend on, as square sets.
struct ZtmSets {
  uint64_t occupied;
  uint64_t white;
  uint64_t attacked;  // by White, with the black king lifted
  uint64_t pinned;    // alone between the black king and a white slider
};

ZtmSets MakeZtmSets(const Ccc* board) {
  ZtmSets z{0, 0, 0, 0};
  for (int i = 0; i < kCccListSize && board->wsqr[i] != 0; i++) {
    z.white |= Bit(kSqOfMailbox[board->wsqr[i]]);
  }
  z.occupied = z.white;
  for (int i = 0; i < kCccListSize && board->zsqr[i] != 0; i++) {
    z.occupied |= Bit(kSqOfMailbox[board->zsqr[i]]);
  }
  int bk = board->zsqr[0];
  int bksq = kSqOfMailbox[bk];
  uint64_t through_king = z.occupied & ~Bit(bksq);
  z.attacked = kGeometry.king_set[kSqOfMailbox[board->wsqr[0]]];
  for (int i = 1; board->wsqr[i] != 0; i++) {
    int s = board->wsqr[i];
    int sq = kSqOfMailbox[s];
    int kind = PieceKind(CccCell(board, s));
    if (kind == 0) {
      z.attacked |= kGeometry.pawn_from_set[1][sq];
      continue;
    }
    if (kind == 1) {
      z.attacked |= kGeometry.knight_set[sq];
      continue;
    }
    int first = kind == 3 ? 4 : 0;
    int last = kind == 2 ? 4 : 8;
    for (int d = first; d < last; d++) {
      uint64_t ray = kGeometry.ray_set[sq][d];
      z.attacked |= ray & ~kGeometry.ray_set[RayStop(d, sq, ray & through_king)][d];
    }
    // A pin: the slider's line through the black king holds exactly one
    // piece between them.
    uint8_t r = Relation(s - bk);
    if (!(r & (kind == 2 ? kRelDiagonal : kind == 3 ? kRelStraight : kRelDiagonal | kRelStraight)))
      continue;
    int di = r & kRelDirMask;
    if (!(kGeometry.ray_set[bksq][di] & Bit(sq))) continue;
    uint64_t between = kGeometry.ray_set[bksq][di] & ~kGeometry.ray_set[sq][di] & ~Bit(sq) & z.occupied;
    if (between != 0 && (between & (between - 1)) == 0) z.pinned |= between;
  }
  return z;
}

// Directions a piece on s may not move in: all but its pin line.
inline uint8_t PinOf(const ZtmSets& z, int s, int bk) {
  if (!(z.pinned & Bit(kSqOfMailbox[s]))) return 0;
  return kPinMark[Relation(s - bk) & kRelDirMask];
}

// Collects the listed words and the count of quiet moves of one call.
struct ZtmList {
  uint32_t* out;
  int listed;
  int counted;
};

inline void List(ZtmList* z, int from, int to) { z->out[z->listed++] = MakeMove(from, to); }

inline void ListPromotions(ZtmList* z, int from, int to) {
  uint32_t m = MakeMove(from, to);
  for (int p = kPromoQ; p >= kPromoN; p--) {
    z->out[z->listed++] = m | static_cast<uint32_t>(p) << kMovePromoShift;
  }
}

// A black pawn move in the evasion of a single check.
inline void PawnEvasion(const ZtmSets& sets, ZtmList* z, const Ccc* board, int from, int to) {
  if (sets.pinned & Bit(kSqOfMailbox[from])) return;
  if (CccCell(board, to) == kEmpty && to >= 11 && to < 69) {
    z->counted++;
  } else if (to < 9 || to > 70) {
    ListPromotions(z, from, to);
  } else {
    List(z, from, to);
  }
}

// Black pawn moves that resolve a single check with step c from the black
// king k; returns the checking line and the checker, where the other
// pieces' evasions go.
uint64_t ChkPawnZ(const Ccc* board, const ZtmSets& sets, int k, int c, ZtmList* z) {
  uint64_t block = 0;
  int t = k + c;
  while (CccCell(board, t) == kEmpty) {
    block |= Bit(kSqOfMailbox[t]);
    if (CccCell(board, t + 10) == kZP) PawnEvasion(sets, z, board, t + 10, t);
    if (t >= 41 && CccCell(board, t + 10) == kEmpty && CccCell(board, t + 20) == kZP) {
      PawnEvasion(sets, z, board, t + 20, t);
    }
    t += c;
  }
  block |= Bit(kSqOfMailbox[t]);
  if (!(CccCell(board, t) & kWhiteBit)) OutError("ChkPawnZ: in check not Ok");
  if (CccCell(board, t + 11) == kZP) PawnEvasion(sets, z, board, t + 11, t);
  if (CccCell(board, t + 9) == kZP) PawnEvasion(sets, z, board, t + 9, t);
  return block;
}

void KingMovesZ(const Ccc* board, const ZtmSets& sets, ZtmList* z) {
  int k = board->zsqr[0];
  const uint8_t* step_sq = kGeometry.king_sq[kSqOfMailbox[k]];
  for (int d = 0; d < 8; d++) {
    uint8_t cell = CccCell(board, k + kLineDirs[d]);
    bool free = !(sets.attacked & Bit(step_sq[d]));
    z->counted += cell == kEmpty && free;
    if ((cell & kWhiteBit) && free) List(z, k, k + kLineDirs[d]);
  }
}

// Moves of the black pieces when Black is not in check.
void PieceMovesZ(const Ccc* board, const ZtmSets& sets, ZtmList* z) {
  int bk = board->zsqr[0];
  for (int i = 1; board->zsqr[i] != 0; i++) {
    int s = board->zsqr[i];
    int kind = PieceKind(CccCell(board, s));
    uint8_t pin = PinOf(sets, s, bk);
    if (kind == 0) {
      bool promote = s < 19;
      int cap[2] = {s - 11, s - 9};
      uint8_t bit[2] = {1, 2};
      for (int j = 0; j < 2; j++) {
        if (!(CccCell(board, cap[j]) & kWhiteBit) || (pin & bit[j])) continue;
        if (promote) {
          ListPromotions(z, s, cap[j]);
        } else {
          List(z, s, cap[j]);
        }
      }
      if (CccCell(board, s - 10) != kEmpty || (pin & 4)) continue;
      if (promote) {
        ListPromotions(z, s, s - 10);
        continue;
      }
      z->counted++;
      if (s >= 61 && CccCell(board, s - 20) == kEmpty) z->counted++;
      continue;
    }
    if (kind == 1) {
      if (pin) continue;
      for (int j : kKnightJumps) {
        uint8_t cell = CccCell(board, s + j);
        z->counted += cell == kEmpty;
        if (cell & kWhiteBit) List(z, s, s + j);
      }
      continue;
    }
    int sq = kSqOfMailbox[s];
    int first = kind == 3 ? 4 : 0;
    int last = kind == 2 ? 4 : 8;
    for (int d = first; d < last; d++) {
      if (pin & kDirBit[d]) continue;
      uint64_t blockers = kGeometry.ray_set[sq][d] & sets.occupied;
      int stop = RayStop(d, sq, blockers);
      z->counted += RayDistance(d, sq, stop) - static_cast<int>(blockers >> stop & 1);
      if (sets.white & blockers & Bit(stop)) List(z, s, kMailboxOfSq[stop]);
    }
  }
}

// Moves of the unpinned black pieces onto `block`, the checking line and
// the checker; pawns are handled by ChkPawnZ.
void PieceEvasionsZ(const Ccc* board, const ZtmSets& sets, uint64_t block, ZtmList* z) {
  for (int i = 1; board->zsqr[i] != 0; i++) {
    int s = board->zsqr[i];
    int sq = kSqOfMailbox[s];
    if (sets.pinned & Bit(sq)) continue;
    int kind = PieceKind(CccCell(board, s));
    if (kind == 0) continue;
    if (kind == 1) {
      for (int j = 0; j < 8; j++) {
        uint8_t cell = CccCell(board, s + kKnightJumps[j]);
        if (cell == kBorder || !(block & Bit(kGeometry.knight_sq[sq][j]))) continue;
        if (cell & kWhiteBit) {
          List(z, s, s + kKnightJumps[j]);
        } else {
          z->counted++;
        }
      }
      continue;
    }
    int first = kind == 3 ? 4 : 0;
    int last = kind == 2 ? 4 : 8;
    for (int d = first; d < last; d++) {
      int stop = RayStop(d, sq, kGeometry.ray_set[sq][d] & (sets.occupied | block));
      if (!(block & Bit(stop))) continue;
      if (sets.white & Bit(stop)) {
        List(z, s, kMailboxOfSq[stop]);
      } else {
        z->counted++;
      }
    }
  }
}

}  // namespace

int InChkW(const Ccc* board) { return InChk(board, board->wsqr[0], board->zsqr[0], board->zsqr, 11, 9); }

int InChkZ(const Ccc* board) {
  return InChk(board, board->zsqr[0], board->wsqr[0], board->wsqr, -11, -9);
}

int ZtmGen(const Ccc* board, uint32_t* moves) {
  ZtmList z{moves, 0, 0};
  ZtmSets sets = MakeZtmSets(board);
  int k = board->zsqr[0];
  if (board->eps != 0) {
    // The one move tested by playing it, since it empties two cells of one
    // rank; done on a copy so that the caller's board stays untouched.
    int e = board->eps;
    for (int from : {e + 9, e + 11}) {
      if (CccCell(board, from) != kZP) continue;
      Ccc work = *board;
      CccCell(&work, from) = kEmpty;
      CccCell(&work, e) = kZP;
      CccCell(&work, e + 10) = kEmpty;
      if (AttackedByW(&work, k) == 0) z.out[z.listed++] = MakeMove(from, e) | kMoveEp;
    }
  }
  // The attacked set covers the king's own square: the step of the check
  // is wanted only when there is one.
  int c = sets.attacked & Bit(kSqOfMailbox[k]) ? InChkZ(board) : 0;
  if (c == 0) {
    PieceMovesZ(board, sets, &z);
  } else if (c != 2) {
    uint64_t block = ChkPawnZ(board, sets, k, c, &z);
    PieceEvasionsZ(board, sets, block, &z);
  }
  KingMovesZ(board, sets, &z);
  moves[z.listed] = 0;
  return z.listed + z.counted;
}
