#include "builder/pile.h"

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "builder/build.h"
#include "builder/progress.h"
#include "builder/row_batches.h"
#include "builder/work_names.h"
#include "index/names.h"
#include "index/position_index.h"
#include "platform/platform.h"
#include "support/checked_ops.h"
#include "support/console.h"

namespace {

constexpr int32_t kRadixMin = 500;    // smaller ranges are sorted by comparison
constexpr int32_t kQuickLeave = 10;   // quicksort leaves parts this small
constexpr int32_t kInsertReach = 10;  // no record is further from its place

inline int KeyByte(uint64_t key, int byte) { return static_cast<int>(key >> (8 * byte)) & 255; }

inline uint32_t KeyRow(uint64_t key) { return static_cast<uint32_t>(key >> 32); }
inline uint32_t KeyColumn(uint64_t key) { return static_cast<uint32_t>(key); }

// A chop code of one byte that moves on to a later column of the same row
// (by code / 2): most records are one.
inline bool ColumnStep(uint32_t code) { return code < 128 && (code & 1) == 0; }

// In-place distribution of a range into its 256 buckets by one key byte.
void PipDistr(uint64_t* r, const int32_t* start, int byte) {
  int32_t next[256];
  memcpy(next, start, sizeof next);
  for (int b = 0; b < 256; b++) {
    while (next[b] < start[b + 1]) {
      uint64_t x = r[next[b]];
      int p = KeyByte(x, byte);
      while (p != b) {
        uint64_t y = r[next[p]];
        r[next[p]++] = x;
        x = y;
        p = KeyByte(x, byte);
      }
      r[next[b]++] = x;
    }
  }
  for (int b = 0; b < 256; b++) {
    if (next[b] != start[b + 1]) OutError("PipDistr: BUG");
  }
}

// Counts the values of one key byte over a range; returns how many values occur.
int PipCount(const uint64_t* r, int32_t count, int byte, int32_t* start) {
  int32_t n[256] = {0};
  for (int32_t i = 0; i < count; i++) n[KeyByte(r[i], byte)]++;
  int used = 0;
  start[0] = 0;
  for (int b = 0; b < 256; b++) {
    if (n[b] != 0) used++;
    start[b + 1] = start[b] + n[b];
  }
  if (used == 0) OutError("PipCount: BUG 1");
  if (start[256] != count) OutError("PipCount: BUG 2");
  return used;
}

inline void Order(uint64_t* a, uint64_t* b) {
  if (*b < *a) {
    uint64_t t = *a;
    *a = *b;
    *b = t;
  }
}

// Quicksort that leaves parts of at most kQuickLeave records unsorted; the
// insertion sort that follows finishes them.
void QuickSort(uint64_t* r, int32_t lo, int32_t hi) {
  while (hi - lo + 1 > kQuickLeave) {
    int32_t mid = lo + (hi - lo) / 2;
    Order(&r[lo], &r[mid]);
    Order(&r[mid], &r[hi]);
    Order(&r[lo], &r[mid]);
    uint64_t pivot = r[mid];
    int32_t i = lo, j = hi;
    while (i <= j) {
      while (r[i] < pivot) i++;
      while (r[j] > pivot) j--;
      if (i <= j) {
        uint64_t t = r[i];
        r[i] = r[j];
        r[j] = t;
        i++;
        j--;
      }
    }
    // Recurse into the smaller part so the stack stays shallow.
    if (j - lo < hi - i) {
      if (j - lo + 1 > kQuickLeave) QuickSort(r, lo, j);
      lo = i;
    } else {
      if (hi - i + 1 > kQuickLeave) QuickSort(r, i, hi);
      hi = j;
    }
  }
}

void ChopFlushBuffer(ChopStream* w) {
  if (w->fill > 0) FileWrite(w->buffer, w->fill, w->file);
  w->fill = 0;
}

void CountChop(PileState& pile, int level, const char* path, const JarContext* cx) {
  pile.level_files[level]++;
  pile.level_bytes[level] += FileSize(path, cx);
}

// Chops left behind by an interrupted run of a pass: the rerun starts its
// numbering again, so they would never be merged or removed.
void RemoveStaleChops(const Build& b) {
  std::string name = FpakName(b.basi.name, 0, 0).text;
  size_t slash = name.rfind(kPathSep);
  std::string dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
  // Index and chunk files alike: a chop whose writing was cut short has an
  // index file that does not count its chunks yet.
  for (const std::string& f : PlatFindFiles((dir + "L[0-9]C[0-9][0-9][0-9][0-9][0-9].*").c_str())) {
    PlatRemove((dir + f).c_str());
  }
}

// Index of the reader holding the smallest current record (the lowest index
// among equals), or -1 when all are finished.
int Smallest(const uint64_t* head, const int* live, int n) {
  int best = -1;
  for (int i = 0; i < n; i++) {
    if (live[i] != 0 && (best < 0 || head[i] < head[best])) best = i;
  }
  return best;
}

}  // namespace

