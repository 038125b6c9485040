#include "commands/browser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "board/board_display.h"
#include "board/move_generation.h"
#include "gamefiles/game_notation.h"
#include "gamefiles/position_files.h"
#include "index/db_format.h"
#include "index/names.h"
#include "index/probe_key.h"
#include "jar/jar_file.h"
#include "platform/platform.h"
#include "probe/probe.h"
#include "support/checked_ops.h"
#include "support/console.h"

namespace {

constexpr int32_t kMateScale = 1000;
constexpr int kColumns = 4;
// A prompt line holds 255 characters; a longer one is cut.
constexpr int kPromptLine = 256;

int CountMen(const uint8_t* list) {
  int n = 0;
  while (n < kCccListSize && list[n] != 0) n++;
  return n;
}

const char* const kHelp =
    "\nN         plays move N of the list (0 is the first); so does the move as"
    "\n          listed, such as Ka1-b2 (the + of a check may be left out)"
    "\n+ and -   step forward and back through the game"
    "\nquit      ends the browser, as the end of the input does"
    "\nvalues    seen from White: 1000 - n White mates in n plies, -(1000 - n) Black"
    "\n          mates in n, 0 a draw, +100 White at least draws, -100 White does not"
    "\n          win, -1 not known; == the same value as the move above it";

// The line without blanks around it, in place.
char* Trim(char* line) {
  while (*line == ' ' || *line == '\t') line++;
  size_t n = strlen(line);
  while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t')) line[--n] = 0;
  return line;
}

// The move of the sorted list that the line names, by its number or as it
// is listed (the check mark may be left out); -1 when it names none.
int ChosenMove(const char* line, const uint32_t* moves, int legal, const Ccc* board) {
  size_t n = strlen(line);
  if (n > 0 && n <= 3 && strspn(line, "0123456789") == n) {
    int k = atoi(line);
    return k < legal ? k : -1;
  }
  for (int k = 0; k < legal; k++) {
    char text[16];
    snprintf(text, sizeof text, "%s", CccMoveText(moves[k], board).c_str());
    char* listed = Trim(text);
    if (strcmp(line, listed) == 0) return k;
    size_t m = strlen(listed);
    if (m > 0 && listed[m - 1] == '+' && m - 1 == n && strncmp(line, listed, n) == 0) return k;
  }
  return -1;
}

}  // namespace

int FindByte(const SearchPath& search, const Ccc* board) {
  int white = CountMen(board->wsqr);
  int black = CountMen(board->zsqr);
  if (white > kMaxSideMen || black > kMaxSideMen) return -1;
  if (board->castL || board->castS || board->castl || board->casts) return -1;
  if (white <= 1) return kValueNone;
  // No probe key exists beyond seven men, and so no database either.
  if (white + black > kPapMaxPieces) return -1;
  Pap key;
  PapMake(board, &key);
  const std::string path = search.Path(key.material);
  if (path.empty()) return -1;
  JILE* h = FileRopen(path.c_str());
  const char* creator;
  int32_t format;
  uint32_t metric;
  int32_t content;
  if (JarGetCreator(h, &creator, &format, &metric, &content) != 0) {
    OutError("FindByte: creator failed");
  }
  if (format != kDbFormat) OutError("FindByte: bad format");
  if (content != static_cast<int32_t>(key.material)) OutError("FindByte: bad content");
  FileSeek(h, key.index);
  int b = FileGetc(h);
  FileClose(h);
  return b;
}

void ValueRange(const SearchPath& search, const Ccc* board, int negate, int32_t* lo, int32_t* hi) {
  int b = FindByte(search, board);
  int32_t l, h;
  if (b < 0) {
    l = -kMateScale;
    h = kMateScale;
  } else if (b == kValueNone) {
    l = -kMateScale;
    h = 0;
  } else {
    l = h = board->wtm ? kMateScale + 1 - 2 * b : kMateScale - 2 * b;
  }
  if (negate) {
    *lo = -h;
    *hi = -l;
  } else {
    *lo = l;
    *hi = h;
  }
}

// The colour-swapped board: the probing library's mirror.
void MirrorBoard(const Ccc* board, Ccc* mirror) { ProbeMirror(board, mirror); }

