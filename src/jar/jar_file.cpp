#include "jar/jar_file.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <vector>

#include "jar/block_codec.h"
#include "jar/jas.h"
#include "platform/platform.h"

namespace {

constexpr char kMagic[4] = {'J', 'A', 'R', '5'};
constexpr char kFiller[] = "dummy data chunk";  // 16 bytes
constexpr int kFillerPiece = 16;
constexpr int kRecordHead = 8;  // check value and record length

// Start-up settings, process-wide: the chunk size of new files (a command
// line option) and, for tests, the size no chunk file may pass.
struct Settings {
  int file_blocks = 32768;
  int64_t chunk_limit = kJarChunkLimit;
} g_settings;

}  // namespace

// One block of a write handle's batch: the block, its record once coded,
// and what the record head needs.
struct JarSlot {
  uint8_t block[kBlockSize];
  uint8_t record[kMaxRecordLength];
  int32_t length;
  uint32_t sum;
  int32_t size;
  char error[256];  // the codec's message when length is 0
};

// One block read ahead: its record as read, the block decoded from it, and
// the check value to compare once the block is used.
struct JarAhead {
  uint8_t record[kMaxRecordLength + kRecordPadding];
  uint8_t block[kBlockSize];
  int32_t length;
  uint32_t sum;
  int decoded;
  char error[256];  // the codec's message when not decoded
};

// A handle's coding state. A write handle gathers up to one block per thread
// of the build (slots made as first needed) and codes them all at once, each
// thread with its own encoder; the records are then written in block order,
// so the file is the same for every thread count. With one thread a block is
// coded straight from the handle's buffer. A read handle decodes with its
// thread's decoder from the record buffer.
struct JarCodec {
  std::vector<std::unique_ptr<JarSlot>> slots;
  int gathered = 0;  // slots holding blocks not yet written
  // Read side: a handle read block after block decodes the next blocks of
  // its chunk file ahead, one per thread, all at once (slots made as first
  // needed). ahead_count blocks from block ahead_first are in the slots.
  std::vector<std::unique_ptr<JarAhead>> ahead;
  int32_t ahead_first = 0;
  int ahead_count = 0;
  int32_t streak = 0;  // blocks loaded in a row by sequential reading
  uint8_t record[kMaxRecordLength + kRecordPadding];
};

namespace {

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

// A fault found in the data or the use of a handle: the message names the
// file, and the reason is what was found wrong.
void HandleError(const JILE* h, const char* format, ...) __attribute__((format(printf, 2, 3)));
void HandleError(const JILE* h, const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  JasError("%s [%s]", text, h->name);
  const char* colon = strstr(text, ": ");
  JasSetReason(colon != nullptr ? colon + 2 : text);
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
    JasSetReason("no JAR5 index");
    return 4;
  }
  return 0;
}

bool IsSplit(const JarHeader& header) { return header.version == kJarVersionSplit; }

// Puts the file's name before the reason of a failure, where the caller
// names only the database.
void ReasonWithFile(const char* file) {
  char why[512];
  snprintf(why, sizeof why, "%s: %s", file, JasLastReason());
  JasSetReason(why);
}

int ChunkCount(const JarHeader& header) {
  return static_cast<int>((int64_t(header.block_count) + header.file_blocks - 1) / header.file_blocks);
}

