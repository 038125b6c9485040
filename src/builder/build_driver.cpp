#include "builder/build_driver.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "builder/progress.h"
#include "builder/values.h"
#include "builder/work_names.h"
#include "index/names.h"
#include "jar/jar_file.h"
#include "jar/jas.h"
#include "platform/platform.h"
#include "support/checked_ops.h"
#include "support/console.h"
#include "support/sha256.h"
#include "support/version.h"

namespace {

constexpr int kRunLineMax = 255;
constexpr int kRunTokensMax = 9;

void RunPath(const Build& b, char* path, size_t size, const char* file) {
  snprintf(path, size, "%s%c%s", b.basi.name, kPathSep, file);
}

void AddPending(Build& b, const char* path) {
  if (strlen(path) > static_cast<size_t>(kPendingPathMax)) {
    OutError("RunDeferRemove: name too long [%s]", path);
  }
  if (b.npending >= kPendingMax) OutError("RunDeferRemove: too many files");
  strcpy(b.pending[b.npending++], path);
}

[[noreturn]] void RunDamaged(const Build& b, const char* format, ...) ZOK_PRINTF(2, 3);
void RunDamaged(const Build& b, const char* format, ...) {
  char what[kRunLineMax + 64];
  va_list args;
  va_start(args, format);
  vsnprintf(what, sizeof what, format, args);
  va_end(args);
  OutError("RunRead: [%s] %s: remove the directory %s to start the build over", b.run_path, what,
           b.basi.name);
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
bool InWorkDirectory(const Build& b, const char* path) {
  size_t n = strlen(b.basi.name);
  if (strncmp(path, b.basi.name, n) != 0 || path[n] != kPathSep) return false;
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
  kFieldBname,
  kFieldPassdone,
  kFieldMaxbcwply,
  kFieldMaxbczply,
  kFieldCstotal,
  kFieldMaxsolw,
  kFieldMaxsolz,
  kFieldWmopen,
  kFieldWnopen,
  kFieldZmopen,
  kFieldZnopen,
  kFieldPassnext,
  kFieldCount
};
const char* const kFieldNames[kFieldCount] = {"bname",   "passdone", "maxbcwply", "maxbczply",
                                              "cstotal", "maxsolw",  "maxsolz",   "wmopen",
                                              "wnopen",  "zmopen",   "znopen",    "passnext"};

// Loads one line of RUN (its tokens, the line as read for messages); returns
// the field it set, or -1 for a remove line or an unknown key.
int RunLine(Build& b, char** tokens, int ntokens, const char* line) {
  const char* key = tokens[0];
  if (strcmp(key, "remove") == 0) {
    if (ntokens != 2 || !InWorkDirectory(b, tokens[1])) RunDamaged(b, "bad remove line [%s]", line);
    if (b.npending >= kPendingMax) RunDamaged(b, "too many remove lines");
    strcpy(b.pending[b.npending++], tokens[1]);
    return -1;
  }
  int field = 0;
  while (field < kFieldCount && strcmp(key, kFieldNames[field]) != 0) field++;
  if (field == kFieldCount) return -1;  // unknown keys are left to other versions
  const char* v = ntokens == 2 ? tokens[1] : "";
  bool ok = ntokens == 2;
  RunState& r = b.run;
  switch (field) {
    case kFieldBname: ok = ok && strcmp(v, b.basi.name) == 0; break;
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
  if (!ok) RunDamaged(b, "field %s bad [%s]", key, line);
  return field;
}

// Removes the index file and the chunk files of `path` (NAME/FILE) that exist,
// without reading the index. Names are compared as they are, not as patterns.
void RemoveLeftovers(const char* path) {
  const char* slash = strrchr(path, kPathSep);
  std::string dir = slash == nullptr ? "." : std::string(path, slash - path);
  std::string base = slash == nullptr ? path : slash + 1;
  for (const std::string& f : PlatFindFiles((dir + kPathSep + "*").c_str())) {
    if (f.compare(0, base.size(), base) != 0) continue;
    // Every chunk the writer can name: past chunk 0xFF, and the second
    // files of split chunks (0x10000 on), the numbers have more digits.
    const char* ext = f.c_str() + base.size();
    if (strcmp(ext, ".JIX") != 0 && JarChunkNumber(ext) < 0) continue;
    std::string full = dir + kPathSep + f;
    if (PlatRemove(full.c_str()) != 0) {
      OutError("RunCompleteRemovals: [%s] remove fail: %s", full.c_str(), PlatErrorText());
    }
  }
}

// Runs one pass entry, which must have been filled in.
void Call(Build& b, void (*pass)(Build&), int number) {
  if (pass == nullptr) OutError("ExeBuild: pass %d not available", number);
  pass(b);
}

void CallN(Build& b, void (*pass)(Build&, int), int number) {
  if (pass == nullptr) OutError("ExeBuild: pass %d not available", number);
  pass(b, number);
}

void LineEnds() {
  OutCons("\n");
  OutFile("\n");
  OutGile("\n");
}

// Fresh build: neither database of the endgame may exist, and every
// sub-endgame in which White keeps a piece must.
void CheckPrerequisites(const Build& b, const char* typed) {
  uint32_t sides[2] = {b.basi.material | kWhiteToMove, b.basi.material};
  for (uint32_t side : sides) {
    const std::string found = b.search->Path(side);
    if (!found.empty()) {
      OutError("ExeBuild: %s already exists: remove %s.* and %s.* to build it again", found.c_str(),
               FresName(b.basi.material | kWhiteToMove).c_str(), FresName(b.basi.material).c_str());
    }
    uint32_t subs[kMaxSubEndgames];
    int nsubs = SubEndgames(side, subs);
    for (int i = 0; i < nsubs; i++) {
      if ((subs[i] & kWhiteMask) == 0) continue;
      if (!b.search->Path(subs[i]).empty()) continue;
      OutCons("\n\nTo view all children of %s : %s -d %s 1", b.basi.name, ProgramName(), typed);
      OutError("ExeBuild: sub-endgame %s not found", FresName(subs[i]).c_str());
    }
  }
}

void SyncOrFail(int result, const char* name) {
  if (result != 0) OutError("ExeBuild: sync fail [%s]: %s", name, PlatErrorText());
}

// Everything the pass wrote, its log lines included, goes to disk before RUN
// records it: the files it wrote that are still there, then the directories
// that name them (the work directory, and the current one with the finished
// databases and the logs).
void SyncPass(Build& b) {
  std::vector<std::string> written;
  {
    std::lock_guard<std::mutex> hold(b.account.lock);
    written.swap(b.account.written);
  }
  const bool each = written.size() <= static_cast<size_t>(kWrittenMax);
  bool current = b.sync_current;
  b.sync_current = false;
  const size_t n = strlen(b.basi.name);
  for (const std::string& name : written) {
    if (name.compare(0, n, b.basi.name) != 0 || name.size() <= n || name[n] != kPathSep) current = true;
  }
  // Writing starts for every file first, so that the first sync commits the
  // lot and the others find little left to do.
  for (size_t i = 0; each && i < written.size(); i++) PlatStartWriteback(written[i].c_str());
  OutSyncLogs();
  if (!each) {
    SyncOrFail(PlatSyncFileSystem(b.basi.name), b.basi.name);
  } else {
    for (const std::string& name : written) {
      if (PlatFileSize(name.c_str()) < 0) continue;  // removed again
      SyncOrFail(PlatSyncPath(name.c_str()), name.c_str());
    }
  }
  SyncOrFail(PlatSyncPath(b.basi.name), b.basi.name);
  if (current) SyncOrFail(PlatSyncPath("."), ".");
}

// The range as typed, for messages.
void TypedRange(int n, char** args, char* typed, size_t size) {
  snprintf(typed, size, "-b %s %s%s%s", args[0], args[1], n >= 3 ? " " : "", n >= 3 ? args[2] : "");
}

// lo and hi as typed: a whole number from -1 up; hi not below lo. Refused
// before anything is written.
void CheckRange(int n, char** args, int* first, int* last) {
  if (n < 2) return;
  char typed[128];
  TypedRange(n, args, typed, sizeof typed);
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

// A new build has none of the files that later passes read: it starts with
// the first pass, and stops at the last at the latest. Anything else would
// make the work directory only to fail in a pass.
// `again`: RUN records the build finished, but its databases are gone.
void CheckNewRange(const Build& b, int n, char** args, int first, int last, bool again) {
  if (n < 2) return;
  char typed[128];
  TypedRange(n, args, typed, sizeof typed);
  if (first != kPassWtmInit && again) {
    OutError(
        "Bad args: %s: %s is built again from the start (its databases are gone), so lo "
        "must be %d, the first pass",
        typed, b.basi.name, kPassWtmInit);
  }
  if (first != kPassWtmInit) {
    OutError("Bad args: %s: %s is not begun (no %s%cRUN), so lo must be %d, the first pass", typed,
             b.basi.name, b.basi.name, kPathSep, kPassWtmInit);
  }
  if (last > kPassPackZtm) {
    OutError("Bad args: %s: hi must be %d at most, the last pass", typed, kPassPackZtm);
  }
}

// One build of an endgame at a time: a second one would overwrite the
// first's files. The system drops the lock when the process ends.
void LockPath(const Build& b, char* path, size_t size) { RunPath(b, path, size, "LOCK"); }

void LockBuild(const Build& b) {
  char path[64];
  LockPath(b, path, sizeof path);
  long holder = 0;
  int r = PlatLockFile(path, &holder);
  if (r < 0) OutError("ExeBuild: lock fail [%s]: %s", path, PlatErrorText());
  if (r > 0) OutError("ExeBuild: %s is being built by process %ld", b.basi.name, holder);
}

// SOURCE_DATE_EPOCH, when set, is the creation time stamped into the
// databases, so that two builds of an endgame give the same files.
int64_t CreationTime() {
  const char* text = PlatGetEnv("SOURCE_DATE_EPOCH");
  if (text == nullptr) return -1;
  int32_t seconds;
  if (!ParseInt(text, 0, INT32_MAX, &seconds)) {
    OutError("ExeBuild: SOURCE_DATE_EPOCH must be a number of seconds from 0 to %d, not [%s]", INT32_MAX,
             text);
  }
  return seconds;
}

// A build that RUN records finished must have left both databases, sound as
// far as their layout and their checksum files tell. True when so; false,
// having said so (when `say`), when both are gone (the build starts over);
// fatal when only one is there or one is damaged, naming what to remove, or
// when a file cannot be read to check it.
bool FinishedDatabasesThere(const Build& b, bool say) {
  const std::string names[2] = {FresName(b.basi.material | kWhiteToMove), FresName(b.basi.material)};
  const bool there[2] = {JarExists(names[0].c_str()) == 1, JarExists(names[1].c_str()) == 1};
  if (!there[0] && !there[1]) {
    if (say) {
      OutCons(
          "\nExeBuild: %s records %s finished, but %s and %s are missing: building it "
          "again\n",
          b.run_path, b.basi.name, names[0].c_str(), names[1].c_str());
    }
    return false;
  }
  char remove[128];
  snprintf(remove, sizeof remove, "remove %s.*, %s.* and the directory %s to build it again",
           names[0].c_str(), names[1].c_str(), b.basi.name);
  for (int i = 0; i < 2; i++) {
    const char* name = names[i].c_str();
    if (!there[i]) {
      OutError("ExeBuild: %s records %s finished, but %s is missing: %s", b.run_path, b.basi.name, name,
               remove);
    }
    JarFault fault;
    if (JarCheck(name, &fault) != 0) {
      OutError("ExeBuild: %s is damaged: %s: %s", name, fault.reason, remove);
    }
    std::string what;
    switch (ChecksumVerify(name, &what)) {
      case kChecksumDiffers: OutError("ExeBuild: %s is damaged: %s: %s", name, what.c_str(), remove);
      case kChecksumUnreadable: OutError("ExeBuild: %s cannot be checked: %s", name, what.c_str());
      default: break;
    }
  }
  return true;
}

void PrintMaxes(const Build& b) {
  const char* format = "Maxes:  %d Error  %5.1fM Alloc  %3d Fopen  %7.1fM Write\n";
  const JarAccount& a = b.account;
  OutCons(format, a.errors_max, a.alloc_max / 1048576.0, a.streams_max, a.disk_max / 1048576);
  OutFile(format, a.errors_max, a.alloc_max / 1048576.0, a.streams_max, a.disk_max / 1048576);
}

void RunPass(Build& b, const BuildPasses& p, int pass, int* next) {
  if (pass == kPassWtmInit) {
    b.run.maxbcwply = -1;
    Call(b, p.wtm1_create, pass);
    Call(b, p.wtm2_create, pass);
    LineEnds();
  } else if (pass == kPassZtmInit) {
    b.run.maxbczply = -1;
    Call(b, p.ztm_create, pass);
    Call(b, p.ztm_mates, pass);
    LineEnds();
  } else if (pass >= 1 && pass <= kPassIterLast) {
    CallN(b, (pass & 1) != 0 ? p.wtm_pass : p.ztm_pass, pass);
    int conv = b.run.maxbcwply > b.run.maxbczply ? b.run.maxbcwply : b.run.maxbczply;
    if (CountFoundNothing(b.prog) && pass >= conv) *next = kPassCleanup;
  } else if (pass == kPassCleanup) {
    Call(b, p.pass_cleanup, pass);
    LineEnds();
  } else if (pass == kPassPackWtm) {
    Call(b, p.collect_pack_wtm, pass);
  } else if (pass == kPassPackZtm) {
    Call(b, p.collect_pack_ztm, pass);
    double sizew = FileSize(FresName(b.basi.material | kWhiteToMove).c_str(), &b.counted);
    double sizez = FileSize(FresName(b.basi.material).c_str(), &b.counted);
    const char* format = "\nTime %8.1f   Ply %3d %3d   File %10.0f %10.0f\n";
    OutCons(format, b.prog.cstotal * 0.01, b.run.maxsolw, b.run.maxsolz, sizew, sizez);
    OutFile(format, b.prog.cstotal * 0.01, b.run.maxsolw, b.run.maxsolz, sizew, sizez);
  }
}

}  // namespace

void RunInit(Build& b) {
  snprintf(b.run.bname, sizeof b.run.bname, "%s", b.basi.name);
  b.run.passdone = kPassNone;
  b.run.maxbcwply = -1;
  b.run.maxbczply = -1;
  b.run.cstotal = 0;
  b.run.maxsolw = -1;
  b.run.maxsolz = -1;
  b.run.wmopen = 0;
  b.run.wnopen = 0;
  b.run.zmopen = 0;
  b.run.znopen = 0;
  b.run.passnext = kPassNone + 1;
}

int RunRead(Build& b) {
  RunPath(b, b.run_path, sizeof b.run_path, "RUN");
  FILE* f = PlatFopen(b.run_path, "r");
  if (f == nullptr) {
    if (PlatFileSize(b.run_path) < 0) return 0;
    OutError("RunRead: [%s] open fail: %s", b.run_path, PlatErrorText());
  }
  RunInit(b);
  b.npending = 0;
  bool seen[kFieldCount] = {};
  bool any = false, ended = false;
  char line[kRunLineMax + 2];
  while (fgets(line, sizeof line, f) != nullptr) {
    size_t length = strlen(line);
    if (length == 0 || line[length - 1] != '\n') {
      if (length > kRunLineMax) RunDamaged(b, "line too long");
      RunDamaged(b, "last line cut short");
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
    if (ended) RunDamaged(b, "line after the end line [%s]", text);
    any = true;
    if (strcmp(tokens[0], "end") == 0 && ntokens == 1) {
      ended = true;
      continue;
    }
    int field = RunLine(b, tokens, ntokens, text);
    if (field >= 0) seen[field] = true;
  }
  bool failed = ferror(f) != 0;
  PlatFclose(f);
  if (failed) OutError("RunRead: [%s] read fail: %s", b.run_path, PlatErrorText());
  if (!any) RunDamaged(b, "is empty");
  for (int field = 0; field < kFieldPassnext; field++) {
    if (!seen[field]) RunDamaged(b, "field %s missing", kFieldNames[field]);
  }
  // Only this version writes passnext, and it always ends RUN with the end
  // line; RUN files of the older form have neither.
  if (seen[kFieldPassnext] && !ended) RunDamaged(b, "end line missing");
  RunState& r = b.run;
  if (!seen[kFieldPassnext]) {
    r.passnext = r.passdone + 1;
  } else if (r.passnext != r.passdone + 1 && !PassnextRecorded(r)) {
    RunDamaged(b, "field passnext bad [passnext %d after passdone %d]", r.passnext, r.passdone);
  }
  return 1;
}

void RunWrite(Build& b) {
  char path[64], temp[64];
  RunPath(b, path, sizeof path, "RUN");
  RunPath(b, temp, sizeof temp, "RUN.TMP");
  FILE* f = PlatFopen(temp, "w");
  if (f == nullptr) OutError("RunWrite: create fail [%s]: %s", temp, PlatErrorText());
  const RunState& r = b.run;
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
  for (int i = 0; i < b.npending; i++) fprintf(f, "remove   %s\n", b.pending[i]);
  // Tells a complete record from one cut short.
  fprintf(f, "end\n");
  // The new state must be on disk before it replaces the old one, and the
  // rename itself must reach the directory.
  bool ok = !ferror(f) && PlatSyncStream(f) == 0;
  if (PlatFclose(f) != 0) ok = false;
  if (!ok) OutError("RunWrite: create fail [%s]: %s", temp, PlatErrorText());
  if (PlatRename(temp, path) != 0) OutError("RunWrite: create fail [%s]: %s", path, PlatErrorText());
  if (PlatSyncPath(b.basi.name) != 0) {
    OutError("RunWrite: sync fail [%s]: %s", b.basi.name, PlatErrorText());
  }
}

void RunDeferRemove(Build& b, const char* path) { AddPending(b, path); }

int RunPendingRemovals(const Build& b) { return b.npending; }

void RunCompleteRemovals(Build& b) {
  if (b.npending == 0) return;
  for (int i = 0; i < b.npending; i++) {
    if (JarExists(b.pending[i]) && JarRemove(b.pending[i], &b.counted) == 0) continue;
    // Damaged or half removed (an index file too short to read, chunk files
    // without their index): remove whatever of it is there.
    RemoveLeftovers(b.pending[i]);
  }
  b.npending = 0;
  RunWrite(b);
}

void ExeBuild(const SearchPath& search, int n, char** args, const BuildPasses& passes) {
  if (n < 1) OutError("ExeBuild: too few args");
  // Large (the removal and written-file tables): on the heap, zeroed.
  std::unique_ptr<Build> owned = std::make_unique<Build>();
  Build& b = *owned;
  b.search = &search;
  MakeBasi(args[0], &b.basi);
  b.prog.basis = &b.basi;
  b.sync_current = true;
  int first = 0, last = kPassPackZtm;
  CheckRange(n, args, &first, &last);
  b.created = CreationTime();
  // RUN is only ever replaced whole, so a completed build is seen without
  // the lock.
  bool resume = RunRead(b) == 1;
  char lock[64];
  LockPath(b, lock, sizeof lock);
  // Finished, but its databases are gone: built again from the start.
  bool again = false;
  if (resume && b.run.passdone == kPassPackZtm && b.npending == 0) {
    if (FinishedDatabasesThere(b, true)) {
      // A build stopped between its last record and the removal of its lock
      // left the lock file behind.
      if (PlatFileSize(lock) >= 0) PlatRemove(lock);
      OutCons("\nExeBuild: %s seems to be completed\n", b.basi.name);
      return;
    }
    again = true;
  }
  if (!resume || again) {
    CheckNewRange(b, n, args, first, last, again);
    CheckPrerequisites(b, args[0]);
    if (PlatMkdir(b.basi.name) != 0) {
      OutError("ExeBuild: mkdir fail [%s]: %s", b.basi.name, PlatErrorText());
    }
  }
  LockBuild(b);
  // Read again under the lock: another build may have recorded a pass since.
  if (RunRead(b) == 1) {
    RunCompleteRemovals(b);
    if (b.run.passdone == kPassPackZtm) {
      // Another build may have finished it since the look without the lock.
      if (FinishedDatabasesThere(b, !again)) {
        PlatRemove(lock);
        OutCons("\nExeBuild: %s seems to be completed\n", b.basi.name);
        return;
      }
      if (!again) {
        CheckNewRange(b, n, args, first, last, true);
        CheckPrerequisites(b, args[0]);
      }
      RunInit(b);
      RunWrite(b);
    }
  } else {
    RunInit(b);
    RunWrite(b);
  }
  b.prog.cstotal = b.run.cstotal;
  SetLogName(b.basi.name);
  OutFile("%s\n", ZokBanner());
  OutGile("%s\n", ZokBanner());
  OutSile("%s\n", ZokBanner());
  AccStart(b.account);

  if (n < 2) first = b.run.passnext;
  if (last > kPassPackZtm) last = kPassPackZtm;

  OutCons("\n");
  bool maxes_printed = false;
  for (int pass = first; pass <= last;) {
    char label[24];
    snprintf(label, sizeof label, "pass %d", pass);
    PlatStepLabel(label);
    ProgPoll();
    AccPass(b.account, pass, 0);
    int next = pass + 1;
    RunPass(b, passes, pass, &next);
    b.run.passdone = pass;
    b.run.passnext = next;
    b.run.cstotal = b.prog.cstotal;
    // The closing line goes to the log before the last record, so that a
    // build RUN calls complete has it.
    if (next > last) {
      PrintMaxes(b);
      maxes_printed = true;
    }
    SyncPass(b);
    RunWrite(b);
    RunCompleteRemovals(b);
    AccPass(b.account, pass, 1);
    pass = next;
  }
  if (!maxes_printed) PrintMaxes(b);
  // A finished build leaves only RUN; the lock itself lasts until exit.
  if (b.run.passdone == kPassPackZtm) PlatRemove(lock);
}
