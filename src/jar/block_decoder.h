// The block decoder: a record (method byte and payload) back to 32768 bytes.
#pragma once

#include <cstdint>

#include "jar/block_codec.h"
#include "jar/codec_models.h"

// The decoder's work buffers and models.
struct BlockDecoder {
  uint8_t work[kWorkSize];
  uint8_t bitmap[kBlockSize / 4];
  uint8_t flip[kBlockSize];
  LzModels models;
};

// Decodes the record of `length` bytes at `record` into `block`. The record
// buffer needs three writable bytes after `length`. A damaged record takes the
// codec error exit (CodecError), so call it only under a handler; BlockDecode
// is that handler.
void SubDecode(BlockDecoder& d, uint8_t* record, int length, uint8_t* block);

// Run-length expansion of n bytes into at most `capacity` bytes; returns the
// bytes expanded (bytes after them, within `capacity`, may change too). An
// expansion that would pass `capacity`, or a run code cut off by the end of
// the input, is "ExpandRle: size BUG".
int ExpandRle(const uint8_t* in, int n, uint8_t* out, int capacity);

// Transposes each 4096-byte part of a block as a 64 x 64 matrix; returns the
// number of bytes written (32768). It is its own inverse.
int Flip6464(const uint8_t* in, uint8_t* out);
