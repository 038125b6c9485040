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

// A work directory and a fixed position directory for the test's span.
struct GameDirs {
  TempDir work, fixed;
  std::string fixed_dir = fixed.path() + "/";
  ScopedCwd cwd{work.path()};
  GameDirs() { g_position_dir = fixed_dir.c_str(); }
  ~GameDirs() { g_position_dir = kPositionDir; }
};

// Reads each name and expects the game's label.
void ExpectLabels(const std::vector<std::pair<std::string, std::string>>& cases) {
  static CccGame g;
  for (const auto& [arg, label] : cases) {
    CccJgnRead(arg.c_str(), &g);
    EXPECT_EQ(g.name, label) << arg;
  }
}

}  // namespace

TEST(CccJgnRead, SelectsByNumberAndByName) {
  GameDirs dirs;
  WriteFile("games.JGN",
            "[game Smith] 1. e2-e4 (a (nested) comment) e7-e5\n"
            "[game Jones]\n[annotator Mr  Big\tName] [remark  some\nremark ]\n1. d2-d4 1-0\n"
            "[game]\n1. c2-c4\n[game Smith] 1. g2-g3\n"
            "[game AVeryLongGameNameThatIsCut] 1. b2-b3\n");
  static CccGame g;
  CccJgnRead("games.JGN", &g);
  EXPECT_EQ(2, g.count);
  EXPECT_EQ(2, g.current);  // shown after the last move
  Ccc b = g.position, want;
  for (int i = 0; i < g.count; ++i) CccDoMove(&b, g.moves[i]);
  CccSetString("rnbqkbnrpppp.ppp............p.......P...........PPPP.PPPRNBQKBNRwLSls", &want);
  EXPECT_EQ(0, memcmp(want.sqrx, b.sqrx, sizeof b.sqrx));
  EXPECT_TRUE(b.wtm == want.wtm && b.castL == want.castL && b.castl == want.castl);
  CccJgnRead("games.JGN/2", &g);
  EXPECT_STREQ("Mr Big Name", g.annotator);
  EXPECT_STREQ("some remark", g.remark);
  EXPECT_EQ(1, g.count);
  EXPECT_EQ(MakeMove(14, 34), g.moves[0]);
  // By name: the first game of that name; the name is cut in the label.
  ExpectLabels({{"games.JGN", "games.JGN / 1 (Smith)"},
                {"games.JGN/2", "games.JGN / 2 (Jones)"},
                {"games.JGN/3", "games.JGN / 3 (NONAME)"},
                {"games.JGN/Smith", "games.JGN / 1 (Smith)"},
                {"games/AVeryLongGameNameThatIsCut", "games.JGN / 5 (AVeryLongGameNameTha)"}});
  EXPECT_FATAL(CccJgnRead("games.JGN/6", &g), "CccJgnRead: 6 not found");
  EXPECT_FATAL(CccJgnRead("games.JGN/Brown", &g), "CccJgnRead: Brown not found");
  WriteFile("bad.JGN", "[game] 1. e2-e4 e7-e5 2. e4-e5 *");
  EXPECT_FATAL(CccJgnRead("bad", &g), "JgnLegalMove: bad string [e4-e5]");
  WriteFile("cut.JGN", "[game] [posj] rnbqkbnr");
  EXPECT_FATAL(CccJgnRead("cut", &g), "JgnChar: unexpected EOF in cut.JGN/1");
}

// The name as given, with .JGN added, then both in the fixed directory; a
// directory is no game file.
TEST(CccJgnRead, LooksInFourPlaces) {
  EXPECT_STREQ(kPositionDir, g_position_dir);
  GameDirs dirs;
  const std::string fixed = dirs.fixed_dir;
  PlatMkdir("sub");
  for (const char* name : {"a.JGN", "b", "e.JGN", "sub/f.JGN"}) {
    WriteFile(name, std::string("[game ") + name[0] + "] [game " + name[0] + "2]");
  }
  WriteFile(fixed + "c", "[game c]");
  WriteFile(fixed + "d.JGN", "[game d]");
  WriteFile(fixed + "a.JGN", "[game fixed]");
  PlatMkdir("e");
  ExpectLabels({{"a", "a.JGN / 1 (a)"},
                {"b/1", "b / 1 (b)"},
                {"c", fixed + "c / 1 (c)"},
                {"d.JGN", fixed + "d.JGN / 1 (d)"},
                {"d/1", fixed + "d.JGN / 1 (d)"},
                {"e", "e.JGN / 1 (e)"},
                {"sub/f/2", "sub/f.JGN / 2 (s2)"}});
  static CccGame g;
  EXPECT_FATAL(CccJgnRead("sub/g/f2", &g), "CccJgnRead: 'sub/g' open failed");
}

// A start position that is no position of chess stops zok with the file and
// the game as it was asked for (what is wrong: the position file tests).
TEST(CccJgnRead, IllegalPosjIsNamed) {
  TempDir dir;
  WriteFile(dir.File("g.JGN"), "[game one] [game two] [posj] k......R " + std::string(48, '.') +
                                   " K....... w....\n");
  RunResult r = RunZok("-p g.JGN/two", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, Banner() + "\n\nERROR: CccJgnRead: g.JGN/two: black is in check with "
                                 "white to move\n");
}
