// The sub-endgame cache against the bytes written, and its refusals.
#include "builder/cache.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "builder/build.h"
#include "index/names.h"
#include "support/checked_ops.h"
#include "support/console.h"
#include "test_support.h"

namespace {

uint32_t Code(const char* bname, uint32_t side = kWhiteToMove) {
  Basi b;
  MakeBasi(bname, &b);
  return b.material | side;
}

uint8_t Pattern(uint32_t code, double i) {
  uint64_t x = static_cast<uint64_t>(i);
  return static_cast<uint8_t>((x * 7 + (x >> 15) * 13 + code) % 251);
}

void WriteDb(uint32_t code, int size, uint32_t metric = kMetricDtm, int format = kDbFormat,
             uint32_t content = 0) {
  JILE* h = FileWopen(FresName(code).c_str());
  int32_t stored = static_cast<int32_t>(content != 0 ? content : code);
  ASSERT_EQ(JarSetCreator(h, "test", format, metric, stored), 0);
  for (int i = 0; i < size; i++) FilePutc(Pattern(code, i), h);
  FileClose(h);
}

const SearchPath kHere{"./"};

// More blocks than buffers, probed at random against the bytes written; then the refusals.
TEST(Cache, ProbesGiveTheStoredBytesAndWrongDatabasesAreRefused) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  std::unique_ptr<Build> owned = std::make_unique<Build>();
  Build& b = *owned;
  b.search = &kHere;
  uint32_t code = Code("KRK", 0), other = Code("KBK");
  WriteDb(code, 30 * kBlockSize + 100);
  WriteDb(other, 10);
  testing::internal::CaptureStdout();
  SetLogName("CACHE");
  for (uint32_t i = 0, x = 1; i < 20000; i++, x = x * 1103515245u + 12345u) {
    double index = (x >> 8) % (30 * kBlockSize + 100);
    ASSERT_EQ(CacheProbe(b, code, index), Pattern(code, index)) << index;
  }
  EXPECT_EQ(CacheProbe(b, other, 3), Pattern(other, 3));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "cache  0 <- [./KRK____B] ... \ncache  1 <- [./KBK____W] ... \n");
  EXPECT_EQ(ReadFile("CACHE.LOF"), "cache  0 <- [./KRK____B]\ncache  1 <- [./KBK____W]\n");
  CacheCloseAll(b);

  WriteDb(Code("KQK"), 10, kMetricDtm ^ 0x1000);
  WriteDb(Code("KRK"), 10, kMetricDtm, kDbFormat - 1);
  WriteDb(Code("KNK"), 10, kMetricDtm, kDbFormat, Code("KPK"));
  EXPECT_FATAL(CacheProbe(b, Code("KQK"), 0), "CacheOpen: [./KQK____W] is DTC while DTM requiered");
  EXPECT_FATAL(CacheProbe(b, Code("KRK"), 0), "CacheOpen: [./KRK____W] has wrong format version");
  EXPECT_FATAL(CacheProbe(b, Code("KNK"), 0), "CacheOpen: [./KNK____W] content does not match");
  EXPECT_FATAL(CacheProbe(b, Code("KNK", 0), 0), "FresFind: KNK____B not found");
}

// A thread's set probes only opened slots, noting the rest; slots open
// silently, and their lines follow the order in which rows are announced.
TEST(Cache, ThreadSetsProbeOpenedSlotsAndLinesFollowTheAnnouncements) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  std::unique_ptr<Build> owned = std::make_unique<Build>();
  Build& b = *owned;
  b.search = &kHere;
  uint32_t krk = Code("KRK", 0), kbk = Code("KBK");
  WriteDb(krk, 3 * kBlockSize);
  WriteDb(kbk, 10);
  testing::internal::CaptureStdout();
  CacheSetThreads(b, 2);
  uint32_t codes[kCacheSlots];
  int ncodes = 0;
  CacheUser user{};
  user.set = 1;
  user.serial = 1;
  user.codes = codes;
  user.ncodes = &ncodes;
  EXPECT_EQ(CacheProbeSet(b.cache, user, kbk, 3), -1);
  EXPECT_EQ(CacheProbeSet(b.cache, user, krk, 5), -1);
  ASSERT_EQ(user.nmissing, 2);
  CacheOpenMissing(b, user.missing, user.nmissing);
  for (double i : {5.0, 2.0 * kBlockSize + 7, 5.0}) {
    EXPECT_EQ(CacheProbeSet(b.cache, user, krk, i), Pattern(krk, i));
  }
  EXPECT_EQ(CacheProbeSet(b.cache, user, kbk, 3), Pattern(kbk, 3));
  EXPECT_EQ(user.loads, 3);
  user.set = 0;
  user.serial = 2;
  EXPECT_EQ(CacheProbeSet(b.cache, user, krk, 9), Pattern(krk, 9));
  double hits, decoded;  // set 0's load of the block set 1 decoded only copies it
  b.cache.blocks->Stats(&hits, &decoded);
  EXPECT_EQ(std::vector<double>({user.loads, hits, decoded}), (std::vector<double>{4, 1, 3}));
  ASSERT_EQ(ncodes, 3);
  EXPECT_EQ(std::vector<uint32_t>(codes, codes + 3), (std::vector<uint32_t>{krk, kbk, krk}));
  for (int i = 0; i < ncodes; i++) CacheAnnounce(b, codes[i]);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "cache  0 <- [./KRK____B] ... \ncache  1 <- [./KBK____W] ... \n");
  CacheSetThreads(b, 1);
}

}  // namespace
