// The probe against one-move lookahead on the three-man endgames; browser sessions.
#include "commands/browser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "board/move_generation.h"
#include "gamefiles/position_files.h"
#include "index/db_format.h"
#include "index/names.h"
#include "index/probe_key.h"
#include "jar/jar_file.h"
#include "support/checked_ops.h"
#include "test_support.h"

namespace {

const char* const kPrompt = "\n\n[quit, +, -, move#]> ";

const std::string& Dbs() {  // with a slash: a search path entry
  static const std::string dbs = BuiltDatabases({"KQK", "KRK", "KBK", "KNK", "KPK"}) + "/";
  return dbs;
}

class Browser : public ::testing::Test {
 protected:
  const SearchPath search_{Dbs()};

  // The screens of a session (the text before each prompt, then the rest).
  std::vector<std::string> Session(const std::string& args, const std::string& file_name,
                                   const std::string& file, const std::string& input) {
    TempDir dir;
    CopyDatabases(Dbs(), dir.path());
    WriteFile(dir.File(file_name), file);
    WriteFile(dir.File("input"), input);
    RunResult r = RunZok(args, dir.path(), dir.File("input"));
    EXPECT_EQ(r.status, 0) << args;
    std::vector<std::string> out;
    for (size_t start = 0, p;; start = p + strlen(kPrompt)) {
      p = r.output.find(kPrompt, start);
      out.push_back(r.output.substr(start, p == std::string::npos ? p : p - start));
      if (p == std::string::npos) return out;
    }
  }
};

// The value from the values of the moves: a win or a loss is one ply longer.
int32_t Lookahead(const SearchPath& search, const Ccc& b) {
  uint32_t moves[kCccMaxMoves];
  int n = CccGenMoves(&b, moves);
  if (n == 0) return CccInCheck(&b) == 0 ? 0 : b.wtm ? -1000 : 1000;
  int32_t best = b.wtm ? -2000 : 2000;
  for (int i = 0; i < n; i++) {
    Ccc after = b;
    CccDoMove(&after, moves[i]);
    int32_t v = FindValue(search, &after, 0);
    best = b.wtm ? std::max(best, v) : std::min(best, v);
  }
  return best > 0 ? best - 1 : best < 0 ? best + 1 : 0;
}

// A screen without the header lines that name the file.
std::string Position(const std::string& screen) {
  size_t p = screen.find("\nrema [");
  return p == std::string::npos ? screen : screen.substr(screen.find('\n', p + 1));
}

}  // namespace

// White's pieces and Black's (the mirrored probe) on random legal squares.
TEST_F(Browser, ValuesAgreeWithOneMoveLookahead) {
  uint32_t seed = 12345;
  for (char piece : {'Q', 'q', 'P', 'p', 'N', 'r'}) {
    for (int found = 0; found < 40;) {
      std::string text(64, '.');
      int sq[3];
      for (int& s : sq) s = ((seed = seed * 1103515245u + 12345u) >> 16) % 64;
      if (sq[0] == sq[1] || sq[0] == sq[2] || sq[1] == sq[2]) continue;
      if ((piece == 'P' || piece == 'p') && (sq[2] < 8 || sq[2] >= 56)) continue;
      text[sq[0]] = 'K', text[sq[1]] = 'k', text[sq[2]] = piece;
      Ccc b, pass;  // the side not to move may not stand in check
      CccSetString((text + ((seed >> 8) & 1 ? "" : "w")).c_str(), &pass);
      if (CccInCheck(&pass) != 0) continue;
      found++;
      CccSetString((text + ((seed >> 8) & 1 ? "w" : "")).c_str(), &b);
      EXPECT_EQ(Lookahead(search_, b), FindValue(search_, &b, 0)) << text;
    }
  }
}

