#include "gamefiles/game_notation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "board/board.h"
#include "board/move_generation.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

// A stream over a string, for the item reader.
FILE* Text(const std::string& s) {
  static std::string keep[16];
  static int next = 0;
  std::string& k = keep[next++ % 16];
  k = s;
  return fmemopen(k.data(), k.size(), "r");
}

// Board contents, side to move, en-passant square and castling rights; the
// piece lists follow from the cells but keep move order, so they are not
// compared.
void ExpectSamePosition(const Ccc& a, const Ccc& b) {
  EXPECT_EQ(0, memcmp(a.sqrx, b.sqrx, sizeof a.sqrx));
  EXPECT_EQ(a.wtm, b.wtm);
  EXPECT_EQ(a.eps, b.eps);
  EXPECT_EQ(a.castL, b.castL);
  EXPECT_EQ(a.castS, b.castS);
  EXPECT_EQ(a.castl, b.castl);
  EXPECT_EQ(a.casts, b.casts);
}

Ccc FromString(const char* text) {
  Ccc b;
  CccSetString(text, &b);
  return b;
}

// Plays the recorded moves from the start position up to `upto`.
Ccc Replay(const CccGame& g, int upto) {
  Ccc b = g.position;
  for (int i = 0; i < upto; ++i) CccDoMove(&b, g.moves[i]);
  return b;
}

struct GameDirs {
  TempDir work;
  TempDir fixed;
  std::string fixed_dir = fixed.path() + "/";
  GameDirs() { g_position_dir = fixed_dir.c_str(); }
  ~GameDirs() { g_position_dir = kPositionDir; }
};

const char* kGames =
    "[game Smith] 1. e2-e4 (a (nested) comment) e7-e5\n"
    "[game Jones]\n[annotator Mr  Big\tName] [remark  some\nremark ]\n1. d2-d4 1-0\n"
    "[game]\n1. c2-c4\n"
    "[game Smith] 1. g2-g3\n"
    "[game AVeryLongGameNameThatIsCut] 1. b2-b3\n";

}  // namespace

TEST(JgnItemRead, SplitsCommentsTagsAndWords) {
  FILE* f = Text("  (a (b) c)\t[game  Smith]\n e2-e4 12. (x)");
  char buf[kJgnItemSize];
  EXPECT_EQ(kJgnComment, JgnItemRead(f, buf));
  EXPECT_EQ(kJgnTag, JgnItemRead(f, buf));
  EXPECT_STREQ("game  Smith", buf);
  EXPECT_EQ(kJgnWord, JgnItemRead(f, buf));
  EXPECT_STREQ("e2-e4", buf);
  EXPECT_EQ(kJgnWord, JgnItemRead(f, buf));
  EXPECT_STREQ("12.", buf);
  EXPECT_EQ(kJgnComment, JgnItemRead(f, buf));
  EXPECT_EQ(kJgnEnd, JgnItemRead(f, buf));
  EXPECT_EQ(kJgnEnd, JgnItemRead(f, buf));
  fclose(f);
}

TEST(JgnItemRead, Holds79CharactersAndRefusesThe80th) {
  char buf[kJgnItemSize];
  std::string w79(79, 'w');
  FILE* f = Text(w79 + " [" + w79 + "]");
  EXPECT_EQ(kJgnWord, JgnItemRead(f, buf));
  EXPECT_EQ(w79, buf);
  EXPECT_EQ(kJgnTag, JgnItemRead(f, buf));
  EXPECT_EQ(w79, buf);
  fclose(f);
  EXPECT_FATAL(JgnItemRead(Text(std::string(80, 'w')), buf), "JgnItemRead: word too long");
  std::string long_tag(82, 't');
  long_tag.front() = '[';
  long_tag.back() = ']';
  EXPECT_FATAL(JgnItemRead(Text(long_tag), buf),
               "JgnItemRead: [...] too long");
  EXPECT_FATAL(JgnItemRead(Text("(a (b) c"), buf), "JgnItemRead: (...) open");
  EXPECT_FATAL(JgnItemRead(Text("[game"), buf), "JgnItemRead: [...] open");
}

TEST(JgnChar, SkipsCharactersOutsideTheSet) {
  std::string s = "x\n";
  s += '\0';
  s += ". P";
  FILE* f = Text(s);
  EXPECT_EQ('.', JgnChar(f, "P."));
  EXPECT_EQ('P', JgnChar(f, "P."));
  EXPECT_FATAL(JgnChar(f, "P."), "JgnChar: unexpected EOF");
  fclose(f);
}

