#include "builder/progress.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "index/basis.h"
#include "support/console.h"

std::string ProgTime(int32_t cs) {
  char text[32];
  if (cs >= 1000000) {
    snprintf(text, sizeof text, "%06d", cs / 100);
  } else {
    snprintf(text, sizeof text, "%06.1f", cs * 0.01);
  }
  return text;
}

std::string ProgCount(double x) {
  char text[32];
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
  OutCons("\r%s%-79.79s%s", "", ProgText(prog, 0).c_str(), "");
}

std::string ProgText(const ProgState& prog, int which) {
  char text[256];
  int n = snprintf(text, sizeof text, "%s %7s %s %s %s  %5.3f", prog.label,
                   ProgTime(prog.elapsed + prog.cstotal).c_str(), ProgTime(prog.elapsed).c_str(),
                   ProgCount(which == 0 ? prog.resolved : prog.resolved_weighted).c_str(),
                   ProgCount(which == 0 ? prog.open : prog.open_weighted).c_str(),
                   prog.total > 0 ? prog.done / prog.total : 0.0);
  if (prog.cache_display == 0) {
    std::string a = "------", b = "------";
    if (prog.mark1 >= 0 && prog.mark2 < 0) {
      a = ProgTime(prog.elapsed - prog.mark1);
    } else if (prog.mark1 >= 0) {
      a = ProgTime(prog.mark2 - prog.mark1);
      b = ProgTime(prog.elapsed - prog.mark2);
    }
    snprintf(text + n, sizeof text - n, " %8s %8s", a.c_str(), b.c_str());
  } else {
    snprintf(text + n, sizeof text - n, " %8.0fk%8.0f", prog.cache_probes * 0.001, prog.cache_loads);
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
  OutCons("\r%s%-79.79s%s", "", ProgText(prog, 0).c_str(), "");
  ProgPoll();
}

void ProgEnd(ProgState& prog) {
  prog.done += prog.pending;
  prog.pending = 0;
  prog.elapsed = ClockCs(0) - prog.start;
  OutCons("\r%s%-79.79s%s\n", "", ProgText(prog, 0).c_str(), "");
  OutFile("%s\n", ProgText(prog, 0).c_str());
  OutGile("%s\n", ProgText(prog, 1).c_str());
  prog.cstotal += prog.elapsed;
}
