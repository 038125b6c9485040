// Whole builds against recorded bytes, published counts, one-move lookahead and
// themselves when stopped and resumed, also run by zok-build in parallel or in sequence.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_support.h"

namespace {

const std::string& Dir() {
  static const std::string dir = BuiltDatabases({"KQK", "KRK", "KBK", "KNK", "KPK", "KKQ", "KQKR"});
  return dir;
}

// The count of the last "Found = N" that -ll printed.
long Found(const std::string& dir, const std::string& name, int plies) {
  RunResult r = RunZok("-ll " + name + " " + std::to_string(plies), dir);
  EXPECT_EQ(r.status, 0) << r.output;
  size_t p = r.output.rfind("Found = ");
  return p == std::string::npos ? -1 : std::atol(r.output.c_str() + p + 8);
}

// FNV-1a hashes of the databases as recorded, the index header's creation
// time left out: any change to the build, the index or the codec that alters
// one byte of them shows here.
const std::pair<const char*, uint64_t> kRecorded[] = {
    {"KQK____W.JIX", 0xa16b373828b0a62dull},  {"KQK____W.J00", 0x4dfabdfd11a2f1acull},
    {"KQK____B.JIX", 0x6e060fcdc75292f9ull},  {"KQK____B.J00", 0xc32f263f86e20b43ull},
    {"KRK____W.JIX", 0x3b6a605f8b97946bull},  {"KRK____W.J00", 0xe7ac212e998248acull},
    {"KRK____B.JIX", 0xcfe73384b6a2c8c9ull},  {"KRK____B.J00", 0xa359be8db0678db5ull},
    {"KPK____W.JIX", 0x7a295a3f88b4b95aull},  {"KPK____W.J00", 0x37b86d7670457bf8ull},
    {"KPK____B.JIX", 0x7716a10dbd622a0eull},  {"KPK____B.J00", 0x3e2b03cde194da4full},
    {"KKQ____W.JIX", 0x9b7b373556565959ull},  {"KKQ____W.J00", 0xdb9ece3a05e9e023ull},
    {"KKQ____B.JIX", 0x6252fe0364d87919ull},  {"KKQ____B.J00", 0xdb9ece3a05e9e023ull},
    {"KQKR___W.JIX", 0xae97607244e76515ull},  {"KQKR___W.J00", 0xc6558074002e1c6aull},
    {"KQKR___B.JIX", 0xe9413cf26b176bceull},  {"KQKR___B.J00", 0x7f7b97618f73b86bull},
};

void ExpectRecorded(const std::string& dir, size_t from = 0, size_t to = std::size(kRecorded)) {
  for (size_t i = from; i < to; i++) {
    std::string bytes = ReadFile(dir + "/" + kRecorded[i].first);
    if (i % 2 == 0 && bytes.size() >= 28) bytes.replace(24, 4, 4, 0);
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) h = (h ^ c) * 0x100000001b3ull;
    EXPECT_EQ(h, kRecorded[i].second) << dir << "/" << kRecorded[i].first;
  }
}

TEST(Built, DatabasesAreByteForByteAsRecorded) { ExpectRecorded(Dir()); }

// The published counts of the longest wins from ply `first` on (-1: some), in databases
// that pass -t. KKQ has rows of 64 entries and captures into a bare-king ending.
TEST(Built, LongestWinsMatchThePublishedCounts) {
  const struct {
    const char* name;
    int first;
    std::vector<long> found;
  } cases[] = {{"KQK", 19, {1, 8, 0, 0}}, {"KRK", 31, {121, 390, 0, 0}},
               {"KPK", 55, {3, 2, 0, 0}}, {"KBK", 0, {0, 0}},
               {"KNK", 0, {0, 0}},        {"KQKR", 69, {-1, -1, 0, 0}},
               {"KKQ", 0, {0, 0, 0}}};
  for (const auto& c : cases) {
    EXPECT_EQ(RunZok(std::string("-t ") + c.name, Dir()).status, 0) << c.name;
    for (size_t i = 0; i < c.found.size(); i++) {
      long found = Found(Dir(), c.name, c.first + i);
      EXPECT_TRUE(c.found[i] < 0 ? found > 0 : found == c.found[i]) << c.name << " " << c.first + i;
    }
  }
}

// Every value follows from the values one legal move away, as -verify
// finds them with the full move generator and the probing library.
TEST(Built, ValuesAgreeWithOneMoveLookahead) {
  for (const char* name : {"KQK", "KRK", "KPK", "KKQ", "KQKR"}) {
    RunResult r = RunZok(std::string("-verify ") + name, Dir());
    EXPECT_EQ(r.status, 0) << name << r.output;
  }
}

