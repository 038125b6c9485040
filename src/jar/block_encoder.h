// The block encoder: chooses a method for a block by the coding flags and
// builds the transformed data the LZ stream encoder codes.
#pragma once

#include <cstdint>

#include "jar/block_codec.h"

// Coding flags: the highest method bit set decides, none gives method 4.
inline constexpr int kFlagRle = 0x01;        // method 3
inline constexpr int kFlagLz = 0x02;         // method 2
inline constexpr int kFlagRowsColumns = 0x04;  // method 5
inline constexpr int kFlagRowsRows = 0x08;   // method 6
inline constexpr int kFlagFlipColumns = 0x10;  // method 7
inline constexpr int kFlagFlipRows = 0x20;   // method 8
inline constexpr int kFlagCostBased = 0x40;
inline constexpr int kFlagTrial = 0x80;      // methods 4 to 8, keep the smallest

// Encodes the block by `method` (1..8) into the encoder's record buffer
// (falling back to method 2 or 1 where the method does not pay); returns the
// record length. Takes the codec error exit on a bad method; call it under a
// handler (BlockEncode is one), after LzInit and BlockEncodeReset.
int SubEncode(const uint8_t* block, int method);
// Forgets the row orders of the previous block.
void BlockEncodeReset();

// Run-length code of `size` bytes; stops once the output reaches `limit`
// bytes (the caller then drops it). Returns the output length.
int RleEncode(const uint8_t* in, int size, uint8_t* out, int limit);

// What the trial of flag 0x80 measured for the last block: the greedy record
// length of each method 4..8 and the method picked (per thread).
struct TrialResult {
  int length[9];
  int picked;
};
const TrialResult& LastTrial();
