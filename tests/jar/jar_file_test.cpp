// The file layer: the layout of index and chunk files, reading back, damage,
// the chunk split, and what it tells the accounting hooks.
#include "jar/jar_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "block_kinds.h"
#include "jar/jas.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Bytes resembling a value-byte file: runs of a few small values with some
// noise, so that the codec has something to compress.
Bytes MakeData(size_t n, uint32_t seed) {
  Bytes out(n);
  uint32_t x = seed * 2654435761u + 12345;
  uint8_t value = 0;
  for (size_t i = 0; i < n; i++) {
    x = x * 1103515245u + 12345;
    if ((x >> 24) < 24) value = static_cast<uint8_t>((x >> 8) % 7);
    out[i] = (x >> 20) % 97 == 0 ? static_cast<uint8_t>(x >> 9) : value;
  }
  return out;
}

uint32_t Le32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
         uint32_t(uint8_t(s[at + 3])) << 24;
}

void SetLe32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) s[at + i] = static_cast<char>(v >> (8 * i));
}

// Keeps the blocks per chunk file of new files at n for one test.
struct FileBlocks {
  explicit FileBlocks(int n) : saved(JarSetFileBlocks(0)) { JarSetFileBlocks(n); }
  ~FileBlocks() { JarSetFileBlocks(saved); }
  int saved;
};

// Writes data through a write handle in irregular pieces, partly byte by byte.
void WriteJar(const std::string& name, const Bytes& data, int flags = kFlagDefault) {
  JILE* h = JarWopen(name.c_str(), flags);
  ASSERT_NE(h, nullptr) << JasLastError();
  for (size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 7 % 50021 + 1) {
    piece = std::min(piece, data.size() - at);
    if (piece % 3 == 0) {
      for (size_t i = 0; i < piece; i++) ASSERT_EQ(JarPutc(data[at + i], h), data[at + i]);
    } else {
      ASSERT_EQ(JarWrite(data.data() + at, static_cast<int>(piece), h), static_cast<int>(piece));
    }
  }
  ASSERT_EQ(JarTell(h), static_cast<double>(data.size()));
  ASSERT_EQ(JarClose(h), 0) << JasLastError();
}

Bytes ReadAll(JILE* h) {
  Bytes out;
  for (int c; (c = JarGetc(h)) >= 0;) out.push_back(static_cast<uint8_t>(c));
  return out;
}

// The record of a block as the file layer stores it (padded with 0xFF).
std::string RecordOf(Bytes block, int flags) {
  block.resize(kBlockSize, 0xFF);
  int length = BlockEncode(block.data(), flags);
  return std::string(reinterpret_cast<const char*>(g_record), static_cast<size_t>(length));
}

