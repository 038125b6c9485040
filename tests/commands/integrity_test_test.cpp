#include "commands/integrity_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
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

// The timings "(12.3 s)" as "(T s)".
std::string WithoutTimes(const std::string& text) {
  std::string out;
  size_t at = 0;
  for (size_t open; (open = text.find("   (", at)) != std::string::npos;) {
    size_t close = text.find(" s)", open);
    if (close == std::string::npos) break;
    out += text.substr(at, open + 4 - at) + "T";
    at = close;
  }
  return out + text.substr(at);
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

// zok -t on a terminal with keys already typed: an ordinary key is consumed
// at the first poll, Ctrl+Q stops the test at the second, and the terminal
// is left in the mode it was found in.
TEST(ExeTest, CtrlQOnATerminalAbortsAndRestoresTheTerminal) {
  TempDir dir;
  WriteDatabase(dir.File("KPK____W"), 131072, kKpk | kWtm);
  WriteDatabase(dir.File("KPK____B"), 131072, kKpk);
  TerminalRun run = RunZokOnTerminal(dir.path(), {"-t", "KPK"}, "x\x11");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("\rblock     1 / 4\r\n\r\nERROR: Manual abort!\r\n"), std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("block     2"), std::string::npos) << run.output;
  EXPECT_TRUE(run.restored);
}

}  // namespace
