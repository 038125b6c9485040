// The file layer's services: error reporting, the five hook slots through
// which a build accounts for errors, memory, open streams and disk bytes,
// the guarded allocator, and checked stream operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

using JarErrorHook = void (*)(const char* message);
using JarAllocHook = void (*)(int delta);
using JarFopenHook = void (*)(int delta, FILE* stream, const char* mode, const char* name);
using JarWriteHook = void (*)(double delta);
using JarRemoveHook = void (*)(double size, const char* name);

void JarHookError(JarErrorHook hook);
void JarHookAlloc(JarAllocHook hook);
void JarHookFopen(JarFopenHook hook);
void JarHookWrite(JarWriteHook hook);
void JarHookRemove(JarRemoveHook hook);

struct JarHooks {
  JarErrorHook error;
  JarAllocHook alloc;
  JarFopenHook fopen;
  JarWriteHook write;
  JarRemoveHook remove;
};
extern JarHooks g_jar_hooks;

// Formats a message of the layer and hands it to the error hook, if any.
// What follows the message's "Name: " becomes the reason of the failure.
void JasError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The last message formatted by JasError.
const char* JasLastError();
// Why the layer's last failure happened, without the name of the routine:
// the system's error text, captured when the call failed, or what was found
// wrong. The checked operations append it to their messages.
const char* JasLastReason();
// Sets the reason without reporting an error (the end of the data, a reason
// kept over later failures).
void JasSetReason(const char* reason);
// The block whose record the last failure found damaged or could not read,
// or -1 (every error report and every reason set clears it).
int JasLastBlock();
void JasSetBlock(int block);

// Guard words around each guarded allocation.
inline constexpr uint32_t kJasGuardLo = 0x01234567;
inline constexpr uint32_t kJasGuardHi = 0x76543210;
inline constexpr int kJasGuardOverhead = 12;

// n bytes between a size word plus lo guard and a hi guard; null on failure.
void* JasAlloc(size_t n);
// 0, or 1 null pointer, 2 lo guard damaged, 3 hi guard damaged.
int JarFree(void* p);

// The stream operations name the file in their messages: JasOpen notes the
// name of each stream it opens, JasClose forgets it.
FILE* JasOpen(const char* name, const char* mode);
int JasVbuf(FILE* stream, char* buffer, size_t size);     // 0 on success
int JasClose(FILE* stream);                               // 0 on success
int JasRead(void* buffer, int count, FILE* stream);       // bytes read
// Writes abs(count) bytes; a negative count keeps them from the write hook.
int JasWrite(const void* buffer, int count, FILE* stream);  // bytes written
int64_t JasTell(FILE* stream);                            // -1 on failure
int JasSeek(FILE* stream, int64_t offset);                // 0 on success
int JasRemove(const char* name);                          // 0 on success
double JasFileSize(const char* name);                     // -1 on failure