void SubInsert(uint64_t* r, int32_t first, int32_t count) {
  for (int32_t i = first + 1; i < first + count; i++) {
    uint64_t x = r[i];
    int32_t j = i;
    while (j > first && r[j - 1] > x) {
      r[j] = r[j - 1];
      j--;
    }
    if (i - j > kInsertReach) OutError("SubInsert: %d -> %d", i, j);
    r[j] = x;
  }
}

void PileSort(uint64_t* r, int32_t count, int byte) {
  while (count >= kRadixMin && byte >= 1) {
    int32_t start[257];
    if (PipCount(r, count, byte, start) == 1) {
      byte--;
      continue;
    }
    PipDistr(r, start, byte);
    for (int b = 0; b < 256; b++) {
      int32_t n = start[b + 1] - start[b];
      if (n > 1) PileSort(r + start[b], n, byte - 1);
    }
    return;
  }
  if (count < kQuickLeave + 1) {
    SubInsert(r, 0, count);
    return;
  }
  QuickSort(r, 0, count - 1);
  SubInsert(r, 0, count);
}

namespace {

inline int Width(uint32_t x) { return x == 0 ? 0 : 32 - __builtin_clz(x); }

// The bits in which the keys of one half (row or column) differ: from bit
// `low`, `width` of them. Constant bits order nothing, so they stay out.
struct Field {
  int low;
  int width;
  uint32_t mask;
};

Field VaryingBits(uint32_t any, uint32_t all) {
  uint32_t diff = any ^ all;
  Field f{diff == 0 ? 0 : __builtin_ctz(diff), 0, 0};
  f.width = Width(diff >> f.low);
  f.mask = f.width == 32 ? ~0u : (1u << f.width) - 1;
  return f;
}

}  // namespace

uint64_t* PileSortRadix(uint64_t* r, uint64_t* scratch, int32_t count) {
  if (count < kRadixMin) {
    PileSort(r, count, 7);
    return r;
  }
  uint32_t any[2] = {0, 0}, all[2] = {~0u, ~0u};
  for (int32_t i = 0; i < count; i++) {
    any[0] |= KeyColumn(r[i]);
    all[0] &= KeyColumn(r[i]);
    any[1] |= KeyRow(r[i]);
    all[1] &= KeyRow(r[i]);
  }
  const Field col = VaryingBits(any[0], all[0]), row = VaryingBits(any[1], all[1]);
  // The dense key: the row's varying bits above the column's.
  auto dense = [&](uint64_t key) {
    return static_cast<uint64_t>((KeyRow(key) >> row.low) & row.mask) << col.width |
           ((KeyColumn(key) >> col.low) & col.mask);
  };
  constexpr int kDigitMax = 11;
  const int bits = row.width + col.width;
  const int passes = (bits + kDigitMax - 1) / kDigitMax;
  if (passes == 0) return r;  // all keys equal
  const int digit = (bits + passes - 1) / passes;
  const uint64_t digit_mask = (uint64_t{1} << digit) - 1;
  int32_t counts[(64 + kDigitMax - 1) / kDigitMax][1 << kDigitMax];
  memset(counts, 0, sizeof counts[0] * passes);
  for (int32_t i = 0; i < count; i++) {
    uint64_t d = dense(r[i]);
    for (int p = 0; p < passes; p++) counts[p][(d >> (p * digit)) & digit_mask]++;
  }
  uint64_t* from = r;
  uint64_t* to = scratch;
  for (int p = 0; p < passes; p++) {
    int32_t* start = counts[p];
    // A digit all keys share leaves the order as it is.
    if (start[(dense(r[0]) >> (p * digit)) & digit_mask] == count) continue;
    int32_t sum = 0;
    for (uint64_t v = 0; v <= digit_mask; v++) {
      int32_t n = start[v];
      start[v] = sum;
      sum += n;
    }
    for (int32_t i = 0; i < count; i++) {
      uint64_t key = from[i];
      to[start[(dense(key) >> (p * digit)) & digit_mask]++] = key;
    }
    uint64_t* t = from;
    from = to;
    to = t;
  }
  return from;
}

