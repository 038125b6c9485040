#include "commands/probe_command.h"

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/console.h"
#include "zok/probe.h"

namespace {

// Decoded blocks kept between the positions of one run.
constexpr size_t kCacheBytes = 64 << 20;
constexpr int kLineSize = 256;

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
// known); false when the text is no FEN of a legal position.
bool ProbeOne(zok_tb* tb, const char* fen) {
  char move[8] = "";
  zok_value value;
  int rc = zok_best_move_fen(tb, fen, move, &value);
  if (rc == ZOK_BAD_FEN) return false;
  if (rc == ZOK_NO_MOVE) {
    move[0] = 0;
    if (zok_probe_fen(tb, fen, &value) != ZOK_OK) return false;
  }
  OutCons("%s: %s%s%s\n", fen, ValueText(value).c_str(), move[0] != 0 ? " " : "", move);
  return true;
}

// The text without the blanks (and carriage return) that end it.
void TrimEnd(char* text) {
  size_t n = strlen(text);
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t' || text[n - 1] == '\r')) text[--n] = 0;
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
    char line[kLineSize];
    for (int number = 1; PlatReadLine(line, sizeof line); number++) {
      TrimEnd(line);
      if (line[0] == 0) continue;  // blank lines separate nothing
      if (!ProbeOne(tb, line)) {
        OutCons("ExeProbe: bad FEN on line %d [%s]\n", number, line);
        status = 1;
      }
    }
  }
  zok_close(tb);
  return status;
}
