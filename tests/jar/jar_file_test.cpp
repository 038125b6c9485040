#include "jar/jar_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "block_kinds.h"
#include "jar/jas.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Bytes resembling a value-byte file: runs of a few small values with some
// noise, so that a real codec has something to compress.
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
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 |
         uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

void SetLe32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) s[at + i] = static_cast<char>(v >> (8 * i));
}

std::string Le32Text(uint32_t v) {
  std::string s(4, 0);
  SetLe32(s, 0, v);
  return s;
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
  size_t at = 0;
  size_t piece = 1;
  while (at < data.size()) {
    size_t take = std::min(piece, data.size() - at);
    if (piece % 3 == 0) {
      for (size_t i = 0; i < take; i++) ASSERT_EQ(JarPutc(data[at + i], h), data[at + i]);
    } else {
      ASSERT_EQ(JarWrite(data.data() + at, static_cast<int>(take), h), static_cast<int>(take));
    }
    at += take;
    piece = piece * 7 % 50021 + 1;
  }
  ASSERT_EQ(JarTell(h), static_cast<double>(data.size()));
  ASSERT_EQ(JarClose(h), 0) << JasLastError();
}

// The record of a block coded by the codec in use, as it would be stored.
std::string RecordOf(const Bytes& block, int flags = kFlagDefault) {
  Bytes full(block);
  full.resize(kBlockSize, 0xFF);
  int length = BlockEncode(full.data(), flags);
  EXPECT_GT(length, 0);
  return std::string(reinterpret_cast<const char*>(g_record), static_cast<size_t>(length));
}

Bytes DecodeRecord(const std::string& record) {
  memcpy(g_record, record.data(), record.size());
  Bytes block(kBlockSize);
  EXPECT_EQ(BlockDecode(static_cast<int>(record.size()), block.data()), 1) << JasLastError();
  return block;
}

Bytes ReadAll(JILE* h) {
  Bytes out;
  int c;
  while ((c = JarGetc(h)) >= 0) out.push_back(static_cast<uint8_t>(c));
  return out;
}

TEST(JarBlockSum, ThreeBytesAndEmpty) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(JarBlockSum(abc, 3), 683u);
  EXPECT_EQ(JarBlockSum(abc, 0), 0u);
}

