#include "build/build_driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "build/values.h"
#include "frontend/checked_ops.h"
#include "frontend/console.h"
#include "frontend/dispatch.h"
#include "frontend/names.h"
#include "platform/platform.h"

RunState g_run;
Basi g_basi;
BuildPasses g_build_passes;

namespace {

constexpr int kRunLineMax = 255;
constexpr int kRunTokensMax = 9;
constexpr int kBnameMax = 15;
// Enough for every file one pass can retire (pass 900 retires up to one
// NEWF file per ply).
constexpr int kPendingMax = 1024;
constexpr int kPendingPathMax = 31;

char g_pending[kPendingMax][kPendingPathMax + 1];
int g_npending = 0;

void RunPath(char* path, size_t size, const char* file) {
  snprintf(path, size, "%s%c%s", g_basi.name, kPathSep, file);
}

void AddPending(const char* path) {
  if (strlen(path) > static_cast<size_t>(kPendingPathMax)) {
    OutError("RunDeferRemove: name too long [%s]", path);
  }
  if (g_npending >= kPendingMax) OutError("RunDeferRemove: too many files");
  strcpy(g_pending[g_npending++], path);
}

void RunLine(const char* key, const char* value) {
  if (strcmp(key, "bname") == 0) {
    if (strlen(value) <= static_cast<size_t>(kBnameMax)) strcpy(g_run.bname, value);
  } else if (strcmp(key, "passdone") == 0) {
    g_run.passdone = atoi(value);
  } else if (strcmp(key, "maxbcwply") == 0) {
    g_run.maxbcwply = atoi(value);
  } else if (strcmp(key, "maxbczply") == 0) {
    g_run.maxbczply = atoi(value);
  } else if (strcmp(key, "cstotal") == 0) {
    g_run.cstotal = atoi(value);
  } else if (strcmp(key, "maxsolw") == 0) {
    g_run.maxsolw = atoi(value);
  } else if (strcmp(key, "maxsolz") == 0) {
    g_run.maxsolz = atoi(value);
  } else if (strcmp(key, "wmopen") == 0) {
    g_run.wmopen = atof(value);
  } else if (strcmp(key, "wnopen") == 0) {
    g_run.wnopen = atof(value);
  } else if (strcmp(key, "zmopen") == 0) {
    g_run.zmopen = atof(value);
  } else if (strcmp(key, "znopen") == 0) {
    g_run.znopen = atof(value);
  } else if (strcmp(key, "remove") == 0) {
    if (strlen(value) <= static_cast<size_t>(kPendingPathMax) && g_npending < kPendingMax) {
      strcpy(g_pending[g_npending++], value);
    }
  }
}

// Runs one pass entry, which must have been filled in.
void Call(void (*pass)(), int number) {
  if (pass == nullptr) OutError("ExeBuild: pass %d not available", number);
  pass();
}

void CallN(void (*pass)(int), int number) {
  if (pass == nullptr) OutError("ExeBuild: pass %d not available", number);
  pass(number);
}

void LineEnds() {
  OutCons("\n");
  OutFile("\n");
  OutGile("\n");
}

// Fresh build: neither database of the endgame may exist, and every
// sub-endgame in which White keeps a piece must.
void CheckPrerequisites(const char* typed) {
  uint32_t sides[2] = {g_basi.material | kWhiteToMove, g_basi.material};
  for (uint32_t side : sides) {
    const char* found = FresTry(side);
    if (found != nullptr) OutError("ExeBuild: %s already exists", found);
    uint32_t subs[kMaxSubEndgames];
    int nsubs = SubEndgames(side, subs);
    for (int i = 0; i < nsubs; i++) {
      if ((subs[i] & kWhiteMask) == 0) continue;
      if (FresTry(subs[i]) != nullptr) continue;
      OutCons("\n\nTo view all children of %s : %s -d %s 1", g_basi.name, ProgramName(), typed);
      OutError("ExeBuild: sub-endgame %s not found", FresName(subs[i]));
    }
  }
}

void RunPass(int pass, int* next) {
  const BuildPasses& p = g_build_passes;
  if (pass == kPassWtmInit) {
    g_run.maxbcwply = -1;
    Call(p.wtm1_create, pass);
    Call(p.wtm2_create, pass);
    LineEnds();
  } else if (pass == kPassZtmInit) {
    g_run.maxbczply = -1;
    Call(p.ztm_create, pass);
    Call(p.ztm_mates, pass);
    LineEnds();
  } else if (pass >= 1 && pass <= kPassIterLast) {
    CallN((pass & 1) != 0 ? p.wtm_pass : p.ztm_pass, pass);
    int conv = g_run.maxbcwply > g_run.maxbczply ? g_run.maxbcwply : g_run.maxbczply;
    if (CountFoundNothing() && pass >= conv) *next = kPassCleanup;
  } else if (pass == kPassCleanup) {
    Call(p.pass_cleanup, pass);
    LineEnds();
  } else if (pass == kPassPackWtm) {
    Call(p.collect_pack_wtm, pass);
  } else if (pass == kPassPackZtm) {
    Call(p.collect_pack_ztm, pass);
    double sizew = FileSize(FresName(g_basi.material | kWhiteToMove));
    double sizez = FileSize(FresName(g_basi.material));
    const char* format = "\nTime %8.1f   Ply %3d %3d   File %10.0f %10.0f\n";
    OutCons(format, g_cstotal * 0.01, g_run.maxsolw, g_run.maxsolz, sizew, sizez);
    OutFile(format, g_cstotal * 0.01, g_run.maxsolw, g_run.maxsolz, sizew, sizez);
  }
}

}  // namespace

