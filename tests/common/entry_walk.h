// Walking the entries of an endgame's tables, and an independent way of
// turning an entry into a board (square string and the board's own rules),
// for tests that check the index against the board pieces.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "board/board.h"
#include "index/basis.h"
#include "index/position_index.h"

struct Entry {
  int32_t row, column, hashw, hashz;
};

// The entry at row r, column c of the white-to-move (wtm = 1) or
// black-to-move table, and the (up to two) candidate entries of a position
// as the index reduces it.
inline Entry EntryAt(const Basi& b, int wtm, int32_t r, int32_t c) {
  return wtm ? Entry{r, c, UnreduceW(r, &b), c} : Entry{r, c, c, UnreduceZ(r, &b)};
}
inline void Reduce(const Basi& b, int wtm, int32_t hashw, int32_t hashz, int32_t out[4]) {
  wtm ? ReduceW(hashw, hashz, &b, out) : ReduceZ(hashw, hashz, &b, out);
}

// Runs check(b, e, wtm) on every entry of both tables (or of table
// `only_wtm`), or on `samples` entries spread at random over a table larger
// than `limit`; check returns "" when the entry agrees, "-" when it does not
// apply, else what differs. Fails when no entry was checked.
template <typename Check>
void CheckEntries(const char* name, int only_wtm, double limit, int samples, Check check) {
  Basi b;
  MakeBasi(name, &b);
  int failures = 0;
  double checked = 0;
  uint64_t x = 0;
  auto next = [&](int32_t n) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<int32_t>((x >> 33) % static_cast<uint64_t>(n));
  };
  for (int wtm = 0; wtm < 2; wtm++) {
    if (only_wtm >= 0 && wtm != only_wtm) continue;
    int32_t rows = wtm ? b.numw : b.numz, cols = wtm ? b.zsize : b.wsize;
    double size = static_cast<double>(rows) * cols;
    bool whole = size <= limit;
    x = 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(b.material) ^ (uint64_t)wtm << 40;
    for (double i = 0; i < (whole ? size : samples) && failures <= 5; i++) {
      int32_t r = whole ? static_cast<int32_t>(i / cols) : next(rows);
      int32_t c = whole ? static_cast<int32_t>(i - static_cast<double>(r) * cols) : next(cols);
      Entry e = EntryAt(b, wtm, r, c);
      std::string why = check(b, e, wtm);
      if (why == "-") continue;
      checked++;
      if (why.empty()) continue;
      failures++;
      ADD_FAILURE() << b.name << " row " << r << " column " << c << " hashw o" << std::oct
                    << e.hashw << " hashz o" << e.hashz << std::dec << " " << why;
    }
  }
  EXPECT_GT(checked, 0) << name;
}

// A square-string board built from the entry's squares by the board's own
// reader, or false when the entry is no legal position by the square rules
// (pawn on the last rank, two men on one square, an en-passant coding that
// cannot stand, the king of the side not to move attacked).
inline bool IndependentBoard(const Basi& b, int32_t hashw, int32_t hashz, int wtm, Ccc* out) {
  int code[64] = {};
  int ep = -1;       // square the double-stepped pawn crossed
  int ep_pawn = -1;  // where that pawn stands
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
  std::string text(64, '.');
  for (int sq = 0; sq < 64; sq++) {
    char& ch = text[8 * (7 - (sq >> 3)) + (sq & 7)];
    if (code[sq] != 0) {
      char letter = "PNBRQK"[PieceKind(code[sq])];
      ch = (code[sq] & kWhiteBit) ? letter : static_cast<char>(letter + 32);
    } else if (sq == ep) {
      ch = 'E';
    }
  }
  // The side not to move must not be in check: ask the board with that side
  // to move.
  CccSetString((text + (wtm ? "" : "w")).c_str(), out);
  if (CccInCheck(out) != 0) return false;
  CccSetString((text + (wtm ? "w" : "")).c_str(), out);
  return true;
}

// Image of square sq (0..63) under symmetry g (bit 0 file mirror, bit 1
// rank flip, bit 2 transposition).
inline int SymSquare(int sq, int g) {
  int file = (sq & 7) ^ (g & 1 ? 7 : 0), rank = (sq >> 3) ^ (g & 2 ? 7 : 0);
  return g & 4 ? 8 * file + rank : 8 * rank + file;
}

// Same cells, side to move and en-passant square under one of the board's
// symmetries (left-right only when `pawns`).
inline bool SameUpToSymmetry(const Ccc& a, const Ccc& c, bool pawns) {
  if (a.wtm != c.wtm || (a.eps == 0) != (c.eps == 0)) return false;
  for (int g = 0; g < (pawns ? 2 : 8); g++) {
    bool same = true;
    for (int sq = 0; sq < 64 && same; sq++) {
      same = CccCell(&a, kMailboxOfSq[sq]) == CccCell(&c, kMailboxOfSq[SymSquare(sq, g)]);
    }
    if (same && a.eps != 0) same = kMailboxOfSq[SymSquare(kSqOfMailbox[a.eps], g)] == c.eps;
    if (same) return true;
  }
  return false;
}

// Configuration numbers of a board whose piece lists are in basis order;
// a pawn that may be taken en passant in its first-rank coding.
inline int32_t HashOfSide(const Ccc& board, bool white) {
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
