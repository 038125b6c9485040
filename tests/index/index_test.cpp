// The index against the board: decoding, reduction, probe key, the passes' generators
// and check tests against the board's reader, generator and attack tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/move_generation.h"
#include "index/basis.h"
#include "index/config_moves.h"
#include "index/move_counter.h"
#include "index/names.h"
#include "index/position_index.h"
#include "index/probe_key.h"
#include "test_support.h"

namespace {

struct Entry {
  int32_t row, column, hashw, hashz;
};

// The entry at row r, column c of a table; the (up to two) candidates of a position.
inline Entry EntryAt(const Basi& b, int wtm, int32_t r, int32_t c) {
  return wtm ? Entry{r, c, UnreduceW(r, &b), c} : Entry{r, c, c, UnreduceZ(r, &b)};
}
inline void Reduce(const Basi& b, int wtm, int32_t hashw, int32_t hashz, int32_t out[4]) {
  wtm ? ReduceW(hashw, hashz, &b, out) : ReduceZ(hashw, hashz, &b, out);
}

// check(b, e, wtm) on every entry of both tables (or of `only_wtm`), or on `samples` random
// ones of a table above `limit`: "" agrees, "-" does not apply, else what differs.
template <typename Check>
void CheckEntries(const char* name, int only_wtm, double limit, int samples, Check check) {
  Basi b;
  MakeBasi(name, &b);
  int failures = 0;
  double checked = 0;
  uint64_t x = 0;
  auto next = [&](int32_t n) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<int32_t>((x >> 33) % static_cast<uint64_t>(n));
  };
  for (int wtm = 0; wtm < 2; wtm++) {
    if (only_wtm >= 0 && wtm != only_wtm) continue;
    int32_t rows = wtm ? b.numw : b.numz, cols = wtm ? b.zsize : b.wsize;
    double size = static_cast<double>(rows) * cols;
    bool whole = size <= limit;
    x = 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(b.material) ^ (uint64_t)wtm << 40;
    for (double i = 0; i < (whole ? size : samples); i++) {
      int32_t r = whole ? static_cast<int32_t>(i / cols) : next(rows);
      int32_t c = whole ? static_cast<int32_t>(i - static_cast<double>(r) * cols) : next(cols);
      Entry e = EntryAt(b, wtm, r, c);
      std::string why = check(b, e, wtm);
      if (why != "-") checked++;
      if (why == "-" || why.empty() || failures++ > 5) continue;
      ADD_FAILURE() << b.name << " row " << r << " column " << c << " hashw o" << std::oct << e.hashw
                    << " hashz o" << e.hashz << std::dec << " " << why;
    }
  }
  EXPECT_GT(checked, 0) << name;
}

// The entry's squares read by the board's own reader, or false when they are no legal
// position (pawn on the last rank, two men on a square, bad en passant, king en prise).
inline bool IndependentBoard(const Basi& b, int32_t hashw, int32_t hashz, int wtm, Ccc* out) {
  int code[64] = {};
  int ep = -1;       // square the double-stepped pawn crossed
  int ep_pawn = -1;  // where that pawn stands
  for (int side = 0; side < 2; side++) {
    bool white = side == 0;
    int n = white ? b.nw : b.nz;
    int32_t h = white ? hashw : hashz;
    for (int i = 0; i < n; i++) {
      int c = white ? b.white[i] : b.black[i];
      int sq = h >> 6 * (n - 1 - i) & 63;
      int rank = sq >> 3;
      if (PieceKind(c) == 0) {
        if (rank == 7) return false;
        if (rank == 0) {
          // Only the side that just moved can have a double-stepped pawn.
          if (!b.epflag || ep >= 0 || (white ? wtm : !wtm)) return false;
          ep_pawn = white ? sq + 24 : sq + 32;
          ep = white ? sq + 16 : sq + 40;
          sq = ep_pawn;
        }
      }
      if (code[sq] != 0) return false;
      code[sq] = c;
    }
  }
  if (ep >= 0) {
    int file = ep_pawn & 7;
    int capturer = wtm ? kWP : kZP;
    bool beside =
        (file > 0 && code[ep_pawn - 1] == capturer) || (file < 7 && code[ep_pawn + 1] == capturer);
    int start = wtm ? ep + 8 : ep - 8;
    if (!beside || code[ep] != 0 || code[start] != 0) return false;
  }
  std::string text(64, '.');
  for (int sq = 0; sq < 64; sq++) {
    int lower = (code[sq] & kWhiteBit) ? 0 : 32;
    char letter = code[sq] ? static_cast<char>("PNBRQK"[PieceKind(code[sq])] + lower) : 'E';
    if (code[sq] != 0 || sq == ep) text[8 * (7 - (sq >> 3)) + (sq & 7)] = letter;
  }
  // The side not to move must not be in check: ask the board with that side to move.
  CccSetString((text + (wtm ? "" : "w")).c_str(), out);
  if (CccInCheck(out) != 0) return false;
  CccSetString((text + (wtm ? "w" : "")).c_str(), out);
  return true;
}

