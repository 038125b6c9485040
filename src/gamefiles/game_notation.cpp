#include "gamefiles/game_notation.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "board/board_display.h"
#include "board/move_generation.h"
#include "platform/platform.h"
#include "support/console.h"

namespace {

constexpr const char* kSquareChars = "PpNnBbRrQqKkEe%.-";
constexpr const char* kFlagChars = "WwBbLSls.-";
constexpr int kPosjSquares = 64;
constexpr int kPosjFlags = 5;

// Opens a candidate path when it fits the buffer and is a readable file (a
// directory opens on this platform but is no game file).
FILE* TryOpen(const char* prefix, const char* file, const char* ext, char* path) {
  int n = snprintf(path, kGamePathSize, "%s%s%s", prefix, file, ext);
  if (n < 0 || n >= kGamePathSize) return nullptr;
  if (PlatIsDirectory(path)) return nullptr;
  return PlatFopen(path, "r");
}

FILE* OpenPlaces(const char* file, const char* ext, const char* fixed_dir, char* path) {
  FILE* f = TryOpen("", file, "", path);
  if (f == nullptr) f = TryOpen("", file, ext, path);
  if (f == nullptr) f = TryOpen(fixed_dir, file, "", path);
  if (f == nullptr) f = TryOpen(fixed_dir, file, ext, path);
  return f;
}

void CopyCut(char* to, const char* from, size_t from_len) {
  size_t n = from_len < static_cast<size_t>(kGamePathSize - 1) ? from_len
                                                               : static_cast<size_t>(kGamePathSize - 1);
  memcpy(to, from, n);
  to[n] = 0;
}

// Splits a tag's text into words at blanks, control characters and bytes
// 0x80..0xFF; returns the number of words (at most kJgnItemSize / 2).
int TagWords(char* text, char** words) {
  int n = 0;
  char* p = text;
  for (;;) {
    while (*p != 0 && (static_cast<unsigned char>(*p) <= 32 || static_cast<unsigned char>(*p) >= 0x80)) {
      *p++ = 0;
    }
    if (*p == 0) return n;
    words[n++] = p;
    while (*p != 0 && static_cast<unsigned char>(*p) > 32 && static_cast<unsigned char>(*p) < 0x80) {
      ++p;
    }
  }
}

void JoinWords(char* to, char** words, int first, int n) {
  to[0] = 0;
  size_t len = 0;
  for (int i = first; i < n; ++i) {
    int k = snprintf(to + len, kGameText - len, "%s%s", i > first ? " " : "", words[i]);
    if (k < 0) return;
    len += static_cast<size_t>(k);
    if (len >= static_cast<size_t>(kGameText - 1)) return;
  }
}

void ReadPosj(FILE* file, Ccc* board, const char* where) {
  char text[kPosjSquares + kPosjFlags + 1];
  for (int i = 0; i < kPosjSquares; ++i) {
    text[i] = static_cast<char>(JgnChar(file, kSquareChars, where));
  }
  for (int i = 0; i < kPosjFlags; ++i) {
    text[kPosjSquares + i] = static_cast<char>(JgnChar(file, kFlagChars, where));
  }
  text[kPosjSquares + kPosjFlags] = 0;
  const std::string fault = PositionFault(text);
  if (!fault.empty()) OutError("CccJgnRead: %s: %s", where, fault.c_str());
  CccSetString(text, board);
}

const char* SideName(int white) { return white ? "white" : "black"; }

bool IsFile(int c) { return c >= 'a' && c <= 'h'; }
bool IsRank(int c) { return c >= '1' && c <= '8'; }

}  // namespace

void GameText(char* field, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(field, kGameText, format, args);
  va_end(args);
}

FILE* GameFileOpen(const char* name, const char* ext, const char* fixed_dir, char* file, char* selector,
                   char* path) {
  // Paths use "/" themselves, so the selector is recognised from the right:
  // a name that opens as it stands has none, otherwise the text after the
  // last "/" is the selector.
  CopyCut(file, name, strlen(name));
  strcpy(selector, "1");
  FILE* f = OpenPlaces(file, ext, fixed_dir, path);
  if (f != nullptr) return f;
  const char* slash = strrchr(name, '/');
  if (slash == nullptr) return nullptr;
  CopyCut(file, name, static_cast<size_t>(slash - name));
  CopyCut(selector, slash + 1, strlen(slash + 1));
  return OpenPlaces(file, ext, fixed_dir, path);
}

void CccStartPos(Ccc* board) { CccSetString(kInitialPosition, board); }

