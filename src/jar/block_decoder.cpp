#include "jar/block_decoder.h"

#include <cstdio>
#include <cstring>

#include "jar/codec_error.h"
#include "jar/jas.h"
#include "jar/range_coder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Decodes one symbol of a count model; returns N when the code lies beyond
// the model's total (damaged data), leaving the message to the caller.
template <int N, uint32_t kLimit>
inline int ModelDecode(ArcodIn& a, CountModel<N, kLimit>& m) {
  uint32_t t = ArcodFreq(a, m.total);
  uint32_t cum = 0;
  int s = 0;
  for (; s < N; ++s) {
    uint32_t next = cum + m.count[s];
    if (t < next) break;
    cum = next;
  }
  if (s == N) return N;
  ArcodNext(a, cum, m.count[s]);
  ModelUpdate(m, s);
  return s;
}

inline int LenGet(ArcodIn& a, LzModels& m) {
  int s = ModelDecode(a, m.len);
  if (s >= 32) CodecError("LenGet: BUG");
  if (s < 15) return s + 3;
  if (s == 15) return kMaxMatch;
  return 8 * s - 110 + static_cast<int>(ArcodRawGet(a, 3));
}

inline int PosGet(ArcodIn& a, LzModels& m) {
  int s = ModelDecode(a, m.pos);
  if (s > 16) CodecError("PosGet: BUG");
  if (s < 2) return s;
  return (1 << (s - 1)) + static_cast<int>(ArcodRawGet(a, s - 1));
}

// Produces exactly n bytes at out (the caller made sure they fit).
void RepDecode(ArcodIn& a, LzModels& m, int n, uint8_t* out) {
  LzModelsReset(m);
  int pos = 0;
  while (pos < n) {
    int kind = ModelDecode(a, m.kind);
    if (kind == kKindUnseen) {
      uint32_t length = static_cast<uint32_t>(m.unseen.length);
      if (length == 0) CodecError("RepDecode: bad literal");
      uint32_t t = ArcodFreq(a, length);
      if (t >= length) CodecError("RepDecode: bad literal");
      uint8_t b = m.unseen.value[t];
      ArcodNext(a, t, 1);
      UnseenRemove(m.unseen, static_cast<int>(t));
      LitTreeAdd(m.lit, b);
      out[pos++] = b;
    } else if (kind == kKindSeen) {
      uint32_t root = m.lit.node[1];
      if (root == 0) CodecError("RepDecode: bad literal");
      uint32_t t0 = ArcodFreq(a, root);
      if (t0 >= root) CodecError("RepDecode: bad literal");
      // Each node's count is the sum of its children's, so t stays below
      // the count of the node reached and the leaf's count is at least 1.
      uint32_t t = t0;
      int k = 1;
      for (int level = 0; level < 8; ++level) {
        k <<= 1;
        uint32_t left = m.lit.node[k];
        uint32_t right = t >= left;
        t -= left & (0u - right);
        k += static_cast<int>(right);
      }
      ArcodNext(a, t0 - t, m.lit.node[k]);
      int b = k - 256;
      LitTreeAdd(m.lit, b);
      out[pos++] = static_cast<uint8_t>(b);
    } else if (kind == kKindMatch) {
      int len = LenGet(a, m);
      int dist = PosGet(a, m);
      if (len > n - pos) CodecError("RepDecode: BUG: match past the end");
      if (dist >= pos) CodecError("RepDecode: match before start");
      uint8_t* dst = out + pos;
      const uint8_t* src = dst - dist - 1;
      if (dist == 0) {
        memset(dst, *src, static_cast<size_t>(len));
      } else if (dist + 1 >= len) {
        memcpy(dst, src, static_cast<size_t>(len));
      } else {
        for (int i = 0; i < len; ++i) dst[i] = src[i];
      }
      pos += len;
    } else {
      CodecError("RepDecode: bad kind");
    }
  }
}

// Rest bytes taken by one bitmap byte: its clear bits (k = 1) or its codes
// of 0 (k = 3).
struct RestBytesTable {
  uint8_t k1[256];
  uint8_t k3[256];
  constexpr RestBytesTable() : k1(), k3() {
    for (int b = 0; b < 256; ++b) {
      for (int j = 0; j < 8; ++j) k1[b] += ((b >> j) & 1) == 0;
      for (int j = 0; j < 4; ++j) k3[b] += ((b >> (2 * j)) & 3) == 0;
    }
  }
};
constexpr RestBytesTable kRestBytesOf{};