void PipTest(const uint64_t* r, int32_t count) {
  for (int32_t i = 1; i < count; i++) {
    if (r[i] <= r[i - 1]) OutError("PipTest: fail at %d", i);
  }
}

int ChopPutCode(uint32_t v, uint8_t* out) {
  if (v < 128) {
    out[0] = static_cast<uint8_t>(v);
    return 1;
  }
  if (v < 8192) {
    out[0] = static_cast<uint8_t>(128 + (v >> 8));
    out[1] = static_cast<uint8_t>(v);
    return 2;
  }
  if (v < 2097152) {
    out[0] = static_cast<uint8_t>(160 + (v >> 16));
    out[1] = static_cast<uint8_t>(v >> 8);
    out[2] = static_cast<uint8_t>(v);
    return 3;
  }
  out[0] = 192;
  out[1] = static_cast<uint8_t>(v >> 24);
  out[2] = static_cast<uint8_t>(v >> 16);
  out[3] = static_cast<uint8_t>(v >> 8);
  out[4] = static_cast<uint8_t>(v);
  return 5;
}

void ChopCreate(ChopStream* w, const char* path, const JarContext* cx) {
  memset(w, 0, sizeof *w);
  w->file = FileWopenW(path, cx);
  w->open = 1;
}

void PilePutHaha(uint64_t key, ChopStream* w) {
  uint32_t row = KeyRow(key), column = KeyColumn(key);
  if (row < w->last_row) OutError("PilePutHaha: hi gap < 0");
  if (row == w->last_row) {
    uint32_t gap = column - w->last_column;
    if (gap >= 0x80000000u) OutError("PilePutHaha: lo gap big");
    w->fill += ChopPutCode(gap * 2, w->buffer + w->fill);
    w->last_column = column;
  } else {
    uint32_t rows = row - w->last_row;
    if (rows > 0x3fffffff) OutError("PilePutHaha: hi gap big");
    bool below = column < w->base_column;
    uint32_t gap = below ? w->base_column - column : column - w->base_column;
    if (gap >= 0x80000000u) OutError("PilePutHaha: lo gap big (2)");
    w->fill += ChopPutCode(rows * 4 + (below ? 3 : 1), w->buffer + w->fill);
    w->fill += ChopPutCode(gap * 2, w->buffer + w->fill);
    w->last_row = row;
    w->base_column = column;
    w->last_column = column;
  }
  if (w->fill >= kChopFlushAt) ChopFlushBuffer(w);
}

void ChopCloseWriter(ChopStream* w) {
  ChopFlushBuffer(w);
  FileClose(w->file);
  w->file = nullptr;
  w->open = 0;
}

void ChopOpenReader(ChopStream* r, const char* path, const JarContext* cx) {
  memset(r, 0, sizeof *r);
  r->file = FileRopen(path, cx);
  r->open = 1;
}

void ChopCloseReader(ChopStream* r) {
  FileClose(r->file);
  r->file = nullptr;
  r->open = 0;
}

