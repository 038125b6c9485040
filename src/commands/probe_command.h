// The one-line probe (-probe): the value and best move of each position
// given as FEN, on the command line or one per line on standard input,
// with --moves every move's value too; and the mate line (-line) as PGN.
#pragma once

#include "index/names.h"

// Returns the exit status: 1 when a FEN was malformed.
int ExeProbe(const SearchPath& search, int n, char** args);

// Returns the exit status: 1 when the FEN is malformed or no line is known.
int ExeLine(const SearchPath& search, int n, char** args);
