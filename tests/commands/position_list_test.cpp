// -ll: positions of one distance to mate listed as games in the .LOG log,
// from KQK's databases.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "test_support.h"

namespace {

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
       "\nPlies = 19\n\rFound = 0  SSSS.S  hashw o00000000\rFound = 1  SSSS.S  hashw o00003377\n",
       1,
       "[game KQK_M010_001] [annotator hash o00000011 o00000045] [posj]\n"
       " . . . . . . . .\n . . . . . . . .\n . . . . . . . .\n . . . . . k . .\n"
       " . . . . . . . .\n . . . . . . . .\n . Q . . . . . .\n K . . . . . . .   w....\n\n"},
      {"-ll KQK 20", 0,
       "\nPlies = 20\n\rFound = 0  SSSS.S  hashz o00000000\rFound = 8  SSSS.S  hashz o00000033\n",
       8, "[game KQK_M010_008]"},
      {"-ll KQK 1", 0, nullptr, 100, "[game KQK_M001_100]"},
      {"-ll KQK 0", 0, nullptr, 46, "[game KQK_M000_046]"},
      {"-ll KQK 508", 0, nullptr, 0, ""},
      {"-ll KQK", 1, "\n\nERROR: ExeList: too few args\n", 0, ""},
      {"-ll KQK 509", 1, "\n\nERROR: ExeList: plies oor\n", 0, ""},
      {"-ll KRK 3", 1, "\nPlies = 3\n\n\nERROR: FresFind: KRK____W not found\n", 0, ""},
  };
  for (const auto& c : kCases) {
    TempDir dir;
    CopyDatabases(dbs, dir.path());
    WriteFile(dir.File("OUT.LOG"), "earlier\n");
    RunResult r = RunZok(c.args, dir.path());
    EXPECT_EQ(r.status, c.status) << c.args;
    std::string masked =
        std::regex_replace(r.output, std::regex("  [0-9]{4}\\.[0-9]  "), "  SSSS.S  ");
    if (c.output != nullptr) EXPECT_EQ(masked, Banner() + c.output) << c.args;
    std::string log = ReadFile(dir.File("OUT.LOG"));
    EXPECT_EQ(log.substr(0, 8), "earlier\n") << c.args;
    size_t games = 0;
    for (size_t p = log.find("[game "); p != std::string::npos; p = log.find("[game ", p + 1))
      games++;
    EXPECT_EQ(games, c.games) << c.args;
    EXPECT_NE(log.find(c.game), std::string::npos) << c.args;
  }
}

}  // namespace
