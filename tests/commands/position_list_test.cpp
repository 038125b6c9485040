#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "test_support.h"

namespace {

// KQK's databases, built once for the whole program.
class ListTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    ASSERT_EQ(RunZok("-b KQK", dir_->path()).status, 0);
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override { std::remove(dir_->File("OUT.LOG").c_str()); }
  static TempDir* dir_;
};
TempDir* ListTest::dir_ = nullptr;

// The seconds of the progress lines vary from run to run.
std::string MaskTime(const std::string& s) {
  return std::regex_replace(s, std::regex("  [0-9]{4}\\.[0-9]  "), "  SSSS.S  ");
}

TEST_F(ListTest, LongestWhiteMateIsListedWithItsBoard) {
  RunResult r = RunZok("-ll KQK 19", dir_->path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(MaskTime(r.output), Banner() +
                                    "\nPlies = 19\n"
                                    "\rFound = 0  SSSS.S  hashw o00000000"
                                    "\rFound = 1  SSSS.S  hashw o00003377\n");
  EXPECT_EQ(ReadFile(dir_->File("OUT.LOG")),
            "[game KQK_M010_001] [annotator hash o00000011 o00000045] [posj]\n"
            " . . . . . . . .\n"
            " . . . . . . . .\n"
            " . . . . . . . .\n"
            " . . . . . k . .\n"
            " . . . . . . . .\n"
            " . . . . . . . .\n"
            " . Q . . . . . .\n"
            " K . . . . . . .   w....\n\n");
}

TEST_F(ListTest, BlackToMoveUsesTheOtherDatabase) {
  RunResult r = RunZok("-ll KQK 20", dir_->path());
  EXPECT_EQ(r.status, 0);
  // KQK's black table has 10 rows of 4096 columns: a line every 64 rows,
  // so only the first and the last.
  EXPECT_EQ(MaskTime(r.output), Banner() +
                                    "\nPlies = 20\n"
                                    "\rFound = 0  SSSS.S  hashz o00000000"
                                    "\rFound = 8  SSSS.S  hashz o00000033\n");
  std::string log = ReadFile(dir_->File("OUT.LOG"));
  EXPECT_EQ(log.find("[game KQK_M010_001]"), 0u);
  EXPECT_NE(log.find("[game KQK_M010_008]"), std::string::npos);
  EXPECT_NE(log.find("   b....\n\n"), std::string::npos);
}

TEST_F(ListTest, AtMostAHundredGamesButEveryMatchCounted) {
  WriteFile(dir_->File("OUT.LOG"), "earlier\n");
  RunResult r = RunZok("-ll KQK 1", dir_->path());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("\rFound = 306  "), std::string::npos) << r.output;
  std::string log = ReadFile(dir_->File("OUT.LOG"));
  EXPECT_EQ(log.substr(0, 8), "earlier\n");
  size_t games = 0;
  for (size_t p = log.find("[game "); p != std::string::npos; p = log.find("[game ", p + 1)) {
    games++;
  }
  EXPECT_EQ(games, 100u);
  EXPECT_NE(log.find("[game KQK_M001_100]"), std::string::npos);
  EXPECT_EQ(log.find("[game KQK_M001_101]"), std::string::npos);
}

TEST_F(ListTest, CheckmatesAndEmptyCounts) {
  RunResult r = RunZok("-ll KQK 0", dir_->path());
  EXPECT_EQ(r.status, 0);
  EXPECT_GT(std::atoi(r.output.c_str() + r.output.rfind("Found = ") + 8), 0) << r.output;
  EXPECT_NE(ReadFile(dir_->File("OUT.LOG")).find("[game KQK_M000_001]"), std::string::npos);
  r = RunZok("-ll KQK 508", dir_->path());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.rfind("\rFound = 0  "), std::string::npos);
}

TEST_F(ListTest, Errors) {
  struct Case {
    const char* args;
    const char* message;
  };
  for (const Case& c : {Case{"-ll KQK", "ExeList: too few args"},
                        Case{"-ll KQK 509", "ExeList: plies oor"},
                        Case{"-ll KQK -1", "ExeList: plies oor"},
                        Case{"-ll KRK 3", "FresFind: KRK____W not found"}}) {
    RunResult r = RunZok(c.args, dir_->path());
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(r.output.substr(r.output.find("\n\nERROR")),
              std::string("\n\nERROR: ") + c.message + "\n")
        << c.args;
  }
}

}  // namespace