// The check value samples three words every 2000 bytes and the last 13
// bytes; every other byte of a full block may change without notice.
TEST(JarBlockSum, SamplesExactlyTheDocumentedBytesOfAFullBlock) {
  Bytes block = MakeData(kBlockSize, 7);
  std::set<int> sampled;
  for (int g = 0; g < kBlockSize - 16; g += 2000)
    for (int i = 0; i < 12; i++) sampled.insert(g + i);
  for (int i = 0; i < 13; i++) sampled.insert(kBlockSize - 1 - i);
  EXPECT_EQ(sampled.size(), 17u * 12 + 13);
  const uint32_t base = JarBlockSum(block.data(), kBlockSize);
  for (int at = 0; at < kBlockSize; at++) {
    block[at] ^= 0x01;
    bool changed = JarBlockSum(block.data(), kBlockSize) != base;
    block[at] ^= 0x01;
    ASSERT_EQ(changed, sampled.count(at) == 1) << "offset " << at;
  }
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
  ASSERT_EQ(JarSetCreator(h, "tester", 301, JarTag("DTM3"), 0x40000001), 0);
  // Until close the header on disk still says no blocks.
  fflush(h->index);
  std::string early = ReadFile("db.JIX");
  EXPECT_EQ(Le32(early, 4), 0u);
  EXPECT_EQ(Le32(early, 8), 0u);
  EXPECT_EQ(early.substr(28, 8), std::string("default\0", 8));
  ASSERT_EQ(JarClose(h), 0);
  const int64_t after = PlatTimeNow();

  const std::string ix = ReadFile("db.JIX");
  ASSERT_EQ(ix.size(), 116u + 4 * 4);
  EXPECT_EQ(ix.substr(0, 4), "JAR5");
  EXPECT_EQ(Le32(ix, 4), 4u);
  EXPECT_EQ(Le32(ix, 8), 100u);
  EXPECT_EQ(Le32(ix, 12), 2u);
  EXPECT_EQ(Le32(ix, 16), 501u);
  EXPECT_EQ(Le32(ix, 20), 501u);
  EXPECT_GE(int64_t(Le32(ix, 24)), before);
  EXPECT_LE(int64_t(Le32(ix, 24)), after);
  EXPECT_EQ(ix.substr(28, 32), std::string("tester") + std::string(26, '\0'));
  EXPECT_EQ(Le32(ix, 60), 301u);
  EXPECT_EQ(ix.substr(64, 4), "DTM3");
  EXPECT_EQ(Le32(ix, 68), 0x40000001u);
  EXPECT_EQ(Le32(ix, 72), 116u);
  EXPECT_EQ(ix.substr(76, 40), "dummy data chunkdummy data chunkdummy da");

  // Blocks 0 and 1 in chunk file 0, blocks 2 and 3 in chunk file 1, each
  // chunk file starting with its first block's record.
  const std::string chunk[2] = {ReadFile("db.J00"), ReadFile("db.J01")};
  EXPECT_FALSE(FileExists("db.J02"));
  for (int b = 0; b < 4; b++) {
    const std::string& c = chunk[b / 2];
    const uint32_t offset = Le32(ix, 116 + 4 * b);
    if (b % 2 == 0) {
      EXPECT_EQ(offset, 0u) << b;
    } else {
      EXPECT_EQ(offset, 8 + Le32(c, 4)) << b;
      EXPECT_EQ(c.size(), offset + 8 + Le32(c, offset + 4)) << "chunk ends after its last record";
    }
    const uint32_t length = Le32(c, offset + 4);
    ASSERT_GE(length, 1u);
    ASSERT_LE(length, uint32_t(kMaxRecordLength));
    const uint8_t method = uint8_t(c[offset + 8]);
    EXPECT_TRUE(method >= 1 && method <= 8) << int(method);
    const size_t valid = b == 3 ? 100 : kBlockSize;
    Bytes want(data.begin() + b * kBlockSize, data.begin() + b * kBlockSize + valid);
    EXPECT_EQ(Le32(c, offset), JarBlockSum(want.data(), static_cast<int>(valid)));
    Bytes got = DecodeRecord(c.substr(offset + 8, length));
    // A short last block is coded as a whole block padded with 0xFF.
    want.resize(kBlockSize, 0xFF);
    EXPECT_EQ(got, want) << "block " << b;
  }
}

TEST(JarLayout, ChunkFilesAreNumberedInHexAndSwitchAtTheChunkSize) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(1);
  const Bytes data = MakeData(17 * kBlockSize + 1, 2);
  WriteJar("hx", data);
  for (const char* name : {"hx.J00", "hx.J09", "hx.J0A", "hx.J0F", "hx.J10", "hx.J11"})
    EXPECT_TRUE(FileExists(name)) << name;
  EXPECT_FALSE(FileExists("hx.J12"));
  EXPECT_FALSE(FileExists("hx.J0a"));
  const std::string ix = ReadFile("hx.JIX");
  for (int b = 0; b < 18; b++) EXPECT_EQ(Le32(ix, 116 + 4 * b), 0u);
  JILE* h = JarRopen("hx");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ReadAll(h), data);
  EXPECT_EQ(JarClose(h), 0);
}

// Two files written in turn, block by block: one at a time has a block on the
// worker thread, the other codes its own. Each stores, in order, the records
// of coding its blocks one after the other.
TEST(JarLayout, FilesWrittenInTurnStoreTheRecordsOfCodingOneByOne) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(3);
  const int kFlags[2] = {kFlagDefault, kFlagTrial};
  const char* kNames[2] = {"a", "b"};
  Bytes data[2] = {MakeData(7 * kBlockSize + 9, 21), MakeData(5 * kBlockSize + 1, 22)};
  JILE* h[2];
  for (int f = 0; f < 2; f++) {
    h[f] = JarWopen(kNames[f], kFlags[f]);
    ASSERT_NE(h[f], nullptr);
  }
  for (size_t at = 0; at < data[0].size() || at < data[1].size(); at += kBlockSize / 2) {
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
      char chunk_name[16];
      snprintf(chunk_name, sizeof chunk_name, "%s.J%02X", kNames[f], b / 3);
      const std::string chunk = ReadFile(chunk_name);
      const uint32_t offset = Le32(ix, 116 + 4 * b);
      const size_t from = static_cast<size_t>(b) * kBlockSize;
      const Bytes block(data[f].begin() + from, data[f].begin() + std::min(from + kBlockSize, data[f].size()));
      EXPECT_EQ(chunk.substr(offset + 8, Le32(chunk, offset + 4)), RecordOf(block, kFlags[f]))
          << kNames[f] << " block " << b;
    }
    JILE* r = JarRopen(kNames[f]);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(ReadAll(r), data[f]);
    EXPECT_EQ(JarClose(r), 0);
  }
}

