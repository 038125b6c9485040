#include "jar/jar_file.h"

#include <cstring>

#include "jar/jas.h"
#include "platform/platform.h"

namespace {

constexpr char kMagic[4] = {'J', 'A', 'R', '5'};
constexpr char kFiller[] = "dummy data chunk";  // 16 bytes
constexpr int kFillerPiece = 16;
constexpr int kRecordHead = 8;  // check value and record length
// Chunk offsets and the block count are 32-bit on disk.
constexpr int64_t kMaxChunkBytes = INT32_MAX;

int g_file_blocks = 32768;

// A write handle's full block being coded on the worker thread while the
// handle fills the next; written when that one is coded, or at close. One
// handle at a time has a block here, the others code theirs one by one.
struct Ahead {
  const JILE* owner;  // nullptr: free
  uint32_t sum;
  int32_t size;
  BlockEncodeJob job;
  uint8_t block[kBlockSize];
};
Ahead g_ahead;

uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Put32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// "NAME.JIX" or "NAME.Jnn"; a name that does not fit was refused at open.
struct FileName {
  char text[kJarNameSize + 16];
};

FileName IndexName(const char* name) {
  FileName f;
  snprintf(f.text, sizeof f.text, "%s.JIX", name);
  return f;
}

FileName ChunkName(const char* name, int chunk) {
  FileName f;
  snprintf(f.text, sizeof f.text, "%s.J%02X", name, static_cast<unsigned>(chunk));
  return f;
}

int Valid(const JILE* h, int mode) {
  if (h == nullptr || memcmp(h->header.magic, kMagic, 4) != 0 || h->mode != mode) {
    JasError("Valid: invalid JILE *");
    return 0;
  }
  return 1;
}

// Either mode.
int ValidAny(const JILE* h) { return Valid(h, h != nullptr && h->mode == kJarWrite ? kJarWrite : kJarRead); }

bool NameFits(const char* name, const char* who) {
  if (strlen(name) < kJarNameSize) return true;
  JasError("%s: name too long", who);
  return false;
}

// Reads and checks the header of NAME.JIX for the operations by name.
// 0, or 1 open, 2 read, 3 close failed, 4 not a file of this layer.
int ReadIndexHeader(const char* name, JarHeader* header, const char* who) {
  if (!NameFits(name, who)) return 1;
  FILE* f = JasOpen(IndexName(name).text, "rb");
  if (f == nullptr) return 1;
  uint8_t bytes[kJarHeaderSize];
  int got = JasRead(bytes, kJarHeaderSize, f);
  int closed = JasClose(f);
  if (got != kJarHeaderSize) return 2;
  if (closed != 0) return 3;
  JarHeaderUnpack(bytes, header);
  // A zero or negative chunk size would make the chunk count meaningless.
  if (memcmp(header->magic, kMagic, 4) != 0 || header->file_blocks <= 0 || header->block_count < 0) {
    JasError("%s: [%s] is no JAR5 index", who, name);
    return 4;
  }
  return 0;
}

int ChunkCount(const JarHeader& header) {
  return static_cast<int>((int64_t(header.block_count) + header.file_blocks - 1) / header.file_blocks);
}

int OpenChunk(JILE* h, int chunk, const char* mode) {
  h->chunk = JasOpen(ChunkName(h->name, chunk).text, mode);
  if (h->chunk == nullptr) return 5;
  if (JasVbuf(h->chunk, h->chunk_buffer, kJarChunkBuffer) != 0) return 6;
  return 0;
}

int CloseChunk(JILE* h) {
  if (h->chunk == nullptr) return 0;
  int r = JasClose(h->chunk);
  h->chunk = nullptr;
  return r;
}

// Appends the record of the next block to write (block_count) to its chunk
// file and the record's offset to the index. `size` is how many bytes of the
// block hold data.
int PutRecord(JILE* h, const uint8_t* record, int length, uint32_t sum, int size) {
  const int32_t block = h->header.block_count;
  if (block == INT32_MAX) {
    JasError("Flush: more than %d blocks", INT32_MAX);
    return 0;
  }
  const int n = h->header.file_blocks;
  if (h->chunk != nullptr && block % n == 0 && CloseChunk(h) != 0) return 0;
  if (h->chunk == nullptr && OpenChunk(h, block / n, "wb") != 0) return 0;
  int64_t offset = JasTell(h->chunk);
  if (offset < 0) return 0;
  if (length > kMaxRecordLength) {
    JasError("Flush: encoding failed at block %d", block);
    return 0;
  }
  // A chunk offset must stay a 32-bit value, and so must the next one.
  if (offset + kRecordHead + length > kMaxChunkBytes) {
    JasError("Flush: chunk file %s.J%02X would pass 2^31 bytes", h->name, block / n);
    return 0;
  }
  uint8_t entry[4];
  Put32(entry, static_cast<uint32_t>(offset));
  if (JasWrite(entry, 4, h->index) != 4) return 0;
  uint8_t head[kRecordHead];
  Put32(head, sum);
  Put32(head + 4, static_cast<uint32_t>(length));
  if (JasWrite(head, kRecordHead, h->chunk) != kRecordHead) return 0;
  if (JasWrite(record, length, h->chunk) != length) return 0;
  h->header.block_count++;
  h->header.last_block_size = size;
  return 1;
}

// Waits for the block coded on the worker thread, if any, and writes it.
int Settle(JILE* h) {
  Ahead& a = g_ahead;
  if (a.owner != h) return 1;
  a.owner = nullptr;
  int length = BlockEncodeFinish(&a.job);
  if (length <= 0) return 0;  // the codec said why
  return PutRecord(h, a.job.record, length, a.sum, a.size);
}

// Codes the full (or, at close, partly filled) block buffer and writes its
// record. A full block goes to the worker thread when it is free, and is
// written once the next block is coded here, at the same time, or at close:
// the records and their order are those of coding one block after the other.
int Flush(JILE* h, bool last) {
  if (h->pos == 0) {
    JasError("Flush: no data");
    return 0;
  }
  if (h->block == INT32_MAX) {
    JasError("Flush: more than %d blocks", INT32_MAX);
    return 0;
  }
  uint32_t sum = JarBlockSum(h->data, h->pos);
  // The encoder always sees a whole block.
  if (h->pos < kBlockSize) memset(h->data + h->pos, 0xFF, kBlockSize - h->pos);
  Ahead& a = g_ahead;
  if (!last && a.owner == nullptr) {
    memcpy(a.block, h->data, kBlockSize);
    if (BlockEncodeStart(&a.job, a.block, h->flags)) {
      a.owner = h;
      a.sum = sum;
      a.size = h->pos;
      h->block++;
      h->pos = 0;
      return 1;
    }
  }
  int length = BlockEncode(h->data, h->flags);
  if (!Settle(h)) return 0;
  if (length <= 0) return 0;  // the codec said why
  if (!PutRecord(h, g_record, length, sum, h->pos)) return 0;
  h->block++;
  h->pos = 0;
  return 1;
}

// Marks the block buffer as not holding the current block, so that neither
// a seek into it nor sequential reading trusts it after a failure.
int FillFailed(JILE* h) {
  h->valid = -1;
  h->pos = 0;
  return 0;
}

// Reads and decodes the record at the chunk stream's position into the
// block buffer.
int FillFill(JILE* h) {
  uint8_t head[kRecordHead];
  if (JasRead(head, kRecordHead, h->chunk) != kRecordHead) return FillFailed(h);
  uint32_t sum = Get32(head);
  uint32_t length = Get32(head + 4);
  if (length < 1 || length > static_cast<uint32_t>(kMaxRecordLength)) {
    JasError("FillFill: bad record length %u at block %d", length, h->block);
    return FillFailed(h);
  }
  int n = static_cast<int>(length);
  if (JasRead(g_record, n, h->chunk) != n) return FillFailed(h);
  memset(g_record + n, 0, kRecordPadding);
  if (BlockDecode(n, h->data) == 0) return FillFailed(h);
  int valid = h->block == h->header.block_count - 1 ? h->header.last_block_size : kBlockSize;
  if (JarBlockSum(h->data, valid) != sum) {
    JasError("FillFill: bad CRC at block %d", h->block);
    return FillFailed(h);
  }
  h->valid = valid;
  h->pos = 0;
  return 1;
}

// Loads the block after the current one; at the end of the data it changes
// nothing. Consecutive records follow each other, so no seek is needed.
int FillNext(JILE* h) {
  if (h->valid < 0) {
    JasError("FillNext: block %d not loaded", h->block);
    return 0;
  }
  if (h->pos < h->valid) {
    JasError("FillNext: early");
    return 0;
  }
  if (h->block + 1 >= h->header.block_count) return 1;
  h->block++;
  const int n = h->header.file_blocks;
  if (h->chunk != nullptr && h->block % n == 0 && CloseChunk(h) != 0) return FillFailed(h);
  if (h->chunk == nullptr && OpenChunk(h, h->block / n, "rb") != 0) return FillFailed(h);
  return FillFill(h);
}

void FreeHandle(JILE* h) {
  memset(h, 0, sizeof *h);
  JarFree(h);
}

}  // namespace