int PileGet(ChopStream* r, uint64_t* key) {
  int32_t left = r->valid - r->fill;
  if (left < kChopRefillBelow) {
    memmove(r->buffer, r->buffer + r->fill, left);
    r->fill = 0;
    r->valid = left + FileReadAny(r->buffer + left, kChopBuffer - left, r->file);
    if (r->valid == 0) return 0;
  }
  // Most records are the next column but a few of the same row: one byte.
  const uint32_t first = r->buffer[r->fill];
  if (ColumnStep(first)) {
    r->fill++;
    r->last_column += first >> 1;
    *key = PileKey(r->last_column, r->last_row);
    return 1;
  }
  // A record is at most two codes of five bytes; a chop that ends inside
  // one is damaged.
  const uint8_t* p = r->buffer + r->fill;
  const uint8_t* end = r->buffer + r->valid;
  uint32_t code[2];
  for (int k = 0; k < 2; k++) {
    if (p >= end) OutError("PileGet: chop ends inside a record");
    uint32_t b = *p++;
    if (b >= 128) {
      b -= 128;
      int more = 1;
      if (b >= 32) {
        b -= 32;
        more = 2;
        if (b >= 32) {
          b -= 32;
          more = 4;
        }
      }
      if (end - p < more) OutError("PileGet: chop ends inside a record");
      for (int i = 0; i < more; i++) b = b << 8 | *p++;
    }
    code[k] = b;
    if (k == 0 && (b & 1) == 0) break;
  }
  if ((code[0] & 1) == 0) {
    r->last_column += code[0] >> 1;
  } else {
    r->last_row += code[0] >> 2;
    if ((code[0] & 2) != 0) {
      r->base_column -= code[1] >> 1;
    } else {
      r->base_column += code[1] >> 1;
    }
    r->last_column = r->base_column;
  }
  r->fill = static_cast<int32_t>(p - r->buffer);
  *key = PileKey(r->last_column, r->last_row);
  return 1;
}

void PileOpen(Build& b, int32_t capacity) {
  PileState& pile = b.pile;
  memset(&pile, 0, sizeof pile);
  pile.buffer = static_cast<uint64_t*>(SysAlloc(static_cast<size_t>(capacity) * 8, &b.counted));
  pile.scratch = static_cast<uint64_t*>(SysAlloc(static_cast<size_t>(capacity) * 8, &b.counted));
  pile.capacity = capacity;
  RemoveStaleChops(b);
}

void PilePush(Build& b, uint32_t column, uint32_t row) {
  PileState& pile = b.pile;
  if (pile.count >= pile.capacity) PileFlush(b);
  pile.buffer[pile.count++] = PileKey(column, row);
}

namespace {

// The 16 squares of the two long diagonals. A result whose row king stands
// there reaches the pile twice, once from each of its two mirror-image
// entries, so only the first candidate of each is pushed.
constexpr uint64_t kLongDiagonals = 0x8142241818244281ull;

inline bool OnLongDiagonal(uint32_t config, int bits) {
  return ((kLongDiagonals >> ((config >> (bits - 6)) & 63)) & 1) != 0;
}

}  // namespace

template <Layout layout>
void PileAdd(Build& b, uint32_t hashw, uint32_t hashz) {
  constexpr bool white = layout == kWhiteRows;
  const Basi& basi = b.basi;
  int32_t out[4];
  (white ? ReduceW : ReduceZ)(static_cast<int32_t>(hashw), static_cast<int32_t>(hashz), &basi, out);
  int32_t rows = white ? basi.numw : basi.numz;
  // The unreduced side's configuration decides the mirror-image duplicate.
  bool diagonal = white ? OnLongDiagonal(hashz, basi.zbits) : OnLongDiagonal(hashw, basi.wbits);
  if (out[1] < rows) PilePush(b, out[0], out[1]);
  if (out[3] < rows && !diagonal) PilePush(b, out[2], out[3]);
}
template void PileAdd<kWhiteRows>(Build& b, uint32_t hashw, uint32_t hashz);
template void PileAdd<kBlackRows>(Build& b, uint32_t hashw, uint32_t hashz);