TEST(JgnMoveText, CastlingWords) {
  char t[9];
  ASSERT_TRUE(JgnMoveText("0-0-0+", 1, t));
  EXPECT_STREQ("e1c1", t);
  ASSERT_TRUE(JgnMoveText("0-0-0", 0, t));
  EXPECT_STREQ("e8c8", t);
  ASSERT_TRUE(JgnMoveText("0-0", 1, t));
  EXPECT_STREQ("e1g1", t);
  ASSERT_TRUE(JgnMoveText("0-0#", 0, t));
  EXPECT_STREQ("e8g8", t);
  EXPECT_FALSE(JgnMoveText("O-O", 1, t));
  EXPECT_FALSE(JgnMoveText("O-O-O", 0, t));
}

TEST(JgnMoveText, LongAlgebraicAndOtherWords) {
  char t[9];
  ASSERT_TRUE(JgnMoveText("Ng1-f3", 1, t));
  EXPECT_STREQ("g1f3", t);
  ASSERT_TRUE(JgnMoveText("Bf1xb5+", 1, t));
  EXPECT_STREQ("f1b5", t);
  ASSERT_TRUE(JgnMoveText("e5%d6", 1, t));
  EXPECT_STREQ("e5d6", t);
  ASSERT_TRUE(JgnMoveText("e7-e8N", 1, t));
  EXPECT_STREQ("e7e8=n", t);
  ASSERT_TRUE(JgnMoveText("d2xc1q", 0, t));
  EXPECT_STREQ("d2c1=q", t);
  ASSERT_TRUE(JgnMoveText("e7e8", 1, t));
  EXPECT_STREQ("e7e8", t);
  ASSERT_TRUE(JgnMoveText("$e7e8r", 1, t));
  EXPECT_STREQ("e7e8r", t);
  ASSERT_TRUE(JgnMoveText("$abcdefghijk", 1, t));
  EXPECT_STREQ("abcdefgh", t);
  for (const char* w : {"e4", "Nf3", "1.", "12...", "1-0", "1/2-1/2", "e9-e8", "i2-i4",
                        "e2-", "*"}) {
    EXPECT_FALSE(JgnMoveText(w, 1, t)) << w;
  }
}

TEST(JgnLegalMove, PromotionsWrittenThreeWays) {
  Ccc b = FromString(
      "........P...P..........k................K..........p............w....");
  uint32_t knight = JgnLegalMove("e7-e8N", &b);  // e7e8=n
  EXPECT_EQ(MakeMove(65, 75) | kPromoN << kMovePromoShift, knight);
  EXPECT_EQ(MakeMove(65, 75) | kPromoR << kMovePromoShift, JgnLegalMove("$e7e8r", &b));
  EXPECT_EQ(MakeMove(65, 75) | kPromoQ << kMovePromoShift, JgnLegalMove("e7-e8", &b));
  EXPECT_EQ(MakeMove(65, 75) | kPromoB << kMovePromoShift, JgnLegalMove("$e7e8=b", &b));
  EXPECT_EQ(MakeMove(61, 71) | kPromoQ << kMovePromoShift, JgnLegalMove("a7a8", &b));
  EXPECT_EQ(0u, JgnLegalMove("Ka3", &b));
  EXPECT_FATAL(JgnLegalMove("$e7e8k", &b), "JgnLegalMove: bad string [$e7e8k]");
  // A move word for a non-promotion matches only its two squares.
  EXPECT_FATAL(JgnLegalMove("Ka3-b4Q", &b), "JgnLegalMove: bad string [Ka3-b4Q]");
}

TEST(JgnLegalMove, IllegalMoveEndsTheProcess) {
  Ccc b;
  CccStartPos(&b);
  EXPECT_EQ(MakeMove(15, 35), JgnLegalMove("e2-e4", &b));
  EXPECT_FATAL(JgnLegalMove("e2-e5", &b), "JgnLegalMove: bad string [e2-e5]");
  EXPECT_FATAL(JgnLegalMove("0-0", &b), "JgnLegalMove: bad string [0-0]");
}

TEST(CccStartPos, IsTheInitialPosition) {
  Ccc b;
  CccStartPos(&b);
  EXPECT_EQ(1, b.wtm);
  EXPECT_EQ(4, b.castL + b.castS + b.castl + b.casts);
  EXPECT_EQ(26, CccCell(&b, 5));
  EXPECT_EQ(11, CccCell(&b, 75));
  uint32_t moves[kCccMaxMoves];
  EXPECT_EQ(20, CccGenMoves(&b, moves));
}

