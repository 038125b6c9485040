#include "support/console.h"

#include <gtest/gtest.h>

#include <csignal>

#include "test_support.h"

namespace {

// The logs open on their first line, append to what earlier processes wrote,
// and take the log name's eight characters at most.
TEST(LogFiles, OpenLazilyAppendAndFailByName) {
  TempDir dir;
  for (int round = 0; round < 2; round++) {
    RunResult r = RunInChild(dir.path(), [round] {
      SetLogName("ABCDEFGH");
      bool existed = FileExists("ABCDEFGH.LOF");
      OutFile("f%d\n", round);
      OutGile("g%d\n", round);
      OutSile("s%d\n", round);
      OutSyncLogs();
      _exit(existed == (round == 1) ? 0 : 3);
    });
    EXPECT_EQ(r.status, 0) << round;
  }
  EXPECT_EQ(ReadFile(dir.File("ABCDEFGH.LOF")), "f0\nf1\n");
  EXPECT_EQ(ReadFile(dir.File("ABCDEFGH.LOG")), "g0\ng1\n");
  EXPECT_EQ(ReadFile(dir.File("ABCDEFGH.LOS")), "s0\ns1\n");
  EXPECT_FALSE(FileExists(dir.File("OUT.LOF")));
  EXPECT_FATAL(SetLogName("ABCDEFGHI"), "SetLogName: name too long");
  EXPECT_FATAL(
      {
        ScopedCwd cwd(dir.path());
        SetLogName("no/such");
        OutSile("x");
      },
      "OutSile: create failed");
}

// KQKR's passes all end within a second, before any timed refresh: Ctrl+Q
// must still arrive (flow control off from the first pass) and be seen at a
// pass boundary. However the build ends (finished, aborted, interrupted),
// the terminal is left as it was found.
TEST(AbortKey, CtrlQStopsABuildOfShortPassesAndTheTerminalIsRestored) {
  struct Case {
    const char* name;
    const char* key;
    int status;
    const char* ending;
  };
  const Case kCases[] = {
      {"KQK", "", 0, "Maxes:"},
      {"KQKR", "\x11", 1, "\r\n\r\nERROR: Manual abort!\r\n"},
      {"KQKR", "\x03", 128 + SIGINT, ""},
  };
  TempDir dir;
  for (const Case& c : kCases) {
    // The first progress line of whichever pass comes first.
    char cue[16];
    snprintf(cue, sizeof cue, "\r%-8s", c.name);
    TerminalRun run = RunZokOnTerminal(dir.path(), {"-b", c.name}, "", cue, c.key);
    EXPECT_EQ(run.status, c.status) << c.name << run.output;
    EXPECT_NE(run.output.find(c.ending), std::string::npos) << run.output;
    EXPECT_TRUE(run.restored) << c.name << c.status;
  }
  // Both stops come before the build is done, which the state file resumes.
  EXPECT_TRUE(FileExists(dir.File("KQKR/RUN")));
  EXPECT_FALSE(FileExists(dir.File("KQKR___B.JIX")));
}

}  // namespace
