// Position description files (.EPD): one position per line in the
// four-field notation, with optional best-move and identification
// operations, read into a game record for the browser.
#pragma once

#include "board/board.h"
#include "gamefiles/game_notation.h"

// Characters of a line that are used; the rest of a longer line is dropped.
inline constexpr int kEpdLineSize = 255;

// Name is a file name, optionally followed by "/" and a line number.
void CccEpdRead(const char* name, CccGame* game, const char* fixed_dir = kPositionDir);
// Parses fields 1 to 4 of the line and sets the board; returns the rest of
// the line, where the operations follow.
const char* EpdSpos(const char* line, Ccc* board);
// Parses the operations ("bm" and "id") into the remark and the name.
void EpdExtra(const char* rest, CccGame* game);