// Square sq under symmetry g (bit 0 file mirror, bit 1 rank flip, bit 2 transposition).
inline int SymSquare(int sq, int g) {
  int file = (sq & 7) ^ (g & 1 ? 7 : 0), rank = (sq >> 3) ^ (g & 2 ? 7 : 0);
  return g & 4 ? 8 * file + rank : 8 * rank + file;
}

// Same cells, side to move and en passant under a symmetry (left-right only with pawns).
inline bool SameUpToSymmetry(const Ccc& a, const Ccc& c, bool pawns) {
  if (a.wtm != c.wtm || (a.eps == 0) != (c.eps == 0)) return false;
  for (int g = 0; g < (pawns ? 2 : 8); g++) {
    bool same = true;
    for (int sq = 0; sq < 64 && same; sq++)
      same = CccCell(&a, kMailboxOfSq[sq]) == CccCell(&c, kMailboxOfSq[SymSquare(sq, g)]);
    if (same && a.eps != 0) same = kMailboxOfSq[SymSquare(kSqOfMailbox[a.eps], g)] == c.eps;
    if (same) return true;
  }
  return false;
}

// Configuration number of a side in basis order, an en-passant pawn on its first rank.
inline int32_t HashOfSide(const Ccc& board, bool white) {
  const uint8_t* list = white ? board.wsqr : board.zsqr;
  int32_t h = 0;
  for (int i = 0; list[i] != 0; i++) {
    int s = list[i];
    if (board.eps != 0) {
      if (white && s == board.eps + 10 && CccCell(&board, s) == kWP) s -= 30;
      if (!white && s == board.eps - 10 && CccCell(&board, s) == kZP) s -= 40;
    }
    h = h << 6 | kSqOfMailbox[s];
  }
  return h;
}

// Decoding agrees with the independent board; every symmetric image reduces back.
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
      if (HashToCccp(c.hashw, c.hashz, &b, wtm, &again) != 1 || !SameUpToSymmetry(board, again, pawns)) {
        return "symmetry " + std::to_string(g) + " candidate " + std::to_string(k / 2);
      }
    }
    if (!found) return "symmetry " + std::to_string(g) + " not reduced back";
  }
  return "";
}

TEST(HashToCccp, EntriesAgreeWithTheBoard) {
  for (const char* name :
       {"KQK", "KPK", "KPKP", "KRKP", "KBNK", "KQKR", "KRPKP", "KQKBP", "KPPKP", "KNNKB"})
    CheckEntries(name, -1, 3e5, 60000, CheckEntry);
}

