// FEN to the board's square string (the program reads no FEN), and perft; shared by the
// board tests and the perft benchmark.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

#include "board/board.h"
#include "board/move_generation.h"

inline std::string FenToSquares(const std::string& fen) {
  std::istringstream in(fen);
  std::string placement, side, castling, ep, squares;
  in >> placement >> side >> castling >> ep;
  for (char c : placement)
    if (c != '/') squares += c >= '1' && c <= '8' ? std::string(c - '0', '.') : std::string(1, c);
  if (ep.size() == 2) squares[static_cast<size_t>((7 - (ep[1] - '1')) * 8 + ep[0] - 'a')] = 'e';
  squares += side;  // "w" or "b"
  for (char c : castling)
    if (c != '-') squares += "SLsl"[std::string("KQkq").find(c)];
  return squares;
}

inline Ccc FenBoard(const std::string& fen) {
  Ccc b;
  CccSetString(FenToSquares(fen).c_str(), &b);
  return b;
}

// Leaf count of the legal move tree; the last ply only counts the moves.
inline uint64_t Perft(const Ccc& b, int depth) {
  uint32_t moves[kCccMaxMoves];
  int n = CccGenMoves(&b, moves);
  if (depth <= 1) return depth == 1 ? static_cast<uint64_t>(n) : 1;
  uint64_t total = 0;
  Ccc next;
  for (int i = 0; i < n; ++i) {
    CccDoMove(const_cast<Ccc*>(&b), moves[i], &next);
    total += Perft(next, depth - 1);
  }
  return total;
}
