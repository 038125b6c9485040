// Passes 900 to 902: remove what the iteration leaves over, fold the per-ply
// result files of each side into value bytes (FIN files of up to 20 plies),
// and pack the two finished databases in index order.
#include <cstring>

#include "builder/build_driver.h"
#include "builder/cache.h"
#include "builder/passes.h"
#include "builder/values.h"
#include "support/checked_ops.h"
#include "support/console.h"
#include "builder/progress.h"
#include "support/version.h"
#include "index/names.h"
#include "builder/work_names.h"
#include "index/position_index.h"

namespace {

constexpr int kChunk = 4096;                 // entries collected at a time
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
inline void PackByte(PackState* p, bool non_canonical) {
  int v = kValueNone;
  for (int g = 0; g < p->groups; g++) {
    int b = FinNext(&p->fin[g]);
    if (b != kValueNone) v = b;
  }
  if (v != kValueNone) {
    g_prog.resolved_weighted += p->weight;
  } else {
    g_prog.open_weighted += p->weight;
  }
  int out = non_canonical ? kValueNone : v;
  if (out != kValueNone) {
    g_prog.resolved += 1;
  } else {
    g_prog.open += 1;
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
void PackPieces(PackState* p, int i, int* sq, bool settled, bool marked) {
  if (i >= 8) return;  // bounds the recursion for the compiler
  for (int s = 0; s < 64; s++) {
    int rank = s >> 3, file = s & 7;
    bool mark = marked || (!settled && rank > file) ||
                (p->codes[i] == p->codes[i - 1] && s <= sq[i - 1]);
    bool next_settled = settled || rank != file;
    sq[i] = s;
    if (i + 1 == p->count) {
      PackByte(p, mark);
    } else {
      PackPieces(p, i + 1, sq, next_settled, mark);
    }
  }
  if (i + 1 == p->count) ProgTick(64);
}

void Pack(int pass, uint32_t code, const char* failure, int first_group, int last_ply,
          const uint8_t* own, int nown, const uint8_t* other, int nother) {
  ProgStart(nullptr, pass, 0);
  PackState* p = static_cast<PackState*>(SysAlloc(sizeof(PackState)));
  memset(p, 0, sizeof *p);
  for (int g = first_group; g <= last_ply; g += kGroupStep) {
    FinReader* f = &p->fin[p->groups++];
    f->file = FileRopen(FlocName(kTagFin, g));
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
  bool pawns = g_basi.npawns != 0;
  int sq[8];
  for (int rank = 0; rank < 8; rank++) {
    for (int file = 0; file < 4; file++) {
      if (!pawns && (rank > 3 || rank > file)) continue;
      p->weight = pawns ? 2 : rank == file ? 4 : 8;
      sq[0] = rank * 8 + file;
      bool settled = pawns || rank < file;
      PackPieces(p, 1, sq, settled, false);
    }
  }
  if (p->out_fill > 0) FileWrite(p->out_buffer, p->out_fill, p->out);
  FileClose(p->out);
  for (int g = 0; g < p->groups; g++) {
    FileClose(p->fin[g].file);
    SysFree(p->fin[g].buffer);
  }
  for (int g = first_group; g <= last_ply; g += kGroupStep) {
    RunDeferRemove(FlocName(kTagFin, g));
  }
  SysFree(p->out_buffer);
  SysFree(p);
  ProgEnd();
}

}  // namespace

void PassCleanup() {
  int p = g_run.passdone;
  RunDeferRemove(FlocName(kTagAll, kPassZtmInit));
  int q = (p & 1) != 0 ? p : p - 1;
  RunDeferRemove(FlocName(kTagAll, q));
  RunDeferRemove(FlocName(kTagAllF, q));
  for (int n = 1; n <= p; n += 2) {
    if (n > g_run.maxsolw) RunDeferRemove(FlocName(kTagNew, n));
  }
  for (int n = 0; n <= p; n += 2) {
    if (n > g_run.maxsolz) RunDeferRemove(FlocName(kTagNew, n));
  }
}

void Collect(int g, int last) {
  ProgStart("collect", g, 0);
  bool white = (g & 1) != 0;
  Layout layout = white ? kWhiteRows : kBlackRows;
  int32_t rows = LayoutRows(g_basi, layout);
  int32_t length = LayoutColumns(g_basi, layout);
  int32_t chunk = length < kChunk ? length : kChunk;
  JILE* newf[kGroupStep / 2];
  int plies = 0;
  for (int n = g; n <= last; n += 2) newf[plies++] = FileRopen(FlocName(kTagNew, n));
  JILE* fin = FileWopen(FlocName(kTagFin, g));
  uint8_t bytes[kChunk];
  uint8_t bits[kChunk / 8];
  for (int32_t r = 0; r < rows; r++) {
    int weight = white ? WeightW(r, &g_basi) : WeightZ(r, &g_basi);
    double valued = 0;
    for (int32_t c0 = 0; c0 < length; c0 += chunk) {
      memset(bytes, kValueNone, chunk);
      for (int i = 0; i < plies; i++) {
        FileRead(bits, chunk / 8, newf[i]);
        uint8_t value = static_cast<uint8_t>(ValueOfPly(g + 2 * i));
        for (int32_t j = 0; j < chunk / 8; j++) {
          for (uint32_t b = bits[j]; b != 0; b &= b - 1) bytes[j * 8 + __builtin_ctz(b)] = value;
        }
      }
      FileWrite(bytes, chunk, fin);
      for (int32_t j = 0; j < chunk; j++) valued += bytes[j] != kValueNone;
    }
    g_prog.resolved += valued;
    g_prog.resolved_weighted += valued * weight;
    g_prog.open += length - valued;
    g_prog.open_weighted += (length - valued) * weight;
    ProgTick(length);
  }
  FileClose(fin);
  for (int i = 0; i < plies; i++) {
    FileClose(newf[i]);
    RunDeferRemove(FlocName(kTagNew, g + 2 * i));
  }
  ProgEnd();
}

void CollectPackWtm() {
  OutCons("maxsol  %3d\n", g_run.maxsolw);
  OutFile("maxsol  %3d\n", g_run.maxsolw);
  for (int g = kGroupFirstW; g <= g_run.maxsolw; g += kGroupStep) {
    Collect(g, GroupLast(g, g_run.maxsolw));
  }
  PackWtm();
}

void CollectPackZtm() {
  OutCons("maxsol  %3d\n", g_run.maxsolz);
  OutFile("maxsol  %3d\n", g_run.maxsolz);
  for (int g = kGroupFirstZ; g <= g_run.maxsolz; g += kGroupStep) {
    Collect(g, GroupLast(g, g_run.maxsolz));
  }
  PackZtm();
}

void PackWtm() {
  Pack(kPassPackWtm, g_basi.material | kWhiteToMove, "PackWtm: creator failed", kGroupFirstW,
       g_run.maxsolw, g_basi.white, g_basi.nw, g_basi.black, g_basi.nz);
}

void PackZtm() {
  Pack(kPassPackZtm, g_basi.material, "PackZtm: creator failed", kGroupFirstZ, g_run.maxsolz,
       g_basi.black, g_basi.nz, g_basi.white, g_basi.nw);
}

void InstallBuildPasses() {
  g_build_passes = BuildPasses{Wtm1Create, Wtm2Create, ZtmCreate,      ZtmMates,      WtmPass,
                               ZtmPass,    PassCleanup, CollectPackWtm, CollectPackZtm};
}
