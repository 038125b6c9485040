#include "builder/progress.h"

#include <cstdio>
#include <cstring>

#include "index/basis.h"
#include "support/console.h"

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

void ProgStart(ProgState& prog, const char* name, int number, int kind) {
  const Basi* basis = prog.basis;
  int32_t cstotal = prog.cstotal;
  memset(&prog, 0, sizeof prog);
  prog.basis = basis;
  prog.cstotal = cstotal;
  char mark = kind == 2 ? '*' : kind == 1 ? '+' : kind == 0 ? ' ' : '?';
  if (name == nullptr) name = basis != nullptr ? basis->name : "";
  snprintf(prog.label, sizeof prog.label, "%-7s%c%03d", name, mark, number);
  if (basis != nullptr) prog.total = static_cast<double>(basis->numw) * basis->zsize;
  prog.start = ClockCs(1);
  prog.mark1 = prog.mark2 = -1;
  OutCons("\r%s%-79.79s%s", "", ProgText(prog, 0), "");
}

const char* ProgText(const ProgState& prog, int which) {
  static char text[256];
  // ProgTime and ProgCount share static buffers: copy each before the next call.
  char total_time[32], pass_time[32], resolved[32], open[32];
  snprintf(total_time, sizeof total_time, "%s", ProgTime(prog.elapsed + prog.cstotal));
  snprintf(pass_time, sizeof pass_time, "%s", ProgTime(prog.elapsed));
  snprintf(resolved, sizeof resolved, "%s",
           ProgCount(which == 0 ? prog.resolved : prog.resolved_weighted));
  snprintf(open, sizeof open, "%s", ProgCount(which == 0 ? prog.open : prog.open_weighted));
  int n = snprintf(text, sizeof text, "%s %7s %s %s %s  %5.3f", prog.label, total_time,
                   pass_time, resolved, open,
                   prog.total > 0 ? prog.done / prog.total : 0.0);
  if (prog.cache_display == 0) {
    char a[32] = "------", b[32] = "------";
    if (prog.mark1 >= 0 && prog.mark2 < 0) {
      snprintf(a, sizeof a, "%s", ProgTime(prog.elapsed - prog.mark1));
    } else if (prog.mark1 >= 0) {
      snprintf(a, sizeof a, "%s", ProgTime(prog.mark2 - prog.mark1));
      snprintf(b, sizeof b, "%s", ProgTime(prog.elapsed - prog.mark2));
    }
    snprintf(text + n, sizeof text - n, " %8s %8s", a, b);
  } else {
    snprintf(text + n, sizeof text - n, " %8.0fk%8.0f", prog.cache_probes * 0.001,
             prog.cache_loads);
  }
  return text;
}

void ProgTick(ProgState& prog, int32_t units) {
  prog.pending += units;
  if (units != 0 && prog.pending < 32768) return;
  prog.done += prog.pending;
  prog.pending = 0;
  int32_t now = ClockCs(0) - prog.start;
  if (units != 0 && now < (prog.shown / 100 + 1) * 100) return;
  prog.elapsed = prog.shown = now;
  OutCons("\r%s%-79.79s%s", "", ProgText(prog, 0), "");
  ProgPoll();
}

void ProgEnd(ProgState& prog) {
  prog.done += prog.pending;
  prog.pending = 0;
  prog.elapsed = ClockCs(0) - prog.start;
  OutCons("\r%s%-79.79s%s\n", "", ProgText(prog, 0), "");
  OutFile("%s\n", ProgText(prog, 0));
  OutGile("%s\n", ProgText(prog, 1));
  prog.cstotal += prog.elapsed;
}
