#include "builder/values.h"

#include "builder/build_driver.h"
#include "support/console.h"
#include "builder/progress.h"
#include "index/basis.h"

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

void CountRestore(Side side) {
  g_prog.open = side == kWhite ? g_run.wmopen : g_run.zmopen;
  g_prog.open_weighted = side == kWhite ? g_run.wnopen : g_run.znopen;
}

void CountStore(Side side) {
  if (side == kWhite) {
    g_run.wmopen = g_prog.open;
    g_run.wnopen = g_prog.open_weighted;
  } else {
    g_run.zmopen = g_prog.open;
    g_run.znopen = g_prog.open_weighted;
  }
}

void CountResolve(double entries, int weight) {
  g_prog.resolved += entries;
  g_prog.resolved_weighted += entries * weight;
  g_prog.open -= entries;
  g_prog.open_weighted -= entries * weight;
}

void CountAdd(double resolved, double open, int weight) {
  g_prog.resolved += resolved;
  g_prog.resolved_weighted += resolved * weight;
  g_prog.open += open;
  g_prog.open_weighted += open * weight;
}

bool CountFoundNothing() { return g_prog.resolved_weighted == 0; }
