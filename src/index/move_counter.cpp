#include "index/move_counter.h"

#include <initializer_list>

#include "board/move_generation.h"
#include "support/console.h"

namespace {

// Map bits besides those of the full generator: empty cell, and in single
// check the cells between the black king and the checker plus the checker.
constexpr uint8_t kMapEmpty = 32;
constexpr uint8_t kMapBlock = 64;

inline bool IsKingStep(int d) {
  return d == 1 || d == -1 || d == 9 || d == -9 || d == 10 || d == -10 || d == 11 ||
         d == -11;
}

// Attackers of the king on k among the pieces of `list` (slot 1 on), whose
// pawn attacks the king from k + pawn1 or k + pawn2.
int InChk(const Ccc* board, int k, int other_king, const uint8_t* list, int pawn1,
          int pawn2) {
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
      default:
        continue;
    }
    step = d;
    found++;
  }
  if (found == 0) return 0;
  return found > 1 ? 2 : step;
}

// Map of Black's moves: empty cells, cells White attacks (with the black king
// lifted), and pin restrictions of black pieces.
void BuildMapZ(const Ccc* board, uint8_t* map) {
  for (int c = 0; c < kCccCells; c++) map[c] = board->sqrx[c] & kMapEmpty;
  uint8_t* m = map + kCccOrigin;
  int bk = board->zsqr[0];
  m[bk] = kMapEmpty;
  for (int v : kLineDirs) m[board->wsqr[0] + v] |= kMapAttacked;
  for (int i = 1; board->wsqr[i] != 0; i++) {
    int s = board->wsqr[i];
    int kind = PieceKind(CccCell(board, s));
    if (kind == 0) {
      m[s + 11] |= kMapAttacked;
      m[s + 9] |= kMapAttacked;
      continue;
    }
    if (kind == 1) {
      for (int j : kKnightJumps) m[s + j] |= kMapAttacked;
      continue;
    }
    for (int half = 0; half < 2; half++) {
      // half 0: diagonals (bishop, queen); half 1: straight lines (rook, queen)
      if (half == 0 ? kind == 3 : kind == 2) continue;
      for (int di = 4 * half; di < 4 * half + 4; di++) {
        int v = kLineDirs[di];
        int t = s + v;
        while (m[t] & kMapEmpty) {
          m[t] |= kMapAttacked;
          t += v;
        }
        m[t] |= kMapAttacked;
      }
      uint8_t r = Relation(s - bk);
      if (!(r & (half == 0 ? kRelDiagonal : kRelStraight))) continue;
      int di = r & kRelDirMask;
      int v = kLineDirs[di];
      int p = bk + v;
      while (CccCell(board, p) == kEmpty) p += v;
      if (p == s || !(m[p] & kMapAttacked)) continue;
      int q = s - v;
      while (CccCell(board, q) == kEmpty) q -= v;
      if (q == p) m[p] |= kPinMark[di];
    }
  }
  m[bk] &= static_cast<uint8_t>(~kMapEmpty);
}

// Collects the listed words and the count of quiet moves of one call.
struct ZtmList {
  uint32_t* out;
  int listed;
  int counted;
};

inline void List(ZtmList* z, int from, int to) {
  z->out[z->listed++] = MakeMove(from, to);
}

inline void ListPromotions(ZtmList* z, int from, int to) {
  uint32_t m = MakeMove(from, to);
  for (int p = kPromoQ; p >= kPromoN; p--) {
    z->out[z->listed++] = m | static_cast<uint32_t>(p) << kMovePromoShift;
  }
}

// A black pawn move in the evasion of a single check.
inline void PawnEvasion(const uint8_t* m, ZtmList* z, const Ccc* board, int from, int to) {
  if (m[from] & kMapPinned) return;
  if (CccCell(board, to) == kEmpty && to >= 11 && to < 69) {
    z->counted++;
  } else if (to < 9 || to > 70) {
    ListPromotions(z, from, to);
  } else {
    List(z, from, to);
  }
}