TEST(JarLayout, ExactBlockMultipleIsWrittenAtCloseWithFullLastBlock) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const Bytes data = MakeData(2 * kBlockSize, 3);
  JILE* h = JarWopen("ex", kFlagDefault);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(JarWrite(data.data(), kBlockSize, h), kBlockSize);
  EXPECT_FALSE(FileExists("ex.J00")) << "a full block waits for the next byte";
  ASSERT_EQ(JarWrite(data.data() + kBlockSize, kBlockSize, h), kBlockSize);
  EXPECT_EQ(JarTell(h), 2.0 * kBlockSize);
  ASSERT_EQ(JarClose(h), 0);
  const std::string ix = ReadFile("ex.JIX");
  EXPECT_EQ(Le32(ix, 4), 2u);
  EXPECT_EQ(Le32(ix, 8), 32768u);
  EXPECT_EQ(ix.size(), 116u + 8);
}

TEST(JarLayout, EmptyFileHasNoBlocksAndReadsNothing) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  WriteJar("e", Bytes());
  const std::string ix = ReadFile("e.JIX");
  EXPECT_EQ(ix.size(), 116u);
  EXPECT_EQ(Le32(ix, 4), 0u);
  EXPECT_EQ(Le32(ix, 8), 0u);
  EXPECT_FALSE(FileExists("e.J00"));
  EXPECT_EQ(JarDiskSize("e"), 116.0);
  JILE* h = JarRopen("e");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(JarSize(h), 0.0);
  EXPECT_EQ(JarTell(h), 0.0);
  EXPECT_EQ(JarGetc(h), -1);
  uint8_t buf[4];
  EXPECT_EQ(JarRead(buf, 4, h), 0);
  EXPECT_EQ(JarClose(h), 0);
}

TEST(JarCreator, NameOf32FillsTheFieldAnd33IsRefused) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const std::string n32(32, 'x');
  JILE* h = JarWopen("cr", kFlagDefault);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(JarSetCreator(h, (n32 + "y").c_str(), 1, 2, 3), 2);
  EXPECT_STREQ(JasLastError(), "JarSetCreator: name too long [cr]");
  EXPECT_EQ(JarSetCreator(h, n32.c_str(), 301, JarTag("DTM3"), 77), 0);
  EXPECT_EQ(JarPutc(5, h), 5);
  ASSERT_EQ(JarClose(h), 0);
  const std::string ix = ReadFile("cr.JIX");
  EXPECT_EQ(ix.substr(28, 32), n32);
  EXPECT_EQ(Le32(ix, 60), 301u);

  JILE* r = JarRopen("cr");
  ASSERT_NE(r, nullptr);
  const char* name;
  int32_t format;
  uint32_t metric;
  int32_t content;
  ASSERT_EQ(JarGetCreator(r, &name, &format, &metric, &content), 0);
  EXPECT_EQ(std::string(name, 32), n32);
  EXPECT_EQ(format, 301);
  EXPECT_EQ(metric, JarTag("DTM3"));
  EXPECT_EQ(content, 77);
  EXPECT_EQ(JarSetCreator(r, "x", 0, 0, 0), 1) << "a read handle takes no creator";
  EXPECT_EQ(JarClose(r), 0);
}

