// The C interface of include/zok/probe.h.
#include <cstdio>
#include <cstring>
#include <new>

#include "board/move_generation.h"
#include "platform/platform.h"
#include "probe/probe.h"
#include "probe/tables.h"
#include "support/version.h"

namespace {

void SetError(char* err, size_t size, const char* text, const char* name) {
  if (err != nullptr && size > 0) snprintf(err, size, "%s%s", text, name);
}

}  // namespace

extern "C" {

zok_tb* zok_open(const char* const* dirs, int ndirs, size_t cache_bytes, char* err, size_t err_size) {
  SetError(err, err_size, "", "");
  if (ndirs < 0 || (ndirs > 0 && dirs == nullptr)) {
    SetError(err, err_size, "zok_open: bad directory list", "");
    return nullptr;
  }
  auto* tb = new (std::nothrow) zok_tb;
  if (tb == nullptr) {
    SetError(err, err_size, "zok_open: out of memory", "");
    return nullptr;
  }
  for (int i = 0; i < ndirs; i++) {
    const char* dir = dirs[i];
    if (dir == nullptr || !PlatIsDirectory(dir)) {
      SetError(err, err_size, "zok_open: no directory: ", dir != nullptr ? dir : "(null)");
      delete tb;
      return nullptr;
    }
    std::string d(dir);
    if (d.back() != kPathSep) d += kPathSep;
    tb->dirs.push_back(d);
  }
  if (ndirs == 0) tb->dirs.push_back(kCurrentDir);
  ProbeInit(tb, cache_bytes);
  return tb;
}

void zok_close(zok_tb* tb) {
  if (tb == nullptr) return;
  ProbeCloseFiles(tb);
  delete tb;
}

int zok_probe(zok_tb* tb, const zok_position* pos, zok_value* value) {
  if (tb == nullptr) return ZOK_BAD_HANDLE;
  Ccc board;
  if (!ProbeSetBoard(pos, &board)) return ZOK_BAD_POSITION;
  zok_value v;
  ProbeBoard(tb, &board, &v);
  if (value != nullptr) *value = v;
  return ZOK_OK;
}

int zok_probe_fen(zok_tb* tb, const char* fen, zok_value* value) {
  if (tb == nullptr) return ZOK_BAD_HANDLE;
  zok_position pos;
  int r = zok_parse_fen(fen, &pos);
  return r != ZOK_OK ? r : zok_probe(tb, &pos, value);
}

int zok_best_move(zok_tb* tb, const zok_position* pos, char move[8], zok_value* value) {
  if (tb == nullptr) return ZOK_BAD_HANDLE;
  Ccc board;
  if (!ProbeSetBoard(pos, &board)) return ZOK_BAD_POSITION;
  zok_value v;
  uint32_t best = ProbeBestMove(tb, &board, &v);
  if (value != nullptr) *value = v;
  if (move != nullptr) move[0] = 0;
  if (best != 0) {
    if (move != nullptr) ProbeMoveText(best, move);
    return ZOK_OK;
  }
  uint32_t moves[kCccMaxMoves + 1];
  return CccGenMoves(&board, moves) == 0 ? ZOK_NO_MOVE : ZOK_OK;
}

int zok_best_move_fen(zok_tb* tb, const char* fen, char move[8], zok_value* value) {
  if (tb == nullptr) return ZOK_BAD_HANDLE;
  zok_position pos;
  int r = zok_parse_fen(fen, &pos);
  return r != ZOK_OK ? r : zok_best_move(tb, &pos, move, value);
}

int zok_probe_moves(zok_tb* tb, const zok_position* pos, zok_move* out, int max) {
  if (tb == nullptr) return ZOK_BAD_HANDLE;
  Ccc board;
  if (!ProbeSetBoard(pos, &board)) return ZOK_BAD_POSITION;
  zok_move all[kCccMaxMoves];
  int n = ProbeMoves(tb, &board, all);
  if (out != nullptr && max > 0) memcpy(out, all, sizeof all[0] * size_t(n < max ? n : max));
  return n;
}

int zok_probe_moves_fen(zok_tb* tb, const char* fen, zok_move* out, int max) {
  if (tb == nullptr) return ZOK_BAD_HANDLE;
  zok_position pos;
  int r = zok_parse_fen(fen, &pos);
  return r != ZOK_OK ? r : zok_probe_moves(tb, &pos, out, max);
}

void zok_cache_stats(zok_tb* tb, double* hits, double* misses) {
  double h = 0, m = 0;
  if (tb != nullptr) {
    for (int i = 0; i < tb->shard_count; i++) {
      ProbeShard& s = tb->shards[size_t(i)];
      std::lock_guard<std::mutex> guard(s.lock);
      h += s.hits;
      m += s.misses;
    }
  }
  if (hits != nullptr) *hits = h;
  if (misses != nullptr) *misses = m;
}

const char* zok_version(void) { return kZokVersion; }

}  // extern "C"