// Black pawn moves that resolve a single check with step c from the black
// king k; marks the checking line and the checker with kMapBlock.
void ChkPawnZ(const Ccc* board, uint8_t* m, int k, int c, ZtmList* z) {
  int t = k + c;
  while (CccCell(board, t) == kEmpty) {
    m[t] = static_cast<uint8_t>((m[t] | kMapBlock) & ~kMapEmpty);
    if (CccCell(board, t + 10) == kZP) PawnEvasion(m, z, board, t + 10, t);
    if (t >= 41 && CccCell(board, t + 10) == kEmpty && CccCell(board, t + 20) == kZP) {
      PawnEvasion(m, z, board, t + 20, t);
    }
    t += c;
  }
  m[t] |= kMapBlock;
  if (!(CccCell(board, t) & kWhiteBit)) OutError("ChkPawnZ: in check not Ok");
  if (CccCell(board, t + 11) == kZP) PawnEvasion(m, z, board, t + 11, t);
  if (CccCell(board, t + 9) == kZP) PawnEvasion(m, z, board, t + 9, t);
}

void KingMovesZ(const Ccc* board, const uint8_t* m, ZtmList* z) {
  int k = board->zsqr[0];
  for (int v : kLineDirs) {
    int t = k + v;
    if (m[t] & kMapAttacked) continue;
    uint8_t cell = CccCell(board, t);
    if (cell == kEmpty) {
      z->counted++;
    } else if (cell & kWhiteBit) {
      List(z, k, t);
    }
  }
}

// Moves of the black pieces when Black is not in check.
void PieceMovesZ(const Ccc* board, const uint8_t* m, ZtmList* z) {
  for (int i = 1; board->zsqr[i] != 0; i++) {
    int s = board->zsqr[i];
    int kind = PieceKind(CccCell(board, s));
    uint8_t pin = m[s] & kMapPinned;
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
        if (cell == kEmpty) {
          z->counted++;
        } else if (cell & kWhiteBit) {
          List(z, s, s + j);
        }
      }
      continue;
    }
    int first = kind == 3 ? 4 : 0;
    int last = kind == 2 ? 4 : 8;
    for (int di = first; di < last; di++) {
      if (pin & kDirBit[di]) continue;
      int v = kLineDirs[di];
      int t = s + v;
      while (CccCell(board, t) == kEmpty) {
        z->counted++;
        t += v;
      }
      if (CccCell(board, t) & kWhiteBit) List(z, s, t);
    }
  }
}

// Moves of the unpinned black pieces that capture the checker or block the
// line to it; pawns are handled by ChkPawnZ.
void PieceEvasionsZ(const Ccc* board, const uint8_t* m, ZtmList* z) {
  for (int i = 1; board->zsqr[i] != 0; i++) {
    int s = board->zsqr[i];
    if (m[s] & kMapPinned) continue;
    int kind = PieceKind(CccCell(board, s));
    if (kind == 0) continue;
    if (kind == 1) {
      for (int j : kKnightJumps) {
        if (!(m[s + j] & kMapBlock)) continue;
        if (CccCell(board, s + j) & kWhiteBit) {
          List(z, s, s + j);
        } else {
          z->counted++;
        }
      }
      continue;
    }
    int first = kind == 3 ? 4 : 0;
    int last = kind == 2 ? 4 : 8;
    for (int di = first; di < last; di++) {
      int v = kLineDirs[di];
      int t = s + v;
      while (m[t] & kMapEmpty) t += v;
      if (!(m[t] & kMapBlock)) continue;
      if (CccCell(board, t) & kWhiteBit) {
        List(z, s, t);
      } else {
        z->counted++;
      }
    }
  }
}

}  // namespace

int InChkW(const Ccc* board) {
  return InChk(board, board->wsqr[0], board->zsqr[0], board->zsqr, 11, 9);
}

int InChkZ(const Ccc* board) {
  return InChk(board, board->zsqr[0], board->wsqr[0], board->wsqr, -11, -9);
}

int ZtmGen(const Ccc* board, uint32_t* moves) {
  uint8_t map[kCccCells];
  uint8_t* m = map + kCccOrigin;
  ZtmList z{moves, 0, 0};
  BuildMapZ(board, map);
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
  int c = InChkZ(board);
  if (c == 0) {
    PieceMovesZ(board, m, &z);
  } else if (c != 2) {
    ChkPawnZ(board, m, k, c, &z);
    PieceEvasionsZ(board, m, &z);
  }
  KingMovesZ(board, m, &z);
  moves[z.listed] = 0;
  return z.listed + z.counted;
}
