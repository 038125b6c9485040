// What the probing library's tests share: a handle on directories and an
// answer as one line of text.
#pragma once

#include <memory>
#include <string>

#include "zok/probe.h"

struct TbCloser {
  void operator()(zok_tb* tb) const { zok_close(tb); }
};
using Tb = std::unique_ptr<zok_tb, TbCloser>;

inline Tb OpenTb(const std::string& dir, size_t cache_bytes = 1 << 20) {
  const char* dirs[1] = {dir.c_str()};
  char err[256];
  return Tb(zok_open(dirs, 1, cache_bytes, err, sizeof err));
}

// "mate 10 a1a2", "mated 0", "draw a1a2", "unknown 1 KQK____W": the value
// and best move of a FEN, or "error N".
inline std::string Answer(zok_tb* tb, const std::string& fen) {
  zok_value v;
  char move[8] = "?";
  int r = zok_best_move_fen(tb, fen.c_str(), move, &v);
  if (r != ZOK_OK && r != ZOK_NO_MOVE) return "error " + std::to_string(r);
  std::string s;
  switch (v.outcome) {
    case ZOK_WIN: s = "mate " + std::to_string(v.moves); break;
    case ZOK_LOSS: s = "mated " + std::to_string(v.moves); break;
    case ZOK_DRAW: s = "draw"; break;
    default: s = "unknown " + std::to_string(v.reason) + (v.missing[0] ? " " : "") + v.missing;
  }
  if (v.outcome == ZOK_WIN && v.plies != 2 * v.moves - 1) s += " bad plies";
  if (v.outcome == ZOK_LOSS && v.plies != 2 * v.moves) s += " bad plies";
  return move[0] != 0 ? s + " " + move : s;
}
