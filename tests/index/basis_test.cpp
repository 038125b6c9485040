// Bad endgame names, and the search path that finds databases by name.
#include "index/basis.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "index/names.h"
#include "test_support.h"

namespace {

TEST(MakeBasi, RefusesBadNames) {
  const char* const kCases[][2] = {
      {"KRQK", "MakeBasi: bad order"},     {"KQRBNPK", "MakeBasi: too many of one side"},
      {"QKK", "MakeBasi: kings problem"},  {"KQ", "MakeBasi: kings problem"},
      {"KQKXR", "MakeBasi: bad piece"},
  };
  Basi b;
  for (const auto& c : kCases) EXPECT_FATAL(MakeBasi(c[0], &b), c[1]);
}

// The first directory of the path that holds the index file wins; an entry
// is joined to the name as it is.
TEST(SearchPath, FindsDatabasesByIndexFileInOrder) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  Basi kqk;
  MakeBasi("KQK", &kqk);
  uint32_t code = kqk.material | kWhiteToMove;
  std::system("mkdir -p a b");
  WriteFile("b/KQK____W.JIX", "");
  WriteFile("a/KQK____W.J00", "");  // a chunk file alone is not a database
  FresSetPath(nullptr);
  FresSetPath("a/");
  FresSetPath("b/");
  EXPECT_STREQ(FresTry(code), "b/KQK____W");
  WriteFile("a/KQK____W.JIX", "");
  EXPECT_STREQ(FresTry(code), "a/KQK____W");
  EXPECT_EQ(FresTry(kqk.material), nullptr);
  FresSetPath(nullptr);
  FresSetPath("b");
  WriteFile("bKQK____W.JIX", "");
  EXPECT_STREQ(FresTry(code), "bKQK____W");
  for (int i = 1; i < 10; i++) FresSetPath("./");
  EXPECT_FATAL(FresSetPath("./"), "FresSetPath: max 10 allowed");
  EXPECT_FATAL(FresFind(kqk.material), "FresFind: KQK____B not found");
  FresSetPath(nullptr);
  FresSetPath("./");
}

}  // namespace