TEST(JarLayout, IndexHeaderFillerTableAndRecordsByteForByte) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(2);
  const Bytes data = MakeData(3 * kBlockSize + 100, 1);
  const int64_t before = PlatTimeNow();
  JILE* h = JarWopen("db", kFlagDefault);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(JarWrite(data.data(), static_cast<int>(data.size()), h), static_cast<int>(data.size()));
  EXPECT_EQ(JarSetCreator(h, std::string(33, 'x').c_str(), 1, 2, 3), 2);
  EXPECT_STREQ(JasLastError(), "JarSetCreator: name too long [db]");
  ASSERT_EQ(JarSetCreator(h, "tester", 301, JarTag("DTM3"), 0x40000001), 0);
  // Until close the header on disk still says no blocks.
  fflush(h->index);
  EXPECT_EQ(ReadFile("db.JIX").substr(4, 8), std::string(8, '\0'));
  ASSERT_EQ(JarClose(h), 0);

  const std::string ix = ReadFile("db.JIX");
  ASSERT_EQ(ix.size(), 116u + 4 * 4);
  EXPECT_EQ(ix.substr(0, 4), "JAR5");
  const uint32_t counts[] = {4, 100, 2, 501, 501};  // blocks, last size, chunk size, versions
  for (int i = 0; i < 5; i++) EXPECT_EQ(Le32(ix, 4 + 4 * i), counts[i]) << 4 + 4 * i;
  EXPECT_GE(int64_t(Le32(ix, 24)), before);
  EXPECT_LE(int64_t(Le32(ix, 24)), PlatTimeNow());
  EXPECT_EQ(ix.substr(28, 32), std::string("tester") + std::string(26, '\0'));
  const uint32_t creator[] = {301, JarTag("DTM3"), 0x40000001, 116};  // format, metric, content, table
  for (int i = 0; i < 4; i++) EXPECT_EQ(Le32(ix, 60 + 4 * i), creator[i]) << 60 + 4 * i;
  EXPECT_EQ(ix.substr(76, 40), "dummy data chunkdummy data chunkdummy da");

  // Blocks 0 and 1 in chunk file 0, blocks 2 and 3 in chunk file 1, each a
  // check value, a length and the record the codec makes of the block.
  const std::string chunk[2] = {ReadFile("db.J00"), ReadFile("db.J01")};
  EXPECT_FALSE(FileExists("db.J02"));
  uint32_t offset = 0;
  for (int b = 0; b < 4; b++) {
    const std::string& c = chunk[b / 2];
    if (b % 2 == 0) offset = 0;
    EXPECT_EQ(Le32(ix, 116 + 4 * b), offset) << b;
    const size_t valid = b == 3 ? 100 : kBlockSize;
    Bytes want(data.begin() + b * kBlockSize, data.begin() + b * kBlockSize + valid);
    EXPECT_EQ(Le32(c, offset), JarBlockSum(want.data(), static_cast<int>(valid)));
    const std::string record = RecordOf(want, kFlagDefault);
    EXPECT_EQ(Le32(c, offset + 4), record.size());
    EXPECT_EQ(c.substr(offset + 8, record.size()), record) << "block " << b;
    offset += 8 + static_cast<uint32_t>(record.size());
    if (b % 2 == 1) {
      EXPECT_EQ(c.size(), offset) << "chunk ends after its last record";
    }
  }
}

// Two files written in turn, block by block: each may have a block on the
// worker thread while the other codes its own. Each stores, in order, the
// records of coding its blocks one after the other.
TEST(JarLayout, FilesWrittenInTurnStoreTheRecordsOfCodingOneByOne) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(3);
  const int kFlags[2] = {kFlagDefault, kFlagTrial};
  const char* kNames[2] = {"a", "b"};
  Bytes data[2] = {MakeData(7 * kBlockSize + 9, 21), MakeData(5 * kBlockSize + 1, 22)};
  JILE* h[2] = {JarWopen(kNames[0], kFlags[0]), JarWopen(kNames[1], kFlags[1])};
  for (size_t at = 0; at < data[0].size(); at += kBlockSize / 2) {
    for (int f = 0; f < 2; f++) {
      if (at >= data[f].size()) continue;
      int take = static_cast<int>(std::min<size_t>(kBlockSize / 2, data[f].size() - at));
      ASSERT_EQ(JarWrite(data[f].data() + at, take, h[f]), take);
    }
  }
  for (int f = 0; f < 2; f++) ASSERT_EQ(JarClose(h[f]), 0) << JasLastError();
  for (int f = 0; f < 2; f++) {
    const std::string ix = ReadFile(std::string(kNames[f]) + ".JIX");
    const int count = static_cast<int>(Le32(ix, 4));
    ASSERT_EQ(count, static_cast<int>((data[f].size() + kBlockSize - 1) / kBlockSize));
    for (int b = 0; b < count; b++) {
      const std::string chunk = ReadFile(std::string(kNames[f]) + ".J0" + std::to_string(b / 3));
      const uint32_t offset = Le32(ix, 116 + 4 * b);
      const size_t from = static_cast<size_t>(b) * kBlockSize;
      const Bytes block(data[f].begin() + from, data[f].begin() + std::min(from + kBlockSize, data[f].size()));
      EXPECT_EQ(chunk.substr(offset + 8, Le32(chunk, offset + 4)), RecordOf(block, kFlags[f]))
          << kNames[f] << " block " << b;
    }
  }
}

