// Every entry's value must follow from the values one legal move away, found with the
// full move generator and the probe key (the build uses neither).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "board/board.h"
#include "board/move_generation.h"
#include "builder/build.h"
#include "builder/cache.h"
#include "index/basis.h"
#include "index/names.h"
#include "index/position_index.h"
#include "index/probe_key.h"

struct VerifyResult {
  double checked = 0, wrong = 0;
  std::string first_wrong;  // a description of the first disagreement
};

// The value byte the rules give a position from its successors' values, read
// through `cache`; a position where White has only the king is never won.
inline int ValueFromSuccessors(Build& cache, Ccc* board) {
  uint32_t moves[kCccMaxMoves];
  int n = CccGenMoves(board, moves), value = board->wtm ? 255 : 0;
  if (n == 0 && !board->wtm) return CccInCheck(board) ? 0 : 255;
  for (int i = 0; i < n; i++) {
    Ccc next;
    Pap key;
    CccDoMove(board, moves[i], &next);
    if (next.wsqr[1] != 0) PapMake(&next, &key);
    int v = next.wsqr[1] == 0 ? 255 : CacheProbe(cache, key.material, key.index);
    if (board->wtm && v != 255) value = std::min(value, v + 1);
    if (!board->wtm && v == 255) return 255;
    if (!board->wtm) value = std::max(value, v);
  }
  return value;
}

// Checks every canonical legal entry of one side's database of `bname`, in
// every `row_step`-th row, reading the databases in the search path.
inline VerifyResult VerifyDatabase(const char* bname, bool white, int row_step = 1) {
  std::unique_ptr<Build> cache = std::make_unique<Build>();
  Basi b;
  MakeBasi(bname, &b);
  VerifyResult result;
  uint32_t code = white ? b.material | kWhiteToMove : b.material;
  int32_t columns = white ? b.zsize : b.wsize;
  for (int32_t r = 0; r < (white ? b.numw : b.numz); r += row_step) {
    int32_t fixed = white ? UnreduceW(r, &b) : UnreduceZ(r, &b);
    for (int32_t c = 0; c < columns; c++) {
      Ccc board;
      Pap key;
      int32_t hashw = white ? fixed : c, hashz = white ? c : fixed;
      if (!HashToCccp(hashw, hashz, &b, white ? 1 : 0, &board)) continue;
      PapMake(&board, &key);
      double entry = static_cast<double>(r) * columns + c;
      if (key.index != entry) continue;  // the other twin of a symmetric position
      int stored = CacheProbe(*cache, code, entry), expected = ValueFromSuccessors(*cache, &board);
      result.checked += 1;
      if (stored == expected || result.wrong++ > 0) continue;
      result.first_wrong = "entry " + std::to_string(static_cast<int64_t>(entry)) + " stored " +
                           std::to_string(stored) + " expected " + std::to_string(expected);
    }
  }
  CacheCloseAll(*cache);
  return result;
}
