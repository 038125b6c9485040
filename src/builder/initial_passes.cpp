// Passes -1 and 0: every entry of both tables is classified once. Pass -1
// marks the white-to-move entries that are no legal position and records
// White's best conversion into a sub-endgame; pass 0 finds the checkmates,
// the positions Black can never lose, and Black's conversion values.
#include <cstring>
#include <initializer_list>

#include "builder/build_driver.h"
#include "builder/cache.h"
#include "builder/pass_support.h"
#include "builder/passes.h"
#include "builder/pile.h"
#include "builder/values.h"
#include "support/checked_ops.h"
#include "support/console.h"
#include "builder/progress.h"
#include "index/names.h"
#include "builder/work_names.h"
#include "index/move_counter.h"
#include "index/probe_key.h"

namespace {

constexpr int kPromotions[4] = {kPromoQ, kPromoR, kPromoB, kPromoN};

bool IsWhitePieceCode(int code) {
  return code == kWP || code == kWN || code == kWB || code == kWR || code == kWQ || code == kWK;
}

void CheckWhiteCodes(const Build& b, const char* message) {
  for (int i = 0; i < b.basi.nw; i++) {
    if (!IsWhitePieceCode(b.basi.white[i])) OutError("%s", message);
  }
}

// White to move is legal when the black king is not attacked and an
// en-passant square, if any, can really be used.
inline bool WtmLegal(const Ccc* board) {
  return InChkZ(board) == 0 && (board->eps == 0 || TestEp(board) != 0);
}

// Value byte of the sub-endgame position that `move` leads to.
inline int ProbeAfter(Build& b, Ccc* board, uint32_t move) {
  Ccc next;
  CccDoMove(board, move, &next);
  if (next.wsqr[1] == 0) return kValueNone;  // a bare white king never wins
  Pap key;
  PapMake(&next, &key);
  return CacheProbe(b, key.material, key.index);
}

// Lists White's captures and promotions: en passant first, then each piece
// in list order. Returns the number of move words written.
int WhiteConversions(const Ccc* board, uint32_t* moves) {
  int n = 0;
  auto add = [&](int from, int to, bool promote) {
    if (promote) {
      for (int p : kPromotions) moves[n++] = MakeMove(from, to) | p << kMovePromoShift;
    } else {
      moves[n++] = MakeMove(from, to);
    }
  };
  auto black_at = [&](int s) { return (CccCell(board, s) & kBlackBit) != 0; };
  if (board->eps != 0) {
    for (int from : {board->eps - 11, board->eps - 9}) {
      if (CccCell(board, from) == kWP) moves[n++] = MakeMove(from, board->eps) | kMoveEp;
    }
  }
  for (int i = 0; board->wsqr[i] != 0; i++) {
    int s = board->wsqr[i];
    switch (CccCell(board, s)) {
      case kWP: {
        bool promote = s >= 61;
        if (black_at(s + 9)) add(s, s + 9, promote);
        if (black_at(s + 11)) add(s, s + 11, promote);
        if (promote && CccCell(board, s + 10) == kEmpty) add(s, s + 10, true);
        break;
      }
      case kWN:
        for (int d : kKnightJumps) {
          if (black_at(s + d)) add(s, s + d, false);
        }
        break;
      case kWK:
        for (int d : kLineDirs) {
          if (black_at(s + d)) add(s, s + d, false);
        }
        break;
      default: {
        int code = CccCell(board, s);
        int first = code == kWR ? 4 : 0;
        int last = code == kWB ? 4 : 8;
        for (int k = first; k < last; k++) {
          int t = s + kLineDirs[k];
          while (CccCell(board, t) == kEmpty) t += kLineDirs[k];
          if (black_at(t)) add(s, t, false);
        }
      }
    }
  }
  return n;
}

// Smallest black-to-move byte over White's conversions; 255 when none wins.
int WhiteConversionValue(Build& b, Ccc* board) {
  uint32_t moves[kCccMaxPieces * 12 + 8];
  int n = WhiteConversions(board, moves);
  int best = kValueNone;
  for (int i = 0; i < n; i++) {
    int v = ProbeAfter(b, board, moves[i]);
    if (v < best) best = v;
  }
  return best;
}

// Black to move: -1 checkmate, 0 open with no conversion, 1..254 the largest
// White win over Black's conversions when all of them lose, 255 never lost.
int BlackEvaluation(Build& b, Ccc* board) {
  uint32_t moves[kZtmGenMaxList];
  int count = ZtmGen(board, moves);
  if (count == 0) return InChkZ(board) != 0 ? -1 : kValueNone;
  int v = 0;
  for (int i = 0; moves[i] != 0; i++) {
    Ccc next;
    CccDoMove(board, moves[i], &next);
    if (next.wsqr[1] == 0) return kValueNone;  // White keeps only the king
    Pap key;
    PapMake(&next, &key);
    int u = CacheProbe(b, key.material, key.index);
    if (u == kValueNone) return kValueNone;
    if (u > v) v = u;
  }
  if (v >= 1 && ConvPlyZ(v) > b.run.maxbczply) b.run.maxbczply = ConvPlyZ(v);
  return v;
}

// Square filters of the placement loops: a mailbox square, or 0 to refuse.
inline int PawnRanksTwoToSeven(const uint8_t* codes, int i, int sq, int pawn) {
  if (codes[i] == pawn && (sq < 8 || sq >= 56)) return 0;
  return kMailboxOfSq[sq];
}

}  // namespace

