// Passes -1 and 0: every entry of both tables is classified once. Pass -1
// marks the white-to-move entries that are no legal position and records
// White's best conversion into a sub-endgame; pass 0 finds the checkmates,
// the positions Black can never lose, and Black's conversion values.
#include <cstring>
#include <initializer_list>

#include "board/geometry.h"
#include "builder/build_driver.h"
#include "builder/cache.h"
#include "builder/pass_support.h"
#include "builder/passes.h"
#include "builder/pile.h"
#include "builder/progress.h"
#include "builder/row_batches.h"
#include "builder/values.h"
#include "builder/work_names.h"
#include "index/move_counter.h"
#include "index/names.h"
#include "index/probe_key.h"
#include "support/checked_ops.h"
#include "support/console.h"

namespace {

constexpr int kPromotions[4] = {kPromoQ, kPromoR, kPromoB, kPromoN};

bool IsWhitePieceCode(int code) {
  return code == kWP || code == kWN || code == kWB || code == kWR || code == kWQ || code == kWK;
}

void CheckWhiteCodes(const Build& b, const char* message) {
  for (int i = 0; i < b.basi.nw; i++) {
    if (!IsWhitePieceCode(b.basi.white[i])) OutError("%s", message);
  }
}

// White to move is legal when the black king is not attacked and an
// en-passant square, if any, can really be used.
inline bool WtmLegal(const Ccc* board) {
  return InChkZ(board) == 0 && (board->eps == 0 || TestEp(board) != 0);
}

// One row's results in a batch of pass -1 or 0: its counts, the largest
// conversion ply, its conversion values in column order, and the
// sub-endgames it probes, in the order of their first probe.
struct RowOut {
  double count;  // White: legal entries; Black: open ones
  double mates;
  double probes;
  int32_t max_ply;
  int32_t nvalues;
  int ncodes;
  uint32_t codes[kCacheSlots];
};

// A thread's work on one row: the build's endgame and cache, its own probing
// set, and where the row's results go.
struct RowWork {
  const Basi* basi;
  SubCache* cache;
  CacheUser user;
  RowOut* out;
  uint8_t* values;
};

// Value byte of the sub-endgame position that `move` leads to. A sub-endgame
// not open yet reads as none; the row is computed again once it is.
inline int Probe(RowWork& w, const Ccc* next) {
  Pap key;
  PapMake(next, &key);
  int v = CacheProbeSet(*w.cache, w.user, key.material, key.index);
  return v < 0 ? kValueNone : v;
}

inline int ProbeAfter(RowWork& w, Ccc* board, uint32_t move) {
  Ccc next;
  CccDoMove(board, move, &next);
  if (next.wsqr[1] == 0) return kValueNone;  // a bare white king never wins
  return Probe(w, &next);
}

// Lists White's captures and promotions: en passant first, then each piece
// in list order. Returns the number of move words written.
int WhiteConversions(const Ccc* board, uint32_t* moves) {
  int n = 0;
  auto add = [&](int from, int to, bool promote) {
    if (promote) {
      for (int p : kPromotions) moves[n++] = MakeMove(from, to) | p << kMovePromoShift;
    } else {
      moves[n++] = MakeMove(from, to);
    }
  };
  auto black_at = [&](int s) { return (CccCell(board, s) & kBlackBit) != 0; };
  if (board->eps != 0) {
    for (int from : {board->eps - 11, board->eps - 9}) {
      if (CccCell(board, from) == kWP) moves[n++] = MakeMove(from, board->eps) | kMoveEp;
    }
  }
  // The sliders find their first piece along each line from the square set
  // of all pieces.
  uint64_t occupied = 0;
  for (int i = 0; board->wsqr[i] != 0; i++) occupied |= uint64_t{1} << kSqOfMailbox[board->wsqr[i]];
  for (int i = 0; board->zsqr[i] != 0; i++) occupied |= uint64_t{1} << kSqOfMailbox[board->zsqr[i]];
  for (int i = 0; board->wsqr[i] != 0; i++) {
    int s = board->wsqr[i];
    switch (CccCell(board, s)) {
      case kWP: {
        bool promote = s >= 61;
        if (black_at(s + 9)) add(s, s + 9, promote);
        if (black_at(s + 11)) add(s, s + 11, promote);
        if (promote && CccCell(board, s + 10) == kEmpty) add(s, s + 10, true);
        break;
      }
      case kWN:
        for (int d : kKnightJumps) {
          if (black_at(s + d)) add(s, s + d, false);
        }
        break;
      case kWK:
        for (int d : kLineDirs) {
          if (black_at(s + d)) add(s, s + d, false);
        }
        break;
      default: {
        int code = CccCell(board, s);
        int first = code == kWR ? 4 : 0;
        int last = code == kWB ? 4 : 8;
        int sq = kSqOfMailbox[s];
        for (int k = first; k < last; k++) {
          uint64_t blockers = kGeometry.ray_set[sq][k] & occupied;
          if (blockers == 0) continue;
          // Even lines go up the board: their nearest square is the lowest.
          int t =
              kMailboxOfSq[(k & 1) == 0 ? __builtin_ctzll(blockers) : 63 - __builtin_clzll(blockers)];
          if (black_at(t)) add(s, t, false);
        }
      }
    }
  }
  return n;
}

// Smallest black-to-move byte over White's conversions; 255 when none wins.
int WhiteConversionValue(RowWork& w, Ccc* board) {
  uint32_t moves[kCccMaxPieces * 12 + 8];
  int n = WhiteConversions(board, moves);
  int best = kValueNone;
  for (int i = 0; i < n; i++) {
    int v = ProbeAfter(w, board, moves[i]);
    if (v < best) best = v;
  }
  return best;
}

// Black to move: -1 checkmate, 0 open with no conversion, 1..254 the largest
// White win over Black's conversions when all of them lose, 255 never lost.
int BlackEvaluation(RowWork& w, Ccc* board) {
  uint32_t moves[kZtmGenMaxList];
  int count = ZtmGen(board, moves);
  if (count == 0) return InChkZ(board) != 0 ? -1 : kValueNone;
  int v = 0;
  for (int i = 0; moves[i] != 0; i++) {
    Ccc next;
    CccDoMove(board, moves[i], &next);
    if (next.wsqr[1] == 0) return kValueNone;  // White keeps only the king
    int u = Probe(w, &next);
    if (u == kValueNone) return kValueNone;
    if (u > v) v = u;
  }
  if (v >= 1 && ConvPlyZ(v) > w.out->max_ply) w.out->max_ply = ConvPlyZ(v);
  return v;
}

// Square filters of the placement loops: a mailbox square, or 0 to refuse.
inline int PawnRanksTwoToSeven(const uint8_t* codes, int i, int sq, int pawn) {
  if (codes[i] == pawn && (sq < 8 || sq >= 56)) return 0;
  return kMailboxOfSq[sq];
}

// Pass -1's conversion and exclusion bitmaps of a black configuration.
void Wtm1Loop(RowWork& w, uint8_t* conv, uint8_t* excl, int32_t hashz) {
  const Basi& basi = *w.basi;
  if (basi.nw < 1 || basi.nw > 5) OutError("Wtm1Loop: numw oor");
  Ccc board;
  RowOut& o = *w.out;
  if (HashToWtmSetZ(hashz, &basi, &board)) {
    PlaceLoop(
        &board, board.wsqr, basi.white, basi.nw, 0, 0,
        [&](int i, int sq) { return PawnRanksTwoToSeven(basi.white, i, sq, kWP); }, [](int, int) {},
        [&](uint32_t c) {
          if (!WtmLegal(&board)) return;
          o.count += 1;
          BitClear(excl, c);
          int v = WhiteConversionValue(w, &board);
          if (v < kValueNone) {
            w.values[o.nvalues++] = static_cast<uint8_t>(v);
            BitSet(conv, c);
            if (ConvPlyW(v) > o.max_ply) o.max_ply = ConvPlyW(v);
          }
        });
  }
}

// Pass -1's illegal bitmap of a white configuration; the legal entries.
double Wtm2Loop(const Basi& basi, uint8_t* illegal, int32_t hashw) {
  if (basi.nz < 1 || basi.nz > 4) OutError("Wtm2Loop: numz oor");
  Ccc board;
  double legal = 0;
  if (HashToWtmSetW(hashw, &basi, &board)) {
    // A black pawn on the first rank is the en-passant coding: it stands on
    // the fifth rank, with the square behind it open to capture.
    auto allow = [&](int i, int sq) -> int {
      if (basi.black[i] != kZP) return kMailboxOfSq[sq];
      if (sq >= 56) return 0;
      if (sq >= 8) return kMailboxOfSq[sq];
      if (basi.epflag == 0 || board.eps != 0) return 0;
      int s = kMailboxOfSq[sq + 32];
      board.eps = static_cast<uint8_t>(s + 10);
      return s;
    };
    auto undo = [&](int i, int sq) {
      if (basi.black[i] == kZP && sq < 8 && board.eps == kMailboxOfSq[sq + 32] + 10) {
        board.eps = 0;
      }
    };
    PlaceLoop(&board, board.zsqr, basi.black, basi.nz, 0, 0, allow, undo, [&](uint32_t c) {
      if (!WtmLegal(&board)) return;
      legal += 1;
      BitClear(illegal, c);
    });
  }
  return legal;
}

// Pass 0's conversion and exclusion bitmaps of a white configuration, and
// its checkmates in `mates`.
void ZtmLoop(RowWork& w, uint8_t* conv, uint8_t* excl, uint8_t* mates, int32_t hashw) {
  const Basi& basi = *w.basi;
  if (basi.nz < 1 || basi.nz > 4) OutError("ZtmLoop: numz oor");
  Ccc board;
  RowOut& o = *w.out;
  if (HashToZtmSetW(hashw, &basi, &board)) {
    PlaceLoop(
        &board, board.zsqr, basi.black, basi.nz, 0, 0,
        [&](int i, int sq) { return PawnRanksTwoToSeven(basi.black, i, sq, kZP); }, [](int, int) {},
        [&](uint32_t c) {
          if (InChkW(&board) != 0 || (board.eps != 0 && TestEp(&board) == 0)) return;
          int v = BlackEvaluation(w, &board);
          if (v < 0) {
            o.mates += 1;
            BitSet(mates, c);
          } else if (v == 0) {
            o.count += 1;
            BitClear(excl, c);
          } else if (v < kValueNone) {
            o.count += 1;
            BitClear(excl, c);
            w.values[o.nvalues++] = static_cast<uint8_t>(v);
            BitSet(conv, c);
          }
        });
  }
}

// A batch slot's buffers of pass -1 or 0.
struct ClassifyBuffers {
  uint8_t* conv;
  uint8_t* excl;
  uint8_t* mates;
  uint8_t* values;
  RowOut* out;
};

// The three files of pass -1 or 0 and the paths of the pair that goes again
// when no row converts.
struct ClassifyFiles {
  WorkPath bits_name;
  WorkPath values_name;
  JILE* bits;
  JILE* values;
  JILE* exclusion;
};

// Both slots' buffers for `batch_rows` rows of `bytes` bitmap bytes (Black's
// with a checkmate bitmap), and one probing set per resource set.
CacheUser* AllocClassifyBuffers(ClassifyBuffers* slots, bool white, const RowPlan& plan, int32_t bytes,
                                const JarContext* cx) {
  size_t batch = static_cast<size_t>(plan.batch_rows) * bytes;
  for (int i = 0; i < 2; i++) {
    ClassifyBuffers& sb = slots[i];
    sb.conv = static_cast<uint8_t*>(SysAlloc(batch, cx));
    sb.excl = static_cast<uint8_t*>(SysAlloc(batch, cx));
    sb.mates = white ? nullptr : static_cast<uint8_t*>(SysAlloc(batch, cx));
    // Sized by the value bytes a row may hold: no input is read in blocks.
    sb.values = static_cast<uint8_t*>(SysAlloc(batch * 8, cx));
    sb.out = static_cast<RowOut*>(SysAlloc(sizeof(RowOut) * plan.batch_rows, cx));
  }
  auto* users = static_cast<CacheUser*>(SysAlloc(sizeof(CacheUser) * plan.sets, cx));
  memset(users, 0, sizeof(CacheUser) * plan.sets);
  for (int s = 0; s < plan.sets; s++) users[s].set = s;
  return users;
}

void FreeClassifyBuffers(ClassifyBuffers* slots, CacheUser* users, const JarContext* cx) {
  for (int i = 0; i < 2; i++) {
    for (uint8_t* p : {slots[i].conv, slots[i].excl, slots[i].mates, slots[i].values}) {
      if (p != nullptr) SysFree(p, cx);
    }
    SysFree(slots[i].out, cx);
  }
  SysFree(users, cx);
}

// Classifies row `r` into entry `j` of a slot's buffers, probing through the
// calling thread's set `user`.
template <Side side>
void ClassifyRow(Build& b, const ClassifyBuffers& sb, size_t j, int32_t bytes, CacheUser& user,
                 int32_t r) {
  size_t at = j * bytes;
  RowOut& o = sb.out[j];
  o.count = o.mates = o.probes = 0;
  o.max_ply = -1;
  o.nvalues = o.ncodes = 0;
  memset(sb.conv + at, 0, bytes);
  memset(sb.excl + at, 0xff, bytes);
  user.serial++;
  user.codes = o.codes;
  user.ncodes = &o.ncodes;
  double probes = user.probes;
  RowWork w{&b.basi, &b.cache, user, &o, sb.values + at * 8};
  if constexpr (side == kWhite) {
    Wtm1Loop(w, sb.conv + at, sb.excl + at, UnreduceZ(r, &b.basi));
  } else {
    memset(sb.mates + at, 0, bytes);
    ZtmLoop(w, sb.conv + at, sb.excl + at, sb.mates + at, UnreduceW(r, &b.basi));
  }
  user = w.user;
  o.probes = user.probes - probes;
}

// Takes row `r`'s results in row order: the sub-endgames it met, its counts
// and checkmates, and its three bitmaps and values to the files.
template <Side side>
void CommitClassifiedRow(Build& b, const ClassifyBuffers& sb, size_t j, int32_t bytes, int32_t r,
                         const ClassifyFiles& files, int32_t& max_ply) {
  size_t at = j * bytes;
  const RowOut& o = sb.out[j];
  for (int i = 0; i < o.ncodes; i++) CacheAnnounce(b, o.codes[i]);
  b.prog.cache_probes += o.probes;
  if (o.max_ply > max_ply) max_ply = o.max_ply;
  if (o.nvalues > 0) FileWrite(sb.values + at * 8, o.nvalues, files.values);
  if constexpr (side == kWhite) {
    CountAdd(b.prog, b.basi.wsize - o.count, o.count, WeightZ(r, &b.basi));
  } else {
    int weight = WeightW(r, &b.basi);
    uint32_t hashw = static_cast<uint32_t>(UnreduceW(r, &b.basi));
    ForEachBit(sb.mates + at, bytes, [&](uint32_t c) { PileAddW(b, hashw, c); });
    CountAdd(b.prog, b.basi.zsize - o.count - o.mates, o.count + o.mates, weight);
    b.mates += o.mates;
    b.mates_weighted += o.mates * weight;
  }
  FileWrite(sb.conv + at, bytes, files.bits);
  FileWrite(sb.excl + at, bytes, files.exclusion);
}

// Sub-endgames are opened between batches, on this thread, as rows find
// them missing; true when any was, and those rows are computed again.
bool OpenMissingSubEndgames(Build& b, CacheUser* users, int sets) {
  uint32_t missing[kCacheSlots];
  int count = 0;
  for (int s = 0; s < sets; s++) {
    CacheUser& user = users[s];
    b.prog.cache_loads += user.loads;
    user.loads = 0;
    for (int m = 0; m < user.nmissing; m++) {
      int i = 0;
      while (i < count && missing[i] != user.missing[m]) i++;
      if (i == count && count < kCacheSlots) missing[count++] = user.missing[m];
    }
    user.nmissing = 0;
  }
  CacheOpenMissing(b, missing, count);
  return count > 0;
}

// The classification of pass -1 (White) and pass 0 (Black): row by row of
// the side's working layout a conversion bitmap (BCB), an exclusion bitmap
// (ALL) and the conversion values of the set BCB bits (BCC). Without any
// conversion the pair is removed again. Black's pass piles its checkmates.
template <Side side>
void Classify(Build& b) {
  constexpr bool white = side == kWhite;
  const int pass = white ? kPassWtmInit : kPassZtmInit;
  const Layout layout = white ? kBlackRows : kWhiteRows;
  ProgStart(b.prog, nullptr, pass, 0);
  int32_t columns = LayoutColumns(b.basi, layout);
  int32_t bytes = columns / 8;
  // Each set holds a reader of every sub-endgame the side's moves reach.
  uint32_t subs[kMaxSubEndgames];
  const int nsubs = SubEndgames(white ? b.basi.material | kWhiteToMove : b.basi.material, subs);
  RowPlan plan = PlanRows(LayoutRows(b.basi, layout), columns, nsubs);
  CacheSetThreads(b, plan.sets);
  b.prog.cache_display = 1;
  if (!white) PileOpen(b, kPileMates);
  ClassifyBuffers slots[2];
  CacheUser* users = AllocClassifyBuffers(slots, white, plan, bytes, &b.quiet);
  ClassifyFiles files;
  files.bits_name = FlocName(b.basi.name, kTagConvBits, pass);
  files.values_name = FlocName(b.basi.name, kTagConvValues, pass);
  files.bits = FileWopenW(files.bits_name, &b.counted);
  files.values = FileWopenW(files.values_name, &b.counted);
  files.exclusion = FileWopenW(FlocName(b.basi.name, kTagAll, pass), &b.counted);
  int32_t& max_ply = white ? b.run.maxbcwply : b.run.maxbczply;
  auto compute = [&](int slot, int set, int32_t first, int32_t count) {
    for (int32_t r = first; r < first + count; r++) {
      ClassifyRow<side>(b, slots[slot], static_cast<size_t>(r % plan.batch_rows), bytes, users[set], r);
    }
  };
  auto commit = [&](int slot, int32_t first, int32_t count) {
    for (int32_t r = first; r < first + count; r++) {
      CommitClassifiedRow<side>(b, slots[slot], static_cast<size_t>(r % plan.batch_rows), bytes, r,
                                files, max_ply);
    }
  };
  auto redo = [&] { return OpenMissingSubEndgames(b, users, plan.sets); };
  RunRows(
      plan, b.prog, columns, [](int, int32_t, int32_t) {}, compute, commit, redo);
  FileClose(files.bits);
  FileClose(files.values);
  FileClose(files.exclusion);
  FreeClassifyBuffers(slots, users, &b.quiet);
  // Closes every thread's copies and frees their table.
  CacheSetThreads(b, 1);
  if (max_ply < 0) {
    FileRemove(files.values_name, &b.counted);
    FileRemove(files.bits_name, &b.counted);
  }
  if (!white) PileClose(b);
  CountStore(b, side);
  ProgEnd(b.prog);
  OutCons("maxbcp  %3d\n", max_ply);
  OutFile("maxbcp  %3d\n", max_ply);
}

}  // namespace