void JarHeaderPack(const JarHeader& header, uint8_t* bytes) {
  memcpy(bytes + kJarOffMagic, header.magic, 4);
  Put32(bytes + kJarOffBlockCount, static_cast<uint32_t>(header.block_count));
  Put32(bytes + kJarOffLastBlockSize, static_cast<uint32_t>(header.last_block_size));
  Put32(bytes + kJarOffFileBlocks, static_cast<uint32_t>(header.file_blocks));
  Put32(bytes + kJarOffVersion, static_cast<uint32_t>(header.version));
  Put32(bytes + kJarOffVersion2, static_cast<uint32_t>(header.version2));
  Put32(bytes + kJarOffCreated, static_cast<uint32_t>(header.created));
  memcpy(bytes + kJarOffCreator, header.creator, kJarCreatorSize);
  Put32(bytes + kJarOffFormat, static_cast<uint32_t>(header.format));
  Put32(bytes + kJarOffMetric, header.metric);
  Put32(bytes + kJarOffContent, static_cast<uint32_t>(header.content));
  Put32(bytes + kJarOffFoffindex, static_cast<uint32_t>(header.foffindex));
}

void JarHeaderUnpack(const uint8_t* bytes, JarHeader* header) {
  memcpy(header->magic, bytes + kJarOffMagic, 4);
  header->block_count = static_cast<int32_t>(Get32(bytes + kJarOffBlockCount));
  header->last_block_size = static_cast<int32_t>(Get32(bytes + kJarOffLastBlockSize));
  header->file_blocks = static_cast<int32_t>(Get32(bytes + kJarOffFileBlocks));
  header->version = static_cast<int32_t>(Get32(bytes + kJarOffVersion));
  header->version2 = static_cast<int32_t>(Get32(bytes + kJarOffVersion2));
  header->created = static_cast<int32_t>(Get32(bytes + kJarOffCreated));
  memcpy(header->creator, bytes + kJarOffCreator, kJarCreatorSize);
  header->format = static_cast<int32_t>(Get32(bytes + kJarOffFormat));
  header->metric = Get32(bytes + kJarOffMetric);
  header->content = static_cast<int32_t>(Get32(bytes + kJarOffContent));
  header->foffindex = static_cast<int32_t>(Get32(bytes + kJarOffFoffindex));
}

