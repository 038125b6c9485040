#include "support/console.h"

#include <gtest/gtest.h>

#include <csignal>

#include "test_support.h"

namespace {

TEST(LogFiles, OpenLazilyAndAppend) {
  TempDir dir;
  // Each child writes once; the files must exist only after a write and keep
  // what earlier processes wrote.
  for (int round = 0; round < 2; round++) {
    EXPECT_EXIT(
        {
          ScopedCwd cwd(dir.path());
          SetLogName("KQKR");
          if (FileExists("KQKR.LOF")) {
            if (round == 0) _exit(3);
          }
          OutFile("f%d\n", round);
          OutGile("g%d\n", round);
          OutSile("s%d\n", round);
          exit(0);
        },
        ::testing::ExitedWithCode(0), "");
  }
  EXPECT_EQ(ReadFile(dir.File("KQKR.LOF")), "f0\nf1\n");
  EXPECT_EQ(ReadFile(dir.File("KQKR.LOG")), "g0\ng1\n");
  EXPECT_EQ(ReadFile(dir.File("KQKR.LOS")), "s0\ns1\n");
  EXPECT_FALSE(FileExists(dir.File("OUT.LOF")));
}

TEST(LogFiles, NameBoundIsEightCharacters) {
  TempDir dir;
  EXPECT_EXIT(
      {
        ScopedCwd cwd(dir.path());
        SetLogName("ABCDEFGH");
        OutFile("x");
        SetLogName("");  // streams already open stay open
        OutGile("y");
        exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadFile(dir.File("ABCDEFGH.LOF")), "x");
  EXPECT_EQ(ReadFile(dir.File(".LOG")), "y");
  EXPECT_FATAL(SetLogName("ABCDEFGHI"), "SetLogName: name too long");
}

TEST(LogFiles, UncreatableLogIsFatal) {
  TempDir dir;
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
