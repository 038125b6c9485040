// The integrity test (-t): reports and fully decodes both finished
// databases of an endgame.
#pragma once

#include <cstdint>

#include "index/names.h"

void ExeTest(const SearchPath& search, int n, char** args);
// The four bytes of a metric tag, low byte first; unprintable ones as \xNN.
void PrintTag(uint32_t tag);
