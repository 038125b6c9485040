// The report commands end to end: -d (dependency tree), -e, -sum and -ll.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kClosing = "\n\nFiles marked * were not found.\n";

struct Case {
  std::string args;
  int status;
  std::string output;  // after the banner
};

void RunCases(const std::string& dir, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    RunResult r = RunZok(c.args, dir);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.output, Banner() + c.output) << c.args;
  }
}

TEST(ExeDeps, PrintsTheTreeAndMarksMissingDatabases) {
  TempDir dir;
  std::string krpkr = "\n *KRPKR__X";
  for (const char* n : {"KQRK___", "KRRK___", "KRBK___", "KRNK___", "KRPK___", "KQRKR__", "KRRKR__",
                        "KRBKR__", "KRNKR__", "KRKR___", "KPKR___"})
    krpkr += std::string("\n  ........ *") + n + "X";
  RunCases(dir.path(), {{"-d KQRKR", 0,
                         "\n *KQRKR__X\n  ........ *KQRK___X\n  ........  ........ *KQK____X"
                         "\n  ........  ........ *KRK____X\n  ........ *KQKR___X\n  ........ *KRKR___X" +
                             kClosing},
                        {"-d krpkr 1", 0, krpkr + kClosing},
                        {"-d KKQ", 0, kClosing},
                        {"-d", 1, "\n\nERROR: ExeDeps: too few args\n"}});
  // Found only when both databases of the endgame are there.
  WriteFile(dir.File("KQK____W.JIX"), "");
  RunCases(dir.path(), {{"-d KQK 0", 0, "\n *KQK____X" + kClosing}});
  WriteFile(dir.File("KQK____B.JIX"), "");
  RunCases(dir.path(), {{"-d KQK 0", 0, "\n  KQK____X" + kClosing},
                        {"-d KQKR", 0, "\n *KQKR___X\n  ........  KQK____X" + kClosing}});
}

TEST(ExeEnum, ListsTheEndgamesOfEachPattern) {
  TempDir dir;
  RunCases(dir.path(), {{"-e w ww", 0,
                         "\nKQK\nKRK\nKBK\nKNK\nKPK   count w = 5   total = 5"
                         "\nKQQK\nKQRK\nKQBK\nKQNK\nKQPK\nKRRK\nKRBK\nKRNK\nKRPK\nKBBK\nKBNK\nKBPK\nKNNK"
                         "\nKNPK\nKPPK   count ww = 15   total = 20\n"},
                        {"-e", 0, "\n"},
                        {"-e wwwwwb", 1, "\n\nERROR: ExeEnum: max 5 pieces per side\n"},
                        {"-e wbx", 1, "\n\nERROR: ExeEnum: trailing junk [x] in [wbx]\n"},
                        // A refused pattern after a good one: the good one is printed first.
                        {"-e w b", 1,
                         "\nKQK\nKRK\nKBK\nKNK\nKPK   count w = 5   total = 5"
                         "\n\nERROR: ExeEnum: white needs more than just K\n"}});
}

std::string TimeLine(double t, int w, int z, double fw, double fz) {
  char text[128];
  snprintf(text, sizeof text, "\nTime %8.1f   Ply %3d %3d   File %10.0f %10.0f\n", t, w, z, fw, fz);
  return text;
}