TEST_F(Browser, PositionsThatAreNotProbed) {
  const struct {
    const char* epd;
    int byte;
    int32_t value;
  } kCases[] = {
      {"r3k3/8/8/8/8/8/8/4K3 w q -", -1, kValueUnknown},       // castling rights
      {"k7/8/8/8/8/8/PPPPP3/K7 w - -", -1, kValueUnknown},     // six men a side
      {"k7/ppp5/8/8/8/8/PPP5/K7 w - -", -1, kValueUnknown},    // no key for eight men
      {"k7/p7/8/8/8/8/8/KR6 w - -", -1, kValueUnknown},        // database missing
      {"k7/pp6/8/8/8/8/8/K7 w - -", kValueNone, kValueNoWin},  // White has a bare king
  };
  for (const auto& c : kCases) {
    Ccc b;
    EpdSpos(c.epd, &b);
    EXPECT_EQ(FindByte(search_, &b), c.byte) << c.epd;
    EXPECT_EQ(FindValue(search_, &b, 0), c.value) << c.epd;
  }
}

TEST(FindByte, DamagedStampsAreFatal) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const SearchPath here{"./"};
  Ccc b;
  EpdSpos("4k3/8/4K3/8/8/8/8/Q7 w - -", &b);
  Pap key;
  PapMake(&b, &key);
  auto write = [&](int32_t format, uint32_t content) {
    JILE* h = FileWopen(FresName(key.material).c_str());
    JarSetCreator(h, "test", format, JarTag("DTM3"), static_cast<int32_t>(content));
    for (double i = 0; i <= key.index; i++) FilePutc(1, h);
    FileClose(h);
  };
  write(300, key.material);
  EXPECT_FATAL(FindByte(here, &b), "FindByte: bad format");
  write(301, key.material ^ kWhiteToMove);
  EXPECT_FATAL(FindByte(here, &b), "FindByte: bad content");
  write(301, key.material);
  EXPECT_EQ(FindByte(here, &b), 1);
}

// A number equal to the move count, a negative one and text that is no move
// are refused (a line longer than the buffer is cut), "?" explains the list;
// a move typed as listed plays it: the mate, shown without a move list, where
// no move is left. "-" at the start changes nothing; the end of input ends
// the browser as "quit" does.
TEST_F(Browser, MateInOneSession) {
  std::string input = "26\n-1\n" + std::string(300, 'x') + "\n?\n Qa1-h8 \n0\n";
  std::vector<std::string> s =
      Session("-pe t.EPD/2", "t.EPD", "8/8/8/8/8/8/8/K6k w - -\n4k3/8/4K3/8/8/8/8/Q7 w - - id mate1\n",
              input + "-\n-\n3\n-\n+\n");
  ASSERT_EQ(s.size(), 13u);
  const std::string first =
      "\nname [t.EPD / 2 (mate1)]"
      "\nanno []"
      "\nrema []"
      "\n -  -  -  -  ZK -  -  -   .   [ e8 .. .. .. .. .. .. .. ]"
      "\n -  -  -  -  -  -  -  -       [ .. .. .. .. .. .. .. .. ]"
      "\n -  -  -  -  WK -  -  -   .."
      "\n -  -  -  -  -  -  -  -   ..  eps  .."
      "\n -  -  -  -  -  -  -  -   ..  chk  +0"
      "\n -  -  -  -  -  -  -  -   .."
      "\n -  -  -  -  -  -  -  -       [ .. .. .. .. .. .. .. .. ]"
      "\n WQ -  -  -  -  -  -  -   *   [ e6 a1 .. .. .. .. .. .. ]"
      "\nstraight [ +999 ,  +999]"
      "\nmirrored [   +0 , +1000]"
      "\n"
      "\n 0 Qa1-h8+ +1000      7 Qa1-c3   +996     14 Qa1-d1     ==     21 Ke6-d5   +990"
      "\n 1 Qa1-a8+    ==      8 Qa1-a2     ==     15 Qa1-e1     ==     22 Ke6-f6     =="
      "\n 2 Qa1-b2   +998      9 Qa1-a3     ==     16 Qa1-f1     ==     23 Ke6-d6     =="
      "\n 3 Qa1-d4     ==     10 Qa1-a4+    ==     17 Qa1-g1     ==     24 Ke6-f5   +988"
      "\n 4 Qa1-e5     ==     11 Qa1-a5     ==     18 Qa1-h1     ==     25 Qa1-f6     +0"
      "\n 5 Qa1-g7     ==     12 Qa1-b1     ==     19 Qa1-a6   +994"
      "\n 6 Qa1-a7     ==     13 Qa1-c1     ==     20 Ke6-e5   +992";
  EXPECT_EQ(s[0], Banner() + first);
  const std::string shown = Position(s[0]);
  // Move 3 of the sorted list, Qa1-d4: White mates in two.
  const std::string& after = s[9];
  EXPECT_NE(after.find("\n -  -  -  WQ -  -  -  -   ..  chk  +0"), std::string::npos) << after;
  EXPECT_EQ(after.substr(after.find("\nstraight")),
            "\nstraight [ +998 ,  +998]\nmirrored [   +0 , +1000]\n\n 0 Ke8-f8   +999");
  EXPECT_NE(s[5].find("   .   [ e6 h8 .."), std::string::npos) << s[5];
  EXPECT_EQ(s[5].substr(s[5].rfind("\nstraight")),
            "\nstraight [+1000 , +1000]\nmirrored [   +0 , +1000]");
  EXPECT_NE(s[4].find("\n          win, -1 not known; == the same value as the move above it"),
            std::string::npos)
      << s[4];
  auto refused = [](const std::string& typed) {
    return "\nnot a move here [" + typed +
           "]: type a move number from 0 to 25, a move as listed, +, -, quit, or ? for help";
  };
  EXPECT_EQ(s, std::vector<std::string>(
                   {s[0], refused("26"), refused("-1"), refused(std::string(255, 'x')), s[4], s[5],
                    "\nnot a move here [0]: there is no legal move; type +, -, quit, or ? for help",
                    shown, shown, after, shown, after, ""}));
}

