// The program's version, which also stamps every database it writes, and the
// banner line that opens its console output and every build log.
#pragma once

inline constexpr const char* kZokVersion = "ZOK 3.03c 2002-Dec-26";
inline constexpr int kBannerLength = 79;

// Dashes with the version near the right end; kBannerLength characters.
const char* ZokBanner();
