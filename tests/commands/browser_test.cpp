// The probe and the browser, against the databases of the five three-man
// endgames built by the executable itself: values checked against one-move
// lookahead under the rules of chess, the mirror against the position file
// reader, and whole browser sessions from the command line.
#include "commands/browser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/move_generation.h"
#include "support/checked_ops.h"
#include "index/db_format.h"
#include "index/names.h"
#include "gamefiles/position_files.h"
#include "index/probe_key.h"
#include "jar/jar_file.h"
#include "test_support.h"


namespace {

const char* const kPrompt = "\n\n[quit, +, -, move#]> ";

class Browser : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dbs_ = new std::string(BuiltDatabases({"KQK", "KRK", "KBK", "KNK", "KPK"}));
    slash_ = new std::string(*dbs_ + "/");
  }
  static void TearDownTestSuite() {
    delete dbs_;
    delete slash_;
  }
  void SetUp() override {
    FresSetPath(nullptr);
    FresSetPath(slash_->c_str());
  }
  void TearDown() override { FresSetPath(nullptr); }

  // Runs a browser session in a fresh directory holding the databases,
  // the given file and the given prompt input.
  RunResult Session(const std::string& args, const std::string& file_name,
                    const std::string& file, const std::string& input) {
    CopyDatabases(*dbs_, dir_.path());
    WriteFile(dir_.File(file_name), file);
    WriteFile(dir_.File("input"), input);
    return RunZok(args, dir_.path(), dir_.File("input"));
  }

  static std::string* dbs_;
  static std::string* slash_;
  TempDir dir_;
};
std::string* Browser::dbs_ = nullptr;
std::string* Browser::slash_ = nullptr;

Ccc FromEpd(const char* line) {
  Ccc b;
  EpdSpos(line, &b);
  return b;
}

// The value of a position from the values of its moves: the side to move
// picks its best; a win or a loss is one ply longer than through the move.
int32_t Lookahead(const Ccc& b) {
  uint32_t moves[kCccMaxMoves];
  int n = CccGenMoves(&b, moves);
  if (n == 0) {
    if (CccInCheck(&b) == 0) return 0;
    return b.wtm ? -1000 : 1000;
  }
  int32_t best = b.wtm ? -2000 : 2000;
  for (int i = 0; i < n; i++) {
    Ccc after = b;
    CccDoMove(&after, moves[i]);
    int32_t v = FindValue(&after, 0);
    best = b.wtm ? std::max(best, v) : std::min(best, v);
  }
  if (best > 0) return best - 1;
  if (best < 0) return best + 1;
  return 0;
}

// Legal positions of three men, the third man given, taken from a simple
// generator so that the sample reaches all parts of the board.
std::vector<Ccc> Sample(char piece, int count) {
  std::vector<Ccc> out;
  uint32_t seed = 12345;
  while (static_cast<int>(out.size()) < count) {
    char text[80];
    memset(text, '.', 64);
    int sq[3];
    for (int& s : sq) {
      seed = seed * 1103515245u + 12345u;
      s = (seed >> 16) % 64;
    }
    if (sq[0] == sq[1] || sq[0] == sq[2] || sq[1] == sq[2]) continue;
    text[sq[0]] = 'K';
    text[sq[1]] = 'k';
    text[sq[2]] = piece;
    bool pawn = piece == 'P' || piece == 'p';
    if (pawn && (sq[2] < 8 || sq[2] >= 56)) continue;
    strcpy(text + 64, (seed >> 8) & 1 ? "w" : "b");
    Ccc b;
    CccSetString(text, &b);
    // The side not to move may not stand in check.
    Ccc pass = b;
    pass.wtm ^= 1;
    if (CccInCheck(&pass) != 0) continue;
    out.push_back(b);
  }
  return out;
}

