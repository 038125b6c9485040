// The stored block format: what a record is made of, shared by the encoder
// and the decoder. A record is one method byte and the method's payload; it
// decodes to one block of kBlockSize bytes.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline constexpr int kBlockSize = 32768;
// A record is at most the method byte plus a stored block.
inline constexpr int kMaxRecordLength = kBlockSize + 1;
// The decoder may read up to 3 bytes past the end of a record.
inline constexpr int kRecordPadding = 3;
// An encoder gives up once a record reaches this many bytes (method byte
// included) and stores the block instead.
inline constexpr int kRecordLimit = kBlockSize;

// Block methods (the record's first byte).
inline constexpr int kMethodStored = 1;
inline constexpr int kMethodLz = 2;
inline constexpr int kMethodRle = 3;
inline constexpr int kMethodSplit = 4;
inline constexpr int kMethodRowsColumns = 5;
inline constexpr int kMethodRowsRows = 6;
inline constexpr int kMethodFlipColumns = 7;
inline constexpr int kMethodFlipRows = 8;
// Work files only: the run-length form as it is, no entropy coding.
inline constexpr int kMethodRleBytes = 9;

// Coding flags of a write handle: the highest method bit set decides, none
// gives method 4.
inline constexpr int kFlagDefault = 0;         // method 4
inline constexpr int kFlagRle = 0x01;          // method 3
inline constexpr int kFlagLz = 0x02;           // method 2
inline constexpr int kFlagRowsColumns = 0x04;  // method 5
inline constexpr int kFlagRowsRows = 0x08;     // method 6
inline constexpr int kFlagFlipColumns = 0x10;  // method 7
inline constexpr int kFlagFlipRows = 0x20;     // method 8
inline constexpr int kFlagCostBased = 0x40;    // cost-based parsing
inline constexpr int kFlagTrial = 0x80;        // methods 4 to 8, keep the smallest
// Coding of a build's work files, which are read back a pass or two later
// and removed: cheap rather than small. A block whose run-length form is
// shorter than the block is that form (method 9); any other is stored
// (method 1). Finished databases never use method 9.
inline constexpr int kFlagWork = 0x100;

// Run-length code: bytes 0xE0..0xEE are a run of 1..15 of the byte after;
// 0xEF, n, b is a run of n + 31 (up to 286) of b; any other byte is itself.
inline constexpr int kRleEscapeLow = 0xE0;
inline constexpr int kRleEscapeHigh = 0xEF;              // the long run
inline constexpr int kRleShortBase = kRleEscapeLow - 1;  // code of a run of r: base + r
inline constexpr int kRleRunShort = 15;                  // longest run of the one-byte codes
inline constexpr int kRleRunLong = 31;                   // shortest run of the long code
inline constexpr int kRleRunMax = 286;
// The escapes are the bytes whose high half is 0xE: the coders test sixteen
// at a time that way.
static_assert(kRleEscapeLow == 0xE0 && kRleEscapeHigh == 0xEF);
#if defined(__SSE2__)
// The bytes of `a` that are escapes as 0xFF, the others as 0.
inline __m128i RleEscapeBytes(__m128i a) {
  return _mm_cmpeq_epi8(_mm_and_si128(a, _mm_set1_epi8(static_cast<char>(0xF0))),
                        _mm_set1_epi8(static_cast<char>(kRleEscapeLow)));
}
#endif

// Rows of the row-table methods (5 to 8); methods 7 and 8 first transpose
// each 4096-byte part as a 64 x 64 matrix.
inline constexpr int kRowBytes = 64;
inline constexpr int kRows = kBlockSize / kRowBytes;  // 512
inline constexpr int kFlipPart = 4096;

// The LZ segments of one record: the two of the frequent-value split can
// together pass a block (rest bytes plus a coded bitmap of up to 34.8 K).
inline constexpr int kWorkSize = 40960;

// LZ matches: length 3..146, starting at most 65536 bytes back.
inline constexpr int kMinMatch = 3;
inline constexpr int kMaxMatch = 146;
inline constexpr int kMaxDistance = 65536;
