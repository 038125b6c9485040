// Checked allocation and file operations: each forwards to the compressed
// file layer and ends the process with a message naming the operation when
// the layer fails. During a build the layer counts into the build's account,
// whose figures go to the .LOS log at the end of each pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "jar/jar_file.h"
#include "jar/jas.h"

// The context, when there is one, counts the memory, streams and disk bytes
// of the operation and of the handles it opens (a build's accounting).
void* SysAlloc(size_t n, const JarContext* cx = nullptr);
void SysFree(void* p, const JarContext* cx = nullptr);

JILE* FileRopen(const char* path, const JarContext* cx = nullptr);
JILE* FileWopen(const char* path, const JarContext* cx = nullptr);   // default block coding
JILE* FileWopen0(const char* path, const JarContext* cx = nullptr);  // coding flags 2
// Coding flags 128: best of five methods per block.
JILE* FileWopenX(const char* path, const JarContext* cx = nullptr);
// A build's work files: cheap coding (stored or plain run-length), for files read
// back once or twice and then removed.
JILE* FileWopenW(const char* path, const JarContext* cx = nullptr);
void FileClose(JILE* h);
int FileGetc(JILE* h);
void FilePutc(int byte, JILE* h);
void FileRead(void* buffer, int count, JILE* h);
int FileReadAny(void* buffer, int count, JILE* h);  // a short read is the caller's
void FileWrite(const void* buffer, int count, JILE* h);
void FileWriteCoded(const JarCoded& coded, JILE* h);  // a block JarCode coded
void FileSeek(JILE* h, double position);
void FileRemove(const char* path, const JarContext* cx = nullptr);
double FileSize(const char* path, const JarContext* cx = nullptr);

// Makes `account` a build's: zeroed, its errors logged to the .LOS log.
void AccStart(JarAccount& account);
// Marks the start (end 0) or the end (end 1, with the figures) of a pass.
void AccPass(const JarAccount& account, int pass, int end);