// Reads one file back in sequence (bytes and pieces) and at random.
void CheckReadBack(const std::string& name, const Bytes& data, int probes) {
  SCOPED_TRACE(name + " of " + std::to_string(data.size()) + " bytes");
  JILE* h = JarRopen(name.c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(JarSize(h), static_cast<double>(data.size()));
  Bytes got;
  Bytes piece(70000);
  int step = 1;
  while (true) {
    if (step % 4 == 0) {
      int c = JarGetc(h);
      if (c < 0) break;
      got.push_back(static_cast<uint8_t>(c));
    } else {
      int want = step * 131 % 70000 + 1;
      int n = JarRead(piece.data(), want, h);
      got.insert(got.end(), piece.begin(), piece.begin() + n);
      if (n < want) break;
    }
    step++;
  }
  ASSERT_EQ(got.size(), data.size());
  EXPECT_TRUE(got == data);
  EXPECT_EQ(JarTell(h), static_cast<double>(data.size()));

  uint32_t x = 99;
  for (int i = 0; i < probes && !data.empty(); i++) {
    x = x * 1664525u + 1013904223u;
    const size_t at = (x >> 4) % data.size();
    ASSERT_EQ(JarSeek(h, static_cast<double>(at)), 0) << JasLastError();
    EXPECT_EQ(JarTell(h), static_cast<double>(at));
    if (i % 8 == 0) {
      const int want = static_cast<int>(std::min<size_t>(x % 70000 + 1, data.size() - at));
      ASSERT_EQ(JarRead(piece.data(), want, h), want);
      ASSERT_TRUE(std::equal(piece.begin(), piece.begin() + want, data.begin() + at)) << at;
    } else {
      ASSERT_EQ(JarGetc(h), data[at]) << "at " << at;
    }
  }
  EXPECT_EQ(JarClose(h), 0);
}

TEST(JarRead, SequentialAndRandomReadsAgreeAcrossBlocksAndChunks) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(3);
  const size_t sizes[] = {1, kBlockSize - 1, kBlockSize, 3 * kBlockSize, 3 * kBlockSize + 5, 3000000};
  int seed = 10;
  for (size_t n : sizes) {
    const Bytes data = MakeData(n, static_cast<uint32_t>(seed++));
    char name[32];
    snprintf(name, sizeof name, "r%zu", n);
    WriteJar(name, data);
    CheckReadBack(name, data, n > 1000000 ? 600 : 300);
  }
}

TEST(JarRead, FilesCodedWithEveryFlagReadBack) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const Bytes data = MakeData(2 * kBlockSize + 777, 5);
  for (int flags : {kFlagDefault, kFlagLz, kFlagTrial}) {
    char name[32];
    snprintf(name, sizeof name, "f%d", flags);
    WriteJar(name, data, flags);
    CheckReadBack(name, data, 50);
  }
}

TEST(JarSeek, ToTheSizeInsideTheBlockAndPastTheEnd) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(1);
  const Bytes odd = MakeData(kBlockSize + 10, 4);
  const Bytes even = MakeData(2 * kBlockSize, 5);
  WriteJar("odd", odd);
  WriteJar("even", even);

  JILE* h = JarRopen("odd");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(JarSeek(h, kBlockSize + 10.0), 0) << "the size of a short last block is a position";
  EXPECT_EQ(JarTell(h), kBlockSize + 10.0);
  EXPECT_EQ(JarGetc(h), -1);
  EXPECT_EQ(JarSeek(h, kBlockSize + 11.0), 3);
  EXPECT_STREQ(JasLastError(), "JarSeek: outside filesize [odd]");
  EXPECT_EQ(JarSeek(h, -1.0), 3);
  EXPECT_EQ(JarSeek(h, std::nan("")), 3);

  // Inside the loaded block a seek touches no file: it works with the
  // chunk files gone, while another block cannot be loaded.
  ASSERT_EQ(JarSeek(h, 5.0), 0);
  ASSERT_EQ(remove("odd.J00"), 0);
  ASSERT_EQ(remove("odd.J01"), 0);
  EXPECT_EQ(JarSeek(h, 32000.0), 0);
  EXPECT_EQ(JarGetc(h), odd[32000]);
  EXPECT_EQ(JarSeek(h, kBlockSize + 1.0), 5);
  EXPECT_STREQ(JasLastError(), "JasOpen: (odd.J01, rb) failed: No such file or directory");
  EXPECT_EQ(JarClose(h), 0);

  h = JarRopen("even");
  ASSERT_NE(h, nullptr);
  EXPECT_NE(JarSeek(h, 2.0 * kBlockSize), 0) << "block 2 does not exist";
  EXPECT_EQ(JarSeek(h, 2.0 * kBlockSize - 1), 0);
  EXPECT_EQ(JarGetc(h), even.back());
  EXPECT_EQ(JarGetc(h), -1);
  EXPECT_EQ(JarClose(h), 0);

  JILE* w = JarWopen("w", kFlagDefault);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(JarSeek(w, 0), 2);
  EXPECT_STREQ(JasLastError(), "JarSeek: write-file [w]");
  EXPECT_EQ(JarGetc(w), -1);
  EXPECT_EQ(JarClose(w), 0);
  EXPECT_EQ(JarSeek(nullptr, 0), 1);
  EXPECT_STREQ(JasLastError(), "Valid: invalid JILE *");
}

