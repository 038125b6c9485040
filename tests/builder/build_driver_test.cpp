#include "builder/build_driver.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "builder/values.h"
#include "support/checked_ops.h"
#include "support/console.h"
#include "builder/progress.h"
#include "app/dispatch.h"
#include "index/names.h"
#include "builder/work_names.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

// What the stub passes do. Each appends its name to "calls" in the current
// directory, so that the parent sees the order in which the driver ran them.
struct Script {
  int fail_at = 1000;        // this pass stops the build (fatal)
  int nothing_from = 5;      // iteration passes from here on find nothing
  int maxbcwply = -1;        // set by pass -1
  int maxbczply = -1;        // set by pass 0
  int defer_at = 1000;       // this pass leaves a file and defers its removal
};
Script g_script;

void Note(const char* what) {
  FILE* f = fopen("calls", "a");
  fprintf(f, "%s ", what);
  fclose(f);
  g_cstotal += 100;  // as each pass's progress line would
}

void MakeJar(const char* path, int bytes) {
  JILE* h = FileWopen(path);
  for (int i = 0; i < bytes; i++) FilePutc(i & 255, h);
  FileClose(h);
}

void StubWtm1() {
  Note("w1");
  if (g_script.fail_at == -1) OutError("Wtm1Create: stub stop");
  g_run.maxbcwply = g_script.maxbcwply;
  g_run.wmopen = 12345678901.0;
}
void StubWtm2() { Note("w2"); }
void StubZtm() {
  Note("z1");
  g_run.maxbczply = g_script.maxbczply;
}
void StubMates() { Note("zm"); }
void StubIter(int n) {
  char text[16];
  snprintf(text, sizeof text, "%d", n);
  Note(text);
  if (n == g_script.fail_at) OutError("WtmPass: stub stop");
  memset(&g_prog, 0, sizeof g_prog);
  g_prog.resolved_weighted = n < g_script.nothing_from ? 8 : 0;
  if (n < g_script.nothing_from) ((n & 1) != 0 ? g_run.maxsolw : g_run.maxsolz) = n;
  if (n == g_script.defer_at) {
    MakeJar(FlocName(kTagAll, n - 2), 10);
    RunDeferRemove(FlocName(kTagAll, n - 2));
    RunDeferRemove(FlocName(kTagAllF, n - 2));  // never made: no error
  }
}
void StubCleanup() {
  Note("900");
  if (g_script.fail_at == 900) OutError("PassCleanup: stub stop");
}
void StubPackW() {
  Note("901");
  MakeJar(FresName(g_basi.material | kWhiteToMove), 1000);
}
void StubPackZ() {
  Note("902");
  MakeJar(FresName(g_basi.material), 3000);
}

struct Outcome {
  int status;
  std::string console;
  std::string calls;
};

// The child's start as the program's entry point would make it.
void ChildStart(const std::string& dir) {
  if (chdir(dir.c_str()) != 0) _exit(99);
  if (freopen("console", "w", stdout) == nullptr) _exit(98);
  ExeInit();
}

// Runs ExeBuild with the stub passes in a child process in `dir`.
Outcome Build(const std::string& dir, std::vector<std::string> args, Script script = {}) {
  remove((dir + "/calls").c_str());
  remove((dir + "/console").c_str());
  pid_t pid = fork();
  if (pid == 0) {
    ChildStart(dir);
    g_script = script;
    g_build_passes = BuildPasses{StubWtm1, StubWtm2,    StubZtm,   StubMates, StubIter,
                                 StubIter, StubCleanup, StubPackW, StubPackZ};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    ExeBuild(static_cast<int>(argv.size()), argv.data());
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

const std::string kNoMaxes = "Maxes:  0 Error    0.0M Alloc    0 Fopen      0.0M Write\n";

class RunFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd_ = std::make_unique<ScopedCwd>(dir_.path());
    MakeBasi("KQKR", &g_basi);
    PlatMkdir("KQKR");
  }
  void TearDown() override { cwd_.reset(); }
  TempDir dir_;
  std::unique_ptr<ScopedCwd> cwd_;
};

}  // namespace

