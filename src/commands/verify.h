// The full verification (-verify): every entry of both finished databases
// of an endgame against the values one legal move away, read through the
// probing library, on all threads; then the endgame's statistics.
#pragma once

#include <string>

#include "board/board.h"
#include "index/names.h"

// Returns the exit status: 1 when an entry disagrees with its successors.
int ExeVerify(const SearchPath& search, int n, char** args);
// The board in the six-field notation (no castling, move numbers 0 1).
std::string BoardFen(const Ccc* board);
