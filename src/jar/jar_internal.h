// What the parts of the compressed file layer share: the handle's coding
// state, the start-up settings, file names and the checks of a handle or an
// index header. Only the layer's own sources include it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "jar/jar_file.h"
#include "jar/jas.h"

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

namespace jar_internal {

inline constexpr const char* kMagic = kJarMagic;
inline constexpr int kRecordHead = kJarRecordHead;
// JarHeaderFault's text for a file that is no file of this layer.
inline constexpr const char* kNoMagic = "no JAR5 index";

// Start-up settings, process-wide: the chunk size of new files (a command
// line option) and, for tests, the size no chunk file may pass.
struct Settings {
  int file_blocks = 32768;
  int64_t chunk_limit = kJarChunkLimit;
};
extern Settings g_settings;

inline uint32_t Get32(const uint8_t* p) { return JarGet32(p); }
inline void Put32(uint8_t* p, uint32_t v) { JarPut32(p, v); }

// "NAME.JIX" or "NAME.Jnn"; a name that does not fit was refused at open.
struct FileName {
  char text[kJarNameSize + 16];
};

inline FileName IndexName(const char* name) {
  FileName f;
  snprintf(f.text, sizeof f.text, "%s.JIX", name);
  return f;
}

inline FileName ChunkName(const char* name, int chunk) {
  FileName f;
  snprintf(f.text, sizeof f.text, "%s.J%02X", name, static_cast<unsigned>(chunk));
  return f;
}

// A fault found in the data or the use of a handle, kept in the handle: the
// message names the file, and the reason is what was found wrong.
void HandleError(JILE* h, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Whether `h` is a handle of the layer in `mode`; a bad handle's failure
// goes to its fault when it has one.
int Valid(JILE* h, int mode);
// Either mode.
int ValidAny(JILE* h);
bool NameFits(const char* name, const char* who, const JarContext* cx, JarFault* fault);
// Reads and checks the header of NAME.JIX for the operations by name.
// 0, or 1 open, 2 read, 3 close failed, 4 not a file of this layer.
int ReadIndexHeader(const char* name, JarHeader* header, const char* who, const JarContext* cx,
                    JarFault* fault);
inline bool IsSplit(const JarHeader& header) { return header.version == kJarVersionSplit; }
// Puts the file's name before the reason of a failure, where the caller
// names only the database.
void ReasonWithFile(JarFault* fault, const char* file);
int ChunkCount(const JarHeader& header);
int OpenChunk(JILE* h, int chunk, const char* mode);
int CloseChunk(JILE* h);
// A handle of the layer, with its codec (made on first use), accounting to
// `cx`; null with the failure in `fault` when there is no memory.
JILE* NewHandle(const JarContext* cx, JarFault* fault);
// 0, or JarFree's code.
int FreeHandle(JILE* h);

}  // namespace jar_internal
