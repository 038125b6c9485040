// Whole builds from the command line, checked byte for byte as recorded,
// against published endgame statistics, against one-move lookahead, and
// against themselves when stopped and resumed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "db_verify.h"
#include "test_support.h"

namespace {

const std::string& Dir() {
  static const std::string dir = BuiltDatabases({"KQK", "KRK", "KBK", "KNK", "KPK", "KQKR"});
  return dir;
}

// The count of the last "Found = N" that -ll printed.
long Found(const std::string& dir, const std::string& name, int plies) {
  RunResult r = RunZok("-ll " + name + " " + std::to_string(plies), dir);
  EXPECT_EQ(r.status, 0) << r.output;
  size_t p = r.output.rfind("Found = ");
  return p == std::string::npos ? -1 : std::atol(r.output.c_str() + p + 8);
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  return names;
}

// Any change to the build, the index or the codec that alters one byte of a
// database shows here; the index header's creation time is left out.
TEST(Built, DatabasesAreByteForByteAsRecorded) {
  const std::pair<const char*, uint64_t> files[] = {
      {"KQK____W.JIX", 0xa16b373828b0a62dull},  {"KQK____W.J00", 0x4dfabdfd11a2f1acull},
      {"KQK____B.JIX", 0x6e060fcdc75292f9ull},  {"KQK____B.J00", 0xc32f263f86e20b43ull},
      {"KRK____W.JIX", 0x3b6a605f8b97946bull},  {"KRK____W.J00", 0xe7ac212e998248acull},
      {"KRK____B.JIX", 0xcfe73384b6a2c8c9ull},  {"KRK____B.J00", 0xa359be8db0678db5ull},
      {"KPK____W.JIX", 0x7a295a3f88b4b95aull},  {"KPK____W.J00", 0x37b86d7670457bf8ull},
      {"KPK____B.JIX", 0x7716a10dbd622a0eull},  {"KPK____B.J00", 0x3e2b03cde194da4full},
      {"KQKR___W.JIX", 0xae97607244e76515ull},  {"KQKR___W.J00", 0xc6558074002e1c6aull},
      {"KQKR___B.JIX", 0xe9413cf26b176bceull},  {"KQKR___B.J00", 0x7f7b97618f73b86bull},
  };
  for (auto [file, hash] : files) {
    std::string bytes = ReadFile(Dir() + "/" + file);
    if (std::string(file).ends_with(".JIX") && bytes.size() >= 28) bytes.replace(24, 4, 4, 0);
    uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
    for (unsigned char c : bytes) h = (h ^ c) * 0x100000001b3ull;
    EXPECT_EQ(h, hash) << file;
  }
}

// The published counts of the longest wins (-1: some).
TEST(Built, LongestWinsMatchThePublishedCounts) {
  const struct {
    const char* name;
    int plies;
    long found;
  } cases[] = {
      {"KQK", 19, 1},   {"KQK", 20, 8},   {"KQK", 21, 0},   {"KQK", 22, 0},
      {"KRK", 31, 121}, {"KRK", 32, 390}, {"KRK", 33, 0},   {"KRK", 34, 0},
      {"KPK", 55, 3},   {"KPK", 56, 2},   {"KPK", 57, 0},   {"KPK", 58, 0},
      {"KBK", 0, 0},    {"KBK", 1, 0},    {"KNK", 0, 0},    {"KNK", 1, 0},
      {"KQKR", 69, -1}, {"KQKR", 71, 0},
  };
  for (const auto& c : cases) {
    long found = Found(Dir(), c.name, c.plies);
    EXPECT_TRUE(c.found < 0 ? found > 0 : found == c.found) << c.name << " " << c.plies << ": "
                                                              << found;
  }
}

TEST(Built, TestCleanAndLeaveOnlyRunAndLogsEndingWithTimeAndMaxes) {
  for (const char* name : {"KQK", "KRK", "KBK", "KNK", "KPK", "KQKR"}) {
    RunResult t = RunZok(std::string("-t ") + name, Dir());
    EXPECT_EQ(t.status, 0) << name << "\n" << t.output;
    EXPECT_EQ(Entries(Dir() + "/" + name), std::vector<std::string>{"RUN"}) << name;
    std::string log = ReadFile(Dir() + "/" + name + ".LOF");
    size_t time = log.rfind("\nTime ");
    ASSERT_NE(time, std::string::npos) << name;
    EXPECT_NE(log.find("\nMaxes:  0 Error", time), std::string::npos) << name;
    EXPECT_EQ(log.back(), '\n');
  }
  RunResult r = RunZok("-b KQK", Dir());
  EXPECT_EQ(r.output, Banner() + "\nExeBuild: KQK seems to be completed\n");
}

// Every value of the small databases, and a sample of KQKR's, follows from
// the values one legal move away.
TEST(Built, ValuesAgreeWithOneMoveLookahead) {
  ScopedCwd cwd(Dir());
  FresSetPath(nullptr);
  FresSetPath("./");
  for (const char* name : {"KQK", "KRK", "KPK", "KQKR"}) {
    for (bool white : {true, false}) {
      VerifyResult r = VerifyDatabase(name, white, name[3] == 'R' ? 40 : 1);
      EXPECT_GT(r.checked, 0) << name;
      EXPECT_EQ(r.wrong, 0) << name << " " << white << ": " << r.first_wrong;
    }
  }
}

// Runs `zok -b name` in dir once per kill: waits until RUN records the
// given pass, lets the next pass run for the given time, and kills the build
// with SIGKILL. Then finishes the build with one more plain run.
void BuildWithKills(const std::string& dir, const std::string& name,
                    const std::vector<std::pair<int, int>>& kills) {
  for (auto [after_pass, delay_ms] : kills) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(99);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      execl(ZOK_EXE, ZOK_EXE, "-b", name.c_str(), static_cast<char*>(nullptr));
      _exit(98);
    }
    int status;
    for (int i = 0; i < 60000 && pid > 0; i++) {
      std::string text = ReadFile(dir + "/" + name + "/RUN");
      size_t p = text.find("passdone");
      if (p != std::string::npos && std::atoi(text.c_str() + p + 8) >= after_pass) break;
      if (waitpid(pid, &status, WNOHANG) == pid) pid = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (pid < 0) continue;
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  RunResult r = RunZok("-b " + name, dir);
  ASSERT_EQ(r.status, 0) << r.output;
}

TEST(Built, StoppedBuildsResumeToIdenticalDatabases) {
  TempDir other;
  for (const char* file : {"KQK____W.JIX", "KQK____W.J00", "KQK____B.JIX", "KQK____B.J00"}) {
    std::filesystem::copy_file(Dir() + "/" + file, other.File(file));
  }
  // Stops inside pass -1, inside pass 0, in the middle of the iteration, at
  // the end of the iteration (pass 71 is KQKR's last), and inside the packing
  // passes 901 and 902.
  BuildWithKills(other.path(), "KQKR",
                 {{-2, 30}, {-1, 20}, {10, 15}, {31, 5}, {71, 0}, {900, 5}, {901, 40}});
  // Chunk files hold only the block records (the creation time is in the
  // index file): equal chunks mean equal data.
  for (const std::string db : {"KQKR___W.J00", "KQKR___B.J00"}) {
    EXPECT_EQ(ReadFile(other.File(db)), ReadFile(Dir() + "/" + db)) << db;
  }
  EXPECT_EQ(Entries(other.File("KQKR")), std::vector<std::string>{"RUN"});
}

// A stop right after RUN records pass 902 finds the closing lines already in
// the log, so that -sum counts the build.
TEST(StopAfterTheLastRecord, LeavesALogThatSumCounts) {
  TempDir dir;
  BuildWithKills(dir.path(), "KQK", {{902, 0}});
  std::string log = ReadFile(dir.File("KQK.LOF"));
  EXPECT_NE(log.find("\nMaxes:  ", log.find("\nTime ")), std::string::npos) << log;
  RunResult r = RunZok("-sum .", dir.path());
  EXPECT_NE(r.output.find("ALL : found                 1\n"), std::string::npos) << r.output;
}

// White with its king alone: rows of 64 entries, shorter than the blocks in
// which the exclusion files are merged, and captures into a bare-king ending
// that no database holds. It builds, and White never wins.
TEST(BareWhiteKing, BuildsToDatabasesWithoutWins) {
  TempDir dir;
  RunResult r = RunZok("-b KKQ", dir.path());
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("   Ply  -1  -1   File        150        150"), std::string::npos)
      << r.output;
  for (int plies : {0, 1, 2}) EXPECT_EQ(Found(dir.path(), "KKQ", plies), 0);
  EXPECT_EQ(RunZok("-t KKQ", dir.path()).status, 0);
}

}  // namespace