// Method 4: the rest bytes merged with the frequent values the bitmap marks.
void DecodeSplit(BlockDecoder& d, ArcodIn& a, uint8_t* block) {
  int k = static_cast<int>(ArcodRawGet(a, 2));
  if (k != 1 && k != 3) CodecError("SubDecode: bad k %d", k);
  uint8_t v[4] = {0, 0, 0, 0};
  for (int j = 1; j <= k; ++j) v[j] = static_cast<uint8_t>(ArcodRawGet(a, 8));
  int rest = static_cast<int>(ArcodRawGet(a, 16));
  int coded = static_cast<int>(ArcodRawGet(a, 16));
  if (rest > kBlockSize || rest + coded > kWorkSize) CodecError("SubDecode: bad split sizes");
  uint8_t* rest_bytes = d.work;
  RepDecode(a, d.models, rest, rest_bytes);
  RepDecode(a, d.models, coded, d.work + rest);
  int bitmap_size = k == 1 ? kBlockSize / 8 : kBlockSize / 4;
  if (ExpandRle(d.work + rest, coded, d.bitmap, bitmap_size) != bitmap_size) {
    CodecError("ExpandRle: size BUG: too few bytes");
  }
  // Without branches on the codes, which are the data: every position reads
  // the next rest byte and keeps it only when its code is 0. The count of
  // rest bytes a bitmap byte takes is checked first; a read one past the
  // last rest byte stays inside the work buffer.
  int next = 0;
  uint8_t* out = block;
  if (k == 1) {
    const uint8_t one = v[1];
    for (int i = 0; i < bitmap_size; ++i, out += 8) {
      unsigned bits = d.bitmap[i];
      if (bits == 0xFF) {
        memset(out, one, 8);
        continue;
      }
      if (next + kRestBytesOf.k1[bits] > rest) CodecError("SubDecode: rest bytes short");
      for (int j = 0; j < 8; ++j) {
        unsigned set = (bits >> j) & 1;
        uint8_t r = rest_bytes[next];
        out[j] = set ? one : r;
        next += static_cast<int>(set ^ 1);
      }
    }
  } else {
    for (int i = 0; i < bitmap_size; ++i, out += 4) {
      unsigned bits = d.bitmap[i];
      if (next + kRestBytesOf.k3[bits] > rest) CodecError("SubDecode: rest bytes short");
      for (int j = 0; j < 4; ++j) {
        unsigned code = (bits >> (2 * j)) & 3;
        uint8_t r = rest_bytes[next];
        out[j] = code != 0 ? v[code] : r;
        next += static_cast<int>(code == 0);
      }
    }
  }
  if (next != rest) CodecError("SubDecode: rest bytes left over");
}

// Methods 5 to 8: listed rows, same-marks and new values, column by column.
void DecodeRows(BlockDecoder& d, ArcodIn& a, int method, uint8_t* block) {
  uint16_t rows[kRows];
  bool listed[kRows] = {};
  int count = static_cast<int>(ArcodRawGet(a, 10));
  if (count > kRows) CodecError("RowList: bad row count %d", count);
  RowModel model;
  RowModelReset(model);
  int prev = 0;
  for (int i = 0; i < count; ++i) {
    int d = 0;
    for (int digit = 0, scale = 1; digit < 3; ++digit, scale *= 8) {
      uint32_t total = 0;
      for (int s = 0; s < 8; ++s) total += model.count[s];
      uint32_t t = ArcodFreq(a, total);
      uint32_t cum = 0;
      int s = 0;
      for (; s < 8; ++s) {
        if (t < cum + model.count[s]) break;
        cum += model.count[s];
      }
      if (s == 8) CodecError("RowList: bad digit");
      ArcodNext(a, cum, model.count[s]);
      ++model.count[s];
      d += s * scale;
    }
    int row = (prev + d) % kRows;
    if (listed[row]) CodecError("RowList: row %d listed twice", row);
    listed[row] = true;
    rows[i] = static_cast<uint16_t>(row);
    prev = row;
  }
  int value_count = static_cast<int>(ArcodRawGet(a, 16));
  int bitmap_size = 8 * count;
  if (value_count + bitmap_size > kBlockSize) CodecError("SubDecode: bad value count %d", value_count);
  const uint8_t* values = d.work;
  const uint8_t* bitmap = d.work + value_count;
  RepDecode(a, d.models, value_count, d.work);
  RepDecode(a, d.models, bitmap_size, d.work + value_count);

  bool flip = method == kMethodFlipColumns || method == kMethodFlipRows;
  bool column_major = method == kMethodRowsColumns || method == kMethodFlipColumns;
  uint8_t* target = flip ? d.flip : block;
  memset(target, 0xFF, kBlockSize);
  // A same-mark leaves 0 in the target until the fill below replaces it.
  int bit = 0;
  if (column_major) {
    for (int c = 0; c < kRowBytes; ++c) {
      for (int i = 0; i < count; ++i, ++bit) {
        if ((bitmap[bit >> 3] >> (bit & 7)) & 1) target[kRowBytes * rows[i] + c] = 0;
      }
    }
  } else {
    for (int i = 0; i < count; ++i) {
      uint8_t* row = target + kRowBytes * rows[i];
      for (int c = 0; c < kRowBytes; ++c, ++bit) {
        if ((bitmap[bit >> 3] >> (bit & 7)) & 1) row[c] = 0;
      }
    }
  }
  int next = 0;
  for (int c = 0; c < kRowBytes; ++c) {
    uint8_t cur = 0xFF;
    for (int i = 0; i < count; ++i) {
      uint8_t& cell = target[kRowBytes * rows[i] + c];
      if (cell != 0) {
        if (next == value_count) CodecError("SubDecode: values short");
        cur = values[next++];
      }
      cell = cur;
    }
  }
  if (next != value_count) CodecError("SubDecode: values left over");
  if (flip && Flip6464(d.flip, block) != kBlockSize) CodecError("Flip6464: BUG");
}

}  // namespace

