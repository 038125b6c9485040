#include "gamefiles/position_files.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "support/console.h"

namespace {

constexpr int kSquares = 64;
constexpr int kSetStringSize = kSquares + 5 + 1;

// `where` is the file and line of the position being read ("path/selector"),
// named in every message about it; nullptr when a line is parsed on its own.
[[noreturn]] __attribute__((format(printf, 2, 3))) void EpdFail(const char* where, const char* format,
                                                                ...) {
  char message[kEpdLineSize + 64];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (where == nullptr) OutError("%s", message);
  OutError("%s in %s", message, where);
}

// The next blank-separated field of the line into `field` (it holds
// kEpdLineSize + 1); false at the end of the line. Tabs are no separators.
bool NextField(const char** line, char* field) {
  const char* p = *line;
  while (*p == ' ') ++p;
  if (*p == 0) {
    *line = p;
    return false;
  }
  int n = 0;
  while (*p != 0 && *p != ' ' && n < kEpdLineSize) field[n++] = *p++;
  field[n] = 0;
  *line = p;
  return true;
}

// Reads one line, cut at its line end and at kEpdLineSize characters; the
// rest of an over-long line is consumed so that every line counts once.
bool ReadLine(FILE* file, char* line) {
  int n = 0;
  int c = fgetc(file);
  if (c == EOF) return false;
  while (c != EOF && c != '\n') {
    if (n < kEpdLineSize) line[n++] = static_cast<char>(c);
    c = fgetc(file);
  }
  line[n] = 0;
  line[strcspn(line, "\r\n")] = 0;
  return true;
}

const char* ReadPosition(const char* line, Ccc* board, const char* where) {
  char field[kEpdLineSize + 1];
  char text[kSetStringSize];
  int squares = 0;
  int placement_rank = 8;
  int rank_squares = 0;

  if (!NextField(&line, field)) EpdFail(where, "EpdSpos: missing pos");
  for (const char* p = field; *p != 0; ++p) {
    int c = static_cast<unsigned char>(*p);
    int run = 1;
    char fill = static_cast<char>(c);
    if (strchr("PpNnBbRrQqKk", c) != nullptr) {
      // a piece letter stands for itself
    } else if (c >= '1' && c <= '8') {
      run = c - '0';
      fill = '.';
    } else if (c == '/') {
      // A short rank would shift every later square onto the wrong one.
      if (rank_squares < 8) EpdFail(where, "EpdSpos: rank %d too short", placement_rank);
      --placement_rank;
      rank_squares = 0;
      continue;
    } else {
      EpdFail(where, "EpdSpos: bad character 0x%02X", c);
    }
    if (squares + run > kSquares) EpdFail(where, "EpdSpos: to many squares");
    rank_squares += run;
    if (rank_squares > 8) EpdFail(where, "EpdSpos: rank %d too long", placement_rank);
    for (int i = 0; i < run; ++i) text[squares++] = fill;
  }
  if (squares < kSquares) EpdFail(where, "EpdSpos: to few squares");

  if (!NextField(&line, field)) EpdFail(where, "EpdSpos: missing stm");
  // Only w/W and b are meaningful here: any other letter copied through
  // could read as a castling flag.
  if (strchr("wWbB", field[0]) == nullptr) EpdFail(where, "EpdSpos: bad stm [%s]", field);
  text[64] = field[0] == 'w' || field[0] == 'W' ? 'w' : 'b';

  if (!NextField(&line, field)) EpdFail(where, "EpdSpos: missing castle");
  memcpy(text + 65, "....", 4);
  if (strcmp(field, "-") != 0) {
    for (const char* p = field; *p != 0; ++p) {
      switch (*p) {
        case 'Q': text[65] = 'L'; break;
        case 'K': text[66] = 'S'; break;
        case 'q': text[67] = 'l'; break;
        case 'k': text[68] = 's'; break;
        default: EpdFail(where, "EpdSpos: bad castle");
      }
    }
  }

  if (!NextField(&line, field)) EpdFail(where, "EpdSpos: missing ep");
  if (strcmp(field, "-") != 0) {
    if (strlen(field) != 2 || field[0] < 'a' || field[0] > 'h' || (field[1] != '6' && field[1] != '3')) {
      EpdFail(where, "EpdSpos: bad ep");
    }
    int rank = field[1] - '1';
    int at = (7 - rank) * 8 + (field[0] - 'a');
    // An occupied target square cannot be one; marking it would erase a piece.
    if (text[at] != '.') EpdFail(where, "EpdSpos: bad ep");
    text[at] = 'e';
  }
  text[kSetStringSize - 1] = 0;
  const std::string fault = PositionFault(text);
  if (!fault.empty()) {
    if (where == nullptr) OutError("EpdSpos: %s", fault.c_str());
    OutError("CccEpdRead: %s: %s", where, fault.c_str());
  }
  CccSetString(text, board);
  return line;
}

void ReadExtra(const char* rest, CccGame* game, const char* where) {
  char field[kEpdLineSize + 1];
  while (NextField(&rest, field)) {
    if (strcmp(field, "bm") == 0) {
      if (!NextField(&rest, field)) EpdFail(where, "EpdExtra: missing bm");
      GameText(game->remark, "bm %s", field);
    } else if (strcmp(field, "id") == 0) {
      if (!NextField(&rest, field)) EpdFail(where, "EpdExtra: missing id");
      size_t len = strlen(game->name);
      snprintf(game->name + len, sizeof game->name - len, " (%s)", field);
    } else {
      EpdFail(where, "EpdExtra: bad command [%s]", field);
    }
  }
}

}  // namespace

const char* EpdSpos(const char* line, Ccc* board) { return ReadPosition(line, board, nullptr); }

void EpdExtra(const char* rest, CccGame* game) { ReadExtra(rest, game, nullptr); }

void CccEpdRead(const char* name, CccGame* game, const char* fixed_dir) {
  char file_name[kGamePathSize];
  char selector[kGamePathSize];
  char path[kGamePathSize];
  FILE* file = GameFileOpen(name, ".EPD", fixed_dir, file_name, selector, path);
  if (file == nullptr) OutError("CccEpdRead: '%s' open failed", file_name);

  long wanted = strtol(selector, nullptr, 10);
  char line[kEpdLineSize + 1];
  long number = 0;
  for (;;) {
    if (!ReadLine(file, line)) OutError("CccEpdRead: line [%s] not found", selector);
    if (++number == wanted) break;
  }
  PlatFclose(file);

  memset(game, 0, sizeof *game);
  GameText(game->name, "%s / %s", path, selector);
  char where[2 * kGamePathSize];
  snprintf(where, sizeof where, "%s/%s", path, selector);
  const char* rest = ReadPosition(line, &game->position, where);
  ReadExtra(rest, game, where);
}
