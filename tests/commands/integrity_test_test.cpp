// -t, end to end: the report of sound databases, and each damage named.
#include "commands/integrity_test.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "jar/jar_file.h"
#include "test_support.h"

namespace {

constexpr uint32_t kKqk = 0100000000, kKpk = 01, kWtm = 0x40000000;

// A finished database as the packers leave it: value bytes and the stamp.
void WriteDatabase(const std::string& path, int entries, uint32_t content) {
  JILE* h = JarWopen(path.c_str(), kFlagDefault);
  ASSERT_NE(h, nullptr);
  for (int i = 0; i < entries; i++) JarPutc((i / 61) % 5 == 0 ? 0 : (i * 7 / 13) % 40, h);
  ASSERT_EQ(JarSetCreator(h, "zok-test", 301, JarTag("DTM3"), static_cast<int32_t>(content)), 0);
  ASSERT_EQ(JarClose(h), 0);
}

// The report of one sound side, its timing "(12.3 s)" as "(T s)".
std::string Report(const std::string& dir, const std::string& name, const char* content) {
  double size = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename().string().rfind(name + ".J", 0) == 0) size += double(e.file_size());
  char head[512];
  snprintf(head, sizeof head,
           "\n%s  [./%s.J*]\nlength    40960\nsize      %.0f = %.2f MB\n"
           "creator   [zok-test]   format 301\ncontent   DTM3   %s\n"
           "block     0 / 2\nblock     1 / 2   decompression test complete   (T s)\n",
           name.c_str(), name.c_str(), size, size / 1048576, content);
  return head;
}

// 40960 entries: two blocks, the second one short. A missing side is
// reported and the other still tested; nothing is accounted.
TEST(ExeTest, ReportsSoundAndMissingDatabasesExactly) {
  TempDir dir;
  WriteDatabase(dir.File("KQK____B"), 40960, kKqk);
  RunResult r = RunZok("-t KQK", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(std::regex_replace(r.output, std::regex("   \\([0-9.]+ s\\)"), "   (T s)"),
            Banner() + "\nKQK____W  not found\n" + Report(dir.path(), "KQK____B", "o00100000000"));
  EXPECT_FALSE(FileExists(dir.File("OUT.LOS")));
  r = RunZok("-t", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, Banner() + "\n\nERROR: ExeTest: too few args\n");
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
  const std::string index = saved[0].second, one = saved[2].second;

  auto header = [&](int at, uint32_t value, size_t keep) {
    std::string ix = index.substr(0, keep);
    for (int i = 0; i < 4; i++) ix[at + i] = static_cast<char>(value >> (8 * i));
    WriteFile(b + ".JIX", ix);
  };
  const std::string layout = "\n\nERROR: ExeTest: layout failed [./KPK____B]: ";
  const std::string chunk = "chunk file ./KPK____B.J0";
  const std::string ix = "index file ./KPK____B.JIX holds ";
  const struct {
    std::function<void()> damage;
    std::string end;
  } kCases[] = {
      {[&] { std::filesystem::remove(b + ".J03"); }, layout + chunk + "3 missing\n"},
      {[&] { WriteFile(b + ".J01", one + "x"); },
       layout + chunk + "1 holds " + std::to_string(one.size() + 1) +
           " bytes, its records end at " + std::to_string(one.size()) + "\n"},
      {[&] { WriteFile(b + ".J01", one.substr(0, one.size() - 1)); },
       layout + chunk + "1 holds " + std::to_string(one.size() - 1) +
           " bytes, the record of block 1 ends past them\n"},
      {[&] { header(4, 3, index.size()); }, layout + ix + "132 bytes, 3 blocks need 128\n"},
      {[&] { header(4, 3, index.size() - 4); }, layout + "extra " + chunk + "3\n"},
      {[&] { header(8, 32767, index.size()); },
       "\n\nERROR: ExeTest: length failed [./KPK____B]: 131071 bytes, the endgame has 131072 "
       "entries\n"},
      {[&] { header(116 + 4, 5, index.size()); },
       layout + "index entry of block 1 is 0x00000005, its record is at 0 in ./KPK____B.J01\n"},
  };
  for (const auto& c : kCases) {
    for (const auto& [path, bytes] : saved) WriteFile(path, bytes);
    c.damage();
    RunResult r = RunZok("-t KPK", dir.path());
    EXPECT_EQ(r.status, 1) << c.end;
    EXPECT_NE(r.output.find("KPK____W  [./KPK____W.J*]"), std::string::npos) << "white first";
    // Header and layout faults are found before anything of the database is shown.
    const std::string end = "\nKPK____B  [./KPK____B.J*]" + c.end;
    EXPECT_TRUE(r.output.ends_with(end)) << r.output;
  }
}

// On a terminal with keys already typed: an ordinary key is consumed at the
// first poll, Ctrl+Q stops the test at the second, and the terminal is left
// in the mode it was found in.
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
