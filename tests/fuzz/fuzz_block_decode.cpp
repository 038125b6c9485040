// Arbitrary records: the decoder decodes or refuses them through the codec's error
// exit, never reading or writing outside its buffers (the sanitizers watch).
#include <cstdint>
#include <cstring>

#include "jar/block_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static BlockDecoderPtr decoder(BlockDecoderNew());
  static uint8_t record[kMaxRecordLength + kRecordPadding], block[kBlockSize];
  static char error[256];
  if (size > static_cast<size_t>(kMaxRecordLength)) return -1;
  memcpy(record, data, size);
  BlockDecode(*decoder, record, static_cast<int>(size), block, error);
  return 0;
}
