// Console output, the fatal-error routine, the three log files and the
// abort key.
#pragma once

#include <cstdint>

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

// Whether a counter line that is rewritten in place (it starts with \r) is
// due: always on a terminal; in a file or a pipe, where each refresh is a
// line of its own, for the first and the `last` and otherwise once a
// second. `shown` holds the time of the last one, 0 before the first.
bool RefreshDue(int32_t* shown, bool last);

// Looks for the abort key now (the build calls it between passes, which may
// be too short for a timed refresh); Ctrl+Q is fatal, other keys are dropped.
void ProgPoll();