void PileFlush(Build& b) {
  PileState& pile = b.pile;
  if (pile.count == 0) return;
  const uint64_t* sorted = PileSortRadix(pile.buffer, pile.scratch, pile.count);
  PipTest(sorted, pile.count);
  WorkPath path = FpakName(b.basi.name, 0, pile.chops);
  ChopCreate(&pile.writer, path, &b.counted);
  for (int32_t i = 0; i < pile.count; i++) PilePutHaha(sorted[i], &pile.writer);
  ChopCloseWriter(&pile.writer);
  CountChop(pile, 0, path, &b.counted);
  pile.count = 0;
  pile.chops++;
}

void PileClose(Build& b) {
  PileFlush(b);
  SysFree(b.pile.buffer, &b.counted);
  SysFree(b.pile.scratch, &b.counted);
  b.pile.buffer = nullptr;
  b.pile.scratch = nullptr;
}

namespace {

// Merges chops first to first + count - 1 of `level` into chop `out` of the
// next level through the given streams, and removes them, counting to `cx`.
void MergeGroup(const char* name, int level, int first, int count, int out, ChopStream* readers,
                ChopStream* writer, const JarContext* cx) {
  uint64_t head[kPileMergeWidth];
  int live[kPileMergeWidth];
  for (int i = 0; i < count; i++) {
    ChopOpenReader(&readers[i], FpakName(name, level, first + i), cx);
    live[i] = PileGet(&readers[i], &head[i]);
  }
  ChopCreate(writer, FpakName(name, level + 1, out), cx);
  for (int i; (i = Smallest(head, live, count)) >= 0;) {
    PilePutHaha(head[i], writer);
    live[i] = PileGet(&readers[i], &head[i]);
  }
  ChopCloseWriter(writer);
  for (int i = 0; i < count; i++) {
    ChopCloseReader(&readers[i]);
    FileRemove(FpakName(name, level, first + i), cx);
  }
}

}  // namespace

void MergLevel(Build& b) {
  PileState& pile = b.pile;
  for (;;) {
    OutSile("MergLevel %2d", pile.level);
    OutSile("  files %3d", pile.level_files[pile.level]);
    OutSile("  bytes %10.0f", pile.level_bytes[pile.level]);
    OutSile("\n");
    if (pile.chops <= kPileMergeWidth) return;
    const int groups = (pile.chops + kPileMergeWidth - 1) / kPileMergeWidth;
    auto size = [&](int g) {
      int first = g * kPileMergeWidth;
      return pile.chops - first < kPileMergeWidth ? pile.chops - first : kPileMergeWidth;
    };
    // The groups are merged on all threads (as many as have descriptors for
    // a group's chops and its output); what each does to the build's
    // accounting is then applied group by group, as one thread would have.
    const int fit = SetsThatFit((kPileMergeWidth + 1) * kJarReadStreams);
    const int workers = fit < groups ? fit : groups;
    std::vector<std::vector<JarEvent>> logs(groups);
    std::vector<ChopStream> streams(static_cast<size_t>(workers) * (kPileMergeWidth + 1));
    std::atomic<int> next{0};
    PlatParallel(workers, [&](int t) {
      ChopStream* mine = &streams[static_cast<size_t>(t) * (kPileMergeWidth + 1)];
      for (int g; (g = next.fetch_add(1)) < groups;) {
        const JarContext captured{&b.account, false, &logs[g]};
        MergeGroup(b.basi.name, pile.level, g * kPileMergeWidth, size(g), g, mine,
                   mine + kPileMergeWidth, &captured);
      }
    });
    for (int g = 0; g < groups; g++) {
      OutCons("\rChop%5d ->%5d ", pile.chops, g + 1);
      JarReplay(b.account, logs[g]);
      CountChop(pile, pile.level + 1, FpakName(b.basi.name, pile.level + 1, g), &b.counted);
    }
    pile.level++;
    pile.chops = groups;
  }
}

