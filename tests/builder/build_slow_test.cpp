// Whole builds from the command line, checked against published endgame
// statistics and against themselves when stopped and resumed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "db_verify.h"
#include "test_support.h"

namespace {

// The databases every test here reads, built once for the executable.
const std::string& Dir() {
  static const std::string dir = BuiltDatabases({"KQK", "KRK", "KBK", "KNK", "KPK", "KQKR"});
  return dir;
}

// The count of the last "Found = N" that -ll printed.
long Found(const std::string& dir, const std::string& name, int plies) {
  RunResult r = RunZok("-ll " + name + " " + std::to_string(plies), dir);
  EXPECT_EQ(r.status, 0) << r.output;
  size_t p = r.output.rfind("Found = ");
  if (p == std::string::npos) return -1;
  return std::atol(r.output.c_str() + p + 8);
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
    if (c.found < 0) {
      EXPECT_GT(found, 0) << c.name << " " << c.plies;
    } else {
      EXPECT_EQ(found, c.found) << c.name << " " << c.plies;
    }
  }
}

TEST(Built, TestCleanAndLeaveOnlyRunAndLogsEndingWithTimeAndMaxes) {
  for (const char* name : {"KQK", "KRK", "KBK", "KNK", "KPK", "KQKR"}) {
    RunResult t = RunZok(std::string("-t ") + name, Dir());
    EXPECT_EQ(t.status, 0) << name << "\n" << t.output;
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(Dir() + "/" + name)) {
      left.push_back(e.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"RUN"}) << name;
    std::string log = ReadFile(Dir() + "/" + name + ".LOF");
    size_t time = log.rfind("\nTime ");
    ASSERT_NE(time, std::string::npos) << name;
    EXPECT_NE(log.find("\nMaxes:  0 Error", time), std::string::npos) << name;
    EXPECT_EQ(log.back(), '\n');
  }
  RunResult r = RunZok("-b KQK", Dir());
  EXPECT_EQ(r.status, 0);
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
    // Wait until RUN records `after_pass`, then let the next pass run a while.
    std::string run = dir + "/" + name + "/RUN";
    for (int i = 0; i < 60000; i++) {
      std::string text = ReadFile(run);
      size_t p = text.find("passdone");
      if (p != std::string::npos && std::atoi(text.c_str() + p + 8) >= after_pass) break;
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (pid < 0) continue;
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
  }
  RunResult r = RunZok("-b " + name, dir);
  ASSERT_EQ(r.status, 0) << r.output;
}

TEST(Built, StoppedBuildsResumeToIdenticalDatabases) {
  TempDir other;
  for (const char* sub : {"KQK____W", "KQK____B"}) {
    for (const char* ext : {".JIX", ".J00"}) {
      std::filesystem::copy_file(Dir() + "/" + sub + ext, other.File(std::string(sub) + ext));
    }
  }
  // Stops inside pass -1, inside pass 0, in the middle of the iteration, at
  // the end of the iteration (pass 71 is KQKR's last), and inside the packing
  // passes 901 and 902.
  BuildWithKills(other.path(), "KQKR",
                 {{-2, 30}, {-1, 20}, {10, 15}, {31, 5}, {71, 0}, {900, 5}, {901, 40}});
  // Chunk files hold only the block records (the creation time is in the
  // index file): equal chunks mean equal data.
  for (const char* db : {"KQKR___W", "KQKR___B"}) {
    EXPECT_EQ(ReadFile(other.File(std::string(db) + ".J00")),
              ReadFile(Dir() + "/" + db + ".J00"))
        << db;
  }
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(other.File("KQKR"))) {
    left.push_back(e.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"RUN"});
}

// A stop right after RUN records pass 902 finds the closing lines already in
// the log, so that -sum counts the build.
TEST(StopAfterTheLastRecord, LeavesALogThatSumCounts) {
  TempDir dir;
  BuildWithKills(dir.path(), "KQK", {{902, 0}});
  std::string log = ReadFile(dir.File("KQK.LOF"));
  size_t time = log.find("\nTime ");
  ASSERT_NE(time, std::string::npos) << log;
  EXPECT_NE(log.find("\nMaxes:  ", time), std::string::npos) << log;
  RunResult r = RunZok("-sum .", dir.path());
  EXPECT_NE(r.output.find("ALL : found                 1\n"), std::string::npos) << r.output;
}

}  // namespace

namespace {

// White with its king alone: rows of 64 entries, shorter than the blocks in
// which the exclusion files are merged, and captures into a bare-king ending
// that no database holds. It builds, and White never wins.
TEST(BareWhiteKing, BuildsToDatabasesWithoutWins) {
  TempDir dir;
  RunResult r = RunZok("-b KKQ", dir.path());
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("   Ply  -1  -1   File        150        150"),
            std::string::npos)
      << r.output;
  for (int plies : {0, 1, 2}) EXPECT_EQ(Found(dir.path(), "KKQ", plies), 0);
  EXPECT_EQ(RunZok("-t KKQ", dir.path()).status, 0);
}

}  // namespace
