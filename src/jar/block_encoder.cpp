#include "jar/block_encoder.h"

#include <cstdio>
#include <cstring>

#include "jar/block_decoder.h"
#include "jar/codec_error.h"
#include "jar/codec_models.h"
#include "jar/jas.h"
#include "jar/lz_encoder.h"
#include "jar/range_coder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

int EncodeStored(BlockEncoder& e, const uint8_t* block) {
  e.record[0] = kMethodStored;
  memcpy(e.record + 1, block, kBlockSize);
  return kBlockSize + 1;
}

int Finish(BlockEncoder& e, ArcodOut& a) {
  ArcodFlush(a);
  return static_cast<int>(a.out - e.record);
}

int EncodeLz(BlockEncoder& e, const uint8_t* block) {
  if (e.trial_mode && e.trial_lz_length != 0) return e.trial_lz_length;
  memcpy(e.lz.buf, block, kBlockSize);
  e.record[0] = kMethodLz;
  ArcodOut a;
  ArcodStart(a, e.record, kRecordLimit);
  LzSegment seg = {0, kBlockSize};
  int length = LzEncode(e.lz, a, &seg, 1) ? Finish(e, a) : EncodeStored(e, block);
  if (e.trial_mode) e.trial_lz_length = length;
  return length;
}

// Method 3 of the n run-length coded bytes of `block` in the work buffer.
int EncodeRleCoded(BlockEncoder& e, const uint8_t* block, int n) {
  e.record[0] = kMethodRle;
  ArcodOut a;
  ArcodStart(a, e.record, kRecordLimit);
  ArcodRaw(a, 16, static_cast<uint32_t>(n));
  LzSegment seg = {0, n};
  return LzEncode(e.lz, a, &seg, 1) ? Finish(e, a) : EncodeStored(e, block);
}

int EncodeRle(BlockEncoder& e, const uint8_t* block) {
  int n = RleEncode(block, kBlockSize, e.lz.buf, kBlockSize);
  if (n >= kBlockSize) return EncodeLz(e, block);
  return EncodeRleCoded(e, block, n);
}

// A work file is read back once or twice and removed: the run-length form
// costs a scan each way, where the LZ coder would cost several.
int EncodeWork(BlockEncoder& e, const uint8_t* block) {
  int n = RleEncode(block, kBlockSize, e.record + 1, kBlockSize - 1);
  if (n >= kBlockSize - 1) return EncodeStored(e, block);
  e.record[0] = kMethodRleBytes;
  return n + 1;
}

int EncodeSplit(BlockEncoder& e, const uint8_t* block) {
  constexpr int n = kBlockSize;
  // Four tables, so that runs of one value do not wait on one counter.
  int part[4][256] = {};
  for (int i = 0; i < n; i += 4) {
    ++part[0][block[i]];
    ++part[1][block[i + 1]];
    ++part[2][block[i + 2]];
    ++part[3][block[i + 3]];
  }
  int counts[256];
  for (int v = 0; v < 256; ++v) counts[v] = part[0][v] + part[1][v] + part[2][v] + part[3][v];
  int taken[3];
  int taken_count[3];
  for (int t = 0; t < 3; ++t) {
    int best = 0;
    for (int v = 1; v < 256; ++v) {
      if (counts[v] > counts[best]) best = v;
    }
    taken[t] = best;
    taken_count[t] = counts[best];
    counts[best] = 0;
  }
  int c1 = taken_count[0], c2 = taken_count[1], c3 = taken_count[2];
  bool one = c2 + c3 <= 5 * n / 32 || c1 + c2 + c3 <= 12 * n / 32;
  if (one && c1 <= 10 * n / 32) return EncodeLz(e, block);
  int k = one ? 1 : 3;
  // Numbered backwards: the most frequent value is v[k].
  int v[4] = {0, 0, 0, 0};
  for (int j = 1; j <= k; ++j) v[j] = taken[k - j];
  uint8_t code[256] = {};
  for (int j = 1; j <= k; ++j) code[v[j]] = static_cast<uint8_t>(j);

  uint8_t* rest = e.lz.buf;
  int rest_count = 0;
  int bitmap_size;
  if (k == 1) {
    bitmap_size = n / 8;
    for (int g = 0; g < bitmap_size; ++g) {
      const uint8_t* in = block + 8 * g;
      unsigned bits = 0;
      // Branch-free: the bitmap bits are the data.
      for (int j = 0; j < 8; ++j) {
        unsigned c = code[in[j]];
        bits |= c << j;
        rest[rest_count] = in[j];
        rest_count += static_cast<int>(c ^ 1);
      }
      e.bitmap[g] = static_cast<uint8_t>(bits);
    }
  } else {
    bitmap_size = n / 4;
    for (int g = 0; g < bitmap_size; ++g) {
      const uint8_t* in = block + 4 * g;
      unsigned bits = 0;
      for (int j = 0; j < 4; ++j) {
        unsigned c = code[in[j]];
        bits |= c << (2 * j);
        rest[rest_count] = in[j];
        rest_count += c == 0;
      }
      e.bitmap[g] = static_cast<uint8_t>(bits);
    }
  }
  int coded = RleEncode(e.bitmap, bitmap_size, rest + rest_count, kWorkSize);

  e.record[0] = kMethodSplit;
  ArcodOut a;
  ArcodStart(a, e.record, kRecordLimit);
  ArcodRaw(a, 2, static_cast<uint32_t>(k));
  for (int j = 1; j <= k; ++j) ArcodRaw(a, 8, static_cast<uint32_t>(v[j]));
  ArcodRaw(a, 16, static_cast<uint32_t>(rest_count));
  ArcodRaw(a, 16, static_cast<uint32_t>(coded));
  LzSegment segs[2] = {{0, rest_count}, {rest_count, rest_count + coded}};
  return LzEncode(e.lz, a, segs, 2) ? Finish(e, a) : EncodeStored(e, block);
}

