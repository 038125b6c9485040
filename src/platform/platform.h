// Every operating-system service the program uses. Nothing outside this
// module includes an OS header.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The one path separator; every path is formed by plain concatenation.
inline constexpr char kPathSep = '/';
// Default database search directory and the fixed directory of game and
// position files.
inline constexpr const char* kCurrentDir = "./";
inline constexpr const char* kPositionDir = "/VORN/00POS/";

// Console: write and flush standard output.
void PlatConsoleWrite(const char* text, size_t length);
// Whether standard output is a terminal (asked once).
bool PlatConsoleIsTerminal();

// Standard error, written and flushed at once (the access log of the web
// explorer).
void PlatErrorWrite(const char* text, size_t length);

// Stop signals for a program that serves until told to stop. Blocking
// SIGINT and SIGTERM before any thread starts makes every later thread
// inherit the mask, so that only PlatWaitStopSignal ever takes them; it
// waits for one and returns its name ("SIGINT", "SIGTERM"). PlatSendStopSignal sends SIGTERM to
// the own process (to wake the waiter when the program ends for another
// reason).
void PlatBlockStopSignals();
const char* PlatWaitStopSignal();
void PlatSendStopSignal();

// Abort key. Only when standard input is a terminal is the keyboard polled;
// the terminal is then put into raw-ish mode on first use and restored at
// every exit (normal, fatal, SIGINT/SIGTERM).
bool PlatKeyWaiting();
int PlatReadKey();  // the waiting byte, or -1

// One line from standard input without its line end; false at end of input.
// A line longer than the buffer is cut (the rest of the line is consumed).
bool PlatReadLine(char* buffer, int size);
// The same for a line of any length, every byte kept (a NUL byte too).
// Bytes past `most` are read and dropped, and `cut` is then set, so that
// endless input cannot take all memory.
bool PlatReadWholeLine(std::string* line, size_t most, bool* cut);

// Ends the process with the given status after restoring the terminal.
[[noreturn]] void PlatExit(int status);

// File streams with 64-bit offsets.
FILE* PlatFopen(const char* name, const char* mode);
int PlatSetBuffer(FILE* stream, char* buffer, size_t size);
size_t PlatFread(void* buffer, size_t size, FILE* stream);
size_t PlatFwrite(const void* buffer, size_t size, FILE* stream);
int64_t PlatFtell(FILE* stream);
int PlatFseek(FILE* stream, int64_t offset);
int PlatFclose(FILE* stream);
// True once a read met the end of the file (a short read that is no error).
bool PlatAtEnd(FILE* stream);
int PlatRemove(const char* name);
// Renames over an existing file (atomic on one file system).
int PlatRename(const char* from, const char* to);
// Forces a stream's written data, or a named file's, to stable storage.
int PlatSyncStream(FILE* stream);
int PlatSyncPath(const char* name);
// Starts writing a named file's data to disk without waiting. Syncing a
// batch of files costs far fewer disk flushes when each is started first.
void PlatStartWriteback(const char* name);
// Forces everything written on the file system that holds `path` to stable
// storage.
int PlatSyncFileSystem(const char* path);
// Takes an advisory write lock on the file `name` (made when missing) for
// the rest of the process; the system drops it however the process ends.
// 0 when taken; 1 when another process holds it (*holder is that process,
// 0 when unknown); -1 on failure (PlatErrorText says why).
int PlatLockFile(const char* name, long* holder);
// Files read by offset through a descriptor: no stream position is shared,
// so many threads may read one file at once. PlatOpenRead gives -1 on
// failure; PlatPread reads up to `size` bytes at `offset` and gives the
// count read (short only at the end of the file), or -1.
int PlatOpenRead(const char* name);
int64_t PlatPread(int fd, void* buffer, size_t size, int64_t offset);
int PlatCloseFd(int fd);
// Zeroed memory for large tables read at random, on huge pages where the
// system gives them (fewer address-translation misses); null on failure.
// PlatFreeLarge takes the size given to PlatAllocLarge.
void* PlatAllocLarge(size_t size);
void PlatFreeLarge(void* memory, size_t size);
// Raises the limit of open files to the most the system lets this process
// have (the hard limit). Called once at start-up: a build holds readers per
// thread, and the usual soft limit of 1024 is too low for many cores.
void PlatRaiseFileLimit();
// Descriptors the process may still open: its limit less those open now.
int PlatFilesFree();
// Size in bytes from the file status, or -1.
double PlatFileSize(const char* name);
// Text of the last system error.
const char* PlatErrorText();

// Test aid for stopped builds. Every step that changes files on disk
// (creating or appending to a file, closing a written file, renaming,
// syncing, removing, making a directory) is counted. ZOK_STOP_AT=N ends the
// process with status kStopStatus right before step N, as a power loss
// would: no buffer flushed, nothing cleaned up. ZOK_STOP_AT=list prints
// every step to standard error instead ("step N (LABEL): VERB NAME"). With
// one thread the numbers are the same from run to run.
inline constexpr int kStopStatus = 3;
// "" when ZOK_STOP_AT is unset, "list" or a number from 1 up; otherwise the
// fault.
std::string PlatStopSettingError();
// Names the part of the run the following steps belong to (at most 31
// characters kept), for the list.
void PlatStepLabel(const char* label);

// Directories.
int PlatMkdir(const char* name);  // 0 when made or already there
bool PlatIsDirectory(const char* name);
// Names (last component only) in the directory of `pattern` whose last
// component matches the wildcard, in ascending byte order.
std::vector<std::string> PlatFindFiles(const char* pattern);

// Clocks.
int64_t PlatClockMs();  // monotonic, since process start
int64_t PlatTimeNow();  // seconds since 1970-01-01 UTC
// The value of an environment variable, or null when it is not set.
const char* PlatGetEnv(const char* name);

// The threads a build uses: ZOK_THREADS from the environment when it holds a
// number from 1 up, else every core the process may run on. Read once.
int PlatThreadCount();
// "" when ZOK_THREADS is unset or holds a number from 1 up; otherwise the
// fault, for the program to refuse to start with.
std::string PlatThreadSettingError();
// For tests: makes PlatThreadCount() return n (n >= 1) and returns the count
// it replaced. The pool keeps the threads it has; a count of 1 runs every
// later parallel call on the caller's thread alone.
int PlatSetThreadCount(int n);
// Runs body(arg, i) for every i in [0, n) on the pool's threads and the
// caller's, and returns when all have run. Which thread runs which i is not
// fixed, so results must not depend on it. With one thread (or in a forked
// child, or from inside a body) everything runs on the caller's thread in
// order.
void PlatParallelFor(int n, void (*body)(void* arg, int i), void* arg);
// Convenience over any callable.
template <typename Body>
void PlatParallel(int n, Body&& body) {
  PlatParallelFor(
      n, [](void* arg, int i) { (*static_cast<Body*>(arg))(i); }, &body);
}
