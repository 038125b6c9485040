// Round-trips arbitrary blocks through the encoder under arbitrary flags:
// byte 0 is the flags, byte 1 chooses how a short input is completed to a
// block (repeated, which gives the LZ coder work, or padded with 0xFF as the
// file layer pads a last block), the rest is the block's start.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "jar/block_codec.h"
#include "jar/jas.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static BlockEncoderPtr encoder(BlockEncoderNew());
  static BlockDecoderPtr decoder(BlockDecoderNew());
  static uint8_t record[kMaxRecordLength + kRecordPadding];
  static uint8_t block[kBlockSize];
  static uint8_t back[kBlockSize];
  if (size < 2) return -1;
  int flags = data[0];
  bool repeat = data[1] & 1;
  const uint8_t* bytes = data + 2;
  size_t n = size - 2;
  if (n > static_cast<size_t>(kBlockSize)) n = kBlockSize;
  memcpy(block, bytes, n);
  for (size_t i = n; i < static_cast<size_t>(kBlockSize); ++i) block[i] = repeat && n > 0 ? block[i - n] : 0xFF;
  int length = BlockEncode(*encoder, block, flags, record);
  if (length <= 0 || length > kMaxRecordLength) {
    fprintf(stderr, "encode failed: %d %s\n", length, JasLastError());
    __builtin_trap();
  }
  if (!BlockDecode(*decoder, record, length, back)) {
    fprintf(stderr, "decode failed: %s\n", JasLastError());
    __builtin_trap();
  }
  if (memcmp(block, back, kBlockSize) != 0) {
    fprintf(stderr, "round trip differs (flags %d, method %d)\n", flags, record[0]);
    __builtin_trap();
  }
  return 0;
}
