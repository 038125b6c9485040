// -ll: positions of one distance to mate listed as games in the .LOG log,
// from KQK's databases.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "test_support.h"

namespace {

// The seconds of the progress lines vary from run to run.
std::string MaskTime(const std::string& s) {
  return std::regex_replace(s, std::regex("  [0-9]{4}\\.[0-9]  "), "  SSSS.S  ");
}

size_t Count(const std::string& text, const std::string& word) {
  size_t n = 0;
  for (size_t p = text.find(word); p != std::string::npos; p = text.find(word, p + 1)) n++;
  return n;
}

TEST(ExeList, ListsTheEntriesOfOneValue) {
  const std::string dbs = BuiltDatabases({"KQK"});
  struct Case {
    const char* args;
    const char* output;  // after the banner
    size_t games;        // in the log, at most 100 of all found
    const char* game;    // one of them
  };
  // KQK's black table has 10 rows of 4096 columns: a progress line every 64
  // rows, so only the first and the last.
  const Case kCases[] = {
      {"-ll KQK 19",
       "\nPlies = 19\n\rFound = 0  SSSS.S  hashw o00000000\rFound = 1  SSSS.S  hashw o00003377\n",
       1,
       "[game KQK_M010_001] [annotator hash o00000011 o00000045] [posj]\n"
       " . . . . . . . .\n . . . . . . . .\n . . . . . . . .\n . . . . . k . .\n"
       " . . . . . . . .\n . . . . . . . .\n . Q . . . . . .\n K . . . . . . .   w....\n\n"},
      {"-ll KQK 20",
       "\nPlies = 20\n\rFound = 0  SSSS.S  hashz o00000000\rFound = 8  SSSS.S  hashz o00000033\n",
       8, "[game KQK_M010_008]"},
      {"-ll KQK 1", nullptr, 100, "[game KQK_M001_100]"},
      {"-ll KQK 0", nullptr, 46, "[game KQK_M000_046]"},
      {"-ll KQK 508", nullptr, 0, ""},
  };
  for (const Case& c : kCases) {
    TempDir dir;
    CopyDatabases(dbs, dir.path());
    WriteFile(dir.File("OUT.LOG"), "earlier\n");
    RunResult r = RunZok(c.args, dir.path());
    EXPECT_EQ(r.status, 0) << c.args;
    if (c.output != nullptr) {
      EXPECT_EQ(MaskTime(r.output), Banner() + c.output) << c.args;
    }
    std::string log = ReadFile(dir.File("OUT.LOG"));
    EXPECT_EQ(log.substr(0, 8), "earlier\n") << c.args;
    EXPECT_EQ(Count(log, "[game "), c.games) << c.args;
    EXPECT_NE(log.find(c.game), std::string::npos) << c.args;
  }
}

TEST(ExeList, Errors) {
  const std::string dbs = BuiltDatabases({"KQK"});
  TempDir dir;
  CopyDatabases(dbs, dir.path());
  const char* const kCases[][2] = {
      {"-ll KQK", "ExeList: too few args"},
      {"-ll KQK 509", "ExeList: plies oor"},
      {"-ll KQK -1", "ExeList: plies oor"},
      {"-ll KRK 3", "FresFind: KRK____W not found"},
  };
  for (const auto& c : kCases) {
    RunResult r = RunZok(c[0], dir.path());
    EXPECT_EQ(r.status, 1) << c[0];
    // The missing database is found missing after the heading.
    EXPECT_EQ(r.output, Banner() + "\n" + (c[1][0] == 'F' ? "Plies = 3\n\n" : "") +
                            "\nERROR: " + c[1] + "\n")
        << c[0];
  }
}

}  // namespace
