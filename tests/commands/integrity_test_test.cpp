#include "commands/integrity_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/checked_ops.h"
#include "block_kinds.h"
#include "jar/jar_file.h"
#include "test_support.h"

namespace {

constexpr uint32_t kKqk = 0100000000;  // one white queen
constexpr uint32_t kKpk = 01;          // one white pawn
constexpr uint32_t kWtm = 0x40000000;

// A finished database as the packers leave it: value bytes and the stamp.
void WriteDatabase(const std::string& path, int entries, uint32_t content) {
  JILE* h = JarWopen(path.c_str(), kFlagDefault);
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
  r = RunZok("-t", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, Banner() + "\n\nERROR: ExeTest: too few args\n");

  WriteDatabase(dir.File("KQK____B"), 40960, kKqk);
  r = RunZok("-t KQK", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(WithoutTimes(r.output), Banner() + "\nKQK____W  not found\n" +
                                        Report(dir.path(), "KQK____B", 40960, "o00100000000", 2));
}

// Each damage to the black side's files, the white side being sound, ends
// the test with a message naming the database and what is wrong.
TEST(ExeTest, DamageEndsTheTestWithAMessageSayingWhatIsWrong) {
  TempDir dir;
  JarSetFileBlocks(1);
  WriteDatabase(dir.File("KPK____W"), 131072, kKpk | kWtm);
  WriteDatabase(dir.File("KPK____B"), 131072, kKpk);
  JarSetFileBlocks(65536);
  const std::string b = dir.File("KPK____B");
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char* ext : {".JIX", ".J00", ".J01", ".J02", ".J03"})
    saved.push_back({b + ext, ReadFile(b + ext)});
  const std::string index = saved[0].second;
  const std::string good = saved[3].second;  // block 2
  const std::string one = std::to_string(saved[2].second.size());
  const std::string cut = std::to_string(saved[2].second.size() - 1);
  const std::string longer = std::to_string(saved[2].second.size() + 1);

  // A sampled byte of block 2 decoded differently than it was stored.
  std::vector<uint8_t> block(kBlockSize);
  memcpy(g_record, good.data() + 8, good.size() - 8);
  ASSERT_EQ(BlockDecode(static_cast<int>(good.size() - 8), block.data()), 1);
  block[4000] ^= 0x10;
  const int length = BlockEncode(block.data(), kFlagDefault);
  ASSERT_GT(length, 0);
  std::string bad = good.substr(0, 4);
  for (int i = 0; i < 4; i++) bad += static_cast<char>(length >> (8 * i));
  bad.append(reinterpret_cast<const char*>(g_record), static_cast<size_t>(length));

  auto header = [&](int at, uint32_t value, size_t keep) {
    std::string ix = index.substr(0, keep);
    for (int i = 0; i < 4; i++) ix[at + i] = static_cast<char>(value >> (8 * i));
    WriteFile(b + ".JIX", ix);
  };
  const std::string layout = "\n\nERROR: ExeTest: layout failed [./KPK____B]: ";
  const std::string chunk = "chunk file ./KPK____B.J0";
  struct Case {
    std::function<void()> damage;
    std::string end;
  } cases[] = {
      {[&] { WriteFile(b + ".J02", bad); },
       "\rblock     2 / 4\n\nERROR: FileSeek: failed [./KPK____B]: bad CRC at block 2\n"},
      {[&] { WriteFile(b + ".J03", ""); },
       layout + chunk + "3 holds 0 bytes, the record of block 3 ends past them\n"},
      {[&] { std::filesystem::remove(b + ".J03"); }, layout + chunk + "3 missing\n"},
      {[&] { WriteFile(b + ".J01", saved[2].second + "x"); },
       layout + chunk + "1 holds " + longer + " bytes, its records end at " + one + "\n"},
      {[&] { WriteFile(b + ".J01", saved[2].second.substr(0, saved[2].second.size() - 1)); },
       layout + chunk + "1 holds " + cut + " bytes, the record of block 1 ends past them\n"},
      {[&] { WriteFile(b + ".J04", "x"); }, layout + "extra " + chunk + "4\n"},
      {[&] { header(4, 3, index.size()); },
       layout + "index file ./KPK____B.JIX holds 132 bytes, 3 blocks need 128\n"},
      {[&] { header(4, 5, index.size()); },
       layout + "index file ./KPK____B.JIX holds 132 bytes, 5 blocks need 136\n"},
      {[&] { header(4, 3, index.size() - 4); }, layout + "extra " + chunk + "3\n"},
      {[&] { header(8, 32767, index.size()); },
       "\n\nERROR: ExeTest: length failed [./KPK____B]: 131071 bytes, the endgame has 131072 entries\n"},
      {[&] { header(116 + 4, 5, index.size()); },
       layout + "index entry of block 1 is 0x00000005, its record is at 0 in ./KPK____B.J01\n"},
      {[&] { header(16, 0, index.size()); },
       "\n\nERROR: FileRopen: [./KPK____B] failed: incompatible version\n"},
      {[&] { WriteFile(b + ".JIX", ""); },
       "\n\nERROR: FileRopen: [./KPK____B] failed: unexpected end of file\n"},
      {[&] { WriteFile(b + ".JIX", index.substr(0, index.size() - 2)); },
       layout + "index file ./KPK____B.JIX holds 130 bytes, 4 blocks need 132\n"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(b + ".J04");
    for (const auto& [path, bytes] : saved) WriteFile(path, bytes);
    c.damage();
    RunResult r = RunZok("-t KPK", dir.path());
    EXPECT_EQ(r.status, 1) << c.end;
    EXPECT_NE(r.output.find("KPK____W  [./KPK____W.J*]"), std::string::npos) << "the white side passed first";
    // Header and layout faults are found before anything of the database is shown.
    const std::string end = (c.end[0] == '\r' ? "" : "\nKPK____B  [./KPK____B.J*]") + c.end;
    ASSERT_GE(r.output.size(), end.size());
    EXPECT_EQ(r.output.substr(r.output.size() - end.size()), end);
  }
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().string().find(".LO"), std::string::npos) << "nothing logged: " << e.path();
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