// KQK: a finished build. KQKR: cleared and built again, two Time lines;
// only the first counts, with the figures of a seven-man build, wider than
// their fields and past 2^32. KRK: not finished. KPK (in b): the larger second
// ply comes from another log than the larger first ply. A line longer than
// the reader's buffer is not cut into a false time line. Without arguments
// the current directory; a mistyped directory is no empty one, and is named.
TEST(ExeSum, SummarisesEachLogAndTotalsOverDirectories) {
  TempDir dir;
  for (const char* d : {"a", "b", "empty", "long"}) mkdir(dir.File(d).c_str(), 0777);
  WriteFile(dir.File("a/KQK.LOF"),
            "banner\n-01 line\n" + TimeLine(12.34, 19, 20, 5000, 7000) + "Maxes:  0 Error\n");
  WriteFile(dir.File("a/KQKR.LOF"),
            TimeLine(1234567.8, 69, 68, 687194767360.0, 10737418240.0) + TimeLine(1, 1, 1, 1, 1));
  WriteFile(dir.File("a/KRK.LOF"), "banner\nTime 5 Ply 3\n");
  WriteFile(dir.File("a/NOTES.TXT"), TimeLine(99, 99, 99, 99, 99));
  WriteFile(dir.File("b/KPK.LOF"), "Timex\n" + TimeLine(86400, 55, 156, 1048576, 2097152));
  WriteFile(dir.File("long/A.LOF"), std::string(255, 'x') + TimeLine(7, 7, 7, 7, 7).substr(1));
  const std::string none =
      "\n\nALL : found                 0"
      "\nALL : sum time            0.0          0.0 hour       0.00 day"
      "\nALL : max ply           0,  0"
      "\nALL : sum size w            0        0.000 MB"
      "\nALL : sum size b            0        0.000 MB        0.000 GB\n";
  RunCases(dir.File("empty"), {{"-sum", 0, "\n./*.LOF ..." + none}});
  RunCases(dir.path(), {{"-sum a empty b", 0,
                         "\na/*.LOF ..."
                         "\nKQK.LOF          12.3    19  20           5000         7000"
                         "\nKQKR.LOF    1234567.8    69  68   687194767360  10737418240"
                         "\nKRK.LOF   "
                         "\nempty/*.LOF ..."
                         "\nb/*.LOF ..."
                         "\nKPK.LOF       86400.0    55 156        1048576      2097152"
                         "\n"
                         "\nALL : found                 3"
                         "\nALL : sum time      1320980.1        366.9 hour      15.29 day"
                         "\nALL : max ply          69,156"
                         "\nALL : sum size w 687195820936   655361.005 MB"
                         "\nALL : sum size b  10739522392    10242.007 MB      650.003 GB"
                         "\n"},
                        {"-sum long", 0, "\nlong/*.LOF ...\nA.LOF     " + none},
                        {"-sum . nowhere", 1, "\n\nERROR: ExeSum: nowhere: no such directory\n"}});
}

// KQK's black table has 10 rows of 4096 columns: a progress line every 64
// rows, so only the first and the last. The log keeps at most 100 games.
TEST(ExeList, ListsTheEntriesOfOneValue) {
  const std::string dbs = BuiltDatabases({"KQK"});
  const struct {
    const char* args;
    int status;
    const char* output;  // after the banner, the seconds masked
    size_t games;
    const char* game;  // one of them
  } kCases[] = {
      {"-ll KQK 19", 0,
       "\nPlies = 19\nFound = 0  SSSS.S  hashw o00000000\nFound = 1  SSSS.S  hashw o00003377\n", 1,
       "[game KQK_M010_001] [annotator hash o00000011 o00000045] [posj]\n"
       " . . . . . . . .\n . . . . . . . .\n . . . . . . . .\n . . . . . k . .\n"
       " . . . . . . . .\n . . . . . . . .\n . Q . . . . . .\n K . . . . . . .   w....\n\n"},
      {"-ll KQK 20", 0,
       "\nPlies = 20\nFound = 0  SSSS.S  hashz o00000000\nFound = 8  SSSS.S  hashz o00000033\n", 8,
       "[game KQK_M010_008]"},
      {"-ll KQK 1", 0, nullptr, 100, "[game KQK_M001_100]"},
      {"-ll KQK 508", 0, nullptr, 0, ""},
      {"-ll KQK", 1, "\n\nERROR: ExeList: too few args\n", 0, ""},
      {"-ll KQK 509", 1, "\n\nERROR: ExeList: plies oor [509]: a number from 0 to 508\n", 0, ""},
      {"-ll KQK abc", 1, "\n\nERROR: ExeList: plies oor [abc]: a number from 0 to 508\n", 0, ""},
      {"-ll KQK 19x", 1, "\n\nERROR: ExeList: plies oor [19x]: a number from 0 to 508\n", 0, ""},
      {"-ll KRK 3", 1, "\nPlies = 3\n\n\nERROR: FresFind: KRK____W not found\n", 0, ""},
  };
  for (const auto& c : kCases) {
    TempDir dir;
    CopyDatabases(dbs, dir.path());
    WriteFile(dir.File("OUT.LOG"), "earlier\n");
    RunResult r = RunZok(c.args, dir.path());
    EXPECT_EQ(r.status, c.status) << c.args;
    std::string masked = std::regex_replace(r.output, std::regex("  [0-9]{4}\\.[0-9]  "), "  SSSS.S  ");
    EXPECT_EQ(masked, c.output ? Banner() + c.output : masked) << c.args;
    std::string log = ReadFile(dir.File("OUT.LOG"));
    EXPECT_EQ(log.substr(0, 8), "earlier\n") << c.args;
    size_t games = 0;
    for (size_t p = log.find("[game "); p != std::string::npos; p = log.find("[game ", p + 1)) games++;
    EXPECT_EQ(games, c.games) << c.args;
    EXPECT_NE(log.find(c.game), std::string::npos) << c.args;
  }
}

}  // namespace