// Files of many sizes and chunk sizes read back in sequence (bytes and
// pieces) and at random, with the chunk files named in hex.
TEST(JarRead, SequentialAndRandomReadsAgreeAcrossBlocksAndChunks) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  struct Case {
    int file_blocks;
    size_t size;
    int flags;
    const char* last_chunk;  // the last chunk file there is, and the first there is not
    const char* no_chunk;
  } cases[] = {
      {3, 0, kFlagDefault, nullptr, "J00"},          {3, 1, kFlagLz, "J00", "J01"},
      {3, kBlockSize - 1, kFlagDefault, "J00", "J01"}, {3, 2 * kBlockSize, kFlagTrial, "J00", "J01"},
      {3, 3 * kBlockSize + 5, kFlagLz, "J01", "J02"},  {1, 17 * kBlockSize + 1, kFlagDefault, "J11", "J12"},
      {1, 10 * kBlockSize, kFlagDefault, "J09", "J0A"}, {3, 3000000, kFlagDefault, "J1E", "J1F"},
  };
  uint32_t seed = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes");
    FileBlocks blocks(c.file_blocks);
    const Bytes data = MakeData(c.size, seed++);
    char name[32];
    snprintf(name, sizeof name, "r%zu", c.size);
    WriteJar(name, data, c.flags);
    if (c.last_chunk != nullptr) {
      EXPECT_TRUE(FileExists(std::string(name) + "." + c.last_chunk));
    }
    EXPECT_FALSE(FileExists(std::string(name) + "." + c.no_chunk));
    EXPECT_EQ(Le32(ReadFile(std::string(name) + ".JIX"), 8), c.size == 0 ? 0 : (c.size - 1) % kBlockSize + 1);

    JILE* h = JarRopen(name);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(JarSize(h), static_cast<double>(c.size));
    Bytes got, piece(70000);
    for (int step = 1;; step++) {
      if (step % 4 == 0) {
        int b = JarGetc(h);
        if (b < 0) break;
        got.push_back(static_cast<uint8_t>(b));
      } else {
        int want = step * 131 % 70000 + 1, n = JarRead(piece.data(), want, h);
        got.insert(got.end(), piece.begin(), piece.begin() + n);
        if (n < want) break;
      }
    }
    EXPECT_TRUE(got == data);
    EXPECT_EQ(JarTell(h), static_cast<double>(c.size));
    uint32_t x = 99;
    for (int i = 0; i < 300 && !data.empty(); i++) {
      x = x * 1664525u + 1013904223u;
      const size_t at = (x >> 4) % data.size();
      ASSERT_EQ(JarSeek(h, static_cast<double>(at)), 0) << JasLastError();
      ASSERT_EQ(JarGetc(h), data[at]) << "at " << at;
    }
    // The size of a short last block is a position; past a full one there is
    // no block in the table.
    EXPECT_EQ(JarSeek(h, static_cast<double>(c.size)), c.size % kBlockSize != 0 ? 0 : 8);
    EXPECT_EQ(JarGetc(h), -1);
    EXPECT_EQ(JarSeek(h, c.size + 1.0), 3);
    EXPECT_EQ(JasLastError(), "JarSeek: outside filesize [" + std::string(name) + "]");
    EXPECT_EQ(JarClose(h), 0);
  }
}

// Positions past 4 GB: an index of 160000 blocks whose entries all point at
// the one record of a chunk file copied three times.
TEST(JarRead, AddressesDataBeyondFourGigabytes) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const Bytes block = MakeData(kBlockSize, 6);
  WriteJar("one", block);
  std::string ix = ReadFile("one.JIX").substr(0, 116);
  SetLe32(ix, 4, 160000);
  SetLe32(ix, 12, 65536);
  ix += std::string(4 * 160000, '\0');
  WriteFile("big.JIX", ix);
  for (const char* name : {"big.J00", "big.J01", "big.J02"}) WriteFile(name, ReadFile("one.J00"));
  JILE* h = JarRopen("big");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(JarSize(h), 5242880000.0);
  for (double at : {5000000123.0, 4294967296.0, 4294967295.0, 5242879999.0}) {
    ASSERT_EQ(JarSeek(h, at), 0) << at;
    EXPECT_EQ(JarTell(h), at);
    EXPECT_EQ(JarGetc(h), block[static_cast<size_t>(std::fmod(at, kBlockSize))]) << at;
  }
  EXPECT_EQ(JarClose(h), 0);
}

