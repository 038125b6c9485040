// The block codec: one 32768-byte block to one record and back. Its state
// lives in contexts the caller owns, an encoder and a decoder, so that two
// threads can code blocks at once as long as each uses its own context.
#pragma once

#include <cstdint>
#include <memory>

#include "jar/jar_format.h"

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
// codec gave up, its message in `error` (256 bytes). Safe from any thread
// with an encoder of its own.
int BlockEncode(BlockEncoder& encoder, const uint8_t* block, int flags, uint8_t* record, char* error);

// Decodes the record of `length` bytes at `record` into a 32768-byte block;
// returns 1, or 0 when the record is damaged, the codec's message in `error`
// (256 bytes). The record buffer needs kRecordPadding writable bytes after
// it. Safe from any thread with a decoder of its own.
int BlockDecode(BlockDecoder& decoder, uint8_t* record, int length, uint8_t* block, char* error);

// The calling thread's own encoder and decoder, made on first use and kept
// for the thread's life: a process has one of each per thread that codes,
// however many files it has open.
BlockEncoder& BlockThreadEncoder();
BlockDecoder& BlockThreadDecoder();
