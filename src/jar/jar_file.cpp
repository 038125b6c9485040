#include "jar/jar_file.h"

#include <string>

#include "platform/platform.h"

int JarExists(const char* name) {
  std::string index = std::string(name) + ".JIX";
  FILE* f = PlatFopen(index.c_str(), "rb");
  if (f == nullptr) return 0;
  PlatFclose(f);
  return 1;
}
