// Passes 900 to 902: remove what the iteration leaves over, fold the per-ply
// result files of each side into value bytes (FIN files of up to 20 plies),
// and pack the two finished databases in index order.
#include <cstdio>
#include <cstring>

#include "builder/build_driver.h"
#include "builder/cache.h"
#include "builder/passes.h"
#include "builder/progress.h"
#include "builder/row_batches.h"
#include "builder/values.h"
#include "builder/work_names.h"
#include "index/names.h"
#include "index/position_index.h"
#include "support/checked_ops.h"
#include "support/console.h"
#include "support/sha256.h"
#include "support/version.h"

namespace {

constexpr int kMaxGroups = 900 / kGroupStep + 1;
// A row of the packing passes: the 64 entries of the last piece's squares.
constexpr int32_t kPackRow = 64;
constexpr int32_t kRowsPerBlock = kBlockSize / kPackRow;

// The order of a side's database: the first piece on each of its squares (the
// a1-d1-d4 triangle without pawns, files a to d with them), every further
// piece on all 64.
struct PackOrder {
  int count;         // pieces
  uint8_t codes[8];  // the side to move's, then the other side's
  bool pawns;
  uint8_t first[32];  // the first piece's squares, rank * 8 + file
  int64_t rows;
};

PackOrder MakeOrder(const Basi& basi, const uint8_t* own, int nown, const uint8_t* other, int nother) {
  PackOrder o{};
  memcpy(o.codes, own, nown);
  memcpy(o.codes + nown, other, nother);
  o.count = nown + nother;
  o.pawns = basi.npawns != 0;
  int n = 0;
  for (int rank = 0; rank < 8; rank++) {
    for (int file = 0; file < 4; file++) {
      if (!o.pawns && (rank > 3 || rank > file)) continue;
      o.first[n++] = static_cast<uint8_t>(rank * 8 + file);
    }
  }
  o.rows = n;
  for (int i = 2; i < o.count; i++) o.rows *= 64;
  return o;
}

// Squares above the a1-h8 diagonal (rank above file).
constexpr uint64_t kAboveDiagonal = [] {
  uint64_t m = 0;
  for (int s = 0; s < 64; s++) m |= static_cast<uint64_t>((s >> 3) > (s & 7)) << s;
  return m;
}();

// Row `row`'s non-canonical entries (bit s: the last piece on s) and its
// weight. An entry is non-canonical when, while every earlier piece stands
// on the a1-h8 diagonal, a piece stands above it, or when a piece of the
// same kind as the one before stands on a square not after that one's.
uint64_t RowMarks(const PackOrder& o, int64_t row, int* weight) {
  int sq[8];
  for (int i = o.count - 2; i >= 1; i--) {
    sq[i] = static_cast<int>(row & 63);
    row >>= 6;
  }
  sq[0] = o.first[row];
  const int rank0 = sq[0] >> 3, file0 = sq[0] & 7;
  *weight = o.pawns ? 2 : rank0 == file0 ? 4 : 8;
  bool settled = o.pawns || rank0 < file0;
  bool marked = false;
  for (int i = 1; i < o.count - 1; i++) {
    int rank = sq[i] >> 3, file = sq[i] & 7;
    marked = marked || (!settled && rank > file) || (o.codes[i] == o.codes[i - 1] && sq[i] <= sq[i - 1]);
    settled = settled || rank != file;
  }
  if (marked) return ~0ull;
  const int last = o.count - 1;
  uint64_t marks = settled ? 0 : kAboveDiagonal;
  if (o.codes[last] == o.codes[last - 1]) {
    int before = sq[last - 1];
    marks |= before == 63 ? ~0ull : (uint64_t{2} << before) - 1;
  }
  return marks;
}

// One block's counts, added to the progress line in block order.
struct PackCounts {
  double resolved;
  double resolved_weighted;
  double open;
  double open_weighted;
};

// Both slots' coded blocks and counts, and each resource set's scratch: the
// block, then one buffer per group.
struct PackBuffers {
  JarCoded* coded[2];
  PackCounts* counts[2];
  uint8_t* scratch;
  size_t set_bytes;
};

PackBuffers AllocPackBuffers(const RowPlan& plan, int groups, const JarContext* cx) {
  const int batch_blocks = (plan.batch_rows + kRowsPerBlock - 1) / kRowsPerBlock;
  PackBuffers p;
  for (int i = 0; i < 2; i++) {
    p.coded[i] = static_cast<JarCoded*>(SysAlloc(sizeof(JarCoded) * batch_blocks, cx));
    p.counts[i] = static_cast<PackCounts*>(SysAlloc(sizeof(PackCounts) * batch_blocks, cx));
  }
  p.set_bytes = static_cast<size_t>(kBlockSize) * (groups + 1);
  p.scratch = static_cast<uint8_t*>(SysAlloc(p.set_bytes * plan.sets, cx));
  return p;
}

void FreePackBuffers(PackBuffers& p, const JarContext* cx) {
  for (int i = 0; i < 2; i++) {
    SysFree(p.coded[i], cx);
    SysFree(p.counts[i], cx);
  }
  SysFree(p.scratch, cx);
}

// Opens the finished database `name` stamped with the creator record.
JILE* OpenDatabase(const Build& b, const char* name, uint32_t code, const char* failure) {
  JILE* out = FileWopenX(name, &b.counted);
  if (JarSetCreator(out, kZokVersion, kDbFormat, kMetricDtm, static_cast<int32_t>(code)) != 0) {
    OutError("%s", failure);
  }
  if (b.created >= 0) JarSetCreated(out, static_cast<int32_t>(b.created));
  return out;
}

// Reads the next `n` bytes of every group into `block`: the value found in
// any group, the later group winning.
void MergeGroups(JILE** in, int groups, uint8_t* block, uint8_t* values, int n) {
  memset(block, kValueNone, n);
  for (int g = 0; g < groups; g++) {
    uint8_t* v = values + static_cast<size_t>(kBlockSize) * g;
    FileRead(v, n, in[g]);
    for (int i = 0; i < n; i++) block[i] = v[i] != kValueNone ? v[i] : block[i];
  }
}

// Clears the non-canonical entries of `rows` rows from `first` in `block`,
// and counts them: weighted by what the groups valued, plain by what stays.
PackCounts DropNonCanonical(const PackOrder& order, int64_t first, int32_t rows, uint8_t* block) {
  PackCounts c{0, 0, 0, 0};
  for (int32_t k = 0; k < rows; k++) {
    int weight;
    const uint64_t marks = RowMarks(order, first + k, &weight);
    uint8_t* row = block + k * kPackRow;
    int valued = 0, kept = 0;
    for (int s = 0; s < kPackRow; s++) {
      bool value = row[s] != kValueNone;
      valued += value;
      if ((marks >> s & 1) != 0) row[s] = kValueNone;
      kept += row[s] != kValueNone;
    }
    c.resolved_weighted += static_cast<double>(valued) * weight;
    c.open_weighted += static_cast<double>(kPackRow - valued) * weight;
    c.resolved += kept;
    c.open += kPackRow - kept;
  }
  return c;
}

void AddPackCounts(ProgState& prog, const PackCounts& c) {
  prog.resolved += c.resolved;
  prog.resolved_weighted += c.resolved_weighted;
  prog.open += c.open;
  prog.open_weighted += c.open_weighted;
}

// Packs the side's FIN groups into its database. The blocks are made and
// coded on all threads, and written in order.
void Pack(Build& b, int pass, uint32_t code, const char* failure, int first_group, int last_ply,
          const uint8_t* own, int nown, const uint8_t* other, int nother) {
  ProgStart(b.prog, nullptr, pass, 0);
  const PackOrder order = MakeOrder(b.basi, own, nown, other, nother);
  WorkPath paths[kMaxGroups];
  const char* names[kMaxGroups];
  int groups = 0;
  for (int g = first_group; g <= last_ply; g += kGroupStep, groups++) {
    paths[groups] = FlocName(b.basi.name, kTagFin, g);
    names[groups] = paths[groups];
  }
  RowPlan plan = PlanRows(order.rows, kPackRow, groups);
  PackBuffers buf = AllocPackBuffers(plan, groups, &b.quiet);
  JILE** fin = OpenSetReaders(b, plan, names, groups);
  char name[16];
  snprintf(name, sizeof name, "%s", FresName(code).c_str());
  JILE* out = OpenDatabase(b, name, code, failure);
  auto compute = [&](int slot, int set, int64_t first, int32_t count) {
    JILE** in = fin + set * groups;
    uint8_t* block = buf.scratch + buf.set_bytes * set;
    for (int g = 0; g < groups; g++) FileSeek(in[g], static_cast<double>(first) * kPackRow);
    for (int64_t r = first; r < first + count; r += kRowsPerBlock) {
      const int32_t rows =
          static_cast<int32_t>(first + count - r < kRowsPerBlock ? first + count - r : kRowsPerBlock);
      MergeGroups(in, groups, block, block + kBlockSize, rows * kPackRow);
      const int j = static_cast<int>(r % plan.batch_rows) / kRowsPerBlock;
      buf.counts[slot][j] = DropNonCanonical(order, r, rows, block);
      JarCode(kFlagTrial, block, rows * kPackRow, &buf.coded[slot][j]);
    }
  };
  auto commit = [&](int slot, int64_t first, int32_t count) {
    for (int64_t r = first; r < first + count; r += kRowsPerBlock) {
      const int j = static_cast<int>(r % plan.batch_rows) / kRowsPerBlock;
      FileWriteCoded(buf.coded[slot][j], out);
      AddPackCounts(b.prog, buf.counts[slot][j]);
    }
  };
  RunRows(
      plan, b.prog, kPackRow, [](int, int64_t, int32_t) {}, compute, commit);
  FileClose(out);
  // Before RUN records the pass, so that a finished build has its checksums.
  ChecksumWrite(name);
  CloseSetReaders(b, plan, fin, groups);
  for (int g = first_group; g <= last_ply; g += kGroupStep) {
    RunDeferRemove(b, FlocName(b.basi.name, kTagFin, g));
  }
  FreePackBuffers(buf, &b.quiet);
  ProgEnd(b.prog);
}

}  // namespace

