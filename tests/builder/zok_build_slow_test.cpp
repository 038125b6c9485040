// The build tool that works out an endgame's prerequisites and builds them
// in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

RunResult ZokBuild(const std::string& args) {
  return RunShell("'" ZOK_SOURCE_DIR "/scripts/zok-build' --zok '" ZOK_EXE "' " + args);
}

// "endgame action" of each table line, up to the closing summary.
std::vector<std::string> Actions(const std::string& output) {
  std::istringstream in(output.substr(output.find('\n', output.find("endgame ")) + 1));
  std::vector<std::string> rows;
  std::string line, eg, action;
  while (std::getline(in, line) && line[0] == 'K') {
    std::istringstream(line) >> eg >> action;
    rows.push_back(eg + " " + action);
  }
  return rows;
}

TEST(ZokBuild, DryRunPrintsTheDependencyOrderAndRefusesBadOptions) {
  TempDir dir;
  // Plain: the order. --jobs: each endgame with its direct sub-endgames
  // (KQKR needs KQK only, though the whole tree lists KQK under KQRK).
  // --slurm: the jobs to submit and those they wait for.
  const std::string usage =
      "usage: zok-build [--dry-run] [--zok PATH] [--jobs N | --slurm] DIR NAME [NAME...] "
      "[-- SBATCH-OPTION...]\n";
  const struct {
    std::string options, names;
    int status;
    std::string output;
  } cases[] = {
      {"--dry-run", "KQRKR KPK", 0, "KQK\nKRK\nKQRK\nKQKR\nKRKR\nKQRKR\nKBK\nKNK\nKPK\n"},
      {"--jobs 2 --dry-run", "KQRKR KPK", 0,
       "KQK:\nKRK:\nKQRK: KQK KRK\nKQKR: KQK\nKRKR: KRK\nKQRKR: KQRK KQKR KRKR\nKBK:\nKNK:\n"
       "KPK: KQK KRK KBK KNK\n"},
      {"--slurm --dry-run", "KQRKR KPK", 0,
       "endgame  action    job\nKQK      submit\nKRK      submit\nKQRK     submit    after KQK KRK\n"
       "KQKR     submit    after KQK\nKRKR     submit    after KRK\n"
       "KQRKR    submit    after KQRK KQKR KRKR\nKBK      submit\nKNK      submit\n"
       "KPK      submit    after KQK KRK KBK KNK\n"},
      {"--jobs 0", "KQK", 2, "zok-build: --jobs needs a number from 1 to 999\n" + usage},
      {"--jobs 2 --slurm", "KQK", 2,
       "zok-build: --jobs and --slurm exclude each other\n" + usage},
      {"--jobs 2", "KQK -- -p x", 2, "zok-build: options after -- are for --slurm\n" + usage},
      {"", "KQXK", 1, "zok-build: KQXK is no endgame zok can build: MakeBasi: bad piece\n"},
  };
  for (const auto& c : cases) {
    RunResult r = ZokBuild(c.options + " " + dir.path() + " " + c.names);
    EXPECT_EQ(r.status, c.status) << c.options;
    EXPECT_EQ(r.output, c.output) << c.options;
  }
}

// Every database file of `dir`, the index files without their creation time.
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

// KRK stopped after pass 3 is resumed; the second run finds everything built.
TEST(ZokBuild, SequentialAndParallelRunsResumeSkipAndMakeTheSameDatabases) {
  TempDir seq, par;
  for (const TempDir* dir : {&seq, &par}) {
    const std::string jobs = dir == &par ? "--jobs 2 " : "";
    ASSERT_EQ(RunZok("-b KRK -1 3", dir->path()).status, 0);
    RunResult r = ZokBuild(jobs + dir->path() + " KQRK");
    ASSERT_EQ(r.status, 0) << r.output;
    // KQK and KRK need nothing: in parallel they may finish in either order.
    std::vector<std::string> rows = Actions(r.output);
    ASSERT_EQ(rows.size(), 3u) << r.output;
    std::sort(rows.begin(), rows.begin() + 2);
    EXPECT_EQ(rows, (std::vector<std::string>{"KQK built", "KRK resumed", "KQRK built"}));
    EXPECT_NE(r.output.find("   19   20         6825         5140\n"), std::string::npos);
    EXPECT_NE(r.output.find("ALL : found                 3"), std::string::npos) << r.output;
    r = ZokBuild(jobs + dir->path() + " KQRK");
    EXPECT_EQ(Actions(r.output),
              (std::vector<std::string>{"KQK exists", "KRK exists", "KQRK exists"}));
  }
  EXPECT_EQ(Databases(seq.path()).size(), 12u);
  EXPECT_TRUE(Databases(par.path()) == Databases(seq.path()));
}

// zok's message and status; make's own report of the failed recipe is left out.
TEST(ZokBuild, StopsAtTheFirstFailureWithZoksStatus) {
  for (const std::string jobs : {"", "--jobs 2 "}) {
    TempDir dir;
    WriteFile(dir.File("KQK"), "a file where the work directory should go");
    RunResult r = ZokBuild(jobs + dir.path() + " KPK");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("zok-build: building KQK failed (zok exit status 1):\n"),
              std::string::npos) << r.output;
    EXPECT_NE(r.output.find("ERROR: ExeBuild: mkdir fail [KQK]: File exists\n"), std::string::npos);
    EXPECT_EQ(r.output.find("make"), std::string::npos) << r.output;
    EXPECT_FALSE(FileExists(dir.File("KPK.LOF")) || FileExists(dir.File("KQK.LOF")));
  }
}

}  // namespace
