#include "jar/codec_error.h"

#include <cstdarg>
#include <cstdio>

void CodecError(const char* format, ...) {
  CodecAbort abort;
  va_list args;
  va_start(args, format);
  vsnprintf(abort.message, sizeof abort.message, format, args);
  va_end(args);
  throw abort;
}
