#include "commands/verify.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "board/move_generation.h"
#include "builder/progress.h"
#include "builder/row_batches.h"
#include "index/basis.h"
#include "index/names.h"
#include "index/position_index.h"
#include "index/probe_key.h"
#include "jar/jar_file.h"
#include "jar/jar_format.h"
#include "platform/platform.h"
#include "probe/block_memo.h"
#include "probe/probe.h"
#include "support/checked_ops.h"
#include "support/console.h"

namespace {

constexpr int kNoMate = 255;
constexpr int kLongest = 254;  // values saturate here
// A side is checked one band of columns at a time, every row of the band
// at once: the entries of one column differ in the mover's men only, so
// all the successors their quiet moves lead to lie on one row of the other
// side's table, which a column's walk decodes once. The band's stored
// values are read first, at most this many MB unless ZOK_VERIFY_MB says
// otherwise (a six-man band is one king square of the side not to move:
// 168 MB; a five-man side fits whole).
constexpr int kBandMegabytes = 192;
// Rows a worker reads at a time while a band is filled, columns it checks
// at a time, and rows of the twin's comparison.
constexpr int32_t kFillRows = 64;
constexpr int32_t kColumnsPerTake = 4;
constexpr int32_t kTwinRows = 16;
constexpr int kShownWrong = 10;
constexpr auto kPollInterval = std::chrono::milliseconds(50);
// Decoded blocks kept by the probing library, shared by the workers: the
// rows a band's columns lead to and the sub-endgames' blocks their captures
// reach, with the band buffer inside about 300 MB.
constexpr size_t kCacheBytes = size_t{96} << 20;
// Blocks each worker keeps for itself: what one column's successors touch.
constexpr int kMemoBlocks = 256;

// A value byte, or the end of the check when the database cannot give it.
int Checked(int byte, uint32_t material) {
  if (byte >= 0) return byte;
  char name[16] = "?";
  FresNameTo(material, name);
  OutError("ExeVerify: %s %s", name, byte == kProbeMissing ? "not found" : "damaged");
}

// The value byte of the position on the board, from the finished database
// its probe key names; a position where White has only the king is never won.
int ByteOf(ProbeMemo& memo, const Ccc* board) {
  if (board->wsqr[1] == 0) return kNoMate;
  Pap key;
  PapMake(board, &key);
  return Checked(ProbeMemoByte(memo, key.material, static_cast<int64_t>(key.index)), key.material);
}

// The probe keys of the successors a move of one man to an empty square
// leaves in the endgame: only that man's square changes, and the symmetry
// that brings the other side's king (now to move) home is the same for
// all of them, so each key is the position's own sum with one term
// exchanged (or one run of equal men sorted again). Where that king stands
// on the long diagonal its own men decide the reflection; only where they
// all stand on it too is each key made in full.
struct QuietKeys {
  const Basi* basis;
  uint32_t material;  // the successors' code, side to move included
  int n, other;       // men, and men of the side now to move (key order)
  bool bare;          // White has only the king: no successor is won
  bool fixed;         // the symmetry is known
  int flip;           // squares XOR this, then transposed when `transpose`
  bool transpose;
  Pap key;                        // codes and untransformed squares, for the full key
  uint8_t square[kPapMaxPieces];  // transformed, in key order
  int64_t weight[kPapMaxPieces];
  int run[kPapMaxPieces];      // first slot of each slot's run of equal men
  bool single[kPapMaxPieces];  // no other man like it
  bool summed;                 // the key is a sum of terms, not made in full
  int64_t still_base;          // the side not to move's terms of `base`
  int64_t base;                // the position's sum with the other side to move
  uint8_t man_of[80];          // the mover's slot (basis order) by mailbox square