// The screens of a session: the text before the first prompt, then the
// text between prompts.
std::vector<std::string> Screens(const std::string& output) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t p = output.find(kPrompt, start);
    if (p == std::string::npos) {
      out.push_back(output.substr(start));
      return out;
    }
    out.push_back(output.substr(start, p - start));
    start = p + strlen(kPrompt);
  }
}

// A screen without the header lines that name the file.
std::string Position(const std::string& screen) {
  size_t p = screen.find("\nrema [");
  if (p == std::string::npos) return screen;
  return screen.substr(screen.find('\n', p + 1));
}

}  // namespace

TEST_F(Browser, ValuesAgreeWithOneMoveLookahead) {
  // White's pieces and Black's (the mirrored probe) in won and drawn endings.
  for (char piece : {'Q', 'q', 'P', 'p', 'N', 'r'}) {
    for (const Ccc& b : Sample(piece, 40)) {
      int32_t v = FindValue(&b, 0);
      EXPECT_GE(v, -1000);
      EXPECT_LE(v, 1000);
      EXPECT_EQ(Lookahead(b), v) << piece << " " << v;
    }
  }
}

TEST_F(Browser, PositionsThatAreNotProbed) {
  // Castling rights.
  Ccc castle = FromEpd("r3k3/8/8/8/8/8/8/4K3 w q -");
  EXPECT_EQ(FindByte(&castle), -1);
  EXPECT_EQ(FindValue(&castle, 0), kValueUnknown);
  // Six men on a side.
  Ccc six = FromEpd("k7/8/8/8/8/8/PPPPP3/K7 w - -");
  EXPECT_EQ(FindByte(&six), -1);
  // Eight men: no probe key and no database, not a fatal error.
  Ccc eight = FromEpd("k7/ppp5/8/8/8/8/PPP5/K7 w - -");
  EXPECT_EQ(FindByte(&eight), -1);
  EXPECT_EQ(FindValue(&eight, 0), kValueUnknown);
  // A database that is not there.
  Ccc krkp = FromEpd("k7/p7/8/8/8/8/8/KR6 w - -");
  EXPECT_EQ(FindByte(&krkp), -1);
  // White's bare king against a missing database: no win, nothing more.
  Ccc bare = FromEpd("k7/pp6/8/8/8/8/8/K7 w - -");
  EXPECT_EQ(FindByte(&bare), kValueNone);
  EXPECT_EQ(FindValue(&bare, 0), kValueNoWin);
  // White has more than a bare king against a missing database: unknown.
  Ccc unknown = FromEpd("k7/p7/8/8/8/8/P7/K7 w - -");
  EXPECT_EQ(FindValue(&unknown, 0), kValueUnknown);
}

TEST(FindByte, DamagedStampsAreFatal) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FresSetPath(nullptr);
  FresSetPath("./");
  Ccc b = FromEpd("4k3/8/4K3/8/8/8/8/Q7 w - -");
  Pap key;
  PapMake(&b, &key);
  auto write = [&](int32_t format, uint32_t content) {
    JILE* h = FileWopen(FresName(key.material));
    JarSetCreator(h, "test", format, JarTag("DTM3"), static_cast<int32_t>(content));
    for (double i = 0; i <= key.index; i++) FilePutc(1, h);
    FileClose(h);
  };
  write(300, key.material);
  EXPECT_FATAL(FindByte(&b), "FindByte: bad format");
  write(301, key.material ^ kWhiteToMove);
  EXPECT_FATAL(FindByte(&b), "FindByte: bad content");
  write(301, key.material);
  EXPECT_EQ(FindByte(&b), 1);
  FresSetPath(nullptr);
}

