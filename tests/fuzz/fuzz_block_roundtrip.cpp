// Round-trips arbitrary blocks under arbitrary flags: byte 0 is the flags, byte 1 says
// how a short input is completed (repeated, work for the LZ coder, or padded with
// 0xFF as the file layer pads a last block), the rest is the block's start.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "jar/block_codec.h"
#include "jar/jas.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static BlockEncoderPtr encoder(BlockEncoderNew());
  static BlockDecoderPtr decoder(BlockDecoderNew());
  static uint8_t record[kMaxRecordLength + kRecordPadding], block[kBlockSize], back[kBlockSize];
  static char error[256];
  if (size < 2) return -1;
  const size_t n = size - 2 < size_t{kBlockSize} ? size - 2 : size_t{kBlockSize};
  memcpy(block, data + 2, n);
  const bool repeat = (data[1] & 1) && n > 0;
  for (size_t i = n; i < size_t{kBlockSize}; ++i) block[i] = repeat ? block[i - n] : 0xFF;
  int length = BlockEncode(*encoder, block, data[0], record, error);
  if (length <= 0 || length > kMaxRecordLength || !BlockDecode(*decoder, record, length, back, error) ||
      memcmp(block, back, kBlockSize) != 0) {
    fprintf(stderr, "flags %d, length %d: %s\n", data[0], length, error);
    __builtin_trap();
  }
  return 0;
}
