// The build driver with stub passes handed in through the pass table: the
// order of the passes, the RUN record, resuming, removals, locks and refusals.
#include "builder/build_driver.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "builder/values.h"
#include "builder/work_names.h"
#include "index/names.h"
#include "platform/platform.h"
#include "support/checked_ops.h"
#include "support/console.h"
#include "test_support.h"

namespace {

// What the stub passes do. Each appends its name to "calls" in the current
// directory, so that the parent sees the order in which the driver ran them.
struct Script {
  int fail_at = 1000;    // this pass stops the build (fatal)
  int nothing_from = 5;  // iteration passes from here on find nothing
  int maxbcwply = -1;    // set by pass -1
  int maxbczply = -1;    // set by pass 0
  int defer_at = 1000;   // this pass leaves a file and defers its removal
};
Script g_script;  // read by the stubs in the child process

void MakeJar(const char* path, int bytes) {
  JILE* h = FileWopen(path);
  for (int i = 0; i < bytes; i++) FilePutc(i & 255, h);
  FileClose(h);
}

// Every stub pass: notes its name, adds the time a progress line would, and
// does what the script says of its pass.
void Stub(Build& b, int n, const char* name) {
  FILE* f = fopen("calls", "a");
  fprintf(f, "%s ", name);
  fclose(f);
  b.prog.cstotal += 100;
  if (n == g_script.fail_at) OutError("%s: stub stop", n == -1 ? "Wtm1Create" : "WtmPass");
  if (n == -1) b.run.wmopen = 12345678901.0;
  if (n == -1) b.run.maxbcwply = g_script.maxbcwply;
  if (n == 0) b.run.maxbczply = g_script.maxbczply;
  if (n == kPassPackWtm) MakeJar(FresName(b.basi.material | kWhiteToMove), 1000);
  if (n == kPassPackZtm) MakeJar(FresName(b.basi.material), 3000);
  if (n < 1 || n >= kPassCleanup) return;
  b.prog.resolved_weighted = n < g_script.nothing_from ? 8 : 0;
  if (n < g_script.nothing_from) ((n & 1) != 0 ? b.run.maxsolw : b.run.maxsolz) = n;
  if (n == g_script.defer_at) {
    MakeJar(FlocName(b.basi.name, kTagAll, n - 2), 10);
    RunDeferRemove(b, FlocName(b.basi.name, kTagAll, n - 2));
    RunDeferRemove(b, FlocName(b.basi.name, kTagAllF, n - 2));  // never made: no error
  }
}
void StubIter(Build& b, int n) { Stub(b, n, std::to_string(n).c_str()); }
constexpr BuildPasses kStubs{[](Build& b) { Stub(b, -1, "w1"); },
                             [](Build& b) { Stub(b, -10, "w2"); },
                             [](Build& b) { Stub(b, 0, "z1"); },
                             [](Build& b) { Stub(b, -10, "zm"); },
                             StubIter,
                             StubIter,
                             [](Build& b) { Stub(b, kPassCleanup, "900"); },
                             [](Build& b) { Stub(b, kPassPackWtm, "901"); },
                             [](Build& b) { Stub(b, kPassPackZtm, "902"); }};

struct Outcome {
  int status;
  std::string console;
  std::string calls;
};

// Runs ExeBuild with `passes` in a child process in `dir`, started as the
// program's entry point would start it.
Outcome StubBuild(const std::string& dir, std::vector<std::string> args, Script script = {},
                  const BuildPasses& passes = kStubs) {
  remove((dir + "/calls").c_str());
  remove((dir + "/console").c_str());
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(99);
    if (freopen("console", "w", stdout) == nullptr) _exit(98);
    ExeInit();
    g_script = script;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    ExeBuild(static_cast<int>(argv.size()), argv.data(), passes);
    PlatExit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128, ReadFile(dir + "/console"),
          ReadFile(dir + "/calls")};
}