TEST_F(RunFileTest, FreshRecordIsWrittenLineByLine) {
  RunInit();
  RunWrite();
  EXPECT_EQ(ReadFile("KQKR/RUN"),
            "bname       KQKR\n"
            "passdone      -2\n"
            "maxbcwply     -1\n"
            "maxbczply     -1\n"
            "cstotal        0\n"
            "maxsolw       -1\n"
            "maxsolz       -1\n"
            "wmopen             0\n"
            "wnopen             0\n"
            "zmopen             0\n"
            "znopen             0\n"
            "end\n");
  EXPECT_FALSE(FileExists("KQKR/RUN.TMP"));
}

TEST_F(RunFileTest, RoundTripThroughRunRead) {
  RunInit();
  g_run.passdone = -1;
  g_run.maxbcwply = 17;
  g_run.maxbczply = 250;
  g_run.cstotal = 1234567;
  g_run.maxsolw = 69;
  g_run.maxsolz = 70;
  g_run.wmopen = 12345678901;
  g_run.wnopen = 98765432109;
  g_run.zmopen = 1;
  g_run.znopen = 8;
  RunWrite();
  EXPECT_EQ(ReadFile("KQKR/RUN"), RunText("KQKR", -1, 17, 250, 1234567, 69, 70, 12345678901,
                                          98765432109, 1, 8));
  RunState w = g_run;
  memset(&g_run, 0x55, sizeof g_run);
  ASSERT_EQ(RunRead(), 1);
  const RunState& r = g_run;
  EXPECT_STREQ(r.bname, w.bname);
  EXPECT_EQ(std::vector<int32_t>({r.passdone, r.maxbcwply, r.maxbczply, r.cstotal, r.maxsolw,
                                  r.maxsolz}),
            std::vector<int32_t>({w.passdone, w.maxbcwply, w.maxbczply, w.cstotal, w.maxsolw,
                                  w.maxsolz}));
  EXPECT_EQ(std::vector<double>({r.wmopen, r.wnopen, r.zmopen, r.znopen}),
            std::vector<double>({w.wmopen, w.wnopen, w.zmopen, w.znopen}));
}

TEST_F(RunFileTest, TheOlderFormWithoutEndLineReads) {
  EXPECT_EQ(RunRead(), 0);  // no file
  WriteFile("KQKR/RUN", RunText("KQKR", 7, 3, 4, 5, 6, 2, 1, 2, 3, 4, "") +
                            "\n"
                            "strange 5 6 7\n"             // unknown keys are ignored
                            "\tmaxsolz\t12 \r\n"
                            "wmopen 1e3\n"
                            "passdone 9\n"                // a later line wins
                            "remove KQKR/ALL007\n");
  ASSERT_EQ(RunRead(), 1);
  EXPECT_EQ(std::vector<int32_t>({g_run.passdone, g_run.passnext, g_run.maxsolz}),
            std::vector<int32_t>({9, 10, 12}));
  EXPECT_EQ(g_run.wmopen, 1000);
  EXPECT_EQ(RunPendingRemovals(), 1);
}

TEST_F(RunFileTest, DeferredRemovalsAreRecordedWithThePassThenDone) {
  RunInit();
  g_run.passdone = 5;
  JILE* h = FileWopen("KQKR/ALL003");
  FileClose(h);
  RunDeferRemove("KQKR/ALL003");
  RunDeferRemove("KQKR/ALLF003");  // already gone
  RunWrite();
  std::string recorded = ReadFile("KQKR/RUN");
  EXPECT_NE(recorded.find("\nremove   KQKR/ALL003\nremove   KQKR/ALLF003\n"), std::string::npos);
  // A stop here leaves the list in RUN: reading it back brings it along.
  ASSERT_EQ(RunRead(), 1);
  EXPECT_EQ(RunPendingRemovals(), 2);
  RunCompleteRemovals();
  EXPECT_FALSE(JarExists("KQKR/ALL003"));
  EXPECT_EQ(RunPendingRemovals(), 0);
  EXPECT_EQ(ReadFile("KQKR/RUN"), RunText("KQKR", 5, -1, -1, 0, -1, -1, 0, 0, 0, 0));
}

