// The database probe and the interactive browser (-p, -pe): a position's
// value from the finished databases of it and of its colour-mirrored twin,
// the valued move list, and the prompt that steps through a game.
#pragma once

#include <cstdint>

#include "board/board.h"
#include "index/names.h"

// Combined values besides the exact ones (-1000..1000, White's view).
inline constexpr int32_t kValueUnknown = -1;
inline constexpr int32_t kValueAtLeastDraw = 100;
inline constexpr int32_t kValueNoWin = -100;

// Mode 0 reads a game file (.JGN), mode 1 a position file (.EPD).
void ExeDemo(const SearchPath& search, int n, char** args, int mode);
// -1 when not known, else the value byte (kValueNone: White does not win).
int FindByte(const SearchPath& search, const Ccc* board);
void ValueRange(const SearchPath& search, const Ccc* board, int negate, int32_t* lo, int32_t* hi);
void MirrorBoard(const Ccc* board, Ccc* mirror);
int32_t FindValue(const SearchPath& search, const Ccc* board, int print);
// Prints the position, its ranges and the valued move list (0-ended), which
// it sorts best first for the side to move; `values`, when given, receives
// the values in the sorted order.
void ShowPosition(const SearchPath& search, const Ccc* board, uint32_t* moves,
                  int32_t* values = nullptr);
