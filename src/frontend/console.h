// Console output, the fatal-error routine, the three log files, the progress
// line of a pass and the abort key.
#pragma once

#include <cstdint>

struct Basi;

#define ZOK_PRINTF(f, a) __attribute__((format(printf, f, a)))

[[noreturn]] void OutError(const char* format, ...) ZOK_PRINTF(1, 2);
void OutCons(const char* format, ...) ZOK_PRINTF(1, 2);
void OutFile(const char* format, ...) ZOK_PRINTF(1, 2);  // NAME.LOF
void OutGile(const char* format, ...) ZOK_PRINTF(1, 2);  // NAME.LOG
void OutSile(const char* format, ...) ZOK_PRINTF(1, 2);  // NAME.LOS
void SetLogName(const char* name);
// Flushes the open log files and forces them to disk; a failure is fatal and
// names the file.
void OutSyncLogs();

// The name the program was called by (the last component of argv[0], "zok"
// when there is none), for messages that tell the user a command to type.
void SetProgramName(const char* argv0);
const char* ProgramName();

// The process clock in centiseconds; with synchronise set it waits for the
// next millisecond tick first, so that pass timing starts on a tick.
int32_t ClockCs(int synchronise);

const char* ProgTime(int32_t centiseconds);
const char* ProgCount(double x);

struct ProgState {
  char label[24];
  double total;
  double done;
  int32_t pending;
  int32_t start;
  int32_t elapsed;
  int32_t shown;
  double resolved;
  double resolved_weighted;
  double open;
  double open_weighted;
  int32_t mark1;
  int32_t mark2;
  int32_t cache_display;
  double cache_probes;
  int32_t cache_loads;
};
extern ProgState g_prog;
// Accumulated build time in centiseconds (kept with the build state).
extern int32_t g_cstotal;

// The endgame whose passes the progress line reports (name and table size).
void ProgSetBasis(const Basi* basis);
void ProgStart(const char* name, int number, int kind);
void ProgTick(int32_t units);
// Looks for the abort key now (the build calls it between passes, which may
// be too short for a timed refresh); Ctrl+Q is fatal, other keys are dropped.
void ProgPoll();
void ProgEnd();
const char* ProgText(int which);
