// The one-line probe (-probe): the value and best move of each position
// given as FEN, on the command line or one per line on standard input.
#pragma once

// Returns the exit status: 1 when a FEN was malformed.
int ExeProbe(int n, char** args);
