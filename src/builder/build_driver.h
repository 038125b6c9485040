// The build command (-b): prerequisite checks, the numbered passes, and the
// RUN state file that lets a stopped build resume at the next pass.
#pragma once

#include "builder/build.h"

// 0 when there is no RUN, 1 when it is loaded. A RUN that lacks a field, holds
// a bad value or a remove line outside the work directory, is empty or cut
// short is fatal: it is never guessed at, nor does it remove anything.
int RunRead(Build& b);
void RunInit(Build& b);
// Replaces RUN atomically: a stop at any instant leaves the old or the new
// state, never a truncated one.
void RunWrite(Build& b);

// Deferred removals. A pass must not remove an input that its own rerun
// needs before RUN records the pass; it names such files here instead. RunWrite
// records them with the pass, the driver removes them right after the record,
// and a resumed build first finishes the removals of the last recorded pass.
// A file already gone is no error; of one whose index cannot be read, the
// index and chunk files there are removed all the same.
void RunDeferRemove(Build& b, const char* path);
int RunPendingRemovals(const Build& b);
void RunCompleteRemovals(Build& b);

// Runs `-b` with the given passes (the program's are kBuildPasses).
void ExeBuild(const SearchPath& search, int n, char** args, const BuildPasses& passes);
