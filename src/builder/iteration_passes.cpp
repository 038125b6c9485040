// The iteration passes. Odd pass n finds the white-to-move positions won at
// exactly ply n: white un-moves from the Black losses of ply n - 1, plus the
// conversions due at ply n. Even pass n finds the black-to-move positions
// lost at exactly ply n: black un-moves from the White wins of ply n - 1 (or
// a conversion due now), kept when every quiet move reaches a White win found
// so far. Each pass hands its results to the other side through the pile.
#include <cstring>
#include <initializer_list>

#include "builder/build_driver.h"
#include "builder/pass_support.h"
#include "builder/passes.h"
#include "builder/pile.h"
#include "builder/progress.h"
#include "builder/row_batches.h"
#include "builder/values.h"
#include "builder/work_names.h"
#include "index/config_moves.h"
#include "index/names.h"
#include "support/checked_ops.h"
#include "support/console.h"

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
  uint8_t* row;     // the row's BCB bytes
  uint8_t* values;  // the row's values, one per bit at most
};

void ConvOpen(Build& b, Conversion* cv, int n, int mode, int read_pass, int32_t row_bytes) {
  cv->mode = mode;
  cv->read_pass = read_pass;
  cv->bits_in = cv->values_in = cv->bits_out = cv->values_out = nullptr;
  cv->row = cv->values = nullptr;
  if (mode == 0) return;
  cv->bits_in = FileRopen(FlocName(b.basi.name, kTagConvBits, read_pass), &b.counted);
  cv->values_in = FileRopen(FlocName(b.basi.name, kTagConvValues, read_pass), &b.counted);
  if (mode == 2) {
    cv->bits_out = FileWopenW(FlocName(b.basi.name, kTagConvBits, n), &b.counted);
    cv->values_out = FileWopenW(FlocName(b.basi.name, kTagConvValues, n), &b.counted);
  }
  cv->row = static_cast<uint8_t*>(SysAlloc(row_bytes, &b.counted));
  cv->values = static_cast<uint8_t*>(SysAlloc(static_cast<size_t>(row_bytes) * 8, &b.counted));
}

void ConvClose(Build& b, Conversion* cv) {
  if (cv->mode == 0) return;
  FileClose(cv->bits_in);
  FileClose(cv->values_in);
  if (cv->mode == 2) {
    FileClose(cv->bits_out);
    FileClose(cv->values_out);
  }
  SysFree(cv->row, &b.counted);
  SysFree(cv->values, &b.counted);
}

// Defers the removal of the pair read until the pass is recorded.
void ConvRelease(Build& b, const Conversion* cv, bool done) {
  if (!done) return;
  RunDeferRemove(b, FlocName(b.basi.name, kTagConvBits, cv->read_pass));
  RunDeferRemove(b, FlocName(b.basi.name, kTagConvValues, cv->read_pass));
}

// Set bits in `n` bytes, eight at a time without the popcount instruction
// (which a portable build may not assume, and whose library fallback cost more
// than the merge itself).
int32_t CountBits(const uint8_t* p, int32_t n) {
  uint64_t total = 0;
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t x;
    memcpy(&x, p + i, 8);
    x -= (x >> 1) & 0x5555555555555555ull;
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    total += (x * 0x0101010101010101ull) >> 56;
  }
  for (; i < n; i++) {
    for (uint32_t b = p[i]; b != 0; b &= b - 1) total++;
  }
  return static_cast<int32_t>(total);
}