TEST(CccJgnRead, SelectsByNumberAndByName) {
  GameDirs dirs;
  ScopedCwd cwd(dirs.work.path());
  WriteFile("games.JGN", kGames);
  static CccGame g;

  CccJgnRead("games.JGN", &g);
  EXPECT_STREQ("games.JGN / 1 (Smith)", g.name);
  EXPECT_EQ(2, g.count);
  EXPECT_EQ(2, g.current);  // shown after the last move
  EXPECT_STREQ("", g.annotator);
  ExpectSamePosition(
      FromString("rnbqkbnrpppp.ppp............p.......P...........PPPP.PPPRNBQKBNRwLSls"),
      Replay(g, g.count));

  CccJgnRead("games.JGN/2", &g);
  EXPECT_STREQ("games.JGN / 2 (Jones)", g.name);
  EXPECT_STREQ("Mr Big Name", g.annotator);
  EXPECT_STREQ("some remark", g.remark);
  EXPECT_EQ(1, g.count);
  EXPECT_EQ(MakeMove(14, 34), g.moves[0]);

  CccJgnRead("games.JGN/3", &g);
  EXPECT_STREQ("games.JGN / 3 (NONAME)", g.name);
  EXPECT_EQ(MakeMove(13, 33), g.moves[0]);

  // By name: the first game of that name; the name is cut in the label.
  CccJgnRead("games.JGN/Smith", &g);
  EXPECT_STREQ("games.JGN / 1 (Smith)", g.name);
  CccJgnRead("games/AVeryLongGameNameThatIsCut", &g);
  EXPECT_STREQ("games.JGN / 5 (AVeryLongGameNameTha)", g.name);
  EXPECT_EQ(MakeMove(12, 22), g.moves[0]);

  EXPECT_FATAL(CccJgnRead("games.JGN/0", &g), "CccJgnRead: 0 not found");
  EXPECT_FATAL(CccJgnRead("games.JGN/6", &g), "CccJgnRead: 6 not found");
  EXPECT_FATAL(CccJgnRead("games.JGN/Brown", &g), "CccJgnRead: Brown not found");
  EXPECT_FATAL(CccJgnRead("nofile/2", &g), "CccJgnRead: 'nofile' open failed");
}

TEST(CccJgnRead, TagWordsSplitAtHighBytes) {
  GameDirs dirs;
  ScopedCwd cwd(dirs.work.path());
  WriteFile("g.JGN", "[game] [annotator Jan\xA0Timman\xFF] [x] [] [remark]");
  static CccGame g;
  CccJgnRead("g", &g);
  EXPECT_STREQ("Jan Timman", g.annotator);
  EXPECT_STREQ("", g.remark);
  EXPECT_EQ(0, g.count);
}

TEST(CccJgnRead, PosjGivesTheStartAndIsShownFirst) {
  GameDirs dirs;
  ScopedCwd cwd(dirs.work.path());
  WriteFile("p.JGN",
            "[game promo] (the kings: a3, h6)\n[posj]\n"
            " ........ P...P... .......k\n ........ ........ K.......\n"
            " ...p.... ........\n w . . . .\n"
            "1. e7-e8N $d2d1r 2. a7-a8 Kh6-g5 *\n");
  static CccGame g;
  CccJgnRead("p.JGN", &g);
  Ccc start = FromString(
      "........P...P..........k................K..........p............w....");
  ExpectSamePosition(start, g.position);
  EXPECT_EQ(0, g.current);
  EXPECT_EQ(4, g.count);
  ExpectSamePosition(
      FromString(
          "Q...N.........................k.........K..................r....w...."),
      Replay(g, 4));
}

TEST(CccJgnRead, PosjDropsMovesOfTheOldStart) {
  GameDirs dirs;
  ScopedCwd cwd(dirs.work.path());
  WriteFile("p.JGN",
            "[game] e2-e4 [posj] ....k... ................................"
            "................ ....K... b.... Ke8-d8 Ke1-e2 [game] d2-d4");
  static CccGame g;
  CccJgnRead("p", &g);
  EXPECT_EQ(0, g.current);
  ASSERT_EQ(2, g.count);
  EXPECT_EQ(MakeMove(75, 74), g.moves[0]);
  EXPECT_EQ(MakeMove(5, 15), g.moves[1]);
}

