// Compressed database files: an index file NAME.JIX and chunk files
// NAME.J00, NAME.J01, ... holding 32768-byte blocks coded one by one.
//
// Index file (32-bit little-endian integers):
//   0 magic "JAR5"        4 block count          8 last block size
//  12 blocks per chunk   16 version (501)        20 version, second word
//  24 creation time      28 creator name (32)    60 format
//  64 metric tag         68 content              72 foffindex
//  76 40 filler bytes   116 one 4-byte chunk offset per block
// Chunk file record: check value, record length L, L bytes of coded block.
//
// Every operation reports failure through JasError and its result; it never
// ends the process (the checked operations of the front end do that).
#pragma once

#include <cstdint>
#include <cstdio>

#include "jar/jar_format.h"
#include "jar/jas.h"

inline constexpr int kJarVersion = 501;
// Version of files with a chunk split in two (below): older readers refuse
// them rather than read them wrong.
inline constexpr int kJarVersionSplit = 502;
// A chunk whose records would pass kJarChunkLimit continues in a second
// file numbered chunk + kJarSplitChunk; the offsets of the records there
// carry kJarSplitBit. A chunk holds at most twice the limit this way.
inline constexpr int kJarSplitChunk = 0x10000;
inline constexpr uint32_t kJarSplitBit = 0x80000000u;
// Chunk offsets are 32-bit on disk and signed for older readers.
inline constexpr int64_t kJarChunkLimit = INT32_MAX;
inline constexpr int kJarHeaderSize = 76;
inline constexpr int kJarFillerSize = 40;
inline constexpr int kJarIndexBuffer = 4096;
inline constexpr int kJarChunkBuffer = 32768;
inline constexpr int kJarCreatorSize = 32;
inline constexpr int kJarNameSize = 256;
// Offset of the block offset table in files written here.
inline constexpr int kJarTableOffset = kJarHeaderSize + kJarFillerSize;

// Field offsets of the header on disk.
inline constexpr int kJarOffMagic = 0;
inline constexpr int kJarOffBlockCount = 4;
inline constexpr int kJarOffLastBlockSize = 8;
inline constexpr int kJarOffFileBlocks = 12;
inline constexpr int kJarOffVersion = 16;
inline constexpr int kJarOffVersion2 = 20;
inline constexpr int kJarOffCreated = 24;
inline constexpr int kJarOffCreator = 28;
inline constexpr int kJarOffFormat = 60;
inline constexpr int kJarOffMetric = 64;
inline constexpr int kJarOffContent = 68;
inline constexpr int kJarOffFoffindex = 72;

// A metric tag from its four characters, the first in the low byte.
constexpr uint32_t JarTag(const char (&text)[5]) {
  return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 |
         uint32_t(uint8_t(text[2])) << 16 | uint32_t(uint8_t(text[3])) << 24;
}

struct JarHeader {
  char magic[4];
  int32_t block_count;
  int32_t last_block_size;
  int32_t file_blocks;
  int32_t version;
  int32_t version2;
  int32_t created;
  char creator[kJarCreatorSize];  // not terminated when full
  int32_t format;
  uint32_t metric;
  int32_t content;
  int32_t foffindex;
};

// The header to and from its 76 bytes on disk.
void JarHeaderPack(const JarHeader& header, uint8_t* bytes);
void JarHeaderUnpack(const uint8_t* bytes, JarHeader* header);

inline constexpr char kJarMagic[4] = {'J', 'A', 'R', '5'};
// What every reader checks of a header before it trusts the counts: null
// when sound, else the fault ("no JAR5 index", "incompatible version",
// "foffindex bugged", "block counts bugged"), in that order. Counts no
// writer produces would divide by zero or index past a block later on.
const char* JarHeaderFault(const JarHeader& header);

// A chunk file record starts with its head: the block's check value and
// the record length, then that many bytes of coded block.
inline constexpr int kJarRecordHead = 8;

inline uint32_t JarGet32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void JarPut32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// Where the record of `block` lies, from its block table entry: the chunk
// file (a split chunk's second file numbered chunk + kJarSplitChunk) and the
// offset in it.
struct JarPlace {
  int file;
  uint32_t offset;
};
inline JarPlace JarRecordPlace(const JarHeader& header, int32_t block, uint32_t entry) {
  JarPlace at{block / header.file_blocks, entry};
  if (header.version == kJarVersionSplit && (entry & kJarSplitBit)) {
    at.file += kJarSplitChunk;
    at.offset &= ~kJarSplitBit;
  }
  return at;
}

// A handle's coding state (its encoder or decoder context and record
// buffers), private to the file layer.
struct JarCodec;
// What a build counts of a handle's work (jas.h).
struct JarContext;

inline constexpr int kJarRead = 0;
inline constexpr int kJarWrite = 1;

