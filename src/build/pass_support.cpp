#include "build/pass_support.h"

#include <string>

#include "build/build_driver.h"
#include "build/pile.h"
#include "platform/platform.h"

void PileOpenFresh(int32_t capacity) {
  // Index and chunk files alike: a chop whose writing was cut short has an
  // index file that does not yet count its chunks.
  std::string dir = std::string(g_basi.name) + kPathSep;
  for (const std::string& name : PlatFindFiles((dir + "L?C?????.*").c_str())) {
    PlatRemove((dir + name).c_str());
  }
  PileOpen(capacity);
}