JILE* JarWopen(const char* name, int flags) {
  if (!NameFits(name, "JarWopen")) return nullptr;
  auto* h = static_cast<JILE*>(JasAlloc(sizeof(JILE)));
  if (h == nullptr) return nullptr;
  memset(h, 0, sizeof *h);
  memcpy(h->header.magic, kMagic, 4);
  h->header.file_blocks = g_file_blocks;
  h->header.version = kJarVersion;
  h->header.version2 = kJarVersion;
  h->header.created = static_cast<int32_t>(PlatTimeNow());
  strcpy(h->header.creator, "default");
  strcpy(h->name, name);
  h->mode = kJarWrite;
  h->flags = flags;
  h->index = JasOpen(IndexName(name).text, "wb");
  bool ok = h->index != nullptr;
  if (ok) ok = JasVbuf(h->index, h->index_buffer, kJarIndexBuffer) == 0;
  if (ok) {
    uint8_t bytes[kJarHeaderSize];
    JarHeaderPack(h->header, bytes);
    ok = JasWrite(bytes, kJarHeaderSize, h->index) == kJarHeaderSize &&
         JasWrite(kFiller, kFillerPiece, h->index) == kFillerPiece &&
         JasWrite(kFiller, kFillerPiece, h->index) == kFillerPiece &&
         JasWrite(kFiller, kJarFillerSize - 2 * kFillerPiece, h->index) == kJarFillerSize - 2 * kFillerPiece;
  }
  if (ok) {
    int64_t at = JasTell(h->index);
    ok = at > 0;
    h->header.foffindex = static_cast<int32_t>(at);
  }
  if (!ok) {
    if (h->index != nullptr) JasClose(h->index);
    FreeHandle(h);
    return nullptr;
  }
  return h;
}

int JarPutc(int byte, JILE* h) {
  if (!Valid(h, kJarWrite)) return -1;
  if (h->pos == kBlockSize && !Flush(h, false)) return -1;
  h->data[h->pos++] = static_cast<uint8_t>(byte);
  return byte & 0xFF;
}