void PassCleanup(Build& b) {
  int p = b.run.passdone;
  RunDeferRemove(b, FlocName(b.basi.name, kTagAll, kPassZtmInit));
  int q = (p & 1) != 0 ? p : p - 1;
  RunDeferRemove(b, FlocName(b.basi.name, kTagAll, q));
  RunDeferRemove(b, FlocName(b.basi.name, kTagAllF, q));
  for (int n = 1; n <= p; n += 2) {
    if (n > b.run.maxsolw) RunDeferRemove(b, FlocName(b.basi.name, kTagNew, n));
  }
  for (int n = 0; n <= p; n += 2) {
    if (n > b.run.maxsolz) RunDeferRemove(b, FlocName(b.basi.name, kTagNew, n));
  }
}

void Collect(Build& b, int g, int last) {
  ProgStart(b.prog, "collect", g, 0);
  bool white = (g & 1) != 0;
  Layout layout = white ? kWhiteRows : kBlackRows;
  int32_t rows = LayoutRows(b.basi, layout);
  int32_t length = LayoutColumns(b.basi, layout);
  int32_t row_bits = length / 8;
  int plies = 0;
  for (int n = g; n <= last; n += 2) plies++;
  RowPlan plan = PlanRows(rows, row_bits, plies);
  uint8_t* bytes[2];
  double* valued[2];
  uint8_t* bits;
  {
    for (int i = 0; i < 2; i++) {
      bytes[i] =
          static_cast<uint8_t*>(SysAlloc(static_cast<size_t>(plan.batch_rows) * length, &b.quiet));
      valued[i] = static_cast<double*>(SysAlloc(sizeof(double) * plan.batch_rows, &b.quiet));
    }
    bits = static_cast<uint8_t*>(SysAlloc(static_cast<size_t>(row_bits) * plan.sets, &b.quiet));
  }
  WorkPath paths[kGroupStep / 2];
  const char* names[kGroupStep / 2];
  for (int i = 0; i < plies; i++) {
    paths[i] = FlocName(b.basi.name, kTagNew, g + 2 * i);
    names[i] = paths[i];
  }
  JILE** newf = OpenSetReaders(b, plan, names, plies);
  JILE* fin = FileWopenW(FlocName(b.basi.name, kTagFin, g), &b.counted);
  auto compute = [&](int slot, int set, int32_t first, int32_t count) {
    JILE** in = newf + set * plies;
    uint8_t* row_bits_buffer = bits + static_cast<size_t>(set) * row_bits;
    for (int i = 0; i < plies; i++) FileSeek(in[i], static_cast<double>(first) * row_bits);
    for (int32_t r = first; r < first + count; r++) {
      size_t j = static_cast<size_t>(r % plan.batch_rows);
      uint8_t* row = bytes[slot] + j * length;
      memset(row, kValueNone, length);
      for (int i = 0; i < plies; i++) {
        FileRead(row_bits_buffer, row_bits, in[i]);
        uint8_t value = static_cast<uint8_t>(ValueOfPly(g + 2 * i));
        for (int32_t k = 0; k < row_bits; k++) {
          for (uint32_t m = row_bits_buffer[k]; m != 0; m &= m - 1) {
            row[k * 8 + __builtin_ctz(m)] = value;
          }
        }
      }
      int64_t v = 0;
      for (int32_t k = 0; k < length; k++) v += row[k] != kValueNone;
      valued[slot][j] = static_cast<double>(v);
    }
  };
  auto commit = [&](int slot, int32_t first, int32_t count) {
    for (int32_t r = first; r < first + count; r++) {
      size_t j = static_cast<size_t>(r % plan.batch_rows);
      int weight = white ? WeightW(r, &b.basi) : WeightZ(r, &b.basi);
      double v = valued[slot][j];
      FileWrite(bytes[slot] + j * length, length, fin);
      b.prog.resolved += v;
      b.prog.resolved_weighted += v * weight;
      b.prog.open += length - v;
      b.prog.open_weighted += (length - v) * weight;
    }
  };
  RunRows(
      plan, b.prog, length, [](int, int32_t, int32_t) {}, compute, commit);
  FileClose(fin);
  CloseSetReaders(b, plan, newf, plies);
  for (int i = 0; i < plies; i++) RunDeferRemove(b, FlocName(b.basi.name, kTagNew, g + 2 * i));
  {
    for (int i = 0; i < 2; i++) {
      SysFree(bytes[i], &b.quiet);
      SysFree(valued[i], &b.quiet);
    }
    SysFree(bits, &b.quiet);
  }
  ProgEnd(b.prog);
}