  int Transformed(int sq) const {
    sq ^= flip;
    return transpose ? (sq & 7) << 3 | sq >> 3 : sq;
  }
};

// The square folded onto the lower half of the long diagonal's reflection.
inline int Folded(int sq) {
  int file = sq & 7, rank = sq >> 3;
  return file < rank ? 8 * file + rank : 8 * rank + file;
}

// The sum the run of equal men from slot `first` adds, smallest square in
// the highest place as the normalised key has it.
inline int64_t RunSum(const QuietKeys& q, const uint8_t* square, int first) {
  int end = first + 1;
  while (end < q.n && q.key.codes[end] == q.key.codes[first]) end++;
  if (end == first + 1) return square[first] * q.weight[first];
  uint8_t sorted[kPapMaxPieces];
  int m = 0;
  for (int i = first; i < end; i++) {
    int j = m++;
    for (; j > 0 && sorted[j - 1] > square[i]; j--) sorted[j] = sorted[j - 1];
    sorted[j] = square[i];
  }
  int64_t sum = 0;
  for (int i = 0; i < m; i++) sum += sorted[i] * q.weight[first + i];
  return sum;
}

// What the successors of one side's moves share in every position: the
// key's codes, its places and the runs of equal men.
void SetQuietSide(const Basi* b, bool white, QuietKeys& q) {
  q.basis = b;
  q.other = white ? b->nz : b->nw;
  q.n = b->nw + b->nz;
  q.material = white ? b->material : b->material | kWhiteToMove;
  q.bare = b->nw == 1;
  const uint8_t* codes[2] = {white ? b->black : b->white, white ? b->white : b->black};
  q.key = Pap{};
  q.key.material = q.material;
  int64_t w = 1;
  for (int i = q.n - 1; i >= 0; i--) {
    int side = i < q.other ? 0 : 1;
    q.key.codes[i] = codes[side][i - side * q.other];
    q.weight[i] = w;
    w *= 64;
  }
  for (int i = 0; i < q.n; i++) {
    q.run[i] = i > 0 && q.key.codes[i - 1] == q.key.codes[i] ? q.run[i - 1] : i;
  }
  for (int i = 0; i < q.n; i++) {
    q.single[i] = q.run[i] == i && (i + 1 == q.n || q.run[i + 1] != i);
  }
}

// The part of the keys the side not to move decides: its squares and the
// symmetry they settle. The same for every position of one column.
void SetQuietStill(const Ccc* board, QuietKeys& q) {
  const Basi* b = q.basis;
  const uint8_t* still = board->wtm ? board->zsqr : board->wsqr;
  for (int i = 0; i < q.other; i++) q.key.squares[i] = kSqOfMailbox[still[i]];
  // The normalisation of the key, on the stationary side's men only: the
  // symmetry is fixed once one of them settles it.
  int king = q.key.squares[0];
  q.flip = (king & 7) >= 4 ? 7 : 0;
  q.transpose = false;
  bool settled = b->npawns != 0;
  if (!settled && ((king ^ q.flip) >> 3) >= 4) q.flip |= 56;
  uint8_t sq[kPapMaxPieces];
  for (int i = 0; i < q.other; i++) sq[i] = static_cast<uint8_t>(q.key.squares[i] ^ q.flip);
  for (int i = 0; i < q.other && !settled; i++) {
    for (int j = i + 1; j < q.other && q.key.codes[j] == q.key.codes[i]; j++) {
      if (Folded(sq[j]) < Folded(sq[i])) std::swap(sq[i], sq[j]);
    }
    if ((sq[i] >> 3) > (sq[i] & 7)) {
      for (int k = 0; k < q.other; k++) sq[k] = static_cast<uint8_t>((sq[k] & 7) << 3 | sq[k] >> 3);
      q.transpose = !q.transpose;
    }
    settled = (sq[i] >> 3) < (sq[i] & 7);
  }
  q.fixed = settled;
  if (!q.fixed) return;
  for (int i = 0; i < q.other; i++) q.square[i] = static_cast<uint8_t>(q.Transformed(q.key.squares[i]));
  // The position's own key with the other side to move: the mover's men
  // follow the settled symmetry, each run of equal ones in square order, and
  // so do the other side's when their king settled it alone. Else the men
  // that settled it may stand out of square order, as the full key has them.
  q.summed = b->npawns != 0 || (q.square[0] >> 3) != (q.square[0] & 7);
  if (!q.summed) return;
  int k = q.square[0];
  q.still_base = static_cast<int64_t>(b->npawns != 0 ? KingRedPawn[k] : KingRedFree[k]) * q.weight[0];
  for (int i = 1; i < q.other; i++) {
    if (q.run[i] == i) q.still_base += RunSum(q, q.square, i);
  }
}

// The mover's part of the keys, after SetQuietStill for the same men of
// the side not to move.
void SetQuietMover(const Ccc* board, QuietKeys& q) {
  const uint8_t* mover = board->wtm ? board->wsqr : board->zsqr;
  for (int i = q.other; i < q.n; i++) {
    int at = i - q.other;
    q.key.squares[i] = kSqOfMailbox[mover[at]];
    q.man_of[mover[at]] = static_cast<uint8_t>(at);
  }
  if (!q.fixed) return;
  for (int i = q.other; i < q.n; i++)
    q.square[i] = static_cast<uint8_t>(q.Transformed(q.key.squares[i]));
  if (q.summed) {
    q.base = q.still_base;
    for (int i = q.other; i < q.n; i++) {
      if (q.run[i] == i) q.base += RunSum(q, q.square, i);
    }
    return;
  }
  Pap key = q.key;
  PapNormalise(&key);
  PapPack(&key);
  q.base = static_cast<int64_t>(key.index);
}

// The entry of the successor where the mover's man in slot `man` (basis
// order) goes to mailbox square `to`.
int64_t QuietIndex(QuietKeys& q, int man, int to) {
  int slot = q.other + man;
  int sq = kSqOfMailbox[to];
  if (!q.fixed) {
    Pap key = q.key;
    key.squares[slot] = static_cast<uint8_t>(sq);
    PapNormalise(&key);
    PapPack(&key);
    return static_cast<int64_t>(key.index);
  }
  if (q.single[slot]) return q.base + (q.Transformed(sq) - q.square[slot]) * q.weight[slot];
  int first = q.run[slot];
  uint8_t square[kPapMaxPieces];
  memcpy(square, q.square, sizeof square);
  int64_t before = RunSum(q, square, first);
  square[slot] = static_cast<uint8_t>(q.Transformed(sq));
  return q.base - before + RunSum(q, square, first);
}

// A copy of the row of the successors' table that one column's quiet
// moves lead to: once made, each of their values is one read.
struct RowWindow {
  int64_t first = 0, end = 0;  // the entries held
  int64_t row = 1;             // entries of a row of that table
  std::vector<uint8_t> bytes;
};

int QuietByte(ProbeMemo& memo, RowWindow& w, uint32_t material, int64_t index) {
  if (index >= w.first && index < w.end) return w.bytes[static_cast<size_t>(index - w.first)];
  int byte = ProbeMemoByte(memo, material, index);
  if (byte < 0) return Checked(byte, material);
  // Copies the row block by block from the memo; a row shorter than a block
  // is served by the memo's last block as well.
  if (w.row < kBlockSize) return byte;
  int64_t first = index / w.row * w.row, end = first + w.row;
  w.first = w.end = 0;
  w.bytes.resize(static_cast<size_t>(w.row));
  for (int64_t e = first; e < end;) {
    int b = ProbeMemoByte(memo, material, e);
    if (b < 0) return byte;  // the row's other entries are read one by one
    int64_t stop = std::min(end, memo.last_end);
    memcpy(&w.bytes[static_cast<size_t>(e - first)], memo.last_block + (e - memo.last_first),
           static_cast<size_t>(stop - e));
    e = stop;
  }
  w.first = first;
  w.end = end;
  return byte;
}

// The value byte of one successor: a man's move to an empty square by its
// key's arithmetic, any other (capture, promotion, en passant, a double
// step that gives an en-passant right) from the board it leads to.
int SuccessorByte(ProbeMemo& memo, RowWindow& w, QuietKeys& q, const Ccc* board, uint32_t move) {
  int from = MoveFrom(move), to = MoveTo(move);
  int piece = CccCell(board, from);
  bool quiet = (move & kMoveSpecial) == 0 && CccCell(board, to) == kEmpty &&
               !(PieceKind(piece) == 0 && (to - from == 20 || from - to == 20));
  if (!quiet) {
    Ccc next;
    CccDoMove(const_cast<Ccc*>(board), move, &next);
    return ByteOf(memo, &next);
  }
  if (q.bare) return kNoMate;
  return QuietByte(memo, w, q.material, QuietIndex(q, q.man_of[from], to));
}

// The value byte the rules give a position from its successors' values:
// White takes the fastest mate, Black the slowest or an escape. The keys'
// part of the side not to move is already set for the board.
int Expected(ProbeMemo& memo, RowWindow& w, QuietKeys& q, const Ccc* board) {
  uint32_t moves[kCccMaxMoves];
  int n = CccGenMoves(board, moves);
  if (n == 0 && !board->wtm) return CccInCheck(board) ? 0 : kNoMate;
  SetQuietMover(board, q);
  int value = board->wtm ? kNoMate : 0;
  for (int i = 0; i < n; i++) {
    int v = SuccessorByte(memo, w, q, board, moves[i]);
    if (board->wtm) {
      if (v != kNoMate) value = std::min(value, std::min(v + 1, kLongest));
    } else {
      if (v == kNoMate) return kNoMate;  // one escape is enough
      value = std::max(value, v);
    }
  }
  return value;
}

// Whether the entry is the one the position's probe key names. Where the
// king of the side to move stands off the long diagonal (with pawns: on
// files a-d, as rows have it) the key changes no square, and only the
// order of equal men can differ.
bool Canonical(const Basi* b, const Ccc* board, double entry) {
  const uint8_t* lists[2] = {board->wsqr, board->zsqr};
  int king = kSqOfMailbox[board->wtm ? board->wsqr[0] : board->zsqr[0]];
  if (board->eps != 0 || (b->npawns == 0 && king >> 3 == (king & 7))) {
    Pap key;
    PapMake(board, &key);
    return key.index == entry;
  }
  const uint8_t* codes[2] = {b->white, b->black};
  for (int side = 0; side < 2; side++) {
    int n = side == 0 ? b->nw : b->nz;
    for (int i = 2; i < n; i++) {
      if (codes[side][i] == codes[side][i - 1] && lists[side][i] < lists[side][i - 1]) return false;
    }
  }
  return true;
}

// Attacks as masks of squares (sq = 8 * rank + file), for a quick verdict
// on the entries of a column without pawns: at six men most of them hold
// two men on one square or leave the king of the side not to move attacked,
// and need no board.
struct Lines {
  uint64_t king[64], knight[64];
  uint64_t between[64][64];  // the squares strictly between two on one line
  uint8_t line[64][64];      // 1 on one rank or file, 2 on one diagonal
};

const Lines& LineTables() {
  static const Lines* lines = [] {
    auto* t = new Lines{};
    for (int a = 0; a < 64; a++) {
      for (int b = 0; b < 64; b++) {
        int df = (b & 7) - (a & 7), dr = (b >> 3) - (a >> 3);
        int adf = std::abs(df), adr = std::abs(dr);
        if (a != b && adf <= 1 && adr <= 1) t->king[a] |= uint64_t{1} << b;
        if (adf * adr == 2) t->knight[a] |= uint64_t{1} << b;
        if (a == b || (df != 0 && dr != 0 && adf != adr)) continue;
        t->line[a][b] = df == 0 || dr == 0 ? 1 : 2;
        int step = (dr > 0) - (dr < 0), fstep = (df > 0) - (df < 0);
        for (int s = a + 8 * step + fstep; s != b; s += 8 * step + fstep)
          t->between[a][b] |= uint64_t{1} << s;
      }
    }
    return t;
  }();
  return *lines;
}

// One side's men of a configuration number: their squares (the king's
// first) and the mask of them.
struct Men {
  uint64_t occupied;
  uint8_t sq[kPapMaxPieces];
  bool clash;  // two of them on one square: no entry with them is legal
};

Men MenOf(int32_t config, int n) {
  Men m{};
  for (int i = 0; i < n; i++) {
    m.sq[i] = static_cast<uint8_t>(config >> 6 * (n - 1 - i) & 63);
    uint64_t bit = uint64_t{1} << m.sq[i];
    m.clash |= (m.occupied & bit) != 0;
    m.occupied |= bit;
  }
  return m;
}

// Whether an entry without pawns may be legal: the mover's men (`kinds`)
// stand on free squares and none attacks the other side's king. Says no
// exactly where the board would; only a yes needs the board.
bool MayBeLegal(const Lines& t, const uint8_t* kinds, int n, const Men& mover, const Men& still) {
  if (mover.clash || (mover.occupied & still.occupied) != 0) return false;
  uint64_t occupied = mover.occupied | still.occupied;
  int king = still.sq[0];
  for (int i = 0; i < n; i++) {
    int from = mover.sq[i], kind = kinds[i];
    if (kind == 5 || kind == 1) {
      if ((kind == 5 ? t.king[from] : t.knight[from]) >> king & 1) return false;
      continue;
    }
    int line = t.line[from][king];  // a bishop (2), rook (3) or queen (4)
    bool along = kind == 4 ? line != 0 : line == (kind == 3 ? 1 : 2);
    if (along && (t.between[from][king] & occupied) == 0) return false;
  }
  return true;
}

struct Wrong {
  double entry;
  int stored, expected;
  std::string fen;
  int twin;  // the twin's byte when it also claims a win, else -1
};

// One side's database and what its workers share: the band in hand, the
// next rows and columns to take, the running counts for the progress line,
// and the merged results.
struct SideJob {
  zok_tb* tb;
  const Basi* basis;
  bool white;
  // Whether the colour-swapped twin's database is there to compare with; a
  // twin whose White has only the king never wins and needs none.
  bool twin;
  uint32_t twin_code;
  int32_t rows, columns, band;
  std::vector<int32_t> fixed;   // each row's configuration, king unreduced
  std::vector<Men> men;         // and its men
  std::vector<uint8_t> stored;  // the band's values, row by row
  // The columns in the order they are checked: within each band, by the
  // row of the other side's table their quiet successors fall on, so that
  // the columns of one row follow each other.
  std::vector<int32_t> order;
  std::unique_ptr<std::barrier<>> phase;  // between a band's filling and its check
  std::atomic<int32_t> next_twin{0}, next_fill{0}, next_column{0};
  std::atomic<int64_t> done{0}, checked{0}, wrong{0};
  std::mutex mutex;  // guards the fields below
  double counts[256] = {};
  std::vector<Wrong> wrongs;  // the first ones in entry order, one per entry
};

// Keeps the first wrong entries; an entry found by both checks is shown
// once, with the twin's claim.
void Record(SideJob& job, const Wrong& w) {
  std::lock_guard<std::mutex> lock(job.mutex);
  auto same = std::find_if(job.wrongs.begin(), job.wrongs.end(),
                           [&](const Wrong& x) { return x.entry == w.entry; });
  if (same != job.wrongs.end()) {
    if (w.twin >= 0) *same = w;
    return;
  }
  job.wrongs.push_back(w);
  std::sort(job.wrongs.begin(), job.wrongs.end(),
            [](const Wrong& a, const Wrong& b) { return a.entry < b.entry; });
  if (job.wrongs.size() > kShownWrong) job.wrongs.resize(kShownWrong);
}

// The board of an entry, when it is a legal position the probe key names.
// `vetted`: the masks found the entry legal, and the board needs no test.
bool EntryBoard(const SideJob& job, int32_t r, int32_t c, Ccc* board, bool vetted = false) {
  int32_t row = job.fixed[r];
  int32_t hashw = job.white ? row : c, hashz = job.white ? c : row;
  if (vetted) {
    *board = kCccEmpty;
    board->wtm = job.white ? 1 : 0;
    HashPlaceW(hashw, job.basis, board);
    HashPlaceZ(hashz, job.basis, board);
  } else if (!HashToCccp(hashw, hashz, job.basis, job.white ? 1 : 0, board)) {
    return false;
  }
  // The other twin of a symmetric position is not checked.
  return Canonical(job.basis, board, static_cast<double>(r) * job.columns + c);
}

// The twin holds the other side's wins: both cannot win. Row by row, in
// file order: the twin's entries of one row lie together as well.
void CompareTwins(SideJob& job, JILE* own, ProbeMemo& memo, RowWindow& window, QuietKeys& quiet) {
  const Basi* b = job.basis;
  std::vector<uint8_t> stored(static_cast<size_t>(kTwinRows) * job.columns);
  int64_t wrong = 0;
  for (;;) {
    int32_t r0 = job.next_twin.fetch_add(kTwinRows);
    if (r0 >= job.rows) break;
    int32_t r1 = std::min(job.rows, r0 + kTwinRows);
    FileSeek(own, static_cast<double>(r0) * job.columns);
    FileRead(stored.data(), (r1 - r0) * job.columns, own);
    for (int32_t r = r0; r < r1; r++) {
      const uint8_t* row = &stored[static_cast<size_t>(r - r0) * job.columns];
      for (int32_t c = 0; c < job.columns; c++) {
        int value = row[c];
        if (value == kNoMate) continue;
        double entry = static_cast<double>(r) * job.columns + c;
        int t;
        Ccc board;
        if (b->npawns == 0) {
          // Without pawns the ranks' reversal is one of the symmetries the
          // key takes out: the twin's entry has the same number.
          t = Checked(ProbeMemoByte(memo, job.twin_code, static_cast<int64_t>(entry)), job.twin_code);
          if (t == kNoMate || !EntryBoard(job, r, c, &board)) continue;
        } else {
          if (!EntryBoard(job, r, c, &board)) continue;
          Ccc mirror;
          ProbeMirror(&board, &mirror);
          t = ByteOf(memo, &mirror);
          if (t == kNoMate) continue;
        }
        // The check of the successors counts the entry when its value is
        // wrong as well.
        SetQuietStill(&board, quiet);
        int expected = Expected(memo, window, quiet, &board);
        if (value == expected) wrong++;
        Record(job, {entry, value, expected, BoardFen(&board), t});
      }
    }
  }
  job.wrong += wrong;
}

// Reads the band's values of every row, a few rows at a time.
void FillBand(SideJob& job, JILE* own, int32_t c0) {
  for (;;) {
    int32_t r0 = job.next_fill.fetch_add(kFillRows);
    if (r0 >= job.rows) break;
    int32_t r1 = std::min(job.rows, r0 + kFillRows);
    if (job.band == job.columns) {
      FileSeek(own, static_cast<double>(r0) * job.columns);
      FileRead(&job.stored[static_cast<size_t>(r0) * job.band], (r1 - r0) * job.columns, own);
      continue;
    }
    for (int32_t r = r0; r < r1; r++) {
      FileSeek(own, static_cast<double>(r) * job.columns + c0);
      FileRead(&job.stored[static_cast<size_t>(r) * job.band], job.band, own);
    }
  }
}

// Checks the band's columns, a few at a time, each down all its rows.
void CheckBand(SideJob& job, int32_t c0, ProbeMemo& memo, RowWindow& window, QuietKeys& quiet,
               double* counts) {
  const Basi* b = job.basis;
  const Lines& lines = LineTables();
  const bool quick = b->npawns == 0;
  const int movers = job.white ? b->nw : b->nz;
  uint8_t kinds[kPapMaxPieces];
  for (int i = 0; i < movers; i++)
    kinds[i] = static_cast<uint8_t>(PieceKind(job.white ? b->white[i] : b->black[i]));
  for (;;) {
    int32_t k0 = job.next_column.fetch_add(kColumnsPerTake);
    if (k0 >= job.band) break;
    int32_t k1 = std::min(job.band, k0 + kColumnsPerTake);
    int64_t checked = 0, wrong = 0;
    for (int32_t k = k0; k < k1; k++) {
      int32_t c = job.order[static_cast<size_t>(c0 + k)];
      bool still = false;
      Men men = MenOf(c, job.white ? b->nz : b->nw);
      if (quick && men.clash) continue;
      for (int32_t r = 0; r < job.rows; r++) {
        if (quick && !MayBeLegal(lines, kinds, movers, job.men[r], men)) continue;
        Ccc board;
        if (!EntryBoard(job, r, c, &board, quick)) continue;
        if (!still) SetQuietStill(&board, quiet);
        still = true;
        int value = job.stored[static_cast<size_t>(r) * job.band + (c - c0)];
        int expected = Expected(memo, window, quiet, &board);
        checked++;
        counts[value]++;
        if (value == expected) continue;
        wrong++;
        Record(job, {static_cast<double>(r) * job.columns + c, value, expected, BoardFen(&board), -1});
      }
    }
    job.checked += checked;
    job.wrong += wrong;
    job.done += static_cast<int64_t>(k1 - k0) * job.rows;
  }
}

void Work(SideJob& job, JILE* own) {
  double counts[256] = {};
  ProbeMemo memo(job.tb, kMemoBlocks);
  QuietKeys quiet;
  SetQuietSide(job.basis, job.white, quiet);
  RowWindow window;
  window.row = job.white ? job.basis->wsize : job.basis->zsize;
  if (job.twin) CompareTwins(job, own, memo, window, quiet);
  // Every worker fills a band, waits for the others, checks it and waits
  // again. Between two waits nobody takes from the counter of the other
  // phase, so each worker may reset it.
  for (int32_t c0 = 0; c0 < job.columns; c0 += job.band) {
    FillBand(job, own, c0);
    job.phase->arrive_and_wait();
    job.next_fill = 0;
    CheckBand(job, c0, memo, window, quiet, counts);
    job.phase->arrive_and_wait();
    job.next_column = 0;
  }
  std::lock_guard<std::mutex> lock(job.mutex);
  for (int v = 0; v < 256; v++) job.counts[v] += counts[v];
}

// The bytes a band's stored values may take.
size_t BandBytes() {
  const char* text = PlatGetEnv("ZOK_VERIFY_MB");
  if (text == nullptr) return size_t{kBandMegabytes} << 20;
  char* end = nullptr;
  long mb = strtol(text, &end, 10);
  if (*text < '0' || *text > '9' || *end != '\0' || mb < 1 || mb > (1L << 20)) {
    OutError("ExeVerify: ZOK_VERIFY_MB [%.64s] is not a number of MB from 1 up", text);
  }
  return static_cast<size_t>(mb) << 20;
}

// As many threads as a build uses, as far as the descriptors allow each a
// reader of its own.
int ThreadCount() { return SetsThatFit(kJarReadStreams); }

// Checks one side on `threads` workers while this thread keeps the progress
// line and watches for the abort key.
void VerifySide(const SearchPath& search, SideJob& job, int threads) {
  const Basi* b = job.basis;
  uint32_t code = job.white ? b->material | kWhiteToMove : b->material;
  char path[kJarNameSize];
  snprintf(path, sizeof path, "%s", search.Find(code).c_str());
  const double entries = static_cast<double>(b->numw) * b->zsize;
  std::vector<JILE*> handles;
  for (int t = 0; t < threads; t++) {
    handles.push_back(FileRopen(path));
    if (JarSize(handles.back()) != entries) {
      OutError("ExeVerify: length failed [%s]: %.0f bytes, the endgame has %.0f entries", path,
               JarSize(handles.back()), entries);
    }
  }
  job.fixed.resize(job.rows);
  job.men.resize(job.rows);
  for (int32_t r = 0; r < job.rows; r++) {
    job.fixed[r] = job.white ? UnreduceW(r, b) : UnreduceZ(r, b);
    job.men[r] = MenOf(job.fixed[r], job.white ? b->nw : b->nz);
  }
  job.stored.resize(static_cast<size_t>(job.rows) * job.band);
  std::vector<int32_t> row_of(job.columns);
  for (int32_t c = 0; c < job.columns; c++) {
    int32_t out[4];
    // The successors' table has the side now not to move to move.
    if (job.white) ReduceZ(0, c, b, out);
    else ReduceW(c, 0, b, out);
    row_of[c] = std::min(out[1], out[3]);
  }
  job.order.resize(job.columns);
  for (int32_t c = 0; c < job.columns; c++) job.order[c] = c;
  for (int32_t c0 = 0; c0 < job.columns; c0 += job.band) {
    std::stable_sort(job.order.begin() + c0, job.order.begin() + c0 + job.band,
                     [&](int32_t x, int32_t y) { return row_of[x] < row_of[y]; });
  }
  job.phase = std::make_unique<std::barrier<>>(threads);
  ProgState prog{};
  prog.total = entries;
  snprintf(prog.label, sizeof prog.label, "%-7.15s %c", b->name, job.white ? 'W' : 'B');
  prog.start = ClockCs(1);
  prog.mark1 = prog.mark2 = -1;
  // Takes the terminal's keys before the first line shows: a key typed in
  // answer to it must reach the poll, not the terminal's own handling.
  ProgPoll();
  ProgTick(prog, 0);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; t++) workers.emplace_back(Work, std::ref(job), handles[t]);
  int64_t shown = 0;
  while (shown < static_cast<int64_t>(entries)) {
    std::this_thread::sleep_for(kPollInterval);
    int64_t done = job.done;
    prog.resolved = static_cast<double>(job.checked);
    prog.open = static_cast<double>(job.wrong);
    // A tick of 0 would force a refresh; the line keeps to one a second.
    if (done > shown) ProgTick(prog, static_cast<int32_t>(done - shown));
    ProgPoll();
    shown = done;
  }
  for (std::thread& w : workers) w.join();
  for (JILE* h : handles) FileClose(h);
  std::vector<uint8_t>().swap(job.stored);
  prog.done = entries;
  prog.pending = 0;
  prog.resolved = static_cast<double>(job.checked);
  prog.open = static_cast<double>(job.wrong);
  prog.elapsed = ClockCs(0) - prog.start;
  OutCons("\r%-79.79s\n", ProgText(prog, 0).c_str());
}

