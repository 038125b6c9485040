// Passes 900 to 902: remove what the iteration leaves over, fold the per-ply
// result files of each side into value bytes (FIN files of up to 20 plies),
// and pack the two finished databases in index order.
#include <cstring>

#include "builder/build_driver.h"
#include "builder/cache.h"
#include "builder/passes.h"
#include "builder/row_batches.h"
#include "builder/values.h"
#include "support/checked_ops.h"
#include "support/console.h"
#include "builder/progress.h"
#include "support/version.h"
#include "index/names.h"
#include "builder/work_names.h"
#include "index/position_index.h"

namespace {

constexpr int kMaxGroups = 900 / kGroupStep + 1;
constexpr int kFinBuffer = 65536;

// The FIN files of one side, read in lock step while packing.
struct FinReader {
  JILE* file;
  uint8_t* buffer;
  int32_t fill;
  int32_t pos;
};

struct PackState {
  FinReader fin[kMaxGroups];
  int groups;
  JILE* out;
  uint8_t* out_buffer;
  int32_t out_fill;
  uint8_t codes[8];  // side to move's pieces, then the other side's
  int count;
  int weight;
};

inline int FinNext(FinReader* f) {
  if (f->pos == f->fill) {
    f->fill = FileReadAny(f->buffer, kFinBuffer, f->file);
    f->pos = 0;
    if (f->fill == 0) OutError("FileGetc: failed");
  }
  return f->buffer[f->pos++];
}

// One entry: the value found in any group, 255 for a non-canonical entry.
inline void PackByte(ProgState& prog, PackState* p, bool non_canonical) {
  int v = kValueNone;
  for (int g = 0; g < p->groups; g++) {
    int b = FinNext(&p->fin[g]);
    if (b != kValueNone) v = b;
  }
  if (v != kValueNone) {
    prog.resolved_weighted += p->weight;
  } else {
    prog.open_weighted += p->weight;
  }
  int out = non_canonical ? kValueNone : v;
  if (out != kValueNone) {
    prog.resolved += 1;
  } else {
    prog.open += 1;
  }
  p->out_buffer[p->out_fill++] = static_cast<uint8_t>(out);
  if (p->out_fill == kFinBuffer) {
    FileWrite(p->out_buffer, p->out_fill, p->out);
    p->out_fill = 0;
  }
}

// Runs the further pieces from slot i over all 64 squares. `settled` is clear
// while every earlier piece stands on the a1-h8 diagonal; `marked` holds once
// an entry is known to be non-canonical.
void PackPieces(ProgState& prog, PackState* p, int i, int* sq, bool settled, bool marked) {
  if (i >= 8) return;  // bounds the recursion for the compiler
  for (int s = 0; s < 64; s++) {
    int rank = s >> 3, file = s & 7;
    bool mark = marked || (!settled && rank > file) ||
                (p->codes[i] == p->codes[i - 1] && s <= sq[i - 1]);
    bool next_settled = settled || rank != file;
    sq[i] = s;
    if (i + 1 == p->count) {
      PackByte(prog, p, mark);
    } else {
      PackPieces(prog, p, i + 1, sq, next_settled, mark);
    }
  }
  if (i + 1 == p->count) ProgTick(prog, 64);
}

void Pack(Build& b, int pass, uint32_t code, const char* failure, int first_group, int last_ply,
          const uint8_t* own, int nown, const uint8_t* other, int nother) {
  ProgStart(b.prog, nullptr, pass, 0);
  PackState* p = static_cast<PackState*>(SysAlloc(sizeof(PackState)));
  memset(p, 0, sizeof *p);
  for (int g = first_group; g <= last_ply; g += kGroupStep) {
    FinReader* f = &p->fin[p->groups++];
    f->file = FileRopen(FlocName(b.basi.name, kTagFin, g));
    f->buffer = static_cast<uint8_t*>(SysAlloc(kFinBuffer));
  }
  char name[16];
  snprintf(name, sizeof name, "%s", FresName(code));
  p->out = FileWopenX(name);
  if (JarSetCreator(p->out, kZokVersion, kDbFormat, kMetricDtm, static_cast<int32_t>(code)) != 0) {
    OutError("%s", failure);
  }
  p->out_buffer = static_cast<uint8_t*>(SysAlloc(kFinBuffer));
  memcpy(p->codes, own, nown);
  memcpy(p->codes + nown, other, nother);
  p->count = nown + nother;
  bool pawns = b.basi.npawns != 0;
  int sq[8];
  for (int rank = 0; rank < 8; rank++) {
    for (int file = 0; file < 4; file++) {
      if (!pawns && (rank > 3 || rank > file)) continue;
      p->weight = pawns ? 2 : rank == file ? 4 : 8;
      sq[0] = rank * 8 + file;
      bool settled = pawns || rank < file;
      PackPieces(b.prog, p, 1, sq, settled, false);
    }
  }
  if (p->out_fill > 0) FileWrite(p->out_buffer, p->out_fill, p->out);
  FileClose(p->out);
  for (int g = 0; g < p->groups; g++) {
    FileClose(p->fin[g].file);
    SysFree(p->fin[g].buffer);
  }
  for (int g = first_group; g <= last_ply; g += kGroupStep) {
    RunDeferRemove(b, FlocName(b.basi.name, kTagFin, g));
  }
  SysFree(p->out_buffer);
  SysFree(p);
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
  RowPlan plan = PlanRows(rows, row_bits);
  int plies = 0;
  for (int n = g; n <= last; n += 2) plies++;
  uint8_t* bytes[2];
  double* valued[2];
  uint8_t* bits;
  {
    QuietAccounting quiet;
    for (int i = 0; i < 2; i++) {
      bytes[i] = static_cast<uint8_t*>(SysAlloc(static_cast<size_t>(plan.batch_rows) * length));
      valued[i] = static_cast<double*>(SysAlloc(sizeof(double) * plan.batch_rows));
    }
    bits = static_cast<uint8_t*>(SysAlloc(static_cast<size_t>(row_bits) * plan.sets));
  }
  WorkPath paths[kGroupStep / 2];
  const char* names[kGroupStep / 2];
  for (int i = 0; i < plies; i++) {
    paths[i] = FlocName(b.basi.name, kTagNew, g + 2 * i);
    names[i] = paths[i];
  }
  JILE** newf = OpenSetReaders(plan, names, plies);
  JILE* fin = FileWopenW(FlocName(b.basi.name, kTagFin, g));
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
      double v = 0;
      for (int32_t k = 0; k < length; k++) v += row[k] != kValueNone;
      valued[slot][j] = v;
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
  RunRows(plan, b.prog, length, [](int, int32_t, int32_t) {}, compute, commit);
  FileClose(fin);
  CloseSetReaders(plan, newf, plies);
  for (int i = 0; i < plies; i++) RunDeferRemove(b, FlocName(b.basi.name, kTagNew, g + 2 * i));
  {
    QuietAccounting quiet;
    for (int i = 0; i < 2; i++) {
      SysFree(bytes[i]);
      SysFree(valued[i]);
    }
    SysFree(bits);
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
