#include "jar/jas.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

// Process-wide by nature: the hook slots a build installs once for its
// error, memory, stream and disk accounting.
JarHooks g_jar_hooks = {nullptr, nullptr, nullptr, nullptr, nullptr};

namespace {

// The layer's last failure, which the checked operations of the caller read
// after a call failed: its message and its reason. One per thread, as errno
// is: a build's reading threads reach the end of data at the same time, and
// each caller reads its own call's failure.
thread_local struct LastFailure {
  char text[1024];
  char reason[1024];
  int block;
} g_last = {"", "", -1};

// The names of the open streams, looked up only when one fails; process-wide
// like the streams themselves. The final pass holds two per ply: as many as
// a process may open files, and past the table a failure names "?".
constexpr int kNamedStreams = 1024;
struct NamedStream {
  FILE* stream;
  char name[280];
};
NamedStream g_streams[kNamedStreams];
// A build's threads open and close streams (a reader crossing into its next
// chunk file) and allocate at once: the table and the accounting hooks are
// used under this lock.
std::mutex g_streams_lock;

void NoteStream(FILE* stream, const char* name) {
  std::lock_guard<std::mutex> hold(g_streams_lock);
  for (NamedStream& n : g_streams) {
    if (n.stream == nullptr) {
      n.stream = stream;
      snprintf(n.name, sizeof n.name, "%s", name);
      return;
    }
  }
}

void ForgetStream(FILE* stream) {
  std::lock_guard<std::mutex> hold(g_streams_lock);
  for (NamedStream& n : g_streams) {
    if (n.stream == stream) {
      n.stream = nullptr;
      return;
    }
  }
}

const char* StreamName(FILE* stream) {
  std::lock_guard<std::mutex> hold(g_streams_lock);
  for (const NamedStream& n : g_streams) {
    if (n.stream == stream) return n.name;
  }
  return "?";
}

// The system's text for a failed call; taken at once, before anything else
// can change errno.
const char* SystemReason() { return PlatErrorText(); }

// A read that came short: the end of the file or a system error.
const char* ReadReason(FILE* stream) {
  return PlatAtEnd(stream) ? "unexpected end of file" : PlatErrorText();
}

void Report(const char* reason) {
  snprintf(g_last.reason, sizeof g_last.reason, "%s", reason);
  g_last.block = -1;
  if (g_jar_hooks.error != nullptr) g_jar_hooks.error(g_last.text);
}

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
  vsnprintf(g_last.text, sizeof g_last.text, format, args);
  va_end(args);
  const char* colon = strstr(g_last.text, ": ");
  Report(colon != nullptr ? colon + 2 : g_last.text);
}

const char* JasLastError() { return g_last.text; }

const char* JasLastReason() { return g_last.reason; }

void JasSetReason(const char* reason) {
  snprintf(g_last.reason, sizeof g_last.reason, "%s", reason);
  g_last.block = -1;
}

int JasLastBlock() { return g_last.block; }

void JasSetBlock(int block) { g_last.block = block; }

namespace {
// A failed stream operation: "<message> [<file>]: <reason>", or, when the
// message names the file already, "<message>: <reason>".
void StreamError(const char* reason, const char* format, ...) __attribute__((format(printf, 2, 3)));
void StreamError(const char* reason, const char* format, ...) {
  // The reason may live in the system's buffer: keep it before formatting.
  char why[256];
  snprintf(why, sizeof why, "%s", reason);
  va_list args;
  va_start(args, format);
  int n = vsnprintf(g_last.text, sizeof g_last.text, format, args);
  va_end(args);
  if (n >= 0 && static_cast<size_t>(n) < sizeof g_last.text) {
    snprintf(g_last.text + n, sizeof g_last.text - static_cast<size_t>(n), ": %s", why);
  }
  Report(why);
}
}  // namespace

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
  if (g_jar_hooks.alloc != nullptr) {
    std::lock_guard<std::mutex> hold(g_streams_lock);
    g_jar_hooks.alloc(static_cast<int>(n) + kJasGuardOverhead);
  }
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
  if (g_jar_hooks.alloc != nullptr) {
    std::lock_guard<std::mutex> hold(g_streams_lock);
    g_jar_hooks.alloc(-(static_cast<int>(size) + kJasGuardOverhead));
  }
  free(base);
  return 0;
}

