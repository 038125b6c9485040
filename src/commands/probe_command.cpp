#include "commands/probe_command.h"

#include <cstring>
#include <string>

#include "platform/platform.h"
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
    case ZOK_WIN:
      return "mate " + std::to_string(v.moves);
    case ZOK_LOSS:
      return "mated " + std::to_string(v.moves);
    case ZOK_DRAW:
      return "draw";
    default:
      break;
  }
  switch (v.reason) {
    case ZOK_MISSING:
      return std::string("unknown: ") + v.missing + " missing";
    case ZOK_DAMAGED:
      return std::string("unknown: ") + v.missing + " damaged";
    case ZOK_TOO_MANY_MEN:
      return "unknown: too many men";
    case ZOK_CASTLING:
      return "unknown: castling rights";
    default:
      return "unknown";
  }
}

// Prints "FEN: value move" (no move when there is none or the value is not
// known), or "FEN: value, no move: KQKR___B missing" when the value is known
// but the database of a successor is not; false when the text is no FEN of
// a legal position.
bool ProbeOne(zok_tb* tb, const char* fen) {
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
  OutCons("%s: %s\n", fen, text.c_str());
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

int ExeProbe(int n, char** args) {
  if (n < 1) OutError("ExeProbe: too few args");
  const char* dirs[] = {kCurrentDir};
  char err[256];
  zok_tb* tb = zok_open(dirs, 1, kCacheBytes, err, sizeof err);
  if (tb == nullptr) OutError("ExeProbe: %s", err);
  int status = 0;
  for (int i = 0; i < n; i++) {
    if (strcmp(args[i], "-") != 0) {
      if (!ProbeOne(tb, args[i])) {
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
      if (line.find('\0') != std::string::npos || !ProbeOne(tb, line.c_str())) {
        OutCons("ExeProbe: bad FEN on line %d [%s]\n", number, Shown(line).c_str());
        status = 1;
      }
    }
  }
  zok_close(tb);
  return status;
}
