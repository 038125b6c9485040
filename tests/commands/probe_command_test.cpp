// -probe, end to end: published values from both sides, every unknown
// reason, malformed FENs by argument and by line, no banner.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "test_support.h"

namespace {

const std::string& Dbs() {
  static const std::string dbs = BuiltDatabases({"KQK", "KRK", "KBK", "KNK", "KPK"});
  return dbs;
}

// Each FEN is one argument; the answers come in their order.
TEST(ExeProbe, AnswersEachArgumentOnOneLine) {
  TempDir dir;
  CopyDatabases(Dbs(), dir.path());
  const struct {
    const char* fen;
    const char* answer;  // after "FEN: "
  } cases[] = {
      // The longest mates of the published tables, from both sides to move.
      {"8/8/8/5k2/8/8/1Q6/K7 w - - 0 1", "mate 10 a1a2"},
      {"8/8/8/8/4k3/8/1Q6/K7 b - - 0 1", "mated 10 e4f5"},
      {"8/8/8/8/8/2k5/1R6/K7 w - - 0 1", "mate 16 a1a2"},
      {"8/8/8/8/8/8/1Rk5/K7 b - - 0 1", "mated 16 c2c3"},
      {"8/8/8/1k6/8/8/K5P1/8 w - - 0 1", "mate 28 a2b3"},
      {"8/8/8/k7/8/K7/6P1/8 b - - 0 1", "mated 28 a5b5"},
      // The colour-swapped KQK positions: Black's wins read from KQK.
      {"k7/1q6/8/8/5K2/8/8/8 b - - 0 1", "mate 10 a8a7"},
      {"k7/1q6/8/4K3/8/8/8/8 w - - 0 1", "mated 10 e5f4"},
      {"k7/1Q6/1K6/8/8/8/8/8 b - - 0 1", "mated 0"},
      {"k7/8/1Q6/8/8/8/8/K7 b - - 0 1", "draw"},  // stalemate
      {"8/8/8/8/8/8/8/K6k w - - 0 1", "draw a1a2"},
      {"7k/8/8/8/8/8/PPPPPP2/K7 w - - 0 1", "unknown: too many men"},
      {"r3k3/8/8/8/8/8/8/R3K3 w Qq - 0 1", "unknown: castling rights"},
      {"8/8/8/8/8/2kr4/1Q6/K7 b - - 0 1", "unknown: KQKR___B missing"},
      {"8/8/8/3pP3/8/2k5/8/K7 w - d6 0 1", "unknown: KPKP___W missing"},
  };
  std::string args, expected;
  for (const auto& c : cases) {
    args += std::string(" '") + c.fen + "'";
    expected += std::string(c.fen) + ": " + c.answer + "\n";
  }
  RunResult r = RunZok("-probe" + args, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, expected);
  // A malformed FEN is named by its argument; the others are still answered.
  r = RunZok(
      "-probe '8/8/8/8/8/2k5/1Q6/K7' 'k7/1Q6/1K6/8/8/8/8/8 b - - 0 1' "
      "'8/8/8/8/8/2kQ4/8/K7 w - - 0 1'",
      dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "ExeProbe: bad FEN in argument 1 [8/8/8/8/8/2k5/1Q6/K7]\n"
            "k7/1Q6/1K6/8/8/8/8/8 b - - 0 1: mated 0\n"
            "ExeProbe: bad FEN in argument 3 [8/8/8/8/8/2kQ4/8/K7 w - - 0 1]\n");
  r = RunZok("-probe", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "\n\nERROR: ExeProbe: too few args\n");
}

// "-" reads one FEN a line, of any length; a bad line is named by its number
// and the lines after it are answered; blank lines and line-end blanks are
// dropped.
TEST(ExeProbe, ReadsStandardInputLineByLine) {
  TempDir dir;
  CopyDatabases(Dbs(), dir.path());
  WriteFile(dir.File("in"),
            "8/8/8/5k2/8/8/1Q6/K7 w - - 0 1\r\n"
            "\n"
            "8/8/8/5k2/8/8/1Q6/K7 x - - 0 1\n"
            "8/8/8/8/8/2k5/1R6/K7 w - - 0 1  \n");
  RunResult r = RunZok("-probe - 'k7/1Q6/1K6/8/8/8/8/8 b - - 0 1'", dir.path(), dir.File("in"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "8/8/8/5k2/8/8/1Q6/K7 w - - 0 1: mate 10 a1a2\n"
            "ExeProbe: bad FEN on line 3 [8/8/8/5k2/8/8/1Q6/K7 x - - 0 1]\n"
            "8/8/8/8/8/2k5/1R6/K7 w - - 0 1: mate 16 a1a2\n"
            "k7/1Q6/1K6/8/8/8/8/8 b - - 0 1: mated 0\n");
  // Lines of any length are read whole; what follows the FEN on its line,
  // however far, a NUL byte included, makes it a bad FEN.
  const std::string fen = "8/8/8/5k2/8/8/1Q6/K7 w - - 0 1", blanks(300, ' ');
  // A line past 64 KiB is refused without being kept whole.
  WriteFile(dir.File("in"), blanks + fen + "\n" + fen + blanks + "garbage\n" + fen +
                                std::string(1, '\0') + "\n" + fen + blanks + "\n" +
                                std::string(100000, 'x') + "\n" + fen);
  r = RunZok("-probe -", dir.path(), dir.File("in"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, blanks + fen + ": mate 10 a1a2\n" + "ExeProbe: bad FEN on line 2 [" + fen +
                          blanks + "garbage]\n" + "ExeProbe: bad FEN on line 3 [" + fen + "\\0]\n" +
                          fen + ": mate 10 a1a2\n" + "ExeProbe: bad FEN on line 5 [" +
                          std::string(80, 'x') + "...]: longer than 65536 bytes\n" + fen +
                          ": mate 10 a1a2\n");
  // A database that cannot be read is named, with the file and block.
  WriteFile(dir.File("in"), "8/8/8/5k2/8/8/1Q6/K7 w - - 0 1\n");
  const std::string index = ReadFile(dir.File("KQK____W.JIX"));
  for (const auto& [file, bytes, why] :
       {std::tuple{"KQK____W.J00", std::string("damaged"), "./KQK____W.J00 block 0: record cut short"},
        {"KQK____W.JIX", index.substr(0, 50), "./KQK____W.JIX: index header cut short"}}) {
    WriteFile(dir.File(file), bytes);
    r = RunZok("-probe -", dir.path(), dir.File("in"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, std::string("8/8/8/5k2/8/8/1Q6/K7 w - - 0 1: unknown: KQK____W damaged: ") +
                            (file[10] == '0' ? "damaged record in " : "") + why + "\n");
  }
}

// --moves lists every move under the position's line; -line plays the mate
// out as PGN, or says draw, or why there is no line.
TEST(ExeProbe, EveryMoveAndTheMateLine) {
  TempDir dir;
  CopyDatabases(Dbs(), dir.path());
  // Kxf7 takes the lone queen; after Kd8, Qd7 mates (c6 guards d7).
  RunResult r = RunZok("-probe --moves '4k3/5Q2/2K5/8/8/8/8/8 b - - 0 1'", dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(
      r.output,
      "4k3/5Q2/2K5/8/8/8/8/8 b - - 0 1: draw e8f7\n  e8f7  Kxf7    draw\n  e8d8  Kd8     mated 1\n");
  const std::string tags = "[SetUp \"1\"]\n[Result \"";
  const struct {
    const char* fen;
    int status;
    std::string output;
  } cases[] = {
      // Kb8 is forced (b6 guards a7 and b7); of the two checks only Qd8 also holds a8 and c8.
      {"k7/8/1K6/8/8/8/8/3Q4 b - - 0 1", 0,
       "[FEN \"k7/8/1K6/8/8/8/8/3Q4 b - - 0 1\"]\n" + tags +
           "1-0\"]\n\n1... Kb8 {mated 1} 2. Qd8# {mate 1} 1-0\n"},
      {"k7/8/1QK5/8/8/8/8/8 b - -", 0,
       "[FEN \"k7/8/1QK5/8/8/8/8/8 b - - 0 1\"]\n" + tags + "1/2-1/2\"]\n\n{draw} 1/2-1/2\n"},
      {"8/8/8/8/8/2kr4/1Q6/K7 b - - 0 1", 1,
       "ExeLine: no line from [8/8/8/8/8/2kr4/1Q6/K7 b - - 0 1]: unknown: KQKR___B missing\n"},
      {"8/8/8", 1, "ExeLine: bad FEN [8/8/8]\n"},
  };
  for (const auto& c : cases) {
    r = RunZok(std::string("-line '") + c.fen + "'", dir.path());
    EXPECT_EQ(r.status, c.status) << c.fen;
    EXPECT_EQ(r.output, c.output) << c.fen;
  }
}

}  // namespace
