// The listing of positions of a given distance to mate (-ll) as game records
// in the .LOG log.
#pragma once

#include "index/names.h"

void ExeList(const SearchPath& search, int n, char** args);
