// -verify on built endgames against the published statistics, on a value
// changed through the database writer, and stopped by Ctrl+Q; -probe of
// Black's wins read from the colour-swapped twin.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "index/probe_key.h"
#include "jar/jar_file.h"
#include "probe/probe.h"
#include "test_support.h"

namespace {

// KPKP with every prerequisite, deepest first, and KRKQ, the twin of KQKR.
const std::string& Dbs() {
  static const std::string dbs = BuiltKpkpTree();
  return dbs;
}

// The output from the line that starts with `from` on.
std::string Tail(const std::string& output, const std::string& from = "checked ") {
  size_t p = output.find("\n" + from);
  return p == std::string::npos ? output : output.substr(p);
}

// The count row of a distance in the summary, e.g. "White mates in 10".
std::string Row(const std::string& label, const char* white, const char* black) {
  char row[128];
  snprintf(row, sizeof row, "\n%-17s %15s %15s\n", label.c_str(), white, black);
  return row;
}

// The published counts of the longest mates show as rows of the summary;
// KPKP's values pass through en passant and promotions on both sides.
TEST(ExeVerify, PassesOnBuiltEndgamesWithThePublishedCounts) {
  const struct {
    const char* name;
    int longest;
    const char *white, *black;  // entries at the longest distance; "" any
  } cases[] = {{"KQK", 10, "1", "8"},
               {"KRK", 16, "121", "390"},
               {"KPK", 28, "3", "2"},
               {"KQKR", 35, "", ""},
               {"KPKP", 0, "", ""}};
  for (const auto& c : cases) {
    RunResult r = RunZok(std::string("-verify ") + c.name, Dbs());
    EXPECT_EQ(r.status, 0) << c.name << r.output;
    std::string summary = Tail(r.output);
    EXPECT_NE(summary.find(std::string("\n") + c.name + ": every value agrees with its successors\n"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find(Row("wrong", "0", "0")), std::string::npos) << summary;
    if (*c.white == 0) continue;
    std::string label = "White mates in " + std::to_string(c.longest);
    EXPECT_NE(summary.find(Row(label, c.white, c.black)), std::string::npos) << summary;
    EXPECT_EQ(summary.find("White mates in " + std::to_string(c.longest + 1)), std::string::npos);
  }
  // Two rooks, whose order in the key is that of their squares; White's
  // longest mate is the published 7.
  RunResult rr = RunZok("-verify KRRK", BuiltDatabases({"KRK", "KRRK"}));
  EXPECT_EQ(rr.status, 0) << rr.output;
  EXPECT_NE(Tail(rr.output).find(Row("White mates in 7", "1450", "12465")), std::string::npos)
      << rr.output;
  // The progress line of each side, then the summary; KQK in full.
  RunResult r = RunZok("-verify KQK", Dbs());
  EXPECT_TRUE(std::regex_search(
      r.output, std::regex("\nKQK     W [0-9 .]+ 1\\.000   ------   ------    \n"
                           "(KQK     B[^\n]*\n)*KQK     B [0-9 .]+ 1\\.000   ------   ------    \n\n"
                           "                    White to move   Black to move\n")))
      << r.output;
  EXPECT_EQ(Tail(r.output),
            "\nchecked                     18081           28056"
            "\nWhite mates in 0                0              46"
            "\nWhite mates in 1              306             169"
            "\nWhite mates in 2              629             372"
            "\nWhite mates in 3             1135             936"
            "\nWhite mates in 4             2499            1773"
            "\nWhite mates in 5             3273            3190"
            "\nWhite mates in 6             4010            4997"
            "\nWhite mates in 7             4016            6769"
            "\nWhite mates in 8             1877            5483"
            "\nWhite mates in 9              335            1417"
            "\nWhite mates in 10               1               8"
            "\nno mate                         0            2896"
            "\nwrong                           0               0"
            "\n"
            "\nKQK: every value agrees with its successors\n");
}

// KQKR's longest mate from Black's side: Black to move wins in the twin
// KRKQ, and White to move there loses, read from KQKR's databases.
TEST(ExeProbe, BlackWinsComeFromTheColourSwappedTwin) {
  RunResult r = RunZok(
      "-probe '8/8/8/8/8/2kr4/1Q6/K7 b - - 0 1' '8/8/8/8/8/2kq4/1R6/K7 w - - 0 1' "
      "'k7/1r6/2KQ4/8/8/8/8/8 w - - 0 1' '8/8/8/8/8/2kq4/1R6/K7 b - - 0 1'",
      Dbs());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output,
            "8/8/8/8/8/2kr4/1Q6/K7 b - - 0 1: mated 33 c3c4\n"
            "8/8/8/8/8/2kq4/1R6/K7 w - - 0 1: draw b2b3\n"
            "k7/1r6/2KQ4/8/8/8/8/8 w - - 0 1: mate 9 d6a3\n"
            "8/8/8/8/8/2kq4/1R6/K7 b - - 0 1: mate 9 d3a6\n");
}

// Writes `value` over entry `index` of the database `path` through the
// database writer, with the same stamp; `was` is the value it must hold.
void ChangeEntry(const std::string& path, double index, int was, int value) {
  JILE* h = JarRopen(path.c_str());
  ASSERT_NE(h, nullptr);
  std::vector<uint8_t> bytes(static_cast<size_t>(JarSize(h)));
  ASSERT_EQ(JarRead(bytes.data(), static_cast<int>(bytes.size()), h), static_cast<int>(bytes.size()));
  const char* creator;
  int32_t format, content;
  uint32_t metric;
  ASSERT_EQ(JarGetCreator(h, &creator, &format, &metric, &content), 0);
  const std::string name(creator, strnlen(creator, kJarCreatorSize));
  ASSERT_EQ(JarClose(h), 0);
  ASSERT_EQ(bytes[static_cast<size_t>(index)], was);
  bytes[static_cast<size_t>(index)] = static_cast<uint8_t>(value);
  h = JarWopen(path.c_str(), kFlagDefault);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(JarWrite(bytes.data(), static_cast<int>(bytes.size()), h), static_cast<int>(bytes.size()));
  ASSERT_EQ(JarSetCreator(h, name.c_str(), format, metric, content), 0);
  ASSERT_EQ(JarClose(h), 0);
}

// The probe key of a FEN's position, or of its colour-swapped twin.
Pap KeyOf(const char* fen, bool twin = false) {
  zok_position pos;
  Ccc board, mirror;
  EXPECT_EQ(zok_parse_fen(fen, &pos), ZOK_OK);
  EXPECT_TRUE(ProbeSetBoard(&pos, &board));
  ProbeMirror(&board, &mirror);
  Pap key;
  PapMake(twin ? &mirror : &board, &key);
  return key;
}

// One value changed and written back through the database writer with the
// same stamp: the entry is named with its stored and expected values, and
// so are the entries whose successor it is, of both sides, in its endgame
// (moves to an empty square) and in the endgame a capture leads from.
TEST(ExeVerify, FailsNamingAChangedEntry) {
  const struct {
    const char *file, *fen;
    int was, value;
    const char *endgame, *from, *tail;
  } cases[] = {
      {"KQK____W", "8/8/8/5k2/8/8/1Q6/K7 w - - 0 1", 10, 9, "KQK", "White mates in 9 ",
       // Black's mates in 10 that took their length from it are wrong now too.
       "\nWhite mates in 9              336            1417"
       "\nWhite mates in 10               0               8"
       "\nno mate                         0            2896"
       "\nwrong                           1               8"
       "\n"
       "\nKQK____W entry 613  8/8/8/5k2/8/8/1Q6/K7 w - - 0 1  stored 9  expected 10"
       "\nKQK____B entry 24566  7K/6Q1/8/8/8/8/2k5/8 b - - 0 1  stored 10  expected 9"
       "\nKQK____B entry 28209  K7/1Q6/8/8/8/8/3k4/8 b - - 0 1  stored 10  expected 9"
       "\nKQK____B entry 28662  7K/6Q1/8/8/8/8/3k4/8 b - - 0 1  stored 10  expected 9"
       "\nKQK____B entry 32758  7K/6Q1/8/8/8/2k5/8/8 b - - 0 1  stored 10  expected 9"
       "\nKQK____B entry 36401  K7/1Q6/8/8/8/3k4/8/8 b - - 0 1  stored 10  expected 9"
       "\nKQK____B entry 36854  7K/6Q1/8/8/8/3k4/8/8 b - - 0 1  stored 10  expected 9"
       "\nKQK____B entry 37326  8/8/8/8/3k4/8/6Q1/7K b - - 0 1  stored 10  expected 9"
       "\nKQK____B entry 40950  7K/6Q1/8/8/3k4/8/8/8 b - - 0 1  stored 10  expected 9"
       "\n"
       "\nKQK: 9 wrong entries\n"},
      // A mate no longer one: the mates in 1 of KQKR that take the rook.
      {"KQK____B", "k7/1Q6/1K6/8/8/8/8/8 b - - 0 1", 0, 1, "KQKR", "wrong ",
       "\nwrong                          12               0"
       "\n"
       "\nKQKR___W entry 1380361  8/8/8/8/8/1Q6/1rK5/k7 w - - 0 1  stored 1  expected 2"
       "\nKQKR___W entry 1384457  8/8/8/8/8/2Q5/1rK5/k7 w - - 0 1  stored 1  expected 2"
       "\nKQKR___W entry 1413129  8/8/8/8/1Q6/8/1rK5/k7 w - - 0 1  stored 1  expected 2"
       "\nKQKR___W entry 1421321  8/8/8/8/3Q4/8/1rK5/k7 w - - 0 1  stored 1  expected 2"
       "\nKQKR___W entry 1445897  8/8/8/1Q6/8/8/1rK5/k7 w - - 0 1  stored 1  expected 2"
       "\nKQKR___W entry 1458185  8/8/8/4Q3/8/8/1rK5/k7 w - - 0 1  stored 1  expected 2"
       "\nKQKR___W entry 1478665  8/8/1Q6/8/8/8/1rK5/k7 w - - 0 1  stored 1  expected 2"
       "\nKQKR___W entry 1495049  8/8/5Q2/8/8/8/1rK5/k7 w - - 0 1  stored 1  expected 2"
       "\nKQKR___W entry 1511433  8/1Q6/8/8/8/8/1rK5/k7 w - - 0 1  stored 1  expected 2"
       "\nKQKR___W entry 1531913  8/6Q1/8/8/8/8/1rK5/k7 w - - 0 1  stored 1  expected 2"
       "\n"
       "\nKQKR: 12 wrong entries\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    CopyDatabases(Dbs(), dir.path());
    ChangeEntry(dir.File(c.file), KeyOf(c.fen).index, c.was, c.value);
    // Also with 3 threads and bands of 1 MB, which split each side of KQKR
    // into four: the same findings.
    for (const char* mb : {"", "1"}) {
      if (*mb != 0) setenv("ZOK_VERIFY_MB", mb, 1);
      RunResult r = RunZok(std::string("-verify ") + c.endgame, dir.path(), "", *mb != 0 ? 3 : 0);
      unsetenv("ZOK_VERIFY_MB");
      EXPECT_EQ(r.status, 1) << c.endgame << mb;
      EXPECT_EQ(Tail(r.output, c.from), c.tail) << c.endgame << mb;
    }
  }
}

// White's mate in 35 of KQKR, where the twin KRKQ is changed to say that
// Black wins too: the entry is wrong, though its successors agree with it.
// Without the twin, the other side's wins go unchecked, and it says so.
TEST(ExeVerify, ComparesWinsWithTheColourSwappedTwin) {
  TempDir dir;
  CopyDatabases(Dbs(), dir.path());
  ChangeEntry(dir.File("KRKQ___B"), KeyOf("8/8/r7/8/3k4/8/8/K1Q5 w - - 0 1", true).index, 255, 5);
  RunResult r = RunZok("-verify KQKR", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      Tail(r.output, "wrong "),
      "\nwrong                           1               0"
      "\n"
      "\nKQKR___W entry 9960  8/8/r7/8/3k4/8/8/K1Q5 w - - 0 1  stored 35  expected 35  twin KRKQ___B 5"
      "\n"
      "\nKQKR: 1 wrong entries\n");
  for (const char* ext : {".JIX", ".J00"})
    std::filesystem::remove(dir.File(std::string("KRKQ___B") + ext));
  r = RunZok("-verify KQKR", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Tail(r.output, "wrong "),
            "\nwrong                           0               0"
            "\n"
            "\nKRKQ___B not found: no comparison with the twin"
            "\n"
            "\nKQKR: every value agrees with its successors\n");
}

// Without a database it needs, or its arguments, the check cannot be made.
TEST(ExeVerify, MissingDatabasesAreFatal) {
  TempDir dir;
  CopyDatabases(Dbs(), dir.path());
  std::filesystem::remove(dir.File("KQK____B.JIX"));
  std::filesystem::remove(dir.File("KRKQ___W.JIX"));
  const struct {
    const char* args;
    const char* error;
  } cases[] = {{"-verify KQKR", "ExeVerify: KQK____B not found"},
               {"-verify KRKQ", "FresFind: KRKQ___W not found"},
               {"-verify", "ExeVerify: too few args"}};
  for (const auto& c : cases) {
    RunResult r = RunZok(c.args, dir.path());
    EXPECT_EQ(r.status, 1) << c.args;
    const std::string tail = std::string("\n\nERROR: ") + c.error + "\n";
    EXPECT_EQ(r.output.substr(r.output.size() - std::min(r.output.size(), tail.size())), tail)
        << r.output;
  }
}

TEST(ExeVerify, CtrlQOnATerminalStopsIt) {
  TerminalRun run = RunZokOnTerminal(Dbs(), {"-verify", "KQKR"}, "", "KQKR    W", "\x11");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("\r\n\r\nERROR: Manual abort!\r\n"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("KQKR    B"), std::string::npos) << run.output;
  EXPECT_TRUE(run.restored);
}

}  // namespace
