#include "commands/log_summary.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/console.h"

namespace {

constexpr int kLineMax = 255;

struct SumTotals {
  int32_t found;
  double time;
  int32_t maxsolw;
  int32_t maxsolz;
  double sizew;
  double sizez;
};

struct TimeLine {
  double time;
  int32_t maxsolw;
  int32_t maxsolz;
  double sizew;
  double sizez;
};

// Reads one line of at most kLineMax characters. The rest of a longer line is
// skipped, so that its tail can never pass for a line of its own.
bool ReadLine(FILE* f, char* line) {
  if (fgets(line, kLineMax + 1, f) == nullptr) return false;
  size_t n = strlen(line);
  if (n == static_cast<size_t>(kLineMax) && line[n - 1] != '\n') {
    int c;
    while ((c = fgetc(f)) != EOF && c != '\n') {
    }
  }
  return true;
}

// The first line of the log that starts with "Time" and carries all five
// figures of the build driver's closing line.
bool FindTimeLine(FILE* f, TimeLine* t) {
  char line[kLineMax + 1];
  while (ReadLine(f, line)) {
    if (strncmp(line, "Time", 4) != 0) continue;
    if (sscanf(line, "Time %lf Ply %d %d File %lf %lf", &t->time, &t->maxsolw, &t->maxsolz, &t->sizew,
               &t->sizez) == 5) {
      return true;
    }
  }
  return false;
}

void SumDirectory(const char* dir, int sweep, SumTotals* totals) {
  std::string pattern = std::string(dir) + kPathSep + "*.LOF";
  if (sweep == 0) OutCons("\n%s ...", pattern.c_str());
  std::vector<std::string> names = PlatFindFiles(pattern.c_str());
  for (const std::string& name : names) {
    if (sweep == 0) OutCons("\n%-10s", name.c_str());
    std::string path = std::string(dir) + kPathSep + name;
    FILE* f = PlatFopen(path.c_str(), "r");
    if (f == nullptr) continue;
    TimeLine t;
    if (FindTimeLine(f, &t)) {
      if (sweep == 0) {
        OutCons(" %10.1f   %3d %3d   %12.0f %12.0f", t.time, t.maxsolw, t.maxsolz, t.sizew, t.sizez);
      }
      totals->found++;
      totals->time += t.time;
      if (t.maxsolw > totals->maxsolw) totals->maxsolw = t.maxsolw;
      if (t.maxsolz > totals->maxsolz) totals->maxsolz = t.maxsolz;
      totals->sizew += t.sizew;
      totals->sizez += t.sizez;
    }
    PlatFclose(f);
  }
}

}  // namespace

void ExeSum(int n, char** args) {
  static const char* const kHere[] = {"."};
  const char* const* dirs = n > 0 ? args : kHere;
  int ndirs = n > 0 ? n : 1;
  // A mistyped directory would otherwise read as one without finished builds.
  for (int i = 0; i < ndirs; i++) {
    if (!PlatIsDirectory(dirs[i])) OutError("ExeSum: %s: no such directory", dirs[i]);
  }
  SumTotals totals;
  for (int sweep = 0; sweep <= 1; sweep++) {
    totals = SumTotals{0, 0, 0, 0, 0, 0};
    for (int i = 0; i < ndirs; i++) SumDirectory(dirs[i], sweep, &totals);
  }
  const char* label = "ALL";
  OutCons("\n");
  OutCons("\n%s : found      %12d", label, totals.found);
  OutCons("\n%s : sum time   %12.1f   %10.1f hour %10.2f day", label, totals.time, totals.time / 3600,
          totals.time / 86400);
  OutCons("\n%s : max ply    %8d,%3d", label, totals.maxsolw, totals.maxsolz);
  OutCons("\n%s : sum size w %12.0f   %10.3f MB", label, totals.sizew, totals.sizew / 1048576);
  OutCons("\n%s : sum size b %12.0f   %10.3f MB   %10.3f GB", label, totals.sizez,
          totals.sizez / 1048576, (totals.sizew + totals.sizez) / 1073741824);
  OutCons("\n");
}
