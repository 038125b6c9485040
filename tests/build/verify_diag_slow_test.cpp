#include <gtest/gtest.h>
#include "db_verify.h"
#include "test_support.h"
TEST(Diag, Verify) {
  ScopedCwd cwd("/tmp/t1");
  FresSetPath(nullptr);
  FresSetPath("./");

  for (const char* n : {"KQK", "KRK", "KPK"}) {
    for (bool w : {true, false}) {
      VerifyResult r = VerifyDatabase(n, w);
      fprintf(stderr, "%s %d checked %.0f wrong %.0f %s\n", n, w, r.checked, r.wrong, r.first_wrong.c_str());
    }
  }
  CacheCloseAll();
}
