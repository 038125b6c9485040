// Text display of boards and fixed-width long algebraic move notation.
#pragma once

#include <cstdint>
#include <string>

#include "board/board.h"

// The caller's formatted-print function (the console writer in the browser).
using CccPrintFn = void (*)(const char* format, ...);

// Two-letter name: ".." for 0, "xy" off the board.
std::string SqrName(int s);
// Eight characters, for a move on the board before it.
std::string CccMoveText(uint32_t move, const Ccc* board);
void CccPrint(const Ccc* board, CccPrintFn print);
// Three-character cell text.
std::string ColPiece(int cell);
