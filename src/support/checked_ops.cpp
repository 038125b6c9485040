#include "support/checked_ops.h"

#include <cstdio>

#include "jar/jas.h"
#include "support/console.h"

std::string FileFailure(const char* who, const char* name) {
  char text[1400];
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
JILE* WriteOpen(const char* path, int flags, const char* who, const JarContext* cx) {
  JILE* h = JarWopen(path, flags, cx);
  if (h == nullptr) OutError("%s: [%s] failed: %s", who, path, JasLastReason());
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
  JILE* h = JarRopen(path, cx);
  if (h == nullptr) OutError("FileRopen: [%s] failed: %s", path, JasLastReason());
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
  if (JarClose(h) != 0) OutError("%s", FileFailure("FileClose", name).c_str());
}

int FileGetc(JILE* h) {
  int c = JarGetc(h);
  if (c < 0) OutError("%s", FileFailure("FileGetc", HandleName(h)).c_str());
  return c;
}

void FilePutc(int byte, JILE* h) {
  if (JarPutc(byte, h) < 0) OutError("%s", FileFailure("FilePutc", HandleName(h)).c_str());
}

void FileRead(void* buffer, int count, JILE* h) {
  if (JarRead(buffer, count, h) < count) OutError("%s", FileFailure("FileRead", HandleName(h)).c_str());
}

int FileReadAny(void* buffer, int count, JILE* h) { return JarRead(buffer, count, h); }

void FileWrite(const void* buffer, int count, JILE* h) {
  if (JarWrite(buffer, count, h) < count)
    OutError("%s", FileFailure("FileWrite", HandleName(h)).c_str());
}

void FileWriteCoded(const JarCoded& coded, JILE* h) {
  if (JarWriteCoded(h, coded) == 0) OutError("%s", FileFailure("FileWrite", HandleName(h)).c_str());
}

void FileSeek(JILE* h, double position) {
  if (JarSeek(h, position) != 0) OutError("%s", FileFailure("FileSeek", HandleName(h)).c_str());
}

void FileRemove(const char* path, const JarContext* cx) {
  if (JarRemove(path, cx) != 0) OutError("FileRemove: failed [%s]: %s", path, JasLastReason());
}

double FileSize(const char* path, const JarContext* cx) {
  double size = JarDiskSize(path, cx);
  if (size < 0) OutError("FileSize: failed [%s]: %s", path, JasLastReason());
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
