#include <gtest/gtest.h>

#include "test_support.h"

namespace {

const std::string kUsage =
    "\n"
    "\nZOK -b   bname [lo [hi]]  build database"
    "\nZOK -d   bname [depth]    dependency list"
    "\nZOK -e   w...b...         enumerate databases, eg wwb"
    "\nZOK -ll  bname len        log len-ply positions"
    "\nZOK -sum [path [path...   summarize LOF files"
    "\nZOK -t   bname            test file integrity"
    "\nZOK -p   file.JGN/game    browse a game"
    "\nZOK -pe  file.EPD/line    browse a position"
    "\nZOK -probe fen... | -     value and best move"
    "\nZOK -verify bname         check every value"
    "\nZOK -probe --moves fen... every move, best first"
    "\nZOK -line fen             mate line as PGN"
    "\n";

// Without a command the usage is a failure; asked for, an answer.
TEST(Dispatch, UsageWithoutACommandFailsAndAskedForSucceeds) {
  TempDir dir;
  for (const char* words : {"", "-h", "--help", "help", "help -b KQK"}) {
    RunResult r = RunZok(words, dir.path());
    EXPECT_EQ(r.status, *words == 0 ? 1 : 0) << words;
    EXPECT_EQ(r.output, Banner() + kUsage) << words;
  }
}

// A command the user is told to type is spelled as the program was called.
TEST(Dispatch, HintsSpellTheProgramAsCalled) {
  TempDir dir;
  for (const char* name : {"zok", "zz", "Zok.exe"}) {
    std::string link = std::string("ln -sf '" ZOK_EXE "' ") + name;
    RunResult r = RunShell(link + " && ./" + name + " -b kqkr", dir.path());
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.output, Banner() + "\n\nTo view all children of KQKR : " + name +
                            " -d kqkr 1\n\nERROR: ExeBuild: sub-endgame KQK____B not found\n");
  }
}

TEST(Dispatch, UnknownCommandWordsAreBadArgs) {
  TempDir dir;
  for (const char* word : {"-x", "-P", "-bKQK", "-D", "b", "-pee", "--", "-help", "HELP"}) {
    RunResult r = RunZok(word, dir.path());
    EXPECT_EQ(r.status, 1) << word;
    EXPECT_EQ(r.output, Banner() + "\n\nERROR: Bad args\n") << word;
  }
}

// A setting that is no positive number (a typing error) is refused before
// anything runs, rather than taken as every core or as no stop.
TEST(Dispatch, SettingsThatAreNoPositiveNumberAreRefused) {
  TempDir dir;
  const std::string threads = " is not a positive number\n";
  const struct {
    const char *setting, *message;
    std::string reason;
  } cases[] = {{"ZOK_THREADS=0", "ZOK_THREADS [0]", threads},
               {"ZOK_THREADS=-1", "ZOK_THREADS [-1]", threads},
               {"ZOK_THREADS=abc", "ZOK_THREADS [abc]", threads},
               {"ZOK_THREADS=2x", "ZOK_THREADS [2x]", threads},
               {"ZOK_THREADS=", "ZOK_THREADS []", threads},
               {"ZOK_THREADS=' 4'", "ZOK_THREADS [ 4]", threads},
               {"ZOK_STOP_AT=0", "ZOK_STOP_AT [0]", " is neither a positive number nor list\n"},
               {"ZOK_STOP_AT=lists", "ZOK_STOP_AT [lists]", " is neither a positive number nor list\n"}};
  for (const auto& c : cases) {
    RunResult r = RunShell(std::string(c.setting) + " '" ZOK_EXE "' -e w", dir.path());
    EXPECT_EQ(r.status, 1) << c.setting;
    EXPECT_EQ(r.output, std::string("\n\nERROR: ExeInit: ") + c.message + c.reason) << c.setting;
  }
  RunResult r = RunShell("ZOK_THREADS=0004 '" ZOK_EXE "' -e w", dir.path());
  EXPECT_EQ(r.status, 0) << r.output;
}

}  // namespace
