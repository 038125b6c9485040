// Material codes, database names, the database search path and the names of
// a build's intermediate files.
#pragma once

#include <cstdint>

inline constexpr uint32_t kWhiteToMove = 0x40000000;
inline constexpr uint32_t kWhiteMask = 0x71c71c7;   // all white counts
inline constexpr uint32_t kBlackMask = 0x38e38e38;  // all black counts
inline constexpr int kMaxSubEndgames = 25;
inline constexpr int kMaxSearchDirs = 10;

inline constexpr uint32_t kUnitWP = 1, kUnitWN = 0x40, kUnitWB = 0x1000, kUnitWR = 0x40000,
                          kUnitWQ = 0x1000000;
inline constexpr uint32_t kUnitZP = 8, kUnitZN = 0x200, kUnitZB = 0x8000, kUnitZR = 0x200000,
                          kUnitZQ = 0x8000000;

inline constexpr uint32_t SwapColours(uint32_t code) {
  return ((code >> 3) & kWhiteMask) | ((code & kWhiteMask) << 3);
}

const char* FresName(uint32_t code);
void FresSetPath(const char* directory);
const char* FresTry(uint32_t code);
const char* FresFind(uint32_t code);
// The base name of the endgame being built: the work directory.
void SetWorkName(const char* bname);
const char* FlocName(const char* tag, int pass);
const char* FpakName(int level, int chop);
int SubEndgames(uint32_t code, uint32_t* list);