TEST_F(RunFileTest, AFailedCreateIsFatal) {
  memset(&g_basi, 0, sizeof g_basi);
  strcpy(g_basi.name, "NODIR");
  EXPECT_FATAL(RunWrite(), "RunWrite: create fail [NODIR/RUN.TMP]: No such file or directory");
}

class BuildTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& f) const { return dir_.File(f); }
  TempDir dir_;
};

TEST_F(BuildTest, TooFewArguments) {
  Outcome o = Build(dir_.path(), {});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.console, "\n\nERROR: ExeBuild: too few args\n");
}

TEST_F(BuildTest, AFreshBuildRunsEveryPassAndRecordsEachOne) {
  Outcome o = Build(dir_.path(), {"kqk"});
  ASSERT_EQ(o.status, 0) << o.console;
  EXPECT_EQ(o.calls, "w1 w2 z1 zm 1 2 3 4 5 900 901 902 ");
  EXPECT_EQ(ReadFile(Path("KQK/RUN")),
            RunText("KQK", 902, -1, -1, 1200, 3, 4, 12345678901, 0, 0, 0));
  ScopedCwd cwd(dir_.path());
  double sizew = FileSize("KQK____W"), sizez = FileSize("KQK____B");
  char time[128];
  snprintf(time, sizeof time, "\nTime %8.1f   Ply %3d %3d   File %10.0f %10.0f\n", 12.0, 3, 4,
           sizew, sizez);
  // A line end before the passes, one after each of passes -1, 0 and 900.
  std::string head = "\n\n\n\n" + std::string(time);
  ASSERT_EQ(o.console.substr(0, head.size()), head);
  EXPECT_EQ(o.console.substr(head.size(), 16), "Maxes:  0 Error ");
  std::string lof = ReadFile("KQK.LOF");
  EXPECT_EQ(lof.substr(0, 80 + 3 + strlen(time)), Banner() + "\n\n\n\n" + time);
  EXPECT_EQ(ReadFile("KQK.LOG"), Banner() + "\n\n\n\n");
  std::string los = ReadFile("KQK.LOS");
  EXPECT_EQ(los.substr(0, 80), Banner() + "\n");
  EXPECT_NE(los.find("// #[ pass  -1 : ////"), std::string::npos);
  EXPECT_NE(los.find("pass 902 endwrite"), std::string::npos);
  EXPECT_EQ(los.find("pass   6"), std::string::npos);
}

TEST_F(BuildTest, ACompletedBuildIsLeftAlone) {
  ASSERT_EQ(Build(dir_.path(), {"KQK"}).status, 0);
  std::string run = ReadFile(Path("KQK/RUN")), lof = ReadFile(Path("KQK.LOF"));
  Outcome o = Build(dir_.path(), {"KQK", "1", "3"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.console, "\nExeBuild: KQK seems to be completed\n");
  EXPECT_EQ(o.calls, "");
  EXPECT_EQ(ReadFile(Path("KQK/RUN")), run);
  EXPECT_EQ(ReadFile(Path("KQK.LOF")), lof);
}

TEST_F(BuildTest, AStoppedBuildResumesAtTheFailedPassWithoutChecks) {
  Script stop;
  stop.fail_at = 3;
  Outcome o = Build(dir_.path(), {"KQK"}, stop);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.calls, "w1 w2 z1 zm 1 2 3 ");
  EXPECT_EQ(ReadFile(Path("KQK/RUN")),
            RunText("KQK", 2, -1, -1, 600, 1, 2, 12345678901, 0, 0, 0));
  // The resumed build does not check the databases again.
  WriteFile(Path("KQK____W.JIX"), "");
  o = Build(dir_.path(), {"KQK"});
  EXPECT_EQ(o.status, 0) << o.console;
  EXPECT_EQ(o.calls, "3 4 5 900 901 902 ");
  EXPECT_EQ(ReadFile(Path("KQK/RUN")),
            RunText("KQK", 902, -1, -1, 1200, 3, 4, 12345678901, 0, 0, 0));
}

