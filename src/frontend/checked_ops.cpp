#include "frontend/checked_ops.h"

#include "frontend/console.h"
#include "jar/jas.h"

AccState g_acc;

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
  if (h == nullptr) OutError("FileRopen: [%s] failed", path);
  return h;
}

JILE* FileWopen(const char* path) {
  JILE* h = JarWopen(path, kCodeDefault);
  if (h == nullptr) OutError("FileWopen: [%s] failed", path);
  return h;
}

JILE* FileWopen0(const char* path) {
  JILE* h = JarWopen(path, kCodeFlag2);
  if (h == nullptr) OutError("FileWopen0: [%s] failed", path);
  return h;
}

JILE* FileWopenX(const char* path) {
  JILE* h = JarWopen(path, kCodeBest);
  if (h == nullptr) OutError("FileWopenX: [%s] failed", path);
  return h;
}

void FileClose(JILE* h) {
  if (JarClose(h) != 0) OutError("FileClose: failed");
}

int FileGetc(JILE* h) {
  int c = JarGetc(h);
  if (c < 0) OutError("FileGetc: failed");
  return c;
}

void FilePutc(int byte, JILE* h) {
  if (JarPutc(byte, h) < 0) OutError("FilePutc: failed");
}

void FileRead(void* buffer, int count, JILE* h) {
  if (JarRead(buffer, count, h) < count) OutError("FileRead: failed");
}

int FileReadAny(void* buffer, int count, JILE* h) { return JarRead(buffer, count, h); }

void FileWrite(const void* buffer, int count, JILE* h) {
  if (JarWrite(buffer, count, h) < count) OutError("FileWrite: failed");
}

void FileSeek(JILE* h, double position) {
  if (JarSeek(h, position) != 0) OutError("FileSeek: failed");
}

void FileRemove(const char* path) {
  if (JarRemove(path) != 0) OutError("FileRemove: failed");
}

double FileSize(const char* path) {
  double size = JarDiskSize(path);
  if (size < 0) OutError("FileSize: failed");
  return size;
}

void AccError(const char* message) {
  g_acc.errors += 1;
  if (g_acc.errors >= g_acc.errors_max) g_acc.errors_max = g_acc.errors;
  OutSile("error %+9d = %11d  [%s]\n", 1, g_acc.errors, message);
}

void AccAlloc(int delta) {
  g_acc.alloc += delta;
  if (g_acc.alloc >= g_acc.alloc_max) g_acc.alloc_max = g_acc.alloc;
}

void AccFopen(int delta, FILE* stream, const char* mode, const char* name) {
  g_acc.streams += delta;
  if (g_acc.streams >= g_acc.streams_max) g_acc.streams_max = g_acc.streams;
}

void AccWrite(double delta) {
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