// Positions past 4 GB: an index of 160000 blocks whose entries all point at
// the one record of a chunk file copied three times.
TEST(JarSeek, AddressesDataBeyondFourGigabytes) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const Bytes block = MakeData(kBlockSize, 6);
  WriteJar("one", block);
  std::string ix = ReadFile("one.JIX").substr(0, 116);
  const uint32_t count = 160000;
  SetLe32(ix, 4, count);
  SetLe32(ix, 12, 65536);
  ix += std::string(4 * count, '\0');
  WriteFile("big.JIX", ix);
  const std::string chunk = ReadFile("one.J00");
  for (const char* name : {"big.J00", "big.J01", "big.J02"}) WriteFile(name, chunk);

  JILE* h = JarRopen("big");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(JarSize(h), 5242880000.0);
  for (double at : {5000000123.0, 4294967296.0, 4294967295.0, 5242879999.0}) {
    ASSERT_EQ(JarSeek(h, at), 0) << at;
    EXPECT_EQ(JarTell(h), at);
    EXPECT_EQ(JarGetc(h), block[static_cast<size_t>(std::fmod(at, kBlockSize))]) << at;
  }
  EXPECT_EQ(JarGetc(h), -1);
  EXPECT_EQ(JarSeek(h, 5242880000.0), 8) << "no block 160000 in the table";
  EXPECT_EQ(JarClose(h), 0);
  EXPECT_EQ(JarDiskSize("big"), double(ix.size() + 3 * chunk.size()));
}

TEST(JarDamage, HeaderFaultsFailTheOpenWithTheirMessages) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  WriteJar("ok", MakeData(100, 8));
  const std::string good = ReadFile("ok.JIX");
  struct Case {
    size_t at;
    uint32_t value;
    const char* message;
  } cases[] = {
      {0, 0x3552414b, "Valid: invalid JILE *"},  // "KAR5"
      {16, 500, "JarRopen: incompatible version [bad]"},
      {72, 75, "JarRopen: foffindex bugged [bad]"},
      {12, 0, "JarRopen: block counts bugged [bad]"},
      {8, 32769, "JarRopen: block counts bugged [bad]"},
  };
  for (const Case& c : cases) {
    std::string bad = good;
    SetLe32(bad, c.at, c.value);
    WriteFile("bad.JIX", bad);
    EXPECT_EQ(JarRopen("bad"), nullptr) << c.message;
    EXPECT_STREQ(JasLastError(), c.message);
  }
  std::string reader_ignores = good;
  SetLe32(reader_ignores, 20, 999);
  WriteFile("v2.JIX", reader_ignores);
  WriteFile("v2.J00", ReadFile("ok.J00"));
  JILE* h = JarRopen("v2");
  EXPECT_NE(h, nullptr) << "the second version word is not checked";
  if (h != nullptr) {
    EXPECT_EQ(JarClose(h), 0);
  }

  WriteFile("short.JIX", good.substr(0, 10));
  EXPECT_EQ(JarRopen("short"), nullptr);
  EXPECT_STREQ(JasLastError(), "JasRead: wanted 76 actual 10 [short.JIX]: unexpected end of file");
  EXPECT_EQ(JarRopen("absent"), nullptr);
  EXPECT_STREQ(JasLastError(), "JasOpen: (absent.JIX, rb) failed: No such file or directory");
}

// A one-block database whose record is replaced by the given one while the
// stored check value stays that of the original block.
void ReplaceRecord(const std::string& name, const std::string& record, uint32_t length) {
  const std::string chunk = ReadFile(name + ".J00");
  WriteFile(name + ".J00", chunk.substr(0, 4) + Le32Text(length) + record);
}

