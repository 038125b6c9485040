#include "jar/jar_file.h"

#include <cstring>

#include "jar/block_codec.h"
#include "jar/jar_internal.h"
#include "jar/jas.h"
#include "platform/platform.h"

using namespace jar_internal;

namespace {

constexpr char kFiller[] = "dummy data chunk";  // 16 bytes
constexpr int kFillerPiece = 16;

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
      JasError(h->cx, &h->fault, "Flush: chunk file %s.J%02X would pass 2^31 bytes", h->name, chunk);
      return 0;
    }
    if (OpenChunk(h, chunk, "wb") != 0) return 0;
  }
  int64_t offset = JasTell(h->chunk, h->cx, &h->fault);
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
      JasError(h->cx, &h->fault, "Flush: chunk file %s.J%02X would pass 2^31 bytes", h->name,
               h->chunk_file);
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
  if (JasWrite(entry, 4, h->index, h->cx, &h->fault) != 4) return 0;
  uint8_t head[kRecordHead];
  Put32(head, sum);
  Put32(head + 4, static_cast<uint32_t>(length));
  if (JasWrite(head, kRecordHead, h->chunk, h->cx, &h->fault) != kRecordHead) return 0;
  if (JasWrite(record, length, h->chunk, h->cx, &h->fault) != length) return 0;
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
    s.length = BlockEncode(BlockThreadEncoder(), s.block, flags, s.record, s.error);
  });
  for (int i = 0; i < n; i++) {
    const JarSlot& s = *c.slots[i];
    if (s.length <= 0) {
      JasError(h->cx, &h->fault, "%s", s.error);
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
    char error[256];
    int length = BlockEncode(BlockThreadEncoder(), h->data, h->flags, c.record, error);
    if (length <= 0) {
      JasError(h->cx, &h->fault, "%s", error);
      return 0;
    }
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

}  // namespace

JILE* JarWopen(const char* name, int flags, const JarContext* cx, JarFault* fault) {
  if (!NameFits(name, "JarWopen", cx, fault)) return nullptr;
  JILE* h = NewHandle(cx, fault);
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
  h->index = JasOpen(IndexName(name).text, "wb", h->cx, &h->fault);
  bool ok = h->index != nullptr;
  if (ok) ok = JasVbuf(h->index, h->index_buffer, sizeof h->index_buffer, h->cx, &h->fault) == 0;
  if (ok) {
    uint8_t bytes[kJarHeaderSize];
    JarHeaderPack(h->header, bytes);
    ok = JasWrite(bytes, kJarHeaderSize, h->index, h->cx, &h->fault) == kJarHeaderSize &&
         JasWrite(kFiller, kFillerPiece, h->index, h->cx, &h->fault) == kFillerPiece &&
         JasWrite(kFiller, kFillerPiece, h->index, h->cx, &h->fault) == kFillerPiece &&
         JasWrite(kFiller, kJarFillerSize - 2 * kFillerPiece, h->index, h->cx, &h->fault) ==
             kJarFillerSize - 2 * kFillerPiece;
  }
  if (ok) {
    int64_t at = JasTell(h->index, h->cx, &h->fault);
    ok = at > 0;
    h->header.foffindex = static_cast<int32_t>(at);
  }
  if (!ok) {
    if (h->index != nullptr) JasClose(h->index, h->cx, &h->fault);
    if (fault != nullptr) *fault = h->fault;
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
  coded->length = BlockEncode(BlockThreadEncoder(), block, flags, coded->record, coded->error);
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
    JasError(h->cx, &h->fault, "%s", coded.error);
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
int JarClose(JILE* h, JarFault* fault) {
  if (!ValidAny(h)) {
    if (fault != nullptr) {
      snprintf(fault->message, sizeof fault->message, "Valid: invalid JILE *");
      fault->SetReason("invalid JILE *");
    }
    return 1;
  }
  int code = 0;
  // The first failure is the one the caller reports; the handle is gone.
  JarFault first;
  auto fail = [&](int c) {
    if (code != 0) return;
    code = c;
    first = h->fault;
  };
  if (h->mode == kJarWrite) {
    if (h->pos > 0 && !Flush(h, true)) fail(2);
    // Blocks gathered before a failure are dropped with the handle.
    if (code == 0 && !WriteGathered(h)) fail(2);
    if (code == 0 && JasSeek(h->index, 0, h->cx, &h->fault) != 0) fail(3);
    if (code == 0) {
      uint8_t bytes[kJarHeaderSize];
      JarHeaderPack(h->header, bytes);
      if (JasWrite(bytes, -kJarHeaderSize, h->index, h->cx, &h->fault) != kJarHeaderSize) fail(4);
    }
  }
  if (CloseChunk(h) != 0) fail(5);
  if (JasClose(h->index, h->cx, &h->fault) != 0) fail(6);
  h->index = nullptr;
  const int freed = FreeHandle(h);
  if (freed != 0 && code == 0) {
    code = 7;
    first.SetReason(freed == 2 ? "lo sentinel violated" : "hi sentinel violated");
  }
  if (code != 0 && fault != nullptr) *fault = first;
  return code;
}