inline bool RowIsFree(const uint8_t* row) {
  uint64_t all = ~0ull;
  for (int i = 0; i < kRowBytes; i += 8) {
    uint64_t w;
    memcpy(&w, row + i, 8);
    all &= w;
  }
  return all == ~0ull;
}

// Number of bytes in which two rows differ.
inline int RowDiff(const uint8_t* a, const uint8_t* b) {
#if defined(__SSE2__)
  const __m128i* pa = reinterpret_cast<const __m128i*>(a);
  const __m128i* pb = reinterpret_cast<const __m128i*>(b);
  __m128i ones = _mm_set1_epi8(1);
  __m128i eq = _mm_and_si128(_mm_cmpeq_epi8(_mm_loadu_si128(pa), _mm_loadu_si128(pb)), ones);
  for (int i = 1; i < 4; ++i) {
    __m128i e = _mm_cmpeq_epi8(_mm_loadu_si128(pa + i), _mm_loadu_si128(pb + i));
    eq = _mm_add_epi8(eq, _mm_and_si128(e, ones));
  }
  __m128i sums = _mm_sad_epu8(eq, _mm_setzero_si128());
  int equal = _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
  return kRowBytes - equal;
#else
  int diff = 0;
  for (int i = 0; i < kRowBytes; i += 8) {
    uint64_t x, y;
    memcpy(&x, a + i, 8);
    memcpy(&y, b + i, 8);
    uint64_t d = x ^ y;
    uint64_t nz = ((d & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | d;
    diff += __builtin_popcountll(nz & 0x8080808080808080ull);
  }
  return diff;
#endif
}

#if defined(__x86_64__) && defined(__GNUC__)
// OrdBestRow with 32-byte compares, where the processor has them: the
// reference row held in two registers, a candidate's differing bytes
// counted from two compare masks.
__attribute__((target("avx2,popcnt"))) int OrdBestRowAvx2(const uint8_t* work, int ref,
                                                          const uint16_t* cand, int n) {
  static_assert(kRowBytes == 64);
  const uint8_t* r = work + kRowBytes * ref;
  const __m256i r0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r));
  const __m256i r1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + 32));
  int best = 0;
  int best_diff = kRowBytes + 1;
  for (int i = 0; i < n; ++i) {
    const uint8_t* c = work + kRowBytes * cand[i];
    const uint32_t e0 = static_cast<uint32_t>(_mm256_movemask_epi8(
        _mm256_cmpeq_epi8(r0, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c)))));
    const uint32_t e1 = static_cast<uint32_t>(_mm256_movemask_epi8(
        _mm256_cmpeq_epi8(r1, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + 32)))));
    const int diff = kRowBytes - __builtin_popcountll(static_cast<uint64_t>(e1) << 32 | e0);
    if (diff < best_diff) {
      best_diff = diff;
      best = i;
      if (diff == 0) break;
    }
  }
  return best;
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
#endif

