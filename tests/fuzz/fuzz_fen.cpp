// Arbitrary text as FEN: a position the parser takes, the probes take too
// (no databases here: its value is unknown), all within their buffers.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "zok/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static char empty[] = "/tmp/zok-fuzz-fen-XXXXXX";
  static const char* dir = getenv("ZOK_FUZZ_DIR") != nullptr ? getenv("ZOK_FUZZ_DIR") : mkdtemp(empty);
  static zok_tb* tb = zok_open(&dir, 1, 1 << 20, nullptr, 0);
  zok_position pos;
  zok_value value;
  zok_move moves[256];
  if (zok_parse_fen(std::string(reinterpret_cast<const char*>(data), size).c_str(), &pos) == ZOK_OK &&
      (zok_probe(tb, &pos, &value) != ZOK_OK || zok_probe_moves(tb, &pos, moves, 256) < 0))
    __builtin_trap();
  return 0;
}
