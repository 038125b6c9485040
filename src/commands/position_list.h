// The listing of positions of a given distance to mate (-ll) as game records
// in the .LOG log.
#pragma once

#include <cstdint>

struct Basi;

void ExeList(int n, char** args);
void ListW(const Basi* basis, int v);
void ListZ(const Basi* basis, int v);
void ListOne(int32_t hashw, int32_t hashz, const Basi* basis, int wtm, int v);