std::string PositionFault(const char* text) {
  char fault[96];
  // Per side (0 black, 1 white): kings, pawns, men, and pieces beyond the
  // original set (one queen, two each of rooks, bishops and knights).
  constexpr const char* kLetters = "PNBRQKpnbrqk";
  // Pieces of the original set by type: pawns (not counted), N, B, R, Q.
  constexpr int kOriginal[5] = {0, 2, 2, 2, 1};
  int men[2] = {0, 0};
  int count[2][6] = {};
  for (int i = 0; i < kPosjSquares && text[i] != 0; ++i) {
    const char* at = strchr(kLetters, text[i]);
    if (at == nullptr) continue;
    int kind = static_cast<int>(at - kLetters);
    int white = kind < 6 ? 1 : 0;
    int type = kind % 6;
    int rank = 7 - i / 8;
    if (type == 0 && (rank == 0 || rank == 7)) {
      snprintf(fault, sizeof fault, "%s pawn on %c%d", SideName(white), 'a' + i % 8, rank + 1);
      return fault;
    }
    ++count[white][type];
    ++men[white];
  }
  for (int white = 1; white >= 0; --white) {
    int kings = count[white][5];
    int pawns = count[white][0];
    int promoted = 0;
    for (int type = 1; type < 5; ++type) {
      if (count[white][type] > kOriginal[type]) promoted += count[white][type] - kOriginal[type];
    }
    const char* side = SideName(white);
    if (kings == 0) {
      snprintf(fault, sizeof fault, "%s has no king", side);
    } else if (kings > 1) {
      snprintf(fault, sizeof fault, "%s has %d kings", side, kings);
    } else if (men[white] > 16) {
      snprintf(fault, sizeof fault, "%s has %d men", side, men[white]);
    } else if (pawns > 8) {
      snprintf(fault, sizeof fault, "%s has %d pawns", side, pawns);
    } else if (promoted > 8 - pawns) {
      snprintf(fault, sizeof fault, "%s has %d promoted piece%s for %d missing pawn%s", side, promoted,
               promoted > 1 ? "s" : "", 8 - pawns, pawns != 7 ? "s" : "");
    } else {
      continue;
    }
    return fault;
  }
  Ccc board;
  CccSetString(text, &board);
  board.wtm ^= 1;
  if (CccInCheck(&board) != 0) {
    snprintf(fault, sizeof fault, "%s is in check with %s to move", SideName(board.wtm),
             SideName(!board.wtm));
    return fault;
  }
  return "";
}

int JgnChar(FILE* file, const char* allowed, const char* where) {
  for (;;) {
    int c = fgetc(file);
    if (c == EOF && where != nullptr) OutError("JgnChar: unexpected EOF in %s", where);
    if (c == EOF) OutError("JgnChar: unexpected EOF");
    if (c != 0 && strchr(allowed, c) != nullptr) return c;
  }
}

int JgnItemRead(FILE* file, char* buffer) {
  int c;
  do {
    c = fgetc(file);
    if (c == EOF) return kJgnEnd;
  } while (c < 33);
  if (c == '(') {
    int depth = 1;
    while (depth > 0) {
      c = fgetc(file);
      if (c == EOF) OutError("JgnItemRead: (...) open");
      if (c == '(') ++depth;
      if (c == ')') --depth;
    }
    return kJgnComment;
  }
  int n = 0;
  if (c == '[') {
    for (;;) {
      c = fgetc(file);
      if (c == EOF) OutError("JgnItemRead: [...] open");
      if (c == ']') break;
      if (n == kJgnItemSize - 1) OutError("JgnItemRead: [...] too long");
      buffer[n++] = static_cast<char>(c);
    }
    buffer[n] = 0;
    return kJgnTag;
  }
  for (;;) {
    if (n == kJgnItemSize - 1) OutError("JgnItemRead: word too long");
    buffer[n++] = static_cast<char>(c);
    c = fgetc(file);
    if (c == EOF || c < 33) break;
  }
  buffer[n] = 0;
  return kJgnWord;
}

