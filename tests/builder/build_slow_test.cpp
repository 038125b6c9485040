// Whole builds against recorded bytes, published counts, one-move lookahead and
// themselves when stopped and resumed, also run by zok-build in parallel or in sequence.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/sha256.h"
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

// Every build here stamps its databases with the creation time 0, as the
// builds BuiltDatabases makes do, so that whole files compare.
const int g_epoch = setenv("SOURCE_DATE_EPOCH", "0", 1);

// KQRK: Black's conversions (capturing the queen or the rook) keep White
// winning, so a conversion falling due a ply early changes its values.
const std::string& KqrkDir() {
  static const std::string dir = BuiltDatabases({"KQK", "KRK", "KQRK"});
  return dir;
}

// SHA-256 of the databases as recorded, whole files with the index header
// (the README lists them): any change to the build, the index or the codec
// that alters one byte of them shows here.
const std::pair<const char*, const char*> kRecorded[] = {
    {"KQK____W.JIX", "52ad1519f404b040d5592ff0a28b57c357c60a5b7eb1d00096c5658a365d25cb"},
    {"KQK____W.J00", "afdc23dd9c5f8ba18d3eb2f65da9ff1cb0b6ade9219f77df50f3f33906c12331"},
    {"KQK____B.JIX", "437e25416ea4d9171032e61a114f896a5982629142b493278ca0809aee4d854b"},
    {"KQK____B.J00", "8cfa47de0e129c8c26768a8dc4a7001626f20269e868a31a419805df3c7c73b8"},
    {"KRK____W.JIX", "aaf93859551688b1c4edb4bc18112768cb88e1ec7618ee1211724c60fb78f499"},
    {"KRK____W.J00", "aad54e5650ab078b62df5ada60ac43f8277f1d4a38d7e97a6267bdbae73ba9fe"},
    {"KRK____B.JIX", "e0e708d65a153966d145ae95f457ca1773f7f49ede4f60d38ffa09fbe57dd0bd"},
    {"KRK____B.J00", "10cf9fc04ca6ec62ff71ad19e4ba8d05cafe8837391036e026f811a035b5f913"},
    {"KPK____W.JIX", "ca522bf30b1563a445ef2e7be3fdbb04341fd319599cafc9c0d0b325db22f870"},
    {"KPK____W.J00", "7f7338aa11ae2449bfaf24c59df2ebea29e23272b32d50764faa68cce0dc8401"},
    {"KPK____B.JIX", "ff55d2624f74a56657c482f385f098028a05480451c35ac9025b200725717eb9"},
    {"KPK____B.J00", "073594c8aff767f5dbbb516925224c16156b492943d1222b8cfc65d916f6b689"},
    {"KKQ____W.JIX", "3403f7b60f03ec4f68c91319555b476b5d4d64144187e9af04d3da8173e8f4cb"},
    {"KKQ____W.J00", "546a930a6c073c420fe97c0e4cd71b424540934977aab5ec463b1a44f6e03616"},
    {"KKQ____B.JIX", "5d04c8ef07001f77edfd350accbcc1ac17ba1ff03b857907c292d84016525520"},
    {"KKQ____B.J00", "546a930a6c073c420fe97c0e4cd71b424540934977aab5ec463b1a44f6e03616"},
    {"KQKR___W.JIX", "7452dcc06ea741472f80c9d73eb3873fa07b3116da4e61825ff248da6992e1e3"},
    {"KQKR___W.J00", "1204b14ebe9cddce4a1dd216e96b40ea9de010285c19c80c6d6484363f5d755a"},
    {"KQKR___B.JIX", "bf897076a8df2ca3dae81ee68f3f79cc1fe7475ee4b132b1c90a6e0bb373247f"},
    {"KQKR___B.J00", "c0a4e21fba7f7dc64fba724cca3e6630d683aeb7d685050d3ea47dc8421ef238"},
    {"KQRK___W.JIX", "5e851076aad90bc12e246eca096779994c3548f2112facd0176cbd2635e7a77b"},
    {"KQRK___W.J00", "38991f2911dc07f24b3382976f785524dc9b3c131adc0fbd37693cedf9c727d8"},
    {"KQRK___B.JIX", "01b5d1763eeda2033ee88518f190385c0011c3f3fe626552aa7cf0f2795d1535"},
    {"KQRK___B.J00", "197623b9dd31895b2199dc86e1bcf075b0cecc9d55d1588978e3c932f3f070c7"},
};
constexpr size_t kKqkr = 16, kKqrk = 20;

