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
void MarkPredecessors(const uint8_t* row, int32_t row_bytes, Ccc* board, uint8_t* list,
                      uint8_t* cand) {
  int32_t moves[kMaxTargets];
  memset(cand, 0, row_bytes);
  ForEachBit(row, row_bytes, [&](uint32_t c) {
    place(static_cast<int32_t>(c), &g_basi, board);
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

void ConvOpen(Conversion* cv, int n, int mode, int read_pass, int32_t row_bytes) {
  cv->mode = mode;
  cv->read_pass = read_pass;
  cv->bits_in = cv->values_in = cv->bits_out = cv->values_out = nullptr;
  cv->row = nullptr;
  if (mode == 0) return;
  cv->bits_in = FileRopen(FlocName(kTagConvBits, read_pass));
  cv->values_in = FileRopen(FlocName(kTagConvValues, read_pass));
  if (mode == 2) {
    cv->bits_out = FileWopen(FlocName(kTagConvBits, n));
    cv->values_out = FileWopen(FlocName(kTagConvValues, n));
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
void ConvRelease(const Conversion* cv, bool done) {
  if (!done) return;
  RunDeferRemove(FlocName(kTagConvBits, cv->read_pass));
  RunDeferRemove(FlocName(kTagConvValues, cv->read_pass));
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
void ReadRow(JILE* file, int32_t r, uint8_t* row, int32_t row_bytes) {
  if (g_basi.epflag != 0) FileSeek(file, static_cast<double>(r) * row_bytes);
  FileRead(row, row_bytes, file);
}

}  // namespace

void WtmPass(int n) {
  int k = PassK(n);
  int mode = ConvModeW(n, g_run.maxbcwply);
  ProgStart(nullptr, n, mode);
  CountRestore(kWhite);
  const int32_t row_bytes = g_basi.wsize / 8;
  uint8_t* row = static_cast<uint8_t*>(SysAlloc(row_bytes));
  uint8_t* cand = static_cast<uint8_t*>(SysAlloc(row_bytes));
  JILE* newf = FileRopen(FlocName(kTagNew, n - 1));
  JILE* all_in = FileRopen(FlocName(kTagAll, n - 2));
  JILE* all_out = FileWopen(FlocName(kTagAll, n));
  Conversion cv;
  ConvOpen(&cv, n, mode, ConvReadPassW(n), row_bytes);
  PileOpen(kPileIteration);
  for (int32_t r = 0; r < g_basi.numz; r++) {
    int weight = WeightZ(r, &g_basi);
    int32_t h = UnreduceZ(r, &g_basi);
    int32_t r_ep = UnEpZ(r, &g_basi);
    int32_t h_ep = UnreduceZ(r_ep, &g_basi);
    ReadRow(newf, r_ep, row, row_bytes);
    Ccc board;
    HashToZtmSetZ(h_ep, &g_basi, &board);
    MarkPredecessors<HashPlaceW, UnmoveW>(row, row_bytes, &board, board.wsqr, cand);
    FileRead(row, row_bytes, all_in);
    if (mode != 0) ConvMergeRow(&cv, k, cand, row_bytes, false);
    double found = 0;
    for (int32_t i = 0; i < row_bytes; i++) {
      cand[i] &= static_cast<uint8_t>(~row[i]);
      row[i] |= cand[i];
    }
    ForEachBit(cand, row_bytes, [&](uint32_t c) {
      found += 1;
      PileAddZ(c, static_cast<uint32_t>(h));
    });
    CountResolve(found, weight);
    FileWrite(row, row_bytes, all_out);
    ProgTick(g_basi.wsize);
  }
  PileClose();
  ConvClose(&cv);
  FileClose(all_out);
  FileClose(all_in);
  FileClose(newf);
  SysFree(row);
  SysFree(cand);
  NewfWrite(n, kWhiteRows);
  AllfUpdate(n);
  RunDeferRemove(FlocName(kTagAll, n - 2));
  ConvRelease(&cv, ConvDoneW(n, mode, g_run.maxbcwply));
  if (g_prog.resolved_weighted != 0) g_run.maxsolw = n;
  CountStore(kWhite);
  ProgEnd();
}

void AllfUpdate(int n) {
  constexpr int32_t kBlockBytes = 512;
  g_prog.mark2 = ClockCs(0) - g_prog.start;
  JILE* old_allf = FileRopen(FlocName(kTagAllF, n - 2));
  JILE* newf = FileRopen(FlocName(kTagNew, n));
  JILE* allf = FileWopen(FlocName(kTagAllF, n));
  uint8_t a[kBlockBytes], b[kBlockBytes];
  // Both layouts have the same size; the last block may be short when a row
  // is shorter than a block.
  double total = LayoutBitmapBytes(g_basi, kWhiteRows);
  for (double done = 0; done < total; done += kBlockBytes) {
    int32_t bytes = total - done < kBlockBytes ? static_cast<int32_t>(total - done) : kBlockBytes;
    FileRead(a, bytes, old_allf);
    FileRead(b, bytes, newf);
    for (int32_t i = 0; i < bytes; i++) a[i] |= b[i];
    FileWrite(a, bytes, allf);
  }
  FileClose(allf);
  FileClose(newf);
  FileClose(old_allf);
  RunDeferRemove(FlocName(kTagAllF, n - 2));
}

void ZtmPass(int n) {
  int k = PassK(n);
  int mode = ConvModeZ(n, g_run.maxbczply);
  ProgStart(nullptr, n, mode);
  CountRestore(kBlack);
  const int32_t row_bytes = g_basi.zsize / 8;
  uint8_t* row = static_cast<uint8_t*>(SysAlloc(row_bytes));
  uint8_t* cand = static_cast<uint8_t*>(SysAlloc(row_bytes));
  uint8_t* allf_row = static_cast<uint8_t*>(SysAlloc(row_bytes));
  JILE* newf = FileRopen(FlocName(kTagNew, n - 1));
  JILE* allf = FileRopen(FlocName(kTagAllF, n - 1));
  JILE* all0 = FileRopen(FlocName(kTagAll, kPassZtmInit));
  Conversion cv;
  ConvOpen(&cv, n, mode, ConvReadPassZ(n), row_bytes);
  PileOpen(kPileIteration);
  int32_t moves[kMaxTargets];
  for (int32_t r = 0; r < g_basi.numw; r++) {
    int weight = WeightW(r, &g_basi);
    int32_t h = UnreduceW(r, &g_basi);
    int32_t r_ep = UnEpW(r, &g_basi);
    int32_t h_ep = UnreduceW(r_ep, &g_basi);
    ReadRow(newf, r_ep, row, row_bytes);
    Ccc board;
    HashToWtmSetW(h_ep, &g_basi, &board);
    MarkPredecessors<HashPlaceZ, UnmoveZ>(row, row_bytes, &board, board.zsqr, cand);
    ReadRow(allf, r_ep, allf_row, row_bytes);
    FileRead(row, row_bytes, all0);
    if (mode != 0) ConvMergeRow(&cv, k, cand, row_bytes, true);
    for (int32_t i = 0; i < row_bytes; i++) cand[i] &= static_cast<uint8_t>(~row[i]);
    // Keep a candidate only when every quiet move reaches a White win.
    HashToZtmSetW(h, &g_basi, &board);
    double found = 0;
    ForEachBit(cand, row_bytes, [&](uint32_t c) {
      bool lost = HashPlaceZ(static_cast<int32_t>(c), &g_basi, &board) != 0;
      if (lost) {
        int count = QuietZ(static_cast<int32_t>(c), &board, moves);
        for (int i = 0; i < count && lost; i++) {
          lost = BitTest(allf_row, static_cast<uint32_t>(moves[i]));
        }
      }
      LiftSide(&board, board.zsqr);
      if (!lost) return;
      found += 1;
      PileAddW(static_cast<uint32_t>(h), c);
    });
    CountResolve(found, weight);
    ProgTick(g_basi.zsize);
  }
  PileClose();
  ConvClose(&cv);
  FileClose(all0);
  FileClose(allf);
  FileClose(newf);
  SysFree(row);
  SysFree(cand);
  SysFree(allf_row);
  NewfWrite(n, kBlackRows);
  ConvRelease(&cv, ConvDoneZ(n, mode, g_run.maxbczply));
  if (g_prog.resolved_weighted != 0) g_run.maxsolz = n;
  CountStore(kBlack);
  ProgEnd();
}