// The endgame's statistics: entries at each distance to mate, per side.
void PrintTable(const SideJob* jobs) {
  int longest = 0;
  for (int s = 0; s < 2; s++)
    for (int v = 0; v < kNoMate; v++)
      if (jobs[s].counts[v] > 0) longest = std::max(longest, v);
  OutCons("\n%-17s %15s %15s", "", "White to move", "Black to move");
  OutCons("\n%-17s %15.0f %15.0f", "checked", static_cast<double>(jobs[0].checked),
          static_cast<double>(jobs[1].checked));
  for (int v = 0; v <= longest; v++) {
    char label[32];
    snprintf(label, sizeof label, "White mates in %d", v);
    OutCons("\n%-17s %15.0f %15.0f", label, jobs[0].counts[v], jobs[1].counts[v]);
  }
  OutCons("\n%-17s %15.0f %15.0f", "no mate", jobs[0].counts[kNoMate], jobs[1].counts[kNoMate]);
  OutCons("\n%-17s %15.0f %15.0f\n", "wrong", static_cast<double>(jobs[0].wrong),
          static_cast<double>(jobs[1].wrong));
}

}  // namespace

std::string BoardFen(const Ccc* board) {
  std::string fen;
  for (int rank = 7; rank >= 0; rank--) {
    int empty = 0;
    for (int file = 0; file < 8; file++) {
      int cell = CccCell(board, MailboxSquare(rank, file));
      if (cell & kEmpty) {
        empty++;
        continue;
      }
      if (empty > 0) fen += static_cast<char>('0' + empty);
      empty = 0;
      char letter = "PNBRQK"[PieceKind(cell)];
      fen += (cell & kWhiteBit) ? letter : static_cast<char>(letter + ('a' - 'A'));
    }
    if (empty > 0) fen += static_cast<char>('0' + empty);
    if (rank > 0) fen += '/';
  }
  fen += board->wtm ? " w - " : " b - ";
  if (board->eps != 0) {
    fen += static_cast<char>('a' + MailboxFile(board->eps));
    fen += static_cast<char>('1' + MailboxRank(board->eps));
  } else {
    fen += '-';
  }
  return fen + " 0 1";
}

