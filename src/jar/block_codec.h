// The block codec: one 32768-byte block to one record and back. The decoder
// and g_record belong to the main thread; the encoder keeps its buffers per
// thread, so that the worker thread can code one block while the main thread
// codes another.
#pragma once

#include <cstdint>

#include "platform/platform.h"

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

// A block coded on the worker thread, with the record BlockEncode would make
// of it. The block must stay unchanged until BlockEncodeFinish.
struct BlockEncodeJob {
  const uint8_t* block;
  int flags;
  int length;
  char error[256];  // the codec's message when length is 0
  PlatTask task;
  uint8_t record[kMaxRecordLength];
};
// Starts coding `block` on the worker thread; false when it is busy, and the
// caller then codes the block itself.
bool BlockEncodeStart(BlockEncodeJob* job, const uint8_t* block, int flags);
// Waits for a started job; returns its record length, or 0 after passing the
// codec's message to the file layer.
int BlockEncodeFinish(BlockEncodeJob* job);

// Decodes the record of `length` bytes in g_record into a 32768-byte block;
// returns 1, or 0 when the record is damaged (the codec reported why).
int BlockDecode(int length, uint8_t* block);