// RUN as written; with tail "" in the older form without the end line.
std::string RunText(const char* bname, int passdone, int maxbcw, int maxbcz, int cs, int solw,
                    int solz, double wm, double wn, double zm, double zn,
                    const char* tail = "end\n") {
  char text[512];
  snprintf(text, sizeof text,
           "bname    %7s\npassdone     %3d\nmaxbcwply    %3d\nmaxbczply    %3d\n"
           "cstotal  %7d\nmaxsolw      %3d\nmaxsolz      %3d\nwmopen   %11.0f\n"
           "wnopen   %11.0f\nzmopen   %11.0f\nznopen   %11.0f\n%s",
           bname, passdone, maxbcw, maxbcz, cs, solw, solz, wm, wn, zm, zn, tail);
  return text;
}
// RUN of a KQK build with the stubs' open total.
std::string KqkRun(int passdone, int cs, int solw, int solz, const char* tail = "end\n") {
  return RunText("KQK", passdone, -1, -1, cs, solw, solz, 12345678901, 0, 0, 0, tail);
}

}  // namespace

TEST(BuildDriver, AFreshBuildRunsEveryPassAndLogsIt) {
  TempDir dir;
  Outcome o = StubBuild(dir.path(), {"kqk"});
  ASSERT_EQ(o.status, 0) << o.console;
  EXPECT_EQ(o.calls, "w1 w2 z1 zm 1 2 3 4 5 900 901 902 ");
  EXPECT_EQ(ReadFile(dir.File("KQK/RUN")), KqkRun(902, 1200, 3, 4));
  double sizew, sizez;
  {
    ScopedCwd cwd(dir.path());
    sizew = FileSize("KQK____W");
    sizez = FileSize("KQK____B");
  }
  char time[128];
  snprintf(time, sizeof time, "\nTime %8.1f   Ply %3d %3d   File %10.0f %10.0f\n", 12.0, 3, 4,
           sizew, sizez);
  // A line end before the passes, one after each of passes -1, 0 and 900.
  std::string head = "\n\n\n\n" + std::string(time);
  ASSERT_EQ(o.console.substr(0, head.size()), head);
  EXPECT_EQ(o.console.substr(head.size(), 16), "Maxes:  0 Error ");
  EXPECT_EQ(ReadFile(dir.File("KQK.LOF")).substr(0, 80 + 3 + strlen(time)),
            Banner() + "\n\n\n\n" + time);
  EXPECT_EQ(ReadFile(dir.File("KQK.LOG")), Banner() + "\n\n\n\n");
  EXPECT_EQ(ReadFile(dir.File("KQK.LOS")).substr(0, 80), Banner() + "\n");
}

