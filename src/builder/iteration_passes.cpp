// The iteration passes. Odd pass n finds the white-to-move positions won at
// exactly ply n: white un-moves from the Black losses of ply n - 1, plus the
// conversions due at ply n. Even pass n finds the black-to-move positions
// lost at exactly ply n: black un-moves from the White wins of ply n - 1 (or
// a conversion due now), kept when every quiet move reaches a White win found
// so far. Each pass hands its results to the other side through the pile.
#include <cstring>

#include "builder/build_driver.h"
#include "builder/pass_support.h"
#include "builder/passes.h"
#include "builder/pile.h"
#include "builder/values.h"
#include "support/checked_ops.h"
#include "support/console.h"
#include "builder/progress.h"
#include "index/names.h"
#include "builder/work_names.h"
#include "index/config_moves.h"

namespace {

// Un-move and quiet-move lists: every piece's every empty target.
constexpr int kMaxTargets = kConfigMovesMax;

void LiftSide(Ccc* board, uint8_t* list) {
  for (int i = 0; list[i] != 0; i++) {
    CccCell(board, list[i]) = kEmpty;
    list[i] = 0;
  }
}

// Clears `cand` and sets the bit of every column from which one move of the
// side that `place` places leads to a position of `row`: that side's pieces
// are placed from each set column on the board holding the other side's, and
// `unmove` lists the predecessors.
template <int (*place)(int32_t, const Basi*, Ccc*), int (*unmove)(int32_t, const Ccc*, int32_t*)>
void MarkPredecessors(const Basi& basi, const uint8_t* row, int32_t row_bytes, Ccc* board, uint8_t* list,
                      uint8_t* cand) {
  int32_t moves[kMaxTargets];
  memset(cand, 0, row_bytes);
  ForEachBit(row, row_bytes, [&](uint32_t c) {
    place(static_cast<int32_t>(c), &basi, board);
    int count = unmove(static_cast<int32_t>(c), board, moves);
    for (int i = 0; i < count; i++) BitSet(cand, static_cast<uint32_t>(moves[i]));
    LiftSide(board, list);
    board->eps = 0;
  });
}

// Conversion files of one pass: the pair it reads and, in mode 2, the pair
// it writes with what is not consumed yet.
struct Conversion {
  int mode;
  int read_pass;
  JILE* bits_in;
  JILE* values_in;
  JILE* bits_out;
  JILE* values_out;
  uint8_t* row;  // the row's BCB bytes
};

void ConvOpen(Build& b, Conversion* cv, int n, int mode, int read_pass, int32_t row_bytes) {
  cv->mode = mode;
  cv->read_pass = read_pass;
  cv->bits_in = cv->values_in = cv->bits_out = cv->values_out = nullptr;
  cv->row = nullptr;
  if (mode == 0) return;
  cv->bits_in = FileRopen(FlocName(b.basi.name, kTagConvBits, read_pass));
  cv->values_in = FileRopen(FlocName(b.basi.name, kTagConvValues, read_pass));
  if (mode == 2) {
    cv->bits_out = FileWopenW(FlocName(b.basi.name, kTagConvBits, n));
    cv->values_out = FileWopenW(FlocName(b.basi.name, kTagConvValues, n));
  }
  cv->row = static_cast<uint8_t*>(SysAlloc(row_bytes));
}

void ConvClose(Conversion* cv) {
  if (cv->mode == 0) return;
  FileClose(cv->bits_in);
  FileClose(cv->values_in);
  if (cv->mode == 2) {
    FileClose(cv->bits_out);
    FileClose(cv->values_out);
  }
  SysFree(cv->row);
}

// Defers the removal of the pair read until the pass is recorded.
void ConvRelease(Build& b, const Conversion* cv, bool done) {
  if (!done) return;
  RunDeferRemove(b, FlocName(b.basi.name, kTagConvBits, cv->read_pass));
  RunDeferRemove(b, FlocName(b.basi.name, kTagConvValues, cv->read_pass));
}

// Merges one row of conversion entries: a value equal to k makes its column
// a candidate and is consumed, a smaller one is consumed without effect, a
// larger one stays (and, for Black, holds the column back from this ply).
void ConvMergeRow(Conversion* cv, int k, uint8_t* cand, int32_t row_bytes, bool black) {
  FileRead(cv->row, row_bytes, cv->bits_in);
  for (int32_t i = 0; i < row_bytes; i++) {
    uint32_t byte = cv->row[i];
    if (byte == 0) {
      if (cv->mode == 2) FilePutc(0, cv->bits_out);
      continue;
    }
    for (uint32_t rest = byte; rest != 0; rest &= rest - 1) {
      int bit = __builtin_ctz(rest);
      uint32_t c = static_cast<uint32_t>(i) * 8 + static_cast<uint32_t>(bit);
      int v = FileGetc(cv->values_in);
      if (v > k) {
        if (cv->mode == 2) FilePutc(v, cv->values_out);
        if (black) BitClear(cand, c);
      } else {
        if (v == k) BitSet(cand, c);
        byte &= ~(1u << bit);
      }
    }
    if (cv->mode == 2) FilePutc(static_cast<int>(byte), cv->bits_out);
  }
}

// Reads row `r` of a bitmap file; with en-passant coded rows the wanted row
// is not the next one, so the file is positioned first.
void ReadRow(const Basi& basi, JILE* file, int32_t r, uint8_t* row, int32_t row_bytes) {
  if (basi.epflag != 0) FileSeek(file, static_cast<double>(r) * row_bytes);
  FileRead(row, row_bytes, file);
}

// The row functions of a side's iteration passes. White's work in black-row
// layout: rows are black configurations, and White's pieces are placed and
// un-moved on them; Black's the other way round.
template <Side side>
struct PassSide;

template <>
struct PassSide<kWhite> {
  static int Weight(int32_t r, const Basi& b) { return WeightZ(r, &b); }
  static int32_t Unreduce(int32_t r, const Basi& b) { return UnreduceZ(r, &b); }
  static int32_t UnEp(int32_t r, const Basi& b) { return UnEpZ(r, &b); }
  static int ConvMode(int n, const RunState& run) { return ConvModeW(n, run.maxbcwply); }
  static int ConvReadPass(int n) { return ConvReadPassW(n); }
  static bool ConvDone(int n, int mode, const RunState& run) {
    return ConvDoneW(n, mode, run.maxbcwply);
  }
  static int32_t& MaxSol(RunState& run) { return run.maxsolw; }
  static void Mark(const Basi& b, const uint8_t* row, int32_t bytes, int32_t h, Ccc* board,
                   uint8_t* cand) {
    HashToZtmSetZ(h, &b, board);
    MarkPredecessors<HashPlaceW, UnmoveW>(b, row, bytes, board, board->wsqr, cand);
  }
};

template <>
struct PassSide<kBlack> {
  static int Weight(int32_t r, const Basi& b) { return WeightW(r, &b); }
  static int32_t Unreduce(int32_t r, const Basi& b) { return UnreduceW(r, &b); }
  static int32_t UnEp(int32_t r, const Basi& b) { return UnEpW(r, &b); }
  static int ConvMode(int n, const RunState& run) { return ConvModeZ(n, run.maxbczply); }
  static int ConvReadPass(int n) { return ConvReadPassZ(n); }
  static bool ConvDone(int n, int mode, const RunState& run) {
    return ConvDoneZ(n, mode, run.maxbczply);
  }
  static int32_t& MaxSol(RunState& run) { return run.maxsolz; }
  static void Mark(const Basi& b, const uint8_t* row, int32_t bytes, int32_t h, Ccc* board,
                   uint8_t* cand) {
    HashToWtmSetW(h, &b, board);
    MarkPredecessors<HashPlaceZ, UnmoveZ>(b, row, bytes, board, board->zsqr, cand);
  }
};

// Row r of a side's pass: its weight and unreduced configuration, and the
// row number under which the other files hold it (with en-passant coded rows,
// the row of the en-passant twin).
struct PassRow {
  int weight;
  int32_t h;
  int32_t r_ep;
};

// Reads row r of the other side's results of the last ply and marks in
// `cand` every column from which one move of the side reaches one of them.
template <Side side>
PassRow MarkRow(const Basi& b, int32_t r, JILE* newf, uint8_t* row, int32_t bytes, Ccc* board,
                uint8_t* cand) {
  using S = PassSide<side>;
  PassRow p{S::Weight(r, b), S::Unreduce(r, b), S::UnEp(r, b)};
  ReadRow(b, newf, p.r_ep, row, bytes);
  S::Mark(b, row, bytes, S::Unreduce(p.r_ep, b), board, cand);
  return p;
}

template <Side side>
int PassStart(Build& b, int n) {
  int mode = PassSide<side>::ConvMode(n, b.run);
  ProgStart(b.prog, nullptr, n, mode);
  CountRestore(b, side);
  return mode;
}

// After the pass's NEWF is written: releases the conversion pair read when
// done with it, and records the counts.
template <Side side>
void PassEnd(Build& b, int n, const Conversion& cv) {
  using S = PassSide<side>;
  ConvRelease(b, &cv, S::ConvDone(n, cv.mode, b.run));
  if (b.prog.resolved_weighted != 0) S::MaxSol(b.run) = n;
  CountStore(b, side);
  ProgEnd(b.prog);
}

}  // namespace

