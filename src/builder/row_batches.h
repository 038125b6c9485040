// A pass's rows shared among the build's threads. Rows are taken in batches:
// the threads compute a batch's chunks into the batch's own buffers while
// the previous batch is committed (written, piled, counted) in row order, so
// that every file comes out as one thread would write it. Buffers are
// double: batch slot 0 and 1 alternate.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "builder/build.h"
#include "builder/progress.h"
#include "jar/jar_file.h"
#include "jar/jar_format.h"
#include "jar/jas.h"
#include "platform/platform.h"
#include "support/checked_ops.h"

struct RowPlan {
  // Of the pass: 64-bit, since the packing passes of a seven-man endgame
  // have more than 2^31 rows of 64 entries (10 x 64^5).
  int64_t rows;
  int32_t chunk_rows;  // one thread's share of a batch at a time
  int32_t batch_rows;
  int sets;  // resources held by one thread at a time (readers, scratch)
};

// Chunks of about kRowChunkBytes, made of whole blocks of the work files when
// the row size allows, so that no two threads decode the same block.
inline constexpr int32_t kRowChunkBytes = 2 * kBlockSize;
inline constexpr int kRowChunksPerThread = 4;
inline constexpr int kRowSetsMax = 1024;  // the most threads a build uses
// Descriptors left free beside the resource sets: what a pass opens besides
// its readers (outputs, conversion pairs, chop files while the pile flushes
// or merges, logs, RUN, the lock).
inline constexpr int kFilesKept = 64;

// Resource sets of `descriptors` open files each that fit beside what is
// open, at most one per thread and at least one. A set fewer only means a
// thread fewer computing: the results do not depend on it.
inline int SetsThatFit(int descriptors) {
  int sets = PlatThreadCount() < kRowSetsMax ? PlatThreadCount() : kRowSetsMax;
  if (descriptors <= 0) return sets;
  int fit = (PlatFilesFree() - kFilesKept) / descriptors;
  fit = fit < 1 ? 1 : fit;
  return fit < sets ? fit : sets;
}

// `readers` is the number of input files each set holds open.
inline RowPlan PlanRows(int64_t rows, int32_t row_bytes, int readers = 0) {
  int32_t a = row_bytes, c = kBlockSize;
  while (c != 0) {
    int32_t t = a % c;
    a = c;
    c = t;
  }
  int64_t unit = kBlockSize / a;  // rows that fill whole blocks
  if (unit * row_bytes > 4 * static_cast<int64_t>(kRowChunkBytes)) unit = 1;
  int64_t chunk = kRowChunkBytes / (unit * row_bytes);
  chunk = (chunk < 1 ? 1 : chunk) * unit;
  RowPlan p;
  p.rows = rows;
  p.chunk_rows = static_cast<int32_t>(chunk);
  p.sets = SetsThatFit(readers * kJarReadStreams);
  int64_t batch = chunk * kRowChunksPerThread * p.sets;
  p.batch_rows = static_cast<int32_t>(batch < rows ? batch : rows < 1 ? 1 : rows);
  return p;
}

// Opens each of `count` input files once per resource set of the plan
// (set s's at s * count). Each is positioned now, on the calling thread,
// rather than in a reading thread; only set 0's are counted, as one reading
// thread's always were.
inline JILE** OpenSetReaders(Build& b, const RowPlan& p, const char* const* names, int count) {
  JILE** files = static_cast<JILE**>(SysAlloc(sizeof(JILE*) * p.sets * count, &b.quiet));
  for (int s = 0; s < p.sets; s++) {
    for (int f = 0; f < count; f++) {
      JILE* h = FileRopen(names[f], s == 0 ? &b.counted : &b.quiet);
      if (p.rows > 0) FileSeek(h, 0);
      files[s * count + f] = h;
    }
  }
  return files;
}

inline void CloseSetReaders(Build& b, const RowPlan& p, JILE** files, int count) {
  for (int i = p.sets * count - 1; i >= 0; i--) FileClose(files[i]);
  SysFree(files, &b.quiet);
}

// Runs a pass's rows. prepare(slot, first, count) readies a batch's
// sequential inputs, in row order, before the batch is computed;
// compute(slot, set, first, count) computes some rows of the batch in `slot`
// holding resource set `set` alone; commit(slot, first, count) takes a batch
// in row order (`first` is 64-bit; passes whose rows fit in 32 bits take it
// as int32_t). While a batch computes, one thread commits the batch before
// it and then prepares the batch after it (in the other slot): the
// sequential work runs beside the computing, in the order one thread would
// do it. redo() runs on the calling thread after the batch is computed; when
// it says so, the batch is computed again (its rows found something missing
// that redo() has since made). Progress ticks `units` per row (none when 0)
// on the calling thread between batches, where a manual abort takes effect.
template <class Prepare, class Compute, class Commit, class Redo>
void RunRows(const RowPlan& p, ProgState& prog, int32_t units, Prepare&& prepare, Compute&& compute,
             Commit&& commit, Redo&& redo) {
  auto batch_size = [&](int64_t first) {
    int64_t count = p.rows - first < p.batch_rows ? p.rows - first : p.batch_rows;
    return static_cast<int32_t>(count < 0 ? 0 : count);
  };
  int64_t done_first = 0;
  int32_t done_count = 0;
  int slot = 0;
  if (batch_size(0) > 0) prepare(slot, 0, batch_size(0));
  for (int64_t first = 0;; first += p.batch_rows) {
    const int32_t count = batch_size(first);
    const int32_t next = count > 0 ? batch_size(first + p.batch_rows) : 0;
    const int chunks = static_cast<int>((count + p.chunk_rows - 1) / p.chunk_rows);
    // One worker per resource set takes chunks until none is left, so that
    // no thread waits for a set: with fewer sets than threads the others
    // find no work.
    const int workers = chunks < p.sets ? chunks : p.sets;
    std::atomic<int> taken{0};
    auto work = [&](int set) {
      for (int i = taken.fetch_add(1); i < chunks; i = taken.fetch_add(1)) {
        int64_t f = first + int64_t{i} * p.chunk_rows;
        int32_t n =
            static_cast<int32_t>(first + count - f < p.chunk_rows ? first + count - f : p.chunk_rows);
        compute(slot, set, f, n);
      }
    };
    PlatParallel(workers + 1, [&](int i) {
      if (i > 0) {
        work(i - 1);
        return;
      }
      if (done_count > 0) commit(slot ^ 1, done_first, done_count);
      if (next > 0) prepare(slot ^ 1, first + p.batch_rows, next);
    });
    while (count > 0 && redo()) {
      taken.store(0);
      PlatParallel(workers, [&](int set) { work(set); });
    }
    for (int32_t r = 0; units != 0 && r < done_count; r++) ProgTick(prog, units);
    if (count == 0) break;
    done_first = first;
    done_count = count;
    slot ^= 1;
  }
}

template <class Prepare, class Compute, class Commit>
void RunRows(const RowPlan& p, ProgState& prog, int32_t units, Prepare&& prepare, Compute&& compute,
             Commit&& commit) {
  RunRows(p, prog, units, prepare, compute, commit, [] { return false; });
}
