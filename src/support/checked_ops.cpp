#include "support/checked_ops.h"

#include <cstdio>

#include "support/console.h"
#include "jar/jas.h"

// The accounting of a build: process-wide, since the file layer reports to it
// through plain hook functions.
AccState g_acc;

const char* FileFailure(const char* who, const char* name) {
  static char text[1400];
  int block = JasLastBlock();
  if (block >= 0) {
    snprintf(text, sizeof text, "%s: failed [%s] block %d: %s", who, name, block, JasLastReason());
  } else {
    snprintf(text, sizeof text, "%s: failed [%s]: %s", who, name, JasLastReason());
  }
  return text;
}

namespace {
// Failures name the database; a handle that is no handle has none.
const char* HandleName(const JILE* h) { return h != nullptr ? h->name : "no file"; }

// The three write opens differ in their coding flags and their name.
JILE* WriteOpen(const char* path, int flags, const char* who) {
  JILE* h = JarWopen(path, flags);
  if (h == nullptr) OutError("%s: [%s] failed: %s", who, path, JasLastReason());
  return h;
}
}  // namespace

void* SysAlloc(size_t n) {
  void* p = JasAlloc(n);
  if (p == nullptr) OutError("SysAlloc: failed");
  return p;
}

void SysFree(void* p) {
  if (JarFree(p) != 0) OutError("SysFree: failed");
}

JILE* FileRopen(const char* path) {
  JILE* h = JarRopen(path);
  if (h == nullptr) OutError("FileRopen: [%s] failed: %s", path, JasLastReason());
  return h;
}

JILE* FileWopen(const char* path) { return WriteOpen(path, kFlagDefault, "FileWopen"); }
JILE* FileWopen0(const char* path) { return WriteOpen(path, kFlagLz, "FileWopen0"); }
JILE* FileWopenX(const char* path) { return WriteOpen(path, kFlagTrial, "FileWopenX"); }
JILE* FileWopenW(const char* path) { return WriteOpen(path, kFlagWork, "FileWopenW"); }

void FileClose(JILE* h) {
  // The handle is gone after the close.
  char name[kJarNameSize];
  snprintf(name, sizeof name, "%s", HandleName(h));
  if (JarClose(h) != 0) OutError("%s", FileFailure("FileClose", name));
}

int FileGetc(JILE* h) {
  int c = JarGetc(h);
  if (c < 0) OutError("%s", FileFailure("FileGetc", HandleName(h)));
  return c;
}

void FilePutc(int byte, JILE* h) {
  if (JarPutc(byte, h) < 0) OutError("%s", FileFailure("FilePutc", HandleName(h)));
}

void FileRead(void* buffer, int count, JILE* h) {
  if (JarRead(buffer, count, h) < count)
    OutError("%s", FileFailure("FileRead", HandleName(h)));
}

int FileReadAny(void* buffer, int count, JILE* h) { return JarRead(buffer, count, h); }

void FileWrite(const void* buffer, int count, JILE* h) {
  if (JarWrite(buffer, count, h) < count)
    OutError("%s", FileFailure("FileWrite", HandleName(h)));
}

void FileWriteCoded(const JarCoded& coded, JILE* h) {
  if (JarWriteCoded(h, coded) == 0)
    OutError("%s", FileFailure("FileWrite", HandleName(h)));
}

void FileSeek(JILE* h, double position) {
  if (JarSeek(h, position) != 0) OutError("%s", FileFailure("FileSeek", HandleName(h)));
}

void FileRemove(const char* path) {
  if (JarRemove(path) != 0) OutError("FileRemove: failed [%s]: %s", path, JasLastReason());
}

double FileSize(const char* path) {
  double size = JarDiskSize(path);
  if (size < 0) OutError("FileSize: failed [%s]: %s", path, JasLastReason());
  return size;
}

void AccError(const char* message) {
  g_acc.errors += 1;
  if (g_acc.errors >= g_acc.errors_max) g_acc.errors_max = g_acc.errors;
  OutSile("error %+9d = %11d  [%s]\n", 1, g_acc.errors, message);
}

namespace {

thread_local AccLog* t_capture = nullptr;

// True when the change went to the calling thread's log.
bool Captured(int kind, double delta) {
  if (t_capture == nullptr) return false;
  std::vector<AccEvent>& events = t_capture->events;
  if (!events.empty() && events.back().kind == kind && (events.back().delta < 0) == (delta < 0)) {
    events.back().delta += delta;
  } else {
    events.push_back({kind, delta});
  }
  return true;
}

}  // namespace

void AccCapture(AccLog* log) { t_capture = log; }

void AccReplay(AccLog& log) {
  for (const AccEvent& e : log.events) {
    if (e.kind == 0 && g_jar_hooks.alloc != nullptr) g_jar_hooks.alloc(static_cast<int>(e.delta));
    if (e.kind == 1 && g_jar_hooks.fopen != nullptr) {
      g_jar_hooks.fopen(static_cast<int>(e.delta), nullptr, "", "");
    }
    if (e.kind == 2 && g_jar_hooks.write != nullptr) g_jar_hooks.write(e.delta);
  }
  log.events.clear();
}

void AccAlloc(int delta) {
  if (Captured(0, delta)) return;
  g_acc.alloc += delta;
  if (g_acc.alloc >= g_acc.alloc_max) g_acc.alloc_max = g_acc.alloc;
}

void AccFopen(int delta, FILE* stream, const char* mode, const char* name) {
  if (Captured(1, delta)) return;
  g_acc.streams += delta;
  if (g_acc.streams >= g_acc.streams_max) g_acc.streams_max = g_acc.streams;
}

void AccWrite(double delta) {
  if (Captured(2, delta)) return;
  g_acc.disk += delta;
  if (g_acc.disk >= g_acc.disk_max) g_acc.disk_max = g_acc.disk;
}

// The removed bytes are already counted through the write slot.
void AccRemove(double size, const char* name) {}

void AccPass(int pass, int end) {
  if (end == 0) {
    OutSile("// #[ pass %3d : //////////////////////////////////////////////////////////////\n", pass);
    OutSile("\n");
    return;
  }
  OutSile("\n");
  OutSile("pass %3d enderror %11d  max %11d\n", pass, g_acc.errors, g_acc.errors_max);
  OutSile("pass %3d endalloc %11d  max %11d\n", pass, g_acc.alloc, g_acc.alloc_max);
  OutSile("pass %3d endfopen %11d  max %11d\n", pass, g_acc.streams, g_acc.streams_max);
  OutSile("pass %3d endwrite %11.0f  max %11.0f\n", pass, g_acc.disk, g_acc.disk_max);
  OutSile("\n");
  OutSile("// #] pass %3d : \n", pass);
}

void AccReset() { g_acc = AccState{}; }

void AccInstallHooks() {
  JarHookError(AccError);
  JarHookAlloc(AccAlloc);
  JarHookFopen(AccFopen);
  JarHookWrite(AccWrite);
  JarHookRemove(AccRemove);
}