// The files from..to of the table, and the checksum file the build wrote
// beside each database, which sha256sum accepts.
void ExpectRecorded(const std::string& dir, size_t from = 0, size_t to = kKqrk) {
  for (size_t i = from; i < to; i++) {
    std::string hex, error;
    EXPECT_TRUE(Sha256File((dir + "/" + kRecorded[i].first).c_str(), &hex, &error)) << error;
    EXPECT_EQ(hex, kRecorded[i].second) << dir << "/" << kRecorded[i].first;
    if (i % 2 == 1) continue;
    const std::string db = std::string(kRecorded[i].first).substr(0, 8);
    const std::string lines = std::string(kRecorded[i + 1].second) + "  " + kRecorded[i + 1].first +
                              "\n" + kRecorded[i].second + "  " + kRecorded[i].first + "\n";
    EXPECT_EQ(ReadFile(dir + "/" + db + ".SHA256"), lines);
  }
  EXPECT_EQ(RunShell("sha256sum -c --quiet *.SHA256", dir).status, 0) << dir;
}

TEST(Built, DatabasesAreByteForByteAsRecorded) {
  ExpectRecorded(Dir());
  ExpectRecorded(KqrkDir(), 0, 8);
  ExpectRecorded(KqrkDir(), kKqrk, std::size(kRecorded));
}

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
    RunResult t = RunZok(std::string("-t ") + c.name, Dir());
    EXPECT_EQ(t.status, 0) << c.name;
    // Into a pipe the block count is a line a second, not a line a block (KQKR has 160).
    size_t lines = 0;
    for (size_t p = t.output.find("\nblock "); p != std::string::npos;
         p = t.output.find("\nblock ", p + 1)) {
      lines++;
    }
    EXPECT_LE(lines, 10u) << t.output;
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
  const struct { int threads, files; } cases[] = {{1, 0}, {3, 0}, {64, 256}, {256, 1024}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.threads << " threads, " << c.files << " files");
    TempDir dir;
    CopyDatabases(BuiltDatabases({"KQK"}), dir.path());
    std::string limit = c.files > 0 ? "ulimit -n " + std::to_string(c.files) + " && " : "";
    RunResult r = RunShell(limit + "ZOK_THREADS=" + std::to_string(c.threads) + " '" ZOK_EXE "' -b KQKR",
                           dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    ExpectRecorded(dir.path(), kKqkr);
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
    first.emplace((alike ? s.pass % 2 ? "odd" : "even" : s.label) + " " + s.verb + " " + s.file, s.line);
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
  WriteFile(dir.File("zok"), "#!/bin/bash\n[ \"$1\" = -b ] && [ -z \"$NESTED\" ] || exec '" ZOK_EXE
                             "' \"$@\"\n"
                             "NESTED=1 '" ZOK_SOURCE_DIR "/scripts/zok-build' --zok '" ZOK_EXE "' " +
                                 dir.File("d") + " KQK 2>&1 | sed \"s/ $PPID\\$/ FIRST/\"\nexit 3\n");
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
    for (const char* row :
         {"KBK      built", "KNK      built", "KQK      built", "KRK      resumed", "KPK      built",
          "ALL : found                 5", "   19   20         6825         5140\n"}) {
      EXPECT_NE(r.output.find(row), std::string::npos) << row << r.output;
    }
    ExpectRecorded(dir.path(), 0, 12);
    r = ZokBuild(jobs + dir.path() + " KPK");
    EXPECT_EQ(r.output.find("built"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("KPK      exists"), std::string::npos) << r.output;
    // A finished build whose databases are gone is built again, not resumed.
    RunShell("rm KBK____W.* KBK____B.*", dir.path());
    r = ZokBuild(jobs + dir.path() + " KBK");
    EXPECT_NE(r.output.find("KBK      built"), std::string::npos) << r.output;
    EXPECT_EQ(RunZok("-t KBK", dir.path()).status, 0);
    // A finished database that differs from its checksum file is no success.
    RunShell("printf x | dd of=KBK____B.J00 bs=1 seek=40 conv=notrunc 2>/dev/null", dir.path());
    r = ZokBuild(jobs + dir.path() + " KBK");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("ERROR: ExeBuild: KBK____B is damaged: "), std::string::npos) << r.output;
    RunShell("rm KBK____W.* KBK____B.*", dir.path());
    WriteFile(failing.File("KQK"), "a file where the work directory should go");
    r = ZokBuild(jobs + failing.path() + " KPK");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("zok-build: building KQK failed (zok exit status 1):\n"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("ERROR: ExeBuild: mkdir fail [KQK]: File exists\n"), std::string::npos);
    EXPECT_EQ(r.output.find("make"), std::string::npos) << r.output;
    EXPECT_FALSE(FileExists(failing.File("KPK.LOF")) || FileExists(failing.File("KQK.LOF")));
  }
}

}  // namespace
