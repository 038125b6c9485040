// The build command (-b): prerequisite checks, the numbered passes, and the
// RUN state file that lets a stopped build resume at the next pass.
#pragma once

#include <cstdint>

#include "index/basis.h"

// Build state, one line each in RUN.
struct RunState {
  char bname[16];
  int32_t passdone;
  int32_t maxbcwply;
  int32_t maxbczply;
  int32_t cstotal;
  int32_t maxsolw;
  int32_t maxsolz;
  double wmopen;
  double wnopen;
  double zmopen;
  double znopen;
  // The pass a resume starts with: passdone + 1, or 900 once an iteration
  // pass found nothing new (only then is it written to RUN).
  int32_t passnext;
};
extern RunState g_run;
// The endgame being built; set up by ExeBuild for the whole run.
extern Basi g_basi;

// 0 when there is no RUN, 1 when it is loaded. A RUN that lacks a field, holds
// a bad value or a remove line outside the work directory, is empty or cut
// short is fatal: it is never guessed at, nor does it remove anything.
int RunRead();
void RunInit();
// Replaces RUN atomically: a stop at any instant leaves the old or the new
// state, never a truncated one.
void RunWrite();

// Deferred removals. A pass must not remove an input that its own rerun
// needs before RUN records the pass; it names such files here instead. RunWrite
// records them with the pass, the driver removes them right after the record,
// and a resumed build first finishes the removals of the last recorded pass.
// A file already gone is no error; of one whose index cannot be read, the
// index and chunk files there are removed all the same.
void RunDeferRemove(const char* path);
int RunPendingRemovals();
void RunCompleteRemovals();

// The passes the driver calls, filled in by the passes themselves. An empty
// entry stops the build ("ExeBuild: pass %d not available").
struct BuildPasses {
  void (*wtm1_create)();
  void (*wtm2_create)();
  void (*ztm_create)();
  void (*ztm_mates)();
  void (*wtm_pass)(int n);
  void (*ztm_pass)(int n);
  void (*pass_cleanup)();
  void (*collect_pack_wtm)();  // pass 901
  void (*collect_pack_ztm)();  // pass 902
};
extern BuildPasses g_build_passes;

void ExeBuild(int n, char** args);