// The key of every legal entry names the endgame and an entry of the same position up
// to symmetry (a candidate of the entry itself when no two men are alike).
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
  Entry k = EntryAt(b, wtm, static_cast<int32_t>(row), static_cast<int32_t>(key.index - row * cols));
  if (HashToCccp(k.hashw, k.hashz, &b, wtm, &again) != 1 || !SameUpToSymmetry(board, again, pawns)) {
    return "index decodes to another position";
  }
  bool ok = false;  // men alike may be keyed by another entry of the same position
  for (int i = 1; i + 1 < b.nw; i++) ok |= b.white[i] == b.white[i + 1];
  for (int i = 1; i + 1 < b.nz; i++) ok |= b.black[i] == b.black[i + 1];
  int32_t out[4];
  Reduce(b, wtm, e.hashw, e.hashz, out);
  for (int c = 0; c < 4; c += 2)
    ok |= out[c + 1] < rows && static_cast<double>(out[c + 1]) * cols + out[c] == key.index;
  return ok ? "" : "index is no candidate of the entry";
}

TEST(PapMake, KeysDecodeToTheirPositions) {
  for (const char* name :
       {"KQK", "KPK", "KPKP", "KRKP", "KBNK", "KRRK", "KNNKB", "KPPKP", "KQKRP", "KRPKPP", "KBBKNN"})
    CheckEntries(name, -1, 3e5, 50000, CheckKey);
}

// Six- and seven-man tables (KQQKQQ: 10 x 64^5 entries a side; KQRNKQR:
// 10 x 64^6; KRPPKRP: 32 x 64^6) at their ends: the first and the last entry
// reduce back, and a legal position of the last rows (squares below) keys
// its own entry, past 2^32.
TEST(PositionIndex, SixAndSevenManTablesRoundTripAtTheirEnds) {
  const struct {
    const char* name;
    int wtm;
    double entries, row, column, key;
  } cases[] = {{"KQQKQQ", 1, 10737418240.0, 36799, 200249, 9646837305.0},        // d3 g8 h8, a7 a8 b8
               {"KQRNKQR", 1, 687194767360.0, 2355191, 200249, 617399389753.0},  // d3 g8 h8 h7, a7 a8 b8
               {"KQRNKQR", 0, 687194767360.0, 36799, 12815936, 617397587520.0},  // a7 a8 b8 a1, d3 g8 h8
               {"KRPPKRP", 1, 2199023255552.0, 8388023, 72, 2198869901384.0}};   // d8 h8 g7 h7, a1 b1 a2
  for (const auto& c : cases) {
    Basi b;
    MakeBasi(c.name, &b);
    const int32_t rows = c.wtm ? b.numw : b.numz, cols = c.wtm ? b.zsize : b.wsize;
    int32_t out[4];
    EXPECT_EQ(static_cast<double>(rows) * cols, c.entries) << c.name;
    for (const Entry& e : {EntryAt(b, c.wtm, 0, 0), EntryAt(b, c.wtm, rows - 1, cols - 1)}) {
      Reduce(b, c.wtm, e.hashw, e.hashz, out);
      EXPECT_TRUE(out[1] == e.row && out[0] == e.column) << c.name << " row " << e.row;
    }
    const Entry e = EntryAt(b, c.wtm, static_cast<int32_t>(c.row), static_cast<int32_t>(c.column));
    Ccc board;
    Pap key;
    ASSERT_EQ(HashToCccp(e.hashw, e.hashz, &b, c.wtm, &board), 1) << c.name;
    PapMake(&board, &key);
    EXPECT_TRUE(key.index == c.key && c.row * cols + c.column == c.key) << c.name;
    EXPECT_EQ(CheckEntry(b, e, c.wtm), "") << c.name;
  }
}

