// The probing library's entry points for C++ callers inside the program
// (the verification walks whole endgames through them): the value byte of
// one entry through the shared block cache, and the value of a board
// record. The C interface in include/zok/probe.h is built on these.
//
// Nothing here ends the process: a missing or damaged file, an illegal
// position or too many men come back as results. Every function may be
// called from many threads at once on one handle.
#pragma once

#include <cstdint>

#include "board/board.h"
#include "index/names.h"
#include "zok/probe.h"

// zok_open on the directories of a search path.
zok_tb* ProbeOpen(const SearchPath& path, size_t cache_bytes, char* err, size_t err_size);

// ProbeByte's results besides a value byte 0..255.
inline constexpr int kProbeMissing = -1;  // no database of that code in the directories
inline constexpr int kProbeDamaged = -2;  // it could not be read, or the entry is past its end

// The value byte of entry `index` of the database with material code
// `material` (side-to-move bit included), or kProbeMissing / kProbeDamaged.
int ProbeByte(zok_tb* tb, uint32_t material, double index);

// The number of entries of that database, or kProbeMissing / kProbeDamaged.
double ProbeEntries(zok_tb* tb, uint32_t material);

// The byte the board's own database holds for it (White's win, or
// kValueNone), as the browser's FindByte reads it: kValueNone without a
// database when White has only its king; kProbeMissing / kProbeDamaged; and
// kProbeMissing too for boards no database holds (too many men, castling).
int ProbeBoardByte(zok_tb* tb, const Ccc* board);

// The value of a legal board from the side to move, as zok_probe gives it:
// White's wins from the board's database, Black's from the colour-swapped
// board's.
void ProbeBoard(zok_tb* tb, const Ccc* board, zok_value* value);

// The best move of a legal board and the board's value, as zok_best_move
// gives them: 0 when the value is unknown or no move is legal, and 0 with
// the value known and its reason and name set when no successor that is
// known backs up to the value.
uint32_t ProbeBestMove(zok_tb* tb, const Ccc* board, zok_value* value);

// The board of the colour-swapped position: ranks reversed, colours and the
// side to move exchanged, castling rights and the en-passant square carried
// over.
void ProbeMirror(const Ccc* board, Ccc* mirror);

// The board record of a piece list; false when it is no legal position
// (kings, pawns on the edge ranks, the side not to move in check, an
// en-passant square no double step can have made). An en-passant square no
// pawn can take on, and castling rights whose king or rook has moved, are
// dropped, as the databases' positions do not carry them.
bool ProbeSetBoard(const zok_position* pos, Ccc* board);

// The value of a successor seen from the side that moved into it.
zok_value ProbeBackUp(const zok_value& successor);

// Every legal move of a legal board with its value, its notations and
// flags, ranked as zok_probe_moves gives them, into `out` (room for
// kCccMaxMoves); returns the count.
int ProbeMoves(zok_tb* tb, const Ccc* board, zok_move* out);

// An order on values from the side to move: larger is better (a faster
// mate, a draw, a slower loss); unknown values are below all others.
int ProbeRank(const zok_value& value);

// A move in coordinate notation ("e7e8q") into `text` (8 bytes).
void ProbeMoveText(uint32_t move, char* text);
