// The file layer: the layout of index and chunk files, reading back, damage
// and the chunk split.
#include "jar/jar_file.h"
#include "jar/jar_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "block_kinds.h"
#include "jar/jas.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Runs of a few small values with some noise, like a value-byte file.
Bytes MakeData(size_t n, uint32_t x) {
  Bytes out(n);
  uint8_t value = 0;
  for (uint8_t& b : out) {
    x = x * 1103515245u + 12345;
    if ((x >> 24) < 24) value = static_cast<uint8_t>((x >> 8) % 7);
    b = (x >> 20) % 97 == 0 ? static_cast<uint8_t>(x >> 9) : value;
  }
  return out;
}

std::string Words(std::initializer_list<uint32_t> words) {
  std::string s;
  for (uint32_t w : words) {
    for (int i = 0; i < 32; i += 8) s += static_cast<char>(w >> i);
  }
  return s;
}

std::string WithWord(std::string s, size_t at, uint32_t w) { return s.replace(at, 4, Words({w})); }

// Blocks per chunk file, and the size limit of chunk files (0: none), for one scope.
struct Settings {
  int blocks = JarSetFileBlocks(0);
  int64_t limit;
  explicit Settings(int n, int64_t l = 0) : limit(JarSetChunkLimit(l)) { JarSetFileBlocks(n); }
  ~Settings() { JarSetFileBlocks(blocks), JarSetChunkLimit(limit); }
};

// Writes data in irregular pieces, each begun with a single byte.
void WriteJar(const std::string& name, const Bytes& data, int flags = kFlagDefault) {
  JarFault fault;
  JILE* h = JarWopen(name.c_str(), flags, nullptr, &fault);
  ASSERT_NE(h, nullptr) << fault.message;
  for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 7 % 50021 + 1) {
    piece = std::min(piece, data.size() - at);
    ASSERT_EQ(JarPutc(data[at], h), data[at]);
    const int rest = static_cast<int>(piece - 1);
    ASSERT_EQ(JarWrite(data.data() + at + 1, rest, h), rest);
  }
  ASSERT_EQ(JarTell(h), static_cast<double>(data.size()));
  ASSERT_EQ(JarClose(h, &fault), 0) << fault.message;
}

// Reads a file back in bytes and pieces, then at random places, then at its
// end and past it.
void ExpectReadsBack(const std::string& name, const Bytes& data) {
  JarFault fault;
  JILE* h = JarRopen(name.c_str(), nullptr, &fault);
  ASSERT_NE(h, nullptr) << fault.message;
  EXPECT_EQ(JarSize(h), static_cast<double>(data.size()));
  Bytes got, piece(70000);
  for (int step = 1, c; (c = JarGetc(h)) >= 0; step++) {
    got.push_back(static_cast<uint8_t>(c));
    const int n = JarRead(piece.data(), step * 131 % 70000, h);
    got.insert(got.end(), piece.begin(), piece.begin() + n);
  }
  EXPECT_TRUE(got == data);
  for (uint32_t i = 0, x = 99; i < 300 && !data.empty(); i++) {
    const size_t at = ((x = x * 1664525u + 1013904223u) >> 4) % data.size();
    ASSERT_EQ(JarSeek(h, static_cast<double>(at)), 0) << h->fault.message;
    ASSERT_EQ(JarGetc(h), data[at]) << "at " << at;
  }
  // The end of a short last block is a position; past a full one there is no block.
  EXPECT_EQ(JarSeek(h, static_cast<double>(data.size())), data.size() % kBlockSize != 0 ? 0 : 8);
  EXPECT_EQ(JarGetc(h), -1);
  EXPECT_EQ(JarSeek(h, data.size() + 1.0), 3);
  EXPECT_EQ(h->fault.message, "JarSeek: outside filesize [" + name + "]");
  EXPECT_EQ(JarClose(h), 0);
  // Read by block number, every block on every thread at once, the last first.
  JarReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(name, &error)) << error;
  ASSERT_EQ(reader.size(), static_cast<double>(data.size()));
  const int n = reader.blocks();
  std::vector<int> wrong(size_t(3 * n));
  PlatParallel(3 * n, [&](int i) {
    const int b = n - 1 - i % n;
    Bytes block(kBlockSize);
    const int valid = reader.Read(b, block.data(), &error);
    wrong[size_t(i)] = valid != std::min<int>(kBlockSize, int(data.size()) - b * kBlockSize) ||
                       !std::equal(block.begin(), block.begin() + valid, data.begin() + b * kBlockSize);
  });
  EXPECT_EQ(std::count(wrong.begin(), wrong.end(), 1), 0);
}

