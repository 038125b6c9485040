// The file layer's services: error reporting, the account through which a
// build counts errors, memory, open streams and disk bytes, the guarded
// allocator, and checked stream operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

// What a build counts of the layer's work: errors, memory held by guarded
// allocations, open streams and disk bytes, each with its peak, and the
// files opened for writing (to be synced before the build records a pass).
// The build owns it and hands it to the operations and handles whose work
// counts; a handle keeps the account it was opened with. nullptr counts
// nothing. Safe from many threads.
struct JarAccount {
  int32_t errors = 0;
  int32_t errors_max = 0;
  int32_t alloc = 0;  // bytes held by guarded allocations, guard overhead included
  int32_t alloc_max = 0;
  int32_t streams = 0;
  int32_t streams_max = 0;
  double disk = 0;  // bytes written minus bytes of files removed
  double disk_max = 0;
  // Writes an error's line to the owner's log, with the count after it.
  void (*log_error)(int errors, const char* message) = nullptr;
  std::vector<std::string> written;  // in order of first opening
  std::mutex lock;
};

// A changed figure of work done on another thread, kept to be applied in a
// fixed order so that the figures do not depend on which thread ran what or
// when. Runs of changes of one sign and kind are kept as one.
struct JarEvent {
  int kind;  // 0 memory, 1 streams, 2 disk
  double delta;
};

// An account as one piece of the work sees it, handed to the layer's
// operations and kept by its handles: its errors, disk bytes and
// written files go to `owner`; its memory and streams too unless `quiet`
// (what the threads hold beyond one thread's share, which the logs leave
// out so that they read the same for any number of threads); with a
// `capture`, memory, stream and disk changes go there instead, to be
// applied later by JarReplay.
struct JarContext {
  JarAccount* owner = nullptr;
  bool quiet = false;
  std::vector<JarEvent>* capture = nullptr;
};

// Applies captured changes to `account` in order, and empties them.
void JarReplay(JarAccount& account, std::vector<JarEvent>& events);

// What went wrong in a failed call of the layer: the message as reported
// (it names the routine and the file); the reason, without the routine's
// name (the system's error text taken when the call failed, or what was
// found wrong), which the checked operations append to their own messages;
// and the block whose record was damaged or could not be read, or -1. A
// handle keeps the fault of its last failed call, an operation by name fills
// the one its caller passes (or none). Each thread's calls fail into their
// own handles and faults.
struct JarFault {
  char message[512] = "";
  char reason[500] = "";
  int32_t block = -1;
  // A reason without a report (the end of the data, a reason kept over later
  // failures); the block is cleared.
  void SetReason(const char* text);
};

// Formats a message of the layer into `fault` (if any), its reason what
// follows the message's "Name: ", and counts it as an error of the
// context's account (if any).
void JasError(const JarContext* cx, JarFault* fault, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Guard words around each guarded allocation.
inline constexpr uint32_t kJasGuardLo = 0x01234567;
inline constexpr uint32_t kJasGuardHi = 0x76543210;
inline constexpr int kJasGuardOverhead = 12;

// n bytes between a size word plus lo guard and a hi guard; null on failure.
// The context counts n + 12 bytes held until JarFree.
void* JasAlloc(size_t n, const JarContext* cx, JarFault* fault = nullptr);
// 0, or 1 null pointer, 2 lo guard damaged, 3 hi guard damaged.
int JarFree(void* p, const JarContext* cx);

// The stream operations name the file in their messages: JasOpen notes the
// name of each stream it opens, JasClose forgets it. The context counts the
// open streams, the bytes written and removed, and the files opened for
// writing. A failure goes to `fault`, if any.
FILE* JasOpen(const char* name, const char* mode, const JarContext* cx, JarFault* fault);
int JasVbuf(FILE* stream, char* buffer, size_t size, const JarContext* cx,
            JarFault* fault);                                       // 0 on success
int JasClose(FILE* stream, const JarContext* cx, JarFault* fault);  // 0 on success
int JasRead(void* buffer, int count, FILE* stream, const JarContext* cx, JarFault* fault);  // bytes read
// Writes abs(count) bytes; a negative count keeps them from the disk figure.
int JasWrite(const void* buffer, int count, FILE* stream, const JarContext* cx,
             JarFault* fault);                                                     // bytes written
int64_t JasTell(FILE* stream, const JarContext* cx, JarFault* fault);              // -1 on failure
int JasSeek(FILE* stream, int64_t offset, const JarContext* cx, JarFault* fault);  // 0 on success
int JasRemove(const char* name, const JarContext* cx, JarFault* fault);            // 0 on success
double JasFileSize(const char* name, const JarContext* cx, JarFault* fault);       // -1 on failure