// A database of two blocks in two chunk files, damaged one way: either the
// open fails, or block 0 reads and block 1 fails, and keeps failing, with
// the message; the block buffer never serves the failed block.
TEST(JarDamage, DamagedFilesFailWithTheirMessages) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(1);
  const Bytes data = MakeData(2 * kBlockSize, 9);
  WriteJar("ok", data);
  const std::string ix = ReadFile("ok.JIX"), j01 = ReadFile("ok.J01");
  const std::string record = RecordOf(Bytes(data.begin() + kBlockSize, data.end()), kFlagDefault);
  auto header = [&](size_t at, uint32_t value) { std::string s = ix; SetLe32(s, at, value); WriteFile("x.JIX", s); };
  auto chunk = [&](std::string c) { WriteFile("x.JIX", ix); WriteFile("x.J01", c); };
  Bytes sampled(data.begin() + kBlockSize, data.end());
  sampled[2005] ^= 0x40;
  struct Case {
    std::function<void()> damage;
    bool open_fails;
    std::string message;
  } cases[] = {
      {[&] { header(0, 0x3552414b); }, true, "Valid: invalid JILE *"},
      {[&] { header(16, 500); }, true, "JarRopen: incompatible version [x]"},
      {[&] { header(72, 75); }, true, "JarRopen: foffindex bugged [x]"},
      {[&] { header(12, 0); }, true, "JarRopen: block counts bugged [x]"},
      {[&] { header(8, 32769); }, true, "JarRopen: block counts bugged [x]"},
      {[&] { WriteFile("x.JIX", ix.substr(0, 10)); }, true,
       "JasRead: wanted 76 actual 10 [x.JIX]: unexpected end of file"},
      {[&] { remove("x.JIX"); }, true, "JasOpen: (x.JIX, rb) failed: No such file or directory"},
      {[&] { std::string c = j01; SetLe32(c, 4, 40000); chunk(c); }, false,
       "FillFill: bad record length 40000 at block 1 [x]"},
      {[&] { chunk(j01.substr(0, 8 + record.size() / 2)); }, false,
       "JasRead: wanted " + std::to_string(record.size()) + " actual " + std::to_string(record.size() / 2) +
           " [x.J01]: unexpected end of file"},
      {[&] { std::string c = j01; c[8] = static_cast<char>(0xEE); chunk(c); }, false, "SubDecode: BUG"},
      {[&] { std::string r = RecordOf(sampled, kFlagDefault), c = j01.substr(0, 4) + j01.substr(4, 4) + r;
             SetLe32(c, 4, static_cast<uint32_t>(r.size())); chunk(c); }, false,
       "FillFill: bad CRC at block 1 [x]"},
      {[&] { WriteFile("x.JIX", ix); remove("x.J01"); }, false,
       "JasOpen: (x.J01, rb) failed: No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    WriteFile("x.J00", ReadFile("ok.J00"));
    WriteFile("x.J01", j01);
    c.damage();
    JILE* h = JarRopen("x");
    if (c.open_fails) {
      EXPECT_EQ(h, nullptr);
      EXPECT_EQ(JasLastError(), c.message);
      continue;
    }
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(JarSeek(h, 10), 0);
    EXPECT_NE(JarSeek(h, kBlockSize + 10.0), 0);
    EXPECT_EQ(JasLastError(), c.message);
    EXPECT_NE(JarSeek(h, kBlockSize + 20.0), 0);
    EXPECT_EQ(JarGetc(h), -1);
    ASSERT_EQ(JarSeek(h, 10), 0);
    EXPECT_EQ(JarGetc(h), data[10]);
    EXPECT_EQ(JarClose(h), 0);
  }
}