TEST_F(BuildTest, AStopInPassMinusOneLeavesTheFreshRecord) {
  Script stop;
  stop.fail_at = -1;
  Outcome o = Build(dir_.path(), {"KQK"}, stop);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.console, "\n\n\nERROR: Wtm1Create: stub stop\n");
  EXPECT_EQ(ReadFile(Path("KQK/RUN")), RunText("KQK", -2, -1, -1, 0, -1, -1, 0, 0, 0, 0));
  o = Build(dir_.path(), {"KQK", "-1"});
  EXPECT_EQ(o.calls, "w1 w2 ");
  EXPECT_EQ(ReadFile(Path("KQK/RUN")),
            RunText("KQK", -1, -1, -1, 200, -1, -1, 12345678901, 0, 0, 0));
}

TEST_F(BuildTest, ExistingDatabasesStopAFreshBuildBeforeAnythingIsMade) {
  WriteFile(Path("KQKR___W.JIX"), "");
  Outcome o = Build(dir_.path(), {"KQKR"});
  EXPECT_EQ(o.status, 1);
  const char* again = ": remove KQKR___W.* and KQKR___B.* to build it again\n";
  EXPECT_EQ(o.console, "\n\nERROR: ExeBuild: ./KQKR___W already exists" + std::string(again));
  EXPECT_FALSE(FileExists(Path("KQKR")));
  // With only the black-to-move database the white side passes (its
  // sub-endgame KQK black to move is there) and the black side fails.
  remove(Path("KQKR___W.JIX").c_str());
  WriteFile(Path("KQKR___B.JIX"), "");
  WriteFile(Path("KQK____B.JIX"), "");
  o = Build(dir_.path(), {"KQKR"});
  EXPECT_EQ(o.console, "\n\nERROR: ExeBuild: ./KQKR___B already exists" + std::string(again));
  EXPECT_FALSE(FileExists(Path("KQKR")));
  EXPECT_FALSE(FileExists(Path("KQKR.LOF")));
}