// Two files written in turn, half a block at a time, with 1, 2 and 3 threads (a
// handle codes a batch of a block per thread at once): index and chunk files hold
// header, creator, table and each block's check value, length and record (padded
// with 0xFF) byte for byte, the same for every thread count, and read back.
TEST(JarLayout, FilesWrittenInTurnHoldHeaderTableAndRecordsByteForByteAndReadBack) {
  for (int threads : {1, 2, 3}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    const int was = PlatSetThreadCount(threads);
    TempDir dir;
    ScopedCwd cwd(dir.path());
    Settings settings(2);
    const int flags[2] = {kFlagDefault, kFlagTrial};
    const Bytes data[2] = {MakeData(3 * kBlockSize + 100, 1), MakeData(5 * kBlockSize + 1, 22)};
    const int64_t before = PlatTimeNow();
    JILE* h[2] = {JarWopen("a", flags[0]), JarWopen("b", flags[1])};
    for (size_t at = 0; at < data[1].size(); at += kBlockSize / 2) {
      for (int f = 0; f < 2; f++) {
        if (at >= data[f].size()) continue;
        const int take = static_cast<int>(std::min<size_t>(kBlockSize / 2, data[f].size() - at));
        ASSERT_EQ(JarWrite(&data[f][at], take, h[f]), take);
      }
    }
    EXPECT_EQ(JarSetCreator(h[0], std::string(33, 'x').c_str(), 1, 2, 3), 2);
    EXPECT_STREQ(h[0]->fault.message, "JarSetCreator: name too long [a]");
    for (JILE* w : h) ASSERT_EQ(JarSetCreator(w, "tester", 301, JarTag("DTM3"), 0x40000001), 0);
    fflush(h[0]->index);
    EXPECT_EQ(ReadFile("a.JIX").substr(4, 8), std::string(8, '\0')) << "no blocks until close";
    for (JILE* w : h) ASSERT_EQ(JarClose(w), 0);
    JarFault fault;
    EXPECT_EQ(JarWopen(std::string(300, 'a').c_str(), 0, nullptr, &fault), nullptr);
    EXPECT_STREQ(fault.message, "JarWopen: name too long");

    for (int f = 0; f < 2; f++) {
      const std::string name = f == 0 ? "a" : "b", ix = ReadFile(name + ".JIX");
      const size_t size = data[f].size(), count = (size + kBlockSize - 1) / kBlockSize;
      std::string table, chunk[3];
      for (size_t b = 0; b < count; b++) {
        const size_t from = b * kBlockSize, to = std::min(size, from + kBlockSize);
        Bytes block(data[f].begin() + from, data[f].begin() + to);
        const uint32_t sum = JarBlockSum(block.data(), static_cast<int>(block.size()));
        block.resize(kBlockSize, 0xFF);
        const int length = BlockEncode(block.data(), flags[f]);
        table += Words({static_cast<uint32_t>(chunk[b / 2].size())});
        chunk[b / 2] += Words({sum, static_cast<uint32_t>(length)});
        chunk[b / 2].append(reinterpret_cast<const char*>(g_record), length);
      }
      const uint32_t last = (size - 1) % kBlockSize + 1;
      uint32_t time;
      memcpy(&time, ix.data() + 24, 4);
      EXPECT_GE(int64_t{time}, before);
      EXPECT_LE(int64_t{time}, PlatTimeNow());
      EXPECT_EQ(ix, "JAR5" + Words({static_cast<uint32_t>(count), last, 2, 501, 501, time}) + "tester" +
                        std::string(26, '\0') + Words({301, JarTag("DTM3"), 0x40000001}) + Words({116}) +
                        "dummy data chunkdummy data chunkdummy da" + table);
      for (int c = 0; c < 3; c++) {
        EXPECT_EQ(FileExists(name + ".J0" + std::to_string(c)), !chunk[c].empty()) << name << c;
        EXPECT_EQ(ReadFile(name + ".J0" + std::to_string(c)), chunk[c]) << name << c;
      }
      ExpectReadsBack(name, data[f]);
    }
    // An empty file, one ending on a full block, and one of 46 chunk files,
    // named in hex: the last file there is, and the first there is not.
    const struct {
      size_t size;
      const char *last, *none;
    } cases[] = {{0, "JIX", "J00"}, {2 * kBlockSize, "J00", "J01"}, {3000000, "J2D", "J2E"}};
    for (const auto& c : cases) {
      const std::string name = std::to_string(c.size);
      const Bytes data = MakeData(c.size, static_cast<uint32_t>(c.size));
      WriteJar(name, data, c.size == 3000000 ? kFlagWork : kFlagLz);
      EXPECT_TRUE(FileExists(name + "." + c.last) && !FileExists(name + "." + c.none)) << name;
      ExpectReadsBack(name, data);
    }
    PlatSetThreadCount(was);
  }
}