void Wtm1Loop(Build& b, uint8_t* conv, uint8_t* excl, int weight, int32_t hashz, JILE* values) {
  if (b.basi.nw < 1 || b.basi.nw > 5) OutError("Wtm1Loop: numw oor");
  Ccc board;
  double legal = 0;
  if (HashToWtmSetZ(hashz, &b.basi, &board)) {
    PlaceLoop(
        &board, board.wsqr, b.basi.white, b.basi.nw, 0, 0,
        [&](int i, int sq) { return PawnRanksTwoToSeven(b.basi.white, i, sq, kWP); },
        [](int, int) {},
        [&](uint32_t c) {
          if (!WtmLegal(&board)) return;
          legal += 1;
          BitClear(excl, c);
          int v = WhiteConversionValue(b, &board);
          if (v < kValueNone) {
            FilePutc(v, values);
            BitSet(conv, c);
            if (ConvPlyW(v) > b.run.maxbcwply) b.run.maxbcwply = ConvPlyW(v);
          }
        });
  }
  CountAdd(b.prog, b.basi.wsize - legal, legal, weight);
}

void Wtm2Loop(Build& b, uint8_t* illegal, int weight, int32_t hashw) {
  if (b.basi.nz < 1 || b.basi.nz > 4) OutError("Wtm2Loop: numz oor");
  Ccc board;
  double legal = 0;
  if (HashToWtmSetW(hashw, &b.basi, &board)) {
    // A black pawn on the first rank is the en-passant coding: it stands on
    // the fifth rank, with the square behind it open to capture.
    auto allow = [&](int i, int sq) -> int {
      if (b.basi.black[i] != kZP) return kMailboxOfSq[sq];
      if (sq >= 56) return 0;
      if (sq >= 8) return kMailboxOfSq[sq];
      if (b.basi.epflag == 0 || board.eps != 0) return 0;
      int s = kMailboxOfSq[sq + 32];
      board.eps = static_cast<uint8_t>(s + 10);
      return s;
    };
    auto undo = [&](int i, int sq) {
      if (b.basi.black[i] == kZP && sq < 8 && board.eps == kMailboxOfSq[sq + 32] + 10) {
        board.eps = 0;
      }
    };
    PlaceLoop(&board, board.zsqr, b.basi.black, b.basi.nz, 0, 0, allow, undo, [&](uint32_t c) {
      if (!WtmLegal(&board)) return;
      legal += 1;
      BitClear(illegal, c);
    });
  }
  CountAdd(b.prog, b.basi.zsize - legal, legal, weight);
}

void ZtmLoop(Build& b, uint8_t* conv, uint8_t* excl, int weight, int32_t hashw, JILE* values) {
  if (b.basi.nz < 1 || b.basi.nz > 4) OutError("ZtmLoop: numz oor");
  Ccc board;
  double open = 0;
  double mates = 0;
  if (HashToZtmSetW(hashw, &b.basi, &board)) {
    PlaceLoop(
        &board, board.zsqr, b.basi.black, b.basi.nz, 0, 0,
        [&](int i, int sq) { return PawnRanksTwoToSeven(b.basi.black, i, sq, kZP); },
        [](int, int) {},
        [&](uint32_t c) {
          if (InChkW(&board) != 0 || (board.eps != 0 && TestEp(&board) == 0)) return;
          int v = BlackEvaluation(b, &board);
          if (v < 0) {
            mates += 1;
            PileAddW(b, static_cast<uint32_t>(hashw), c);
          } else if (v == 0) {
            open += 1;
            BitClear(excl, c);
          } else if (v < kValueNone) {
            open += 1;
            BitClear(excl, c);
            FilePutc(v, values);
            BitSet(conv, c);
          }
        });
  }
  CountAdd(b.prog, b.basi.zsize - open - mates, open + mates, weight);
  b.mates += mates;
  b.mates_weighted += mates * weight;
}

