#include "jar/jar_file.h"

#include <algorithm>

#include "jar/jar_internal.h"
#include "jar/jas.h"
#include "platform/platform.h"

using namespace jar_internal;

namespace {

// One pass over a database's files for JarCheck; every disagreement is
// reported into the fault and ends the pass.
struct Checker {
  const char* name;
  JarFault* fault;
  JarHeader header;
  FILE* index = nullptr;
  FILE* chunk = nullptr;
  char index_buffer[kJarIndexBuffer];
  char chunk_buffer[512];  // only the record heads are read

  ~Checker() {
    if (index != nullptr) JasClose(index, nullptr, fault);
    if (chunk != nullptr) JasClose(chunk, nullptr, fault);
  }

  bool Fail(const char* what) {
    JasError(nullptr, fault, "JarCheck: %s", what);
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
    chunk = JasOpen(f.text, "rb", nullptr, fault);
    if (chunk == nullptr || JasVbuf(chunk, chunk_buffer, sizeof chunk_buffer, nullptr, fault) != 0)
      return false;
    double at = 0;
    // The entries follow each other from here on.
    if (JasSeek(index, header.foffindex + 4 * int64_t(*block), nullptr, fault) != 0) return false;
    for (; *block < end; ++*block) {
      uint8_t entry[4];
      if (JasRead(entry, 4, index, nullptr, fault) != 4) return false;
      const JarPlace place = JarRecordPlace(header, *block, Get32(entry));
      const uint32_t offset = place.offset;
      const bool in_second = place.file != *block / header.file_blocks;
      if (in_second && !second) break;  // the rest is in the second file
      if (in_second != second || double(offset) != at) {
        snprintf(what, sizeof what, "index entry of block %d is 0x%08X, its record is at %.0f in %s",
                 *block, Get32(entry), at, f.text);
        return Fail(what);
      }
      uint8_t head[kRecordHead];
      if (at + kRecordHead <= size) {
        if (JasSeek(chunk, offset, nullptr, fault) != 0 ||
            JasRead(head, kRecordHead, chunk, nullptr, fault) != kRecordHead)
          return false;
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
        snprintf(what, sizeof what,
                 "chunk file %s holds %.0f bytes, the record of block %d ends past them", f.text, size,
                 *block);
        return Fail(what);
      }
    }
    if (at != size) {
      snprintf(what, sizeof what, "chunk file %s holds %.0f bytes, its records end at %.0f", f.text,
               size, at);
      return Fail(what);
    }
    int r = JasClose(chunk, nullptr, fault);
    chunk = nullptr;
    return r == 0;
  }

  bool Run() {
    if (ReadIndexHeader(name, &header, "JarCheck", nullptr, fault) != 0) return false;
    char what[512];
    const JarHeader& x = header;
    if (JarHeaderFault(x) != nullptr) {
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
    index = JasOpen(ix.text, "rb", nullptr, fault);
    if (index == nullptr || JasVbuf(index, index_buffer, kJarIndexBuffer, nullptr, fault) != 0)
      return false;
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

int JarCheck(const char* name, JarFault* fault) {
  if (!NameFits(name, "JarCheck", nullptr, fault)) return 1;
  Checker c;
  c.name = name;
  c.fault = fault;
  return c.Run() ? 0 : 1;
}
