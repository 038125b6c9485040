// The LZ stream encoder: turns segments of the work buffer into the literal
// and match symbols RepDecode reads, through the range encoder.
#pragma once

#include <cstdint>

#include "jar/codec_models.h"
#include "jar/jar_format.h"
#include "jar/range_coder.h"

// Padding after the work buffer lets the match finder compare whole words
// near a segment's end.
inline constexpr int kLzPadding = 16;
inline constexpr int kLzHashSize = 1 << 14;
inline constexpr int kLzCostTableSize = 1024;

// The LZ encoder's part of an encoder context. The coding loops take one
// reference to it per call, so that their loads address it from a register.
struct LzState {
  uint8_t buf[kWorkSize + kLzPadding];  // the segments to code
  uint16_t head[kLzHashSize];
  uint16_t prev[kWorkSize];
  LzModels models;
  bool cost_based;  // cost-based parsing (chain limit 120), not greedy (12)
  // cost[i] = 1000000 * log2 i, the cost of coding 1 out of i in millionths
  // of a bit.
  uint32_t cost[kLzCostTableSize];
};

struct LzSegment {
  int start;
  int end;  // exclusive
};

// Fills the cost table; once per context.
void LzInit(LzState& s);

// Codes the segments in order, each as one LZ stream with fresh models.
// Returns 1, or 0 when the record reached the record limit.
int LzEncode(LzState& s, ArcodOut& a, const LzSegment* segments, int count);

// Single symbols of one stream with fresh models, for building records by
// hand (tests of damaged records).
void LzStreamStart(LzState& s);
void LzPutLiteral(LzState& s, ArcodOut& a, int b);
void LzPutMatch(LzState& s, ArcodOut& a, int len, int dist);
