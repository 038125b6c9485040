#include "commands/verify.h"

#include <algorithm>
#include <atomic>
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
#include "platform/platform.h"
#include "probe/block_memo.h"
#include "probe/probe.h"
#include "support/checked_ops.h"
#include "support/console.h"

namespace {

constexpr int kNoMate = 255;
constexpr int kLongest = 254;  // values saturate here
// Entries a worker takes at a time: 64 blocks of its database, read in one
// go, so that the stored values come in file order, and so many rows that
// the blocks one column's successors lie on serve many entries.
constexpr int32_t kChunkEntries = 1 << 21;
// At least this many rows a chunk, so that a column holds enough entries
// (one for each square of the side to move's last man), and at most this
// many bytes.
constexpr int32_t kChunkRows = 64;
constexpr int32_t kChunkLimit = 1 << 25;
constexpr int32_t kColumnsPerReport = 1024;
constexpr int kShownWrong = 10;
constexpr auto kPollInterval = std::chrono::milliseconds(50);
// Decoded blocks kept by the probing library: the other side's table of a
// five-man endgame without pawns (167 MB), where most successors land, fits
// with the sub-endgames' tables. At six men no table fits anyway, and the
// bound keeps the whole check near 300 MB.
constexpr size_t kCacheBytes = size_t{224} << 20;
// Blocks each worker keeps for itself: what one column's successors and
// twins touch (the twins of one column lie on 64 blocks at most).
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
  Pap key;            // codes and untransformed squares, for the full key
  uint8_t square[kPapMaxPieces];  // transformed, in key order
  int64_t weight[kPapMaxPieces];
  int run[kPapMaxPieces];         // first slot of each slot's run of equal men
  bool single[kPapMaxPieces];     // no other man like it
  int64_t base;                   // the position's sum with the other side to move
  uint8_t man_of[80];             // the mover's slot (basis order) by mailbox square

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

void SetQuietKeys(const Ccc* board, QuietKeys& q) {
  const Basi* b = q.basis;
  bool white = board->wtm != 0;  // the mover
  const uint8_t* lists[2] = {white ? board->zsqr : board->wsqr, white ? board->wsqr : board->zsqr};
  for (int i = 0; i < q.other; i++) q.key.squares[i] = kSqOfMailbox[lists[0][i]];
  for (int i = q.other; i < q.n; i++) {
    int at = i - q.other;
    q.key.squares[i] = kSqOfMailbox[lists[1][at]];
    q.man_of[lists[1][at]] = static_cast<uint8_t>(at);
  }
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
  for (int i = 0; i < q.n; i++) q.square[i] = static_cast<uint8_t>(q.Transformed(q.key.squares[i]));
  // The position's own key with the other side to move: the mover's men
  // follow the settled symmetry, each run of equal ones in square order, and
  // so do the other side's when their king settled it alone. Else the men
  // that settled it may stand out of square order, as the full key has them.
  if (b->npawns != 0 || (q.square[0] >> 3) != (q.square[0] & 7)) {
    int k = q.square[0];
    q.base = static_cast<int64_t>(b->npawns != 0 ? KingRedPawn[k] : KingRedFree[k]) * q.weight[0];
    for (int i = 1; i < q.n; i++) {
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

// The value byte of one successor: a man's move to an empty square by its
// key's arithmetic, any other (capture, promotion, en passant, a double
// step that gives an en-passant right) from the board it leads to.
int SuccessorByte(ProbeMemo& memo, QuietKeys& q, const Ccc* board, uint32_t move) {
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
  return Checked(ProbeMemoByte(memo, q.material, QuietIndex(q, q.man_of[from], to)), q.material);
}

// The value byte the rules give a position from its successors' values:
// White takes the fastest mate, Black the slowest or an escape.
int Expected(ProbeMemo& memo, QuietKeys& q, const Ccc* board) {
  uint32_t moves[kCccMaxMoves];
  int n = CccGenMoves(board, moves);
  if (n == 0 && !board->wtm) return CccInCheck(board) ? 0 : kNoMate;
  SetQuietKeys(board, q);
  int value = board->wtm ? kNoMate : 0;
  for (int i = 0; i < n; i++) {
    int v = SuccessorByte(memo, q, board, moves[i]);
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

struct Wrong {
  double entry;
  int stored, expected;
  std::string fen;
  int twin;  // the twin's byte when it also claims a win, else -1
};

// One side's database and what its workers share: the next rows to take,
// the running counts for the progress line, and the merged results.
struct SideJob {
  zok_tb* tb;
  const Basi* basis;
  bool white;
  // Whether the colour-swapped twin's database is there to compare with; a
  // twin whose White has only the king never wins and needs none.
  bool twin;
  uint32_t twin_code;
  int32_t rows, columns, rows_per_chunk;
  std::atomic<int32_t> next_row{0};
  std::atomic<int64_t> done{0}, checked{0}, wrong{0};
  std::mutex mutex;  // guards the fields below
  double counts[256] = {};
  std::vector<Wrong> wrongs;  // the first ones in entry order
};

void Record(SideJob& job, const Wrong& w) {
  std::lock_guard<std::mutex> lock(job.mutex);
  job.wrongs.push_back(w);
  std::sort(job.wrongs.begin(), job.wrongs.end(),
            [](const Wrong& a, const Wrong& b) { return a.entry < b.entry; });
  if (job.wrongs.size() > kShownWrong) job.wrongs.resize(kShownWrong);
}

void Work(SideJob& job, JILE* own) {
  const Basi* b = job.basis;
  const int32_t columns = job.columns;
  std::vector<uint8_t> stored(static_cast<size_t>(job.rows_per_chunk) * columns);
  std::vector<int32_t> fixed(job.rows_per_chunk);
  double counts[256] = {};
  ProbeMemo memo(job.tb, kMemoBlocks);
  QuietKeys quiet;
  SetQuietSide(b, job.white, quiet);
  for (;;) {
    int32_t r0 = job.next_row.fetch_add(job.rows_per_chunk);
    if (r0 >= job.rows) break;
    int32_t r1 = std::min(job.rows, r0 + job.rows_per_chunk);
    FileSeek(own, static_cast<double>(r0) * columns);
    FileRead(stored.data(), (r1 - r0) * columns, own);
    for (int32_t r = r0; r < r1; r++) fixed[r - r0] = job.white ? UnreduceW(r, b) : UnreduceZ(r, b);
    // Column by column: the entries of one column differ in the last men of
    // the side to move only, so their successors fall on the same few
    // stretches of the other side's table, which stay in the processor's
    // cache.
    int64_t checked = 0, wrong = 0;
    for (int32_t c = 0; c < columns; c++) {
      for (int32_t r = r0; r < r1; r++) {
        Ccc board;
        int32_t hashw = job.white ? fixed[r - r0] : c, hashz = job.white ? c : fixed[r - r0];
        if (!HashToCccp(hashw, hashz, b, job.white ? 1 : 0, &board)) continue;
        double entry = static_cast<double>(r) * columns + c;
        if (!Canonical(b, &board, entry)) continue;  // the other twin of a symmetric position
        int value = stored[static_cast<size_t>(r - r0) * columns + c];
        int expected = Expected(memo, quiet, &board);
        // The twin holds the other side's wins: both cannot win.
        int twin = -1;
        if (job.twin && value != kNoMate) {
          int t;
          if (b->npawns == 0) {
            // Without pawns the ranks' reversal is one of the symmetries
            // the key takes out: the twin's entry has the same number.
            t = Checked(ProbeMemoByte(memo, job.twin_code, static_cast<int64_t>(entry)), job.twin_code);
          } else {
            Ccc mirror;
            ProbeMirror(&board, &mirror);
            t = ByteOf(memo, &mirror);
          }
          if (t != kNoMate) twin = t;
        }
        checked++;
        counts[value]++;
        if (value == expected && twin < 0) continue;
        wrong++;
        Record(job, {entry, value, expected, BoardFen(&board), twin});
      }
      if (c % kColumnsPerReport == kColumnsPerReport - 1 || c == columns - 1) {
        job.done += static_cast<int64_t>(r1 - r0) * (c % kColumnsPerReport + 1);
        job.checked += checked;
        job.wrong += wrong;
        checked = wrong = 0;
      }
    }
  }
  std::lock_guard<std::mutex> lock(job.mutex);
  for (int v = 0; v < 256; v++) job.counts[v] += counts[v];
}

// As many threads as a build uses, as far as the descriptors allow each a
// reader of its own.
int ThreadCount() { return SetsThatFit(kJarReadStreams); }

// Checks one side on `threads` workers while this thread keeps the progress
// line and watches for the abort key.
void VerifySide(SideJob& job, int threads) {
  const Basi* b = job.basis;
  uint32_t code = job.white ? b->material | kWhiteToMove : b->material;
  char path[kJarNameSize];
  snprintf(path, sizeof path, "%s", FresFind(code));
  const double entries = static_cast<double>(b->numw) * b->zsize;
  std::vector<JILE*> handles;
  for (int t = 0; t < threads; t++) {
    handles.push_back(FileRopen(path));
    if (JarSize(handles.back()) != entries) {
      OutError("ExeVerify: length failed [%s]: %.0f bytes, the endgame has %.0f entries", path,
               JarSize(handles.back()), entries);
    }
  }
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
  prog.done = entries;
  prog.pending = 0;
  prog.resolved = static_cast<double>(job.checked);
  prog.open = static_cast<double>(job.wrong);
  prog.elapsed = ClockCs(0) - prog.start;
  OutCons("\r%-79.79s\n", ProgText(prog, 0));
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

int ExeVerify(int n, char** args) {
  if (n < 1) OutError("ExeVerify: too few args");
  Basi basis;
  MakeBasi(args[0], &basis);
  int threads = ThreadCount();
  const char* dirs[] = {kCurrentDir};
  char err[256];
  zok_tb* tb = zok_open(dirs, 1, kCacheBytes, err, sizeof err);
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
    job.rows_per_chunk =
        std::max(1, std::min(std::max(kChunkRows, kChunkEntries / job.columns), kChunkLimit / job.columns));
    // The twin's White is this endgame's Black, its side to move the other.
    job.twin_code = SwapColours(basis.material) | (job.white ? 0 : kWhiteToMove);
    job.twin = basis.nz > 1 && ProbeEntries(tb, job.twin_code) != kProbeMissing;
    if (basis.nz > 1 && !job.twin) missing_twin = FresName(job.twin_code);
    VerifySide(job, threads);
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
      OutCons("\n%s entry %.0f  %s  stored %d  expected %d", FresName(code), w.entry, w.fen.c_str(),
              w.stored, w.expected);
      if (w.twin >= 0) OutCons("  twin %s %d", FresName(jobs[s].twin_code), w.twin);
    }
  }
  if (wrong > 0) {
    OutCons("\n\n%s: %lld wrong entries\n", basis.name, static_cast<long long>(wrong));
    return 1;
  }
  OutCons("\n%s: every value agrees with its successors\n", basis.name);
  return 0;
}