// The candidate (index into `cand`) with the fewest bytes differing from the
// reference row, the lowest row on equal counts (`cand` is ascending).
int OrdBestRow(const uint8_t* work, int ref, const uint16_t* cand, int n) {
  if (n <= 0) CodecError("OrdBestRow: BUG");
#if defined(__x86_64__) && defined(__GNUC__)
  if (kHaveAvx2) return OrdBestRowAvx2(work, ref, cand, n);
#endif
  const uint8_t* r = work + kRowBytes * ref;
  int best = 0;
  int best_diff = kRowBytes + 1;
  for (int i = 0; i < n; ++i) {
    int diff = RowDiff(r, work + kRowBytes * cand[i]);
    if (diff < best_diff) {
      best_diff = diff;
      best = i;
      if (diff == 0) break;
    }
  }
  return best;
}

// Lists the rows that are not entirely 0xFF, each next to the most similar
// row of those left.
void BuildRowOrder(const uint8_t* work, RowOrder& order) {
  uint16_t cand[kRows];
  int n = 0;
  int ref = -1;
  for (int row = 0; row < kRows; ++row) {
    if (RowIsFree(work + kRowBytes * row)) {
      if (ref < 0) ref = row;
    } else {
      cand[n++] = static_cast<uint16_t>(row);
    }
  }
  if (ref < 0) ref = 0;
  order.count = 0;
  int unlisted = n;
  for (int it = 0; it < unlisted; ++it) {
    int i = OrdBestRow(work, ref, cand, n);
    int row = cand[i];
    memmove(cand + i, cand + i + 1, sizeof cand[0] * static_cast<size_t>(n - i - 1));
    --n;
    order.rows[order.count++] = static_cast<uint16_t>(row);
    ref = row;
  }
  order.valid = true;
}

void PutRowList(ArcodOut& a, const RowOrder& order) {
  ArcodRaw(a, 10, static_cast<uint32_t>(order.count));
  RowModel model;
  RowModelReset(model);
  int prev = 0;
  for (int i = 0; i < order.count; ++i) {
    int row = order.rows[i];
    int d = (row - prev + kRows) % kRows;
    for (int digit = 0; digit < 3; ++digit, d >>= 3) {
      int s = d & 7;
      uint32_t cum = 0, total = 0;
      for (int j = 0; j < 8; ++j) {
        if (j < s) cum += model.count[j];
        total += model.count[j];
      }
      ArcodPut(a, cum, model.count[s], total);
      ++model.count[s];
    }
    prev = row;
  }
}

// The values of the listed rows, column by column, each byte that differs
// from the one above it; branch-free, the comparisons are the data. With
// `bitmap`, also the column-major bitmap (a set bit: same as above).
int GatherValues(const uint8_t* work, const RowOrder& order, uint8_t* values, uint8_t* bitmap) {
  const int count = order.count;
  const uint16_t* rows = order.rows;
  int value_count = 0;
  uint32_t bits = 0;
  int nbits = 0;
  for (int c = 0; c < kRowBytes; ++c) {
    uint8_t prev = 0xFF;
    const uint8_t* column = work + c;
    for (int i = 0; i < count; ++i) {
      uint8_t b = column[kRowBytes * rows[i]];
      uint32_t same = b == prev;
      values[value_count] = b;
      value_count += static_cast<int>(same ^ 1);
      prev = b;
      if (bitmap != nullptr) {
        bits |= same << nbits;
        if (++nbits == 8) {
          *bitmap++ = static_cast<uint8_t>(bits);
          bits = 0;
          nbits = 0;
        }
      }
    }
  }
  if (bitmap != nullptr && nbits != 0) *bitmap = static_cast<uint8_t>(bits);
  return value_count;
}