// Builds run one after another in one directory: which passes each runs,
// and what RUN holds after it.
TEST(BuildDriver, PassSequencesStopsAndResumes) {
  const Script stop3{.fail_at = 3}, stop_first{.fail_at = -1}, stop900{.fail_at = 900};
  // Nothing new from pass 2 on, conversions up to ply 7.
  const Script late{.nothing_from = 2, .maxbcwply = 7, .maxbczply = 4};
  const Script deferred{.fail_at = 4, .defer_at = 3};
  const std::string done = KqkRun(902, 1200, 3, 4);
  const std::string kNoMaxes = "Maxes:  0 Error    0.0M Alloc    0 Fopen      0.0M Write\n";
  struct Step {
    std::vector<std::string> args;
    Script script;
    int status;
    std::string calls, run, console;  // run and console: "" for unchecked
    std::string before = "";          // RUN written before the step, when given
  };
  const std::vector<std::vector<Step>> cases = {
      {{{"KQK"}, {}, 0, "w1 w2 z1 zm 1 2 3 4 5 900 901 902 ", done, ""},
       {{"KQK", "1", "3"}, {}, 0, "", done, "\nExeBuild: KQK seems to be completed\n"}},
      // The resumed build starts at the failed pass.
      {{{"KQK"}, stop3, 1, "w1 w2 z1 zm 1 2 3 ", KqkRun(2, 600, 1, 2), ""},
       {{"KQK"}, {}, 0, "3 4 5 900 901 902 ", done, ""}},
      {{{"KQK"}, stop_first, 1, "w1 ", RunText("KQK", -2, -1, -1, 0, -1, -1, 0, 0, 0, 0),
        "\n\n\nERROR: Wtm1Create: stub stop\n"},
       {{"KQK", "-1"}, {}, 0, "w1 w2 ", KqkRun(-1, 200, -1, -1), ""}},
      // The last pass run is the one recorded.
      {{{"KQK", "-1", "0"}, {}, 0, "w1 w2 z1 zm ", "", ""},
       {{"KQK", "950"}, {}, 0, "", "", "\n" + kNoMaxes},
       {{"KQK", "1", "3"}, {}, 0, "1 2 3 ", "", ""},
       {{"KQK", "5"}, {}, 0, "5 ", KqkRun(5, 800, 3, 2, "passnext     900\nend\n"), ""},
       {{"KQK", "899", "2000"}, {}, 0, "899 900 901 902 ", "", ""}},
      // The iteration stops only after both sides' conversion plies.
      {{{"KQK"}, late, 0, "w1 w2 z1 zm 1 2 3 4 5 6 7 900 901 902 ",
        RunText("KQK", 902, 7, 4, 1400, 1, -1, 12345678901, 0, 0, 0), ""}},
      // An empty pass sends the build to 900, and a stop after its record
      // must not change that.
      {{{"KQK"}, stop900, 1, "w1 w2 z1 zm 1 2 3 4 5 900 ",
        KqkRun(5, 900, 3, 4, "passnext     900\nend\n"), ""},
       {{"KQK"}, {}, 0, "900 901 902 ", done, ""}},
      // Deferred removals happen after the record and, when a stop came
      // between the two, first thing on resume, whatever the range; RUN in
      // the older form, without the end line, reads as well.
      {{{"KQK"}, deferred, 1, "w1 w2 z1 zm 1 2 3 4 ", KqkRun(3, 700, 3, 2), ""},
       {{"KQK", "950"}, {}, 0, "", KqkRun(3, 700, 3, 2), "\n" + kNoMaxes,
        KqkRun(3, 700, 3, 2, "remove   KQK/ALL001\nremove   KQK/ALLF001\n")}},
      // Unknown keys are left alone, blanks and CR are no matter, and a later
      // line wins.
      {{{"KQK", "-1"}, {}, 0, "w1 w2 ", "", ""},
       {{"KQK"}, {}, 0, "4 5 900 901 902 ", RunText("KQK", 902, -1, -1, 1200, 1, 4, 1000, 0, 0, 0),
        "", KqkRun(2, 700, 1, 2, "") + "\nstrange 5 6 7\n\tmaxsolz\t12 \r\nwmopen 1e3\npassdone 3\n"
                "remove KQK/ALL001\n"}},
  };
  for (size_t i = 0; i < cases.size(); i++) {
    TempDir dir;
    for (const Step& s : cases[i]) {
      if (i == 1 && s.script.fail_at == 1000) {
        WriteFile(dir.File("KQK____W.JIX"), "");  // a resume does not check again
      }
      if (!s.before.empty()) {
        EXPECT_FALSE(FileExists(dir.File("KQK/ALL001.JIX")));
        MakeJar(dir.File("KQK/ALL001").c_str(), 1);
        WriteFile(dir.File("KQK/RUN"), s.before);
      }
      Outcome o = StubBuild(dir.path(), s.args, s.script);
      SCOPED_TRACE(testing::Message() << "case " << i << " " << s.calls);
      EXPECT_EQ(o.status, s.status) << o.console;
      EXPECT_EQ(o.calls, s.calls);
      if (!s.run.empty()) EXPECT_EQ(ReadFile(dir.File("KQK/RUN")), s.run);
      if (!s.console.empty()) EXPECT_EQ(o.console, s.console);
    }
    EXPECT_FALSE(FileExists(dir.File("KQK/ALL001.JIX")));
  }
}

