// Text display of boards and fixed-width long algebraic move notation.
#pragma once

#include <cstdint>

#include "board/board.h"

// The caller's formatted-print function (the console writer in the browser).
using CccPrintFn = void (*)(const char* format, ...);

// Two-letter name in a static buffer: ".." for 0, "xy" off the board.
const char* SqrName(int s);
// Eight characters in a static buffer, for a move on the board before it.
const char* CccMoveText(uint32_t move, const Ccc* board);
void CccPrint(const Ccc* board, CccPrintFn print);
// Three-character cell text in a static buffer.
const char* ColPiece(int cell);
