#include "jar/codec_error.h"

#include <cstdarg>
#include <cstdio>

#include "jar/jas.h"

void CodecError(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  JasError("%s", text);
  throw CodecAbort{};
}
