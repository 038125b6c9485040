// The probe key, made from the board alone, against the position index.
#include "index/probe_key.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "entry_walk.h"
#include "index/position_index.h"

namespace {

bool HasIdenticalPieces(const Basi& b) {
  for (int i = 1; i + 1 < b.nw; i++) {
    if (b.white[i] == b.white[i + 1]) return true;
  }
  for (int i = 1; i + 1 < b.nz; i++) {
    if (b.black[i] == b.black[i + 1]) return true;
  }
  return false;
}

// The key of every legal entry names the endgame and an entry that decodes
// to the same position up to symmetry.
void CheckKeys(const char* name, double limit, int samples) {
  Basi b;
  MakeBasi(name, &b);
  bool pawns = b.npawns != 0;
  bool identical = HasIdenticalPieces(b);
  int failures = 0;
  for (int wtm = 0; wtm < 2; wtm++) {
    double cols = wtm ? b.zsize : b.wsize;
    int32_t rows = wtm ? b.numw : b.numz;
    ForEachEntry(b, wtm, limit, samples, [&](const Entry& e) {
      if (failures > 5) return;
      Ccc board;
      if (!HashToCccp(e.hashw, e.hashz, &b, wtm, &board)) return;
      Pap key;
      PapMake(&board, &key);
      std::string why;
      if (key.material != (b.material | (wtm ? kWhiteToMove : 0))) why = "material";
      for (int i = 0; i + 1 < 8 && key.codes[i + 1] != 0; i++) {
        if (key.codes[i] == key.codes[i + 1] && key.squares[i] >= key.squares[i + 1]) {
          why = "identical pieces out of order";
        }
      }
      // The finished databases keep, of two diagonal twins, only the entry
      // whose first piece off the a1-h8 diagonal stands below it; the key
      // must name that one, whichever piece (the last included) decides.
      for (int i = 0; !pawns && i < 8 && key.codes[i] != 0; i++) {
        int rank = key.squares[i] >> 3, file = key.squares[i] & 7;
        if (rank == file) continue;
        if (rank > file) why = "key names the non-canonical diagonal twin";
        break;
      }
      double row = std::floor(key.index / cols);
      auto column = static_cast<int32_t>(key.index - row * cols);
      Ccc again;
      if (row >= rows) {
        why = "row out of range";
      } else {
        int32_t r = static_cast<int32_t>(row);
        int32_t hw = wtm ? UnreduceW(r, &b) : column;
        int32_t hz = wtm ? column : UnreduceZ(r, &b);
        if (HashToCccp(hw, hz, &b, wtm, &again) != 1 || !SameUpToSymmetry(board, again, pawns)) {
          why = "index decodes to another position";
        }
      }
      if (!identical && why.empty()) {
        int32_t out[4];
        if (wtm) {
          ReduceW(e.hashw, e.hashz, &b, out);
        } else {
          ReduceZ(e.hashw, e.hashz, &b, out);
        }
        bool found = false;
        for (int k = 0; k < 4; k += 2) {
          found |= out[k + 1] < rows && static_cast<double>(out[k + 1]) * cols + out[k] == key.index;
        }
        if (!found) why = "index is no candidate of the entry";
      }
      if (!why.empty()) {
        ADD_FAILURE() << EntryText(b, e) << " " << why << " (index " << key.index << ")";
        failures++;
      }
    });
  }
}

TEST(PapMake, KeysDecodeToTheirPositions) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK"}) CheckKeys(name, 3e5, 100000);
  for (const char* name : {"KRRK", "KNNKB", "KPPKP", "KQKRP", "KRPKPP", "KBBKNN"}) {
    CheckKeys(name, 0, 30000);
  }
}

}  // namespace