int OpenChunk(JILE* h, int chunk, const char* mode) {
  h->chunk = JasOpen(ChunkName(h->name, chunk).text, mode);
  if (h->chunk == nullptr) return 5;
  h->chunk_file = chunk;
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
    HandleError(h, "Flush: more than %d blocks", INT32_MAX);
    return 0;
  }
  const int n = h->header.file_blocks;
  const int chunk = block / n;
  if (h->chunk != nullptr && block % n == 0 && h->chunk_file != chunk && CloseChunk(h) != 0) {
    return 0;
  }
  if (h->chunk == nullptr) {
    // The second halves are numbered past every first one.
    if (chunk >= kJarSplitChunk && IsSplit(h->header)) {
      JasError("Flush: chunk file %s.J%02X would pass 2^31 bytes", h->name, chunk);
      return 0;
    }
    if (OpenChunk(h, chunk, "wb") != 0) return 0;
  }
  int64_t offset = JasTell(h->chunk);
  if (offset < 0) return 0;
  if (length > kMaxRecordLength) {
    HandleError(h, "Flush: encoding failed at block %d", block);
    return 0;
  }
  // A chunk file stays below 2^31 bytes: its offsets are 32-bit. The rest
  // of a chunk that would pass goes to the chunk's second file, which only
  // files that need it have, so that all others stay as they always were.
  if (offset + kRecordHead + length > g_settings.chunk_limit) {
    if (h->chunk_file >= kJarSplitChunk || chunk >= kJarSplitChunk) {
      JasError("Flush: chunk file %s.J%02X would pass 2^31 bytes", h->name, h->chunk_file);
      return 0;
    }
    if (CloseChunk(h) != 0 || OpenChunk(h, chunk + kJarSplitChunk, "wb") != 0) return 0;
    h->header.version = kJarVersionSplit;
    h->header.version2 = kJarVersionSplit;
    offset = 0;
  }
  uint8_t entry[4];
  uint32_t at = static_cast<uint32_t>(offset);
  if (h->chunk_file >= kJarSplitChunk) at |= kJarSplitBit;
  Put32(entry, at);
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

// Codes the gathered blocks, on all threads, and writes their records in
// block order. Stops at the first failure, after writing the records before
// it: what a file holds is then what coding one block after the other would
// have written up to the failure.
int WriteGathered(JILE* h) {
  JarCodec& c = *h->codec;
  const int n = c.gathered;
  if (n == 0) return 1;
  c.gathered = 0;
  const int flags = h->flags;
  JarCodec* codec = &c;
  PlatParallel(n, [codec, flags](int i) {
    JarSlot& s = *codec->slots[i];
    s.length = BlockEncodeSilent(BlockThreadEncoder(), s.block, flags, s.record, s.error);
  });
  for (int i = 0; i < n; i++) {
    const JarSlot& s = *c.slots[i];
    if (s.length <= 0) {
      JasError("%s", s.error);
      return 0;
    }
    if (!PutRecord(h, s.record, s.length, s.sum, s.size)) return 0;
  }
  return 1;
}

