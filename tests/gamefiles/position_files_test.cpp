// Reading positions (.EPD): a line by number, and every malformed or
// illegal line named with the file and line.
#include "gamefiles/position_files.h"

#include <gtest/gtest.h>

#include <string>

#include "board/board.h"
#include "test_support.h"

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
  EXPECT_FATAL(CccEpdRead("set/abc", &g), "CccEpdRead: line [abc] not found");
  EXPECT_FATAL(CccEpdRead("none.EPD/1", &g), "CccEpdRead: 'none.EPD' open failed");
}

// Every position the browser is handed is one of chess: a file line that is
// no such position, or no position at all, stops zok with the file, the line
// and what is wrong.
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
      {"k7/8/8/8/8/8/8/K7 w -", "EpdSpos: missing ep in X.EPD/14"},
      {"k7/8/8/8/8/8/8/K7 w - - bm", "EpdExtra: missing bm in X.EPD/15"},
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
  // The path named is the one that opened.
  RunResult r = RunZok("-pe X/1", dir.path());
  EXPECT_EQ(r.output, Banner() + "\n\nERROR: CccEpdRead: X.EPD/1: black has no king\n");
}
