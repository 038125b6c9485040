// The codec's error exit. A damaged record or an impossible encoder state
// leaves the deep coding loops at once: CodecError reports the message through
// the file layer's error routine and throws CodecAbort, which only the two
// entry points BlockEncode and BlockDecode catch. No other code throws.
#pragma once

struct CodecAbort {};

[[noreturn]] void CodecError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Sends this thread's codec messages into `to` (size bytes) instead of the
// file layer, which belongs to the main thread; nullptr ends that. The worker
// thread's encoder reports this way and the main thread passes the message on.
void CodecErrorRedirect(char* to, int size);
