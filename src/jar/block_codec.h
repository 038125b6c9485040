// The block codec: one 32768-byte block to one record and back. The encoder
// and decoder share process-wide work buffers, so only one block is coded at
// a time.
#pragma once

#include <cstdint>

inline constexpr int kBlockSize = 32768;
// A record is at most the method byte plus a stored block.
inline constexpr int kMaxRecordLength = kBlockSize + 1;
// The decoder may read up to 3 bytes past the end of a record.
inline constexpr int kRecordPadding = 3;

// Coding flags of a write handle.
inline constexpr int kCodeDefault = 0;
inline constexpr int kCodeFlag2 = 2;
inline constexpr int kCodeBest = 128;

// The shared record buffer: BlockEncode leaves its record here, and the file
// layer reads a stored record into it before decoding.
extern uint8_t g_record[kMaxRecordLength + kRecordPadding];

// Encodes a whole block with the given flags into g_record; returns the record
// length (method byte included), or 0 when the codec gave up.
int BlockEncode(const uint8_t* block, int flags);

// Decodes the record of `length` bytes in g_record into a 32768-byte block;
// returns 1, or 0 when the record is damaged (the codec reported why).
int BlockDecode(int length, uint8_t* block);
