// The position index against the board's own square reader and check test
// (decoding, reduction and unreduction of every symmetric image), the probe
// key, made from the board alone, against the position index; bad endgame
// names, and the search path that finds databases by name.
#include "index/position_index.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "entry_walk.h"
#include "index/names.h"
#include "index/probe_key.h"
#include "test_support.h"

namespace {

// Decoding agrees with the independent board, and both candidates of every
// symmetric image reduce back to the entry.
std::string CheckEntry(const Basi& b, const Entry& e, int wtm) {
  bool pawns = b.npawns != 0;
  Ccc board, other;
  int got = HashToCccp(e.hashw, e.hashz, &b, wtm, &board);
  if (got != (IndependentBoard(b, e.hashw, e.hashz, wtm, &other) ? 1 : 0))
    return "legal " + std::to_string(got);
  if (!got) return "";
  if (memcmp(board.sqrx, other.sqrx, sizeof board.sqrx) != 0 || board.wtm != other.wtm ||
      board.eps != other.eps || board.wsqr[0] != other.wsqr[0] || board.zsqr[0] != other.zsqr[0])
    return "board differs";
  for (int g = 0; g < (pawns ? 2 : 8); g++) {
    int32_t hw = 0, hz = 0, out[4];
    for (int i = 0; i < b.nw; i++) hw = hw << 6 | SymSquare(e.hashw >> 6 * (b.nw - 1 - i) & 63, g);
    for (int i = 0; i < b.nz; i++) hz = hz << 6 | SymSquare(e.hashz >> 6 * (b.nz - 1 - i) & 63, g);
    Reduce(b, wtm, hw, hz, out);
    bool found = false;
    for (int k = 0; k < 4; k += 2) {
      if (out[k + 1] >= (wtm ? b.numw : b.numz)) continue;
      found |= out[k + 1] == e.row && out[k] == e.column;
      Entry c = EntryAt(b, wtm, out[k + 1], out[k]);
      Ccc again;
      if (HashToCccp(c.hashw, c.hashz, &b, wtm, &again) != 1 ||
          !SameUpToSymmetry(board, again, pawns)) {
        return "symmetry " + std::to_string(g) + " candidate " + std::to_string(k / 2);
      }
    }
    if (!found) return "symmetry " + std::to_string(g) + " not reduced back";
  }
  return "";
}

TEST(HashToCccp, EntriesAgreeWithTheBoard) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK", "KQKR", "KRPKP", "KQKBP",
                            "KPPKP", "KNNKB"})
    CheckEntries(name, -1, 3e5, 60000, CheckEntry);
}

// The key of every legal entry names the endgame and an entry that decodes
// to the same position up to symmetry (a candidate of the entry itself when
// no two men are alike).
std::string CheckKey(const Basi& b, const Entry& e, int wtm) {
  bool pawns = b.npawns != 0;
  Ccc board, again;
  if (!HashToCccp(e.hashw, e.hashz, &b, wtm, &board)) return "-";
  Pap key;
  PapMake(&board, &key);
  if (key.material != (b.material | (wtm ? kWhiteToMove : 0))) return "material";
  for (int i = 0; i + 1 < 8 && key.codes[i + 1] != 0; i++) {
    if (key.codes[i] == key.codes[i + 1] && key.squares[i] >= key.squares[i + 1])
      return "identical pieces out of order";
  }
  // Of two diagonal twins the finished databases keep only the entry whose
  // first piece off the a1-h8 diagonal stands below it.
  for (int i = 0; !pawns && i < 8 && key.codes[i] != 0; i++) {
    int rank = key.squares[i] >> 3, file = key.squares[i] & 7;
    if (rank == file) continue;
    if (rank > file) return "key names the non-canonical diagonal twin";
    break;
  }
  double cols = wtm ? b.zsize : b.wsize;
  int32_t rows = wtm ? b.numw : b.numz;
  double row = std::floor(key.index / cols);
  if (row >= rows) return "row out of range";
  Entry k = EntryAt(b, wtm, static_cast<int32_t>(row),
                    static_cast<int32_t>(key.index - row * cols));
  if (HashToCccp(k.hashw, k.hashz, &b, wtm, &again) != 1 ||
      !SameUpToSymmetry(board, again, pawns)) {
    return "index decodes to another position";
  }
  bool ok = false;  // men alike may be keyed by another entry of the same position
  for (int i = 1; i + 1 < b.nw; i++) ok |= b.white[i] == b.white[i + 1];
  for (int i = 1; i + 1 < b.nz; i++) ok |= b.black[i] == b.black[i + 1];
  int32_t out[4];
  Reduce(b, wtm, e.hashw, e.hashz, out);
  for (int c = 0; c < 4; c += 2) {
    ok |= out[c + 1] < rows && static_cast<double>(out[c + 1]) * cols + out[c] == key.index;
  }
  return ok ? "" : "index is no candidate of the entry";
}

TEST(PapMake, KeysDecodeToTheirPositions) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK", "KRRK", "KNNKB", "KPPKP",
                            "KQKRP", "KRPKPP", "KBBKNN"})
    CheckEntries(name, -1, 3e5, 50000, CheckKey);
}

TEST(MakeBasi, RefusesBadNames) {
  const char* const kCases[][2] = {
      {"KRQK", "MakeBasi: bad order"},     {"KQRBNPK", "MakeBasi: too many of one side"},
      {"QKK", "MakeBasi: kings problem"},  {"KQ", "MakeBasi: kings problem"},
      {"KQKXR", "MakeBasi: bad piece"},
  };
  Basi b;
  for (const auto& c : kCases) EXPECT_FATAL(MakeBasi(c[0], &b), c[1]);
}

// The first directory of the path that holds the index file wins; an entry
// is joined to the name as it is.
TEST(SearchPath, FindsDatabasesByIndexFileInOrder) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  Basi kqk;
  MakeBasi("KQK", &kqk);
  uint32_t code = kqk.material | kWhiteToMove;
  std::system("mkdir -p a b");
  WriteFile("b/KQK____W.JIX", "");
  WriteFile("a/KQK____W.J00", "");  // a chunk file alone is not a database
  FresSetPath(nullptr);
  FresSetPath("a/");
  FresSetPath("b/");
  EXPECT_STREQ(FresTry(code), "b/KQK____W");
  WriteFile("a/KQK____W.JIX", "");
  EXPECT_STREQ(FresTry(code), "a/KQK____W");
  EXPECT_EQ(FresTry(kqk.material), nullptr);
  FresSetPath(nullptr);
  FresSetPath("b");
  WriteFile("bKQK____W.JIX", "");
  EXPECT_STREQ(FresTry(code), "bKQK____W");
  for (int i = 1; i < 10; i++) FresSetPath("./");
  EXPECT_FATAL(FresSetPath("./"), "FresSetPath: max 10 allowed");
  EXPECT_FATAL(FresFind(kqk.material), "FresFind: KQK____B not found");
  FresSetPath(nullptr);
  FresSetPath("./");
}

}  // namespace
