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

}  // namespace