void WtmPass(Build& b, int n) {
  int k = PassK(n);
  int mode = PassStart<kWhite>(b, n);
  const int32_t row_bytes = b.basi.wsize / 8;
  uint8_t* row = static_cast<uint8_t*>(SysAlloc(row_bytes));
  uint8_t* cand = static_cast<uint8_t*>(SysAlloc(row_bytes));
  JILE* newf = FileRopen(FlocName(b.basi.name, kTagNew, n - 1));
  JILE* all_in = FileRopen(FlocName(b.basi.name, kTagAll, n - 2));
  JILE* all_out = FileWopenW(FlocName(b.basi.name, kTagAll, n));
  Conversion cv;
  ConvOpen(b, &cv, n, mode, PassSide<kWhite>::ConvReadPass(n), row_bytes);
  PileOpen(b, kPileIteration);
  for (int32_t r = 0; r < b.basi.numz; r++) {
    Ccc board;
    PassRow p = MarkRow<kWhite>(b.basi, r, newf, row, row_bytes, &board, cand);
    FileRead(row, row_bytes, all_in);
    if (mode != 0) ConvMergeRow(&cv, k, cand, row_bytes, false);
    double found = 0;
    for (int32_t i = 0; i < row_bytes; i++) {
      cand[i] &= static_cast<uint8_t>(~row[i]);
      row[i] |= cand[i];
    }
    ForEachBit(cand, row_bytes, [&](uint32_t c) {
      found += 1;
      PileAddZ(b, c, static_cast<uint32_t>(p.h));
    });
    CountResolve(b.prog, found, p.weight);
    FileWrite(row, row_bytes, all_out);
    ProgTick(b.prog, b.basi.wsize);
  }
  PileClose(b);
  ConvClose(&cv);
  FileClose(all_out);
  FileClose(all_in);
  FileClose(newf);
  SysFree(row);
  SysFree(cand);
  NewfWrite(b, n, kWhiteRows);
  AllfUpdate(b, n);
  RunDeferRemove(b, FlocName(b.basi.name, kTagAll, n - 2));
  PassEnd<kWhite>(b, n, cv);
}

