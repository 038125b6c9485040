// -d (the tree of endgames an endgame depends on) and -e (enumeration of
// endgames), end to end.
#include <gtest/gtest.h>

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
  for (const char* n : {"KQRK___", "KRRK___", "KRBK___", "KRNK___", "KRPK___", "KQRKR__",
                        "KRRKR__", "KRBKR__", "KRNKR__", "KRKR___", "KPKR___"})
    krpkr += std::string("\n  ........ *") + n + "X";
  RunCases(dir.path(),
           {{"-d KQRKR", 0,
             "\n *KQRKR__X\n  ........ *KQRK___X\n  ........  ........ *KQK____X"
             "\n  ........  ........ *KRK____X\n  ........ *KQKR___X\n  ........ *KRKR___X" +
                 kClosing},
            {"-d krpkr 1", 0, krpkr + kClosing},
            {"-d KKQ", 0, kClosing},
            {"-d", 1, "\n\nERROR: ExeDeps: too few args\n"},
            {"-d KRQK", 1, "\n\nERROR: MakeBasi: bad order\n"}});
  // Found only when both databases of the endgame are there.
  WriteFile(dir.File("KQK____W.JIX"), "");
  RunCases(dir.path(), {{"-d KQK 0", 0, "\n *KQK____X" + kClosing}});
  WriteFile(dir.File("KQK____B.JIX"), "");
  RunCases(dir.path(), {{"-d KQK 0", 0, "\n  KQK____X" + kClosing},
                        {"-d KQKR", 0, "\n *KQKR___X\n  ........  KQK____X" + kClosing}});
}

TEST(ExeEnum, ListsTheEndgamesOfEachPattern) {
  TempDir dir;
  RunCases(dir.path(),
           {{"-e w ww", 0,
             "\nKQK\nKRK\nKBK\nKNK\nKPK   count w = 5   total = 5"
             "\nKQQK\nKQRK\nKQBK\nKQNK\nKQPK\nKRRK\nKRBK\nKRNK\nKRPK\nKBBK\nKBNK\nKBPK\nKNNK"
             "\nKNPK\nKPPK   count ww = 15   total = 20\n"},
            {"-e", 0, "\n"},
            {"-e b", 1, "\n\nERROR: ExeEnum: white needs more than just K\n"},
            {"-e wwwwwb", 1, "\n\nERROR: ExeEnum: max 5 pieces per side\n"},
            {"-e wbx", 1, "\n\nERROR: ExeEnum: trailing junk [x] in [wbx]\n"},
            // A refused pattern after a good one: the good one is printed first.
            {"-e w b", 1,
             "\nKQK\nKRK\nKBK\nKNK\nKPK   count w = 5   total = 5"
             "\n\nERROR: ExeEnum: white needs more than just K\n"}});
  // Patterns with black men: KQKQ and on, in the order of the piece codes.
  RunResult wb = RunZok("-e wb", dir.path());
  EXPECT_EQ(wb.output.substr(79, 35), "\nKQKQ\nKQKR\nKQKB\nKQKN\nKQKP\nKRKQ\nKRKR");
  EXPECT_NE(wb.output.find("KPKP   count wb = 25   total = 25\n"), std::string::npos);
  RunResult big = RunZok("-e WWzB", dir.path());
  EXPECT_NE(big.output.find("count WWzB = 225   total = 225\n"), std::string::npos);
}

}  // namespace