int ExeVerify(const SearchPath& search, int n, char** args) {
  if (n < 1) OutError("ExeVerify: too few args");
  Basi basis;
  MakeBasi(args[0], &basis);
  int threads = ThreadCount();
  const size_t band_bytes = BandBytes();
  char err[256];
  zok_tb* tb = ProbeOpen(search, kCacheBytes, err, sizeof err);
  if (tb == nullptr) OutError("ExeVerify: %s", err);
  OutCons("\n");
  SideJob jobs[2];
  std::string missing_twin;
  for (int s = 0; s < 2; s++) {
    SideJob& job = jobs[s];
    job.tb = tb;
    job.basis = &basis;
    job.white = s == 0;
    job.rows = job.white ? basis.numw : basis.numz;
    job.columns = job.white ? basis.zsize : basis.wsize;
    job.band = job.columns;
    while (job.band > 1 && static_cast<size_t>(job.rows) * job.band > band_bytes) job.band /= 2;
    // The twin's White is this endgame's Black, its side to move the other.
    job.twin_code = SwapColours(basis.material) | (job.white ? 0 : kWhiteToMove);
    job.twin = basis.nz > 1 && ProbeEntries(tb, job.twin_code) != kProbeMissing;
    if (basis.nz > 1 && !job.twin) missing_twin = FresName(job.twin_code);
    VerifySide(search, job, threads);
  }
  zok_close(tb);
  PrintTable(jobs);
  // Only the twin holds the other side's wins: without it they go unchecked.
  if (!missing_twin.empty()) {
    OutCons("\n%s not found: no comparison with the twin\n", missing_twin.c_str());
  }
  int64_t wrong = jobs[0].wrong + jobs[1].wrong;
  for (int s = 0; s < 2; s++) {
    uint32_t code = s == 0 ? basis.material | kWhiteToMove : basis.material;
    for (const Wrong& w : jobs[s].wrongs) {
      OutCons("\n%s entry %.0f  %s  stored %d  expected %d", FresName(code).c_str(), w.entry,
              w.fen.c_str(), w.stored, w.expected);
      if (w.twin >= 0) OutCons("  twin %s %d", FresName(jobs[s].twin_code).c_str(), w.twin);
    }
  }
  if (wrong > 0) {
    OutCons("\n\n%s: %lld wrong entries\n", basis.name, static_cast<long long>(wrong));
    return 1;
  }
  OutCons("\n%s: every value agrees with its successors\n", basis.name);
  return 0;
}
