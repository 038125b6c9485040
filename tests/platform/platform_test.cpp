#include "platform/platform.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "test_support.h"

namespace {

TEST(Platform, FindFilesMatchesLastComponentInByteOrder) {
  TempDir dir;
  for (const char* name : {"b.LOF", "A.LOF", "a.LOF", "c.LOG", "KQK.LOF"}) {
    WriteFile(dir.File(name), "x");
  }
  PlatMkdir(dir.File("d.LOF").c_str());  // a directory is not a log
  std::vector<std::string> names = PlatFindFiles((dir.path() + "/*.LOF").c_str());
  EXPECT_EQ(names, (std::vector<std::string>{"A.LOF", "KQK.LOF", "a.LOF", "b.LOF"}));
  EXPECT_TRUE(PlatFindFiles((dir.path() + "/nothing/*.LOF").c_str()).empty());
}

TEST(Platform, FileSizeAndLargeOffsets) {
  TempDir dir;
  std::string name = dir.File("big");
  FILE* f = PlatFopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  // Past 4 GB without writing that much: a sparse file.
  const int64_t far = (int64_t{5} << 30) + 7;
  ASSERT_EQ(PlatFseek(f, far), 0);
  ASSERT_EQ(PlatFwrite("z", 1, f), 1u);
  EXPECT_EQ(PlatFtell(f), far + 1);
  PlatFclose(f);
  EXPECT_EQ(PlatFileSize(name.c_str()), static_cast<double>(far + 1));
  EXPECT_EQ(PlatFileSize(dir.File("none").c_str()), -1);
}

TEST(Platform, KeyPollIsSilentWithoutATerminal) {
  // Under the test runner standard input is not a terminal (or is ignored):
  // the poll must not consume piped input.
  EXPECT_EXIT(
      {
        freopen("/dev/null", "r", stdin);
        exit(PlatKeyWaiting() ? 3 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}
// The soft limit of open files rises to the hard one, and the free count
// follows what is open. Run in a child: the limits are the process's.
int CheckFileLimit() {
  struct rlimit limit = {100, 200}, now;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 2;
  int before = PlatFilesFree();
  PlatRaiseFileLimit();
  getrlimit(RLIMIT_NOFILE, &now);
  int raised = PlatFilesFree();
  FILE* f = PlatFopen("/dev/null", "r");
  bool ok = now.rlim_cur == 200 && before > 80 && raised == before + 100 && f != nullptr &&
            PlatFilesFree() == raised - 1;
  return ok ? 0 : 3;
}

TEST(Platform, FileLimitRisesToTheHardOneAndFreeDescriptorsAreCounted) {
  EXPECT_EXIT(exit(CheckFileLimit()), ::testing::ExitedWithCode(0), "");
}
}  // namespace
