// Dependency tree of an endgame (-d) and enumeration of endgames (-e).
#pragma once

#include <cstdint>

void ExeDeps(int n, char** args);
void ExeEnum(int n, char** args);
