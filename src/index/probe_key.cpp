#include "index/probe_key.h"

#include "index/position_index.h"
#include "support/console.h"

namespace {

constexpr uint32_t kPawnMaterial = 7 * (kUnitWP | kUnitZP);  // both pawn counts

// Sorts the side's squares by the code on them, larger codes first, keeping
// the list order among equal codes.
int SortedSide(const Ccc* board, const uint8_t* list, uint8_t* out) {
  int n = 0;
  for (; list[n] != 0; n++) {
    uint8_t s = list[n];
    int code = CccCell(board, s);
    int j = n;
    while (j > 0 && CccCell(board, out[j - 1]) < code) {
      out[j] = out[j - 1];
      j--;
    }
    out[j] = s;
  }
  return n;
}

inline int Folded(int sq) {
  int file = sq & 7, rank = sq >> 3;
  return file < rank ? 8 * file + rank : 8 * rank + file;
}

inline int Transposed(int sq) { return (sq & 7) << 3 | sq >> 3; }

}  // namespace

void PapCreate(const Ccc* board, Pap* key) {
  const uint8_t* mine = board->wtm ? board->wsqr : board->zsqr;
  const uint8_t* other = board->wtm ? board->zsqr : board->wsqr;
  int nm = 0, no = 0;
  // Bounded loops: not calls to strlen, for a few squares on every probe.
  while (nm < kCccListSize && mine[nm] != 0) nm++;
  while (no < kCccListSize && other[no] != 0) no++;
  if (nm + no > kPapMaxPieces) OutError("PapCreate: no dice");
  uint8_t order[2 * kPapMaxPieces];
  SortedSide(board, mine, order);
  SortedSide(board, other, order + nm);
  *key = Pap{};
  if (board->wtm) key->material = kWhiteToMove;
  for (int i = 0; i < nm + no; i++) {
    int s = order[i];
    int code = CccCell(board, s);
    if (board->eps != 0) {
      if (code == kWP && s == board->eps + 10) s -= 30;
      if (code == kZP && s == board->eps - 10) s -= 40;
    }
    key->codes[i] = static_cast<uint8_t>(code);
    key->squares[i] = kSqOfMailbox[s];
    if (PieceKind(code) != 5) key->material += 1u << (3 * (code & 15));
  }
}

void PapNormalise(Pap* key) {
  uint8_t* sq = key->squares;
  int n = 0;
  while (n < 8 && key->codes[n] != 0) n++;
  if ((sq[0] & 7) >= 4) {
    for (int i = 0; i < n; i++) sq[i] ^= 7;
  }
  bool settled = (key->material & kPawnMaterial) != 0;
  if (!settled && (sq[0] >> 3) >= 4) {
    for (int i = 0; i < n; i++) sq[i] ^= 56;
  }
  // Every slot, the last included, may decide the diagonal: a position whose
  // earlier pieces all stand on it is settled only by its last piece, and the
  // finished databases keep only the entry with that piece below it.
  for (int i = 0; i < n; i++) {
    for (int j = i + 1; j < n && key->codes[j] == key->codes[i]; j++) {
      bool smaller = settled ? sq[j] < sq[i] : Folded(sq[j]) < Folded(sq[i]);
      if (smaller) {
        uint8_t t = sq[i];
        sq[i] = sq[j];
        sq[j] = t;
      }
    }
    if (settled) continue;
    if ((sq[i] >> 3) > (sq[i] & 7)) {
      for (int k = 0; k < n; k++) sq[k] = static_cast<uint8_t>(Transposed(sq[k]));
    }
    if ((sq[i] >> 3) < (sq[i] & 7)) settled = true;
  }
}

void PapPack(Pap* key) {
  int k;
  if (key->material & kPawnMaterial) {
    k = KingRedPawn[key->squares[0]];
    if (k >= 32) OutError("PapPack: s0 >= 32");
  } else {
    k = KingRedFree[key->squares[0]];
    if (k >= 10) OutError("PapPack: s0 >= 10");
  }
  double index = k;
  for (int i = 1; i < 8 && key->codes[i] != 0; i++) index = index * 64 + key->squares[i];
  key->index = index;
}

void PapMake(const Ccc* board, Pap* key) {
  PapCreate(board, key);
  PapNormalise(key);
  PapPack(key);
}
