// Dependency tree of an endgame (-d) and enumeration of endgames (-e).
#pragma once

#include <cstdint>

void ExeDeps(int n, char** args);
void TraverseDeps(uint32_t code, int depth, int max_depth);
void ExeEnum(int n, char** args);