namespace {

// The classification of pass -1 (White) and pass 0 (Black): row by row of
// the side's working layout a conversion bitmap (BCB), an exclusion bitmap
// (ALL) and the conversion values of the set BCB bits (BCC). Without any
// conversion the pair is removed again. Black's pass piles its checkmates.
template <Side side>
void Classify(Build& b) {
  constexpr bool white = side == kWhite;
  const int pass = white ? kPassWtmInit : kPassZtmInit;
  const Layout layout = white ? kBlackRows : kWhiteRows;
  ProgStart(b.prog, nullptr, pass, 0);
  CacheCloseAll(b);
  b.prog.cache_display = 1;
  if (!white) PileOpen(b, kPileMates);
  int32_t rows = LayoutRows(b.basi, layout);
  int32_t columns = LayoutColumns(b.basi, layout);
  int32_t bytes = columns / 8;
  uint8_t* conv = static_cast<uint8_t*>(SysAlloc(bytes));
  uint8_t* excl = static_cast<uint8_t*>(SysAlloc(bytes));
  WorkPath bits_name = FlocName(b.basi.name, kTagConvBits, pass);
  WorkPath values_name = FlocName(b.basi.name, kTagConvValues, pass);
  JILE* bits = FileWopenW(bits_name);
  JILE* values = FileWopenW(values_name);
  JILE* exclusion = FileWopenW(FlocName(b.basi.name, kTagAll, pass));
  for (int32_t r = 0; r < rows; r++) {
    memset(conv, 0, bytes);
    memset(excl, 0xff, bytes);
    if constexpr (white) {
      Wtm1Loop(b, conv, excl, WeightZ(r, &b.basi), UnreduceZ(r, &b.basi), values);
    } else {
      ZtmLoop(b, conv, excl, WeightW(r, &b.basi), UnreduceW(r, &b.basi), values);
    }
    FileWrite(conv, bytes, bits);
    FileWrite(excl, bytes, exclusion);
    ProgTick(b.prog, columns);
  }
  FileClose(bits);
  FileClose(values);
  FileClose(exclusion);
  SysFree(conv);
  SysFree(excl);
  CacheCloseAll(b);
  int32_t max_ply = white ? b.run.maxbcwply : b.run.maxbczply;
  if (max_ply < 0) {
    FileRemove(values_name);
    FileRemove(bits_name);
  }
  if (!white) PileClose(b);
  CountStore(b, side);
  ProgEnd(b.prog);
  OutCons("maxbcp  %3d\n", max_ply);
  OutFile("maxbcp  %3d\n", max_ply);
}

}  // namespace

void Wtm1Create(Build& b) {
  CheckWhiteCodes(b, "Wtm1Create: BUG");
  Classify<kWhite>(b);
}

void Wtm2Create(Build& b) {
  CheckWhiteCodes(b, "Wtm2Create: BUG");
  ProgStart(b.prog, nullptr, kPassWtmInit, 0);
  int32_t bytes = b.basi.zsize / 8;
  uint8_t* illegal = static_cast<uint8_t*>(SysAlloc(bytes));
  JILE* file = FileWopenW(FlocName(b.basi.name, kTagAllF, kPassWtmInit));
  for (int32_t r = 0; r < b.basi.numw; r++) {
    memset(illegal, 0xff, bytes);
    Wtm2Loop(b, illegal, WeightW(r, &b.basi), UnreduceW(r, &b.basi));
    FileWrite(illegal, bytes, file);
    ProgTick(b.prog, b.basi.zsize);
  }
  FileClose(file);
  SysFree(illegal);
  ProgEnd(b.prog);
}

void ZtmCreate(Build& b) {
  b.mates = b.mates_weighted = 0;
  Classify<kBlack>(b);
}

void ZtmMates(Build& b) {
  ProgStart(b.prog, nullptr, kPassZtmInit, 0);
  b.prog.resolved = b.mates;
  b.prog.resolved_weighted = b.mates_weighted;
  b.prog.open = b.run.zmopen - b.mates;
  b.prog.open_weighted = b.run.znopen - b.mates_weighted;
  NewfWrite(b, kPassZtmInit, kBlackRows);
  if (b.prog.resolved_weighted != 0) b.run.maxsolz = 0;
  CountStore(b, kBlack);
  ProgEnd(b.prog);
}