// A pawn-ending game stepped with "+" to its end shows what the position
// file shows for the same position; every ply is valued exactly.
TEST_F(Browser, GameStepsMatchPositionFiles) {
  const std::string game =
      "[game other] 1. e2-e4\n[game pawn] [annotator me] [remark run]\n[posj]\n"
      " ........ ........ ........ ........\n ...k.... ........ ...P.... ...K....\n w . . . .\n"
      "1. Kd1-e2 Kd4-c4 2. Ke2-e3 Kc4-d5 *\n";
  std::vector<std::string> s = Session("-p g.JGN/pawn", "g.JGN", game, "+\n+\n+\n+\n+\nquit\n");
  ASSERT_EQ(s.size(), 7u);
  EXPECT_EQ(s[0].substr(0, s[0].find("\n -")),
            Banner() + "\nname [g.JGN / 2 (pawn)]\nanno [me]\nrema [run]");
  for (int i = 0; i < 5; i++) EXPECT_EQ(s[i].find("-1000 , +1000"), std::string::npos) << s[i];
  EXPECT_EQ(s[5], s[4]);  // "+" at the end
  std::string e = Session("-pe e.EPD", "e.EPD", "8/8/8/3k4/8/4K3/3P4/8 w - -\n", "quit\n")[0];
  EXPECT_EQ(Position(s[4]), Position(e));
}

TEST_F(Browser, MoveAtTheLastPlyIsRefused) {
  std::string game = "[game long]";
  const char* cycle[] = {"Ng1-f3", "Ng8-f6", "Nf3-g1", "Nf6-g8"};
  for (int i = 0; i < 800; i++) game += std::string(" ") + cycle[i % 4];
  std::vector<std::string> s = Session("-p long.JGN", "long.JGN", game, "0\n-\n0\n0\nquit\n");
  ASSERT_EQ(s.size(), 6u);
  const std::string full = "\nnot played: the game holds 800 moves at most";
  EXPECT_EQ(s[1], full);  // refused at ply 800
  EXPECT_NE(s[2], s[0]);  // ply 799
  EXPECT_NE(s[3], s[2]);  // a new move 800
  EXPECT_EQ(s[4], full);  // and again refused
}
