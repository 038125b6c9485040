#include "jar/jas.h"

#include <cstdarg>
#include <cstdio>

JarHooks g_jar_hooks = {nullptr, nullptr, nullptr, nullptr, nullptr};

namespace {
char g_error_text[512];
}

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