int JarWrite(const void* data, int count, JILE* h) {
  if (count < 1 || !Valid(h, kJarWrite)) return 0;
  const auto* from = static_cast<const uint8_t*>(data);
  int left = count;
  while (left > 0) {
    if (h->pos == kBlockSize && !Flush(h, false)) return 0;
    int take = kBlockSize - h->pos < left ? kBlockSize - h->pos : left;
    memcpy(h->data + h->pos, from, static_cast<size_t>(take));
    h->pos += take;
    from += take;
    left -= take;
  }
  return count;
}

int JarSetCreator(JILE* h, const char* name, int32_t format, uint32_t metric, int32_t content) {
  if (!Valid(h, kJarWrite)) return 1;
  size_t length = strlen(name);
  if (length > kJarCreatorSize) {
    JasError("JarSetCreator: name too long");
    return 2;
  }
  memset(h->header.creator, 0, kJarCreatorSize);
  memcpy(h->header.creator, name, length);
  h->header.format = format;
  h->header.metric = metric;
  h->header.content = content;
  return 0;
}

// Closes the streams and frees the record even after a failure, reporting
// the first failure's code.
int JarClose(JILE* h) {
  if (!ValidAny(h)) return 1;
  int code = 0;
  if (h->mode == kJarWrite) {
    if (h->pos > 0 && !Flush(h, true)) code = 2;
    // A block still on the worker thread is waited for even after a failure:
    // the handle goes away below.
    if (!Settle(h) && code == 0) code = 2;
    if (code == 0 && JasSeek(h->index, 0) != 0) code = 3;
    if (code == 0) {
      uint8_t bytes[kJarHeaderSize];
      JarHeaderPack(h->header, bytes);
      if (JasWrite(bytes, -kJarHeaderSize, h->index) != kJarHeaderSize) code = 4;
    }
  }
  if (CloseChunk(h) != 0 && code == 0) code = 5;
  if (JasClose(h->index) != 0 && code == 0) code = 6;
  h->index = nullptr;
  memset(h, 0, sizeof *h);
  if (JarFree(h) != 0 && code == 0) code = 7;
  return code;
}

JILE* JarRopen(const char* name) {
  if (!NameFits(name, "JarRopen")) return nullptr;
  auto* h = static_cast<JILE*>(JasAlloc(sizeof(JILE)));
  if (h == nullptr) return nullptr;
  memset(h, 0, sizeof *h);
  strcpy(h->name, name);
  h->index = JasOpen(IndexName(name).text, "rb");
  bool ok = h->index != nullptr;
  if (ok) ok = JasVbuf(h->index, h->index_buffer, kJarIndexBuffer) == 0;
  if (ok) {
    uint8_t bytes[kJarHeaderSize];
    ok = JasRead(bytes, kJarHeaderSize, h->index) == kJarHeaderSize;
    if (ok) JarHeaderUnpack(bytes, &h->header);
  }
  ok = ok && Valid(h, kJarRead);
  if (ok && h->header.version != kJarVersion) {
    JasError("JarRopen: incompatible version");
    ok = false;
  }
  if (ok && h->header.foffindex < kJarHeaderSize) {
    JasError("JarRopen: foffindex bugged");
    ok = false;
  }
  // Counts that no writer produces would divide by zero or index past the
  // block buffer later on.
  if (ok) {
    const JarHeader& x = h->header;
    bool counts = x.file_blocks > 0 && x.block_count >= 0 &&
                  (x.block_count == 0 ? x.last_block_size == 0
                                      : x.last_block_size >= 1 && x.last_block_size <= kBlockSize);
    if (!counts) {
      JasError("JarRopen: block counts bugged");
      ok = false;
    }
  }
  if (!ok) {
    if (h->index != nullptr) JasClose(h->index);
    FreeHandle(h);
    return nullptr;
  }
  h->block = -1;
  return h;
}

int JarGetc(JILE* h) {
  if (!Valid(h, kJarRead)) return -1;
  if (h->pos >= h->valid) {
    if (!FillNext(h) || h->pos >= h->valid) return -1;
  }
  return h->data[h->pos++];
}

int JarRead(void* buffer, int count, JILE* h) {
  if (count < 1 || !Valid(h, kJarRead)) return 0;
  auto* to = static_cast<uint8_t*>(buffer);
  int done = 0;
  while (done < count) {
    if (h->pos >= h->valid) {
      if (!FillNext(h)) return 0;
      if (h->pos >= h->valid) break;
    }
    int take = h->valid - h->pos < count - done ? h->valid - h->pos : count - done;
    memcpy(to + done, h->data + h->pos, static_cast<size_t>(take));
    h->pos += take;
    done += take;
  }
  return done;
}

