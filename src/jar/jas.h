// The file layer's error reporting and its five hook slots, through which a
// build accounts for errors, memory, open streams and disk bytes.
#pragma once

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
void JasError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The last message formatted by JasError.
const char* JasLastError();
