// -t, end to end: the report of sound databases, and each damage named.
#include "commands/integrity_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "jar/jar_file.h"
#include "support/sha256.h"
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

// The report of one sound side without a checksum file, its timing
// "(12.3 s)" as "(T s)".
std::string Report(const std::string& dir, const std::string& name, const char* content) {
  double size = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename().string().rfind(name + ".J", 0) == 0) size += double(e.file_size());
  char head[512];
  snprintf(head, sizeof head,
           "\n%s  [./%s.J*]\nlength    40960\nsize      %.0f = %.2f MB\n"
           "creator   [zok-test]   format 301\ncontent   DTM3   %s\n"
           "ExeTest: no checksum file %s.SHA256\n"
           "block     0 / 2\nblock     1 / 2   decompression test complete   (T s)\n",
           name.c_str(), name.c_str(), size, size / 1048576, content, name.c_str());
  return head;
}

std::string Masked(const std::string& output) {
  return std::regex_replace(output, std::regex("   \\([0-9.]+ s\\)"), "   (T s)");
}

// 40960 entries: two blocks, the second one short. A missing side is
// reported and the other still tested; nothing is accounted. Without any
// database the test fails.
TEST(ExeTest, ReportsSoundAndMissingDatabasesExactly) {
  TempDir dir;
  RunResult r = RunZok("-t KQK", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, Banner() +
                          "\nKQK____W  not found\n\nKQK____B  not found\n"
                          "\n\nERROR: ExeTest: no database of KQK found\n");
  WriteDatabase(dir.File("KQK____B"), 40960, kKqk);
  r = RunZok("-t KQK", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Masked(r.output),
            Banner() + "\nKQK____W  not found\n" + Report(dir.path(), "KQK____B", "o00100000000"));
  EXPECT_FALSE(FileExists(dir.File("OUT.LOS")));
  r = RunZok("-t", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, Banner() + "\n\nERROR: ExeTest: too few args\n");
}

// Each damage to the black side's files, the white side being sound, ends
// its test with a message naming the database and what is wrong, and the
// command fails.
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
  const std::string layout = "ExeTest: layout failed [./KPK____B]: ";
  const std::string chunk = "chunk file ./KPK____B.J0";
  const std::string ix = "index file ./KPK____B.JIX holds ";
  const struct {
    std::function<void()> damage;
    std::string end;
  } kCases[] = {
      {[&] { std::filesystem::remove(b + ".J03"); }, layout + chunk + "3 missing\n"},
      {[&] { WriteFile(b + ".J01", one + "x"); },
       layout + chunk + "1 holds " + std::to_string(one.size() + 1) + " bytes, its records end at " +
           std::to_string(one.size()) + "\n"},
      {[&] { WriteFile(b + ".J01", one.substr(0, one.size() - 1)); },
       layout + chunk + "1 holds " + std::to_string(one.size() - 1) +
           " bytes, the record of block 1 ends past them\n"},
      {[&] { header(4, 3, index.size()); }, layout + ix + "132 bytes, 3 blocks need 128\n"},
      {[&] { header(4, 3, index.size() - 4); }, layout + "extra " + chunk + "3\n"},
      {[&] { header(8, 32767, index.size()); },
       "ExeTest: length failed [./KPK____B]: 131071 bytes, the endgame has 131072 "
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
    const std::string end =
        "\nKPK____B  [./KPK____B.J*]\n" + c.end + "\n\nERROR: ExeTest: KPK____B damaged\n";
    EXPECT_TRUE(r.output.ends_with(end)) << r.output;
  }
}

// The first single-bit flip of `file`, from its end back, after which the
// database still decodes whole: damage the block sums do not see.
size_t FlipThatDecodes(const std::string& db, const std::string& file) {
  const std::string sound = ReadFile(file);
  for (size_t bit = sound.size() * 8; bit-- > 0;) {
    std::string bytes = sound;
    bytes[bit / 8] = static_cast<char>(bytes[bit / 8] ^ (1 << bit % 8));
    WriteFile(file, bytes);
    JILE* h = JarRopen(db.c_str());
    std::vector<char> data(static_cast<size_t>(JarSize(h)));
    const bool decodes = JarRead(data.data(), static_cast<int>(data.size()), h) == int(data.size());
    JarClose(h);
    if (decodes) return bit;
  }
  return 0;
}

// A flip that decodes fails the test through the checksum file, which names
// the file; without the checksum file it passes as before. A damaged record
// is reported with its block. The other side is tested either way.
TEST(ExeTest, ChecksumFileCatchesAFlipThatDecodesAndDamageNamesTheBlock) {
  TempDir dir;
  const std::string w = dir.File("KQK____W"), b = dir.File("KQK____B");
  WriteDatabase(w, 40960, kKqk | kWtm);
  WriteDatabase(b, 40960, kKqk);
  ChecksumWrite(w.c_str());
  EXPECT_EQ(RunShell("sha256sum -c --quiet KQK____W.SHA256", dir.path()).output, "");
  const std::string sound = ReadFile(w + ".J00"), block1 = ReadFile(b + ".J00");
  const size_t bit = FlipThatDecodes(w, w + ".J00");
  ASSERT_GT(bit, 0u);
  const std::string flipped = ReadFile(w + ".J00");
  std::string damaged = block1;
  uint32_t at;  // block 1's record: check value, length, method byte
  memcpy(&at, ReadFile(b + ".JIX").data() + kJarTableOffset + 4, 4);
  damaged[at + 8] = static_cast<char>(0xEE);
  std::string bad_sum = block1;
  bad_sum[at] = static_cast<char>(bad_sum[at] ^ 1);
  const std::string b_sound = "   decompression test complete   (T s)\n";
  const struct {
    std::string w_j00, w_sha256, b_j00;
    int status;
    std::string w_end, b_end;
  } cases[] = {
      {sound, "keep", block1, 0, "sha256    2 files match KQK____W.SHA256\n", b_sound},
      {flipped, "keep", block1, 1, "ExeTest: KQK____W.J00 differs from KQK____W.SHA256\n\n", b_sound},
      {flipped, "", block1, 0, "ExeTest: no checksum file KQK____W.SHA256\n", b_sound},
      {sound, "keep", damaged, 1, "sha256    2 files match KQK____W.SHA256\n",
       "\nFileSeek: failed: damaged record in ./KQK____B.J00 block 1: unknown method 238\n"},
      {sound, "keep", bad_sum, 1, "sha256    2 files match KQK____W.SHA256\n",
       "\nFileSeek: failed: damaged record in ./KQK____B.J00 block 1: bad CRC\n"},
  };
  const std::string sha256 = ReadFile(w + ".SHA256");
  for (const auto& c : cases) {
    WriteFile(w + ".J00", c.w_j00);
    std::filesystem::remove(w + ".SHA256");
    if (!c.w_sha256.empty()) WriteFile(w + ".SHA256", sha256);
    WriteFile(b + ".J00", c.b_j00);
    RunResult r = RunZok("-t KQK", dir.path());
    const std::string out = Masked(r.output);
    EXPECT_EQ(r.status, c.status) << out;
    EXPECT_NE(out.find("o10100000000\n" + c.w_end), std::string::npos) << out;
    const std::string errors = c.status == 0        ? ""
                               : c.w_j00 == flipped ? "\n\nERROR: ExeTest: KQK____W damaged\n"
                                                    : "\n\nERROR: ExeTest: KQK____B damaged\n";
    EXPECT_TRUE(out.ends_with(c.b_end + errors)) << out;
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