// Runs `zok -b name` in dir once per kill: waits until RUN records the
// given pass, lets the next pass run for the given seconds, and kills the
// build with SIGKILL. The killed runs use `threads` threads; one more plain
// run with one thread finishes the build.
void BuildWithKills(const std::string& dir, const std::string& name,
                    const std::vector<std::pair<int, const char*>>& kills, int threads) {
  for (auto [after_pass, delay] : kills) {
    RunShell("ZOK_THREADS=" + std::to_string(threads) + " '" ZOK_EXE "' -b " + name +
             " </dev/null >/dev/null & p=$!; until [ \"$(awk "
             "'$1==\"passdone\"{print $2}' " + name + "/RUN 2>/dev/null)\" -ge " +
             std::to_string(after_pass) + " ] 2>/dev/null || ! kill -0 $p 2>/dev/null; do :; done; "
             "sleep " + delay + "; kill -9 $p; wait $p", dir);
  }
  RunResult r = RunZok("-b " + name, dir, "", 1);
  ASSERT_EQ(r.status, 0) << r.output;
}

// The databases and RUN (but its time, cstotal) are the same whatever the
// number of threads.
TEST(Built, EveryThreadCountBuildsTheSameDatabases) {
  std::string first;
  for (int threads : {1, 2, 3}) {
    TempDir dir;
    CopyDatabases(BuiltDatabases({"KQK"}), dir.path());
    RunResult r = RunZok("-b KQKR", dir.path(), "", threads);
    ASSERT_EQ(r.status, 0) << threads << " threads\n" << r.output;
    ExpectRecorded(dir.path(), 16);
    std::string run = ReadFile(dir.File("KQKR/RUN"));
    size_t time = run.find("cstotal"), end = run.find('\n', time);
    ASSERT_NE(end, std::string::npos) << run;
    run.erase(time, end - time);
    if (first.empty()) first = run;
    EXPECT_EQ(run, first) << threads << " threads";
  }
}

TEST(Built, StoppedBuildsResumeToIdenticalDatabases) {
  TempDir other;
  CopyDatabases(BuiltDatabases({"KQK"}), other.path());
  // Stops in passes -1 and 0, in and at the end (71) of the iteration, in 901 and 902,
  // and right after RUN records 902, with two threads; one thread finishes.
  BuildWithKills(other.path(), "KQKR",
                 {{-2, ".03"}, {-1, ".02"}, {10, ".015"}, {31, ".005"}, {71, "0"}, {900, ".005"},
                  {901, ".04"}, {902, "0"}},
                 2);
  ExpectRecorded(other.path(), 16);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(other.File("KQKR")), {}), 1);
  EXPECT_TRUE(FileExists(other.File("KQKR/RUN")));
  // The log's closing lines come before that record, so that -sum counts the build.
  std::string log = ReadFile(other.File("KQKR.LOF"));
  EXPECT_NE(log.find("\nMaxes:  ", log.find("\nTime ")), std::string::npos) << log;
  RunResult r = RunZok("-sum .", other.path());
  EXPECT_NE(r.output.find("ALL : found                 1\n"), std::string::npos) << r.output;
}

RunResult ZokBuild(const std::string& args) {
  return RunShell("'" ZOK_SOURCE_DIR "/scripts/zok-build' --zok '" ZOK_EXE "' " + args);
}

// A directory is made only without --dry-run and only where its parent is.
TEST(ZokBuild, DryRunPrintsTheDependencyOrderAndRefusesBadOptions) {
  TempDir dir;
  // --jobs lists direct sub-endgames only (KQKR needs KQK only); --slurm the jobs.
  const std::string usage =
      "usage: zok-build [--dry-run] [--zok PATH] [--jobs N | --slurm] DIR NAME [NAME...] "
      "[-- SBATCH-OPTION...]\n";
  const struct {
    std::string options, names;  // names after DIR, which they may extend
    int status;
    std::string output;
  } cases[] = {
      {"--dry-run", "/new KQRKR KPK", 0, "KQK\nKRK\nKQRK\nKQKR\nKRKR\nKQRKR\nKBK\nKNK\nKPK\n"},
      {"--jobs 2 --dry-run", " KQRKR", 0,
       "KQK:\nKRK:\nKQRK: KQK KRK\nKQKR: KQK\nKRKR: KRK\nKQRKR: KQRK KQKR KRKR\n"},
      {"--slurm --dry-run", "/new KQKR", 0,
       "endgame  action    job\nKQK      submit\nKQKR     submit    after KQK\n"},
      {"--jobs 0", " KQK", 2, "zok-build: --jobs needs a number from 1 to 999\n" + usage},
      {"--jobs 2", " KQK -- -p x", 2, "zok-build: options after -- are for --slurm\n" + usage},
      {"", " KQXK", 1, "zok-build: KQXK is no endgame zok can build: MakeBasi: bad piece\n"},
      {"--dry-run", "/no/such KQK", 2,
       "zok-build: " + dir.File("no/such") + ": the directory " + dir.File("no") + " does not exist\n"},
      {"", "/no/such KQK", 2,
       "zok-build: " + dir.File("no/such") + ": the directory " + dir.File("no") + " does not exist\n"},
  };
  for (const auto& c : cases) {
    RunResult r = ZokBuild(c.options + " " + dir.path() + c.names);
    EXPECT_EQ(r.status, c.status) << c.options;
    EXPECT_EQ(r.output, c.output) << c.options;
  }
  EXPECT_FALSE(FileExists(dir.File("new")) || FileExists(dir.File("no")));
}