// The row-major bitmap: 64 bits per listed row, a set bit where the byte
// equals the one of the row listed before (a free row before the first).
void RowMajorBitmap(const uint8_t* work, const RowOrder& order, uint8_t* bitmap) {
  static const uint8_t kFreeRow[kRowBytes] = {
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const uint8_t* prev = kFreeRow;
  for (int i = 0; i < order.count; ++i) {
    const uint8_t* row = work + kRowBytes * order.rows[i];
    uint64_t word = 0;
#if defined(__SSE2__)
    for (int q = 0; q < 4; ++q) {
      __m128i eq = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row) + q),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev) + q));
      word |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(eq))) << (16 * q);
    }
#else
    for (int c = 0; c < kRowBytes; ++c) word |= static_cast<uint64_t>(row[c] == prev[c]) << c;
#endif
    // Bit c of the word is bit c % 8 of byte c / 8.
    for (int j = 0; j < 8; ++j) bitmap[8 * i + j] = static_cast<uint8_t>(word >> (8 * j));
    prev = row;
  }
}

int EncodeRows(BlockEncoder& e, const uint8_t* block, int method) {
  const int flip = method == kMethodFlipColumns || method == kMethodFlipRows;
  const bool column_major = method == kMethodRowsColumns || method == kMethodFlipColumns;
  const uint8_t* work = block;
  if (flip) {
    if (!e.flip_valid && Flip6464(block, e.flip) != kBlockSize) CodecError("Flip6464: BUG");
    e.flip_valid = true;
    work = e.flip;
  }
  RowOrder& order = e.row_order[flip];
  if (!order.valid) BuildRowOrder(work, order);
  const int count = order.count;
  const int bitmap_size = 8 * count;
  SharedValues& shared = e.shared[flip];
  // The trials run 5 before 6 and 7 before 8: the row-major second of a
  // pair resumes after the values the column-major first coded.
  const bool resume = e.trial_mode && shared.valid && !column_major;

  uint8_t* values = e.lz.buf;
  int value_count;
  if (resume) {
    value_count = shared.value_count;
  } else {
    // Where the values turn out too many, the column-major bitmap written
    // after them is dropped with them.
    value_count = GatherValues(work, order, values, column_major ? e.bitmap : nullptr);
  }
  if (bitmap_size + value_count >= kBlockSize + 1) return EncodeLz(e, block);
  uint8_t* bitmap = values + value_count;
  if (column_major) {
    memcpy(bitmap, e.bitmap, static_cast<size_t>(bitmap_size));
  } else {
    RowMajorBitmap(work, order, bitmap);
  }

  e.record[0] = static_cast<uint8_t>(method);
  ArcodOut a;
  ArcodStart(a, e.record, kRecordLimit);
  if (resume) {
    // Only the length counts in a trial, so the bytes before the resumed
    // position need not be this method's.
    if (shared.failed) return EncodeStored(e, block);
    a.out = e.record + shared.out;
    a.low = shared.low;
    a.range = shared.range;
  } else {
    PutRowList(a, order);
    ArcodRaw(a, 16, static_cast<uint32_t>(value_count));
    LzSegment seg = {0, value_count};
    bool ok = LzEncode(e.lz, a, &seg, 1) != 0;
    if (e.trial_mode) {
      shared = {true, !ok, value_count, static_cast<int>(a.out - e.record), a.low, a.range};
    }
    if (!ok) return EncodeStored(e, block);
  }
  LzSegment seg = {value_count, value_count + bitmap_size};
  return LzEncode(e.lz, a, &seg, 1) ? Finish(e, a) : EncodeStored(e, block);
}

int MethodOfFlags(int flags) {
  if (flags & kFlagFlipRows) return kMethodFlipRows;
  if (flags & kFlagFlipColumns) return kMethodFlipColumns;
  if (flags & kFlagRowsRows) return kMethodRowsRows;
  if (flags & kFlagRowsColumns) return kMethodRowsColumns;
  if (flags & kFlagLz) return kMethodLz;
  if (flags & kFlagRle) return kMethodRle;
  return kMethodSplit;
}

}  // namespace

