// Checked allocation and file operations: each forwards to the compressed
// file layer and ends the process with a message naming the operation when
// the layer fails. During a build the layer also reports to the accounting
// routines here, which keep current and peak figures in the .LOS log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "jar/jar_file.h"

void* SysAlloc(size_t n);
void SysFree(void* p);

JILE* FileRopen(const char* path);
JILE* FileWopen(const char* path);   // default block coding
JILE* FileWopen0(const char* path);  // coding flags 2
JILE* FileWopenX(const char* path);  // coding flags 128: best of five methods per block
// A build's work files: cheap coding (stored or plain run-length), for files read
// back once or twice and then removed.
JILE* FileWopenW(const char* path);
void FileClose(JILE* h);
int FileGetc(JILE* h);
void FilePutc(int byte, JILE* h);
void FileRead(void* buffer, int count, JILE* h);
int FileReadAny(void* buffer, int count, JILE* h);  // a short read is the caller's
void FileWrite(const void* buffer, int count, JILE* h);
void FileWriteCoded(const JarCoded& coded, JILE* h);  // a block JarCode coded
void FileSeek(JILE* h, double position);
void FileRemove(const char* path);
double FileSize(const char* path);
// The message of a failed file operation on `name`: "WHO: failed [NAME]:
// REASON", or "WHO: failed [NAME] block N: REASON" when the layer found
// block N damaged. The text lasts until the next call.
const char* FileFailure(const char* who, const char* name);

struct AccState {
  int32_t errors;
  int32_t errors_max;
  int32_t alloc;  // bytes held by guarded allocations, guard overhead included
  int32_t alloc_max;
  int32_t streams;
  int32_t streams_max;
  double disk;  // bytes written minus bytes of files removed
  double disk_max;
};
extern AccState g_acc;

void AccError(const char* message);
void AccAlloc(int delta);
void AccFopen(int delta, FILE* stream, const char* mode, const char* name);
void AccWrite(double delta);
void AccRemove(double size, const char* name);
// Marks the start (end 0) or the end (end 1, with the figures) of a pass.
void AccPass(int pass, int end);

// The accounting of work run on another thread, kept to be applied later in
// a fixed order, so that the figures do not depend on which thread ran what
// or when. Runs of changes of one sign and kind are kept as one.
struct AccEvent {
  int kind;  // 0 memory, 1 streams, 2 disk
  double delta;
};
struct AccLog {
  std::vector<AccEvent> events;
};
// Sends the calling thread's accounting to `log` (nullptr: to the figures
// again).
void AccCapture(AccLog* log);
// Applies a log's changes in order through the installed hooks, and empties it.
void AccReplay(AccLog& log);

// Zeroes the figures.
void AccReset();
// Fills the five hook slots of the file layer with the routines above.
void AccInstallHooks();
