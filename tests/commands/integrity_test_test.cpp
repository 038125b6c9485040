#include "commands/integrity_test.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "frontend/checked_ops.h"
#include "jar/jar_file.h"
#include "test_support.h"

namespace {

constexpr uint32_t kKqk = 0100000000;  // one white queen
constexpr uint32_t kKpk = 01;          // one white pawn
constexpr uint32_t kWtm = 0x40000000;

// A finished database as the packers leave it: value bytes and the stamp.
void WriteDatabase(const std::string& path, int entries, uint32_t content) {
  JILE* h = JarWopen(path.c_str(), kCodeDefault);
  ASSERT_NE(h, nullptr);
  for (int i = 0; i < entries; i++) ASSERT_GE(JarPutc((i / 61) % 5 == 0 ? 0 : (i * 7 / 13) % 40, h), 0);
  ASSERT_EQ(JarSetCreator(h, "zok-test", 301, JarTag("DTM3"), static_cast<int32_t>(content)), 0);
  ASSERT_EQ(JarClose(h), 0);
}

double DiskBytes(const std::string& dir, const std::string& stem) {
  double total = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename().string().rfind(stem + ".J", 0) == 0) total += double(e.file_size());
  return total;
}

std::string WithoutTimes(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(\(\d+\.\d s\))"), "(T s)");
}

std::string Report(const std::string& dir, const std::string& name, double length, const char* content,
                   int blocks) {
  const double size = DiskBytes(dir, name);
  char head[512];
  snprintf(head, sizeof head,
           "\n%s  [./%s.J*]\nlength    %.0f\nsize      %.0f = %.2f MB\n"
           "creator   [zok-test]   format 301\ncontent   DTM3   %s\n",
           name.c_str(), name.c_str(), length, size, size / 1048576, content);
  std::string text = head;
  for (int b = 0; b < blocks; b++) text += "\rblock     " + std::to_string(b) + " / " + std::to_string(blocks);
  return text + "   decompression test complete   (T s)\n";
}