TEST(MakeBasi, RefusesBadNames) {
  const char* const kCases[][2] = {{"KRQK", "MakeBasi: bad order"},
                                   {"KQRBNPK", "MakeBasi: too many of one side"},
                                   {"QKK", "MakeBasi: kings problem"},
                                   {"KQKXR", "MakeBasi: bad piece"}};
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
  const SearchPath ab{"a/", "b/"};
  EXPECT_EQ(ab.Path(code), "b/KQK____W");
  WriteFile("a/KQK____W.JIX", "");
  EXPECT_EQ(ab.Path(code), "a/KQK____W");
  EXPECT_EQ(ab.Path(kqk.material), "");
  EXPECT_EQ(SearchPath{}.Path(code), "");
  WriteFile("bKQK____W.JIX", "");
  EXPECT_EQ(SearchPath{"b"}.Path(code), "bKQK____W");
  EXPECT_FATAL(ab.Find(kqk.material), "FresFind: KQK____B not found");
}

// The quiet moves of the side to move, as the configurations of that side
// they reach.
std::vector<Ccc> QuietSuccessors(const Ccc& board) {
  uint32_t moves[kCccMaxMoves];
  int n = CccGenMoves(&board, moves);
  std::vector<Ccc> out;
  for (int i = 0; i < n; i++) {
    if (CccCell(&board, MoveTo(moves[i])) != kEmpty || (moves[i] & kMoveSpecial) != 0) continue;
    Ccc next;
    CccDoMove(const_cast<Ccc*>(&board), moves[i], &next);
    out.push_back(next);
  }
  return out;
}

int Unmove(bool white, int32_t h, const Ccc* board, int32_t* out) {
  return white ? UnmoveW(h, board, out) : UnmoveZ(h, board, out);
}

// Quiet moves un-move back to the origin; every legal predecessor listed has the move.
std::string CheckUnmoves(const Basi& b, const Entry& e, int wtm) {
  Ccc origin;
  if (!HashToCccp(e.hashw, e.hashz, &b, wtm, &origin)) return "-";
  bool white = wtm == 1;
  int32_t out[kConfigMovesMax];
  for (const Ccc& next : QuietSuccessors(origin)) {
    int32_t hw = HashOfSide(next, true), hz = HashOfSide(next, false);
    Ccc decoded;
    if (HashToCccp(hw, hz, &b, !wtm, &decoded) != 1) return "successor does not decode";
    int k = Unmove(white, white ? hw : hz, &decoded, out);
    if (std::find(out, out + k, white ? e.hashw : e.hashz) == out + k)
      return "successor does not un-move to the origin";
  }
  int k = Unmove(!white, white ? e.hashz : e.hashw, &origin, out);
  int32_t other_side = HashOfSide(origin, white);
  for (int i = 0; i < k; i++) {
    Ccc before;
    if (!HashToCccp(white ? other_side : out[i], white ? out[i] : other_side, &b, !wtm, &before))
      continue;
    bool found = false;
    for (const Ccc& next : QuietSuccessors(before))
      found |= HashOfSide(next, !white) == (white ? e.hashz : e.hashw);
    if (!found) return "predecessor o" + std::to_string(out[i]) + " has no quiet move here";
  }
  return "";
}

TEST(Unmove, AgreesWithTheGenerator) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK", "KRPKP", "KPPKP", "KQKRP", "KNPKBP"})
    CheckEntries(name, -1, 5e4, 15000, CheckUnmoves);
}