TEST(JarDamage, SampledDifferenceFailsTheCheckAndUnsampledPasses) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const Bytes data = MakeData(kBlockSize, 9);
  WriteJar("s", data);
  Bytes changed = data;
  changed[2000 + 5] ^= 0x40;  // sampled
  std::string record = RecordOf(changed);
  ReplaceRecord("s", record, static_cast<uint32_t>(record.size()));
  JILE* h = JarRopen("s");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(JarGetc(h), -1);
  EXPECT_STREQ(JasLastError(), "FillFill: bad CRC at block 0 [s]");
  EXPECT_EQ(JarClose(h), 0);

  changed = data;
  changed[1000] ^= 0x40;  // not sampled
  record = RecordOf(changed);
  ReplaceRecord("s", record, static_cast<uint32_t>(record.size()));
  h = JarRopen("s");
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(JarSeek(h, 1000), 0);
  EXPECT_EQ(JarGetc(h), changed[1000]);
  EXPECT_EQ(JarClose(h), 0);
}

TEST(JarDamage, BrokenRecordsAreRefusedCleanly) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const Bytes data = MakeData(kBlockSize, 11);
  WriteJar("b", data);
  const std::string record = RecordOf(data);
  uint8_t buf[16];

  // A length beyond the record buffer.
  ReplaceRecord("b", record, 40000);
  JILE* h = JarRopen("b");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(JarRead(buf, 16, h), 0);
  EXPECT_STREQ(JasLastError(), "FillFill: bad record length 40000 at block 0 [b]");
  EXPECT_EQ(JarClose(h), 0);

  // A record cut short.
  ReplaceRecord("b", record.substr(0, record.size() / 2), static_cast<uint32_t>(record.size()));
  h = JarRopen("b");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(JarGetc(h), -1);
  EXPECT_EQ(std::string(JasLastError()).rfind("JasRead: wanted ", 0), 0u) << JasLastError();
  EXPECT_EQ(JarClose(h), 0);

  // An unknown method code: the decoder's own message.
  std::string unknown = record;
  unknown[0] = static_cast<char>(0xEE);
  ReplaceRecord("b", unknown, static_cast<uint32_t>(unknown.size()));
  h = JarRopen("b");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(JarGetc(h), -1);
  EXPECT_STRNE(JasLastError(), "");
  EXPECT_EQ(JarClose(h), 0);
}

// After a block failed to load, neither a seek into it nor further
// sequential reading may serve the bytes left in the buffer.
TEST(JarDamage, AFailedBlockIsNeverServedFromTheBuffer) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(1);
  const Bytes data = MakeData(2 * kBlockSize, 12);
  WriteJar("f", data);
  std::string chunk1 = ReadFile("f.J01");
  SetLe32(chunk1, 4, 40000);
  WriteFile("f.J01", chunk1);
  JILE* h = JarRopen("f");
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(JarSeek(h, 10), 0);
  EXPECT_EQ(JarSeek(h, kBlockSize + 10.0), 10);
  EXPECT_EQ(JarSeek(h, kBlockSize + 20.0), 10);
  EXPECT_EQ(JarGetc(h), -1);
  ASSERT_EQ(JarSeek(h, 10), 0);
  EXPECT_EQ(JarGetc(h), data[10]);
  EXPECT_EQ(JarClose(h), 0);
}

TEST(JarDamage, MissingChunkFileFailsTheRead) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(1);
  const Bytes data = MakeData(3 * kBlockSize, 13);
  WriteJar("m", data);
  ASSERT_EQ(remove("m.J01"), 0);
  JILE* h = JarRopen("m");
  ASSERT_NE(h, nullptr);
  Bytes all(data.size());
  EXPECT_EQ(JarRead(all.data(), static_cast<int>(all.size()), h), 0) << "no partial count after a failure";
  EXPECT_STREQ(JasLastError(), "JasOpen: (m.J01, rb) failed: No such file or directory");
  EXPECT_EQ(JarClose(h), 0);
  EXPECT_EQ(JarDiskSize("m"), -7.0);
  // Removal takes what is there: the chunk already gone is no failure.
  EXPECT_EQ(JarRemove("m"), 0);
  for (const char* name : {"m.JIX", "m.J00", "m.J02"}) EXPECT_FALSE(FileExists(name)) << name;
}

