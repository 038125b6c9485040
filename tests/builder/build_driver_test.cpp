// The build driver with stub passes: pass order, RUN, resuming, removals, locks, refusals.
#include "builder/build_driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "builder/work_names.h"
#include "index/names.h"
#include "platform/platform.h"
#include "support/checked_ops.h"
#include "support/console.h"
#include "support/sha256.h"
#include "test_support.h"

namespace {

// What the stub passes do; each appends its name to "calls".
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

void Stub(Build& b, int n, const char* name) {
  FILE* f = fopen("calls", "a");
  fprintf(f, "%s ", name);
  fclose(f);
  b.prog.cstotal += 100;
  if (n == g_script.fail_at) OutError("%s: stub stop", n == -1 ? "Wtm1Create" : "WtmPass");
  if (n == -1) b.run.wmopen = 12345678901.0, b.run.maxbcwply = g_script.maxbcwply;
  if (n == 0) b.run.maxbczply = g_script.maxbczply;
  if (n == kPassPackWtm) MakeJar(FresName(b.basi.material | kWhiteToMove).c_str(), 1000);
  if (n == kPassPackZtm) MakeJar(FresName(b.basi.material).c_str(), 3000);
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
// clang-format off
constexpr BuildPasses kStubs{
    [](Build& b) { Stub(b, -1, "w1"); }, [](Build& b) { Stub(b, -10, "w2"); },
    [](Build& b) { Stub(b, 0, "z1"); },  [](Build& b) { Stub(b, -10, "zm"); },
    StubIter, StubIter, [](Build& b) { Stub(b, kPassCleanup, "900"); },
    [](Build& b) { Stub(b, kPassPackWtm, "901"); }, [](Build& b) { Stub(b, kPassPackZtm, "902"); }};
// clang-format on

struct Outcome {
  int status;
  std::string console, calls;
};

// ExeBuild with `passes` in a child process in `dir`, started as main starts it.
Outcome StubBuild(const std::string& dir, std::vector<std::string> args, Script script = {},
                  const BuildPasses& passes = kStubs) {
  std::filesystem::remove(dir + "/calls");
  RunResult r = RunInChild(dir, [&] {
    const SearchPath search = ExeInit();
    g_script = script;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    ExeBuild(search, static_cast<int>(argv.size()), argv.data(), passes);
    PlatExit(0);
  });
  return {r.status, r.output, ReadFile(dir + "/calls")};
}

// RUN of a KQK build as written; with tail "" in the older form without the end line.
std::string RunText(int passdone, int cs, int solw, int solz, const char* tail = "end\n",
                    double wm = 12345678901, int maxbcw = -1, int maxbcz = -1) {
  char text[512];
  snprintf(text, sizeof text,
           "bname        KQK\npassdone     %3d\nmaxbcwply    %3d\nmaxbczply    %3d\n"
           "cstotal  %7d\nmaxsolw      %3d\nmaxsolz      %3d\nwmopen   %11.0f\n"
           "wnopen             0\nzmopen             0\nznopen             0\n%s",
           passdone, maxbcw, maxbcz, cs, solw, solz, wm, tail);
  return text;
}
const std::string kNoMaxes = "\nMaxes:  0 Error    0.0M Alloc    0 Fopen      0.0M Write\n";

}  // namespace

TEST(BuildDriver, AFreshBuildRunsEveryPassAndLogsIt) {
  TempDir dir;
  Outcome o = StubBuild(dir.path(), {"kqk"});
  ASSERT_EQ(o.status, 0) << o.console;
  EXPECT_EQ(o.calls, "w1 w2 z1 zm 1 2 3 4 5 900 901 902 ");
  EXPECT_EQ(ReadFile(dir.File("KQK/RUN")), RunText(902, 1200, 3, 4));
  EXPECT_EQ(ReadFile(dir.File("KQK.LOF")), Banner() + o.console);
  EXPECT_EQ(ReadFile(dir.File("KQK.LOG")), Banner() + "\n\n\n\n");
  o = StubBuild(dir.path(), {"KQK", "1", "3"});
  EXPECT_EQ(o.console + o.calls, "\nExeBuild: KQK seems to be completed\n");
}

// Builds run one after another in one directory: which passes each runs,
// and what RUN holds after it.
TEST(BuildDriver, PassSequencesStopsAndResumes) {
  const Script stop3{.fail_at = 3}, stop_first{.fail_at = -1}, stop900{.fail_at = 900};
  const Script late{.nothing_from = 2, .maxbcwply = 7, .maxbczply = 4};
  const Script deferred{.fail_at = 4, .defer_at = 3};
  const std::string done = RunText(902, 1200, 3, 4);
  const char* next900 = "passnext     900\nend\n";
  struct Step {
    std::vector<std::string> args;
    Script script;
    int status;
    std::string calls, run, console;  // run and console: "" for unchecked
    std::string before = "";          // RUN written before the step, when given
  };
  // clang-format off
  const std::vector<std::vector<Step>> cases = {
      // The resumed build starts at the failed pass.
      {{{"KQK"}, stop3, 1, "w1 w2 z1 zm 1 2 3 ", RunText(2, 600, 1, 2), ""},
       {{"KQK"}, {}, 0, "3 4 5 900 901 902 ", done, ""}},
      {{{"KQK"}, stop_first, 1, "w1 ", RunText(-2, 0, -1, -1, "end\n", 0),
        "\n\n\nERROR: Wtm1Create: stub stop\n"},
       {{"KQK", "-1"}, {}, 0, "w1 w2 ", RunText(-1, 200, -1, -1), ""}},
      // The last pass run is the one recorded.
      {{{"KQK", "-1", "0"}, {}, 0, "w1 w2 z1 zm ", "", ""},
       {{"KQK", "1", "3"}, {}, 0, "1 2 3 ", "", ""},
       {{"KQK", "5"}, {}, 0, "5 ", RunText(5, 800, 3, 2, next900), ""},
       {{"KQK", "899", "2000"}, {}, 0, "899 900 901 902 ", "", ""}},
      // The iteration stops only after both sides' conversion plies.
      {{{"KQK"}, late, 0, "w1 w2 z1 zm 1 2 3 4 5 6 7 900 901 902 ",
        RunText(902, 1400, 1, -1, "end\n", 12345678901, 7, 4), ""}},
      // An empty pass sends the build to 900, also after a stop past its record.
      {{{"KQK"}, stop900, 1, "w1 w2 z1 zm 1 2 3 4 5 900 ", RunText(5, 900, 3, 4, next900), ""},
       {{"KQK"}, {}, 0, "900 901 902 ", done, ""}},
      // Deferred removals come after the record, or first thing on resume, whatever the
      // range; RUN in the older form, without the end line, reads as well.
      {{{"KQK"}, deferred, 1, "w1 w2 z1 zm 1 2 3 4 ", RunText(3, 700, 3, 2), ""},
       {{"KQK", "950"}, {}, 0, "", RunText(3, 700, 3, 2), kNoMaxes,
        RunText(3, 700, 3, 2, "remove   KQK/ALL001\nremove   KQK/ALLF001\n")}},
      // Unknown keys are left alone, blanks and CR are no matter, a later line wins.
      {{{"KQK", "-1"}, {}, 0, "w1 w2 ", "", ""},
       {{"KQK"}, {}, 0, "4 5 900 901 902 ", RunText(902, 1200, 1, 4, "end\n", 1000), "",
        RunText(2, 700, 1, 2, "") + "\nstrange 5 6 7\n\tmaxsolz\t12 \r\nwmopen 1e3\npassdone 3\n"
                                "remove KQK/ALL001\n"}},
  };
  // clang-format on
  for (size_t i = 0; i < cases.size(); i++) {
    TempDir dir;
    for (const Step& s : cases[i]) {
      if (i == 0 && s.status == 0) WriteFile(dir.File("KQK____W.JIX"), "");  // not checked again
      if (!s.before.empty()) {
        EXPECT_FALSE(FileExists(dir.File("KQK/ALL001.JIX")));
        // An index too short to read goes with its chunk files, those of a
        // large database too (chunk 0x13F, a split chunk's second file); a
        // file whose name only starts alike, or no chunk's name, stays.
        for (const char* f : {"ALL001.JIX", "ALL001.J00", "ALL001.J13F", "ALL001.J10000", "ALL0011.J00",
                              "ALL001.J013"}) {
          WriteFile(dir.File("KQK/") + f, "x");
        }
        WriteFile(dir.File("KQK/RUN"), s.before);
      }
      Outcome o = StubBuild(dir.path(), s.args, s.script);
      SCOPED_TRACE(testing::Message() << "case " << i << " " << s.calls);
      EXPECT_EQ(o.status, s.status) << o.console;
      EXPECT_EQ(o.calls, s.calls);
      EXPECT_EQ(s.run.empty() ? "" : ReadFile(dir.File("KQK/RUN")), s.run);
      EXPECT_EQ(s.console.empty() ? "" : o.console, s.console);
      EXPECT_TRUE(s.before.empty() ||
                  (FileExists(dir.File("KQK/ALL0011.J00")) && FileExists(dir.File("KQK/ALL001.J013"))));
    }
    for (const char* f : {"ALL001.JIX", "ALL001.J00", "ALL001.J13F", "ALL001.J10000"}) {
      EXPECT_FALSE(FileExists(dir.File("KQK/") + f)) << f;
    }
  }
}

// One case per check of RunRead.
TEST(BuildDriver, ADamagedRunIsRefusedAndRemovesNothing) {
  const std::string head = RunText(3, 700, 3, 2, "");
  auto replace = [&](const std::string& line, const std::string& by) {
    std::string text = head;
    return text.replace(text.find(line), line.size(), by);
  };
  const struct {
    std::string run, message;
  } cases[] = {
      {"\n \n", "is empty"},
      {replace("maxsolz        2\n", ""), "field maxsolz missing"},
      {replace("passdone       3", "passdone 903"), "field passdone bad [passdone 903]"},
      {replace("bname        KQK", "bname KQKR"), "field bname bad [bname KQKR]"},
      {head + "passnext 7\nend\n", "field passnext bad [passnext 7 after passdone 3]"},
      {head + "passnext 900\n", "end line missing"},
      {head + "remove   KQK/ALL", "last line cut short"},
      {head + "end\nremove KQK/ALL001\n", "line after the end line [remove KQK/ALL001]"},
      {head + "remove KQK/../KQK____W\n", "bad remove line [remove KQK/../KQK____W]"},
  };
  TempDir dir;
  PlatMkdir(dir.File("KQK").c_str());
  WriteFile(dir.File("KQK____W.JIX"), "");
  WriteFile(dir.File("KQK/ALL001.JIX"), "");
  for (const auto& c : cases) {
    WriteFile(dir.File("KQK/RUN"), c.run);
    Outcome o = StubBuild(dir.path(), {"KQK"});
    EXPECT_EQ(o.status, 1) << c.run;
    EXPECT_EQ(o.calls + o.console, "\n\nERROR: RunRead: [KQK/RUN] " + c.message +
                                       ": remove the directory KQK to start the build over\n");
    EXPECT_EQ(ReadFile(dir.File("KQK/RUN")), c.run);
    EXPECT_TRUE(FileExists(dir.File("KQK____W.JIX")) && FileExists(dir.File("KQK/ALL001.JIX")));
  }
}

// Refused before anything is made, or changed for a build that is running.
TEST(BuildDriver, RefusalsBeforeAnythingIsMade) {
  const std::string again = ": remove KQKR___W.* and KQKR___B.* to build it again";
  const std::string unbegun = ": KQK is not begun (no KQK/RUN), so lo must be -1, the first pass";
  const struct {
    std::string args;
    std::vector<std::string> files;  // made empty for the case
    std::string message;
  } cases[] = {{"", {}, "ExeBuild: too few args"},
               {"KQKR", {"KQKR___W.JIX"}, "ExeBuild: ./KQKR___W already exists" + again},
               {"KQK -2", {}, "Bad args: -b KQK -2: lo must be a pass number, -1 or more"},
               {"KQK 3 1", {}, "Bad args: -b KQK 3 1: hi must not be below lo"},
               {"kqk 0 3", {}, "Bad args: -b kqk 0 3" + unbegun},
               {"KQK 950", {}, "Bad args: -b KQK 950" + unbegun},
               {"KQK -1 903", {}, "Bad args: -b KQK -1 903: hi must be 902 at most, the last pass"}};
  TempDir dir;
  for (const auto& c : cases) {
    for (const std::string& f : c.files) WriteFile(dir.File(f), "");
    RunResult r = RunZok("-b " + c.args, dir.path());
    for (const std::string& f : c.files) std::filesystem::remove(dir.File(f));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, Banner() + "\n\nERROR: " + c.message + "\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << c.args;
  }
  for (const char* epoch : {"1e9", "-1", "2147483648", ""}) {
    RunResult r =
        RunShell(std::string("SOURCE_DATE_EPOCH=") + epoch + " '" ZOK_EXE "' -b KQK", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, Banner() +
                            "\n\nERROR: ExeBuild: SOURCE_DATE_EPOCH must be a number of "
                            "seconds from 0 to 2147483647, not [" +
                            epoch + "]\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << epoch;
  }
  ASSERT_EQ(StubBuild(dir.path(), {"KQK", "-1"}).status, 0);
  // Black capturing the queen leaves White a bare king: no database needed.
  WriteFile(dir.File("KQK____B.JIX"), "");
  EXPECT_EQ(StubBuild(dir.path(), {"kqkr", "-1"}).calls, "w1 w2 ");
  std::string run = ReadFile(dir.File("KQK/RUN")), lof = ReadFile(dir.File("KQK.LOF"));
  long holder = -1;
  // This process holds the lock from here on, as a running build would.
  ASSERT_EQ(PlatLockFile(dir.File("KQK/LOCK").c_str(), &holder), 0);
  RunResult r = RunZok("-b kqk 1 3", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, Banner() + "\n\nERROR: ExeBuild: KQK is being built by process " +
                          std::to_string(getpid()) + "\n");
  EXPECT_EQ(ReadFile(dir.File("KQK/RUN")) + ReadFile(dir.File("KQK.LOF")), run + lof);
}

// A build RUN records finished reports so only while both databases are
// there and sound; with both gone it builds again, otherwise it names what
// to remove.
TEST(BuildDriver, AFinishedBuildWithoutItsDatabasesIsNoSuccess) {
  const std::string remove = ": remove KQK____W.*, KQK____B.* and the directory KQK to build it again\n";
  const std::string all = "w1 w2 z1 zm 1 2 3 4 5 900 901 902 ";
  const struct {
    std::vector<std::string> removed;
    std::string damage_w;  // written as KQK____W.J00 after its checksum file
    int status;
    std::string console_start, calls;
  } cases[] = {
      {{}, "", 0, "\nExeBuild: KQK seems to be completed\n", ""},
      {{"KQK____W.JIX", "KQK____W.J00", "KQK____B.JIX", "KQK____B.J00"},
       "",
       0,
       "\nExeBuild: KQK/RUN records KQK finished, but KQK____W and KQK____B are missing: building "
       "it again\n\n",
       all},
      {{"KQK____B.JIX"},
       "",
       1,
       "\n\nERROR: ExeBuild: KQK/RUN records KQK finished, but KQK____B is missing" + remove,
       ""},
      {{},
       "x",
       1,
       "\n\nERROR: ExeBuild: KQK____W is damaged: KQK____W.J00 differs from KQK____W.SHA256" + remove,
       ""},
  };
  for (const auto& c : cases) {
    TempDir dir;
    ASSERT_EQ(StubBuild(dir.path(), {"KQK"}).calls, all);
    for (const std::string& f : c.removed) std::filesystem::remove(dir.File(f));
    if (!c.damage_w.empty()) {
      ChecksumWrite(dir.File("KQK____W").c_str());
      std::string j00 = ReadFile(dir.File("KQK____W.J00"));
      WriteFile(dir.File("KQK____W.J00"), j00.replace(j00.size() - 1, 1, c.damage_w));
    }
    // Built again, it starts with the first pass.
    if (c.calls == all) {
      EXPECT_NE(StubBuild(dir.path(), {"KQK", "5"})
                    .console.find(
                        "ERROR: Bad args: -b KQK 5: KQK is built again from the start (its databases "
                        "are gone), so lo must be -1, the first pass\n"),
                std::string::npos);
    }
    Outcome o = StubBuild(dir.path(), {"KQK"});
    EXPECT_EQ(o.status, c.status) << o.console;
    EXPECT_EQ(o.console.substr(0, c.console_start.size()), c.console_start);
    EXPECT_EQ(o.calls, c.calls);
    EXPECT_EQ(FileExists(dir.File("KQK____B.JIX")), c.removed.empty() || c.status == 0);
  }
}
