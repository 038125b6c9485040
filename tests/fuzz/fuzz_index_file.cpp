// Arbitrary bytes as KQK's index file, beside its chunk file when the fuzz script put one in
// ZOK_FUZZ_DIR: probes answer or find the database damaged, within the files and buffers.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "zok/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static char made[] = "/tmp/zok-fuzz-index-XXXXXX";
  static const char* dir = getenv("ZOK_FUZZ_DIR") != nullptr ? getenv("ZOK_FUZZ_DIR") : mkdtemp(made);
  std::ofstream(std::string(dir) + "/KQK____W.JIX").write(reinterpret_cast<const char*>(data), size);
  zok_tb* tb = zok_open(&dir, 1, 1 << 16, nullptr, 0);
  zok_value value;
  for (const char* fen : {"8/8/8/5k2/8/8/1Q6/K7 w - - 0 1", "k7/8/8/8/8/8/8/KQ6 w - - 0 1",
                          "7k/8/8/8/2Q5/8/8/4K3 w - - 0 1", "8/8/8/8/8/8/6k1/Q3K3 w - - 0 1"}) {
    if (zok_probe_fen(tb, fen, &value) != ZOK_OK) __builtin_trap();
  }
  zok_close(tb);
  return 0;
}