// Blocks coded apart (as many threads code a database) and written in
// order make the same files as the bytes written to the handle; a coded
// block is refused while bytes wait in the handle, after a short block, and
// when its coding failed.
TEST(JarCoded, BlocksCodedApartWriteTheFilesTheirBytesWould) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const Bytes data = MakeData(3 * kBlockSize + 100, 5);
  for (int flags : {kFlagTrial, kFlagWork}) {
    SCOPED_TRACE("flags " + std::to_string(flags));
    WriteJar("bytes", data, flags);
    JILE* h = JarWopen("coded", flags);
    ASSERT_NE(h, nullptr);
    auto coded = std::make_unique<JarCoded>();
    Bytes block(kBlockSize);
    for (size_t at = 0; at < data.size(); at += kBlockSize) {
      const int size = static_cast<int>(std::min<size_t>(kBlockSize, data.size() - at));
      std::copy_n(data.begin() + at, size, block.begin());
      JarCode(flags, block.data(), size, coded.get());
      ASSERT_EQ(JarWriteCoded(h, *coded), 1) << h->fault.message;
    }
    EXPECT_EQ(JarWriteCoded(h, *coded), 0);
    EXPECT_STREQ(h->fault.message, "JarWriteCoded: block after a short one [coded]");
    ASSERT_EQ(JarClose(h), 0);
    // All but the creation time.
    const std::string a = ReadFile("bytes.JIX"), b = ReadFile("coded.JIX");
    EXPECT_EQ(a.substr(0, 24) + a.substr(28), b.substr(0, 24) + b.substr(28));
    for (const char* chunk : {".J00", ".J01"}) {
      EXPECT_EQ(ReadFile(std::string("bytes") + chunk), ReadFile(std::string("coded") + chunk));
    }
    ExpectReadsBack("coded", data);
  }
  JILE* h = JarWopen("refused", kFlagLz);
  auto coded = std::make_unique<JarCoded>();
  coded->length = 0;
  coded->size = kBlockSize;
  snprintf(coded->error, sizeof coded->error, "BlockEncode: gave up");
  EXPECT_EQ(JarWriteCoded(h, *coded), 0);
  EXPECT_STREQ(h->fault.message, "BlockEncode: gave up");
  ASSERT_EQ(JarPutc(7, h), 7);
  EXPECT_EQ(JarWriteCoded(h, *coded), 0);
  EXPECT_STREQ(h->fault.message, "JarWriteCoded: data waits in the handle [refused]");
  EXPECT_EQ(JarClose(h), 0);
}