void Wtm1Create(Build& b) {
  CheckWhiteCodes(b, "Wtm1Create: BUG");
  Classify<kWhite>(b);
}

void Wtm2Create(Build& b) {
  CheckWhiteCodes(b, "Wtm2Create: BUG");
  ProgStart(b.prog, nullptr, kPassWtmInit, 0);
  int32_t bytes = b.basi.zsize / 8;
  RowPlan plan = PlanRows(b.basi.numw, bytes);
  uint8_t* illegal[2];
  double* legal[2];
  {
    for (int i = 0; i < 2; i++) {
      illegal[i] =
          static_cast<uint8_t*>(SysAlloc(static_cast<size_t>(plan.batch_rows) * bytes, &b.quiet));
      legal[i] = static_cast<double*>(SysAlloc(sizeof(double) * plan.batch_rows, &b.quiet));
    }
  }
  JILE* file = FileWopenW(FlocName(b.basi.name, kTagAllF, kPassWtmInit), &b.counted);
  auto compute = [&](int slot, int, int32_t first, int32_t count) {
    for (int32_t r = first; r < first + count; r++) {
      size_t j = static_cast<size_t>(r % plan.batch_rows);
      uint8_t* row = illegal[slot] + j * bytes;
      memset(row, 0xff, bytes);
      legal[slot][j] = Wtm2Loop(b.basi, row, UnreduceW(r, &b.basi));
    }
  };
  auto commit = [&](int slot, int32_t first, int32_t count) {
    for (int32_t r = first; r < first + count; r++) {
      size_t j = static_cast<size_t>(r % plan.batch_rows);
      CountAdd(b.prog, b.basi.zsize - legal[slot][j], legal[slot][j], WeightW(r, &b.basi));
      FileWrite(illegal[slot] + j * bytes, bytes, file);
    }
  };
  RunRows(
      plan, b.prog, b.basi.zsize, [](int, int32_t, int32_t) {}, compute, commit);
  FileClose(file);
  {
    for (int i = 0; i < 2; i++) {
      SysFree(illegal[i], &b.quiet);
      SysFree(legal[i], &b.quiet);
    }
  }
  ProgEnd(b.prog);
}

void ZtmCreate(Build& b) {
  b.mates = b.mates_weighted = 0;
  Classify<kBlack>(b);
}

void ZtmMates(Build& b) {
  ProgStart(b.prog, nullptr, kPassZtmInit, 0);
  b.prog.resolved = b.mates;
  b.prog.resolved_weighted = b.mates_weighted;
  b.prog.open = b.run.zmopen - b.mates;
  b.prog.open_weighted = b.run.znopen - b.mates_weighted;
  NewfWrite(b, kPassZtmInit, kBlackRows);
  if (b.prog.resolved_weighted != 0) b.run.maxsolz = 0;
  CountStore(b, kBlack);
  ProgEnd(b.prog);
}
