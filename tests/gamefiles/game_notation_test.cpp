// Reading games (.JGN): selection by number and name, the four places a file
// is looked for, and illegal positions and moves named with the file and
// game. The browser tests show a [posj] start position.
#include "gamefiles/game_notation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "board/board.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

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

TEST(CccJgnRead, IllegalMoveInAGame) {
  GameDirs dirs;
  ScopedCwd cwd(dirs.work.path());
  WriteFile("bad.JGN", "[game] 1. e2-e4 e7-e5 2. e4-e5 *");
  static CccGame g;
  EXPECT_FATAL(CccJgnRead("bad", &g), "JgnLegalMove: bad string [e4-e5]");
  WriteFile("cut.JGN", "[game] [posj] rnbqkbnr");
  EXPECT_FATAL(CccJgnRead("cut", &g), "JgnChar: unexpected EOF in cut.JGN/1");
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
