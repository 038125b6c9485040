#include "support/checked_ops.h"

#include <cstdio>
#include <cstring>

#include "jar/jas.h"
#include "support/console.h"

namespace {
// The message of a failed file operation on `name`: "WHO: failed [NAME]:
// REASON", or "WHO: failed [NAME] block N: REASON" when the layer found
// block N damaged.
std::string FileFailure(const char* who, const char* name, const JarFault& fault) {
  char text[1400];
  if (fault.block >= 0) {
    snprintf(text, sizeof text, "%s: failed [%s] block %d: %s", who, name, fault.block, fault.reason);
  } else {
    snprintf(text, sizeof text, "%s: failed [%s]: %s", who, name, fault.reason);
  }
  return text;
}

// Failures name the database; a handle that is no handle (null, or closed)
// has none, and its fault is that.
const char* HandleName(const JILE* h) { return h != nullptr ? h->name : "no file"; }

const JarFault& HandleFault(const JILE* h) {
  static const JarFault kNoHandle = [] {
    JarFault f;
    f.SetReason("invalid JILE *");
    return f;
  }();
  return h != nullptr && memcmp(h->header.magic, kJarMagic, 4) == 0 ? h->fault : kNoHandle;
}

// A failed call on a handle: the message, with the handle's fault.
[[noreturn]] void HandleFailed(const char* who, const JILE* h) {
  OutError("%s", FileFailure(who, HandleName(h), HandleFault(h)).c_str());
}

// The three write opens differ in their coding flags and their name.
JILE* WriteOpen(const char* path, int flags, const char* who, const JarContext* cx) {
  JarFault fault;
  JILE* h = JarWopen(path, flags, cx, &fault);
  if (h == nullptr) OutError("%s: [%s] failed: %s", who, path, fault.reason);
  return h;
}
}  // namespace

void* SysAlloc(size_t n, const JarContext* cx) {
  void* p = JasAlloc(n, cx);
  if (p == nullptr) OutError("SysAlloc: failed");
  return p;
}

void SysFree(void* p, const JarContext* cx) {
  if (JarFree(p, cx) != 0) OutError("SysFree: failed");
}

JILE* FileRopen(const char* path, const JarContext* cx) {
  JarFault fault;
  JILE* h = JarRopen(path, cx, &fault);
  if (h == nullptr) OutError("FileRopen: [%s] failed: %s", path, fault.reason);
  return h;
}

JILE* FileWopen(const char* path, const JarContext* cx) {
  return WriteOpen(path, kFlagDefault, "FileWopen", cx);
}
JILE* FileWopen0(const char* path, const JarContext* cx) {
  return WriteOpen(path, kFlagLz, "FileWopen0", cx);
}
JILE* FileWopenX(const char* path, const JarContext* cx) {
  return WriteOpen(path, kFlagTrial, "FileWopenX", cx);
}
JILE* FileWopenW(const char* path, const JarContext* cx) {
  return WriteOpen(path, kFlagWork, "FileWopenW", cx);
}

void FileClose(JILE* h) {
  // The handle is gone after the close.
  char name[kJarNameSize];
  snprintf(name, sizeof name, "%s", HandleName(h));
  JarFault fault;
  if (JarClose(h, &fault) != 0) OutError("%s", FileFailure("FileClose", name, fault).c_str());
}

int FileGetc(JILE* h) {
  int c = JarGetc(h);
  if (c < 0) HandleFailed("FileGetc", h);
  return c;
}

void FilePutc(int byte, JILE* h) {
  if (JarPutc(byte, h) < 0) HandleFailed("FilePutc", h);
}

void FileRead(void* buffer, int count, JILE* h) {
  if (JarRead(buffer, count, h) < count) HandleFailed("FileRead", h);
}

int FileReadAny(void* buffer, int count, JILE* h) { return JarRead(buffer, count, h); }

void FileWrite(const void* buffer, int count, JILE* h) {
  if (JarWrite(buffer, count, h) < count) HandleFailed("FileWrite", h);
}

void FileWriteCoded(const JarCoded& coded, JILE* h) {
  if (JarWriteCoded(h, coded) == 0) HandleFailed("FileWrite", h);
}

void FileSeek(JILE* h, double position) {
  if (JarSeek(h, position) != 0) HandleFailed("FileSeek", h);
}

void FileRemove(const char* path, const JarContext* cx) {
  JarFault fault;
  if (JarRemove(path, cx, &fault) != 0) OutError("FileRemove: failed [%s]: %s", path, fault.reason);
}

double FileSize(const char* path, const JarContext* cx) {
  JarFault fault;
  double size = JarDiskSize(path, cx, &fault);
  if (size < 0) OutError("FileSize: failed [%s]: %s", path, fault.reason);
  return size;
}

namespace {
void AccError(int errors, const char* message) {
  OutSile("error %+9d = %11d  [%s]\n", 1, errors, message);
}
}  // namespace

void AccStart(JarAccount& account) {
  std::lock_guard<std::mutex> hold(account.lock);
  account.errors = account.errors_max = account.alloc = account.alloc_max = 0;
  account.streams = account.streams_max = 0;
  account.disk = account.disk_max = 0;
  account.log_error = AccError;
}

void AccPass(const JarAccount& a, int pass, int end) {
  if (end == 0) {
    OutSile("// #[ pass %3d : //////////////////////////////////////////////////////////////\n", pass);
    OutSile("\n");
    return;
  }
  OutSile("\n");
  OutSile("pass %3d enderror %11d  max %11d\n", pass, a.errors, a.errors_max);
  OutSile("pass %3d endalloc %11d  max %11d\n", pass, a.alloc, a.alloc_max);
  OutSile("pass %3d endfopen %11d  max %11d\n", pass, a.streams, a.streams_max);
  OutSile("pass %3d endwrite %11.0f  max %11.0f\n", pass, a.disk, a.disk_max);
  OutSile("\n");
  OutSile("// #] pass %3d : \n", pass);
}
