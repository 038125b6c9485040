#include "index/names.h"
#include "builder/work_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "index/basis.h"
#include "test_support.h"

namespace {

uint32_t Code(const char* bname) {
  Basi b;
  MakeBasi(bname, &b);
  return b.material;
}

std::vector<std::string> SubNames(uint32_t code) {
  uint32_t list[kMaxSubEndgames];
  int n = SubEndgames(code, list);
  std::vector<std::string> names;
  for (int i = 0; i < n; i++) names.emplace_back(FresName(list[i]));
  return names;
}

TEST(MaterialCode, PrintsInOctal) {
  char text[16];
  snprintf(text, sizeof text, "0%011o", Code("KQKR") | kWhiteToMove);
  EXPECT_STREQ(text, "010110000000");
  snprintf(text, sizeof text, "0%011o", Code("KQKR"));
  EXPECT_STREQ(text, "000110000000");
  EXPECT_EQ(SwapColours(Code("KQKR")), Code("KRKQ"));
  EXPECT_EQ(SwapColours(Code("KRPPKBN")), Code("KBNKRPP"));
}

TEST(FresName, NamesBothDatabasesOfAnEndgame) {
  EXPECT_STREQ(FresName(Code("KQKR") | kWhiteToMove), "KQKR___W");
  EXPECT_STREQ(FresName(Code("KQKR")), "KQKR___B");
  EXPECT_STREQ(FresName(kWhiteToMove), "KK_____W");
  EXPECT_STREQ(FresName(Code("KPPKPP")), "KPPKPP_B");
  // Seven men fill all places; pieces come out in Q R B N P order.
  EXPECT_STREQ(FresName(Code("KQRKQRN") | kWhiteToMove), "KQRKQRNW");
  EXPECT_STREQ(FresName(Code("KRBNKQP")), "KRBNKQPB");
}

TEST(FresName, EightMenAreFatal) {
  EXPECT_FATAL(FresName(Code("KQRKQRNP")), "FresName: too many pieces");
  EXPECT_FATAL(FresName(Code("KQRBNKQR")), "FresName: too many pieces");
}

TEST(SearchPath, FindsDatabasesByIndexFileInOrder) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FresSetPath(nullptr);
  EXPECT_EQ(FresTry(Code("KQK")), nullptr);
  WriteFile("a/KQK____W.JIX", "");  // no directory yet: not written
  std::system("mkdir -p a b");
  WriteFile("b/KQK____W.JIX", "");
  WriteFile("KQK____B.J00", "");  // a chunk file alone is not a database
  FresSetPath("a/");
  FresSetPath("b/");
  ASSERT_NE(FresTry(Code("KQK") | kWhiteToMove), nullptr);
  EXPECT_STREQ(FresTry(Code("KQK") | kWhiteToMove), "b/KQK____W");
  WriteFile("a/KQK____W.JIX", "");
  EXPECT_STREQ(FresTry(Code("KQK") | kWhiteToMove), "a/KQK____W");
  EXPECT_EQ(FresTry(Code("KQK")), nullptr);
  // An entry without a separator is joined directly to the name.
  FresSetPath(nullptr);
  FresSetPath("b");
  EXPECT_EQ(FresTry(Code("KQK") | kWhiteToMove), nullptr);
  WriteFile("bKQK____W.JIX", "");
  EXPECT_STREQ(FresTry(Code("KQK") | kWhiteToMove), "bKQK____W");
  FresSetPath(nullptr);
  FresSetPath("./");
}

TEST(SearchPath, TenEntriesAtMost) {
  FresSetPath(nullptr);
  for (int i = 0; i < 10; i++) FresSetPath("./");
  EXPECT_FATAL(FresSetPath("./"), "FresSetPath: max 10 allowed");
  FresSetPath(nullptr);
  FresSetPath("./");
}

TEST(SearchPath, FresFindIsFatalWhenMissing) {
  TempDir dir;
  EXPECT_FATAL(
      {
        ScopedCwd cwd(dir.path());
        FresFind(Code("KQKR") | kWhiteToMove);
      },
      "FresFind: KQKR___W not found");
}

TEST(WorkFileNames, FormatsAndBounds) {
  EXPECT_STREQ(FlocName("KQKR", "NEWF", 1), "KQKR/NEWF001");
  EXPECT_STREQ(FlocName("KQKR", "ALLF", -1), "KQKR/ALLF-01");
  EXPECT_STREQ(FlocName("KQKR", "BCC", 999), "KQKR/BCC999");
  EXPECT_STREQ(FpakName("KQKR", 3, 42), "KQKR/L3C00042");
  EXPECT_STREQ(FpakName("KQKR", 9, 99999), "KQKR/L9C99999");
  EXPECT_FATAL(FlocName("KQKR", "ABCDEF", 1), "FlocName: tag too long");
  EXPECT_FATAL(FlocName("KQKR", "ALL", 1000), "FlocName: pass too long");
  EXPECT_FATAL(FpakName("KQKR", 10, 0), "FpakName: level too long");
  EXPECT_FATAL(FpakName("KQKR", 0, 100000), "FpakName: chop too long");
}

TEST(SubEndgames, PiecesOnly) {
  EXPECT_EQ(SubNames(Code("KQKR") | kWhiteToMove), (std::vector<std::string>{"KQK____B"}));
  EXPECT_EQ(SubNames(Code("KQKR")), (std::vector<std::string>{"KKR____W"}));
  EXPECT_EQ(SubNames(Code("KQRKBN") | kWhiteToMove),
            (std::vector<std::string>{"KQRKB__B", "KQRKN__B"}));
  EXPECT_TRUE(SubNames(Code("KQK") | kWhiteToMove).empty());
}

TEST(SubEndgames, PawnsOnBothSides) {
  // White to move in KRPKNP: capture the pawn, then capture-promotions and
  // the plain capture of the knight, then the four promotions.
  EXPECT_EQ(SubNames(Code("KRPKNP") | kWhiteToMove),
            (std::vector<std::string>{"KRPKN__B", "KQRKP__B", "KRRKP__B", "KRBKP__B",
                                      "KRNKP__B", "KRPKP__B", "KQRKNP_B", "KRRKNP_B",
                                      "KRBKNP_B", "KRNKNP_B"}));
  // Black to move: the same with the colours exchanged.
  EXPECT_EQ(SubNames(Code("KRPKNP")),
            (std::vector<std::string>{"KRKNP__W", "KPKQN__W", "KPKRN__W", "KPKBN__W",
                                      "KPKNN__W", "KPKNP__W", "KRPKQN_W", "KRPKRN_W",
                                      "KRPKBN_W", "KRPKNN_W"}));
}

TEST(SubEndgames, AtMostTwentyFiveCodes) {
  uint32_t list[kMaxSubEndgames];
  EXPECT_EQ(SubEndgames(Code("KPKQRBN") | kWhiteToMove, list), 24);
  EXPECT_EQ(SubEndgames(Code("KPKQRBP") | kWhiteToMove, list), 20);
}

}  // namespace
