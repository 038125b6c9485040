#include "jar/jar_file.h"

#include <algorithm>
#include <cstring>

#include "jar/block_codec.h"
#include "jar/jar_internal.h"
#include "jar/jas.h"
#include "platform/platform.h"

using namespace jar_internal;

namespace {

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
  JasError(h->cx, &h->fault, "%s at block %d [%s]", message, h->block, h->name);
  const char* colon = strrchr(message, ':');
  h->fault.SetReason(colon != nullptr && colon[1] == ' ' ? colon + 2 : message);
  h->fault.block = h->block;
  return FillFailed(h);
}

// A record read that came short keeps the stream's reason, with the block.
int BlockReadFailed(JILE* h) {
  h->fault.block = h->block;
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
  if (JasRead(head, kRecordHead, h->chunk, h->cx, &h->fault) != kRecordHead) return BlockReadFailed(h);
  uint32_t sum = Get32(head);
  uint32_t length = Get32(head + 4);
  if (length < 1 || length > static_cast<uint32_t>(kMaxRecordLength)) {
    char message[64];
    snprintf(message, sizeof message, "FillFill: bad record length %u", length);
    return BlockFailed(h, message);
  }
  int n = static_cast<int>(length);
  JarCodec& c = *h->codec;
  if (JasRead(c.record, n, h->chunk, h->cx, &h->fault) != n) return BlockReadFailed(h);
  memset(c.record + n, 0, kRecordPadding);
  char error[256];
  if (BlockDecode(BlockThreadDecoder(), c.record, n, h->data, error) == 0) {
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
  const int64_t at = JasTell(h->chunk, h->cx, &h->fault);
  if (at < 0) return false;
  while (static_cast<int>(c.ahead.size()) < count) c.ahead.emplace_back(new JarAhead);
  for (int i = 0; i < count; i++) {
    JarAhead& a = *c.ahead[i];
    uint8_t head[kRecordHead];
    bool ok = JasRead(head, kRecordHead, h->chunk, h->cx, &h->fault) == kRecordHead;
    uint32_t length = ok ? Get32(head + 4) : 0;
    ok = ok && length >= 1 && length <= static_cast<uint32_t>(kMaxRecordLength) &&
         JasRead(a.record, static_cast<int>(length), h->chunk, h->cx, &h->fault) ==
             static_cast<int>(length);
    if (!ok) {
      JasSeek(h->chunk, at, h->cx, &h->fault);
      return false;
    }
    a.sum = Get32(head);
    a.length = static_cast<int32_t>(length);
    memset(a.record + length, 0, kRecordPadding);
  }
  JarCodec* codec = &c;
  PlatParallel(count, [codec](int i) {
    JarAhead& a = *codec->ahead[i];
    a.decoded = BlockDecode(BlockThreadDecoder(), a.record, a.length, a.block, a.error);
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
    if (JasSeek(h->index, h->header.foffindex + 4 * int64_t(h->block), h->cx, &h->fault) != 0 ||
        JasRead(entry, 4, h->index, h->cx, &h->fault) != 4) {
      return FillFailed(h);
    }
    file = JarRecordPlace(h->header, h->block, Get32(entry)).file;
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

}  // namespace

JILE* JarRopen(const char* name, const JarContext* cx, JarFault* fault) {
  if (!NameFits(name, "JarRopen", cx, fault)) return nullptr;
  JILE* h = NewHandle(cx, fault);
  if (h == nullptr) return nullptr;
  strcpy(h->name, name);
  h->index = JasOpen(IndexName(name).text, "rb", h->cx, &h->fault);
  bool ok = h->index != nullptr;
  if (ok) ok = JasVbuf(h->index, h->index_buffer, sizeof h->index_buffer, h->cx, &h->fault) == 0;
  if (ok) {
    uint8_t bytes[kJarHeaderSize];
    ok = JasRead(bytes, kJarHeaderSize, h->index, h->cx, &h->fault) == kJarHeaderSize;
    if (ok) JarHeaderUnpack(bytes, &h->header);
  }
  const char* wrong = ok ? JarHeaderFault(h->header) : nullptr;
  if (wrong != nullptr && !Valid(h, kJarRead)) {
    // No file of the layer: the handle's own check finds it, and the reason
    // says what was wrong.
    snprintf(h->fault.message, sizeof h->fault.message, "Valid: invalid JILE *");
    h->fault.SetReason(wrong);
    ok = false;
  } else if (wrong != nullptr) {
    HandleError(h, "JarRopen: %s", wrong);
    ok = false;
  }
  if (!ok) {
    if (h->index != nullptr) JasClose(h->index, h->cx, &h->fault);
    if (fault != nullptr) *fault = h->fault;
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
      h->fault.SetReason("end of data");
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
        h->fault.SetReason("end of data");
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
    if (JasSeek(h->index, h->header.foffindex + 4 * int64_t(b), h->cx, &h->fault) != 0) return 7;
    uint8_t entry[4];
    if (JasRead(entry, 4, h->index, h->cx, &h->fault) != 4) return 8;
    const JarPlace place = JarRecordPlace(h->header, b, Get32(entry));
    const int file = place.file;
    const uint32_t at = place.offset;
    if (h->chunk != nullptr && file != h->chunk_file && CloseChunk(h) != 0) return 4;
    if (h->chunk == nullptr) {
      int r = OpenChunk(h, file, "rb");
      if (r != 0) {
        if (r == 6) CloseChunk(h);
        return r;
      }
    }
    if (JasSeek(h->chunk, at, h->cx, &h->fault) != 0) return 9;
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