TEST(BuildDriver, RefusalsBeforeAnythingIsMade) {
  TempDir dir;
  EXPECT_EQ(StubBuild(dir.path(), {}).console, "\n\nERROR: ExeBuild: too few args\n");
  WriteFile(dir.File("KQKR___W.JIX"), "");
  Outcome o = StubBuild(dir.path(), {"KQKR"});
  EXPECT_EQ(o.status, 1);
  const std::string again = ": remove KQKR___W.* and KQKR___B.* to build it again\n";
  EXPECT_EQ(o.console, "\n\nERROR: ExeBuild: ./KQKR___W already exists" + again);
  // With only the black-to-move database the white side passes (its
  // sub-endgame KQK black to move is there) and the black side fails.
  remove(dir.File("KQKR___W.JIX").c_str());
  WriteFile(dir.File("KQKR___B.JIX"), "");
  WriteFile(dir.File("KQK____B.JIX"), "");
  o = StubBuild(dir.path(), {"KQKR"});
  EXPECT_EQ(o.console, "\n\nERROR: ExeBuild: ./KQKR___B already exists" + again);
  remove(dir.File("KQKR___B.JIX").c_str());
  remove(dir.File("KQK____B.JIX").c_str());
  o = StubBuild(dir.path(), {"kqkr"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.console,
            "\n\nTo view all children of KQKR : zok -d kqkr 1"
            "\n\nERROR: ExeBuild: sub-endgame KQK____B not found\n");
  EXPECT_FALSE(FileExists(dir.File("KQKR")) || FileExists(dir.File("KQKR.LOF")));
  // Black capturing the queen leaves White a bare king: no database needed.
  WriteFile(dir.File("KQK____B.JIX"), "");
  o = StubBuild(dir.path(), {"kqkr", "-1"});
  EXPECT_EQ(o.calls, "w1 w2 ") << o.console;
  remove(dir.File("KQK____B.JIX").c_str());
  o = StubBuild(dir.path(), {"KQK"}, {}, BuildPasses{});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.console, "\n\n\nERROR: ExeBuild: pass -1 not available\n");
}

