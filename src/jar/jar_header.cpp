#include "jar/jar_file.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "jar/jar_internal.h"
#include "jar/jas.h"
#include "platform/platform.h"

using namespace jar_internal;

namespace jar_internal {

Settings g_settings;

void HandleError(JILE* h, const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  JasError(h->cx, &h->fault, "%s [%s]", text, h->name);
  const char* colon = strstr(text, ": ");
  h->fault.SetReason(colon != nullptr ? colon + 2 : text);
}

int Valid(JILE* h, int mode) {
  if (h == nullptr || memcmp(h->header.magic, kMagic, 4) != 0) {
    JasError(h != nullptr ? h->cx : nullptr, nullptr, "Valid: invalid JILE *");
    return 0;
  }
  if (h->mode != mode) {
    JasError(h->cx, &h->fault, "Valid: invalid JILE *");
    return 0;
  }
  return 1;
}

// Either mode.
int ValidAny(JILE* h) { return Valid(h, h != nullptr && h->mode == kJarWrite ? kJarWrite : kJarRead); }

bool NameFits(const char* name, const char* who, const JarContext* cx, JarFault* fault) {
  if (strlen(name) < kJarNameSize) return true;
  JasError(cx, fault, "%s: name too long", who);
  return false;
}

// Reads and checks the header of NAME.JIX for the operations by name.
// 0, or 1 open, 2 read, 3 close failed, 4 not a file of this layer.
int ReadIndexHeader(const char* name, JarHeader* header, const char* who, const JarContext* cx,
                    JarFault* fault) {
  if (!NameFits(name, who, cx, fault)) return 1;
  FILE* f = JasOpen(IndexName(name).text, "rb", cx, fault);
  if (f == nullptr) return 1;
  uint8_t bytes[kJarHeaderSize];
  int got = JasRead(bytes, kJarHeaderSize, f, cx, fault);
  int closed = JasClose(f, cx, fault);
  if (got != kJarHeaderSize) return 2;
  if (closed != 0) return 3;
  JarHeaderUnpack(bytes, header);
  // A zero or negative chunk size would make the chunk count meaningless.
  if (memcmp(header->magic, kMagic, 4) != 0 || header->file_blocks <= 0 || header->block_count < 0) {
    JasError(cx, fault, "%s: [%s] is no JAR5 index", who, name);
    if (fault != nullptr) fault->SetReason(kNoMagic);
    return 4;
  }
  return 0;
}

// Puts the file's name before the reason of a failure, where the caller
// names only the database.
void ReasonWithFile(JarFault* fault, const char* file) {
  if (fault == nullptr) return;
  const std::string why = std::string(file) + ": " + fault->reason;
  fault->SetReason(why.c_str());
}

int ChunkCount(const JarHeader& header) {
  return static_cast<int>((int64_t(header.block_count) + header.file_blocks - 1) / header.file_blocks);
}

int OpenChunk(JILE* h, int chunk, const char* mode) {
  h->chunk = JasOpen(ChunkName(h->name, chunk).text, mode, h->cx, &h->fault);
  if (h->chunk == nullptr) return 5;
  h->chunk_file = chunk;
  if (JasVbuf(h->chunk, h->chunk_buffer, kJarChunkBuffer, h->cx, &h->fault) != 0) return 6;
  return 0;
}

int CloseChunk(JILE* h) {
  if (h->chunk == nullptr) return 0;
  int r = JasClose(h->chunk, h->cx, &h->fault);
  h->chunk = nullptr;
  return r;
}

// A handle of the layer, with its codec (made on first use).
JILE* NewHandle(const JarContext* cx, JarFault* fault) {
  auto* h = static_cast<JILE*>(JasAlloc(sizeof(JILE), cx, fault));
  if (h == nullptr) return nullptr;
  memset(static_cast<void*>(h), 0, sizeof *h);
  h->fault.block = -1;
  h->cx = cx;
  h->codec = new JarCodec;
  return h;
}

// 0, or JarFree's code.
int FreeHandle(JILE* h) {
  const JarContext* cx = h->cx;
  delete h->codec;
  memset(static_cast<void*>(h), 0, sizeof *h);
  return JarFree(h, cx);
}

}  // namespace jar_internal

const char* JarHeaderFault(const JarHeader& x) {
  if (memcmp(x.magic, kJarMagic, 4) != 0) return kNoMagic;
  if (x.version != kJarVersion && x.version != kJarVersionSplit) return "incompatible version";
  if (x.foffindex < kJarHeaderSize) return "foffindex bugged";
  const bool counts = x.file_blocks > 0 && x.block_count >= 0 &&
                      (x.block_count == 0 ? x.last_block_size == 0
                                          : x.last_block_size >= 1 && x.last_block_size <= kBlockSize);
  return counts ? nullptr : "block counts bugged";
}

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

int JarRemove(const char* name, const JarContext* cx, JarFault* fault) {
  JarHeader header;
  int r = ReadIndexHeader(name, &header, "JarRemove", cx, fault);
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
      if (JasRemove(chunk.text, cx, fault) != 0) return 6 + k;
    }
  }
  if (JasRemove(IndexName(name).text, cx, fault) != 0) return 5;
  return 0;
}

double JarDiskSize(const char* name, const JarContext* cx, JarFault* fault) {
  JarHeader header;
  int r = ReadIndexHeader(name, &header, "JarDiskSize", cx, fault);
  if (r != 0) return -r;
  double total = JasFileSize(IndexName(name).text, cx, fault);
  if (total < 0) {
    ReasonWithFile(fault, IndexName(name).text);
    return -5;
  }
  int chunks = ChunkCount(header);
  for (int k = 0; k < chunks; k++) {
    FileName chunk = ChunkName(name, k);
    double size = JasFileSize(chunk.text, cx, fault);
    if (size < 0) {
      ReasonWithFile(fault, chunk.text);
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
uint32_t JarBlockSum(const uint8_t* bytes, int n) {
  uint32_t s = 0;
  if (n > 16) {
    for (int g = 0; g < n - 16; g += 2000)
      s += Get32(bytes + g) + Get32(bytes + g + 4) + Get32(bytes + g + 8);
  }
  for (int i = 0; i <= 12 && i < n; i++) s += uint32_t(bytes[n - 1 - i]) << i;
  return s;
}
