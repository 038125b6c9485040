#include "builder/values.h"

#include "builder/build.h"
#include "builder/progress.h"
#include "index/basis.h"
#include "support/console.h"

int32_t LayoutRows(const Basi& basis, Layout layout) {
  return layout == kWhiteRows ? basis.numw : basis.numz;
}

int32_t LayoutColumns(const Basi& basis, Layout layout) {
  return layout == kWhiteRows ? basis.zsize : basis.wsize;
}

double LayoutBitmapBytes(const Basi& basis, Layout layout) {
  return static_cast<double>(LayoutRows(basis, layout)) * LayoutRowBytes(basis, layout);
}

double LayoutEntries(const Basi& basis, Layout layout) {
  return static_cast<double>(LayoutRows(basis, layout)) * LayoutColumns(basis, layout);
}

int ConvModeW(int n, int maxbcwply) {
  if (n > maxbcwply) return 0;
  return (n + 1) % 16 == 0 && n + 2 <= maxbcwply ? 2 : 1;
}

int ConvModeZ(int n, int maxbczply) {
  if (n > maxbczply) return 0;
  return n % 16 == 0 && n + 2 <= maxbczply ? 2 : 1;
}

bool ConvDoneW(int n, int mode, int maxbcwply) { return mode != 0 && (mode == 2 || n == maxbcwply); }

bool ConvDoneZ(int n, int mode, int maxbczply) { return mode != 0 && (mode == 2 || n == maxbczply); }

void CountRestore(Build& b, Side side) {
  b.prog.open = side == kWhite ? b.run.wmopen : b.run.zmopen;
  b.prog.open_weighted = side == kWhite ? b.run.wnopen : b.run.znopen;
}

void CountStore(Build& b, Side side) {
  if (side == kWhite) {
    b.run.wmopen = b.prog.open;
    b.run.wnopen = b.prog.open_weighted;
  } else {
    b.run.zmopen = b.prog.open;
    b.run.znopen = b.prog.open_weighted;
  }
}

void CountResolve(ProgState& prog, double entries, int weight) {
  prog.resolved += entries;
  prog.resolved_weighted += entries * weight;
  prog.open -= entries;
  prog.open_weighted -= entries * weight;
}

void CountAdd(ProgState& prog, double resolved, double open, int weight) {
  prog.resolved += resolved;
  prog.resolved_weighted += resolved * weight;
  prog.open += open;
  prog.open_weighted += open * weight;
}

bool CountFoundNothing(const ProgState& prog) { return prog.resolved_weighted == 0; }
