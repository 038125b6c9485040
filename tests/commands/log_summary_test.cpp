// -sum, end to end: the build logs of directories summarised and totalled.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "test_support.h"

namespace {

std::string TimeLine(double t, int w, int z, double fw, double fz) {
  char text[128];
  snprintf(text, sizeof text, "\nTime %8.1f   Ply %3d %3d   File %10.0f %10.0f\n", t, w, z, fw,
           fz);
  return text;
}

// KQK: a finished build. KQKR: cleared and built again, two Time lines;
// only the first counts. KRK: not finished. KPK (in b): the larger second
// ply comes from another log than the larger first ply. A line longer than
// the reader's buffer is not cut into a false time line. Without arguments
// the current directory; a mistyped directory is no empty one, and is named.
TEST(ExeSum, SummarisesEachLogAndTotalsOverDirectories) {
  TempDir dir;
  for (const char* d : {"a", "b", "empty", "long"}) mkdir(dir.File(d).c_str(), 0777);
  WriteFile(dir.File("a/KQK.LOF"), "banner\n-01 line\n" + TimeLine(12.34, 19, 20, 5000, 7000) +
                                       "Maxes:  0 Error\n");
  WriteFile(dir.File("a/KQKR.LOF"), TimeLine(3600, 69, 68, 3000000000.0, 1500000000.0) +
                                        TimeLine(1, 1, 1, 1, 1));
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
  const std::string missing = "\n\nERROR: ExeSum: nowhere: no such directory\n";
  const struct {
    const char* args;
    int status;
    std::string output;
  } kCases[] = {
      {"-sum a empty b", 0,
       "\na/*.LOF ..."
       "\nKQK.LOF          12.3    19  20           5000         7000"
       "\nKQKR.LOF       3600.0    69  68     3000000000   1500000000"
       "\nKRK.LOF   "
       "\nempty/*.LOF ..."
       "\nb/*.LOF ..."
       "\nKPK.LOF       86400.0    55 156        1048576      2097152"
       "\n"
       "\nALL : found                 3"
       "\nALL : sum time        90012.3         25.0 hour       1.04 day"
       "\nALL : max ply          69,156"
       "\nALL : sum size w   3001053576     2862.028 MB"
       "\nALL : sum size b   1502104152     1432.518 MB        4.194 GB"
       "\n"},
      {"-sum", 0, "\n./*.LOF ..." + none},  // run in "empty"
      {"-sum empty", 0, "\nempty/*.LOF ..." + none},
      {"-sum long", 0, "\nlong/*.LOF ...\nA.LOF     " + none},
      {"-sum . nowhere", 1, missing},
      {"-sum a/KQK.LOF", 1, "\n\nERROR: ExeSum: a/KQK.LOF: no such directory\n"},
  };
  for (const auto& c : kCases) {
    RunResult r = RunZok(c.args, c.args[4] == 0 ? dir.File("empty") : dir.path());
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.output, Banner() + c.output) << c.args;
  }
}

}  // namespace
