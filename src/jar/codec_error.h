// The codec's error exit. A damaged record or an impossible encoder state
// leaves the deep coding loops at once: CodecError throws CodecAbort with the
// message, which only the codec's entry points catch (BlockEncode and
// BlockDecode report it through the file layer; their silent forms, run on
// other threads, keep it for the caller to report). No other code throws.
#pragma once

struct CodecAbort {
  char message[256];
};

[[noreturn]] void CodecError(const char* format, ...) __attribute__((format(printf, 1, 2)));
