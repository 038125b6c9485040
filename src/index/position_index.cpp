#include "index/position_index.h"

#include "support/console.h"

namespace {

// Both numbers aligned so that the first piece sits in bits 24-29: five
// 6-bit groups, each rank (high 3 bits) and file (low 3 bits).
constexpr uint32_t kFileBits = 0x71c71c7;
constexpr uint32_t kRankBits = 0x38e38e38;

constexpr Ccc MakeEmpty() {
  Ccc b{};
  for (int s = 0; s < 80; s++) {
    if (s % 10 != 0 && s % 10 != 9) b.sqrx[s + kCccOrigin] = kEmpty;
  }
  return b;
}

int32_t Unreduce(int32_t r, int32_t bits, bool pawns) {
  int shift = bits - 6;
  int32_t k = r >> shift;
  int32_t rest = r & ((1 << shift) - 1);
  int sq = pawns ? KingUnPawn[k] : KingUnFree[k];
  return rest | sq << shift;
}

// Reduces the king of the first number (`mine`, the side to move) and
// applies the same symmetry to the other side's number.
void Reduce(uint32_t mine, int mbits, uint32_t other, int obits, bool pawns, int32_t out[4]) {
  uint32_t a = mine << (30 - mbits);
  uint32_t b = other << (30 - obits);
  if ((a >> 24 & 7) >= 4) {
    a ^= kFileBits;
    b ^= kFileBits;
  }
  if (pawns) {
    out[1] = static_cast<int32_t>((KingRedPawn[a >> 24] << 24 | (a & 0xffffff)) >> (30 - mbits));
    out[0] = static_cast<int32_t>(b >> (30 - obits));
    out[2] = out[3] = kNoRow;
    return;
  }
  if ((a >> 27 & 7) >= 4) {
    a ^= kRankBits;
    b ^= kRankBits;
  }
  out[1] = static_cast<int32_t>((KingRedFree[a >> 24] << 24 | (a & 0xffffff)) >> (30 - mbits));
  out[0] = static_cast<int32_t>(b >> (30 - obits));
  uint32_t ta = ((a >> 3) & kFileBits) | ((a & kFileBits) << 3);
  uint32_t tb = ((b >> 3) & kFileBits) | ((b & kFileBits) << 3);
  out[3] = static_cast<int32_t>((KingRedFree[ta >> 24] << 24 | (ta & 0xffffff)) >> (30 - mbits));
  out[2] = static_cast<int32_t>(tb >> (30 - obits));
}

int Weight(int32_t r, int32_t bits, bool pawns) {
  if (pawns) return 2;
  int k = r >> (bits - 6);
  return (k == 0 || k == 4 || k == 7 || k == 9) ? 4 : 8;
}

// Moves every pawn of code `pawn` that stands in the first-rank coding by
// `lift` squares; slot 0 (the king) is skipped.
int32_t UnEp(int32_t h, int n, const uint8_t* codes, int pawn, int lift) {
  for (int i = 1; i < n; i++) {
    if (codes[i] != pawn) continue;
    int shift = 6 * (n - 1 - i);
    if ((h >> shift & 63) < 8) h += lift << shift;
  }
  return h;
}

}  // namespace

const Ccc kCccEmpty = MakeEmpty();

// One side's share of the basis.
template <bool kW>
struct Part {
  explicit Part(const Basi* b)
      : n(kW ? b->nw : b->nz),
        bits(kW ? b->wbits : b->zbits),
        rows(kW ? b->numw : b->numz),
        size(kW ? b->wsize : b->zsize) {}
  int32_t n, bits, rows, size;
};

template <bool kW>
int32_t Unreduce(int32_t r, const Basi* b) {
  if (r < 0 || r >= Part<kW>(b).rows) OutError(kW ? "UnreduceW: oor" : "UnreduceZ: oor");
  return Unreduce(r, Part<kW>(b).bits, b->npawns != 0);
}

template <bool kW>
void Reduce(int32_t hashw, int32_t hashz, const Basi* b, int32_t out[4]) {
  Reduce(static_cast<uint32_t>(kW ? hashw : hashz), Part<kW>(b).bits,
         static_cast<uint32_t>(kW ? hashz : hashw), Part<!kW>(b).bits, b->npawns != 0, out);
}

template <bool kW>
int Weight(int32_t r, const Basi* b) {
  return Weight(r, Part<kW>(b).bits, b->npawns != 0);
}

