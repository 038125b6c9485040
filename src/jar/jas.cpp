#include "jar/jas.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

JarHooks g_jar_hooks = {nullptr, nullptr, nullptr, nullptr, nullptr};

namespace {
char g_error_text[512];

uint32_t LoadWord(const uint8_t* p) {
  uint32_t w;
  memcpy(&w, p, 4);
  return w;
}
}  // namespace

void JarHookError(JarErrorHook hook) { g_jar_hooks.error = hook; }
void JarHookAlloc(JarAllocHook hook) { g_jar_hooks.alloc = hook; }
void JarHookFopen(JarFopenHook hook) { g_jar_hooks.fopen = hook; }
void JarHookWrite(JarWriteHook hook) { g_jar_hooks.write = hook; }
void JarHookRemove(JarRemoveHook hook) { g_jar_hooks.remove = hook; }

void JasError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(g_error_text, sizeof g_error_text, format, args);
  va_end(args);
  if (g_jar_hooks.error != nullptr) g_jar_hooks.error(g_error_text);
}

const char* JasLastError() { return g_error_text; }

// Layout: size word, lo guard, the n bytes, hi guard. The guards live in
// host order: they never leave the process.
void* JasAlloc(size_t n) {
  // The size word and the alloc figures are 32-bit.
  if (n > static_cast<size_t>(INT32_MAX - kJasGuardOverhead)) {
    JasError("JasAlloc: out of mem");
    return nullptr;
  }
  auto* base = static_cast<uint8_t*>(malloc(n + kJasGuardOverhead));
  if (base == nullptr) {
    JasError("JasAlloc: out of mem");
    return nullptr;
  }
  uint32_t size = static_cast<uint32_t>(n);
  memcpy(base, &size, 4);
  memcpy(base + 4, &kJasGuardLo, 4);
  memcpy(base + 8 + n, &kJasGuardHi, 4);
  if (g_jar_hooks.alloc != nullptr) g_jar_hooks.alloc(static_cast<int>(n) + kJasGuardOverhead);
  return base + 8;
}

int JarFree(void* p) {
  if (p == nullptr) {
    JasError("JarFree: null pointer");
    return 1;
  }
  uint8_t* base = static_cast<uint8_t*>(p) - 8;
  if (LoadWord(base + 4) != kJasGuardLo) {
    JasError("JarFree: lo sentinel violated");
    return 2;
  }
  uint32_t size = LoadWord(base);
  if (LoadWord(base + 8 + size) != kJasGuardHi) {
    JasError("JarFree: hi sentinel violated");
    return 3;
  }
  if (g_jar_hooks.alloc != nullptr) g_jar_hooks.alloc(-(static_cast<int>(size) + kJasGuardOverhead));
  free(base);
  return 0;
}

FILE* JasOpen(const char* name, const char* mode) {
  FILE* f = PlatFopen(name, mode);
  if (f == nullptr) {
    JasError("JasOpen: (%s, %s) failed", name, mode);
    return nullptr;
  }
  if (g_jar_hooks.fopen != nullptr) g_jar_hooks.fopen(1, f, mode, name);
  return f;
}

int JasVbuf(FILE* stream, char* buffer, size_t size) {
  int r = PlatSetBuffer(stream, buffer, size);
  if (r != 0) JasError("JasVbuf: failed");
  return r;
}

int JasClose(FILE* stream) {
  int r = PlatFclose(stream);
  if (g_jar_hooks.fopen != nullptr) g_jar_hooks.fopen(-1, stream, nullptr, nullptr);
  if (r != 0) JasError("JasClose: failed");
  return r;
}

int JasRead(void* buffer, int count, FILE* stream) {
  if (count <= 0) return 0;
  int got = static_cast<int>(PlatFread(buffer, static_cast<size_t>(count), stream));
  if (got != count) JasError("JasRead: wanted %d actual %d", count, got);
  return got;
}

int JasWrite(const void* buffer, int count, FILE* stream) {
  int wanted = count < 0 ? -count : count;
  int put = wanted == 0 ? 0 : static_cast<int>(PlatFwrite(buffer, static_cast<size_t>(wanted), stream));
  if (count >= 0 && g_jar_hooks.write != nullptr) g_jar_hooks.write(put);
  if (put != wanted) JasError("JasWrite: wanted %d actual %d", wanted, put);
  return put;
}

int64_t JasTell(FILE* stream) {
  int64_t at = PlatFtell(stream);
  if (at < 0) JasError("JasTell: error [%s]", PlatErrorText());
  return at;
}

int JasSeek(FILE* stream, int64_t offset) {
  int r = PlatFseek(stream, offset);
  if (r != 0) JasError("JasSeek: error [%s]", PlatErrorText());
  return r;
}

int JasRemove(const char* name) {
  double size = PlatFileSize(name);
  if (size < 0) {
    JasError("JasRemove: stat() failed");
    return -1;
  }
  if (g_jar_hooks.write != nullptr) g_jar_hooks.write(-size);
  int r = PlatRemove(name);
  if (r != 0) JasError("JasRemove: (%s) error [%s]", name, PlatErrorText());
  if (g_jar_hooks.remove != nullptr) g_jar_hooks.remove(size, name);
  return r;
}

double JasFileSize(const char* name) {
  double size = PlatFileSize(name);
  if (size < 0) {
    JasError("JasFileSize: stat() failed");
    return -1;
  }
  return size;
}