void RunInit() {
  snprintf(g_run.bname, sizeof g_run.bname, "%s", g_basi.name);
  g_run.passdone = kPassNone;
  g_run.maxbcwply = -1;
  g_run.maxbczply = -1;
  g_run.cstotal = 0;
  g_run.maxsolw = -1;
  g_run.maxsolz = -1;
  g_run.wmopen = 0;
  g_run.wnopen = 0;
  g_run.zmopen = 0;
  g_run.znopen = 0;
}

int RunRead() {
  char path[64];
  RunPath(path, sizeof path, "RUN");
  FILE* f = PlatFopen(path, "r");
  if (f == nullptr) return 0;
  RunInit();
  g_npending = 0;
  char line[kRunLineMax + 1];
  while (fgets(line, sizeof line, f) != nullptr) {
    char* tokens[kRunTokensMax];
    int ntokens = 0;
    for (char* t = strtok(line, " \t\r\n"); t != nullptr && ntokens < kRunTokensMax;
         t = strtok(nullptr, " \t\r\n")) {
      tokens[ntokens++] = t;
    }
    if (ntokens >= 2) RunLine(tokens[0], tokens[1]);
  }
  PlatFclose(f);
  return 1;
}

void RunWrite() {
  char path[64], temp[64];
  RunPath(path, sizeof path, "RUN");
  RunPath(temp, sizeof temp, "RUN.TMP");
  FILE* f = PlatFopen(temp, "w");
  if (f == nullptr) OutError("RunWrite: create fail");
  const RunState& r = g_run;
  fprintf(f, "bname    %7s\n", r.bname);
  fprintf(f, "passdone     %3d\n", r.passdone);
  fprintf(f, "maxbcwply    %3d\n", r.maxbcwply);
  fprintf(f, "maxbczply    %3d\n", r.maxbczply);
  fprintf(f, "cstotal  %7d\n", r.cstotal);
  fprintf(f, "maxsolw      %3d\n", r.maxsolw);
  fprintf(f, "maxsolz      %3d\n", r.maxsolz);
  fprintf(f, "wmopen   %11.0f\n", r.wmopen);
  fprintf(f, "wnopen   %11.0f\n", r.wnopen);
  fprintf(f, "zmopen   %11.0f\n", r.zmopen);
  fprintf(f, "znopen   %11.0f\n", r.znopen);
  for (int i = 0; i < g_npending; i++) fprintf(f, "remove   %s\n", g_pending[i]);
  // The new state must be on disk before it replaces the old one, and the
  // rename itself must reach the directory.
  bool ok = !ferror(f) && PlatSyncStream(f) == 0;
  if (PlatFclose(f) != 0) ok = false;
  if (!ok || PlatRename(temp, path) != 0) OutError("RunWrite: create fail");
  PlatSyncPath(g_basi.name);
}

void RunDeferRemove(const char* path) { AddPending(path); }

int RunPendingRemovals() { return g_npending; }

void RunCompleteRemovals() {
  if (g_npending == 0) return;
  for (int i = 0; i < g_npending; i++) {
    if (JarExists(g_pending[i])) FileRemove(g_pending[i]);
  }
  g_npending = 0;
  RunWrite();
}

void ExeBuild(int n, char** args) {
  if (n < 1) OutError("ExeBuild: too few args");
  MakeBasi(args[0], &g_basi);
  SetWorkName(g_basi.name);
  ProgSetBasis(&g_basi);
  g_npending = 0;
  if (RunRead() == 1) {
    RunCompleteRemovals();
    if (g_run.passdone == kPassPackZtm) {
      OutCons("\nExeBuild: %s seems to be completed\n", g_basi.name);
      return;
    }
  } else {
    CheckPrerequisites(args[0]);
    PlatMkdir(g_basi.name);
    RunInit();
    RunWrite();
  }
  g_cstotal = g_run.cstotal;
  SetLogName(g_basi.name);
  OutFile("%s\n", g_banner);
  OutGile("%s\n", g_banner);
  OutSile("%s\n", g_banner);
  AccReset();
  AccInstallHooks();

  int first = g_run.passdone + 1;
  int last = kPassPackZtm;
  if (n >= 2) {
    first = atoi(args[1]);
    last = first;
  }
  if (n >= 3) last = atoi(args[2]);
  if (last > kPassPackZtm) last = kPassPackZtm;

  OutCons("\n");
  for (int pass = first; pass <= last;) {
    ProgPoll();
    AccPass(pass, 0);
    int next = pass + 1;
    RunPass(pass, &next);
    // What the pass wrote must be on disk before RUN says it is done.
    PlatSyncFileSystem(g_basi.name);
    g_run.passdone = pass;
    g_run.cstotal = g_cstotal;
    RunWrite();
    RunCompleteRemovals();
    AccPass(pass, 1);
    pass = next;
  }
  const char* format = "Maxes:  %d Error  %5.1fM Alloc  %3d Fopen  %7.1fM Write\n";
  OutCons(format, g_acc.errors_max, g_acc.alloc_max / 1048576.0, g_acc.streams_max,
          g_acc.disk_max / 1048576);
  OutFile(format, g_acc.errors_max, g_acc.alloc_max / 1048576.0, g_acc.streams_max,
          g_acc.disk_max / 1048576);
}
