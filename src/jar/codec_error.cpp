#include "jar/codec_error.h"

#include <cstdarg>
#include <cstdio>

#include "jar/jas.h"

namespace {
thread_local char* g_redirect = nullptr;
thread_local int g_redirect_size = 0;
}  // namespace

void CodecErrorRedirect(char* to, int size) {
  g_redirect = to;
  g_redirect_size = size;
}

void CodecError(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (g_redirect != nullptr) {
    snprintf(g_redirect, static_cast<size_t>(g_redirect_size), "%s", text);
  } else {
    JasError("%s", text);
  }
  throw CodecAbort{};
}