TEST_F(Browser, MateInOneSession) {
  RunResult r = Session("-pe t.EPD/2", "t.EPD",
                        "8/8/8/8/8/8/8/K6k w - -\n4k3/8/4K3/8/8/8/8/Q7 w - - id mate1\n",
                        "+\n-\n3\n-\n+\nquit\n");
  EXPECT_EQ(r.status, 0);
  std::vector<std::string> s = Screens(r.output);
  ASSERT_EQ(s.size(), 7u) << r.output;
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
  EXPECT_EQ(s[1], shown);  // "+" at the end of the game
  EXPECT_EQ(s[2], shown);  // "-" at its start
  // Move 3 of the sorted list, Qa1-d4: White mates in two.
  const std::string after =
      "\n -  -  -  -  ZK -  -  -   *   [ e8 .. .. .. .. .. .. .. ]"
      "\n -  -  -  -  -  -  -  -       [ .. .. .. .. .. .. .. .. ]"
      "\n -  -  -  -  WK -  -  -   .."
      "\n -  -  -  -  -  -  -  -   ..  eps  .."
      "\n -  -  -  WQ -  -  -  -   ..  chk  +0"
      "\n -  -  -  -  -  -  -  -   .."
      "\n -  -  -  -  -  -  -  -       [ .. .. .. .. .. .. .. .. ]"
      "\n -  -  -  -  -  -  -  -   .   [ e6 d4 .. .. .. .. .. .. ]"
      "\nstraight [ +998 ,  +998]"
      "\nmirrored [   +0 , +1000]"
      "\n"
      "\n 0 Ke8-f8   +999";
  EXPECT_EQ(s[3], after);
  EXPECT_EQ(s[4], shown);  // back
  EXPECT_EQ(s[5], after);  // and forward again: the played move is kept
  EXPECT_EQ(s[6], "");     // quit ends at the prompt
}

TEST_F(Browser, CheckmatedAndUnprobedPositions) {
  const std::string file =
      "4k3/4Q3/4K3/8/8/8/8/8 b - -\n"
      "r3k3/8/8/8/8/8/8/4K3 w q -\n"
      "k7/8/8/8/8/8/PPPPP3/K7 w - -\n";
  RunResult r = Session("-pe p.EPD/1", "p.EPD", file, "quit\n");
  std::vector<std::string> s = Screens(r.output);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_NE(s[0].find("\nstraight [+1000 , +1000]\nmirrored [   +0 , +1000]"), std::string::npos);
  // No move list follows.
  EXPECT_EQ(s[0].substr(s[0].rfind("\nmirrored")), "\nmirrored [   +0 , +1000]");

  r = Session("-pe p.EPD/2", "p.EPD", file, "quit\n");
  s = Screens(r.output);
  EXPECT_NE(s[0].find("\nstraight [-1000 , +1000]\nmirrored [-1000 , +1000]\n\n"
                      " 0 Ke1-f2     -1      2 Ke1-e2     ==      4 Ke1-d1     =="
                      "\n 1 Ke1-d2     ==      3 Ke1-f1     =="),
            std::string::npos)
      << s[0];

  r = Session("-pe p.EPD/3", "p.EPD", file, "quit\n");
  s = Screens(r.output);
  EXPECT_NE(s[0].find("\nstraight [-1000 , +1000]\nmirrored [-1000 , +1000]\n\n"
                      " 0  a2-a3     -1      "),
            std::string::npos)
      << s[0];
}

