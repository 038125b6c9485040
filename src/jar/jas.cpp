#include "jar/jas.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

namespace {

// The names of the open streams, looked up only when one fails: global like
// the streams themselves, which any handle of any thread opens. The final
// pass holds two per ply: as many as a process may open files, and past the
// table a failure names "?". A build's threads open and close streams at
// once (a reader crossing into its next chunk file): the table is used under
// its lock.
constexpr int kNamedStreams = 1024;
struct NamedStream {
  FILE* stream;
  char name[280];
};
struct StreamNames {
  std::mutex lock;
  NamedStream table[kNamedStreams];
} g_stream_names;

void NoteStream(FILE* stream, const char* name) {
  std::lock_guard<std::mutex> hold(g_stream_names.lock);
  for (NamedStream& n : g_stream_names.table) {
    if (n.stream == nullptr) {
      n.stream = stream;
      snprintf(n.name, sizeof n.name, "%s", name);
      return;
    }
  }
}

void ForgetStream(FILE* stream) {
  std::lock_guard<std::mutex> hold(g_stream_names.lock);
  for (NamedStream& n : g_stream_names.table) {
    if (n.stream == stream) {
      n.stream = nullptr;
      return;
    }
  }
}

const char* StreamName(FILE* stream) {
  std::lock_guard<std::mutex> hold(g_stream_names.lock);
  for (const NamedStream& n : g_stream_names.table) {
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

// Copies as much of `from` as `to` holds (a message cut short is still a
// message).
void CopyText(char* to, size_t size, const char* from) {
  const size_t n = strnlen(from, size - 1);
  memcpy(to, from, n);
  to[n] = '\0';
}

// Keeps a failure's message and reason in `fault` and counts it as an error
// of the context's account, which logs the message.
void Report(const JarContext* cx, JarFault* fault, const char* message, const char* reason) {
  if (fault != nullptr) {
    CopyText(fault->message, sizeof fault->message, message);
    fault->SetReason(reason);
  }
  if (cx == nullptr || cx->owner == nullptr) return;
  JarAccount& a = *cx->owner;
  std::lock_guard<std::mutex> hold(a.lock);
  a.errors += 1;
  if (a.errors >= a.errors_max) a.errors_max = a.errors;
  if (a.log_error != nullptr) a.log_error(a.errors, message);
}

// Applies a change of one kind; "max" is replaced whenever the figure
// reaches it.
void Apply(JarAccount& a, int kind, double delta) {
  if (kind == 0) {
    a.alloc += static_cast<int32_t>(delta);
    if (a.alloc >= a.alloc_max) a.alloc_max = a.alloc;
  } else if (kind == 1) {
    a.streams += static_cast<int32_t>(delta);
    if (a.streams >= a.streams_max) a.streams_max = a.streams;
  } else {
    a.disk += delta;
    if (a.disk >= a.disk_max) a.disk_max = a.disk;
  }
}

// Counts a change of memory (0), streams (1) or disk bytes (2), or keeps it
// in the context's capture.
void Count(const JarContext* cx, int kind, double delta) {
  if (cx == nullptr || cx->owner == nullptr || (cx->quiet && kind != 2)) return;
  if (cx->capture != nullptr) {
    std::vector<JarEvent>& events = *cx->capture;
    if (!events.empty() && events.back().kind == kind && (events.back().delta < 0) == (delta < 0)) {
      events.back().delta += delta;
    } else {
      events.push_back({kind, delta});
    }
    return;
  }
  std::lock_guard<std::mutex> hold(cx->owner->lock);
  Apply(*cx->owner, kind, delta);
}

// A file opened for writing, to be synced before the pass is recorded.
void NoteWritten(const JarContext* cx, const char* name, const char* mode) {
  if (cx == nullptr || cx->owner == nullptr || strpbrk(mode, "wa+") == nullptr) return;
  JarAccount& a = *cx->owner;
  std::lock_guard<std::mutex> hold(a.lock);
  for (auto i = a.written.rbegin(); i != a.written.rend(); ++i) {
    if (*i == name) return;
  }
  a.written.emplace_back(name);
}

uint32_t LoadWord(const uint8_t* p) {
  uint32_t w;
  memcpy(&w, p, 4);
  return w;
}
}  // namespace

void JarReplay(JarAccount& account, std::vector<JarEvent>& events) {
  std::lock_guard<std::mutex> hold(account.lock);
  for (const JarEvent& e : events) Apply(account, e.kind, e.delta);
  events.clear();
}

void JasError(const JarContext* cx, JarFault* fault, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  const char* colon = strstr(text, ": ");
  Report(cx, fault, text, colon != nullptr ? colon + 2 : text);
}

void JarFault::SetReason(const char* text) {
  CopyText(reason, sizeof reason, text);
  block = -1;
}

namespace {
// A failed stream operation: "<message> [<file>]: <reason>", or, when the
// message names the file already, "<message>: <reason>".
void StreamError(const JarContext* cx, JarFault* fault, const char* reason, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void StreamError(const JarContext* cx, JarFault* fault, const char* reason, const char* format, ...) {
  // The reason may live in the system's buffer: keep it before formatting.
  char why[256];
  snprintf(why, sizeof why, "%s", reason);
  char text[1024];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n >= 0 && static_cast<size_t>(n) < sizeof text) {
    snprintf(text + n, sizeof text - static_cast<size_t>(n), ": %s", why);
  }
  Report(cx, fault, text, why);
}

// A failed seek or tell, whose message carries the system's reason already:
// "<who>: error [<reason>] [<file>]".
void PositionError(const JarContext* cx, JarFault* fault, const char* who, const char* why,
                   const char* name) {
  char text[1024];
  snprintf(text, sizeof text, "%s: error [%s] [%s]", who, why, name);
  Report(cx, fault, text, why);
}
}  // namespace

// Layout: size word, lo guard, the n bytes, hi guard. The guards live in
// host order: they never leave the process.
void* JasAlloc(size_t n, const JarContext* cx, JarFault* fault) {
  // The size word and the alloc figures are 32-bit.
  if (n > static_cast<size_t>(INT32_MAX - kJasGuardOverhead)) {
    JasError(cx, fault, "JasAlloc: out of mem");
    return nullptr;
  }
  auto* base = static_cast<uint8_t*>(malloc(n + kJasGuardOverhead));
  if (base == nullptr) {
    JasError(cx, fault, "JasAlloc: out of mem");
    return nullptr;
  }
  uint32_t size = static_cast<uint32_t>(n);
  memcpy(base, &size, 4);
  memcpy(base + 4, &kJasGuardLo, 4);
  memcpy(base + 8 + n, &kJasGuardHi, 4);
  Count(cx, 0, static_cast<int>(n) + kJasGuardOverhead);
  return base + 8;
}

int JarFree(void* p, const JarContext* cx) {
  if (p == nullptr) {
    JasError(cx, nullptr, "JarFree: null pointer");
    return 1;
  }
  uint8_t* base = static_cast<uint8_t*>(p) - 8;
  if (LoadWord(base + 4) != kJasGuardLo) {
    JasError(cx, nullptr, "JarFree: lo sentinel violated");
    return 2;
  }
  uint32_t size = LoadWord(base);
  if (LoadWord(base + 8 + size) != kJasGuardHi) {
    JasError(cx, nullptr, "JarFree: hi sentinel violated");
    return 3;
  }
  Count(cx, 0, -(static_cast<int>(size) + kJasGuardOverhead));
  free(base);
  return 0;
}

FILE* JasOpen(const char* name, const char* mode, const JarContext* cx, JarFault* fault) {
  FILE* f = PlatFopen(name, mode);
  if (f == nullptr) {
    StreamError(cx, fault, SystemReason(), "JasOpen: (%s, %s) failed", name, mode);
    return nullptr;
  }
  NoteStream(f, name);
  NoteWritten(cx, name, mode);
  Count(cx, 1, 1);
  return f;
}

int JasVbuf(FILE* stream, char* buffer, size_t size, const JarContext* cx, JarFault* fault) {
  int r = PlatSetBuffer(stream, buffer, size);
  if (r != 0)
    StreamError(cx, fault, "cannot set the stream buffer", "JasVbuf: failed [%s]", StreamName(stream));
  return r;
}

int JasClose(FILE* stream, const JarContext* cx, JarFault* fault) {
  // The name outlives the stream for the message.
  char name[280];
  snprintf(name, sizeof name, "%s", StreamName(stream));
  ForgetStream(stream);
  int r = PlatFclose(stream);
  if (r != 0) {
    char why[256];
    snprintf(why, sizeof why, "%s", SystemReason());
    Count(cx, 1, -1);
    StreamError(cx, fault, why, "JasClose: failed [%s]", name);
    return r;
  }
  Count(cx, 1, -1);
  return r;
}

int JasRead(void* buffer, int count, FILE* stream, const JarContext* cx, JarFault* fault) {
  if (count <= 0) return 0;
  int got = static_cast<int>(PlatFread(buffer, static_cast<size_t>(count), stream));
  if (got != count) {
    StreamError(cx, fault, ReadReason(stream), "JasRead: wanted %d actual %d [%s]", count, got,
                StreamName(stream));
  }
  return got;
}

int JasWrite(const void* buffer, int count, FILE* stream, const JarContext* cx, JarFault* fault) {
  int wanted = count < 0 ? -count : count;
  int put = wanted == 0 ? 0 : static_cast<int>(PlatFwrite(buffer, static_cast<size_t>(wanted), stream));
  if (put != wanted) {
    char why[256];
    snprintf(why, sizeof why, "%s", SystemReason());
    if (count >= 0) Count(cx, 2, put);
    StreamError(cx, fault, why, "JasWrite: wanted %d actual %d [%s]", wanted, put, StreamName(stream));
    return put;
  }
  if (count >= 0) Count(cx, 2, put);
  return put;
}

int64_t JasTell(FILE* stream, const JarContext* cx, JarFault* fault) {
  int64_t at = PlatFtell(stream);
  if (at < 0) {
    // The message carries the reason already; only the file is added.
    char why[256];
    snprintf(why, sizeof why, "%s", SystemReason());
    PositionError(cx, fault, "JasTell", why, StreamName(stream));
  }
  return at;
}

int JasSeek(FILE* stream, int64_t offset, const JarContext* cx, JarFault* fault) {
  int r = PlatFseek(stream, offset);
  if (r != 0) {
    // The message carries the reason already; only the file is added.
    char why[256];
    snprintf(why, sizeof why, "%s", SystemReason());
    PositionError(cx, fault, "JasSeek", why, StreamName(stream));
  }
  return r;
}

int JasRemove(const char* name, const JarContext* cx, JarFault* fault) {
  double size = PlatFileSize(name);
  if (size < 0) {
    StreamError(cx, fault, SystemReason(), "JasRemove: stat() failed [%s]", name);
    return -1;
  }
  Count(cx, 2, -size);
  int r = PlatRemove(name);
  if (r != 0) {
    char why[256];
    snprintf(why, sizeof why, "%s", SystemReason());
    char text[1024];
    snprintf(text, sizeof text, "JasRemove: (%s) error [%s]", name, why);
    Report(cx, fault, text, why);
  }
  return r;
}

double JasFileSize(const char* name, const JarContext* cx, JarFault* fault) {
  double size = PlatFileSize(name);
  if (size < 0) {
    StreamError(cx, fault, SystemReason(), "JasFileSize: stat() failed [%s]", name);
    return -1;
  }
  return size;
}
