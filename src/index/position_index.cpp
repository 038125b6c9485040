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
void Reduce(uint32_t mine, int mbits, uint32_t other, int obits, bool pawns,
            int32_t out[4]) {
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

int32_t UnreduceW(int32_t r, const Basi* b) {
  if (r < 0 || r >= b->numw) OutError("UnreduceW: oor");
  return Unreduce(r, b->wbits, b->npawns != 0);
}

int32_t UnreduceZ(int32_t r, const Basi* b) {
  if (r < 0 || r >= b->numz) OutError("UnreduceZ: oor");
  return Unreduce(r, b->zbits, b->npawns != 0);
}

void ReduceW(int32_t hashw, int32_t hashz, const Basi* b, int32_t out[4]) {
  Reduce(static_cast<uint32_t>(hashw), b->wbits, static_cast<uint32_t>(hashz), b->zbits,
         b->npawns != 0, out);
}

void ReduceZ(int32_t hashw, int32_t hashz, const Basi* b, int32_t out[4]) {
  Reduce(static_cast<uint32_t>(hashz), b->zbits, static_cast<uint32_t>(hashw), b->wbits,
         b->npawns != 0, out);
}

int WeightW(int32_t r, const Basi* b) { return Weight(r, b->wbits, b->npawns != 0); }
int WeightZ(int32_t r, const Basi* b) { return Weight(r, b->zbits, b->npawns != 0); }

int32_t UnEpW(int32_t hashw, const Basi* b) {
  if (b->epflag == 0) return hashw;
  return UnEp(hashw, b->nw, b->white, kWP, 24);
}

int32_t UnEpZ(int32_t hashz, const Basi* b) {
  if (b->epflag == 0) return hashz;
  return UnEp(hashz, b->nz, b->black, kZP, 32);
}

int HashPlaceW(int32_t hashw, const Basi* b, Ccc* board) {
  int n = b->nw;
  for (int i = 0; i < n; i++) {
    int s = kMailboxOfSq[hashw >> 6 * (n - 1 - i) & 63];
    int c = b->white[i];
    if (c == kWP) {
      if (s >= 71) return 0;
      if (s < 9) {
        if (b->epflag == 0 || board->wtm == 1 || board->eps != 0) return 0;
        s += 30;
        board->eps = static_cast<uint8_t>(s - 10);
      }
    }
    uint8_t& cell = CccCell(board, s);
    if (cell != kEmpty) return 0;
    cell = static_cast<uint8_t>(c);
    board->wsqr[i] = static_cast<uint8_t>(s);
  }
  return 1;
}

int HashPlaceZ(int32_t hashz, const Basi* b, Ccc* board) {
  int n = b->nz;
  for (int i = 0; i < n; i++) {
    int s = kMailboxOfSq[hashz >> 6 * (n - 1 - i) & 63];
    int c = b->black[i];
    if (c == kZP) {
      if (s >= 71) return 0;
      if (s < 9) {
        if (b->epflag == 0 || board->wtm == 0 || board->eps != 0) return 0;
        s += 40;
        board->eps = static_cast<uint8_t>(s + 10);
      }
    }
    uint8_t& cell = CccCell(board, s);
    if (cell != kEmpty) return 0;
    cell = static_cast<uint8_t>(c);
    board->zsqr[i] = static_cast<uint8_t>(s);
  }
  return 1;
}

int HashToCccp(int32_t hashw, int32_t hashz, const Basi* b, int wtm, Ccc* board) {
  if (hashw < 0 || hashw >= b->wsize) OutError("HashToCccp: hashw oor");
  if (hashz < 0 || hashz >= b->zsize) OutError("HashToCccp: hashz oor");
  *board = kCccEmpty;
  if (wtm) board->wtm = 1;
  if (!HashPlaceW(hashw, b, board)) return 0;
  if (!HashPlaceZ(hashz, b, board)) return 0;
  if (board->eps != 0 && !TestEp(board)) return 0;
  if (wtm) return AttackedByW(board, board->zsqr[0]) == 0;
  return AttackedByZ(board, board->wsqr[0]) == 0;
}

int HashToWtmSetW(int32_t hashw, const Basi* b, Ccc* board) {
  if (hashw < 0 || hashw >= b->wsize) OutError("HashToWtmSetW: hashw oor");
  *board = kCccEmpty;
  board->wtm = 1;
  return HashPlaceW(hashw, b, board);
}

int HashToWtmSetZ(int32_t hashz, const Basi* b, Ccc* board) {
  if (hashz < 0 || hashz >= b->zsize) OutError("HashToWtmSetZ: hashz oor");
  *board = kCccEmpty;
  board->wtm = 1;
  return HashPlaceZ(hashz, b, board);
}

int HashToZtmSetW(int32_t hashw, const Basi* b, Ccc* board) {
  if (hashw < 0 || hashw >= b->wsize) OutError("HashToZtmSetW: hashw oor");
  *board = kCccEmpty;
  return HashPlaceW(hashw, b, board);
}

int HashToZtmSetZ(int32_t hashz, const Basi* b, Ccc* board) {
  if (hashz < 0 || hashz >= b->zsize) OutError("HashToZtmSetZ: hashz oor");
  *board = kCccEmpty;
  return HashPlaceZ(hashz, b, board);
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