// Merges one row of conversion entries into masks over the row's
// candidates: a value equal to k sets its column in `set` and is consumed, a
// smaller one is consumed without effect, a larger one stays (and, for
// Black, sets its column in `clear`: held back from this ply). The row's
// values are read, and those that stay written, at once.
void ConvMergeRow(Conversion* cv, int k, uint8_t* set, uint8_t* clear, int32_t row_bytes, bool black) {
  uint8_t* row = cv->row;
  FileRead(row, row_bytes, cv->bits_in);
  memset(set, 0, row_bytes);
  if (black) memset(clear, 0, row_bytes);
  int32_t entries = CountBits(row, row_bytes);
  uint8_t* values = cv->values;
  FileRead(values, entries, cv->values_in);
  int32_t next = 0, kept = 0;
  auto merge = [&](uint64_t bits, int32_t at) {
    uint64_t left = bits;
    for (uint64_t rest = bits; rest != 0; rest &= rest - 1) {
      int bit = __builtin_ctzll(rest);
      uint32_t c = static_cast<uint32_t>(at) * 8 + static_cast<uint32_t>(bit);
      int v = values[next++];
      if (v > k) {
        values[kept++] = static_cast<uint8_t>(v);
        if (black) BitSet(clear, c);
      } else {
        if (v == k) BitSet(set, c);
        left &= ~(uint64_t{1} << bit);
      }
    }
    return left;
  };
  // Eight bytes at a time: most of a row is empty. Bit c of a word is
  // column 8 * at + c.
  int32_t i = 0;
  for (; i + 8 <= row_bytes; i += 8) {
    uint64_t word;
    memcpy(&word, row + i, 8);
    if (word == 0) continue;
    word = merge(word, i);
    memcpy(row + i, &word, 8);
  }
  for (; i < row_bytes; i++) row[i] = static_cast<uint8_t>(merge(row[i], i));
  if (cv->mode == 2) {
    FileWrite(row, row_bytes, cv->bits_out);
    FileWrite(values, kept, cv->values_out);
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

// The buffers of a pass's batches: per batch slot, rows of results and of
// conversion masks, and each row's configuration and weight; per resource
// set, its own readers of the input files and scratch rows.
struct PassBuffers {
  RowPlan plan;
  int32_t bytes;
  int readers;  // input files per set
  uint8_t* out[2];
  uint8_t* found[2];
  uint8_t* conv_set[2];
  uint8_t* conv_clear[2];
  PassRow* info[2];
  JILE** files;
  uint8_t* scratch;  // three rows per set
};

uint8_t* BatchAlloc(const PassBuffers& pb, bool wanted, const JarContext* cx) {
  if (!wanted) return nullptr;
  return static_cast<uint8_t*>(SysAlloc(static_cast<size_t>(pb.plan.batch_rows) * pb.bytes, cx));
}

void BuffersOpen(Build& b, PassBuffers* pb, int32_t rows, int32_t bytes, bool out, bool conv,
                 const char* const* inputs, int readers) {
  pb->plan = PlanRows(rows, bytes, readers);
  pb->bytes = bytes;
  pb->readers = readers;
  for (int i = 0; i < 2; i++) {
    pb->out[i] = BatchAlloc(*pb, out, &b.quiet);
    pb->found[i] = BatchAlloc(*pb, true, &b.quiet);
    pb->conv_set[i] = BatchAlloc(*pb, conv, &b.quiet);
    pb->conv_clear[i] = BatchAlloc(*pb, conv, &b.quiet);
    pb->info[i] = static_cast<PassRow*>(SysAlloc(sizeof(PassRow) * pb->plan.batch_rows, &b.quiet));
  }
  pb->scratch =
      static_cast<uint8_t*>(SysAlloc(static_cast<size_t>(3) * pb->plan.sets * bytes, &b.quiet));
  // The readers keep one set counted.
  pb->files = OpenSetReaders(b, pb->plan, inputs, readers);
}

void BuffersClose(Build& b, PassBuffers* pb) {
  CloseSetReaders(b, pb->plan, pb->files, pb->readers);
  for (int i = 0; i < 2; i++) {
    for (uint8_t* p : {pb->out[i], pb->found[i], pb->conv_set[i], pb->conv_clear[i]}) {
      if (p != nullptr) SysFree(p, &b.quiet);
    }
    SysFree(pb->info[i], &b.quiet);
  }
  SysFree(pb->scratch, &b.quiet);
}

// Row r's place in its batch's buffers.
inline size_t BatchAt(const PassBuffers& pb, int32_t r) {
  return static_cast<size_t>(r % pb.plan.batch_rows) * pb.bytes;
}

// Reads the conversion masks of a batch's rows, in row order.
void ConvPrepare(PassBuffers& pb, Conversion* cv, int k, int slot, int32_t first, int32_t count,
                 bool black) {
  if (cv->mode == 0) return;
  for (int32_t r = first; r < first + count; r++) {
    size_t at = BatchAt(pb, r);
    ConvMergeRow(cv, k, pb.conv_set[slot] + at, pb.conv_clear[slot] + at, pb.bytes, black);
  }
}

}  // namespace

void WtmPass(Build& b, int n) {
  int k = PassK(n);
  int mode = PassStart<kWhite>(b, n);
  const int32_t row_bytes = b.basi.wsize / 8;
  WorkPath newf_name = FlocName(b.basi.name, kTagNew, n - 1);
  WorkPath all_name = FlocName(b.basi.name, kTagAll, n - 2);
  const char* inputs[2] = {newf_name, all_name};
  PassBuffers pb;
  BuffersOpen(b, &pb, b.basi.numz, row_bytes, true, mode != 0, inputs, 2);
  JILE* all_out = FileWopenW(FlocName(b.basi.name, kTagAll, n), &b.counted);
  Conversion cv;
  ConvOpen(b, &cv, n, mode, PassSide<kWhite>::ConvReadPass(n), row_bytes);
  PileOpen(b, kPileIteration);
  auto prepare = [&](int slot, int32_t first, int32_t count) {
    ConvPrepare(pb, &cv, k, slot, first, count, false);
  };
  auto compute = [&](int slot, int set, int32_t first, int32_t count) {
    JILE* newf = pb.files[set * 2];
    JILE* all_in = pb.files[set * 2 + 1];
    uint8_t* scratch = pb.scratch + static_cast<size_t>(3) * set * row_bytes;
    FileSeek(newf, static_cast<double>(first) * row_bytes);
    FileSeek(all_in, static_cast<double>(first) * row_bytes);
    for (int32_t r = first; r < first + count; r++) {
      size_t at = BatchAt(pb, r);
      uint8_t* row = pb.out[slot] + at;
      uint8_t* cand = pb.found[slot] + at;
      Ccc board;
      pb.info[slot][r % pb.plan.batch_rows] =
          MarkRow<kWhite>(b.basi, r, newf, scratch, row_bytes, &board, cand);
      FileRead(row, row_bytes, all_in);
      if (mode != 0) {
        const uint8_t* set_mask = pb.conv_set[slot] + at;
        for (int32_t i = 0; i < row_bytes; i++) cand[i] |= set_mask[i];
      }
      for (int32_t i = 0; i < row_bytes; i++) {
        cand[i] &= static_cast<uint8_t>(~row[i]);
        row[i] |= cand[i];
      }
    }
  };
  auto commit = [&](int slot, int32_t first, int32_t count) {
    for (int32_t r = first; r < first + count; r++) {
      size_t at = BatchAt(pb, r);
      const PassRow& p = pb.info[slot][r % pb.plan.batch_rows];
      double found = 0;
      ForEachBit(pb.found[slot] + at, row_bytes, [&](uint32_t c) {
        found += 1;
        PileAddZ(b, c, static_cast<uint32_t>(p.h));
      });
      CountResolve(b.prog, found, p.weight);
      FileWrite(pb.out[slot] + at, row_bytes, all_out);
    }
  };
  RunRows(pb.plan, b.prog, b.basi.wsize, prepare, compute, commit);
  PileClose(b);
  ConvClose(b, &cv);
  FileClose(all_out);
  BuffersClose(b, &pb);
  NewfWrite(b, n, kWhiteRows);
  AllfUpdate(b, n);
  RunDeferRemove(b, FlocName(b.basi.name, kTagAll, n - 2));
  PassEnd<kWhite>(b, n, cv);
}

void AllfUpdate(Build& b, int n) {
  b.prog.mark2 = ClockCs(0) - b.prog.start;
  // Both layouts have the same size; the rows here are whole blocks, the
  // last one short when the bitmap does not fill it.
  const double total = LayoutBitmapBytes(b.basi, kWhiteRows);
  const int32_t rows = static_cast<int32_t>((total + kBlockSize - 1) / kBlockSize);
  WorkPath old_name = FlocName(b.basi.name, kTagAllF, n - 2);
  WorkPath newf_name = FlocName(b.basi.name, kTagNew, n);
  const char* inputs[2] = {old_name, newf_name};
  PassBuffers pb;
  BuffersOpen(b, &pb, rows, kBlockSize, true, false, inputs, 2);
  JILE* allf = FileWopenW(FlocName(b.basi.name, kTagAllF, n), &b.counted);
  auto size = [&](int32_t r) {
    double left = total - static_cast<double>(r) * kBlockSize;
    return left < kBlockSize ? static_cast<int32_t>(left) : kBlockSize;
  };
  auto compute = [&](int slot, int set, int32_t first, int32_t count) {
    JILE* old_allf = pb.files[set * 2];
    JILE* newf = pb.files[set * 2 + 1];
    uint8_t* c = pb.scratch + static_cast<size_t>(3) * set * kBlockSize;
    FileSeek(old_allf, static_cast<double>(first) * kBlockSize);
    FileSeek(newf, static_cast<double>(first) * kBlockSize);
    for (int32_t r = first; r < first + count; r++) {
      uint8_t* a = pb.out[slot] + BatchAt(pb, r);
      int32_t bytes = size(r);
      FileRead(a, bytes, old_allf);
      FileRead(c, bytes, newf);
      for (int32_t i = 0; i < bytes; i++) a[i] |= c[i];
    }
  };
  auto commit = [&](int slot, int32_t first, int32_t count) {
    for (int32_t r = first; r < first + count; r++) {
      FileWrite(pb.out[slot] + BatchAt(pb, r), size(r), allf);
    }
  };
  RunRows(
      pb.plan, b.prog, 0, [](int, int32_t, int32_t) {}, compute, commit);
  FileClose(allf);
  BuffersClose(b, &pb);
  RunDeferRemove(b, FlocName(b.basi.name, kTagAllF, n - 2));
}

void ZtmPass(Build& b, int n) {
  int k = PassK(n);
  int mode = PassStart<kBlack>(b, n);
  const int32_t row_bytes = b.basi.zsize / 8;
  WorkPath newf_name = FlocName(b.basi.name, kTagNew, n - 1);
  WorkPath allf_name = FlocName(b.basi.name, kTagAllF, n - 1);
  WorkPath all0_name = FlocName(b.basi.name, kTagAll, kPassZtmInit);
  const char* inputs[3] = {newf_name, allf_name, all0_name};
  PassBuffers pb;
  BuffersOpen(b, &pb, b.basi.numw, row_bytes, false, mode != 0, inputs, 3);
  Conversion cv;
  ConvOpen(b, &cv, n, mode, PassSide<kBlack>::ConvReadPass(n), row_bytes);
  PileOpen(b, kPileIteration);
  auto prepare = [&](int slot, int32_t first, int32_t count) {
    ConvPrepare(pb, &cv, k, slot, first, count, true);
  };
  auto compute = [&](int slot, int set, int32_t first, int32_t count) {
    JILE* newf = pb.files[set * 3];
    JILE* allf = pb.files[set * 3 + 1];
    JILE* all0 = pb.files[set * 3 + 2];
    uint8_t* row = pb.scratch + static_cast<size_t>(3) * set * row_bytes;
    uint8_t* cand = row + row_bytes;
    uint8_t* allf_row = cand + row_bytes;
    FileSeek(newf, static_cast<double>(first) * row_bytes);
    FileSeek(allf, static_cast<double>(first) * row_bytes);
    FileSeek(all0, static_cast<double>(first) * row_bytes);
    for (int32_t r = first; r < first + count; r++) {
      size_t at = BatchAt(pb, r);
      uint8_t* lost_row = pb.found[slot] + at;
      Ccc board;
      PassRow p = MarkRow<kBlack>(b.basi, r, newf, row, row_bytes, &board, cand);
      pb.info[slot][r % pb.plan.batch_rows] = p;
      ReadRow(b.basi, allf, p.r_ep, allf_row, row_bytes);
      FileRead(row, row_bytes, all0);
      if (mode != 0) {
        const uint8_t* set_mask = pb.conv_set[slot] + at;
        const uint8_t* clear_mask = pb.conv_clear[slot] + at;
        for (int32_t i = 0; i < row_bytes; i++) {
          cand[i] = static_cast<uint8_t>((cand[i] | set_mask[i]) & ~clear_mask[i]);
        }
      }
      for (int32_t i = 0; i < row_bytes; i++) cand[i] &= static_cast<uint8_t>(~row[i]);
      memset(lost_row, 0, row_bytes);
      // Keep a candidate only when every quiet move reaches a White win.
      HashToZtmSetW(p.h, &b.basi, &board);
      ForEachBit(cand, row_bytes, [&](uint32_t c) {
        bool lost = HashPlaceZ(static_cast<int32_t>(c), &b.basi, &board) != 0 &&
                    QuietZAllIn(static_cast<int32_t>(c), &board, allf_row);
        LiftSide(&board, board.zsqr);
        if (lost) BitSet(lost_row, c);
      });
    }
  };
  auto commit = [&](int slot, int32_t first, int32_t count) {
    for (int32_t r = first; r < first + count; r++) {
      const PassRow& p = pb.info[slot][r % pb.plan.batch_rows];
      double found = 0;
      ForEachBit(pb.found[slot] + BatchAt(pb, r), row_bytes, [&](uint32_t c) {
        found += 1;
        PileAddW(b, static_cast<uint32_t>(p.h), c);
      });
      CountResolve(b.prog, found, p.weight);
    }
  };
  RunRows(pb.plan, b.prog, b.basi.zsize, prepare, compute, commit);
  PileClose(b);
  ConvClose(b, &cv);
  BuffersClose(b, &pb);
  NewfWrite(b, n, kBlackRows);
  PassEnd<kBlack>(b, n, cv);
}
