// Material codes, database names and the database search path.
#pragma once

#include <cstdint>
#include <string>

#include "board/types.h"

inline constexpr int kMaxSubEndgames = 25;
inline constexpr int kMaxSearchDirs = 10;

std::string FresName(uint32_t code);
// The name into `name` (9 bytes), for callers on many threads; false when
// the code holds more men than a name does.
bool FresNameTo(uint32_t code, char* name);
void FresSetPath(const char* directory);
// The path of the database in the first search directory holding it, or ""
// when none does.
std::string FresTry(uint32_t code);
std::string FresFind(uint32_t code);  // fatal when not found
int SubEndgames(uint32_t code, uint32_t* list);