int ExpandRle(const uint8_t* in, int n, uint8_t* out, int capacity) {
  int o = 0;
  int i = 0;
  while (i < n) {
#if defined(__SSE2__)
    // Sixteen literals at once, or those before the first escape.
    if (i + 16 <= n && o + 16 <= capacity) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      const unsigned stop = static_cast<unsigned>(_mm_movemask_epi8(RleEscapeBytes(a)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), a);
      const int plain = stop == 0 ? 16 : __builtin_ctz(stop);
      o += plain;
      i += plain;
      if (plain == 16) continue;
    }
#endif
    int c = in[i++];
    if (c < kRleEscapeLow || c > kRleEscapeHigh) {
      if (o == capacity) CodecError("ExpandRle: size BUG: too many bytes");
      out[o++] = static_cast<uint8_t>(c);
      continue;
    }
    int run;
    if (c < kRleEscapeHigh) {
      run = c - kRleShortBase;
    } else {
      if (i == n) CodecError("ExpandRle: size BUG: run cut off");
      run = in[i++] + kRleRunLong;
    }
    if (i == n) CodecError("ExpandRle: size BUG: run cut off");
    if (run > capacity - o) CodecError("ExpandRle: size BUG: too many bytes");
    // Short runs, the most common, as one fixed store: the bytes it writes
    // past the run are written again by what follows, or are beyond the end
    // of an expansion that is then refused for its size.
    if (run <= 16 && capacity - o >= 16) {
      memset(out + o, in[i++], 16);
    } else {
      memset(out + o, in[i++], static_cast<size_t>(run));
    }
    o += run;
  }
  return o;
}

int Flip6464(const uint8_t* in, uint8_t* out) {
  int written = 0;
  for (int q = 0; q < kBlockSize; q += kFlipPart) {
    const uint8_t* src = in + q;
    uint8_t* dst = out + q;
    // 8 x 8 tiles keep both sides in the cache lines they touch.
    for (int i0 = 0; i0 < 64; i0 += 8) {
      for (int j0 = 0; j0 < 64; j0 += 8) {
        for (int i = i0; i < i0 + 8; ++i) {
          for (int j = j0; j < j0 + 8; ++j) dst[64 * i + j] = src[64 * j + i];
        }
      }
    }
    written += kFlipPart;
  }
  return written;
}

void SubDecode(BlockDecoder& d, uint8_t* record, int length, uint8_t* block) {
  if (length < 1 || length > kMaxRecordLength) CodecError("SubDecode: bad record length %d", length);
  int method = record[0];
  uint8_t* payload = record + 1;
  int size = length - 1;
  if (method == kMethodStored) {
    if (size != kBlockSize) CodecError("SubDecode: bad record length %d", length);
    memcpy(block, payload, kBlockSize);
    return;
  }
  if (method == kMethodRleBytes) {
    if (ExpandRle(payload, size, block, kBlockSize) != kBlockSize) {
      CodecError("ExpandRle: size BUG: too few bytes");
    }
    return;
  }
  if (method < kMethodLz || method > kMethodFlipRows) {
    CodecError("SubDecode: BUG: unknown method %d", method);
  }
  ArcodIn a;
  ArcodOpen(a, payload, size);
  switch (method) {
    case kMethodLz: RepDecode(a, d.models, kBlockSize, block); break;
    case kMethodRle: {
      int n = static_cast<int>(ArcodRawGet(a, 16));
      if (n > kWorkSize) CodecError("SubDecode: bad run-length size %d", n);
      RepDecode(a, d.models, n, d.work);
      if (ExpandRle(d.work, n, block, kBlockSize) != kBlockSize) {
        CodecError("ExpandRle: size BUG: too few bytes");
      }
      break;
    }
    case kMethodSplit: DecodeSplit(d, a, block); break;
    default: DecodeRows(d, a, method, block); break;
  }
}

int BlockDecode(BlockDecoder& decoder, uint8_t* record, int length, uint8_t* block, char* error) {
  try {
    SubDecode(decoder, record, length, block);
    return 1;
  } catch (const CodecAbort& abort) {
    snprintf(error, 256, "%s", abort.message);
    return 0;
  }
}

BlockDecoder* BlockDecoderNew() { return new BlockDecoder(); }
void BlockDecoderDelete(BlockDecoder* decoder) { delete decoder; }

BlockDecoder& BlockThreadDecoder() {
  thread_local BlockDecoderPtr decoder;
  if (!decoder) decoder.reset(BlockDecoderNew());
  return *decoder;
}
