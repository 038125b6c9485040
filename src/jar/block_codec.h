// The block codec: one 32768-byte block to one record and back. Its state
// lives in contexts the caller owns, an encoder and a decoder, so that two
// threads can code blocks at once as long as each uses its own context.
#pragma once

#include <cstdint>
#include <memory>

#include "jar/jar_format.h"
#include "platform/platform.h"

struct BlockEncoder;
struct BlockDecoder;

// The contexts are large (the encoder's hash chains and work buffers); they
// come from the heap, outside the file layer's memory accounting.
BlockEncoder* BlockEncoderNew();
void BlockEncoderDelete(BlockEncoder* encoder);
BlockDecoder* BlockDecoderNew();
void BlockDecoderDelete(BlockDecoder* decoder);

struct BlockEncoderDeleter {
  void operator()(BlockEncoder* e) const { BlockEncoderDelete(e); }
};
struct BlockDecoderDeleter {
  void operator()(BlockDecoder* d) const { BlockDecoderDelete(d); }
};
using BlockEncoderPtr = std::unique_ptr<BlockEncoder, BlockEncoderDeleter>;
using BlockDecoderPtr = std::unique_ptr<BlockDecoder, BlockDecoderDeleter>;

// Encodes a whole block with the given flags into `record` (kMaxRecordLength
// bytes); returns the record length (method byte included), or 0 when the
// codec gave up, after reporting why through the file layer.
int BlockEncode(BlockEncoder& encoder, const uint8_t* block, int flags, uint8_t* record);

// Decodes the record of `length` bytes at `record` into a 32768-byte block;
// returns 1, or 0 when the record is damaged (reported through the file
// layer). The record buffer needs kRecordPadding writable bytes after it.
int BlockDecode(BlockDecoder& decoder, uint8_t* record, int length, uint8_t* block);

// A block coded on the worker thread with the job's own encoder, with the
// record BlockEncode would make of it. The block must stay unchanged until
// BlockEncodeFinish.
struct BlockEncodeJob {
  const uint8_t* block;
  int flags;
  int length;
  char error[256];  // the codec's message when length is 0
  BlockEncoderPtr encoder;  // made on the first start
  PlatTask task;
  uint8_t record[kMaxRecordLength];
};
// Starts coding `block` on the worker thread; false when it is busy, and the
// caller then codes the block itself.
bool BlockEncodeStart(BlockEncodeJob* job, const uint8_t* block, int flags);
// Waits for a started job; returns its record length, or 0 after passing the
// codec's message to the file layer.
int BlockEncodeFinish(BlockEncodeJob* job);
