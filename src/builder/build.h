// One build of an endgame: everything its passes share, made by ExeBuild and
// handed to each pass by reference.
#pragma once

#include <cstdint>
#include <cstdio>

#include "builder/cache.h"
#include "builder/pile.h"
#include "builder/progress.h"
#include "index/basis.h"
#include "index/names.h"
#include "jar/jas.h"

// Build state, one line each in RUN.
struct RunState {
  char bname[16];     // base name of the endgame being built
  int32_t passdone;   // last pass finished and recorded, kPassNone before pass -1
  int32_t maxbcwply;  // latest White ply a conversion into a sub-endgame wins at, or -1
  int32_t maxbczply;  // latest Black ply a conversion loses at, or -1
  int32_t cstotal;    // build time of the passes done, in hundredths of a second
  int32_t maxsolw;    // last odd ply that found White wins (longest White mate), or -1
  int32_t maxsolz;    // last even ply that found Black losses, or -1
  double wmopen;      // white-to-move entries still open after the last White pass
  double wnopen;      // the same, weighted by the board positions each stands for
  double zmopen;      // black-to-move entries still open after the last Black pass
  double znopen;      // the same, weighted
  // The pass a resume starts with: passdone + 1, or 900 once an iteration
  // pass found nothing new (only then is it written to RUN).
  int32_t passnext;
};

// Enough for every file one pass can retire (pass 900 retires up to one
// NEWF file per ply).
inline constexpr int kPendingMax = 1024;
inline constexpr int kPendingPathMax = 31;

// Past this many files opened for writing since the last pass was recorded,
// the whole file system is synced instead of each file.
inline constexpr int kWrittenMax = 4096;

struct Build {
  Basi basi;  // the endgame; its name is also the work directory's
  // Where the sub-endgames' databases are looked for; the command's.
  const SearchPath* search = nullptr;
  RunState run;
  char run_path[64];                               // the path of RUN, for the messages of RunRead
  char pending[kPendingMax][kPendingPathMax + 1];  // deferred removals
  int npending;
  ProgState prog;
  PileState pile;
  SubCache cache;
  // What the build's file and memory work counts to (the .LOS figures), and
  // the files it wrote since the last pass was recorded, which go to disk
  // before RUN records the next one.
  JarAccount account;
  // Handed to what one thread holds or opens: all of it counts.
  JarContext counted{&account};
  // Handed to what further threads hold beyond one thread's share: only
  // disk bytes and errors count, so that the logs read the same for any
  // number of threads.
  JarContext quiet{&account, true};
  // The current directory needs a sync only when a file was made there (the
  // logs, at the first pass; the finished databases).
  bool sync_current;
  // The creation time stamped into the finished databases: SOURCE_DATE_EPOCH
  // when set, so that two builds give the same bytes; -1 for the time of
  // writing.
  int64_t created;
  // Mate totals of pass 0, carried from ZtmCreate to ZtmMates.
  double mates;
  double mates_weighted;
};

// The passes the driver calls. An empty entry stops the build ("ExeBuild:
// pass %d not available").
struct BuildPasses {
  void (*wtm1_create)(Build&);
  void (*wtm2_create)(Build&);
  void (*ztm_create)(Build&);
  void (*ztm_mates)(Build&);
  void (*wtm_pass)(Build&, int n);
  void (*ztm_pass)(Build&, int n);
  void (*pass_cleanup)(Build&);
  void (*collect_pack_wtm)(Build&);  // pass 901
  void (*collect_pack_ztm)(Build&);  // pass 902
};
