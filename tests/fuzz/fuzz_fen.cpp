// Arbitrary text as FEN: the parser takes a legal position or refuses the
// text; a position it takes is probed (no databases here: unknown) and its
// moves are listed, all without reading or writing outside their buffers.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "zok/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static char empty[] = "/tmp/zok-fuzz-fen-XXXXXX";
  static const char* dirs[] = {mkdtemp(empty)};
  static zok_tb* tb = zok_open(dirs, 1, 1 << 20, nullptr, 0);
  const std::string fen(reinterpret_cast<const char*>(data), size);
  zok_position pos;
  if (zok_parse_fen(fen.c_str(), &pos) != ZOK_OK) return 0;
  zok_value value;
  zok_move moves[256];
  char best[8];
  if (zok_probe(tb, &pos, &value) != ZOK_OK || zok_probe_moves(tb, &pos, moves, 256) < 0 ||
      zok_best_move(tb, &pos, best, &value) == ZOK_BAD_POSITION) {
    __builtin_trap();  // what the parser takes, the probes take too
  }
  return 0;
}
