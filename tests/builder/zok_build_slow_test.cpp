// The build tool that works out an endgame's prerequisites and builds them
// in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

RunResult ZokBuild(const std::string& args) {
  return RunShell("'" ZOK_SOURCE_DIR "/scripts/zok-build' --zok '" ZOK_EXE "' " + args);
}

// The first words of the table lines: endgame and action.
std::vector<std::string> Actions(const std::string& output) {
  std::vector<std::string> rows;
  size_t start = output.find("endgame ");
  if (start == std::string::npos) return rows;
  size_t p = output.find('\n', start) + 1;
  while (p < output.size() && output[p] == 'K') {
    size_t end = output.find('\n', p);
    std::string line = output.substr(p, end - p);
    std::string eg = line.substr(0, line.find(' '));
    size_t a = line.find_first_not_of(' ', eg.size());
    rows.push_back(eg + " " + line.substr(a, line.find(' ', a) - a));
    p = end + 1;
  }
  return rows;
}

TEST(ZokBuild, DryRunPrintsTheDependencyOrder) {
  TempDir dir;
  RunResult r = ZokBuild("--dry-run " + dir.path() + " KQRKR KPK");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "KQK\nKRK\nKQRK\nKQKR\nKRKR\nKQRKR\nKBK\nKNK\nKPK\n");
}

TEST(ZokBuild, BuildsPrerequisitesFirstAndSkipsWhatExists) {
  TempDir dir;
  RunResult r = ZokBuild(dir.path() + " KRK");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Actions(r.output), (std::vector<std::string>{"KRK built"}));
  EXPECT_NE(r.output.find("KRK      built           0"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("  31   32         7741         5932"), std::string::npos) << r.output;

  r = ZokBuild(dir.path() + " KPK");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Actions(r.output), (std::vector<std::string>{"KQK built", "KRK exists", "KBK built",
                                                         "KNK built", "KPK built"}));
  // The closing summary of every log in the directory.
  EXPECT_NE(r.output.find("ALL : found                 5"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("ALL : max ply          55, 56"), std::string::npos) << r.output;

  r = ZokBuild(dir.path() + " KPK");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Actions(r.output), (std::vector<std::string>{"KQK exists", "KRK exists",
                                                         "KBK exists", "KNK exists",
                                                         "KPK exists"}));
}

TEST(ZokBuild, ResumesAnInterruptedBuild) {
  TempDir dir;
  // Passes -1 to 3 only, as a stopped build would leave them.
  ASSERT_EQ(RunZok("-b KQK -1 3", dir.path()).status, 0);
  RunResult r = ZokBuild(dir.path() + " KQK");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Actions(r.output), (std::vector<std::string>{"KQK resumed"}));
  EXPECT_NE(r.output.find("  19   20         6825         5140"), std::string::npos) << r.output;
}

TEST(ZokBuild, StopsAtTheFirstFailureWithZoksStatus) {
  TempDir dir;
  WriteFile(dir.File("KRK"), "a file where the work directory should go");
  RunResult r = ZokBuild(dir.path() + " KPK");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Actions(r.output), (std::vector<std::string>{"KQK built"}));
  EXPECT_NE(r.output.find("zok-build: building KRK failed (zok exit status 1):"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("ERROR: ExeBuild: mkdir fail [KRK]: File exists\n"), std::string::npos)
      << r.output;
  EXPECT_FALSE(FileExists(dir.File("KPK.LOF")));

  r = ZokBuild(dir.path() + " KQXK");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "zok-build: KQXK is no endgame zok can build: MakeBasi: bad piece\n");
}

}  // namespace