// Keeps the size no chunk file may pass at n for one test.
struct ChunkLimit {
  explicit ChunkLimit(int64_t n) : saved(JarSetChunkLimit(n)) {}
  ~ChunkLimit() { JarSetChunkLimit(saved); }
  int64_t saved;
};

// Incompressible blocks are stored whole: records of 32777 bytes with their
// heads. With room for two of them, each chunk of four blocks continues in
// its second file; files that fit are written as they always were.
TEST(JarLimits, AChunkThatWouldPassTheLimitContinuesInASecondFile) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(4);
  Bytes data(7 * kBlockSize + 5);
  uint32_t x = 1;
  for (uint8_t& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345) >> 23);
  WriteJar("fits", data);
  ChunkLimit limit(2 * 32777 + 1000);
  WriteJar("sp", data);
  EXPECT_EQ(ReadFile("sp.J00") + ReadFile("sp.J10000"), ReadFile("fits.J00"));
  EXPECT_EQ(ReadFile("sp.J01") + ReadFile("sp.J10001"), ReadFile("fits.J01"));
  double on_disk = 0;
  for (const char* name : {"sp.JIX", "sp.J00", "sp.J10000", "sp.J01", "sp.J10001"}) {
    EXPECT_LE(PlatFileSize(name), 2 * 32777 + 1000) << name;
    on_disk += PlatFileSize(name);
  }
  // The second files' offsets carry the top bit; older readers refuse the
  // file by its version.
  const std::string ix = ReadFile("sp.JIX");
  std::string expect = ReadFile("fits.JIX");
  SetLe32(expect, 16, 502);
  SetLe32(expect, 20, 502);
  for (int b : {2, 3, 6, 7}) SetLe32(expect, 116 + 4 * b, 0x80000000u + (b % 2) * 32777);
  SetLe32(expect, 24, Le32(ix, 24));  // creation time
  EXPECT_EQ(ix, expect);

  JILE* h = JarRopen("sp");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ReadAll(h), data);
  for (double at : {3.0 * kBlockSize + 7, 10.0, 2.0 * kBlockSize, 7.0 * kBlockSize + 4, 5.0 * kBlockSize}) {
    ASSERT_EQ(JarSeek(h, at), 0) << at;
    EXPECT_EQ(JarGetc(h), data[static_cast<size_t>(at)]) << at;
  }
  EXPECT_EQ(JarClose(h), 0);
  EXPECT_EQ(JarCheck("sp"), 0) << JasLastError();
  EXPECT_EQ(JarDiskSize("sp"), on_disk);
  EXPECT_EQ(JarRemove("sp"), 0);
  for (const char* name : {"sp.JIX", "sp.J00", "sp.J10000", "sp.J01", "sp.J10001"}) EXPECT_FALSE(FileExists(name));

  // A second file that would pass the limit too stops the write.
  FileBlocks eight(8);
  JILE* w = JarWopen("lim", kFlagDefault);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(JarWrite(data.data(), 7 * kBlockSize, w), 0);
  EXPECT_STREQ(JasLastError(), "Flush: chunk file lim.J10000 would pass 2^31 bytes");
  EXPECT_EQ(JarClose(w), 2);
}

TEST(JarByName, DiskSizeRemoveAndTheirCodes) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(2);
  WriteJar("d", MakeData(5 * kBlockSize, 15));
  double on_disk = 0;
  for (const char* name : {"d.JIX", "d.J00", "d.J01", "d.J02"}) on_disk += PlatFileSize(name);
  EXPECT_EQ(JarDiskSize("d"), on_disk);
  // A removal cut short (the first chunk file gone) can be done again.
  ASSERT_EQ(remove("d.J00"), 0);
  EXPECT_EQ(JarDiskSize("d"), -6.0) << "-(6 + the first chunk file missing)";
  EXPECT_EQ(JarExists("d"), 1);
  EXPECT_EQ(JarRemove("d"), 0);
  for (const char* name : {"d.JIX", "d.J01", "d.J02"}) EXPECT_FALSE(FileExists(name)) << name;
  EXPECT_EQ(JarExists("d"), 0);
  EXPECT_EQ(JarDiskSize("d"), -1.0);
  EXPECT_EQ(JarRemove("d"), 1);
  WriteFile("x.JIX", std::string(76, 'x'));
  EXPECT_EQ(JarDiskSize("x"), -4.0);
  EXPECT_EQ(JarRemove("x"), 4);
  WriteFile("y.JIX", "JAR5");
  EXPECT_EQ(JarDiskSize("y"), -2.0);
  EXPECT_EQ(JarRemove("y"), 2);
  EXPECT_EQ(JarWopen(std::string(300, 'a').c_str(), 0), nullptr);
  EXPECT_STREQ(JasLastError(), "JarWopen: name too long");
}

