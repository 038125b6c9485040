// The block decoder: a record (method byte and payload) back to 32768 bytes.
#pragma once

#include <cstdint>

#include "jar/block_codec.h"

// Block methods (the record's first byte).
inline constexpr int kMethodStored = 1;
inline constexpr int kMethodLz = 2;
inline constexpr int kMethodRle = 3;
inline constexpr int kMethodSplit = 4;
inline constexpr int kMethodRowsColumns = 5;
inline constexpr int kMethodRowsRows = 6;
inline constexpr int kMethodFlipColumns = 7;
inline constexpr int kMethodFlipRows = 8;

// Rows of the row-table methods.
inline constexpr int kRowBytes = 64;
inline constexpr int kRows = kBlockSize / kRowBytes;  // 512

// The LZ segments of one record: the two of the frequent-value split can
// together pass a block (rest bytes plus a coded bitmap of up to 34.8 K).
inline constexpr int kWorkSize = 40960;

// Decodes the record of `length` bytes at `record` into `block`. The record
// buffer needs three writable bytes after `length`. A damaged record takes the
// codec error exit (CodecError), so call it only under a handler; BlockDecode
// is that handler.
void SubDecode(uint8_t* record, int length, uint8_t* block);

// Run-length expansion of n bytes into at most `capacity` bytes; returns the
// bytes written. An expansion that would pass `capacity`, or a run code cut
// off by the end of the input, is "ExpandRle: size BUG".
int ExpandRle(const uint8_t* in, int n, uint8_t* out, int capacity);

// Transposes each 4096-byte part of a block as a 64 x 64 matrix; returns the
// number of bytes written (32768). It is its own inverse.
int Flip6464(const uint8_t* in, uint8_t* out);

// Optional trace of the symbols RepDecode reads, for tests that check what an
// encoder chose. Null (off) by default.
struct RepTraceMatch {
  int pos;
  int len;
  int dist;  // distance code: the match starts dist + 1 bytes back
};
struct RepTrace {
  RepTraceMatch* matches;
  int capacity;
  int match_count;
  int literal_count;
};
extern RepTrace* g_rep_trace;
