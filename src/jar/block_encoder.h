// The block encoder: chooses a method for a block by the coding flags and
// builds the transformed data the LZ stream encoder codes.
#pragma once

#include <cstdint>

#include "jar/block_codec.h"
#include "jar/lz_encoder.h"

// What the trial of flag 0x80 measured for the last block: the greedy record
// length of each method 4..8 and the method picked.
struct TrialResult {
  int length[9];
  int picked;
};

// Row order of the work block of methods 5/6 (0) and of 7/8 (1), computed at
// most once per block.
struct RowOrder {
  bool valid;
  int count;
  uint16_t rows[kRows];
};

// The greedy coder's state after the row list and the values of methods 5
// and 6 (0) or 7 and 8 (1), which the two methods of a pair share: a trial
// codes them once and resumes from here for the second method's bitmap.
struct SharedValues {
  bool valid;
  bool failed;  // the record limit was reached within them
  int value_count;
  int out;  // record bytes written
  uint32_t low;
  uint32_t range;
};

struct BlockEncoder {
  LzState lz;
  // The record (record limit plus room for the last symbol).
  uint8_t record[kBlockSize + 256];
  uint8_t flip[kBlockSize];
  uint8_t bitmap[kBlockSize / 4];
  bool flip_valid;  // `flip` holds the current block's transpose
  RowOrder row_order[2];
  SharedValues shared[2];
  TrialResult trial;
  // During the greedy trials of flag 0x80 only lengths count; the method-2
  // record, a common fallback, is then coded once per block.
  bool trial_mode;
  int trial_lz_length;
};

// Encodes the block by `method` (1..8) into the encoder's record buffer
// (falling back to method 2 or 1 where the method does not pay); returns the
// record length. Takes the codec error exit on a bad method; call it under a
// handler (BlockEncode is one), after BlockEncodeReset.
int SubEncode(BlockEncoder& e, const uint8_t* block, int method);
// Forgets what was derived from the previous block (row orders, transpose,
// shared values).
void BlockEncodeReset(BlockEncoder& e);

// Run-length code of `size` bytes; stops once the output reaches `limit`
// bytes (the caller then drops it). Returns the output length.
int RleEncode(const uint8_t* in, int size, uint8_t* out, int limit);
