// Whole builds against recorded bytes, published counts, one-move lookahead and
// themselves when stopped and resumed, also run by zok-build in parallel or in sequence.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

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

// The databases, RUN (but its time, cstotal) and the resource log are the
// same whatever the number of threads, also with many more threads than the
// open-file limit (hard, so that raising the soft one cannot escape it)
// gives every thread readers for.
TEST(Built, EveryThreadCountBuildsTheSameDatabases) {
  std::string first_run, first_los;
  const struct {
    int threads, files;
  } cases[] = {{1, 0}, {3, 0}, {64, 256}, {256, 1024}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.threads << " threads, " << c.files << " files");
    TempDir dir;
    CopyDatabases(BuiltDatabases({"KQK"}), dir.path());
    std::string limit = c.files > 0 ? "ulimit -n " + std::to_string(c.files) + " && " : "";
    RunResult r = RunShell(limit + "ZOK_THREADS=" + std::to_string(c.threads) + " '" ZOK_EXE "' -b KQKR",
                           dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    ExpectRecorded(dir.path(), 16);
    std::string run = ReadFile(dir.File("KQKR/RUN"));
    size_t time = run.find("cstotal"), end = run.find('\n', time);
    ASSERT_NE(end, std::string::npos) << run;
    run.erase(time, end - time);
    std::string los = ReadFile(dir.File("KQKR.LOS"));
    if (first_run.empty()) first_run = run, first_los = los;
    EXPECT_EQ(run, first_run);
    EXPECT_EQ(los, first_los);
  }
}

// A build of KQK stopped right before one step of each kind (what it does to
// which kind of file) in each kind of pass, the steps as ZOK_STOP_AT=list
// numbers them with one thread, resumes with two threads to the recorded
// databases, leaving only RUN, and with the closing lines in its log.
TEST(Built, BuildsStoppedBeforeEveryKindOfStepResumeToIdenticalDatabases) {
  const std::string zok = "ZOK_THREADS=1 '" ZOK_EXE "' -b KQK";
  TempDir listed(true);
  RunResult list = RunShell("ZOK_STOP_AT=list " + zok + " 2>&1 >/dev/null", listed.path());
  ASSERT_EQ(list.status, 0) << list.output;
  // Each step's pass (-2 before the first), what it does, its file's kind, and its line.
  struct Step {
    int pass;
    std::string label, verb, file, line;
  };
  std::vector<Step> steps;
  int last_ply = 0;
  const std::regex step(R"(step (\d+) \((start|pass (-?\d+))\): (\S+) (\S+).*)");
  std::istringstream lines(list.output);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, step)) << line;
    ASSERT_EQ(std::stoi(m[1]), static_cast<int>(steps.size()) + 1) << line;
    const std::string name = m[5];
    const char* file = name.find("RUN") != std::string::npos    ? "RUN"
                       : name.find(".LO") != std::string::npos  ? "log"
                       : name.find("___") != std::string::npos  ? "database"
                       : name.find("LOCK") != std::string::npos ? "lock"
                       : name.find('/') != std::string::npos    ? "work file"
                                                                : "directory";
    steps.push_back({m[3].matched ? std::stoi(m[3]) : -2, m[2], m[4], file, line});
    if (steps.back().pass < 900) last_ply = std::max(last_ply, steps.back().pass);
  }
  // The first step of each kind in each kind of pass: odd and even passes
  // of the iteration alike, but for the first two and the last.
  std::map<std::string, std::string> first;
  for (const Step& s : steps) {
    bool alike = s.pass > 2 && s.pass < last_ply;
    first.emplace((alike ? s.pass % 2 ? "odd" : "even" : s.label) + " " + s.verb + " " + s.file,
                  s.line);
  }
  EXPECT_GT(steps.size(), 800u);
  EXPECT_GT(first.size(), 100u);
  for (const auto& [kind, line] : first) {
    SCOPED_TRACE(line);
    TempDir dir(true);
    RunResult r = RunShell("ZOK_STOP_AT=" + line.substr(5, line.find(' ', 5) - 5) + " " + zok +
                               " 2>&1 >/dev/null; echo \"status $?\"; ZOK_THREADS=2 '" ZOK_EXE
                               "' -b KQK >/dev/null; echo \"resumed $?\"",
                           dir.path());
    EXPECT_EQ(r.output, "ZOK_STOP_AT: stopped before " + line + "\nstatus 3\nresumed 0\n");
    ExpectRecorded(dir.path(), 0, 4);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("KQK")), {}), 1);
    EXPECT_TRUE(FileExists(dir.File("KQK/RUN")));
    std::string log = ReadFile(dir.File("KQK.LOF"));
    EXPECT_NE(log.find("\nMaxes:  ", log.find("\nTime ")), std::string::npos) << log;
  }
}

RunResult ZokBuild(const std::string& args) {
  return RunShell("'" ZOK_SOURCE_DIR "/scripts/zok-build' --zok '" ZOK_EXE "' " + args);
}

TEST(ZokBuild, DryRunPrintsTheDependencyOrderAndRefusesBadOptions) {
  TempDir dir;
  // --jobs lists direct sub-endgames only (KQKR needs KQK only); --slurm the jobs.
  const std::string usage =
      "usage: zok-build [--dry-run] [--zok PATH] [--jobs N | --slurm] DIR NAME [NAME...] "
      "[-- SBATCH-OPTION...]\n";
  const struct {
    std::string options, names;
    int status;
    std::string output;
  } cases[] = {
      {"--dry-run", "KQRKR KPK", 0, "KQK\nKRK\nKQRK\nKQKR\nKRKR\nKQRKR\nKBK\nKNK\nKPK\n"},
      {"--jobs 2 --dry-run", "KQRKR", 0,
       "KQK:\nKRK:\nKQRK: KQK KRK\nKQKR: KQK\nKRKR: KRK\nKQRKR: KQRK KQKR KRKR\n"},
      {"--slurm --dry-run", "KQKR", 0,
       "endgame  action    job\nKQK      submit\nKQKR     submit    after KQK\n"},
      {"--jobs 0", "KQK", 2, "zok-build: --jobs needs a number from 1 to 999\n" + usage},
      {"--jobs 2", "KQK -- -p x", 2, "zok-build: options after -- are for --slurm\n" + usage},
      {"", "KQXK", 1, "zok-build: KQXK is no endgame zok can build: MakeBasi: bad piece\n"},
  };
  for (const auto& c : cases) {
    RunResult r = ZokBuild(c.options + " " + dir.path() + " " + c.names);
    EXPECT_EQ(r.status, c.status) << c.options;
    EXPECT_EQ(r.output, c.output) << c.options;
  }
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
