// The build tool that works out an endgame's prerequisites and builds them
// in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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
  // Plain: the order. --jobs: each endgame with its direct sub-endgames
  // (KQKR needs KQK only, though the whole tree lists KQK under KQRK).
  // --slurm: the jobs to submit and those they wait for.
  const struct {
    std::string options, output;
  } cases[] = {
      {"--dry-run", "KQK\nKRK\nKQRK\nKQKR\nKRKR\nKQRKR\nKBK\nKNK\nKPK\n"},
      {"--jobs 2 --dry-run",
       "KQK:\nKRK:\nKQRK: KQK KRK\nKQKR: KQK\nKRKR: KRK\nKQRKR: KQRK KQKR KRKR\nKBK:\nKNK:\n"
       "KPK: KQK KRK KBK KNK\n"},
      {"--slurm --dry-run",
       "endgame  action    job\nKQK      submit\nKRK      submit\nKQRK     submit    after KQK KRK\n"
       "KQKR     submit    after KQK\nKRKR     submit    after KRK\n"
       "KQRKR    submit    after KQRK KQKR KRKR\nKBK      submit\nKNK      submit\n"
       "KPK      submit    after KQK KRK KBK KNK\n"},
  };
  for (const auto& c : cases) {
    RunResult r = ZokBuild(c.options + " " + dir.path() + " KQRKR KPK");
    EXPECT_EQ(r.status, 0) << c.options;
    EXPECT_EQ(r.output, c.output) << c.options;
  }
  const char* usage =
      "usage: zok-build [--dry-run] [--zok PATH] [--jobs N | --slurm] DIR NAME [NAME...] "
      "[-- SBATCH-OPTION...]\n";
  const struct {
    std::string options, output;
  } refused[] = {
      {"--jobs 0", "zok-build: --jobs needs a number from 1 to 999\n"},
      {"--jobs 2 --slurm", "zok-build: --jobs and --slurm exclude each other\n"},
      {"--jobs 2", "zok-build: options after -- are for --slurm\n"},
  };
  for (const auto& c : refused) {
    RunResult r = ZokBuild(c.options + " " + dir.path() + " KQK -- -p x");
    EXPECT_EQ(r.status, 2) << c.options;
    EXPECT_EQ(r.output, c.output + usage) << c.options;
  }
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

// Every database file of `dir`, the index files without their creation
// time (bytes 24 to 27), which differs between two builds.
std::vector<std::pair<std::string, std::string>> Databases(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    if (name.size() != 12 || name.compare(8, 2, ".J") != 0) continue;
    std::string bytes = ReadFile(e.path().string());
    if (name.ends_with(".JIX")) bytes.replace(24, 4, 4, '\0');
    files.emplace_back(name, bytes);
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(ZokBuild, ParallelBuildsEqualTheSequentialOnesAndResume) {
  TempDir seq, par;
  ASSERT_EQ(ZokBuild(seq.path() + " KQRK").status, 0);
  // KRK stopped after pass 3: the parallel run resumes it.
  ASSERT_EQ(RunZok("-b KRK -1 3", par.path()).status, 0);
  RunResult r = ZokBuild("--jobs 2 " + par.path() + " KQRK");
  ASSERT_EQ(r.status, 0) << r.output;
  // KQK and KRK run side by side and may finish in either order.
  std::vector<std::string> rows = Actions(r.output);
  ASSERT_EQ(rows.size(), 3u) << r.output;
  std::sort(rows.begin(), rows.begin() + 2);
  EXPECT_EQ(rows, (std::vector<std::string>{"KQK built", "KRK resumed", "KQRK built"}));
  EXPECT_NE(r.output.find("ALL : found                 3"), std::string::npos) << r.output;
  std::vector<std::pair<std::string, std::string>> want = Databases(seq.path());
  EXPECT_EQ(want.size(), 12u);
  EXPECT_TRUE(Databases(par.path()) == want);

  r = ZokBuild("--jobs 2 " + par.path() + " KQRK");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Actions(r.output),
            (std::vector<std::string>{"KQK exists", "KRK exists", "KQRK exists"}));
}

TEST(ZokBuild, ParallelRunStopsAtAFailureWithZoksStatus) {
  TempDir dir;
  WriteFile(dir.File("KQK"), "a file where the work directory should go");
  RunResult r = ZokBuild("--jobs 2 " + dir.path() + " KPK");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("zok-build: building KQK failed (zok exit status 1):"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("ERROR: ExeBuild: mkdir fail [KQK]: File exists"), std::string::npos) << r.output;
  // make's own report of the failed recipe is left out.
  EXPECT_EQ(r.output.find("make"), std::string::npos) << r.output;
  EXPECT_FALSE(FileExists(dir.File("KPK.LOF")));
  EXPECT_FALSE(FileExists(dir.File("KQK.LOF")));
}

}  // namespace
