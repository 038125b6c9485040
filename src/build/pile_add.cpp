// Results handed to the pile in the layout of the pass that found them,
// pushed under the entries of the other side's layout.
#include "build/build_driver.h"
#include "build/pile.h"

// TODO(index): replace by the position index header once it is merged.
void ReduceW(int32_t hashw, int32_t hashz, const Basi* basis, int32_t out[4]);
void ReduceZ(int32_t hashw, int32_t hashz, const Basi* basis, int32_t out[4]);

namespace {

// The 16 squares of the two long diagonals. A result whose row king stands
// there reaches the pile twice, once from each of its two mirror-image
// entries, so only the first candidate of each is pushed.
constexpr uint64_t kLongDiagonals = 0x8142241818244281ull;

inline bool OnLongDiagonal(uint32_t config, int bits) {
  return ((kLongDiagonals >> ((config >> (bits - 6)) & 63)) & 1) != 0;
}

}  // namespace

void PileAddZ(uint32_t column, uint32_t hashz) {
  int32_t out[4];
  ReduceW(static_cast<int32_t>(column), static_cast<int32_t>(hashz), &g_basi, out);
  if (out[1] < g_basi.numw) PilePush(out[0], out[1]);
  if (out[3] < g_basi.numw && !OnLongDiagonal(hashz, g_basi.zbits)) PilePush(out[2], out[3]);
}

void PileAddW(uint32_t hashw, uint32_t column) {
  int32_t out[4];
  ReduceZ(static_cast<int32_t>(hashw), static_cast<int32_t>(column), &g_basi, out);
  if (out[1] < g_basi.numz) PilePush(out[0], out[1]);
  if (out[3] < g_basi.numz && !OnLongDiagonal(hashw, g_basi.wbits)) PilePush(out[2], out[3]);
}
