// Helpers shared by the test programs: running the built executable and
// working in fresh temporary directories.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct RunResult {
  int status;          // exit status, or 128 + signal
  std::string output;  // standard output and standard error together
};

// Runs the built zok with the given argument string (shell words) in `dir`,
// with standard input from `input` (empty: /dev/null), and with ZOK_THREADS
// set to `threads` when that is above 0.
RunResult RunZok(const std::string& args, const std::string& dir = ".", const std::string& input = "",
                 int threads = 0);
// Runs the built zok with `args` in `dir` on a pseudo-terminal in line mode
// with echo and flow control (Ctrl+Q is START). `typed` is written before the
// program starts (START is then disabled, or the line discipline would take
// a Ctrl+Q in it); `key` is written once `cue` has appeared in the output.
// `restored` tells whether the program left the terminal as it found it;
// `status` is 128 + the signal for a program that a signal ended.
struct TerminalRun {
  int status;
  std::string output;
  bool restored;
};
TerminalRun RunZokOnTerminal(const std::string& dir, const std::vector<std::string>& args,
                             const std::string& typed, const std::string& cue = "",
                             const std::string& key = "");

// The finished databases of `names`, built in that order by the built zok,
// once per build of the executable, in a directory beside it that every test
// process shares (a process that loses the race to build them uses the
// winner's), with SOURCE_DATE_EPOCH 0. Returns the directory; a failed build
// fails the calling test.
std::string BuiltDatabases(const std::vector<std::string>& names);
// KPKP with every prerequisite, deepest first (KRKQ, the twin of KQKR, among
// them): the set the -verify and probing tests share.
std::string BuiltKpkpTree();
// Copies the database files (.JIX, .Jnn) of `from` into `to`.
void CopyDatabases(const std::string& from, const std::string& to);

// Runs `body` in a forked child whose current directory is `dir` and whose
// standard output is captured; the child ends through the body's fatal error
// or with exit status 0 (which flushes the log files).
RunResult RunInChild(const std::string& dir, const std::function<void()>& body);

// Runs a shell command in `dir`, capturing its output.
RunResult RunShell(const std::string& command, const std::string& dir = ".");

// A fresh empty directory, removed with its contents when the object dies.
// In memory, where the system has a memory file system (/dev/shm), for
// tests that sync more than the disk does quickly.
class TempDir {
 public:
  explicit TempDir(bool in_memory = false);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs the calling test's body with the current directory set to `dir`.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir);
  ~ScopedCwd();

 private:
  std::string saved_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// The 79-character banner line.
std::string Banner();

// For death tests: fatal messages go to standard output, which gtest does
// not read, so the statement first sends standard output to standard error.
void StdoutToStderr();
// A regular expression matching exactly the fatal report of `message`.
std::string FatalPattern(const std::string& message);
#define EXPECT_FATAL(statement, message) \
  EXPECT_EXIT(                           \
      {                                  \
        StdoutToStderr();                \
        statement;                       \
      },                                 \
      ::testing::ExitedWithCode(1), FatalPattern(message))
