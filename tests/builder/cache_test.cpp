#include "builder/cache.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/checked_ops.h"
#include "support/console.h"
#include "builder/progress.h"
#include "index/names.h"
#include "index/basis.h"
#include "test_support.h"

namespace {

uint32_t Code(const char* bname) {
  Basi b;
  MakeBasi(bname, &b);
  return b.material;
}

// Byte i of a test database: a pattern that differs from block to block.
uint8_t Pattern(uint32_t code, double i) {
  uint64_t x = static_cast<uint64_t>(i);
  return static_cast<uint8_t>((x * 7 + (x >> 15) * 13 + code) % 251);
}

// Writes a database of `size` bytes under its name in the current directory.
void WriteDb(uint32_t code, int size, const char* metric = "DTM3", int format = 301,
             uint32_t content = 0xffffffff) {
  JILE* h = FileWopen(FresName(code));
  ASSERT_EQ(JarSetCreator(h, "test", format,
                          static_cast<uint32_t>(metric[0]) | metric[1] << 8 | metric[2] << 16 |
                              static_cast<uint32_t>(metric[3]) << 24,
                          static_cast<int32_t>(content == 0xffffffff ? code : content)),
            0);
  std::vector<uint8_t> bytes(size);
  for (int i = 0; i < size; i++) bytes[i] = Pattern(code, i);
  FileWrite(bytes.data(), size, h);
  FileClose(h);
}

class CacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd_ = std::make_unique<ScopedCwd>(dir_.path());
    FresSetPath(nullptr);
    FresSetPath("./");
    testing::internal::CaptureStdout();
  }
  void TearDown() override {
    CacheCloseAll();
    testing::internal::GetCapturedStdout();
    cwd_.reset();
  }
  TempDir dir_;
  std::unique_ptr<ScopedCwd> cwd_;
};

TEST_F(CacheTest, ProbesGiveTheStoredBytesAcrossBlocks) {
  uint32_t code = Code("KQK") | kWhiteToMove;
  WriteDb(code, 3 * kCacheBlock + 100);
  for (double i : {0.0, 32767.0, 32768.0, 65535.0, 65536.0, 98403.0, 5.0, 40000.0}) {
    EXPECT_EQ(CacheProbe(code, i), Pattern(code, i)) << i;
  }
  EXPECT_EQ(CacheCount(), 1);
}

TEST_F(CacheTest, LeastRecentlyUsedOfTwentyBlocksIsReplaced) {
  uint32_t code = Code("KRK");
  WriteDb(code, 22 * kCacheBlock);
  g_prog.cache_loads = 0;
  for (int b = 0; b < 20; b++) CacheProbe(code, b * 32768.0);
  EXPECT_EQ(g_prog.cache_loads, 20);
  CacheProbe(code, 3 * 32768.0 + 9);  // still cached
  EXPECT_EQ(g_prog.cache_loads, 20);
  CacheProbe(code, 20 * 32768.0);  // replaces block 0, the least recently used
  EXPECT_EQ(g_prog.cache_loads, 21);
  CacheProbe(code, 3 * 32768.0);  // block 3 was used recently: kept
  EXPECT_EQ(g_prog.cache_loads, 21);
  EXPECT_EQ(CacheProbe(code, 0.0), Pattern(code, 0));  // block 0 again: reloaded
  EXPECT_EQ(g_prog.cache_loads, 22);
  EXPECT_EQ(CacheProbe(code, 21 * 32768.0 + 1), Pattern(code, 21 * 32768.0 + 1));
}

TEST_F(CacheTest, OpenReportsTheSlotOnTheConsoleAndInTheLog) {
  uint32_t code = Code("KBK") | kWhiteToMove;
  WriteDb(code, 10);
  std::string before = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  SetLogName("CACHE");
  CacheProbe(code, 3);
  std::string out = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  EXPECT_EQ(out, "\rcache  0 <- [./KBK____W] ... \n");
  CacheCloseAll();
  EXPECT_EQ(CacheCount(), 0);
}

TEST(CacheFatal, CreatorChecks) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FresSetPath(nullptr);
  FresSetPath("./");
  uint32_t a = Code("KQK") | kWhiteToMove;
  uint32_t b = Code("KRK") | kWhiteToMove;
  uint32_t c = Code("KBK") | kWhiteToMove;
  WriteDb(a, 10, "DTC3");
  WriteDb(b, 10, "DTM3", 300);
  WriteDb(c, 10, "DTM3", 301, Code("KNK"));
  EXPECT_FATAL(CacheProbe(a, 0), "CacheOpen: [./KQK____W] is DTC while DTM requiered");
  EXPECT_FATAL(CacheProbe(b, 0), "CacheOpen: [./KRK____W] has wrong format version");
  EXPECT_FATAL(CacheProbe(c, 0), "CacheOpen: [./KBK____W] content does not match");
  EXPECT_FATAL(CacheProbe(Code("KNK"), 0), "FresFind: KNK____B not found");
}

TEST(CacheFatal, TwentyFiveSlotsAtMost) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FresSetPath(nullptr);
  FresSetPath("./");
  // 26 distinct endgames: one white piece against up to two black pieces.
  std::vector<uint32_t> codes;
  for (const char* w : {"KQ", "KR", "KB", "KN", "KP"}) {
    for (const char* z : {"K", "KQ", "KR", "KB", "KN", "KP"}) {
      codes.push_back(Code((std::string(w) + z).c_str()) | kWhiteToMove);
    }
  }
  codes.resize(26);
  for (uint32_t code : codes) WriteDb(code, 4);
  EXPECT_FATAL(
      {
        for (uint32_t code : codes) CacheProbe(code, 1);
      },
      "CacheOpen: out of caches");
}

}  // namespace
