#include "commands/probe_command.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/move_generation.h"
#include "platform/platform.h"
#include "probe/probe.h"
#include "probe/tables.h"
#include "support/console.h"
#include "zok/probe.h"

namespace {

// Decoded blocks kept between the positions of one run.
constexpr size_t kCacheBytes = 64 << 20;
// A FEN is under 100 bytes; far longer lines are refused without being kept.
constexpr size_t kMostLine = 1 << 16;

// The value as the output line shows it: "mate 12", "mated 0", "draw",
// "unknown: KRKQ___W missing".
std::string ValueText(const zok_value& v) {
  switch (v.outcome) {
    case ZOK_WIN: return "mate " + std::to_string(v.moves);
    case ZOK_LOSS: return "mated " + std::to_string(v.moves);
    case ZOK_DRAW: return "draw";
    default: break;
  }
  switch (v.reason) {
    case ZOK_MISSING: return std::string("unknown: ") + v.missing + " missing";
    case ZOK_DAMAGED: return std::string("unknown: ") + v.missing + " damaged";
    case ZOK_TOO_MANY_MEN: return "unknown: too many men";
    case ZOK_CASTLING: return "unknown: castling rights";
    default: return "unknown";
  }
}

// Prints "FEN: value move" (no move when there is none or the value is not
// known), or "FEN: value, no move: KQKR___B missing" when the value is known
// but the database of a successor is not; false when the text is no FEN of
// a legal position.
bool ProbeOne(zok_tb* tb, const char* fen, bool every_move) {
  char move[8] = "";
  zok_value value;
  int rc = zok_best_move_fen(tb, fen, move, &value);
  if (rc == ZOK_BAD_FEN) return false;
  if (rc == ZOK_NO_MOVE) {
    move[0] = 0;
    if (zok_probe_fen(tb, fen, &value) != ZOK_OK) return false;
  }
  std::string text = ValueText(value);
  if (move[0] != 0) {
    text = text + " " + move;
  } else if (value.outcome != ZOK_UNKNOWN && value.reason != ZOK_KNOWN) {
    zok_value why = value;
    why.outcome = ZOK_UNKNOWN;
    // "unknown: KQKR___B missing" without its "unknown".
    text = text + ", no move" + ValueText(why).substr(7);
  }
  // What is wrong with a damaged database: the file and the block.
  const std::string damage = value.reason == ZOK_DAMAGED ? ProbeDamage(tb, value.missing) : "";
  if (!damage.empty()) text += ": " + damage;
  OutCons("%s: %s\n", fen, text.c_str());
  if (every_move) {
    zok_move moves[kCccMaxMoves];
    int n = zok_probe_moves_fen(tb, fen, moves, kCccMaxMoves);
    for (int i = 0; i < n; i++) {
      OutCons("  %-5s %-7s %s\n", moves[i].uci, moves[i].san, ValueText(moves[i].value).c_str());
    }
  }
  return true;
}

// The line without the blanks that end it.
void TrimEnd(std::string* line) {
  size_t n = line->size();
  while (n > 0 && ((*line)[n - 1] == ' ' || (*line)[n - 1] == '\t' || (*line)[n - 1] == '\r')) n--;
  line->resize(n);
}

// The line as a bad-FEN report shows it: a NUL byte, which would end the
// text early, as \0.
std::string Shown(const std::string& line) {
  std::string shown;
  for (char c : line) shown += c == 0 ? std::string("\\0") : std::string(1, c);
  return shown;
}

}  // namespace

int ExeProbe(const SearchPath& search, int n, char** args) {
  const bool every_move = n > 0 && strcmp(args[0], "--moves") == 0;
  if (every_move) {
    n--;
    args++;
  }
  if (n < 1) OutError("ExeProbe: too few args");
  char err[256];
  zok_tb* tb = ProbeOpen(search, kCacheBytes, err, sizeof err);
  if (tb == nullptr) OutError("ExeProbe: %s", err);
  int status = 0;
  for (int i = 0; i < n; i++) {
    if (strcmp(args[i], "-") != 0) {
      if (!ProbeOne(tb, args[i], every_move)) {
        OutCons("ExeProbe: bad FEN in argument %d [%s]\n", i + 1, args[i]);
        status = 1;
      }
      continue;
    }
    // Whole lines, whatever their length: a cut line could read as a FEN
    // that the line is not.
    std::string line;
    bool cut;
    for (int number = 1; PlatReadWholeLine(&line, kMostLine, &cut); number++) {
      if (cut) {
        OutCons("ExeProbe: bad FEN on line %d [%s...]: longer than %zu bytes\n", number,
                Shown(line.substr(0, 80)).c_str(), kMostLine);
        status = 1;
        continue;
      }
      TrimEnd(&line);
      if (line.empty()) continue;  // blank lines separate nothing
      // A NUL byte inside the line is junk after the FEN it would end.
      if (line.find('\0') != std::string::npos || !ProbeOne(tb, line.c_str(), every_move)) {
        OutCons("ExeProbe: bad FEN on line %d [%s]\n", number, Shown(line).c_str());
        status = 1;
      }
    }
  }
  zok_close(tb);
  return status;
}