TEST_F(BuildTest, AMissingSubEndgameNamesTheDependencyCommand) {
  Outcome o = Build(dir_.path(), {"kqkr"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.console,
            "\n\nTo view all children of KQKR : zok -d kqkr 1"
            "\n\nERROR: ExeBuild: sub-endgame KQK____B not found\n");
  EXPECT_FALSE(FileExists(Path("KQKR")));
  // Black capturing the queen leaves White a bare king: no database needed.
  WriteFile(Path("KQK____B.JIX"), "");
  o = Build(dir_.path(), {"kqkr", "-1"});
  EXPECT_EQ(o.status, 0) << o.console;
  EXPECT_EQ(o.calls, "w1 w2 ");
  EXPECT_TRUE(PlatIsDirectory(Path("KQKR").c_str()));
}

TEST_F(BuildTest, RangeRules) {
  ASSERT_EQ(Build(dir_.path(), {"KQK", "-1", "0"}).calls, "w1 w2 z1 zm ");
  Outcome o = Build(dir_.path(), {"KQK", "950"});
  EXPECT_EQ(o.calls, "");
  EXPECT_EQ(o.console, "\n" + kNoMaxes);
  EXPECT_EQ(Build(dir_.path(), {"KQK", "1", "3"}).calls, "1 2 3 ");
  EXPECT_EQ(Build(dir_.path(), {"KQK", "5"}).calls, "5 ");
  // The last pass run is the one recorded.
  EXPECT_EQ(ReadFile(Path("KQK/RUN")).substr(17, 17), "passdone       5\n");
  EXPECT_EQ(Build(dir_.path(), {"KQK", "899", "2000"}).calls, "899 900 901 902 ");
}

TEST_F(BuildTest, IterationStopsOnlyAfterBothConversionPlies) {
  Script s;
  s.nothing_from = 2;  // nothing new from pass 2 on
  s.maxbcwply = 7;
  s.maxbczply = 4;
  EXPECT_EQ(Build(dir_.path(), {"KQK"}, s).calls,
            "w1 w2 z1 zm 1 2 3 4 5 6 7 900 901 902 ");
  EXPECT_EQ(ReadFile(Path("KQK/RUN")).substr(17, 51),
            "passdone     902\nmaxbcwply      7\nmaxbczply      4\n");
}

TEST_F(BuildTest, DeferredRemovalsHappenAfterTheRecordAndOnResume) {
  Script s;
  s.defer_at = 3;
  s.fail_at = 4;
  Outcome o = Build(dir_.path(), {"KQK"}, s);
  EXPECT_EQ(o.status, 1);
  EXPECT_FALSE(FileExists(Path("KQK/ALL001.JIX")));
  EXPECT_EQ(ReadFile(Path("KQK/RUN")),
            RunText("KQK", 3, -1, -1, 700, 3, 2, 12345678901, 0, 0, 0));
  // A stop between the record and the removals: the resumed build removes
  // first, whatever range it is given.
  {
    ScopedCwd cwd(dir_.path());
    JILE* h = FileWopen("KQK/ALL001");
    FileClose(h);
  }
  // RUN in the older form, without the end line, reads as well.
  WriteFile(Path("KQK/RUN"), RunText("KQK", 3, -1, -1, 700, 3, 2, 12345678901, 0, 0, 0,
                                     "remove   KQK/ALL001\nremove   KQK/ALLF001\n"));
  o = Build(dir_.path(), {"KQK", "950"});
  EXPECT_EQ(o.status, 0) << o.console;
  EXPECT_FALSE(FileExists(Path("KQK/ALL001.JIX")));
  EXPECT_EQ(ReadFile(Path("KQK/RUN")),
            RunText("KQK", 3, -1, -1, 700, 3, 2, 12345678901, 0, 0, 0));
}

TEST_F(BuildTest, AMissingPassIsReported) {
  pid_t pid = fork();
  if (pid == 0) {
    ChildStart(dir_.path());
    g_build_passes = BuildPasses{};
    char name[] = "KQK";
    char* argv[] = {name};
    ExeBuild(1, argv);
    PlatExit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(ReadFile(Path("console")), "\n\n\nERROR: ExeBuild: pass -1 not available\n");
}

TEST_F(BuildTest, ADamagedRunIsRefusedAndRemovesNothing) {
  const std::string head = RunText("KQK", 3, -1, -1, 700, 3, 2, 0, 0, 0, 0, "");
  auto without = [&](const std::string& line) {
    std::string text = head;
    return text.erase(text.find(line), line.size());
  };
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
      {without("maxsolz        2\n"), "field maxsolz missing"},
      {replace("cstotal      700", "cstotal 7x0"), "field cstotal bad [cstotal 7x0]"},
      {replace("maxsolw        3", "maxsolw"), "field maxsolw bad [maxsolw]"},
      {replace("passdone       3", "passdone 903"), "field passdone bad [passdone 903]"},
      {replace("maxsolz        2", "maxsolz 900"), "field maxsolz bad [maxsolz 900]"},
      {replace("wmopen             0", "wmopen -1"), "field wmopen bad [wmopen -1]"},
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
  PlatMkdir(Path("KQK").c_str());
  WriteFile(Path("KQK____W.JIX"), "");
  WriteFile(Path("KQK/ALL001.JIX"), "");
  for (const auto& c : cases) {
    WriteFile(Path("KQK/RUN"), c.run);
    Outcome o = Build(dir_.path(), {"KQK"});
    EXPECT_EQ(o.status, 1) << c.run;
    EXPECT_EQ(o.console, "\n\nERROR: RunRead: [KQK/RUN] " + c.message +
                             ": remove the directory KQK to start the build over\n");
    EXPECT_EQ(o.calls, "");
    EXPECT_EQ(ReadFile(Path("KQK/RUN")), c.run);
    EXPECT_TRUE(FileExists(Path("KQK____W.JIX")) && FileExists(Path("KQK/ALL001.JIX")));
  }
}

TEST_F(BuildTest, BadRangeArgumentsWriteNothing) {
  const struct {
    const char *args, *message;
  } cases[] = {
      {"KQK abc", "-b KQK abc: lo must be a pass number, -1 or more"},
      {"KQK 5x", "-b KQK 5x: lo must be a pass number, -1 or more"},
      {"KQK -2", "-b KQK -2: lo must be a pass number, -1 or more"},
      {"KQK -99999", "-b KQK -99999: lo must be a pass number, -1 or more"},
      {"KQK 99999999999", "-b KQK 99999999999: lo must be a pass number, -1 or more"},
      {"KQK 1 ''", "-b KQK 1 : hi must be a pass number, -1 or more"},
      {"KQK -1 -5", "-b KQK -1 -5: hi must be a pass number, -1 or more"},
      {"KQK 3 1", "-b KQK 3 1: hi must not be below lo"},
  };
  for (const auto& c : cases) {
    RunResult r = RunZok(std::string("-b ") + c.args, dir_.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, Banner() + "\n\nERROR: Bad args: " + c.message + "\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path())) << c.args;
  }
}

// A pass that found nothing new sends the build to pass 900; a stop right
// after its record must not change the passes that follow.
TEST_F(BuildTest, TheStopAfterAnEmptyPassSurvivesAStop) {
  Script s;
  s.fail_at = 900;
  EXPECT_EQ(Build(dir_.path(), {"KQK"}, s).calls, "w1 w2 z1 zm 1 2 3 4 5 900 ");
  EXPECT_EQ(ReadFile(Path("KQK/RUN")),
            RunText("KQK", 5, -1, -1, 900, 3, 4, 12345678901, 0, 0, 0,
                    "passnext     900\nend\n"));
  Outcome o = Build(dir_.path(), {"KQK"});
  EXPECT_EQ(o.status, 0) << o.console;
  EXPECT_EQ(o.calls, "900 901 902 ");
}

TEST_F(BuildTest, ASecondBuildOfTheSameEndgameIsRefused) {
  ASSERT_EQ(Build(dir_.path(), {"KQK", "-1"}).status, 0);
  std::string run = ReadFile(Path("KQK/RUN")), lof = ReadFile(Path("KQK.LOF"));
  long holder = -1;
  // This process holds the lock from here on, as a running build would.
  ASSERT_EQ(PlatLockFile(Path("KQK/LOCK").c_str(), &holder), 0);
  for (const char* args : {"-b KQK", "-b kqk 1 3"}) {
    RunResult r = RunZok(args, dir_.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, Banner() + "\n\nERROR: ExeBuild: KQK is being built by process " +
                            std::to_string(getpid()) + "\n");
  }
  EXPECT_EQ(ReadFile(Path("KQK/RUN")), run);
  EXPECT_EQ(ReadFile(Path("KQK.LOF")), lof);
}

// An index file too short to read (and its chunk file) named by a remove
// line is removed all the same, and the build goes on.
TEST_F(BuildTest, ADamagedDeferredRemovalDoesNotBlockTheResume) {
  ASSERT_EQ(Build(dir_.path(), {"KQK", "-1", "2"}).status, 0);
  WriteFile(Path("KQK/ALL001.JIX"), "");
  WriteFile(Path("KQK/ALL001.J00"), "x");
  WriteFile(Path("KQK/ALL0011.J00"), "x");  // another file: stays
  WriteFile(Path("KQK/RUN"), RunText("KQK", 2, -1, -1, 600, 1, 2, 0, 0, 0, 0,
                                     "remove   KQK/ALL001\nend\n"));
  Outcome o = Build(dir_.path(), {"KQK"});
  EXPECT_EQ(o.status, 0) << o.console;
  EXPECT_EQ(o.calls, "3 4 5 900 901 902 ");
  EXPECT_FALSE(FileExists(Path("KQK/ALL001.JIX")) || FileExists(Path("KQK/ALL001.J00")));
  EXPECT_TRUE(FileExists(Path("KQK/ALL0011.J00")));
}