int JarSeek(JILE* h, double position) {
  if (!ValidAny(h)) return 1;
  if (h->mode == kJarWrite) {
    JasError("JarSeek: write-file");
    return 2;
  }
  // Written so that a NaN fails too.
  if (!(position >= 0 && position <= JarSize(h))) {
    JasError("JarSeek: outside filesize");
    return 3;
  }
  const int32_t b = static_cast<int32_t>(position / kBlockSize);
  if (b != h->block || h->valid < 0) {
    const int n = h->header.file_blocks;
    if (h->chunk != nullptr && b / n != h->block / n && CloseChunk(h) != 0) {
      FillFailed(h);
      return 4;
    }
    h->block = b;
    FillFailed(h);
    if (h->chunk == nullptr) {
      int r = OpenChunk(h, b / n, "rb");
      if (r != 0) {
        if (r == 6) CloseChunk(h);
        return r;
      }
    }
    if (JasSeek(h->index, h->header.foffindex + 4 * int64_t(b)) != 0) return 7;
    uint8_t entry[4];
    if (JasRead(entry, 4, h->index) != 4) return 8;
    if (JasSeek(h->chunk, Get32(entry)) != 0) return 9;
    if (!FillFill(h)) return 10;
  }
  h->pos = static_cast<int32_t>(position - double(b) * kBlockSize);
  return 0;
}

int JarGetCreator(JILE* h, const char** name, int32_t* format, uint32_t* metric, int32_t* content) {
  if (!Valid(h, kJarRead)) return 1;
  *name = h->header.creator;
  *format = h->header.format;
  *metric = h->header.metric;
  *content = h->header.content;
  return 0;
}

double JarSize(JILE* h) {
  if (!ValidAny(h)) return -1;
  if (h->mode == kJarWrite) return JarTell(h);
  if (h->header.block_count == 0) return 0;
  return (h->header.block_count - 1.0) * kBlockSize + h->header.last_block_size;
}

double JarTell(JILE* h) {
  if (!ValidAny(h)) return -1;
  if (h->block < 0) return 0;
  return double(h->block) * kBlockSize + h->pos;
}

int JarExists(const char* name) {
  if (strlen(name) >= kJarNameSize) return 0;
  FILE* f = PlatFopen(IndexName(name).text, "rb");
  if (f == nullptr) return 0;
  PlatFclose(f);
  return 1;
}

int JarRemove(const char* name) {
  JarHeader header;
  int r = ReadIndexHeader(name, &header, "JarRemove");
  if (r != 0) return r;
  // Chunk files first and the index file last: a removal cut short leaves
  // the index, through which a second removal still finds what is left. A
  // chunk file already gone is no error, and chunk file 0 is looked for even
  // when the header counts no block (a write that never reached its close).
  int chunks = ChunkCount(header);
  if (chunks < 1) chunks = 1;
  for (int k = 0; k < chunks; k++) {
    FileName chunk = ChunkName(name, k);
    if (PlatFileSize(chunk.text) < 0) continue;
    if (JasRemove(chunk.text) != 0) return 6 + k;
  }
  if (JasRemove(IndexName(name).text) != 0) return 5;
  return 0;
}

double JarDiskSize(const char* name) {
  JarHeader header;
  int r = ReadIndexHeader(name, &header, "JarDiskSize");
  if (r != 0) return -r;
  double total = JasFileSize(IndexName(name).text);
  if (total < 0) return -5;
  int chunks = ChunkCount(header);
  for (int k = 0; k < chunks; k++) {
    double size = JasFileSize(ChunkName(name, k).text);
    if (size < 0) return -(6.0 + k);
    total += size;
  }
  return total;
}

int JarSetFileBlocks(int n) {
  if (n > 0) g_file_blocks = n;
  return g_file_blocks;
}

uint32_t JarBlockSum(const uint8_t* bytes, int n) {
  uint32_t s = 0;
  if (n > 16) {
    for (int g = 0; g < n - 16; g += 2000) s += Get32(bytes + g) + Get32(bytes + g + 4) + Get32(bytes + g + 8);
  }
  for (int i = 0; i <= 12 && i < n; i++) s += uint32_t(bytes[n - 1 - i]) << i;
  return s;
}