// What the layer tells the five hook slots, which a build's log reports.
struct Recorded {
  std::vector<std::string> errors, opened, removed;
  long alloc = 0;
  int streams = 0;
  double written = 0, removed_bytes = 0;
} g_rec;

TEST(JarHooks, ReportMemoryStreamsBytesAndRemovals) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(1);
  g_rec = Recorded();
  JarHookError([](const char* m) { g_rec.errors.push_back(m); });
  JarHookAlloc([](int d) { g_rec.alloc += d; });
  JarHookFopen([](int d, FILE*, const char* mode, const char* name) {
    g_rec.streams += d;
    if (d > 0) g_rec.opened.push_back(std::string(name) + " " + mode);
  });
  JarHookWrite([](double d) { g_rec.written += d; });
  JarHookRemove([](double size, const char* name) {
    g_rec.removed.push_back(name);
    g_rec.removed_bytes += size;
  });
  JILE* h = JarWopen("k", kFlagDefault);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(g_rec.alloc, long(sizeof(JILE)) + 12) << "the handle and its guard words";
  const Bytes data = MakeData(2 * kBlockSize + 3, 16);
  ASSERT_EQ(JarWrite(data.data(), static_cast<int>(data.size()), h), static_cast<int>(data.size()));
  ASSERT_EQ(JarClose(h), 0);
  EXPECT_EQ(g_rec.alloc, 0);
  EXPECT_EQ(g_rec.streams, 0);
  EXPECT_EQ(g_rec.opened, (std::vector<std::string>{"k.JIX wb", "k.J00 wb", "k.J01 wb", "k.J02 wb"}));
  EXPECT_EQ(g_rec.written, JarDiskSize("k")) << "the header rewritten at close counts once";
  const double size = JarDiskSize("k");
  ASSERT_EQ(JarRemove("k"), 0);
  EXPECT_EQ(g_rec.written, 0.0);
  EXPECT_EQ(g_rec.removed_bytes, size);
  EXPECT_EQ(g_rec.removed, (std::vector<std::string>{"k.J00", "k.J01", "k.J02", "k.JIX"}));
  EXPECT_EQ(JarRopen("k"), nullptr);
  EXPECT_EQ(g_rec.errors, (std::vector<std::string>{"JasOpen: (k.JIX, rb) failed: No such file or directory"}));
  EXPECT_EQ(g_rec.alloc, 0) << "a failed open frees its handle";

  void* p = JasAlloc(100);
  auto* bytes = static_cast<uint8_t*>(p);
  for (int at : {100, -1}) {
    bytes[at] ^= 1;
    EXPECT_EQ(JarFree(p), at < 0 ? 2 : 3);
    EXPECT_EQ(g_rec.errors.back(), at < 0 ? "JarFree: lo sentinel violated" : "JarFree: hi sentinel violated");
    bytes[at] ^= 1;
  }
  EXPECT_EQ(g_rec.alloc, 112) << "a refused release frees nothing";
  EXPECT_EQ(JarFree(p), 0);
  EXPECT_EQ(g_rec.alloc, 0);
  JarHookError(nullptr);
  JarHookAlloc(nullptr);
  JarHookFopen(nullptr);
  JarHookWrite(nullptr);
  JarHookRemove(nullptr);
}

}  // namespace
