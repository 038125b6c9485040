// Game notation files (.JGN): games of tags, comments and long algebraic
// moves, read into a game record for the browser.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "board/board.h"
#include "platform/platform.h"

inline constexpr int kGameMoves = 800;
inline constexpr int kGameText = 100;
// An item holds at most 79 characters; the buffer adds the terminating zero.
inline constexpr int kJgnItemSize = 80;
// Longest file path the readers form (fixed directory + name + extension).
inline constexpr int kGamePathSize = 512;

// Item codes of JgnItemRead.
inline constexpr int kJgnEnd = -1;
inline constexpr int kJgnComment = 0;
inline constexpr int kJgnTag = 1;
inline constexpr int kJgnWord = 2;

struct CccGame {
  Ccc position;  // start position
  uint32_t moves[kGameMoves];
  int32_t current;  // moves played to reach the shown position
  int32_t count;
  char name[kGameText];  // "%s / %s": file path, game label
  char annotator[kGameText];
  char remark[kGameText];
};

// Name is a file name, optionally followed by "/" and a game number or name;
// `fixed_dir` (ending in "/") is the position directory, tests give their own.
void CccJgnRead(const char* name, CccGame* game, const char* fixed_dir = kPositionDir);
// kJgnEnd, kJgnComment, kJgnTag or kJgnWord; buffer holds kJgnItemSize.
int JgnItemRead(FILE* file, char* buffer);
// The next character that is not NUL and is in `allowed`; `where` (file and
// game) is named when the file ends first.
int JgnChar(FILE* file, const char* allowed, const char* where = nullptr);
// The move text of a word ("e2e4", "e7e8=q", "e1g1", ...) into `text` (at
// least 9 bytes); false when the word is no move.
bool JgnMoveText(const char* word, int wtm, char* text);
// The legal move the word stands for, or 0 when the word is no move.
uint32_t JgnLegalMove(const char* word, const Ccc* position);
void CccStartPos(Ccc* board);

// What makes the square string (CccSetString's text) no legal position, as
// "black has no king", or "" when it is one: one king a side, no pawn
// on the first or last rank, at most 16 men and 8 pawns a side and no more
// promoted pieces than missing pawns, the side not to move not in check.
// Checked before the board is set, which holds only 16 men a side.
std::string PositionFault(const char* text);

// Formats into one of the record's text fields, cut to its size.
void GameText(char* field, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Shared with the position file reader. Splits "file/selector" (selector
// "1" when absent) and opens the first of: file, file + ext, fixed_dir +
// file, fixed_dir + file + ext. Returns the stream (path that opened in
// `path`) or nullptr; `file` receives the file part.
FILE* GameFileOpen(const char* name, const char* ext, const char* fixed_dir, char* file, char* selector,
                   char* path);