// The zok of the first run starts a second run, which is refused with the first run's
// process id before it writes anything; a zok -b running apart is reported with zok's
// own message.
TEST(ZokBuild, OneRunAtATimeInADirectory) {
  TempDir dir;
  WriteFile(dir.File("zok"), "#!/bin/bash\n[ \"$1\" = -b ] && [ -z \"$NESTED\" ] || exec '" ZOK_EXE "' \"$@\"\n"
            "NESTED=1 '" ZOK_SOURCE_DIR "/scripts/zok-build' --zok '" ZOK_EXE "' " + dir.File("d") +
            " KQK 2>&1 | sed \"s/ $PPID\\$/ FIRST/\"\nexit 3\n");
  std::filesystem::permissions(dir.File("zok"), std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  RunResult r = ZokBuild("--zok " + dir.File("zok") + " " + dir.File("d") + " KQK");
  EXPECT_EQ(r.status, 3);
  const std::string head = "endgame  action       time_s plyW plyZ  white_bytes  black_bytes\n";
  EXPECT_EQ(r.output, head + "zok-build: building KQK failed (zok exit status 3):\n  zok-build: " +
                          dir.File("d") + " is being built by process FIRST\n");
  EXPECT_EQ(ReadFile(dir.File("d/zok-build.lock")), "");  // emptied at the end
  std::filesystem::create_directory(dir.File("d/KQK"));
  long holder = 0;
  ASSERT_EQ(PlatLockFile(dir.File("d/KQK/LOCK").c_str(), &holder), 0);
  r = ZokBuild(dir.File("d") + " KQK");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, head + "zok-build: building KQK failed (zok exit status 1):\n  " + Banner() +
                          "\n  \n  ERROR: ExeBuild: KQK is being built by process " +
                          std::to_string(getpid()) + "\n");
}

// KRK stopped after pass 3 is resumed; the second run finds everything built; a failure
// stops the run with zok's message and status, without make's own report.
TEST(ZokBuild, RunsResumeSkipMakeTheRecordedDatabasesAndStopAtAFailure) {
  for (const std::string jobs : {"", "--jobs 2 "}) {
    TempDir dir, failing;
    ASSERT_EQ(RunZok("-b KRK -1 3", dir.path()).status, 0);
    RunResult r = ZokBuild(jobs + dir.path() + " KPK");
    ASSERT_EQ(r.status, 0) << r.output;
    // The table lines in any order: in parallel the first four may finish so.
    for (const char* row : {"KBK      built", "KNK      built", "KQK      built",
                            "KRK      resumed", "KPK      built", "ALL : found                 5",
                            "   19   20         6825         5140\n"}) {
      EXPECT_NE(r.output.find(row), std::string::npos) << row << r.output;
    }
    ExpectRecorded(dir.path(), 0, 12);
    r = ZokBuild(jobs + dir.path() + " KPK");
    EXPECT_EQ(r.output.find("built"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("KPK      exists"), std::string::npos) << r.output;
    WriteFile(failing.File("KQK"), "a file where the work directory should go");
    r = ZokBuild(jobs + failing.path() + " KPK");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("zok-build: building KQK failed (zok exit status 1):\n"),
              std::string::npos) << r.output;
    EXPECT_NE(r.output.find("ERROR: ExeBuild: mkdir fail [KQK]: File exists\n"), std::string::npos);
    EXPECT_EQ(r.output.find("make"), std::string::npos) << r.output;
    EXPECT_FALSE(FileExists(failing.File("KPK.LOF")) || FileExists(failing.File("KQK.LOF")));
  }
}

}  // namespace