namespace {

// Rows of NEWF made at a time when several threads read the chops.
constexpr int32_t kNewfBatchBytes = 1 << 18;

// Sets in `map` the columns of the reader's records of row `row`, from its
// current one (`*head`, while `*live`) on, and reads on to the first record
// of a later row. Records of one byte (the next column but a few) are read
// here, without a call each.
void RowBits(ChopStream* r, uint64_t* head, int* live, uint32_t row, uint8_t* map, uint32_t columns) {
  while (*live != 0 && KeyRow(*head) == row) {
    uint32_t c = KeyColumn(*head);
    for (;;) {
      if (c >= columns) OutError("NewfWrite: column oor");
      BitSet(map, c);
      if (r->valid - r->fill < kChopRefillBelow) break;
      const uint32_t code = r->buffer[r->fill];
      if (!ColumnStep(code)) break;
      r->fill++;
      c += code >> 1;
    }
    r->last_column = c;
    *live = PileGet(r, head);
  }
}

}  // namespace

void NewfWrite(Build& b, int pass, Layout layout) {
  PileState& pile = b.pile;
  b.prog.mark1 = ClockCs(0) - b.prog.start;
  MergLevel(b);
  int n = pile.chops;
  uint64_t head[kPileMergeWidth];
  int live[kPileMergeWidth];
  for (int i = 0; i < n; i++) {
    ChopOpenReader(&pile.readers[i], FpakName(b.basi.name, pile.level, i), &b.counted);
    live[i] = PileGet(&pile.readers[i], &head[i]);
  }
  int32_t rows = LayoutRows(b.basi, layout);
  int32_t columns = LayoutColumns(b.basi, layout);
  int32_t bytes = LayoutRowBytes(b.basi, layout);
  JILE* out = FileWopenW(FlocName(b.basi.name, kTagNew, pass), &b.counted);
  // A row's bits are the union of its records in every chop, so each chop
  // gives its records of the row in turn, without merging them. A batch of
  // rows at a time: with several threads each reads some of the chops into
  // its own maps, which are then joined.
  const int workers = n == 0 ? 1 : PlatThreadCount() < n ? PlatThreadCount() : n;
  const int32_t batch = bytes >= kNewfBatchBytes ? 1 : kNewfBatchBytes / bytes;
  const size_t batch_bytes = static_cast<size_t>(batch) * bytes;
  uint8_t* maps = static_cast<uint8_t*>(SysAlloc(batch_bytes * workers, &b.quiet));
  for (int32_t first = 0; first < rows; first += batch) {
    const int32_t count = rows - first < batch ? rows - first : batch;
    PlatParallel(workers, [&](int t) {
      uint8_t* mine = maps + batch_bytes * t;
      memset(mine, 0, static_cast<size_t>(count) * bytes);
      for (int i = t; i < n; i += workers) {
        for (int32_t r = 0; r < count; r++) {
          RowBits(&pile.readers[i], &head[i], &live[i], static_cast<uint32_t>(first + r),
                  mine + static_cast<size_t>(r) * bytes, static_cast<uint32_t>(columns));
        }
      }
    });
    for (int t = 1; t < workers; t++) {
      const uint8_t* other = maps + batch_bytes * t;
      for (size_t k = 0; k < static_cast<size_t>(count) * bytes; k++) maps[k] |= other[k];
    }
    FileWrite(maps, count * bytes, out);
    for (int32_t r = 0; r < count; r++) ProgTick(b.prog, columns);
  }
  SysFree(maps, &b.quiet);
  // Every record must have found its row: a record beyond the last row
  // would otherwise be lost without a trace.
  for (int i = 0; i < n; i++) {
    if (live[i] != 0) OutError("NewfWrite: row oor");
  }
  FileClose(out);
  for (int i = 0; i < n; i++) {
    ChopCloseReader(&pile.readers[i]);
    FileRemove(FpakName(b.basi.name, pile.level, i), &b.counted);
  }
}