template <bool kW>
int32_t UnEp(int32_t hash, const Basi* b) {
  if (b->epflag == 0) return hash;
  return UnEp(hash, Part<kW>(b).n, kW ? b->white : b->black, PawnCode(kW), kW ? 24 : 32);
}

// The arrays are indexed as members, not through pointers: their bounds let
// the compiler unroll the loop, which runs for every entry of every pass.
template <bool kW>
int HashPlace(int32_t hash, const Basi* b, Ccc* board) {
  int n = kW ? b->nw : b->nz;
  for (int i = 0; i < n; i++) {
    int s = kMailboxOfSq[hash >> 6 * (n - 1 - i) & 63];
    int c = kW ? b->white[i] : b->black[i];
    if (c == PawnCode(kW)) {
      if (s >= 71) return 0;
      // A pawn in the first-rank coding has just double-stepped: only the
      // other side may be to move.
      if (s < 9) {
        if (b->epflag == 0 || board->wtm == (kW ? 1 : 0) || board->eps != 0) return 0;
        s += kW ? 30 : 40;
        board->eps = static_cast<uint8_t>(kW ? s - 10 : s + 10);
      }
    }
    uint8_t& cell = CccCell(board, s);
    if (cell != kEmpty) return 0;
    cell = static_cast<uint8_t>(c);
    (kW ? board->wsqr[i] : board->zsqr[i]) = static_cast<uint8_t>(s);
  }
  return 1;
}

template <bool kWtm, bool kW>
int HashToSet(int32_t hash, const Basi* b, Ccc* board) {
  static constexpr const char* kOor[2][2] = {{"HashToZtmSetZ: hashz oor", "HashToZtmSetW: hashw oor"},
                                             {"HashToWtmSetZ: hashz oor", "HashToWtmSetW: hashw oor"}};
  if (hash < 0 || hash >= Part<kW>(b).size) OutError("%s", kOor[kWtm][kW]);
  *board = kCccEmpty;
  if (kWtm) board->wtm = 1;
  return HashPlace<kW>(hash, b, board);
}

#define INSTANTIATE(kW)                                                \
  template int32_t Unreduce<kW>(int32_t, const Basi*);                 \
  template void Reduce<kW>(int32_t, int32_t, const Basi*, int32_t[4]); \
  template int Weight<kW>(int32_t, const Basi*);                       \
  template int32_t UnEp<kW>(int32_t, const Basi*);                     \
  template int HashPlace<kW>(int32_t, const Basi*, Ccc*);              \
  template int HashToSet<true, kW>(int32_t, const Basi*, Ccc*);        \
  template int HashToSet<false, kW>(int32_t, const Basi*, Ccc*);
INSTANTIATE(true)
INSTANTIATE(false)
#undef INSTANTIATE

int HashToCccp(int32_t hashw, int32_t hashz, const Basi* b, int wtm, Ccc* board) {
  if (hashw < 0 || hashw >= b->wsize) OutError("HashToCccp: hashw oor");
  if (hashz < 0 || hashz >= b->zsize) OutError("HashToCccp: hashz oor");
  *board = kCccEmpty;
  if (wtm) board->wtm = 1;
  if (!HashPlace<true>(hashw, b, board)) return 0;
  if (!HashPlace<false>(hashz, b, board)) return 0;
  if (board->eps != 0 && !TestEp(board)) return 0;
  if (wtm) return AttackedByW(board, board->zsqr[0]) == 0;
  return AttackedByZ(board, board->wsqr[0]) == 0;
}

int TestEp(const Ccc* board) {
  int e = board->eps;
  if (board->wtm) {
    int p = e - 10;
    if (p < 41 || p > 48) OutError("TestEp: not 6th rank");
    if (CccCell(board, p) != kZP) OutError("TestEp: ZP pissen");
    if (CccCell(board, p - 1) != kWP && CccCell(board, p + 1) != kWP) return 0;
    if (CccCell(board, e) != kEmpty) return 0;
    return CccCell(board, p + 20) == kEmpty;
  }
  int p = e + 10;
  if (p < 31 || p > 38) OutError("TestEp: not 3rd rank");
  if (CccCell(board, p) != kWP) OutError("TestEp: WP pissen");
  if (CccCell(board, p - 1) != kZP && CccCell(board, p + 1) != kZP) return 0;
  if (CccCell(board, p - 10) != kEmpty) return 0;
  return CccCell(board, p - 20) == kEmpty;
}
