// What a finished database holds: one value byte per position index, and the
// creator stamp that says how the bytes are to be read.
#pragma once

#include <cstdint>

#include "jar/jar_file.h"

// Value byte of a finished database.
inline constexpr int kValueNone = 255;     // no forced mate for White
inline constexpr int kValueLongest = 254;  // longer mates saturate here
inline constexpr int kPlySaturated = 507;  // first ply stored as kValueLongest

// The creator stamp of a finished database: format version and metric.
inline constexpr int32_t kDbFormat = 301;
inline constexpr uint32_t kMetricDtm = JarTag("DTM3");
