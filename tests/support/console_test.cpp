#include "support/console.h"
#include "builder/progress.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "index/basis.h"
#include "test_support.h"

namespace {

TEST(ProgCount, GroupsMillionsInTwelveColumns) {
  EXPECT_STREQ(ProgCount(0), "           0");
  EXPECT_STREQ(ProgCount(999999), "      999999");
  EXPECT_STREQ(ProgCount(1000000), "    1,000000");
  EXPECT_STREQ(ProgCount(1234567), "    1,234567");
  EXPECT_STREQ(ProgCount(98765432109.0), "98765,432109");
}

TEST(ProgTime, TenthsBelowAMillionCentisecondsThenWholeSeconds) {
  EXPECT_STREQ(ProgTime(0), "0000.0");
  EXPECT_STREQ(ProgTime(12345), "0123.5");
  EXPECT_STREQ(ProgTime(999999), "10000.0");
  EXPECT_STREQ(ProgTime(1000000), "010000");
  EXPECT_STREQ(ProgTime(123456789), "1234567");
}

TEST(ClockCs, SynchronisedReadingIsNotEarlier) {
  int32_t a = ClockCs(0);
  int32_t b = ClockCs(1);
  EXPECT_GE(b, a);
}

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

TEST(OutError, PrintsTwoLineEndsAndTheMessage) {
  EXPECT_FATAL(OutError("Wtm1Loop: numw oor %d", 7), "Wtm1Loop: numw oor 7");
}

// The progress line: carriage return, then exactly 79 characters.
TEST(Progress, LineIsSeventyNineCharactersAndLogged) {
  ProgState prog{};
  TempDir dir;
  testing::internal::CaptureStdout();
  {
    ScopedCwd cwd(dir.path());
    Basi b;
    MakeBasi("KQK", &b);
    prog.basis = &b;
    SetLogName("PROG");
    ProgStart(prog, nullptr, -1, 1);
    EXPECT_STREQ(prog.label, "KQK    +-01");
    EXPECT_EQ(prog.total, 640.0 * 64);
    ProgTick(prog, 100);  // too few units: no refresh
    ProgTick(prog, 0);    // forced refresh
    prog.resolved = 1234567;
    ProgEnd(prog);
  }
  std::string out = testing::internal::GetCapturedStdout();
  // Start, forced refresh, end: three frames.
  size_t frames = 0;
  for (size_t p = out.find('\r'); p != std::string::npos; p = out.find('\r', p + 1)) {
    frames++;
    std::string frame = out.substr(p + 1, 79);
    EXPECT_EQ(frame.size(), 79u);
    EXPECT_EQ(frame.substr(0, 11), "KQK    +-01");
  }
  EXPECT_EQ(frames, 3u);
  EXPECT_EQ(out.back(), '\n');
  EXPECT_NE(ReadFile(dir.File("PROG.LOF")).find("    1,234567"), std::string::npos);
  EXPECT_NE(ReadFile(dir.File("PROG.LOF")).find("  0.002"), std::string::npos);  // 100/40960
}

TEST(Progress, TicksBelowTheThresholdDoNotRefresh) {
  ProgState prog{};
  testing::internal::CaptureStdout();
  ProgStart(prog, "X", 5, 0);
  for (int i = 0; i < 100; i++) ProgTick(prog, 300);  // 30000 units in all
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\r'), 1);
  EXPECT_EQ(prog.done, 0.0);
  EXPECT_EQ(prog.pending, 30000);
}

TEST(Progress, PhaseMarksAndCacheDisplay) {
  ProgState prog{};
  testing::internal::CaptureStdout();
  ProgStart(prog, "KQKR", 12, 2);
  testing::internal::GetCapturedStdout();
  prog.elapsed = 500;
  std::string plain = ProgText(prog, 0);
  EXPECT_EQ(plain.substr(0, 11), "KQKR   *012");
  EXPECT_NE(plain.find("   ------   ------"), std::string::npos);
  prog.mark1 = 200;
  EXPECT_NE(std::string(ProgText(prog, 0)).find(" 0003.0   ------"), std::string::npos);
  prog.mark2 = 300;
  EXPECT_NE(std::string(ProgText(prog, 0)).find(" 0001.0   0002.0"), std::string::npos);
  prog.cache_display = 1;
  prog.cache_probes = 12345;
  prog.cache_loads = 77;
  std::string cache = ProgText(prog, 0);
  EXPECT_EQ(cache.substr(cache.size() - 18), "       12k      77");
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