TEST(JarByName, ARemovalCutShortCanBeDoneAgain) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(1);
  WriteJar("r", MakeData(2 * kBlockSize, 16));
  // As if a removal had stopped after the first chunk file: the index file
  // is still there, so the removal can be finished.
  ASSERT_EQ(remove("r.J00"), 0);
  EXPECT_EQ(JarExists("r"), 1);
  EXPECT_EQ(JarRemove("r"), 0);
  for (const char* name : {"r.JIX", "r.J01"}) EXPECT_FALSE(FileExists(name)) << name;
  // A file whose writing never reached its close counts no block, yet has
  // its first chunk file.
  JILE* h = JarWopen("w", kFlagDefault);
  ASSERT_NE(h, nullptr);
  // The first block is written once the second is coded.
  const Bytes data = MakeData(2 * kBlockSize + 1, 17);
  ASSERT_EQ(JarWrite(data.data(), 2 * kBlockSize + 1, h), 2 * kBlockSize + 1);
  fflush(h->chunk);
  fflush(h->index);
  EXPECT_TRUE(FileExists("w.J00"));
  EXPECT_EQ(JarRemove("w"), 0);
  EXPECT_FALSE(FileExists("w.J00"));
  EXPECT_FALSE(FileExists("w.JIX"));
  EXPECT_EQ(JarClose(h), 0);
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
  for (const char* name : {"sp.JIX", "sp.J00", "sp.J10000", "sp.J01", "sp.J10001"})
    EXPECT_FALSE(FileExists(name)) << name;

  // A second file that would pass the limit too stops the write.
  FileBlocks eight(8);
  JILE* w = JarWopen("lim", kFlagDefault);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(JarWrite(data.data(), 7 * kBlockSize, w), 0);
  EXPECT_STREQ(JasLastError(), "Flush: chunk file lim.J10000 would pass 2^31 bytes");
  EXPECT_EQ(JarClose(w), 2);
}

TEST(JarLimits, TheBlockCountStopsBelowTwoToThe31) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  JILE* h = JarWopen("cnt", kFlagDefault);
  ASSERT_NE(h, nullptr);
  h->header.block_count = INT32_MAX;
  ASSERT_EQ(JarPutc(1, h), 1);
  EXPECT_EQ(JarClose(h), 2);
  EXPECT_STREQ(JasLastError(), "Flush: more than 2147483647 blocks [cnt]");
}

TEST(JarByName, DiskSizeRemoveAndTheirCodes) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(2);
  WriteJar("d", MakeData(5 * kBlockSize, 15));
  double on_disk = 0;
  for (const char* name : {"d.JIX", "d.J00", "d.J01", "d.J02"}) on_disk += PlatFileSize(name);
  EXPECT_EQ(JarDiskSize("d"), on_disk);
  EXPECT_EQ(JarExists("d"), 1);
  EXPECT_EQ(JarRemove("d"), 0);
  for (const char* name : {"d.JIX", "d.J00", "d.J01", "d.J02"}) EXPECT_FALSE(FileExists(name)) << name;
  EXPECT_EQ(JarExists("d"), 0);
  EXPECT_EQ(JarDiskSize("d"), -1.0);
  EXPECT_EQ(JarRemove("d"), 1);
  WriteFile("x.JIX", std::string(76, 'x'));
  EXPECT_EQ(JarDiskSize("x"), -4.0);
  EXPECT_EQ(JarRemove("x"), 4);
  WriteFile("y.JIX", "JAR5");
  EXPECT_EQ(JarDiskSize("y"), -2.0);
  EXPECT_EQ(JarRemove("y"), 2);
  EXPECT_EQ(JarExists(std::string(300, 'a').c_str()), 0);
  EXPECT_EQ(JarWopen(std::string(300, 'a').c_str(), 0), nullptr);
  EXPECT_STREQ(JasLastError(), "JarWopen: name too long");
}

// What the layer tells the five hook slots.
struct Recorded {
  std::vector<std::string> errors;
  long alloc = 0;
  long alloc_events = 0;
  int streams = 0;
  std::vector<std::string> opened;
  double written = 0;
  std::vector<std::string> removed;
  double removed_bytes = 0;
};
Recorded g_rec;

