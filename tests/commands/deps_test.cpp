#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string kClosing = "\n\nFiles marked * were not found.\n";

TEST(ExeDeps, FullTreeOfKqrkr) {
  TempDir dir;
  RunResult r = RunZok("-d KQRKR", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, Banner() +
                          "\n *KQRKR__X"
                          "\n  ........ *KQRK___X"
                          "\n  ........  ........ *KQK____X"
                          "\n  ........  ........ *KRK____X"
                          "\n  ........ *KQKR___X"
                          "\n  ........ *KRKR___X" +
                          kClosing);
}

TEST(ExeDeps, DepthOneOfAPawnEndgame) {
  TempDir dir;
  RunResult r = RunZok("-d krpkr 1", dir.path());
  EXPECT_EQ(r.status, 0);
  std::string expected = Banner() + "\n *KRPKR__X";
  for (const char* child : {"KQRK___X", "KRRK___X", "KRBK___X", "KRNK___X", "KRPK___X", "KQRKR__X",
                            "KRRKR__X", "KRBKR__X", "KRNKR__X", "KRKR___X", "KPKR___X"}) {
    expected += std::string("\n  ........ *") + child;
  }
  EXPECT_EQ(r.output, expected + kClosing);
}

TEST(ExeDeps, StarOnlyWhenADatabaseIsMissing) {
  TempDir dir;
  EXPECT_EQ(RunZok("-d KQK 0", dir.path()).output, Banner() + "\n *KQK____X" + kClosing);
  WriteFile(dir.File("KQK____W.JIX"), "");
  EXPECT_EQ(RunZok("-d KQK 0", dir.path()).output, Banner() + "\n *KQK____X" + kClosing);
  WriteFile(dir.File("KQK____B.JIX"), "");
  EXPECT_EQ(RunZok("-d KQK 0", dir.path()).output, Banner() + "\n  KQK____X" + kClosing);
  EXPECT_EQ(RunZok("-d KQKR", dir.path()).output,
            Banner() + "\n *KQKR___X\n  ........  KQK____X" + kClosing);
}

TEST(ExeDeps, BareWhiteKingPrintsNothing) {
  TempDir dir;
  EXPECT_EQ(RunZok("-d KKQ", dir.path()).output, Banner() + kClosing);
}

TEST(ExeDeps, Errors) {
  TempDir dir;
  RunResult r = RunZok("-d", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, Banner() + "\n\nERROR: ExeDeps: too few args\n");
  r = RunZok("-d KRQK", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, Banner() + "\n\nERROR: MakeBasi: bad order\n");
}

// The names of one pattern, made by plain nested loops over the piece order.
std::vector<std::string> Names(int white_men, int black_men) {
  const std::string order = "QRBNP";
  std::vector<std::string> sides[2];
  for (int side = 0; side < 2; side++) {
    int n = side == 0 ? white_men : black_men;
    std::vector<std::string> acc = {"K"};
    for (int i = 1; i < n; i++) {
      std::vector<std::string> next;
      for (const std::string& s : acc) {
        size_t from = s.size() == 1 ? 0 : order.find(s.back());
        for (size_t k = from; k < order.size(); k++) next.push_back(s + order[k]);
      }
      acc = next;
    }
    sides[side] = acc;
  }
  std::vector<std::string> out;
  for (const std::string& w : sides[0]) {
    for (const std::string& b : sides[1]) out.push_back(w + b);
  }
  return out;
}

std::string Listing(const std::string& pattern, int white_men, int black_men, int* total) {
  std::string s;
  std::vector<std::string> names = Names(white_men, black_men);
  for (const std::string& n : names) s += "\n" + n;
  *total += static_cast<int>(names.size());
  return s + "   count " + pattern + " = " + std::to_string(names.size()) +
         "   total = " + std::to_string(*total);
}

TEST(ExeEnum, CountsAndOrder) {
  TempDir dir;
  struct Case {
    std::string args;
    std::vector<std::pair<int, int>> men;
    int last_total;
  };
  for (const Case& c : {Case{"w", {{2, 1}}, 5}, Case{"ww", {{3, 1}}, 15}, Case{"wb", {{2, 2}}, 25},
                        Case{"w wb", {{2, 1}, {2, 2}}, 30}, Case{"WWzB", {{3, 3}}, 225}}) {
    int total = 0;
    std::string expected = Banner();
    size_t start = 0;
    for (auto [w, b] : c.men) {
      size_t end = c.args.find(' ', start);
      std::string pattern = c.args.substr(start, end - start);
      expected += Listing(pattern, w, b, &total);
      start = end + 1;
    }
    RunResult r = RunZok("-e " + c.args, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, expected + "\n") << c.args;
    EXPECT_EQ(total, c.last_total);
  }
  RunResult wb = RunZok("-e wb", dir.path());
  EXPECT_EQ(wb.output.substr(79, 35), "\nKQKQ\nKQKR\nKQKB\nKQKN\nKQKP\nKRKQ\nKRKR");
}

TEST(ExeEnum, NoPatternPrintsALineEnd) {
  TempDir dir;
  EXPECT_EQ(RunZok("-e", dir.path()).output, Banner() + "\n");
}

TEST(ExeEnum, RefusedPatterns) {
  TempDir dir;
  struct Case {
    const char* args;
    const char* message;
  };
  for (const Case& c : {Case{"b", "ExeEnum: white needs more than just K"},
                        Case{"wwwwwb", "ExeEnum: max 5 pieces per side"},
                        Case{"wbbbbb", "ExeEnum: max 5 pieces per side"},
                        Case{"wbx", "ExeEnum: trailing junk [x] in [wbx]"},
                        Case{"wbw", "ExeEnum: trailing junk [w] in [wbw]"}}) {
    RunResult r = RunZok(std::string("-e ") + c.args, dir.path());
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(r.output, Banner() + "\n\nERROR: " + c.message + "\n") << c.args;
  }
  // A refused pattern after a good one: the good one is printed first.
  RunResult r = RunZok("-e w b", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output.substr(r.output.size() - 56),
            "total = 5\n\nERROR: ExeEnum: white needs more than just K\n");
}

}  // namespace