// QuietZ lists the generator's quiet black moves, and besides them only
// moves that leave the black king attacked.
std::string CheckQuietZ(const Basi& b, const Entry& e, int) {
  Ccc board;
  if (!HashToCccp(e.hashw, e.hashz, &b, 0, &board)) return "-";
  int32_t out[kConfigMovesMax];
  std::vector<int32_t> listed(out, out + QuietZ(e.hashz, &board, out)), legal;
  for (const Ccc& next : QuietSuccessors(board)) legal.push_back(HashOfSide(next, false));
  std::sort(listed.begin(), listed.end());
  std::sort(legal.begin(), legal.end());
  bool ok = std::adjacent_find(listed.begin(), listed.end()) == listed.end() &&
            std::includes(listed.begin(), listed.end(), legal.begin(), legal.end());
  Ccc plain = board;
  plain.eps = 0;
  for (int32_t h : listed) {
    Ccc next;
    if (std::binary_search(legal.begin(), legal.end(), h)) continue;
    ok &= HashToCccp(HashOfSide(plain, true), h, &b, 1, &next) == 0;
  }
  if (!ok) return "QuietZ differs from the generator";
  // The early-ending test: true over the listed moves' bits, false once any
  // one of them is missing.
  std::vector<uint8_t> bits(listed.empty() ? 1 : static_cast<size_t>(listed.back()) / 8 + 1);
  for (int32_t h : listed) bits[h >> 3] |= static_cast<uint8_t>(1 << (h & 7));
  if (!QuietZAllIn(e.hashz, &board, bits.data())) return "QuietZAllIn misses a listed move";
  for (int32_t h : listed) {
    bits[h >> 3] ^= static_cast<uint8_t>(1 << (h & 7));
    if (QuietZAllIn(e.hashz, &board, bits.data())) return "QuietZAllIn passes a missing move";
    bits[h >> 3] ^= static_cast<uint8_t>(1 << (h & 7));
  }
  return "";
}

TEST(QuietZ, AgreesWithTheGenerator) {
  for (const char* name : {"KQK", "KPKP", "KRKP", "KBNK", "KRPKP", "KQKRP", "KPKPP", "KNPKBP"})
    CheckEntries(name, 0, 3e5, 50000, CheckQuietZ);
}

// On boards where both sides are placed, legal or not, the fast check tests
// agree with the board's attack tests on the kings' squares.
std::string CheckInChk(const Basi& b, const Entry& e, int wtm) {
  Ccc board;
  int placed = wtm ? HashToWtmSetW(e.hashw, &b, &board) : HashToZtmSetW(e.hashw, &b, &board);
  if (!placed || !HashPlaceZ(e.hashz, &b, &board)) return "-";
  bool same = InChkW(&board) == AttackedByZ(&board, board.wsqr[0]) &&
              InChkZ(&board) == AttackedByW(&board, board.zsqr[0]);
  return same ? "" : "InChkW or InChkZ differs";
}

TEST(InChk, AgreesWithTheAttackTests) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK", "KQKR", "KRBKN", "KNPKQ", "KBBKP"})
    CheckEntries(name, -1, 3e5, 60000, CheckInChk);
}

// ZtmGen's count and its list of moves that leave the material (captures,
// en passant, promotions) against the full generator.
std::string CheckZtmGen(const Basi& b, const Entry& e, int) {
  Ccc board;
  if (!HashToCccp(e.hashw, e.hashz, &b, 0, &board)) return "-";
  uint32_t fast[kZtmGenMaxList], full[kCccMaxMoves];
  int n = ZtmGen(&board, fast);
  int m = CccGenMoves(&board, full);
  std::vector<uint32_t> listed(fast, std::find(fast, fast + kZtmGenMaxList, 0u)), leaving;
  for (uint32_t mv : std::vector<uint32_t>(full, full + m))
    if ((CccCell(&board, MoveTo(mv)) & kWhiteBit) || (mv & kMoveEp) || MovePromo(mv) != 0)
      leaving.push_back(mv);
  std::sort(listed.begin(), listed.end());
  std::sort(leaving.begin(), leaving.end());
  if (n != m) return "count " + std::to_string(n) + " vs " + std::to_string(m);
  return listed == leaving ? "" : "listed moves differ";
}

// The larger ones bring pins, blocks, checks by every piece, promotions and
// en passant.
TEST(ZtmGen, AgreesWithTheGenerator) {
  for (const char* name : {"KQK", "KPK", "KPKP", "KRKP", "KBNK", "KQKN", "KQKRP", "KRBKN", "KRPKP",
                           "KBNKQ", "KQKPP", "KNPKBP"})
    CheckEntries(name, 0, 3e5, 80000, CheckZtmGen);
}

}  // namespace