TEST(ExeTest, ReportsBothDatabasesExactly) {
  TempDir dir;
  // 40960 entries: two blocks, the second one short.
  WriteDatabase(dir.File("KQK____W"), 40960, kKqk | kWtm);
  WriteDatabase(dir.File("KQK____B"), 40960, kKqk);
  RunResult r = RunZok("-t KQK", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(WithoutTimes(r.output), Banner() + Report(dir.path(), "KQK____W", 40960, "o10100000000", 2) +
                                        Report(dir.path(), "KQK____B", 40960, "o00100000000", 2));
  EXPECT_FALSE(FileExists(dir.File("OUT.LOS"))) << "no accounting outside a build";
}

TEST(ExeTest, MissingDatabasesAreReportedAndTheOtherSideStillTested) {
  TempDir dir;
  RunResult r = RunZok("-t KQK", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, Banner() + "\nKQK____W  not found\n\nKQK____B  not found\n");

  WriteDatabase(dir.File("KQK____B"), 40960, kKqk);
  r = RunZok("-t KQK", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(WithoutTimes(r.output), Banner() + "\nKQK____W  not found\n" +
                                        Report(dir.path(), "KQK____B", 40960, "o00100000000", 2));
}

TEST(ExeTest, DamageEndsTheTestWithTheCheckedOperationsMessage) {
  TempDir dir;
  JarSetFileBlocks(1);
  WriteDatabase(dir.File("KPK____W"), 131072, kKpk | kWtm);
  WriteDatabase(dir.File("KPK____B"), 131072, kKpk);
  JarSetFileBlocks(65536);
  const std::string chunk2 = dir.File("KPK____B.J02");
  const std::string good = ReadFile(chunk2);

  // A sampled byte of block 2 decoded differently than it was stored.
  std::vector<uint8_t> block(kBlockSize);
  memcpy(g_record, good.data() + 8, good.size() - 8);
  ASSERT_EQ(BlockDecode(static_cast<int>(good.size() - 8), block.data()), 1);
  block[4000] ^= 0x10;
  const int length = BlockEncode(block.data(), kCodeDefault);
  ASSERT_GT(length, 0);
  std::string bad = good.substr(0, 4);
  for (int i = 0; i < 4; i++) bad += static_cast<char>(length >> (8 * i));
  bad.append(reinterpret_cast<const char*>(g_record), static_cast<size_t>(length));
  WriteFile(chunk2, bad);
  RunResult r = RunZok("-t KPK", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("KPK____W  [./KPK____W.J*]"), std::string::npos) << "the white side passed first";
  const std::string end = "\rblock     2 / 4\n\nERROR: FileSeek: failed\n";
  ASSERT_GE(r.output.size(), end.size());
  EXPECT_EQ(r.output.substr(r.output.size() - end.size()), end);

  // An emptied chunk file fails the read; a missing one is already
  // caught by the size on disk.
  WriteFile(chunk2, good);
  WriteFile(dir.File("KPK____B.J03"), "");
  r = RunZok("-t KPK", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("\rblock     3 / 4\n\nERROR: FileSeek: failed\n"), std::string::npos) << r.output;
  std::filesystem::remove(dir.File("KPK____B.J03"));
  r = RunZok("-t KPK", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("KPK____B  [./KPK____B.J*]\nlength    131072\n\nERROR: ExeTest: disksize failed\n"),
            std::string::npos)
      << r.output;

  // A damaged index header.
  std::string index = ReadFile(dir.File("KPK____W.JIX"));
  index[16] = 0;  // version
  WriteFile(dir.File("KPK____W.JIX"), index);
  r = RunZok("-t KPK", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output.substr(Banner().size()),
            "\nKPK____W  [./KPK____W.J*]\n\nERROR: FileRopen: [./KPK____W] failed\n");
  EXPECT_TRUE(std::filesystem::directory_iterator(dir.path()) != std::filesystem::directory_iterator());
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().string().find(".LO"), std::string::npos) << "nothing logged: " << e.path();
}

TEST(ExeTest, NeedsABaseName) {
  TempDir dir;
  RunResult r = RunZok("-t", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, Banner() + "\n\nERROR: ExeTest: too few args\n");
}

TEST(PrintTag, PrintableBytesAsCharactersOthersInHex) {
  testing::internal::CaptureStdout();
  PrintTag(JarTag("DTM3"));
  PrintTag(0x7F20410A);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "DTM3\\x0AA \\x7F");
}

bool SameTerminal(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// zok -t on a pseudo-terminal with keys already typed: an ordinary key is
// consumed at the first poll, Ctrl+Q stops the test at the second, and the
// terminal is left in the mode it was found in.
TEST(ExeTest, CtrlQOnATerminalAbortsAndRestoresTheTerminal) {
  TempDir dir;
  WriteDatabase(dir.File("KPK____W"), 131072, kKpk | kWtm);
  WriteDatabase(dir.File("KPK____B"), 131072, kKpk);

  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave_name = ptsname(master);
  int slave = open(slave_name.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios before;
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  // A line-mode terminal with echo; only START is disabled so that the
  // Ctrl+Q typed before the program starts is not taken as flow control.
  before.c_lflag |= ICANON | ECHO;
  before.c_iflag |= IXON;
  before.c_cc[VSTART] = _POSIX_VDISABLE;
  before.c_cc[VMIN] = 3;
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  ASSERT_EQ(write(master, "x\x11", 2), 2);

  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    int tty = open(slave_name.c_str(), O_RDWR);
    if (tty < 0 || chdir(dir.path().c_str()) != 0) _exit(97);
    dup2(tty, 0);
    dup2(tty, 1);
    dup2(tty, 2);
    execl(ZOK_EXE, "zok", "-t", "KPK", static_cast<char*>(nullptr));
    _exit(96);
  }
  close(slave);
  std::string output;
  char buf[4096];
  for (;;) {
    pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) break;
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the program has gone
    output.append(buf, static_cast<size_t>(n));
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(output.find("\rblock     1 / 4\r\n\r\nERROR: Manual abort!\r\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("block     2"), std::string::npos) << output;
  termios after;
  ASSERT_EQ(tcgetattr(master, &after), 0);
  EXPECT_TRUE(SameTerminal(before, after));
  close(master);
}

}  // namespace
