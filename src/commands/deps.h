// Dependency tree of an endgame (-d) and enumeration of endgames (-e).
#pragma once

#include <cstdint>

#include "index/names.h"

void ExeDeps(const SearchPath& search, int n, char** args);
void ExeEnum(int n, char** args);