FILE* JasOpen(const char* name, const char* mode) {
  FILE* f = PlatFopen(name, mode);
  if (f == nullptr) {
    StreamError(SystemReason(), "JasOpen: (%s, %s) failed", name, mode);
    return nullptr;
  }
  NoteStream(f, name);
  if (g_jar_hooks.fopen != nullptr) {
    std::lock_guard<std::mutex> hold(g_streams_lock);
    g_jar_hooks.fopen(1, f, mode, name);
  }
  return f;
}

int JasVbuf(FILE* stream, char* buffer, size_t size) {
  int r = PlatSetBuffer(stream, buffer, size);
  if (r != 0) StreamError("cannot set the stream buffer", "JasVbuf: failed [%s]", StreamName(stream));
  return r;
}

int JasClose(FILE* stream) {
  // The name outlives the stream for the message.
  char name[280];
  snprintf(name, sizeof name, "%s", StreamName(stream));
  ForgetStream(stream);
  int r = PlatFclose(stream);
  if (r != 0) {
    char why[256];
    snprintf(why, sizeof why, "%s", SystemReason());
    if (g_jar_hooks.fopen != nullptr) {
      std::lock_guard<std::mutex> hold(g_streams_lock);
      g_jar_hooks.fopen(-1, stream, nullptr, nullptr);
    }
    StreamError(why, "JasClose: failed [%s]", name);
    return r;
  }
  if (g_jar_hooks.fopen != nullptr) {
    std::lock_guard<std::mutex> hold(g_streams_lock);
    g_jar_hooks.fopen(-1, stream, nullptr, nullptr);
  }
  return r;
}

int JasRead(void* buffer, int count, FILE* stream) {
  if (count <= 0) return 0;
  int got = static_cast<int>(PlatFread(buffer, static_cast<size_t>(count), stream));
  if (got != count) {
    StreamError(ReadReason(stream), "JasRead: wanted %d actual %d [%s]", count, got, StreamName(stream));
  }
  return got;
}

int JasWrite(const void* buffer, int count, FILE* stream) {
  int wanted = count < 0 ? -count : count;
  int put = wanted == 0 ? 0 : static_cast<int>(PlatFwrite(buffer, static_cast<size_t>(wanted), stream));
  if (put != wanted) {
    char why[256];
    snprintf(why, sizeof why, "%s", SystemReason());
    if (count >= 0 && g_jar_hooks.write != nullptr) g_jar_hooks.write(put);
    StreamError(why, "JasWrite: wanted %d actual %d [%s]", wanted, put, StreamName(stream));
    return put;
  }
  if (count >= 0 && g_jar_hooks.write != nullptr) g_jar_hooks.write(put);
  return put;
}

int64_t JasTell(FILE* stream) {
  int64_t at = PlatFtell(stream);
  if (at < 0) {
    // The message carries the reason already; only the file is added.
    char why[256];
    snprintf(why, sizeof why, "%s", SystemReason());
    snprintf(g_last.text, sizeof g_last.text, "JasTell: error [%s] [%s]", why, StreamName(stream));
    Report(why);
  }
  return at;
}

int JasSeek(FILE* stream, int64_t offset) {
  int r = PlatFseek(stream, offset);
  if (r != 0) {
    // The message carries the reason already; only the file is added.
    char why[256];
    snprintf(why, sizeof why, "%s", SystemReason());
    snprintf(g_last.text, sizeof g_last.text, "JasSeek: error [%s] [%s]", why, StreamName(stream));
    Report(why);
  }
  return r;
}

int JasRemove(const char* name) {
  double size = PlatFileSize(name);
  if (size < 0) {
    StreamError(SystemReason(), "JasRemove: stat() failed [%s]", name);
    return -1;
  }
  if (g_jar_hooks.write != nullptr) g_jar_hooks.write(-size);
  int r = PlatRemove(name);
  if (r != 0) {
    char why[256];
    snprintf(why, sizeof why, "%s", SystemReason());
    snprintf(g_last.text, sizeof g_last.text, "JasRemove: (%s) error [%s]", name, why);
    Report(why);
  }
  if (g_jar_hooks.remove != nullptr) g_jar_hooks.remove(size, name);
  return r;
}

double JasFileSize(const char* name) {
  double size = PlatFileSize(name);
  if (size < 0) {
    StreamError(SystemReason(), "JasFileSize: stat() failed [%s]", name);
    return -1;
  }
  return size;
}