// Codes the full (or, at close, partly filled) block buffer and writes its
// record; with more than one thread the block joins the batch, which is
// coded and written once it has a block for every thread, or at close.
int Flush(JILE* h, bool last) {
  if (h->pos == 0) {
    HandleError(h, "Flush: no data");
    return 0;
  }
  if (h->block == INT32_MAX) {
    HandleError(h, "Flush: more than %d blocks", INT32_MAX);
    return 0;
  }
  uint32_t sum = JarBlockSum(h->data, h->pos);
  // The encoder always sees a whole block.
  if (h->pos < kBlockSize) memset(h->data + h->pos, 0xFF, kBlockSize - h->pos);
  JarCodec& c = *h->codec;
  const int threads = PlatThreadCount();
  if (threads == 1 && c.gathered == 0) {
    int length = BlockEncode(BlockThreadEncoder(), h->data, h->flags, c.record);
    if (length <= 0) return 0;  // the codec said why
    if (!PutRecord(h, c.record, length, sum, h->pos)) return 0;
  } else {
    // A chunk file starting with this block is opened now, as one thread
    // opens it, so that the streams open at a time (which a build logs) are
    // the same for every thread count.
    const int n = h->header.file_blocks;
    if (c.gathered == 0 && h->block % n == 0 && h->block / n < kJarSplitChunk) {
      if (h->chunk != nullptr && CloseChunk(h) != 0) return 0;
      if (OpenChunk(h, h->block / n, "wb") != 0) return 0;
    }
    if (c.gathered == static_cast<int>(c.slots.size())) c.slots.emplace_back(new JarSlot);
    JarSlot& s = *c.slots[c.gathered++];
    memcpy(s.block, h->data, kBlockSize);
    s.sum = sum;
    s.size = h->pos;
    if ((last || c.gathered >= threads) && !WriteGathered(h)) return 0;
  }
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

// A block whose record is damaged or cut short: the message names the block
// and the file; the reason is what was wrong, without the routine that found
// it (the text after the message's last ": "), and the block goes with it.
int BlockFailed(JILE* h, const char* message) {
  JasError("%s at block %d [%s]", message, h->block, h->name);
  const char* colon = strrchr(message, ':');
  JasSetReason(colon != nullptr && colon[1] == ' ' ? colon + 2 : message);
  JasSetBlock(h->block);
  return FillFailed(h);
}

// A record read that came short keeps the stream's reason, with the block.
int BlockReadFailed(JILE* h) {
  JasSetBlock(h->block);
  return FillFailed(h);
}

// The decoded block against the check value of its record.
int FillChecked(JILE* h, uint32_t sum) {
  int valid = h->block == h->header.block_count - 1 ? h->header.last_block_size : kBlockSize;
  if (JarBlockSum(h->data, valid) != sum) return BlockFailed(h, "FillFill: bad CRC");
  h->valid = valid;
  h->pos = 0;
  return 1;
}

// Reads and decodes the record at the chunk stream's position into the
// block buffer.
int FillFill(JILE* h) {
  uint8_t head[kRecordHead];
  if (JasRead(head, kRecordHead, h->chunk) != kRecordHead) return BlockReadFailed(h);
  uint32_t sum = Get32(head);
  uint32_t length = Get32(head + 4);
  if (length < 1 || length > static_cast<uint32_t>(kMaxRecordLength)) {
    char message[64];
    snprintf(message, sizeof message, "FillFill: bad record length %u", length);
    return BlockFailed(h, message);
  }
  int n = static_cast<int>(length);
  JarCodec& c = *h->codec;
  if (JasRead(c.record, n, h->chunk) != n) return BlockReadFailed(h);
  memset(c.record + n, 0, kRecordPadding);
  char error[256];
  if (BlockDecodeSilent(BlockThreadDecoder(), c.record, n, h->data, error) == 0) {
    return BlockFailed(h, error);
  }
  return FillChecked(h, sum);
}

// Takes the current block from the blocks read ahead, failing as reading it
// would have.
int FillAhead(JILE* h) {
  JarAhead& a = *h->codec->ahead[h->block - h->codec->ahead_first];
  if (!a.decoded) return BlockFailed(h, a.error);
  memcpy(h->data, a.block, kBlockSize);
  return FillChecked(h, a.sum);
}

// Reads the records of the current block and of the next ones in its chunk
// file, one per thread, and decodes them on all threads. False when that
// does not apply (one thread, too few blocks left) or a read fails; the
// stream is then where it was, and the current block is read as usual.
bool ReadAhead(JILE* h) {
  const int threads = PlatThreadCount();
  JarCodec& c = *h->codec;
  c.ahead_count = 0;
  if (threads == 1 || c.streak < 2 || IsSplit(h->header)) return false;
  const int32_t n = h->header.file_blocks;
  const int32_t end = std::min<int64_t>(int64_t(h->block / n + 1) * n, h->header.block_count);
  const int count = std::min<int64_t>(threads, end - h->block);
  if (count < 2) return false;
  const int64_t at = JasTell(h->chunk);
  if (at < 0) return false;
  while (static_cast<int>(c.ahead.size()) < count) c.ahead.emplace_back(new JarAhead);
  for (int i = 0; i < count; i++) {
    JarAhead& a = *c.ahead[i];
    uint8_t head[kRecordHead];
    bool ok = JasRead(head, kRecordHead, h->chunk) == kRecordHead;
    uint32_t length = ok ? Get32(head + 4) : 0;
    ok = ok && length >= 1 && length <= static_cast<uint32_t>(kMaxRecordLength) &&
         JasRead(a.record, static_cast<int>(length), h->chunk) == static_cast<int>(length);
    if (!ok) {
      JasSeek(h->chunk, at);
      return false;
    }
    a.sum = Get32(head);
    a.length = static_cast<int32_t>(length);
    memset(a.record + length, 0, kRecordPadding);
  }
  JarCodec* codec = &c;
  PlatParallel(count, [codec](int i) {
    JarAhead& a = *codec->ahead[i];
    a.decoded = BlockDecodeSilent(BlockThreadDecoder(), a.record, a.length, a.block, a.error);
  });
  c.ahead_first = h->block;
  c.ahead_count = count;
  return true;
}

// Loads the block after the current one; at the end of the data it changes
// nothing. Consecutive records follow each other, so no seek is needed.
int FillNext(JILE* h) {
  if (h->valid < 0) {
    HandleError(h, "FillNext: block %d not loaded", h->block);
    return 0;
  }
  if (h->pos < h->valid) {
    HandleError(h, "FillNext: early");
    return 0;
  }
  if (h->block + 1 >= h->header.block_count) return 1;
  h->block++;
  int file = h->block / h->header.file_blocks;
  // Only in a split file does a chunk change files between its blocks; the
  // index says where.
  if (IsSplit(h->header)) {
    uint8_t entry[4];
    if (JasSeek(h->index, h->header.foffindex + 4 * int64_t(h->block)) != 0 ||
        JasRead(entry, 4, h->index) != 4) {
      return FillFailed(h);
    }
    if (Get32(entry) & kJarSplitBit) file += kJarSplitChunk;
  }
  if (h->chunk != nullptr && file != h->chunk_file && CloseChunk(h) != 0) return FillFailed(h);
  if (h->chunk == nullptr && OpenChunk(h, file, "rb") != 0) return FillFailed(h);
  JarCodec& c = *h->codec;
  c.streak++;
  if ((h->block >= c.ahead_first && h->block - c.ahead_first < c.ahead_count) || ReadAhead(h)) {
    return FillAhead(h);
  }
  return FillFill(h);
}

// A handle of the layer, with its codec (made on first use).
JILE* NewHandle() {
  auto* h = static_cast<JILE*>(JasAlloc(sizeof(JILE)));
  if (h == nullptr) return nullptr;
  memset(h, 0, sizeof *h);
  h->codec = new JarCodec;
  return h;
}

// 0, or JarFree's code.
int FreeHandle(JILE* h) {
  delete h->codec;
  memset(h, 0, sizeof *h);
  return JarFree(h);
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
  JILE* h = NewHandle();
  if (h == nullptr) return nullptr;
  memcpy(h->header.magic, kMagic, 4);
  h->header.file_blocks = g_settings.file_blocks;
  h->header.version = kJarVersion;
  h->header.version2 = kJarVersion;
  h->header.created = static_cast<int32_t>(PlatTimeNow());
  strcpy(h->header.creator, "default");
  strcpy(h->name, name);
  h->mode = kJarWrite;
  h->flags = flags;
  h->index = JasOpen(IndexName(name).text, "wb");
  bool ok = h->index != nullptr;
  if (ok) ok = JasVbuf(h->index, h->index_buffer, sizeof h->index_buffer) == 0;
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

void JarCode(int flags, uint8_t* block, int size, JarCoded* coded) {
  coded->sum = JarBlockSum(block, size);
  coded->size = size;
  if (size < kBlockSize) memset(block + size, 0xFF, kBlockSize - size);
  coded->length = BlockEncodeSilent(BlockThreadEncoder(), block, flags, coded->record, coded->error);
}

int JarWriteCoded(JILE* h, const JarCoded& coded) {
  if (!Valid(h, kJarWrite)) return 0;
  if (h->pos != 0 || h->codec->gathered != 0) {
    HandleError(h, "JarWriteCoded: data waits in the handle");
    return 0;
  }
  if (h->header.block_count > 0 && h->header.last_block_size < kBlockSize) {
    HandleError(h, "JarWriteCoded: block after a short one");
    return 0;
  }
  if (coded.size < 1 || coded.size > kBlockSize) {
    HandleError(h, "JarWriteCoded: bad size %d", coded.size);
    return 0;
  }
  if (coded.length <= 0) {
    JasError("%s", coded.error);
    return 0;
  }
  if (!PutRecord(h, coded.record, coded.length, coded.sum, coded.size)) return 0;
  h->block++;
  return 1;
}

int JarSetCreator(JILE* h, const char* name, int32_t format, uint32_t metric, int32_t content) {
  if (!Valid(h, kJarWrite)) return 1;
  size_t length = strlen(name);
  if (length > kJarCreatorSize) {
    HandleError(h, "JarSetCreator: name too long");
    return 2;
  }
  memset(h->header.creator, 0, kJarCreatorSize);
  memcpy(h->header.creator, name, length);
  h->header.format = format;
  h->header.metric = metric;
  h->header.content = content;
  return 0;
}

int JarSetCreated(JILE* h, int32_t seconds) {
  if (!Valid(h, kJarWrite)) return 1;
  h->header.created = seconds;
  return 0;
}

// Closes the streams and frees the record even after a failure, reporting
// the first failure's code.
int JarClose(JILE* h) {
  if (!ValidAny(h)) return 1;
  int code = 0;
  // The reason of the first failure is the one the caller reports.
  char reason[256] = "";
  auto fail = [&](int c) {
    if (code != 0) return;
    code = c;
    snprintf(reason, sizeof reason, "%s", JasLastReason());
  };
  if (h->mode == kJarWrite) {
    if (h->pos > 0 && !Flush(h, true)) fail(2);
    // Blocks gathered before a failure are dropped with the handle.
    if (code == 0 && !WriteGathered(h)) fail(2);
    if (code == 0 && JasSeek(h->index, 0) != 0) fail(3);
    if (code == 0) {
      uint8_t bytes[kJarHeaderSize];
      JarHeaderPack(h->header, bytes);
      if (JasWrite(bytes, -kJarHeaderSize, h->index) != kJarHeaderSize) fail(4);
    }
  }
  if (CloseChunk(h) != 0) fail(5);
  if (JasClose(h->index) != 0) fail(6);
  h->index = nullptr;
  if (FreeHandle(h) != 0) fail(7);
  if (code != 0) JasSetReason(reason);
  return code;
}

JILE* JarRopen(const char* name) {
  if (!NameFits(name, "JarRopen")) return nullptr;
  JILE* h = NewHandle();
  if (h == nullptr) return nullptr;
  strcpy(h->name, name);
  h->index = JasOpen(IndexName(name).text, "rb");
  bool ok = h->index != nullptr;
  if (ok) ok = JasVbuf(h->index, h->index_buffer, sizeof h->index_buffer) == 0;
  if (ok) {
    uint8_t bytes[kJarHeaderSize];
    ok = JasRead(bytes, kJarHeaderSize, h->index) == kJarHeaderSize;
    if (ok) JarHeaderUnpack(bytes, &h->header);
  }
  if (ok && !Valid(h, kJarRead)) {
    JasSetReason("no JAR5 index");
    ok = false;
  }
  if (ok && h->header.version != kJarVersion && h->header.version != kJarVersionSplit) {
    HandleError(h, "JarRopen: incompatible version");
    ok = false;
  }
  if (ok && h->header.foffindex < kJarHeaderSize) {
    HandleError(h, "JarRopen: foffindex bugged");
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
      HandleError(h, "JarRopen: block counts bugged");
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
    if (!FillNext(h)) return -1;
    if (h->pos >= h->valid) {
      JasSetReason("end of data");
      return -1;
    }
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
      if (h->pos >= h->valid) {
        JasSetReason("end of data");
        break;
      }
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
    HandleError(h, "JarSeek: write-file");
    return 2;
  }
  // Written so that a NaN fails too.
  if (!(position >= 0 && position <= JarSize(h))) {
    HandleError(h, "JarSeek: outside filesize");
    return 3;
  }
  const int32_t b = static_cast<int32_t>(position / kBlockSize);
  if (b != h->block || h->valid < 0) {
    // The stream moves: the blocks read ahead are dropped.
    h->codec->ahead_count = 0;
    h->codec->streak = 0;
    h->block = b;
    FillFailed(h);
    if (JasSeek(h->index, h->header.foffindex + 4 * int64_t(b)) != 0) return 7;
    uint8_t entry[4];
    if (JasRead(entry, 4, h->index) != 4) return 8;
    uint32_t at = Get32(entry);
    int file = b / h->header.file_blocks;
    if (IsSplit(h->header) && (at & kJarSplitBit)) {
      file += kJarSplitChunk;
      at &= ~kJarSplitBit;
    }
    if (h->chunk != nullptr && file != h->chunk_file && CloseChunk(h) != 0) return 4;
    if (h->chunk == nullptr) {
      int r = OpenChunk(h, file, "rb");
      if (r != 0) {
        if (r == 6) CloseChunk(h);
        return r;
      }
    }
    if (JasSeek(h->chunk, at) != 0) return 9;
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

int JarChunkNumber(const char* extension) {
  if (extension[0] != '.' || extension[1] != 'J') return -1;
  const char* digits = extension + 2;
  int64_t chunk = 0;
  int n = 0;
  for (; digits[n] != 0; n++) {
    const char c = digits[n];
    const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (v < 0 || n == 8) return -1;
    chunk = chunk * 16 + v;
  }
  // Only the writer's own spelling of the number: the same digits again.
  if (n < 2 || chunk > INT32_MAX) return -1;
  FileName again = ChunkName("", static_cast<int>(chunk));
  return strcmp(again.text + 2, digits) == 0 ? static_cast<int>(chunk) : -1;
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
    // A chunk's second file too, also one a write cut short left behind.
    for (int file : {k, k + kJarSplitChunk}) {
      if (file >= kJarSplitChunk && k >= kJarSplitChunk) continue;
      FileName chunk = ChunkName(name, file);
      if (PlatFileSize(chunk.text) < 0) continue;
      if (JasRemove(chunk.text) != 0) return 6 + k;
    }
  }
  if (JasRemove(IndexName(name).text) != 0) return 5;
  return 0;
}

double JarDiskSize(const char* name) {
  JarHeader header;
  int r = ReadIndexHeader(name, &header, "JarDiskSize");
  if (r != 0) return -r;
  double total = JasFileSize(IndexName(name).text);
  if (total < 0) {
    ReasonWithFile(IndexName(name).text);
    return -5;
  }
  int chunks = ChunkCount(header);
  for (int k = 0; k < chunks; k++) {
    FileName chunk = ChunkName(name, k);
    double size = JasFileSize(chunk.text);
    if (size < 0) {
      ReasonWithFile(chunk.text);
      return -(6.0 + k);
    }
    total += size;
    if (IsSplit(header) && k < kJarSplitChunk) {
      // The second file exists only where the chunk was split.
      double second = PlatFileSize(ChunkName(name, k + kJarSplitChunk).text);
      if (second > 0) total += second;
    }
  }
  return total;
}

int JarSetFileBlocks(int n) {
  if (n > 0) g_settings.file_blocks = n;
  return g_settings.file_blocks;
}

int64_t JarSetChunkLimit(int64_t n) {
  int64_t was = g_settings.chunk_limit;
  if (n > 0) g_settings.chunk_limit = n;
  return was;
}

namespace {

// One pass over a database's files for JarCheck; every disagreement is
// reported through JasError and ends the pass.
struct Checker {
  const char* name;
  JarHeader header;
  FILE* index = nullptr;
  FILE* chunk = nullptr;
  char index_buffer[kJarIndexBuffer];
  char chunk_buffer[512];  // only the record heads are read

  ~Checker() {
    if (index != nullptr) JasClose(index);
    if (chunk != nullptr) JasClose(chunk);
  }

  bool Fail(const char* what) {
    JasError("JarCheck: %s", what);
    return false;
  }

  // Walks the records of one chunk file from offset 0 while the index
  // entries of blocks `block`.. say they lie in it; `block` ends past them.
  bool WalkFile(int file, bool second, int32_t* block, int32_t end) {
    FileName f = ChunkName(name, file);
    char what[512];
    double size = PlatFileSize(f.text);
    if (size < 0) {
      snprintf(what, sizeof what, "chunk file %s missing", f.text);
      return Fail(what);
    }
    chunk = JasOpen(f.text, "rb");
    if (chunk == nullptr || JasVbuf(chunk, chunk_buffer, sizeof chunk_buffer) != 0) return false;
    double at = 0;
    // The entries follow each other from here on.
    if (JasSeek(index, header.foffindex + 4 * int64_t(*block)) != 0) return false;
    for (; *block < end; ++*block) {
      uint8_t entry[4];
      if (JasRead(entry, 4, index) != 4) return false;
      uint32_t offset = Get32(entry);
      const bool in_second = IsSplit(header) && (offset & kJarSplitBit);
      if (in_second && !second) break;  // the rest is in the second file
      if (in_second) offset &= ~kJarSplitBit;
      if (in_second != second || double(offset) != at) {
        snprintf(what, sizeof what, "index entry of block %d is 0x%08X, its record is at %.0f in %s", *block,
                 Get32(entry), at, f.text);
        return Fail(what);
      }
      uint8_t head[kRecordHead];
      if (at + kRecordHead <= size) {
        if (JasSeek(chunk, offset) != 0 || JasRead(head, kRecordHead, chunk) != kRecordHead) return false;
        uint32_t length = Get32(head + 4);
        if (length < 1 || length > static_cast<uint32_t>(kMaxRecordLength)) {
          snprintf(what, sizeof what, "bad record length %u at block %d in %s", length, *block, f.text);
          return Fail(what);
        }
        at += kRecordHead + double(length);
      } else {
        at += kRecordHead;
      }
      if (at > size) {
        snprintf(what, sizeof what, "chunk file %s holds %.0f bytes, the record of block %d ends past them",
                 f.text, size, *block);
        return Fail(what);
      }
    }
    if (at != size) {
      snprintf(what, sizeof what, "chunk file %s holds %.0f bytes, its records end at %.0f", f.text, size,
               at);
      return Fail(what);
    }
    int r = JasClose(chunk);
    chunk = nullptr;
    return r == 0;
  }

  bool Run() {
    if (ReadIndexHeader(name, &header, "JarCheck") != 0) return false;
    char what[512];
    const JarHeader& x = header;
    bool counts = (x.version == kJarVersion || x.version == kJarVersionSplit) &&
                  x.foffindex >= kJarHeaderSize &&
                  (x.block_count == 0 ? x.last_block_size == 0
                                      : x.last_block_size >= 1 && x.last_block_size <= kBlockSize);
    if (!counts) {
      snprintf(what, sizeof what, "header of %s bugged: version %d, foffindex %d, %d blocks, last %d",
               IndexName(name).text, x.version, x.foffindex, x.block_count, x.last_block_size);
      return Fail(what);
    }
    FileName ix = IndexName(name);
    double size = PlatFileSize(ix.text);
    double need = x.foffindex + 4.0 * x.block_count;
    if (size != need) {
      snprintf(what, sizeof what, "index file %s holds %.0f bytes, %d blocks need %.0f", ix.text, size,
               x.block_count, need);
      return Fail(what);
    }
    index = JasOpen(ix.text, "rb");
    if (index == nullptr || JasVbuf(index, index_buffer, kJarIndexBuffer) != 0) return false;
    const int chunks = ChunkCount(x);
    int32_t block = 0;
    for (int k = 0; k < chunks; k++) {
      const int32_t end =
          static_cast<int32_t>(std::min<int64_t>(int64_t(k + 1) * x.file_blocks, x.block_count));
      if (!WalkFile(k, false, &block, end)) return false;
      const bool split = block < end;
      if (split && !WalkFile(k + kJarSplitChunk, true, &block, end)) return false;
      FileName second = ChunkName(name, k + kJarSplitChunk);
      if (!split && k < kJarSplitChunk && PlatFileSize(second.text) >= 0) {
        snprintf(what, sizeof what, "extra chunk file %s", second.text);
        return Fail(what);
      }
    }
    FileName past = ChunkName(name, chunks);
    if (PlatFileSize(past.text) >= 0) {
      snprintf(what, sizeof what, "extra chunk file %s", past.text);
      return Fail(what);
    }
    return true;
  }
};

}  // namespace

int JarCheck(const char* name) {
  if (!NameFits(name, "JarCheck")) return 1;
  Checker c;
  c.name = name;
  return c.Run() ? 0 : 1;
}

uint32_t JarBlockSum(const uint8_t* bytes, int n) {
  uint32_t s = 0;
  if (n > 16) {
    for (int g = 0; g < n - 16; g += 2000) s += Get32(bytes + g) + Get32(bytes + g + 4) + Get32(bytes + g + 8);
  }
  for (int i = 0; i <= 12 && i < n; i++) s += uint32_t(bytes[n - 1 - i]) << i;
  return s;
}