// Positions past 4 GB up to the last byte of a six-man database (KQQKQQ:
// 10 x 64^5 entries, chunk files 0 to 4) and of seven-man ones (10 x 64^6,
// last chunk 0x13F; with pawns 32 x 64^6, 0x3FF). Each chunk file holds the
// records of blocks a and b; the sparse index points every block at a but
// the last (the last position of each case) at b.
TEST(JarRead, AddressesTheLastBlocksOfSixAndSevenManDatabases) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  Bytes a = MakeData(kBlockSize, 6), ab = a, b = MakeData(kBlockSize, 7);
  ab.insert(ab.end(), b.begin(), b.end());
  WriteJar("two", ab);
  const std::string ix = ReadFile("two.JIX");
  const struct {
    int32_t blocks;
    std::vector<const char*> chunks;
    std::vector<double> at;
  } cases[] = {
      {327680, {"J00", "J01", "J02", "J03", "J04"}, {4294967295.0, 4294967296.0, 10737418239.0}},
      {20971520, {"J13F"}, {685047283712.0, 687194734591.0, 687194767359.0}},
      {1 << 26, {"J3FF"}, {2196875771904.0, 2199023222783.0, 2199023255551.0}}};
  for (const auto& c : cases) {
    FILE* f = fopen("big.JIX", "wb");
    const std::string head = WithWord(WithWord(ix.substr(0, 116), 4, c.blocks), 12, 65536);
    ASSERT_TRUE(fwrite(head.data(), 1, head.size(), f) == head.size() &&
                fseeko(f, 116 + 4 * (int64_t{c.blocks} - 1), SEEK_SET) == 0 &&
                fwrite(ix.data() + 120, 1, 4, f) == 4 && fclose(f) == 0);
    for (const char* chunk : c.chunks) WriteFile(std::string("big.") + chunk, ReadFile("two.J00"));
    JILE* h = JarRopen("big");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(JarSize(h), static_cast<double>(c.blocks) * kBlockSize);
    for (double at : c.at) {
      ASSERT_EQ(JarSeek(h, at), 0) << at << ": " << h->fault.message;
      EXPECT_EQ(JarTell(h), at);
      EXPECT_EQ(JarGetc(h), (at == c.at.back() ? b : a)[static_cast<size_t>(std::fmod(at, kBlockSize))]);
    }
    EXPECT_EQ(JarClose(h), 0);
  }
}

// Two blocks in two chunk files, damaged one way: the open fails, or block 1 fails
// (again and again, never served from the buffer) with the message while block 0 reads.
TEST(JarDamage, DamagedFilesFailWithTheirMessages) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  Settings settings(1);
  const Bytes data = MakeData(2 * kBlockSize, 9);
  WriteJar("ok", data);
  const std::string ix = ReadFile("ok.JIX"), j01 = ReadFile("ok.J01");
  const size_t length = j01.size() - 8;
  const std::string cut = "JasRead: wanted " + std::to_string(length) + " actual " +
                          std::to_string(length / 2) + " [x.J01]: unexpected end of file";
  const struct {
    std::string jix, j01;  // the index and chunk file 1 as damaged, the latter "-" when missing
    std::string message;
  } cases[] = {
      {WithWord(ix, 0, 0x3552414b), j01, "Valid: invalid JILE *"},
      {WithWord(ix, 16, 500), j01, "JarRopen: incompatible version [x]"},
      {WithWord(ix, 72, 75), j01, "JarRopen: foffindex bugged [x]"},
      {WithWord(ix, 8, 32769), j01, "JarRopen: block counts bugged [x]"},
      {ix, WithWord(j01, 4, 40000), "FillFill: bad record length 40000 at block 1 [x]"},
      {ix, j01.substr(0, 8 + length / 2), cut},
      {ix, WithWord(j01, 8, 0xEE), "SubDecode: BUG: unknown method 238 at block 1 [x]"},
      {ix, "-", "JasOpen: (x.J01, rb) failed: No such file or directory"},
  };
  JILE* good = JarRopen("ok");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    WriteFile("x.JIX", c.jix);
    WriteFile("x.J00", ReadFile("ok.J00"));
    remove("x.J01");
    if (c.j01 != "-") WriteFile("x.J01", c.j01);
    JarFault fault;
    JILE* h = JarRopen("x", nullptr, &fault);
    if (&c - cases < 4) {  // damage to the index file fails the open
      EXPECT_EQ(h, nullptr);
      EXPECT_EQ(fault.message, c.message);
      continue;
    }
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(JarSeek(h, 10) == 0 && JarSeek(h, kBlockSize + 10.0) != 0);
    EXPECT_EQ(h->fault.message, c.message);
    // Another handle's failure is its own.
    EXPECT_TRUE(JarSeek(good, 1e9) != 0 && h->fault.message == c.message);
    EXPECT_STREQ(good->fault.message, "JarSeek: outside filesize [ok]");
    EXPECT_TRUE(JarSeek(h, kBlockSize + 20.0) != 0 && JarGetc(h) == -1);
    EXPECT_TRUE(JarSeek(h, 10) == 0 && JarGetc(h) == data[10] && JarClose(h) == 0);
  }
  EXPECT_EQ(JarClose(good), 0);
}

