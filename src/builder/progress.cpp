#include "builder/progress.h"

#include <cstdio>
#include <cstring>

#include "index/basis.h"
#include "support/console.h"

ProgState g_prog;
int32_t g_cstotal = 0;

namespace {
const Basi* g_prog_basis = nullptr;
}  // namespace

const char* ProgTime(int32_t cs) {
  static char text[32];
  if (cs >= 1000000) {
    snprintf(text, sizeof text, "%06d", cs / 100);
  } else {
    snprintf(text, sizeof text, "%06.1f", cs * 0.01);
  }
  return text;
}

const char* ProgCount(double x) {
  static char text[32];
  int64_t m = static_cast<int64_t>(x * 0.000001);
  int64_t r = static_cast<int64_t>(x - static_cast<double>(m) * 1000000);
  if (m == 0) {
    snprintf(text, sizeof text, "      %6d", static_cast<int>(r));
  } else {
    snprintf(text, sizeof text, "%5d,%06d", static_cast<int>(m), static_cast<int>(r));
  }
  return text;
}

void ProgSetBasis(const Basi* basis) { g_prog_basis = basis; }

void ProgStart(const char* name, int number, int kind) {
  memset(&g_prog, 0, sizeof g_prog);
  char mark = kind == 2 ? '*' : kind == 1 ? '+' : kind == 0 ? ' ' : '?';
  if (name == nullptr) name = g_prog_basis != nullptr ? g_prog_basis->name : "";
  snprintf(g_prog.label, sizeof g_prog.label, "%-7s%c%03d", name, mark, number);
  if (g_prog_basis != nullptr) {
    g_prog.total = static_cast<double>(g_prog_basis->numw) * g_prog_basis->zsize;
  }
  g_prog.start = ClockCs(1);
  g_prog.mark1 = g_prog.mark2 = -1;
  OutCons("\r%s%-79.79s%s", "", ProgText(0), "");
}

const char* ProgText(int which) {
  static char text[256];
  // ProgTime and ProgCount share static buffers: copy each before the next call.
  char total_time[32], pass_time[32], resolved[32], open[32];
  snprintf(total_time, sizeof total_time, "%s", ProgTime(g_prog.elapsed + g_cstotal));
  snprintf(pass_time, sizeof pass_time, "%s", ProgTime(g_prog.elapsed));
  snprintf(resolved, sizeof resolved, "%s",
           ProgCount(which == 0 ? g_prog.resolved : g_prog.resolved_weighted));
  snprintf(open, sizeof open, "%s", ProgCount(which == 0 ? g_prog.open : g_prog.open_weighted));
  int n = snprintf(text, sizeof text, "%s %7s %s %s %s  %5.3f", g_prog.label, total_time,
                   pass_time, resolved, open,
                   g_prog.total > 0 ? g_prog.done / g_prog.total : 0.0);
  if (g_prog.cache_display == 0) {
    char a[32] = "------", b[32] = "------";
    if (g_prog.mark1 >= 0 && g_prog.mark2 < 0) {
      snprintf(a, sizeof a, "%s", ProgTime(g_prog.elapsed - g_prog.mark1));
    } else if (g_prog.mark1 >= 0) {
      snprintf(a, sizeof a, "%s", ProgTime(g_prog.mark2 - g_prog.mark1));
      snprintf(b, sizeof b, "%s", ProgTime(g_prog.elapsed - g_prog.mark2));
    }
    snprintf(text + n, sizeof text - n, " %8s %8s", a, b);
  } else {
    snprintf(text + n, sizeof text - n, " %8.0fk%8d", g_prog.cache_probes * 0.001,
             g_prog.cache_loads);
  }
  return text;
}

void ProgTick(int32_t units) {
  g_prog.pending += units;
  if (units != 0 && g_prog.pending < 32768) return;
  g_prog.done += g_prog.pending;
  g_prog.pending = 0;
  int32_t now = ClockCs(0) - g_prog.start;
  if (units != 0 && now < (g_prog.shown / 100 + 1) * 100) return;
  g_prog.elapsed = g_prog.shown = now;
  OutCons("\r%s%-79.79s%s", "", ProgText(0), "");
  ProgPoll();
}

void ProgEnd() {
  g_prog.done += g_prog.pending;
  g_prog.pending = 0;
  g_prog.elapsed = ClockCs(0) - g_prog.start;
  OutCons("\r%s%-79.79s%s\n", "", ProgText(0), "");
  OutFile("%s\n", ProgText(0));
  OutGile("%s\n", ProgText(1));
  g_cstotal += g_prog.elapsed;
}
