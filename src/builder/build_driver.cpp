#include "builder/build_driver.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "builder/values.h"
#include "support/checked_ops.h"
#include "support/console.h"
#include "builder/progress.h"
#include "support/version.h"
#include "index/names.h"
#include "builder/work_names.h"
#include "jar/jar_file.h"
#include "jar/jas.h"
#include "platform/platform.h"

RunState g_run;
Basi g_basi;
BuildPasses g_build_passes;

namespace {

constexpr int kRunLineMax = 255;
constexpr int kRunTokensMax = 9;
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

// The path of RUN, for the messages of RunRead.
char g_run_path[64];

[[noreturn]] void RunDamaged(const char* format, ...) ZOK_PRINTF(1, 2);
void RunDamaged(const char* format, ...) {
  char what[kRunLineMax + 64];
  va_list args;
  va_start(args, format);
  vsnprintf(what, sizeof what, format, args);
  va_end(args);
  OutError("RunRead: [%s] %s: remove the directory %s to start the build over", g_run_path, what,
           g_basi.name);
}

// The whole token is a decimal number from lo to hi.
bool ParseInt(const char* text, long lo, long hi, int32_t* value) {
  char* end;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (end == text || *end != 0 || errno != 0 || v < lo || v > hi) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

// The whole token is a finite count, not negative.
bool ParseCount(const char* text, double* value) {
  char* end;
  double v = strtod(text, &end);
  if (end == text || *end != 0 || !std::isfinite(v) || v < 0) return false;
  *value = v;
  return true;
}

// NAME/FILE with NAME the work directory and FILE one plain component: a
// damaged RUN must not reach a finished database or anything outside.
bool InWorkDirectory(const char* path) {
  size_t n = strlen(g_basi.name);
  if (strncmp(path, g_basi.name, n) != 0 || path[n] != kPathSep) return false;
  const char* file = path + n + 1;
  return *file != 0 && strcmp(file, ".") != 0 && strstr(file, "..") == nullptr &&
         strchr(file, '/') == nullptr && strchr(file, '\\') == nullptr &&
         strlen(path) <= static_cast<size_t>(kPendingPathMax);
}

// passnext differs from passdone + 1 only when an iteration pass ended the
// iteration; only then is it in RUN.
bool PassnextRecorded(const RunState& r) {
  return r.passnext == kPassCleanup && r.passdone >= 1 && r.passdone < kPassIterLast;
}

// The fields of RUN in the order written; passnext comes after them when
// written at all.
enum RunField {
  kFieldBname, kFieldPassdone, kFieldMaxbcwply, kFieldMaxbczply, kFieldCstotal, kFieldMaxsolw,
  kFieldMaxsolz, kFieldWmopen, kFieldWnopen, kFieldZmopen, kFieldZnopen, kFieldPassnext,
  kFieldCount
};
const char* const kFieldNames[kFieldCount] = {
    "bname",   "passdone", "maxbcwply", "maxbczply", "cstotal", "maxsolw",
    "maxsolz", "wmopen",   "wnopen",    "zmopen",    "znopen",  "passnext"};

// Loads one line of RUN (its tokens, the line as read for messages); returns
// the field it set, or -1 for a remove line or an unknown key.
int RunLine(char** tokens, int ntokens, const char* line) {
  const char* key = tokens[0];
  if (strcmp(key, "remove") == 0) {
    if (ntokens != 2 || !InWorkDirectory(tokens[1])) RunDamaged("bad remove line [%s]", line);
    if (g_npending >= kPendingMax) RunDamaged("too many remove lines");
    strcpy(g_pending[g_npending++], tokens[1]);
    return -1;
  }
  int field = 0;
  while (field < kFieldCount && strcmp(key, kFieldNames[field]) != 0) field++;
  if (field == kFieldCount) return -1;  // unknown keys are left to other versions
  const char* v = ntokens == 2 ? tokens[1] : "";
  bool ok = ntokens == 2;
  RunState& r = g_run;
  switch (field) {
    case kFieldBname: ok = ok && strcmp(v, g_basi.name) == 0; break;
    case kFieldPassdone: ok = ok && ParseInt(v, kPassNone, kPassPackZtm, &r.passdone); break;
    case kFieldMaxbcwply: ok = ok && ParseInt(v, -1, kPassIterLast, &r.maxbcwply); break;
    case kFieldMaxbczply: ok = ok && ParseInt(v, -1, kPassIterLast, &r.maxbczply); break;
    case kFieldCstotal: ok = ok && ParseInt(v, 0, INT32_MAX, &r.cstotal); break;
    case kFieldMaxsolw: ok = ok && ParseInt(v, -1, kPassIterLast, &r.maxsolw); break;
    case kFieldMaxsolz: ok = ok && ParseInt(v, -1, kPassIterLast, &r.maxsolz); break;
    case kFieldWmopen: ok = ok && ParseCount(v, &r.wmopen); break;
    case kFieldWnopen: ok = ok && ParseCount(v, &r.wnopen); break;
    case kFieldZmopen: ok = ok && ParseCount(v, &r.zmopen); break;
    case kFieldZnopen: ok = ok && ParseCount(v, &r.znopen); break;
    case kFieldPassnext: ok = ok && ParseInt(v, kPassWtmInit, kPassCleanup, &r.passnext); break;
  }
  if (!ok) RunDamaged("field %s bad [%s]", key, line);
  return field;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Removes the index file and the chunk files of `path` (NAME/FILE) that exist,
// without reading the index. Names are compared as they are, not as patterns.
void RemoveLeftovers(const char* path) {
  const char* slash = strrchr(path, kPathSep);
  std::string dir = slash == nullptr ? "." : std::string(path, slash - path);
  std::string base = slash == nullptr ? path : slash + 1;
  for (const std::string& f : PlatFindFiles((dir + kPathSep + "*").c_str())) {
    if (f.size() != base.size() + 4 || f.compare(0, base.size(), base) != 0) continue;
    const char* ext = f.c_str() + base.size();
    bool chunk = ext[1] == 'J' && IsHexDigit(ext[2]) && IsHexDigit(ext[3]);
    if (ext[0] != '.' || !(chunk || strcmp(ext, ".JIX") == 0)) continue;
    std::string full = dir + kPathSep + f;
    if (PlatRemove(full.c_str()) != 0) {
      OutError("RunCompleteRemovals: [%s] remove fail: %s", full.c_str(), PlatErrorText());
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
    if (found != nullptr) {
      std::string white = FresName(g_basi.material | kWhiteToMove);
      OutError("ExeBuild: %s already exists: remove %s.* and %s.* to build it again", found,
               white.c_str(), FresName(g_basi.material));
    }
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

// Files opened for writing since the last SyncPass, which forces them to disk
// before RUN records the pass. Past the table's size the whole file system
// is synced instead.
constexpr int kWrittenMax = 4096;
constexpr int kWrittenPathMax = 63;
char g_written[kWrittenMax][kWrittenPathMax + 1];
int g_nwritten = 0;
bool g_written_overflow = false;
JarFopenHook g_acc_fopen = nullptr;
// The current directory needs a sync only when a file was made there (the
// logs, at the first pass; the finished databases).
bool g_sync_current = true;

void NoteFopen(int delta, FILE* stream, const char* mode, const char* name) {
  if (delta > 0 && strpbrk(mode, "wa+") != nullptr) {
    size_t n = strlen(g_basi.name);
    if (strncmp(name, g_basi.name, n) != 0 || name[n] != kPathSep) g_sync_current = true;
    int i = g_nwritten - 1;
    while (i >= 0 && strcmp(g_written[i], name) != 0) i--;
    if (i < 0 && g_nwritten < kWrittenMax && strlen(name) <= kWrittenPathMax) {
      strcpy(g_written[g_nwritten++], name);
    } else if (i < 0) {
      g_written_overflow = true;
    }
  }
  if (g_acc_fopen != nullptr) g_acc_fopen(delta, stream, mode, name);
}

void SyncOrFail(int result, const char* name) {
  if (result != 0) OutError("ExeBuild: sync fail [%s]: %s", name, PlatErrorText());
}

// Everything the pass wrote, its log lines included, goes to disk before RUN
// records it: the files it wrote that are still there, then the directories
// that name them (the work directory, and the current one with the finished
// databases and the logs).
void SyncPass() {
  // Writing starts for every file first, so that the first sync commits the
  // lot and the others find little left to do.
  for (int i = 0; i < g_nwritten && !g_written_overflow; i++) PlatStartWriteback(g_written[i]);
  OutSyncLogs();
  if (g_written_overflow) {
    SyncOrFail(PlatSyncFileSystem(g_basi.name), g_basi.name);
  } else {
    for (int i = 0; i < g_nwritten; i++) {
      if (PlatFileSize(g_written[i]) < 0) continue;  // removed again
      SyncOrFail(PlatSyncPath(g_written[i]), g_written[i]);
    }
  }
  g_nwritten = 0;
  g_written_overflow = false;
  SyncOrFail(PlatSyncPath(g_basi.name), g_basi.name);
  if (g_sync_current) SyncOrFail(PlatSyncPath("."), ".");
  g_sync_current = false;
}

// lo and hi as typed: a whole number from -1 up; hi not below lo. Refused
// before anything is written.
void CheckRange(int n, char** args, int* first, int* last) {
  if (n < 2) return;
  char typed[128];
  snprintf(typed, sizeof typed, "-b %s %s%s%s", args[0], args[1], n >= 3 ? " " : "",
           n >= 3 ? args[2] : "");
  if (!ParseInt(args[1], kPassWtmInit, INT32_MAX, first)) {
    OutError("Bad args: %s: lo must be a pass number, -1 or more", typed);
  }
  *last = *first;
  if (n < 3) return;
  if (!ParseInt(args[2], kPassWtmInit, INT32_MAX, last)) {
    OutError("Bad args: %s: hi must be a pass number, -1 or more", typed);
  }
  if (*last < *first) OutError("Bad args: %s: hi must not be below lo", typed);
}

// One build of an endgame at a time: a second one would overwrite the
// first's files. The system drops the lock when the process ends.
void LockPath(char* path, size_t size) { RunPath(path, size, "LOCK"); }

void LockBuild() {
  char path[64];
  LockPath(path, sizeof path);
  long holder = 0;
  int r = PlatLockFile(path, &holder);
  if (r < 0) OutError("ExeBuild: lock fail [%s]: %s", path, PlatErrorText());
  if (r > 0) OutError("ExeBuild: %s is being built by process %ld", g_basi.name, holder);
}

void PrintMaxes() {
  const char* format = "Maxes:  %d Error  %5.1fM Alloc  %3d Fopen  %7.1fM Write\n";
  OutCons(format, g_acc.errors_max, g_acc.alloc_max / 1048576.0, g_acc.streams_max,
          g_acc.disk_max / 1048576);
  OutFile(format, g_acc.errors_max, g_acc.alloc_max / 1048576.0, g_acc.streams_max,
          g_acc.disk_max / 1048576);
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
  g_run.passnext = kPassNone + 1;
}

int RunRead() {
  RunPath(g_run_path, sizeof g_run_path, "RUN");
  FILE* f = PlatFopen(g_run_path, "r");
  if (f == nullptr) {
    if (PlatFileSize(g_run_path) < 0) return 0;
    OutError("RunRead: [%s] open fail: %s", g_run_path, PlatErrorText());
  }
  RunInit();
  g_npending = 0;
  bool seen[kFieldCount] = {};
  bool any = false, ended = false;
  char line[kRunLineMax + 2];
  while (fgets(line, sizeof line, f) != nullptr) {
    size_t length = strlen(line);
    if (length == 0 || line[length - 1] != '\n') {
      if (length > kRunLineMax) RunDamaged("line too long");
      RunDamaged("last line cut short");
    }
    line[--length] = 0;
    if (length > 0 && line[length - 1] == '\r') line[--length] = 0;
    char text[kRunLineMax + 2];
    strcpy(text, line);
    char* tokens[kRunTokensMax];
    int ntokens = 0;
    for (char* t = strtok(line, " \t"); t != nullptr && ntokens < kRunTokensMax;
         t = strtok(nullptr, " \t")) {
      tokens[ntokens++] = t;
    }
    if (ntokens == 0) continue;
    if (ended) RunDamaged("line after the end line [%s]", text);
    any = true;
    if (strcmp(tokens[0], "end") == 0 && ntokens == 1) {
      ended = true;
      continue;
    }
    int field = RunLine(tokens, ntokens, text);
    if (field >= 0) seen[field] = true;
  }
  bool failed = ferror(f) != 0;
  PlatFclose(f);
  if (failed) OutError("RunRead: [%s] read fail: %s", g_run_path, PlatErrorText());
  if (!any) RunDamaged("is empty");
  for (int field = 0; field < kFieldPassnext; field++) {
    if (!seen[field]) RunDamaged("field %s missing", kFieldNames[field]);
  }
  // Only this version writes passnext, and it always ends RUN with the end
  // line; RUN files of the older form have neither.
  if (seen[kFieldPassnext] && !ended) RunDamaged("end line missing");
  RunState& r = g_run;
  if (!seen[kFieldPassnext]) {
    r.passnext = r.passdone + 1;
  } else if (r.passnext != r.passdone + 1 && !PassnextRecorded(r)) {
    RunDamaged("field passnext bad [passnext %d after passdone %d]", r.passnext, r.passdone);
  }
  return 1;
}

void RunWrite() {
  char path[64], temp[64];
  RunPath(path, sizeof path, "RUN");
  RunPath(temp, sizeof temp, "RUN.TMP");
  FILE* f = PlatFopen(temp, "w");
  if (f == nullptr) OutError("RunWrite: create fail [%s]: %s", temp, PlatErrorText());
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
  if (PassnextRecorded(r)) fprintf(f, "passnext     %3d\n", r.passnext);
  for (int i = 0; i < g_npending; i++) fprintf(f, "remove   %s\n", g_pending[i]);
  // Tells a complete record from one cut short.
  fprintf(f, "end\n");
  // The new state must be on disk before it replaces the old one, and the
  // rename itself must reach the directory.
  bool ok = !ferror(f) && PlatSyncStream(f) == 0;
  if (PlatFclose(f) != 0) ok = false;
  if (!ok) OutError("RunWrite: create fail [%s]: %s", temp, PlatErrorText());
  if (PlatRename(temp, path) != 0) OutError("RunWrite: create fail [%s]: %s", path, PlatErrorText());
  if (PlatSyncPath(g_basi.name) != 0) {
    OutError("RunWrite: sync fail [%s]: %s", g_basi.name, PlatErrorText());
  }
}

void RunDeferRemove(const char* path) { AddPending(path); }

int RunPendingRemovals() { return g_npending; }

void RunCompleteRemovals() {
  if (g_npending == 0) return;
  for (int i = 0; i < g_npending; i++) {
    if (JarExists(g_pending[i]) && JarRemove(g_pending[i]) == 0) continue;
    // Damaged or half removed (an index file too short to read, chunk files
    // without their index): remove whatever of it is there.
    RemoveLeftovers(g_pending[i]);
  }
  g_npending = 0;
  RunWrite();
}

void ExeBuild(int n, char** args) {
  if (n < 1) OutError("ExeBuild: too few args");
  MakeBasi(args[0], &g_basi);
  SetWorkName(g_basi.name);
  ProgSetBasis(&g_basi);
  int first = 0, last = kPassPackZtm;
  CheckRange(n, args, &first, &last);
  g_npending = 0;
  // RUN is only ever replaced whole, so a completed build is seen without
  // the lock.
  bool resume = RunRead() == 1;
  if (resume && g_run.passdone == kPassPackZtm && g_npending == 0) {
    OutCons("\nExeBuild: %s seems to be completed\n", g_basi.name);
    return;
  }
  if (!resume) {
    CheckPrerequisites(args[0]);
    if (PlatMkdir(g_basi.name) != 0) {
      OutError("ExeBuild: mkdir fail [%s]: %s", g_basi.name, PlatErrorText());
    }
  }
  LockBuild();
  // Read again under the lock: another build may have recorded a pass since.
  char lock[64];
  LockPath(lock, sizeof lock);
  if (RunRead() == 1) {
    RunCompleteRemovals();
    if (g_run.passdone == kPassPackZtm) {
      PlatRemove(lock);
      OutCons("\nExeBuild: %s seems to be completed\n", g_basi.name);
      return;
    }
  } else {
    RunInit();
    RunWrite();
  }
  g_cstotal = g_run.cstotal;
  SetLogName(g_basi.name);
  OutFile("%s\n", ZokBanner());
  OutGile("%s\n", ZokBanner());
  OutSile("%s\n", ZokBanner());
  AccReset();
  AccInstallHooks();
  g_acc_fopen = g_jar_hooks.fopen;
  JarHookFopen(NoteFopen);

  if (n < 2) first = g_run.passnext;
  if (last > kPassPackZtm) last = kPassPackZtm;

  OutCons("\n");
  bool maxes_printed = false;
  for (int pass = first; pass <= last;) {
    ProgPoll();
    AccPass(pass, 0);
    int next = pass + 1;
    RunPass(pass, &next);
    g_run.passdone = pass;
    g_run.passnext = next;
    g_run.cstotal = g_cstotal;
    // The closing line goes to the log before the last record, so that a
    // build RUN calls complete has it.
    if (next > last) {
      PrintMaxes();
      maxes_printed = true;
    }
    SyncPass();
    RunWrite();
    RunCompleteRemovals();
    AccPass(pass, 1);
    pass = next;
  }
  if (!maxes_printed) PrintMaxes();
  // A finished build leaves only RUN; the lock itself lasts until exit.
  if (g_run.passdone == kPassPackZtm) PlatRemove(lock);
}