namespace {

// Pass 901 (White) or 902 (Black): the side's NEWF files folded into FIN
// groups, then packed.
template <Side side>
void CollectPack(Build& b) {
  constexpr bool white = side == kWhite;
  int maxsol = white ? b.run.maxsolw : b.run.maxsolz;
  OutCons("maxsol  %3d\n", maxsol);
  OutFile("maxsol  %3d\n", maxsol);
  for (int g = white ? kGroupFirstW : kGroupFirstZ; g <= maxsol; g += kGroupStep) {
    Collect(b, g, GroupLast(g, maxsol));
  }
  if (white) {
    PackWtm(b);
  } else {
    PackZtm(b);
  }
}

}  // namespace

void CollectPackWtm(Build& b) { CollectPack<kWhite>(b); }

void CollectPackZtm(Build& b) { CollectPack<kBlack>(b); }

void PackWtm(Build& b) {
  Pack(b, kPassPackWtm, b.basi.material | kWhiteToMove, "PackWtm: creator failed", kGroupFirstW,
       b.run.maxsolw, b.basi.white, b.basi.nw, b.basi.black, b.basi.nz);
}

void PackZtm(Build& b) {
  Pack(b, kPassPackZtm, b.basi.material, "PackZtm: creator failed", kGroupFirstZ, b.run.maxsolz,
       b.basi.black, b.basi.nz, b.basi.white, b.basi.nw);
}