struct Hooked {
  Hooked() {
    g_rec = Recorded();
    JarHookError([](const char* m) { g_rec.errors.push_back(m); });
    JarHookAlloc([](int d) { g_rec.alloc += d; g_rec.alloc_events++; });
    JarHookFopen([](int d, FILE* f, const char* mode, const char* name) {
      g_rec.streams += d;
      if (d > 0) g_rec.opened.push_back(std::string(name) + " " + mode);
    });
    JarHookWrite([](double d) { g_rec.written += d; });
    JarHookRemove([](double size, const char* name) {
      g_rec.removed.push_back(name);
      g_rec.removed_bytes += size;
    });
  }
  ~Hooked() {
    JarHookError(nullptr);
    JarHookAlloc(nullptr);
    JarHookFopen(nullptr);
    JarHookWrite(nullptr);
    JarHookRemove(nullptr);
  }
};

TEST(JarHooks, ReportMemoryStreamsBytesAndRemovals) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FileBlocks blocks(1);
  Hooked hooked;
  JILE* h = JarWopen("k", kFlagDefault);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(g_rec.alloc, long(sizeof(JILE)) + 12);
  EXPECT_EQ(g_rec.streams, 1);
  const Bytes data = MakeData(2 * kBlockSize + 3, 16);
  ASSERT_EQ(JarWrite(data.data(), static_cast<int>(data.size()), h), static_cast<int>(data.size()));
  ASSERT_EQ(JarClose(h), 0);
  EXPECT_EQ(g_rec.alloc, 0);
  EXPECT_EQ(g_rec.streams, 0);
  EXPECT_EQ(g_rec.opened, (std::vector<std::string>{"k.JIX wb", "k.J00 wb", "k.J01 wb", "k.J02 wb"}));
  // The header rewritten at close is not counted twice.
  EXPECT_EQ(g_rec.written, JarDiskSize("k"));
  EXPECT_TRUE(g_rec.errors.empty());

  const double size = JarDiskSize("k");
  ASSERT_EQ(JarRemove("k"), 0);
  EXPECT_EQ(g_rec.written, 0.0);
  EXPECT_EQ(g_rec.removed_bytes, size);
  EXPECT_EQ(g_rec.removed, (std::vector<std::string>{"k.J00", "k.J01", "k.J02", "k.JIX"}));
  EXPECT_EQ(g_rec.streams, 0);

  EXPECT_EQ(JarRopen("k"), nullptr);
  EXPECT_EQ(g_rec.errors,
            (std::vector<std::string>{"JasOpen: (k.JIX, rb) failed: No such file or directory"}));
  EXPECT_EQ(g_rec.alloc, 0) << "a failed open frees its record";
}

TEST(JasAlloc, GuardWordsAreCheckedOnRelease) {
  Hooked hooked;
  void* p = JasAlloc(100);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(g_rec.alloc, 112);
  auto* bytes = static_cast<uint8_t*>(p);
  uint32_t word;
  memcpy(&word, bytes - 4, 4);
  EXPECT_EQ(word, kJasGuardLo);
  memcpy(&word, bytes + 100, 4);
  EXPECT_EQ(word, kJasGuardHi);

  bytes[100] ^= 1;
  EXPECT_EQ(JarFree(p), 3);
  EXPECT_EQ(g_rec.errors.back(), "JarFree: hi sentinel violated");
  bytes[100] ^= 1;
  bytes[-1] ^= 1;
  EXPECT_EQ(JarFree(p), 2);
  EXPECT_EQ(g_rec.errors.back(), "JarFree: lo sentinel violated");
  bytes[-1] ^= 1;
  EXPECT_EQ(g_rec.alloc, 112) << "a refused release frees nothing";
  EXPECT_EQ(JarFree(p), 0);
  EXPECT_EQ(g_rec.alloc, 0);
  EXPECT_EQ(JarFree(nullptr), 1);
  EXPECT_EQ(g_rec.errors.back(), "JarFree: null pointer");
  EXPECT_EQ(JasAlloc(size_t(1) << 40), nullptr);
  EXPECT_EQ(g_rec.errors.back(), "JasAlloc: out of mem");
}

}  // namespace
