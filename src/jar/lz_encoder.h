// The LZ stream encoder: turns segments of the work buffer into the literal
// and match symbols RepDecode reads, through the range encoder.
#pragma once

#include <cstdint>

#include "jar/block_decoder.h"
#include "jar/range_coder.h"

// Record limit: an encoder gives up once the record reaches this many bytes
// (method byte included) and the block is stored instead.
inline constexpr int kRecordLimit = 32768;

// The work buffer the block encoder fills with the segments to code, one per
// thread (kWorkSize bytes). Padding after it lets the match finder compare
// whole words near a segment's end.
inline constexpr int kLzPadding = 16;
uint8_t* LzWorkBuffer();

struct LzSegment {
  int start;
  int end;  // exclusive
};

// Cost-based parsing (chain limit 120) instead of greedy (12), for this
// thread's next LzEncode.
void LzSetCostBased(bool on);

// Builds the cost table T[i] = 1000000 * log2 i on first use.
void LzInit();

// Codes the segments in order, each as one LZ stream with fresh models.
// Returns 1, or 0 when the record reached the record limit.
int LzEncode(ArcodOut& a, const LzSegment* segments, int count);

// Single symbols of one stream with fresh models, for building records by
// hand (tests of damaged records).
void LzStreamStart();
void LzPutLiteral(ArcodOut& a, int b);
void LzPutMatch(ArcodOut& a, int len, int dist);

// Cost of coding `count` out of `total`, in millionths of a bit.
uint32_t XArcodPut(uint32_t count, uint32_t total);