// A game of the pawn ending stepped through with "+" shows, ply by ply,
// what the position file shows for the same positions.
TEST_F(Browser, GameStepsMatchPositionFiles) {
  const std::string game =
      "[game other] 1. e2-e4\n"
      "[game pawn] [annotator me] [remark run]\n[posj]\n"
      " ........ ........ ........ ........\n"
      " ...k.... ........ ...P.... ...K....\n"
      " w . . . .\n"
      "1. Kd1-e2 Kd4-c4 2. Ke2-e3 Kc4-d5 *\n";
  RunResult r = Session("-p g.JGN/pawn", "g.JGN", game, "+\n+\n+\n+\n+\nquit\n");
  EXPECT_EQ(r.status, 0);
  std::vector<std::string> s = Screens(r.output);
  ASSERT_EQ(s.size(), 7u) << r.output;
  EXPECT_EQ(s[0].substr(0, s[0].find("\n -")),
            Banner() + "\nname [g.JGN / 2 (pawn)]\nanno [me]\nrema [run]");
  const char* fens[] = {"8/8/8/8/3k4/8/3P4/3K4 w - -", "8/8/8/8/3k4/8/3PK3/8 b - -",
                        "8/8/8/8/2k5/8/3PK3/8 w - -", "8/8/8/8/2k5/4K3/3P4/8 b - -",
                        "8/8/8/3k4/8/4K3/3P4/8 w - -"};
  std::string epd;
  for (const char* f : fens) epd += std::string(f) + "\n";
  for (int i = 0; i < 5; i++) {
    RunResult e = Session("-pe e.EPD/" + std::to_string(i + 1), "e.EPD", epd, "quit\n");
    ASSERT_EQ(e.status, 0);
    EXPECT_EQ(Position(s[i]), Position(Screens(e.output)[0])) << i;
  }
  EXPECT_EQ(s[5], s[4]);  // "+" at the end
  // Every screen of the pawn ending is valued exactly.
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ(s[i].find("-1000 , +1000"), std::string::npos) << s[i];
  }
}

TEST_F(Browser, PromptInputEdges) {
  const std::string file = "4k3/8/4K3/8/8/8/8/Q7 w - -\n";
  // A number equal to the move count, a negative one and a huge one change
  // nothing; text that is no number plays move 0; a line longer than the
  // buffer is cut and its rest is no command of its own.
  std::string input = "26\n-1\n99999999999999999999\n" + std::string(300, 'x') + "+\n";
  RunResult r = Session("-pe m.EPD", "m.EPD", file, input);
  EXPECT_EQ(r.status, 0);
  std::vector<std::string> s = Screens(r.output);
  ASSERT_EQ(s.size(), 6u) << r.output;
  std::string shown = Position(s[0]);
  EXPECT_EQ(s[1], shown);
  EXPECT_EQ(s[2], shown);
  EXPECT_EQ(s[3], shown);
  EXPECT_NE(s[4].find("   .   [ e6 h8 .."), std::string::npos) << s[4];
  EXPECT_NE(s[4].find("\nstraight [+1000 , +1000]"), std::string::npos);
  // The end of input ends the browser as "quit" does.
  EXPECT_EQ(s[5], "");
}

TEST_F(Browser, MoveAtTheLastPlyIsRefused) {
  std::string game = "[game long]";
  const char* cycle[] = {"Ng1-f3", "Ng8-f6", "Nf3-g1", "Nf6-g8"};
  for (int i = 0; i < 800; i++) game += std::string(" ") + cycle[i % 4];
  game += "\n";
  RunResult r = Session("-p long.JGN", "long.JGN", game, "0\n-\n0\n0\nquit\n");
  EXPECT_EQ(r.status, 0);
  std::vector<std::string> s = Screens(r.output);
  ASSERT_EQ(s.size(), 6u) << r.output;
  const std::string start = Position(s[0]);
  EXPECT_NE(start.find(" WR WN WB WQ WK WB WN WR  *   ["), std::string::npos) << start;
  EXPECT_NE(start.find("\nstraight [-1000 , +1000]\nmirrored [-1000 , +1000]"), std::string::npos);
  EXPECT_EQ(s[1], start);  // refused at ply 800
  EXPECT_NE(s[2], start);  // ply 799
  EXPECT_NE(s[3], s[2]);   // a new move 800
  EXPECT_EQ(s[4], s[3]);   // and again refused
}

TEST_F(Browser, Errors) {
  TempDir dir;
  const char* const kCases[][2] = {{"-p", "ExeDemo: too few args"},
                                   {"-pe", "ExeDemo: too few args"},
                                   {"-p nothere", "CccJgnRead: 'nothere' open failed"}};
  for (const auto& c : kCases) {
    RunResult r = RunZok(c[0], dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, Banner() + "\n\nERROR: " + c[1] + "\n");
  }
}