TEST(BuildDriver, ADamagedRunIsRefusedAndRemovesNothing) {
  const std::string head = KqkRun(3, 700, 3, 2, "");
  auto replace = [&](const std::string& line, const std::string& by) {
    std::string text = head;
    return text.replace(text.find(line), line.size(), by);
  };
  const struct {
    std::string run, message;
  } cases[] = {
      {"", "is empty"},
      {"\n \n", "is empty"},
      {head.substr(0, head.find("maxbcwply")), "field maxbcwply missing"},
      {replace("maxsolz        2\n", ""), "field maxsolz missing"},
      {replace("cstotal      700", "cstotal 7x0"), "field cstotal bad [cstotal 7x0]"},
      {replace("maxsolw        3", "maxsolw"), "field maxsolw bad [maxsolw]"},
      {replace("passdone       3", "passdone 903"), "field passdone bad [passdone 903]"},
      {replace("maxsolz        2", "maxsolz 900"), "field maxsolz bad [maxsolz 900]"},
      {replace("wmopen   12345678901", "wmopen -1"), "field wmopen bad [wmopen -1]"},
      {replace("bname        KQK", "bname KQKR"), "field bname bad [bname KQKR]"},
      {head + "passnext 7\nend\n", "field passnext bad [passnext 7 after passdone 3]"},
      {head + "passnext 900\n", "end line missing"},
      {head + "remove   KQK/ALL", "last line cut short"},
      {head + "end\nremove KQK/ALL001\n", "line after the end line [remove KQK/ALL001]"},
      {head + "remove   KQK____W\n", "bad remove line [remove   KQK____W]"},
      {head + "remove KQK/../KQK____W\n", "bad remove line [remove KQK/../KQK____W]"},
      {head + "remove KQKR/ALL001\n", "bad remove line [remove KQKR/ALL001]"},
      {head + "remove KQK/\n", "bad remove line [remove KQK/]"},
      {head + "remove KQK/X/ALL001\n", "bad remove line [remove KQK/X/ALL001]"},
      {head + "remove KQK/ALL001 x\n", "bad remove line [remove KQK/ALL001 x]"},
  };
  TempDir dir;
  PlatMkdir(dir.File("KQK").c_str());
  WriteFile(dir.File("KQK____W.JIX"), "");
  WriteFile(dir.File("KQK/ALL001.JIX"), "");
  for (const auto& c : cases) {
    WriteFile(dir.File("KQK/RUN"), c.run);
    Outcome o = StubBuild(dir.path(), {"KQK"});
    EXPECT_EQ(o.status, 1) << c.run;
    EXPECT_EQ(o.console, "\n\nERROR: RunRead: [KQK/RUN] " + c.message +
                             ": remove the directory KQK to start the build over\n");
    EXPECT_EQ(o.calls, "");
    EXPECT_EQ(ReadFile(dir.File("KQK/RUN")), c.run);
    EXPECT_TRUE(FileExists(dir.File("KQK____W.JIX")) && FileExists(dir.File("KQK/ALL001.JIX")));
  }
  // An index file too short to read (and its chunk file) named by a remove
  // line is removed all the same, and the build goes on.
  WriteFile(dir.File("KQK/ALL001.J00"), "x");
  WriteFile(dir.File("KQK/ALL0011.J00"), "x");  // another file: stays
  WriteFile(dir.File("KQK/RUN"), KqkRun(2, 600, 1, 2, "remove   KQK/ALL001\nend\n"));
  Outcome o = StubBuild(dir.path(), {"KQK"});
  EXPECT_EQ(o.status, 0) << o.console;
  EXPECT_EQ(o.calls, "3 4 5 900 901 902 ");
  EXPECT_FALSE(FileExists(dir.File("KQK/ALL001.JIX")) || FileExists(dir.File("KQK/ALL001.J00")));
  EXPECT_TRUE(FileExists(dir.File("KQK/ALL0011.J00")));
}

TEST(BuildDriver, BadRangesAndASecondBuildAreRefusedByZok) {
  const struct {
    const char *args, *message;
  } cases[] = {
      {"KQK abc", "-b KQK abc: lo must be a pass number, -1 or more"},
      {"KQK -2", "-b KQK -2: lo must be a pass number, -1 or more"},
      {"KQK 99999999999", "-b KQK 99999999999: lo must be a pass number, -1 or more"},
      {"KQK 1 ''", "-b KQK 1 : hi must be a pass number, -1 or more"},
      {"KQK -1 -5", "-b KQK -1 -5: hi must be a pass number, -1 or more"},
      {"KQK 3 1", "-b KQK 3 1: hi must not be below lo"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    RunResult r = RunZok(std::string("-b ") + c.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, Banner() + "\n\nERROR: Bad args: " + c.message + "\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << c.args;
  }
  ASSERT_EQ(StubBuild(dir.path(), {"KQK", "-1"}).status, 0);
  std::string run = ReadFile(dir.File("KQK/RUN")), lof = ReadFile(dir.File("KQK.LOF"));
  long holder = -1;
  // This process holds the lock from here on, as a running build would.
  ASSERT_EQ(PlatLockFile(dir.File("KQK/LOCK").c_str(), &holder), 0);
  for (const char* args : {"-b KQK", "-b kqk 1 3"}) {
    RunResult r = RunZok(args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, Banner() + "\n\nERROR: ExeBuild: KQK is being built by process " +
                            std::to_string(getpid()) + "\n");
  }
  EXPECT_EQ(ReadFile(dir.File("KQK/RUN")), run);
  EXPECT_EQ(ReadFile(dir.File("KQK.LOF")), lof);
}