namespace {

// The PGN movetext in lines of at most 79 characters, broken between words.
void PrintWrapped(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& w : words) {
    if (!line.empty() && line.size() + 1 + w.size() > 79) {
      OutCons("%s\n", line.c_str());
      line.clear();
    }
    line += (line.empty() ? "" : " ") + w;
  }
  OutCons("%s\n", line.c_str());
}

// "{mate 3}": a value as a PGN comment.
std::string Comment(const zok_value& v) {
  std::string text = "{";
  text += ValueText(v);
  text += '}';
  return text;
}

// The move number of the FEN's last field, 1 when the counters are left out.
int FullMove(const std::string& fen) {
  size_t at = fen.find_last_of(' ');
  int number = atoi(fen.c_str() + at + 1);
  return std::count(fen.begin(), fen.end(), ' ') >= 5 && number > 0 ? number : 1;
}

}  // namespace

int ExeLine(const SearchPath& search, int n, char** args) {
  if (n < 1) OutError("ExeLine: too few args");
  std::string fen = args[0];
  TrimEnd(&fen);
  char err[256];
  zok_tb* tb = ProbeOpen(search, kCacheBytes, err, sizeof err);
  if (tb == nullptr) OutError("ExeLine: %s", err);
  zok_position pos;
  Ccc board;
  if (zok_parse_fen(fen.c_str(), &pos) != ZOK_OK || !ProbeSetBoard(&pos, &board)) {
    OutCons("ExeLine: bad FEN [%s]\n", fen.c_str());
    zok_close(tb);
    return 1;
  }
  if (std::count(fen.begin(), fen.end(), ' ') < 5) fen += " 0 1";
  zok_value start;
  ProbeBoard(tb, &board, &start);
  // Both sides play the first of the ranked moves, which must keep the
  // value exactly, down to the mate.
  std::vector<std::string> words;
  int number = FullMove(fen);
  zok_value v = start;
  const bool white_first = board.wtm != 0;
  for (int ply = 0; v.outcome == ZOK_WIN || (v.outcome == ZOK_LOSS && v.plies > 0); ply++) {
    // The best move is the first whose value is known (unknowns rank above
    // losses), as zok_best_move gives it.
    zok_move moves[kCccMaxMoves];
    int count = ProbeMoves(tb, &board, moves), first = 0;
    while (first < count && moves[first].value.outcome == ZOK_UNKNOWN) first++;
    const zok_move& best = moves[first < count ? first : 0];
    if (first == count || best.value.outcome != v.outcome || best.value.plies != v.plies) {
      std::string why = count > 0 && moves[0].value.outcome == ZOK_UNKNOWN ? ValueText(moves[0].value)
                                                                           : "databases disagree";
      OutCons("ExeLine: no line from [%s]: %s after %d plies\n", fen.c_str(), why.c_str(), ply);
      zok_close(tb);
      return 1;
    }
    // A move number stays on the line of its move.
    char word[32] = "";
    if (board.wtm || ply == 0) snprintf(word, sizeof word, "%d%s ", number, board.wtm ? "." : "...");
    if (!board.wtm) number++;
    words.push_back(std::string(word) + best.san);
    words.push_back(Comment(best.value));
    uint32_t legal[kCccMaxMoves + 1];
    for (int i = 0, all = CccGenMoves(&board, legal); i < all; i++) {
      char uci[8];
      ProbeMoveText(legal[i], uci);
      if (strcmp(uci, best.uci) == 0) {
        CccDoMove(&board, legal[i]);
        break;
      }
    }
    ProbeBoard(tb, &board, &v);
  }
  zok_close(tb);
  if (start.outcome == ZOK_UNKNOWN) {
    OutCons("ExeLine: no line from [%s]: %s\n", fen.c_str(), ValueText(start).c_str());
    return 1;
  }
  // The side that mates wins; the side to move at the start wins with a mate in N.
  const bool white_wins = (start.outcome == ZOK_WIN) == white_first;
  const char* result = start.outcome == ZOK_DRAW ? "1/2-1/2" : white_wins ? "1-0" : "0-1";
  if (words.empty()) words.push_back(Comment(start));
  words.push_back(result);
  OutCons("[FEN \"%s\"]\n[SetUp \"1\"]\n[Result \"%s\"]\n\n", fen.c_str(), result);
  PrintWrapped(words);
  return 0;
}
