// The listing of positions of a given distance to mate (-ll) as game records
// in the .LOG log.
#pragma once

void ExeList(int n, char** args);