int32_t FindValue(const SearchPath& search, const Ccc* board, int print) {
  int32_t slo, shi, mlo, mhi;
  ValueRange(search, board, 0, &slo, &shi);
  Ccc mirror;
  MirrorBoard(board, &mirror);
  ValueRange(search, &mirror, 1, &mlo, &mhi);
  if (print) {
    OutCons("\nstraight [%+5d , %+5d]", slo, shi);
    OutCons("\nmirrored [%+5d , %+5d]", mlo, mhi);
  }
  int32_t lo = slo > mlo ? slo : mlo;
  int32_t hi = shi < mhi ? shi : mhi;
  if (lo > hi) OutError("FindValue: lo > hi");
  if (lo == hi) return lo;
  if (lo == 0 && hi > 0) return kValueAtLeastDraw;
  if (lo >= 0) return kValueUnknown;
  if (hi == 0) return kValueNoWin;
  return kValueUnknown;
}

void ShowPosition(const SearchPath& search, const Ccc* board, uint32_t* moves, int32_t* values) {
  CccPrint(board, OutCons);
  FindValue(search, board, 1);
  int32_t own[kCccMaxMoves];
  int32_t* value = values != nullptr ? values : own;
  int n = 0;
  for (; n < kCccMaxMoves && moves[n] != 0; n++) {
    Ccc after = *board;
    CccDoMove(&after, moves[n]);
    int32_t v = FindValue(search, &after, 0);
    // Stable insertion: equal values keep their generation order.
    uint32_t m = moves[n];
    int j = n;
    while (j > 0 && (board->wtm ? value[j - 1] < v : value[j - 1] > v)) {
      moves[j] = moves[j - 1];
      value[j] = value[j - 1];
      j--;
    }
    moves[j] = m;
    value[j] = v;
  }
  int rows = (n + kColumns - 1) / kColumns;
  for (int r = 0; r < rows; r++) {
    OutCons(r == 0 ? "\n\n" : "\n");
    for (int i = r; i < n; i += rows) {
      if (i > r) OutCons("     ");
      OutCons("%2d %s", i, CccMoveText(moves[i], board).c_str());
      if (i > 0 && value[i] == value[i - 1]) {
        OutCons("   ==");
      } else {
        OutCons("%+5d", value[i]);
      }
    }
  }
}

void ExeDemo(const SearchPath& search, int n, char** args, int mode) {
  if (n < 1) OutError("ExeDemo: too few args");
  // Large (its move list): on the heap, zeroed.
  const auto owned = std::make_unique<CccGame>();
  CccGame& game = *owned;
  if (mode == 1) {
    CccEpdRead(args[0], &game);
  } else {
    CccJgnRead(args[0], &game);
  }
  OutCons("\nname [%s]", game.name);
  OutCons("\nanno [%s]", game.annotator);
  OutCons("\nrema [%s]", game.remark);
  uint32_t moves[kCccMaxMoves + 1];
  char buffer[kPromptLine];
  for (;;) {
    Ccc board = game.position;
    for (int i = 0; i < game.current; i++) CccDoMove(&board, game.moves[i]);
    int legal = CccGenMoves(&board, moves);
    ShowPosition(search, &board, moves);
    // Asks until the line changes the position; help and refusals leave it
    // on the screen as it is.
    for (bool shown = true; shown;) {
      OutCons("\n\n[quit, +, -, move#]> ");
      // The end of input ends the browser as "quit" does.
      if (!PlatReadLine(buffer, sizeof buffer)) return;
      char* line = Trim(buffer);
      int k = -1;
      if (strcmp(line, "quit") == 0) return;
      if (strcmp(line, "+") == 0) {
        if (game.current < game.count) game.current++;
        shown = false;
      } else if (strcmp(line, "-") == 0) {
        if (game.current >= 1) game.current--;
        shown = false;
      } else if (*line == 0) {
        // Nothing typed: ask again.
      } else if (strcmp(line, "?") == 0 || strcmp(line, "help") == 0) {
        OutCons("%s", kHelp);
      } else if ((k = ChosenMove(line, moves, legal, &board)) < 0 && legal == 0) {
        OutCons("\nnot a move here [%s]: there is no legal move; type +, -, quit, or ? for help", line);
      } else if (k < 0) {
        OutCons(
            "\nnot a move here [%s]: type a move number from 0 to %d, a move as listed, +, -,"
            " quit, or ? for help",
            line, legal - 1);
      } else if (game.current >= kGameMoves) {
        OutCons("\nnot played: the game holds %d moves at most", kGameMoves);
      } else {
        game.moves[game.current] = moves[k];
        game.count = game.current + 1;
        game.current++;
        shown = false;
      }
    }
  }
}
