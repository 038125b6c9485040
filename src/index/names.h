// Material codes, database names and the database search path.
#pragma once

#include <cstdint>

#include "board/types.h"

inline constexpr int kMaxSubEndgames = 25;
inline constexpr int kMaxSearchDirs = 10;

const char* FresName(uint32_t code);
// The name into `name` (9 bytes), for callers on many threads; false when
// the code holds more men than a name does.
bool FresNameTo(uint32_t code, char* name);
void FresSetPath(const char* directory);
const char* FresTry(uint32_t code);
const char* FresFind(uint32_t code);
int SubEndgames(uint32_t code, uint32_t* list);