bool JgnMoveText(const char* word, int wtm, char* text) {
  if (word[0] == '$') {
    snprintf(text, 9, "%.8s", word + 1);
    return true;
  }
  if (strncmp(word, "0-0-0", 5) == 0) {
    strcpy(text, wtm ? "e1c1" : "e8c8");
    return true;
  }
  if (strncmp(word, "0-0", 3) == 0) {
    strcpy(text, wtm ? "e1g1" : "e8g8");
    return true;
  }
  const char* p = word;
  if (*p != 0 && strchr("PNBRQKX", *p) != nullptr) ++p;
  if (!IsFile(p[0]) || !IsRank(p[1])) return false;
  const char* from = p;
  p += 2;
  // The separator may be left out (e7e8, e7e8N).
  if (*p == '-' || *p == 'x' || *p == '%') ++p;
  if (!IsFile(p[0]) || !IsRank(p[1])) return false;
  snprintf(text, 9, "%c%c%c%c", from[0], from[1], p[0], p[1]);
  p += 2;
  // Small letters too: read as no promotion, e7-e8n would silently queen.
  const char* promo = *p != 0 ? strchr("QRBNqrbn", *p) : nullptr;
  if (promo != nullptr) {
    text[4] = '=';
    text[5] = static_cast<char>(*p | 0x20);
    text[6] = 0;
  }
  return true;
}

uint32_t JgnLegalMove(const char* word, const Ccc* position) {
  char text[9];
  if (!JgnMoveText(word, position->wtm, text)) return 0;
  uint32_t moves[kCccMaxMoves];
  CccGenMoves(position, moves);
  for (const uint32_t* m = moves; *m != 0; ++m) {
    // "e7e8=q", then "e7e8q"; the bare squares end at index 4.
    char form[7];
    memcpy(form, SqrName(MoveFrom(*m)).data(), 2);
    memcpy(form + 2, SqrName(MoveTo(*m)).data(), 2);
    form[4] = 0;
    int promo = MovePromo(*m);
    if (promo == 0) {
      if (strcmp(text, form) == 0) return *m;
      continue;
    }
    form[4] = '=';
    form[5] = " nbrqkxx"[promo];
    form[6] = 0;
    if (strcmp(text, form) == 0) return *m;
    form[4] = form[5];
    form[5] = 0;
    if (strcmp(text, form) == 0) return *m;
    form[4] = 0;
    if (promo == kPromoQ && strcmp(text, form) == 0) return *m;
  }
  OutError("JgnLegalMove: bad string [%s]", word);
}

void CccJgnRead(const char* name, CccGame* game, const char* fixed_dir) {
  char file_name[kGamePathSize];
  char selector[kGamePathSize];
  char path[kGamePathSize];
  FILE* file = GameFileOpen(name, ".JGN", fixed_dir, file_name, selector, path);
  if (file == nullptr) OutError("CccJgnRead: '%s' open failed", file_name);

  char item[kJgnItemSize];
  char* words[kJgnItemSize];
  char label[kGameText];
  char where[2 * kGamePathSize];
  snprintf(where, sizeof where, "%s/%s", path, selector);
  long wanted = strtol(selector, nullptr, 10);
  int number = 0;
  for (;;) {
    int kind = JgnItemRead(file, item);
    if (kind == kJgnEnd) OutError("CccJgnRead: %s not found", selector);
    if (kind != kJgnTag) continue;
    int n = TagWords(item, words);
    if (n == 0 || strcmp(words[0], "game") != 0) continue;
    ++number;
    GameText(label, "%d (%.20s)", number, n > 1 ? words[1] : "NONAME");
    if (number == wanted || (n > 1 && strcmp(words[1], selector) == 0)) break;
  }

  memset(game, 0, sizeof *game);
  GameText(game->name, "%s / %s", path, label);
  CccStartPos(&game->position);
  Ccc current = game->position;
  bool posj = false;
  for (;;) {
    int kind = JgnItemRead(file, item);
    if (kind == kJgnEnd) break;
    if (kind == kJgnComment) continue;
    if (kind == kJgnTag) {
      int n = TagWords(item, words);
      if (n == 0) continue;
      if (strcmp(words[0], "game") == 0) break;
      if (strcmp(words[0], "annotator") == 0) {
        JoinWords(game->annotator, words, 1, n);
      } else if (strcmp(words[0], "remark") == 0) {
        JoinWords(game->remark, words, 1, n);
      } else if (strcmp(words[0], "posj") == 0) {
        ReadPosj(file, &game->position, where);
        current = game->position;
        posj = true;
        // Moves read so far belong to the old start; replayed from the new
        // one they would be wrong or not even fit the board.
        game->current = 0;
        game->count = 0;
      }
      continue;
    }
    if (kind != kJgnWord) OutError("CccJgnRead: unknown item %d", kind);
    uint32_t move = JgnLegalMove(item, &current);
    if (move == 0) continue;
    // The move list is fixed; a longer game is refused rather than cut.
    if (game->current >= kGameMoves) {
      OutError("CccJgnRead: %s has more than %d moves", label, kGameMoves);
    }
    game->moves[game->current++] = move;
    ++game->count;
    CccDoMove(&current, move);
  }
  game->current = posj ? 0 : game->count;
  PlatFclose(file);
}
