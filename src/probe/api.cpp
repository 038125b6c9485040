// The C interface of include/zok/probe.h.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "board/move_generation.h"
#include "platform/platform.h"
#include "probe/probe.h"
#include "probe/tables.h"
#include "support/version.h"

namespace {

constexpr bool SameText(const char* a, const char* b) {
  while (*a != 0 && *a == *b) a++, b++;
  return *a == *b;
}
static_assert(SameText(kZokVersion, ZOK_VERSION_STRING), "the header's version is the program's");

void SetError(char* err, size_t size, const char* text, const char* name) {
  if (err != nullptr && size > 0) snprintf(err, size, "%s%s", text, name);
}

}  // namespace

zok_tb* ProbeOpen(const SearchPath& path, size_t cache_bytes, char* err, size_t err_size) {
  std::vector<const char*> dirs;
  for (const std::string& d : path.dirs()) dirs.push_back(d.c_str());
  return zok_open(dirs.data(), static_cast<int>(dirs.size()), cache_bytes, err, err_size);
}

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
    tb->path.Add(d);
  }
  if (ndirs == 0) tb->path.Add(kCurrentDir);
  ProbeInit(tb, cache_bytes);
  return tb;
}

zok_tb* zok_open_path(const char* path, size_t cache_bytes, char* err, size_t err_size) {
  std::vector<std::string> parts;
  for (const char* p = path != nullptr ? path : ""; *p != 0;) {
    const char* end = strchr(p, ':');
    if (end == nullptr) end = p + strlen(p);
    if (end > p) parts.emplace_back(p, end);
    p = *end != 0 ? end + 1 : end;
  }
  std::vector<const char*> dirs;
  for (const std::string& d : parts) dirs.push_back(d.c_str());
  return zok_open(dirs.data(), static_cast<int>(dirs.size()), cache_bytes, err, err_size);
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
  if (tb != nullptr) tb->cache->Stats(&h, &m);
  if (hits != nullptr) *hits = h;
  if (misses != nullptr) *misses = m;
}

int zok_max_men(zok_tb* tb) {
  if (tb == nullptr) return ZOK_BAD_HANDLE;
  int most = 0;
  for (const std::string& dir : tb->path.dirs()) {
    for (const std::string& file : PlatFindFiles((dir + "*.JIX").c_str())) {
      // "KQKR___W.JIX": the men's letters, blanks written as '_', the side.
      if (file.size() != 12 || (file[7] != 'W' && file[7] != 'B')) continue;
      int men = 0, kings = 0;
      bool name = file[0] == 'K';
      for (int i = 0; i < 7 && name; i++) {
        char c = file[size_t(i)];
        if (c == '_') continue;
        name = strchr("KQRBNP", c) != nullptr && (i == 0 || file[size_t(i) - 1] != '_');
        men++;
        kings += c == 'K';
      }
      if (name && kings == 2 && men > most) most = men;
    }
  }
  return most;
}

const char* zok_strerror(int code) {
  switch (code) {
    case ZOK_OK: return "no error";
    case ZOK_BAD_FEN: return "bad FEN";
    case ZOK_BAD_POSITION: return "no legal position";
    case ZOK_BAD_HANDLE: return "no handle";
    case ZOK_NO_MOVE: return "no legal move";
    default: return "unknown error";
  }
}

const char* zok_version(void) { return kZokVersion; }

}  // extern "C"
