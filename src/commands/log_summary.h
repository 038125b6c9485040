// Summary of finished builds (-sum): the closing "Time" line of every .LOF
// log in the given directories, and totals over all of them.
#pragma once

void ExeSum(int n, char** args);