int RleEncode(const uint8_t* in, int size, uint8_t* out, int limit) {
  int o = 0;
  int p = 0;
  while (p < size && o < limit) {
#if defined(__SSE2__)
    // Sixteen bytes at once while none starts a run of three or is an
    // escape: they go out as they are. Otherwise the literals before the
    // first that does, then that one the byte-wise way.
    if (p + 18 <= size && o + 16 <= limit) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + p));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + p + 1));
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + p + 2));
      const __m128i run = _mm_and_si128(_mm_cmpeq_epi8(a, b), _mm_cmpeq_epi8(b, c));
      const unsigned stop =
          static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(run, RleEscapeBytes(a))));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), a);
      const int plain = stop == 0 ? 16 : __builtin_ctz(stop);
      o += plain;
      p += plain;
      if (plain == 16) continue;
    }
#endif
    uint8_t x = in[p];
    int max = size - p < kRleRunMax ? size - p : kRleRunMax;
    int r = 1;
    const uint64_t word = 0x0101010101010101ull * x;
    while (r + 8 <= max) {
      uint64_t w;
      memcpy(&w, in + p + r, 8);
      if (w != word) break;
      r += 8;
    }
    while (r < max && in[p + r] == x) ++r;
    if (r < 3 && (x < kRleEscapeLow || x > kRleEscapeHigh)) {
      out[o++] = x;
      p += 1;
    } else if (r < kRleRunLong) {
      if (r > kRleRunShort) r = kRleRunShort;
      out[o++] = static_cast<uint8_t>(kRleShortBase + r);
      out[o++] = x;
      p += r;
    } else {
      out[o++] = kRleEscapeHigh;
      out[o++] = static_cast<uint8_t>(r - kRleRunLong);
      out[o++] = x;
      p += r;
    }
  }
  return o;
}

void BlockEncodeReset(BlockEncoder& e) {
  e.flip_valid = false;
  e.row_order[0].valid = false;
  e.row_order[1].valid = false;
  e.shared[0].valid = false;
  e.shared[1].valid = false;
  e.trial_mode = false;
  e.trial_lz_length = 0;
}

int SubEncode(BlockEncoder& e, const uint8_t* block, int method) {
  switch (method) {
    case kMethodStored: return EncodeStored(e, block);
    case kMethodLz: return EncodeLz(e, block);
    case kMethodRle: return EncodeRle(e, block);
    case kMethodSplit: return EncodeSplit(e, block);
    case kMethodRowsColumns:
    case kMethodRowsRows:
    case kMethodFlipColumns:
    case kMethodFlipRows: return EncodeRows(e, block, method);
    default: CodecError("SubEncode: bad code %d", method);
  }
}

namespace {

// The record of the block in `record`; 0 when the codec gave up, with its
// message in `error` (256 bytes).
int EncodeCaught(BlockEncoder& e, const uint8_t* block, int flags, uint8_t* record, char* error) {
  try {
    BlockEncodeReset(e);
    e.lz.cost_based = false;
    int length;
    if (flags & kFlagTrial) {
      e.trial_mode = true;
      int picked = kMethodSplit;
      for (int method = kMethodSplit; method <= kMethodFlipRows; ++method) {
        e.trial.length[method] = SubEncode(e, block, method);
        if (e.trial.length[method] < e.trial.length[picked]) picked = method;
      }
      e.trial.picked = picked;
      e.trial_mode = false;
      e.lz.cost_based = true;
      length = SubEncode(e, block, picked);
    } else if (flags & kFlagWork) {
      length = EncodeWork(e, block);
    } else {
      e.lz.cost_based = (flags & kFlagCostBased) != 0;
      length = SubEncode(e, block, MethodOfFlags(flags));
    }
    memcpy(record, e.record, static_cast<size_t>(length));
    return length;
  } catch (const CodecAbort& abort) {
    e.trial_mode = false;
    snprintf(error, 256, "%s", abort.message);
    return 0;
  }
}

}  // namespace

// Zeroed, as static buffers were: the match finder's word loads may read
// past a segment's end into bytes no block wrote yet.
BlockEncoder* BlockEncoderNew() {
  auto* e = new BlockEncoder();
  LzInit(e->lz);
  return e;
}

void BlockEncoderDelete(BlockEncoder* encoder) { delete encoder; }

int BlockEncode(BlockEncoder& encoder, const uint8_t* block, int flags, uint8_t* record, char* error) {
  return EncodeCaught(encoder, block, flags, record, error);
}

BlockEncoder& BlockThreadEncoder() {
  thread_local BlockEncoderPtr encoder;
  if (!encoder) encoder.reset(BlockEncoderNew());
  return *encoder;
}
