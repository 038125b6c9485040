#include "board/move_generation.h"

#include <cstring>

#include "support/console.h"

namespace {

// Codes and steps of the side to move; Black mirrors White.
template <bool kW>
struct Side {
  static constexpr int kP = kW ? kWP : kZP;
  static constexpr int kK = kW ? kWK : kZK;
  static constexpr int kEnemy = kW ? kBlackBit : kWhiteBit;
  static constexpr int kTarget = kEmpty | kEnemy;  // empty or enemy
  static constexpr int kEB = kW ? kZB : kWB;
  static constexpr int kER = kW ? kZR : kWR;
  static constexpr int kEQ = kW ? kZQ : kWQ;
  static constexpr int kFwd = kW ? 10 : -10;
  static constexpr int kCap1 = kW ? 11 : -11;  // restriction bit 1
  static constexpr int kCap2 = kW ? 9 : -9;    // restriction bit 2
  // Steps from a square to the enemy pawns that attack it.
  static constexpr int kEnemyPawnAt1 = kW ? 11 : -11;
  static constexpr int kEnemyPawnAt2 = kW ? 9 : -9;
  static bool PromoFrom(int s) { return kW ? s >= 61 : s < 19; }
  static bool PromoTo(int t) { return kW ? t >= 71 : t < 9; }
  static bool DoubleFrom(int s) { return kW ? s < 19 : s >= 61; }
};

inline uint32_t* Add(uint32_t* m, int from, int to) {
  *m++ = MakeMove(from, to);
  return m;
}

// The four promotions in the order queen, rook, bishop, knight.
inline uint32_t* AddPromos(uint32_t* m, int from, int to) {
  uint32_t base = MakeMove(from, to);
  for (int p = kPromoQ; p >= kPromoN; --p) {
    *m++ = base | static_cast<uint32_t>(p) << kMovePromoShift;
  }
  return m;
}

template <bool kW>
inline uint32_t* AddPawn(uint32_t* m, int from, int to) {
  return Side<kW>::PromoTo(to) ? AddPromos(m, from, to) : Add(m, from, to);
}

inline void MarkRay(const uint8_t* cell, uint8_t* map, int s, int d) {
  int t = s + d;
  while (cell[t] == kEmpty) {
    map[t] |= kMapAttacked;
    t += d;
  }
  map[t] |= kMapAttacked;
}

// Cells the opponent attacks (with the own king lifted, so that the line
// through the king stays attacked behind it) and pins against the own king.
template <bool kW>
void BuildMap(Ccc* b, uint8_t* map) {
  using S = Side<kW>;
  uint8_t* cell = b->sqrx + kCccOrigin;
  map += kCccOrigin;
  const uint8_t* own = kW ? b->wsqr : b->zsqr;
  const uint8_t* enemy = kW ? b->zsqr : b->wsqr;
  int k = own[0];
  if (k != 0) cell[k] = kEmpty;
  for (int i = 1; enemy[i] != 0; ++i) {
    int s = enemy[i];
    int v = cell[s];
    switch (v & 14) {
      case 0:
        map[s - S::kEnemyPawnAt1] |= kMapAttacked;
        map[s - S::kEnemyPawnAt2] |= kMapAttacked;
        break;
      case 2:
        for (int j : kKnightJumps) map[s + j] |= kMapAttacked;
        break;
      case 4:
        for (int d = 0; d < 4; ++d) MarkRay(cell, map, s, kLineDirs[d]);
        break;
      case 6:
        for (int d = 4; d < 8; ++d) MarkRay(cell, map, s, kLineDirs[d]);
        break;
      case 8:
        for (int d : kLineDirs) MarkRay(cell, map, s, d);
        break;
      default: break;
    }
  }
  if (k == 0) return;
  cell[k] = static_cast<uint8_t>(S::kK);
  if (int ek = enemy[0]) {
    for (int d : kLineDirs) map[ek + d] |= kMapAttacked;
  }
  for (int i = 0; i < 8; ++i) {
    int d = kLineDirs[i];
    int p = k + d;
    while (cell[p] == kEmpty) p += d;
    if (!(cell[p] & kAnyPiece) || !(map[p] & kMapAttacked)) continue;
    int q = p + d;
    while (cell[q] == kEmpty) q += d;
    if (cell[q] == S::kEQ || cell[q] == (i < 4 ? S::kEB : S::kER)) {
      map[p] |= kPinMark[i];
    }
  }
}

// En-passant captures, tested by playing them out on the board.
template <bool kW>
uint32_t* GenEp(Ccc* b, uint32_t* m) {
  using S = Side<kW>;
  uint8_t* cell = b->sqrx + kCccOrigin;
  int e = b->eps;
  int victim = e - S::kFwd;
  const int origins[2] = {kW ? e - 11 : e + 9, kW ? e - 9 : e + 11};
  for (int from : origins) {
    if (cell[from] != S::kP) continue;
    uint8_t saved_e = cell[e];
    uint8_t saved_victim = cell[victim];
    cell[from] = kEmpty;
    cell[e] = static_cast<uint8_t>(S::kP);
    cell[victim] = kEmpty;
    if (CccInCheck(b) == 0) *m++ = MakeMove(from, e) | kMoveEp;
    cell[from] = static_cast<uint8_t>(S::kP);
    cell[e] = saved_e;
    cell[victim] = saved_victim;
  }
  return m;
}

template <bool kW>
uint32_t* GenCastles(const Ccc* b, const uint8_t* map, uint32_t* m) {
  const uint8_t* cell = b->sqrx + kCccOrigin;
  map += kCccOrigin;
  int base = kW ? 0 : 70;
  bool can_long = kW ? b->castL : b->castl;
  bool can_short = kW ? b->castS : b->casts;
  if (can_long && cell[base + kB1] == kEmpty && cell[base + kC1] == kEmpty &&
      cell[base + kD1] == kEmpty && !(map[base + kD1] & kMapAttacked) &&
      !(map[base + kC1] & kMapAttacked)) {
    *m++ = kW ? kCastleWL : kCastleZL;
  }
  if (can_short && cell[base + kF1] == kEmpty && cell[base + kG1] == kEmpty &&
      !(map[base + kF1] & kMapAttacked) && !(map[base + kG1] & kMapAttacked)) {
    *m++ = kW ? kCastleWS : kCastleZS;
  }
  return m;
}

template <bool kW>
uint32_t* GenPawns(const Ccc* b, const uint8_t* map, uint32_t* m) {
  using S = Side<kW>;
  const uint8_t* cell = b->sqrx + kCccOrigin;
  map += kCccOrigin;
  const uint8_t* own = kW ? b->wsqr : b->zsqr;
  for (int i = 1; own[i] != 0; ++i) {
    int s = own[i];
    if (cell[s] != S::kP) continue;
    int r = map[s];
    if (S::PromoFrom(s)) {
      if (!(r & 1) && (cell[s + S::kCap1] & S::kEnemy)) m = AddPromos(m, s, s + S::kCap1);
      if (!(r & 2) && (cell[s + S::kCap2] & S::kEnemy)) m = AddPromos(m, s, s + S::kCap2);
      if (!(r & 4) && cell[s + S::kFwd] == kEmpty) m = AddPromos(m, s, s + S::kFwd);
      continue;
    }
    if (!(r & 1) && (cell[s + S::kCap1] & S::kEnemy)) m = Add(m, s, s + S::kCap1);
    if (!(r & 2) && (cell[s + S::kCap2] & S::kEnemy)) m = Add(m, s, s + S::kCap2);
    if (!(r & 4) && cell[s + S::kFwd] == kEmpty) {
      m = Add(m, s, s + S::kFwd);
      if (S::DoubleFrom(s) && cell[s + 2 * S::kFwd] == kEmpty) {
        m = Add(m, s, s + 2 * S::kFwd);
      }
    }
  }
  return m;
}

template <bool kW>
inline uint32_t* Slide(const uint8_t* cell, uint32_t* m, int s, int d) {
  int t = s + d;
  while (cell[t] == kEmpty) {
    m = Add(m, s, t);
    t += d;
  }
  if (cell[t] & Side<kW>::kEnemy) m = Add(m, s, t);
  return m;
}

template <bool kW>
uint32_t* GenPieces(const Ccc* b, const uint8_t* map, uint32_t* m) {
  using S = Side<kW>;
  const uint8_t* cell = b->sqrx + kCccOrigin;
  map += kCccOrigin;
  const uint8_t* own = kW ? b->wsqr : b->zsqr;
  for (int i = 1; own[i] != 0; ++i) {
    int s = own[i];
    int v = cell[s];
    int r = map[s];
    int kind2 = v & 14;
    if (kind2 == 2) {
      if (r & kMapPinned) continue;
      for (int j : kKnightJumps) {
        if (cell[s + j] & S::kTarget) m = Add(m, s, s + j);
      }
      continue;
    }
    if (kind2 == 4 || kind2 == 8) {
      for (int d = 0; d < 4; ++d) {
        if (!(r & kDirBit[d])) m = Slide<kW>(cell, m, s, kLineDirs[d]);
      }
    }
    if (kind2 == 6 || kind2 == 8) {
      for (int d = 4; d < 8; ++d) {
        if (!(r & kDirBit[d])) m = Slide<kW>(cell, m, s, kLineDirs[d]);
      }
    }
  }
  return m;
}

template <bool kW>
uint32_t* GenKing(const Ccc* b, const uint8_t* map, uint32_t* m) {
  const uint8_t* cell = b->sqrx + kCccOrigin;
  map += kCccOrigin;
  int k = kW ? b->wsqr[0] : b->zsqr[0];
  if (k == 0) return m;
  for (int d : kLineDirs) {
    int t = k + d;
    if ((cell[t] & Side<kW>::kTarget) && !(map[t] & kMapAttacked)) m = Add(m, k, t);
  }
  return m;
}

template <bool kW>
int PawnChk(const Ccc* b, uint8_t* map, int c, uint32_t* moves) {
  using S = Side<kW>;
  const uint8_t* cell = b->sqrx + kCccOrigin;
  map += kCccOrigin;
  uint32_t* m = moves;
  int k = kW ? b->wsqr[0] : b->zsqr[0];
  int t = k + c;
  for (;; t += c) {
    map[t] |= kMapCheckLine;
    if (cell[t] != kEmpty) break;
    int from = t - S::kFwd;
    if (cell[from] == S::kP && !(map[from] & kMapPinned)) {
      m = AddPawn<kW>(m, from, t);
    }
    int from2 = from - S::kFwd;
    if ((kW ? t < 39 : t >= 41) && cell[from] == kEmpty && cell[from2] == S::kP &&
        !(map[from2] & kMapPinned)) {
      m = Add(m, from2, t);
    }
  }
  if (!(cell[t] & S::kEnemy)) {
    OutError(kW ? "PawnChkW: in check not Ok" : "PawnChkZ: in check not Ok");
  }
  const int capturers[2] = {t - S::kCap1, t - S::kCap2};
  for (int from : capturers) {
    if (cell[from] == S::kP && !(map[from] & kMapPinned)) m = AddPawn<kW>(m, from, t);
  }
  return static_cast<int>(m - moves);
}

template <bool kW>
uint32_t* GenPieceEvasions(const Ccc* b, const uint8_t* map, uint32_t* m) {
  const uint8_t* cell = b->sqrx + kCccOrigin;
  map += kCccOrigin;
  const uint8_t* own = kW ? b->wsqr : b->zsqr;
  for (int i = 1; own[i] != 0; ++i) {
    int s = own[i];
    if (map[s] & kMapPinned) continue;
    int kind2 = cell[s] & 14;
    if (kind2 == 2) {
      for (int j : kKnightJumps) {
        if (map[s + j] & kMapCheckLine) m = Add(m, s, s + j);
      }
      continue;
    }
    if (kind2 != 4 && kind2 != 6 && kind2 != 8) continue;
    int first = kind2 == 6 ? 4 : 0;  // rooks only straight
    int last = kind2 == 4 ? 4 : 8;   // bishops only diagonal
    for (int n = first; n < last; ++n) {
      int d = kLineDirs[n];
      for (int t = s + d;; t += d) {
        if (map[t] & kMapCheckLine) m = Add(m, s, t);
        if (cell[t] != kEmpty) break;
      }
    }
  }
  return m;
}

template <bool kW>
int GenMoves(const Ccc* board, uint32_t* moves) {
  // Work on a copy: the map lifts the king and en passant is played out.
  Ccc b = *board;
  uint8_t map[kCccCells];
  memset(map, 0, sizeof map);
  int c = CccInCheck(&b);
  BuildMap<kW>(&b, map);
  uint32_t* m = moves;
  if (b.eps != 0) m = GenEp<kW>(&b, m);
  if (c == 2) {
    m = GenKing<kW>(&b, map, m);
  } else if (c != 0) {
    m += PawnChk<kW>(&b, map, c, m);
    m = GenPieceEvasions<kW>(&b, map, m);
    m = GenKing<kW>(&b, map, m);
  } else {
    m = GenCastles<kW>(&b, map, m);
    m = GenPawns<kW>(&b, map, m);
    m = GenPieces<kW>(&b, map, m);
    m = GenKing<kW>(&b, map, m);
  }
  *m = 0;
  return static_cast<int>(m - moves);
}

}  // namespace

int CccGenMoves(const Ccc* board, uint32_t* moves) {
  return board->wtm ? GenMoves<true>(board, moves) : GenMoves<false>(board, moves);
}

int PawnChkW(const Ccc* board, uint8_t* map, int check, uint32_t* moves) {
  return PawnChk<true>(board, map, check, moves);
}

int PawnChkZ(const Ccc* board, uint8_t* map, int check, uint32_t* moves) {
  return PawnChk<false>(board, map, check, moves);
}