TEST(CccJgnRead, CastlingWords) {
  GameDirs dirs;
  ScopedCwd cwd(dirs.work.path());
  WriteFile("c.JGN",
            "[game] [posj] r...k..r pppppppp ................................"
            " PPPPPPPP R...K..R wLSls  O-O 0-0-0+ 0-0\n");
  static CccGame g;
  CccJgnRead("c.JGN", &g);
  ASSERT_EQ(2, g.count);
  EXPECT_EQ(kCastleWL, g.moves[0]);
  EXPECT_EQ(kCastleZS, g.moves[1]);
  Ccc end = Replay(g, 2);
  EXPECT_EQ(26, CccCell(&end, 3));   // king c1
  EXPECT_EQ(22, CccCell(&end, 4));   // rook d1
  EXPECT_EQ(11, CccCell(&end, 77));  // king g8
  EXPECT_EQ(7, CccCell(&end, 76));   // rook f8
}

TEST(CccJgnRead, IllegalMoveInAGame) {
  GameDirs dirs;
  ScopedCwd cwd(dirs.work.path());
  WriteFile("bad.JGN", "[game] 1. e2-e4 e7-e5 2. e4-e5 *");
  static CccGame g;
  EXPECT_FATAL(CccJgnRead("bad", &g), "JgnLegalMove: bad string [e4-e5]");
  WriteFile("cut.JGN", "[game] [posj] rnbqkbnr");
  EXPECT_FATAL(CccJgnRead("cut", &g), "JgnChar: unexpected EOF in cut.JGN/1");
}

TEST(CccJgnRead, EightHundredMovesFitAndMoreAreRefused) {
  GameDirs dirs;
  ScopedCwd cwd(dirs.work.path());
  std::string moves;
  for (int i = 0; i < 200; ++i) moves += "g1-f3 g8-f6 f3-g1 f6-g8\n";
  WriteFile("long.JGN", "[game long] " + moves + "[game longer] " + moves + "b1-c3\n");
  static CccGame g;
  CccJgnRead("long", &g);
  EXPECT_EQ(kGameMoves, g.count);
  ExpectSamePosition(FromString(kInitialPosition), Replay(g, g.count));
  EXPECT_FATAL(CccJgnRead("long/2", &g), "CccJgnRead: 2 (longer) has more than 800 moves");
}

TEST(CccJgnRead, LooksInFourPlaces) {
  EXPECT_STREQ(kPositionDir, g_position_dir);
  GameDirs dirs;
  ScopedCwd cwd(dirs.work.path());
  const std::string fixed = dirs.fixed_dir;
  WriteFile("a.JGN", "[game a]");
  WriteFile("b", "[game b]");
  WriteFile(fixed + "c", "[game c]");
  WriteFile(fixed + "d.JGN", "[game d]");
  WriteFile(fixed + "a.JGN", "[game fixed]");
  PlatMkdir("e");
  WriteFile("e.JGN", "[game e]");
  PlatMkdir("sub");
  WriteFile("sub/f.JGN", "[game f1] [game f2]");
  static CccGame g;
  CccJgnRead("a", &g);
  EXPECT_STREQ("a.JGN / 1 (a)", g.name);
  CccJgnRead("b/1", &g);
  EXPECT_STREQ("b / 1 (b)", g.name);
  CccJgnRead("c", &g);
  EXPECT_EQ(fixed + "c / 1 (c)", g.name);
  CccJgnRead("d.JGN", &g);
  EXPECT_EQ(fixed + "d.JGN / 1 (d)", g.name);
  CccJgnRead("d/1", &g);
  EXPECT_EQ(fixed + "d.JGN / 1 (d)", g.name);
  CccJgnRead("e", &g);  // a directory is no game file
  EXPECT_STREQ("e.JGN / 1 (e)", g.name);
  CccJgnRead("sub/f/2", &g);
  EXPECT_STREQ("sub/f.JGN / 2 (f2)", g.name);
  CccJgnRead("sub/f.JGN", &g);
  EXPECT_STREQ("sub/f.JGN / 1 (f1)", g.name);
  EXPECT_FATAL(CccJgnRead("sub/g/f2", &g), "CccJgnRead: 'sub/g' open failed");
}

// A start position that is no position of chess stops zok with the file and
// the game as it was asked for.
TEST(CccJgnRead, IllegalPosjIsNamed) {
  TempDir dir;
  const std::string empty(48, '.');
  WriteFile(dir.File("g.JGN"), "[game one] [posj] ........ " + empty + " ....k... b.... "
                               "[game two] [posj] k......R " + empty + " K....... w....\n");
  struct Case {
    const char* args;
    const char* message;
  };
  for (const Case& c : {Case{"-p g/1", "CccJgnRead: g.JGN/1: white has no king"},
                        Case{"-p g.JGN/two",
                             "CccJgnRead: g.JGN/two: black is in check with white to move"}}) {
    RunResult r = RunZok(c.args, dir.path());
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(r.output, Banner() + "\n\nERROR: " + c.message + "\n");
  }
}