void AllfUpdate(Build& b, int n) {
  constexpr int32_t kBlockBytes = 512;
  b.prog.mark2 = ClockCs(0) - b.prog.start;
  JILE* old_allf = FileRopen(FlocName(b.basi.name, kTagAllF, n - 2));
  JILE* newf = FileRopen(FlocName(b.basi.name, kTagNew, n));
  JILE* allf = FileWopenW(FlocName(b.basi.name, kTagAllF, n));
  uint8_t a[kBlockBytes], c[kBlockBytes];
  // Both layouts have the same size; the last block may be short when a row
  // is shorter than a block.
  double total = LayoutBitmapBytes(b.basi, kWhiteRows);
  for (double done = 0; done < total; done += kBlockBytes) {
    int32_t bytes = total - done < kBlockBytes ? static_cast<int32_t>(total - done) : kBlockBytes;
    FileRead(a, bytes, old_allf);
    FileRead(c, bytes, newf);
    for (int32_t i = 0; i < bytes; i++) a[i] |= c[i];
    FileWrite(a, bytes, allf);
  }
  FileClose(allf);
  FileClose(newf);
  FileClose(old_allf);
  RunDeferRemove(b, FlocName(b.basi.name, kTagAllF, n - 2));
}

void ZtmPass(Build& b, int n) {
  int k = PassK(n);
  int mode = PassStart<kBlack>(b, n);
  const int32_t row_bytes = b.basi.zsize / 8;
  uint8_t* row = static_cast<uint8_t*>(SysAlloc(row_bytes));
  uint8_t* cand = static_cast<uint8_t*>(SysAlloc(row_bytes));
  uint8_t* allf_row = static_cast<uint8_t*>(SysAlloc(row_bytes));
  JILE* newf = FileRopen(FlocName(b.basi.name, kTagNew, n - 1));
  JILE* allf = FileRopen(FlocName(b.basi.name, kTagAllF, n - 1));
  JILE* all0 = FileRopen(FlocName(b.basi.name, kTagAll, kPassZtmInit));
  Conversion cv;
  ConvOpen(b, &cv, n, mode, PassSide<kBlack>::ConvReadPass(n), row_bytes);
  PileOpen(b, kPileIteration);
  int32_t moves[kMaxTargets];
  for (int32_t r = 0; r < b.basi.numw; r++) {
    Ccc board;
    PassRow p = MarkRow<kBlack>(b.basi, r, newf, row, row_bytes, &board, cand);
    ReadRow(b.basi, allf, p.r_ep, allf_row, row_bytes);
    FileRead(row, row_bytes, all0);
    if (mode != 0) ConvMergeRow(&cv, k, cand, row_bytes, true);
    for (int32_t i = 0; i < row_bytes; i++) cand[i] &= static_cast<uint8_t>(~row[i]);
    // Keep a candidate only when every quiet move reaches a White win.
    HashToZtmSetW(p.h, &b.basi, &board);
    double found = 0;
    ForEachBit(cand, row_bytes, [&](uint32_t c) {
      bool lost = HashPlaceZ(static_cast<int32_t>(c), &b.basi, &board) != 0;
      if (lost) {
        int count = QuietZ(static_cast<int32_t>(c), &board, moves);
        for (int i = 0; i < count && lost; i++) {
          lost = BitTest(allf_row, static_cast<uint32_t>(moves[i]));
        }
      }
      LiftSide(&board, board.zsqr);
      if (!lost) return;
      found += 1;
      PileAddW(b, static_cast<uint32_t>(p.h), c);
    });
    CountResolve(b.prog, found, p.weight);
    ProgTick(b.prog, b.basi.zsize);
  }
  PileClose(b);
  ConvClose(&cv);
  FileClose(all0);
  FileClose(allf);
  FileClose(newf);
  SysFree(row);
  SysFree(cand);
  SysFree(allf_row);
  NewfWrite(b, n, kBlackRows);
  PassEnd<kBlack>(b, n, cv);
}