// Sequential reading decodes the next blocks ahead, one per thread, at once: a
// damaged block among them still fails only when reached, as read alone.
TEST(JarDamage, ABlockReadAheadFailsOnlyWhenReached) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const int was = PlatSetThreadCount(3);
  const Bytes data = MakeData(6 * kBlockSize, 5);
  WriteJar("ok", data, kFlagWork);
  uint32_t at;  // block 3's record
  memcpy(&at, ReadFile("ok.JIX").data() + kJarTableOffset + 3 * 4, 4);
  const struct {
    size_t offset;
    const char* message;
  } cases[] = {{at + 8, "SubDecode: BUG: unknown method 238 at block 3 [x]"},
               {at, "FillFill: bad CRC at block 3 [x]"}};
  for (const auto& c : cases) {
    std::string j00 = ReadFile("ok.J00");
    j00[c.offset] = static_cast<char>(0xEE);
    WriteFile("x.J00", j00);
    WriteFile("x.JIX", ReadFile("ok.JIX"));
    JILE* h = JarRopen("x");
    Bytes got(3 * kBlockSize);
    EXPECT_EQ(JarRead(got.data(), 3 * kBlockSize, h), 3 * kBlockSize);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
    EXPECT_EQ(JarGetc(h), -1);
    EXPECT_EQ(h->fault.message, std::string(c.message));
    EXPECT_EQ(JarClose(h), 0);
  }
  PlatSetThreadCount(was);
}

// Incompressible blocks: records of 32777 bytes with heads. With room for two, each
// chunk of four blocks continues in a second file; files that fit are as they were.
TEST(JarLimits, AChunkThatWouldPassTheLimitContinuesInASecondFile) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  Settings settings(4);
  Bytes data(7 * kBlockSize + 5);
  uint32_t x = 1;
  for (uint8_t& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345) >> 23);
  WriteJar("fits", data);
  Settings limit(4, 2 * 32777 + 1000);
  WriteJar("sp", data);
  EXPECT_EQ(ReadFile("sp.J00") + ReadFile("sp.J10000"), ReadFile("fits.J00"));
  const char* const files[] = {"sp.JIX", "sp.J00", "sp.J10000", "sp.J01", "sp.J10001"};
  double on_disk = 0;
  for (const char* name : files) {
    EXPECT_LE(PlatFileSize(name), 2 * 32777 + 1000) << name;
    on_disk += PlatFileSize(name);
  }
  // Offsets into second files carry the top bit; the version keeps old readers out.
  const std::string ix = ReadFile("sp.JIX");
  std::string expect = WithWord(WithWord(ReadFile("fits.JIX"), 16, 502), 20, 502);
  expect.replace(24, 4, ix, 24, 4);  // the creation time
  for (int b : {2, 3, 6, 7}) expect = WithWord(expect, 116 + 4 * b, 0x80000000u + (b % 2) * 32777);
  EXPECT_EQ(ix, expect);

  ExpectReadsBack("sp", data);
  EXPECT_EQ(JarCheck("sp"), 0);
  EXPECT_EQ(JarDiskSize("sp"), on_disk);
  // A removal cut short (the first chunk file gone) can be done again.
  ASSERT_EQ(remove("sp.J00"), 0);
  EXPECT_LT(JarDiskSize("sp"), 0);
  EXPECT_EQ(JarRemove("sp"), 0);
  for (const char* name : files) EXPECT_FALSE(FileExists(name));
}

}  // namespace
