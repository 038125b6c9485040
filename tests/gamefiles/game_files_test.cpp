// Reading games (.JGN) and positions (.EPD): selection, the places looked in,
// and every illegal or malformed game or line named with its file and number.
#include <gtest/gtest.h>

#include <string>

#include "board/board.h"
#include "gamefiles/game_notation.h"
#include "gamefiles/position_files.h"
#include "platform/platform.h"
#include "test_support.h"
namespace {

// A work directory and a fixed position directory for the test's span.
struct GameDirs {
  TempDir work, fixed;
  std::string fixed_dir = fixed.path() + "/";
  ScopedCwd cwd{work.path()};
};

// Reads each name and expects the game's label.
void ExpectLabels(const std::vector<std::pair<std::string, std::string>>& cases,
                  const char* fixed_dir = kPositionDir) {
  static CccGame g;
  for (const auto& [arg, label] : cases) {
    CccJgnRead(arg.c_str(), &g, fixed_dir);
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
  EXPECT_TRUE(g.moves[0] == MakeMove(15, 35) && g.moves[1] == MakeMove(65, 45));
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
  GameDirs dirs;
  const std::string fixed = dirs.fixed_dir;
  PlatMkdir("sub");
  for (const char* name : {"a.JGN", "b", "e.JGN", "sub/f.JGN"})
    WriteFile(name, std::string("[game ") + name[0] + "] [game " + name[0] + "2]");
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
                {"sub/f/2", "sub/f.JGN / 2 (s2)"}},
               fixed.c_str());
  static CccGame g;
  EXPECT_FATAL(CccJgnRead("sub/g/f2", &g), "CccJgnRead: 'sub/g' open failed");
}

TEST(CccEpdRead, PicksALineByNumber) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  std::string long_line = "4k3/8/8/8/8/8/8/4K3 w - - id " + std::string(300, 'x');
  WriteFile("set.EPD", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - bm e2e4; id start\n" +
                           long_line + "\n4k3/8/8/8/3pP3/8/8/4K3 b - e3 id ep\r\n\n");
  static CccGame g;
  CccEpdRead("set.EPD", &g);
  EXPECT_STREQ("set.EPD / 1 (start)", g.name);
  EXPECT_STREQ("bm e2e4;", g.remark);
  EXPECT_EQ(0, g.count);
  EXPECT_EQ(1, g.position.castL);
  // A line longer than the buffer is cut and still counts as one line.
  CccEpdRead("set/2", &g);
  EXPECT_EQ(std::string("set.EPD / 2 (") + std::string(86, 'x'), g.name);
  CccEpdRead("set/3", &g);
  EXPECT_STREQ("set.EPD / 3 (ep)", g.name);
  EXPECT_EQ(25, g.position.eps);
  EXPECT_FATAL(CccEpdRead("set/4", &g), "EpdSpos: missing pos in set.EPD/4");
  EXPECT_FATAL(CccEpdRead("set/5", &g), "CccEpdRead: line [5] not found");
  EXPECT_FATAL(CccEpdRead("none.EPD/1", &g), "CccEpdRead: 'none.EPD' open failed");
}

// Every position the browser is handed is one of chess: a file line (or a
// game's start position) that is no such position, or no position at all,
// stops zok with the file, the line (or game) as asked for and what is wrong.
TEST(CccEpdRead, IllegalAndMalformedPositionsAreNamed) {
  const char* const kCases[][2] = {
      {"8/8/8/8/8/8/8/K7 w - -", "CccEpdRead: X.EPD/1: black has no king"},
      {"kk6/8/8/8/8/8/8/K7 w - -", "CccEpdRead: X.EPD/2: black has 2 kings"},
      {"k7/8/8/8/8/8/Q7/K7 w - -", "CccEpdRead: X.EPD/3: black is in check with white to move"},
      {"k6P/8/8/8/8/8/8/K7 b - -", "CccEpdRead: X.EPD/4: white pawn on h8"},
      {"k7/pppppppp/p7/8/8/8/8/K7 w - -", "CccEpdRead: X.EPD/5: black has 9 pawns"},
      {"k7/8/8/8/8/8/PPPPPPP1/KQQQ4 w - -",
       "CccEpdRead: X.EPD/6: white has 2 promoted pieces for 1 missing pawn"},
      {"k7/8/8/QQQQQQQQ/QQQQQQQQ/QQ6/8/K7 b - -", "CccEpdRead: X.EPD/7: white has 19 men"},
      {"k8/8/8/8/8/8/8/K6 w - -", "EpdSpos: rank 8 too long in X.EPD/8"},
      {"k7/7/8/8/8/8/8/K7/8 w - -", "EpdSpos: rank 7 too short in X.EPD/9"},
      {"k7/8/8/8/8/8/8/K6X w - -", "EpdSpos: bad character 0x58 in X.EPD/10"},
      {"k7/8/8/8/8/8/8/K7 x - -", "EpdSpos: bad stm [x] in X.EPD/11"},
      {"k7/8/8/8/8/8/8/K7 w KQx -", "EpdSpos: bad castle in X.EPD/12"},
      {"k7/8/8/8/8/8/8/K7 w - e5", "EpdSpos: bad ep in X.EPD/13"},
      {"k7/8/8/8/8/8/8/K7 w - - bm", "EpdExtra: missing bm in X.EPD/14"},
  };
  TempDir dir;
  std::string file;
  for (const auto& c : kCases) file += std::string(c[0]) + "\n";
  WriteFile(dir.File("X.EPD"), file);
  for (size_t i = 0; i < std::size(kCases); ++i) {
    RunResult r = RunZok("-pe X.EPD/" + std::to_string(i + 1), dir.path());
    EXPECT_EQ(r.status, 1) << kCases[i][0];
    EXPECT_EQ(r.output, Banner() + "\n\nERROR: " + kCases[i][1] + "\n");
  }
  RunResult r = RunZok("-pe", dir.path());
  EXPECT_EQ(r.output, Banner() + "\n\nERROR: ExeDemo: too few args\n");
  r = RunZok("-pe X/1", dir.path());  // the path named is the one that opened
  EXPECT_EQ(r.output, Banner() + "\n\nERROR: CccEpdRead: X.EPD/1: black has no king\n");
  WriteFile(dir.File("g.JGN"),
            "[game one] [game two] [posj] k......R " + std::string(48, '.') + " K....... w....\n");
  r = RunZok("-p g.JGN/two", dir.path());
  EXPECT_EQ(r.output, Banner() +
                          "\n\nERROR: CccJgnRead: g.JGN/two: black is in check with "
                          "white to move\n");
}
