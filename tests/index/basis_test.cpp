#include "index/basis.h"

#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"

namespace {

TEST(MakeBasi, ReadsNamesCaseInsensitively) {
  Basi a, b;
  MakeBasi("kqk", &a);
  MakeBasi("KQK", &b);
  EXPECT_EQ(memcmp(&a, &b, sizeof a), 0);
  EXPECT_STREQ(a.name, "KQK");
}

TEST(MakeBasi, Kqkr) {
  Basi b;
  MakeBasi("KQKR", &b);
  EXPECT_EQ(b.white[0], kWK);
  EXPECT_EQ(b.white[1], kWQ);
  EXPECT_EQ(b.white[2], 0);
  EXPECT_EQ(b.black[0], kZK);
  EXPECT_EQ(b.black[1], kZR);
  EXPECT_EQ(b.nw, 2);
  EXPECT_EQ(b.nz, 2);
  EXPECT_EQ(b.material, 16777216u + 2097152u);
  EXPECT_EQ(b.npawns, 0);
  EXPECT_EQ(b.numw, 640);
  EXPECT_EQ(b.numz, 640);
}

TEST(MakeBasi, IndexGeometry) {
  struct Row {
    const char* name;
    int nw, nz, wsize, zsize, numw, numz;
  };
  for (const Row& r : {Row{"KQK", 2, 1, 4096, 64, 640, 10}, Row{"KRKR", 2, 2, 4096, 4096, 640, 640},
                       Row{"KPK", 2, 1, 4096, 64, 2048, 32},
                       Row{"KQRKR", 3, 2, 262144, 4096, 40960, 640}}) {
    Basi b;
    MakeBasi(r.name, &b);
    EXPECT_EQ(b.nw, r.nw) << r.name;
    EXPECT_EQ(b.nz, r.nz) << r.name;
    EXPECT_EQ(b.wbits, 6 * r.nw) << r.name;
    EXPECT_EQ(b.zbits, 6 * r.nz) << r.name;
    EXPECT_EQ(b.wsize, r.wsize) << r.name;
    EXPECT_EQ(b.zsize, r.zsize) << r.name;
    EXPECT_EQ(b.numw, r.numw) << r.name;
    EXPECT_EQ(b.numz, r.numz) << r.name;
  }
}

TEST(MakeBasi, PawnsAndEnPassant) {
  Basi b;
  MakeBasi("KPKP", &b);
  EXPECT_EQ(b.npawns, 2);
  EXPECT_EQ(b.epflag, 1);
  MakeBasi("KPK", &b);
  EXPECT_EQ(b.npawns, 1);
  EXPECT_EQ(b.epflag, 0);
  MakeBasi("KKPP", &b);
  EXPECT_EQ(b.npawns, 2);
  EXPECT_EQ(b.epflag, 0);
}

TEST(MakeBasi, AcceptsEqualPiecesAndFiveMenASide) {
  Basi b;
  MakeBasi("KQQK", &b);
  EXPECT_EQ(b.material, 2u * 16777216u);
  MakeBasi("KQRBNK", &b);
  EXPECT_EQ(b.nw, 5);
  // Only the first ten characters count.
  MakeBasi("KQRBNKQRBNPP", &b);
  EXPECT_STREQ(b.name, "KQRBNKQRBN");
  EXPECT_EQ(b.nz, 5);
}

TEST(MakeBasi, RefusesBadNames) {
  Basi b;
  EXPECT_FATAL(MakeBasi("KRQK", &b), "MakeBasi: bad order");
  EXPECT_FATAL(MakeBasi("KQRBNPK", &b), "MakeBasi: too many of one side");
  EXPECT_FATAL(MakeBasi("QKK", &b), "MakeBasi: kings problem");
  EXPECT_FATAL(MakeBasi("KQ", &b), "MakeBasi: kings problem");
  EXPECT_FATAL(MakeBasi("", &b), "MakeBasi: kings problem");
  EXPECT_FATAL(MakeBasi("KQKXR", &b), "MakeBasi: bad piece");
  EXPECT_FATAL(MakeBasi("KQKRK", &b), "MakeBasi: bad order");
}

}  // namespace
