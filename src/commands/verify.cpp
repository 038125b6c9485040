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
#include "probe/probe.h"
#include "support/checked_ops.h"
#include "support/console.h"

namespace {

constexpr int kNoMate = 255;
constexpr int kLongest = 254;  // values saturate here
// Entries a worker takes at a time: a few blocks of its database, read in
// one go, so that the stored values come in file order.
constexpr int32_t kChunkEntries = 1 << 18;
// At least this many rows a chunk, so that a column holds enough entries
// (one for each square of the side to move's last man), and at most this
// many bytes.
constexpr int32_t kChunkRows = 64;
constexpr int32_t kChunkLimit = 1 << 25;
constexpr int32_t kColumnsPerReport = 1024;
constexpr int kShownWrong = 10;
constexpr auto kPollInterval = std::chrono::milliseconds(50);
// Decoded blocks kept by the probing library: both tables of a five-man
// endgame without pawns, the ones successors land in most, fit.
constexpr size_t kCacheBytes = size_t{512} << 20;

// The value byte of the position on the board, from the finished database
// its probe key names; a position where White has only the king is never won.
int ByteOf(zok_tb* tb, const Ccc* board) {
  if (board->wsqr[1] == 0) return kNoMate;
  Pap key;
  PapMake(board, &key);
  int byte = ProbeByte(tb, key.material, key.index);
  if (byte >= 0) return byte;
  char name[16] = "?";
  FresNameTo(key.material, name);
  OutError("ExeVerify: %s %s", name, byte == kProbeMissing ? "not found" : "damaged");
}

// The value byte the rules give a position from its successors' values:
// White takes the fastest mate, Black the slowest or an escape.
int Expected(zok_tb* tb, const Ccc* board) {
  uint32_t moves[kCccMaxMoves];
  int n = CccGenMoves(board, moves);
  if (n == 0 && !board->wtm) return CccInCheck(board) ? 0 : kNoMate;
  int value = board->wtm ? kNoMate : 0;
  for (int i = 0; i < n; i++) {
    Ccc next = *board;
    CccDoMove(&next, moves[i]);
    int v = ByteOf(tb, &next);
    if (board->wtm) {
      if (v != kNoMate) value = std::min(value, std::min(v + 1, kLongest));
    } else {
      if (v == kNoMate) return kNoMate;  // one escape is enough
      value = std::max(value, v);
    }
  }
  return value;
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
        Pap key;
        PapMake(&board, &key);
        double entry = static_cast<double>(r) * columns + c;
        if (key.index != entry) continue;  // the other twin of a symmetric position
        int value = stored[static_cast<size_t>(r - r0) * columns + c];
        int expected = Expected(job.tb, &board);
        // The twin holds the other side's wins: both cannot win.
        int twin = -1;
        if (job.twin && value != kNoMate) {
          Ccc mirror;
          ProbeMirror(&board, &mirror);
          int t = ByteOf(job.tb, &mirror);
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