struct JILE {
  JarHeader header;
  char name[kJarNameSize];
  int32_t mode;
  int32_t flags;
  FILE* index;
  // The codec and account pointers and the fault take their bytes from the
  // index stream's buffer, so that the handle's size, which a build's memory
  // accounting logs, stays as it was.
  char index_buffer[kJarIndexBuffer - sizeof(JarCodec*) - sizeof(const JarContext*) - sizeof(JarFault)];
  JarCodec* codec;
  const JarContext* cx;  // where the handle's work is counted; nullptr: nowhere
  JarFault fault;        // of the handle's last failed call
  FILE* chunk;
  char chunk_buffer[kJarChunkBuffer];
  int32_t block;  // read: block in the buffer (-1 after open); write: block being filled
  int32_t pos;    // next byte in the block buffer
  int32_t valid;  // read: bytes of the block buffer holding data
  uint8_t data[kBlockSize];
  int32_t chunk_file;  // number of the open chunk file (split halves included)
};
static_assert(sizeof(JILE) == 70008, "a build's logged memory figures count JILE's size");

// Write side.
// The handle counts its memory, streams and disk bytes to `cx`.
// The calls by handle keep their failure in the handle's `fault`; the calls
// by name and the close, which ends the handle, fill the caller's `fault`,
// if any.
JILE* JarWopen(const char* name, int flags, const JarContext* cx = nullptr, JarFault* fault = nullptr);
int JarPutc(int byte, JILE* h);                      // the byte, or -1
int JarWrite(const void* data, int count, JILE* h);  // bytes taken, 0 on failure
int JarSetCreator(JILE* h, const char* name, int32_t format, uint32_t metric,
                  int32_t content);  // 0, 1 bad handle, 2 name too long
// The creation time in place of the time of the open (reproducible files).
int JarSetCreated(JILE* h, int32_t seconds);       // 0, or 1 bad handle
int JarClose(JILE* h, JarFault* fault = nullptr);  // 0 or a code 1..7

// A block coded away from its handle, so that many threads can code the
// blocks of one file while one writes them in order.
struct JarCoded {
  uint8_t record[kMaxRecordLength];
  int32_t length;  // 0 when the codec gave up, its message in `error`
  uint32_t sum;
  int32_t size;  // bytes of the block holding data
  char error[256];
};
// Codes the first `size` (1..32768) bytes of `block` as a handle opened
// with `flags` codes a block; the bytes past them, up to 32768, are filled
// as the handle fills them. Safe from any thread (its own encoder).
void JarCode(int flags, uint8_t* block, int size, JarCoded* coded);
// Writes a block coded by JarCode as the handle's next block: only while no
// data waits in the handle, and a short block only last. 1, or 0 reported.
int JarWriteCoded(JILE* h, const JarCoded& coded);

// Read side. A read handle holds two streams open: its index file and one
// chunk file at a time.
inline constexpr int kJarReadStreams = 2;
JILE* JarRopen(const char* name, const JarContext* cx = nullptr, JarFault* fault = nullptr);
int JarGetc(JILE* h);                           // 0..255, or -1 at end or failure
int JarRead(void* buffer, int count, JILE* h);  // bytes delivered
int JarSeek(JILE* h, double position);          // 0 or a code 1..10
int JarGetCreator(JILE* h, const char** name, int32_t* format, uint32_t* metric,
                  int32_t* content);  // 0, or 1 bad handle

// Both modes.
double JarSize(JILE* h);
double JarTell(JILE* h);

// By base name.
int JarExists(const char* name);  // 1 when NAME.JIX can be opened for reading
// The chunk number of a name's extension as the writer forms it (".J00",
// ".J13F", ".J10000": two hex digits or more, no extra leading zero), or -1
// for any other text.
int JarChunkNumber(const char* extension);
int JarRemove(const char* name, const JarContext* cx = nullptr,
              JarFault* fault = nullptr);  // 0 or a code
double JarDiskSize(const char* name, const JarContext* cx = nullptr,
                   JarFault* fault = nullptr);  // bytes on disk, or a negative code
// The blocks per chunk file given to new files; sets it first when n > 0.
int JarSetFileBlocks(int n);
// Checks the header against the index and chunk files: the table's length,
// every chunk file there with its records back to back as the table says,
// and no chunk file past the last. 0, or 1 with the disagreement reported.
int JarCheck(const char* name, JarFault* fault = nullptr);

// For tests: the size no chunk file may pass (kJarChunkLimit); sets it
// first when n > 0 and returns the previous value.
int64_t JarSetChunkLimit(int64_t n);

// The check value of a block: a sample of its bytes, summed modulo 2^32.
uint32_t JarBlockSum(const uint8_t* bytes, int n);
