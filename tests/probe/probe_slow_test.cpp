// The probing library over whole endgames: values and best moves that back
// up to their successors, with databases missing or damaged, with en passant
// through the colour-swapped twin, and every move of KQKR and KPKP. (The
// published three-man values from both sides come through -probe in
// tests/commands; every three-man position is checked against Gaviota's.)
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <thread>

#include "board/move_generation.h"
#include "commands/verify.h"
#include "probe/probe.h"
#include "probe_support.h"
#include "test_support.h"

namespace {

// A mate of KQKR, and a position whose value lies in its twin, KRKQ, not built.
TEST(ProbeSlow, KqkrWithoutItsTwin) {
  Tb tb = OpenTb(BuiltDatabases({"KQK", "KRK", "KBK", "KNK", "KPK", "KKQ", "KQKR"}), 64 << 10);
  EXPECT_EQ(Answer(tb.get(), "8/8/r7/8/3k4/8/8/K1Q5 w - - 0 1"), "mate 35 a1b1");
  EXPECT_EQ(Answer(tb.get(), "8/8/8/8/8/8/1Q5r/K5k1 b - - 0 1"),
            "unknown 1 KRKQ___W");  // drawn if the twin says so
}

// The board after the legal move written `text`; false when there is none.
bool Play(const Ccc& board, const char* text, Ccc* after) {
  uint32_t moves[kCccMaxMoves + 1];
  for (int i = 0, n = CccGenMoves(&board, moves); i < n; i++) {
    char t[8];
    ProbeMoveText(moves[i], t);
    if (std::string(t) != text) continue;
    CccDoMove(const_cast<Ccc*>(&board), moves[i], after);
    return true;
  }
  return false;
}

// Best moves over every position of a three-man endgame ("KQk") with one
// side to move: each move given leads to a position whose value backs up exactly
// to the position's; a known value without a move names a database.
struct Walk {
  int moves = 0, stopped = 0, wrong = 0;
  std::string first;  // the first position stopped
};
Walk WalkEndgame(zok_tb* tb, const char* men, int white_to_move) {
  Walk w;
  for (int i = 0; i < 64 * 64 * 64; i++) {
    zok_position pos = {3, {men[0], men[1], men[2]}, {}, white_to_move, -1, 0};
    for (int k = 0; k < 3; k++) pos.square[k] = static_cast<unsigned char>(i >> (6 * k) & 63);
    zok_value v, next;
    char move[8];
    Ccc board, after;
    if (zok_best_move(tb, &pos, move, &v) != ZOK_OK || v.outcome == ZOK_UNKNOWN) continue;
    ASSERT_TRUE(ProbeSetBoard(&pos, &board)) << i, w;
    if (move[0] == 0) {
      bool named = (v.reason == ZOK_MISSING || v.reason == ZOK_DAMAGED) && v.missing[0] != 0;
      w.wrong += !named;
      if (w.stopped++ == 0) w.first = BoardFen(&board) + " " + v.missing;
      continue;
    }
    w.moves++;
    if (!Play(board, move, &after)) {
      w.wrong++;
      continue;
    }
    ProbeBoard(tb, &after, &next);
    next = ProbeBackUp(next);
    w.wrong += next.outcome != v.outcome || next.plies != v.plies || v.reason != ZOK_KNOWN;
  }
  return w;
}

// Without Black's KQKR database, the one known successor of this mate is
// Qxc4, a draw; a damaged block of White's KQK database hides the slowest
// defence of Black's losses. A move is given only when it keeps the value.
TEST(ProbeSlow, BestMovesOnlyFromSuccessorsThatKeepTheValue) {
  const std::string dbs = BuiltDatabases({"KQK", "KRK", "KBK", "KNK", "KPK", "KKQ", "KQKR"});
  TempDir missing, damaged;
  CopyDatabases(dbs, missing.path());
  CopyDatabases(dbs, damaged.path());
  for (const char* ext : {".JIX", ".J00"})
    std::filesystem::remove(missing.File(std::string("KQKR___B") + ext));
  std::string chunk = ReadFile(damaged.File("KQK____W.J00"));
  chunk[chunk.size() - 3] ^= 0x55;  // in the last block's record
  WriteFile(damaged.File("KQK____W.J00"), chunk);
  RunResult r = RunZok("-probe '8/8/Q7/5K2/1kr5/8/8/8 w - - 0 1'", missing.path());
  EXPECT_EQ(r.output, "8/8/Q7/5K2/1kr5/8/8/8 w - - 0 1: mate 26, no move: KQKR___B missing\n");
  EXPECT_EQ(r.status, 0);
  r = RunZok("-probe '8/8/8/8/8/3K4/8/k1Q5 b - - 0 1'", damaged.path());
  EXPECT_EQ(r.output,
            "8/8/8/8/8/3K4/8/k1Q5 b - - 0 1: mated 4, no move: KQK____W damaged: "
            "damaged record in ./KQK____W.J00 block 1: values left over\n");
  // Over whole endgames, on the side the lacking database answers for: no
  // move that fails to keep the value, and positions stopped, named.
  // KPK's White moves: promotions into a damaged block of Black's KQK
  // database, then every other move too, KPK's Black database missing.
  chunk = ReadFile(damaged.File("KQK____B.J00"));
  chunk[chunk.size() - 3] ^= 0x55;
  WriteFile(damaged.File("KQK____B.J00"), chunk);
  const struct {
    const char* gone;   // the database removed as well
    const char* first;  // the first position stopped, and the name given
  } cases[] = {{"", "8/P7/8/8/8/3k4/8/K7 w - - 0 1 KQK____B"},
               {"KPK____B.JIX", "8/8/8/8/8/8/P7/k1K5 w - - 0 1 KPK____B"}};
  for (const auto& c : cases) {
    if (*c.gone) std::filesystem::remove(damaged.File(c.gone));
    Tb tb = OpenTb(damaged.path());
    Walk w = WalkEndgame(tb.get(), "KPk", 1);
    EXPECT_EQ(w.wrong, 0) << c.gone;
    EXPECT_GT(w.moves, 10000) << c.gone;
    EXPECT_EQ(w.first, c.first);
  }
}

// KPKP with every prerequisite, deepest first, as the -verify tests build it.
const std::string& KpkpDbs() {
  static const std::string dbs = BuiltKpkpTree();
  return dbs;
}

// The value of a board from its successors, all generated and played on the
// board, none with a pawn to take en passant: plies from the side to move,
// positive for a win, negative for a loss, 0 for a draw; false when a
// successor's value is not known.
bool BackedUp(zok_tb* tb, const Ccc& board, int* plies) {
  uint32_t moves[kCccMaxMoves + 1];
  int n = CccGenMoves(&board, moves);
  *plies = n == 0 && CccInCheck(&board) ? -1 : 0;  // mated: -1 stands for -0
  int best = n == 0 ? *plies : INT_MIN;
  for (int i = 0; i < n; i++) {
    Ccc after;
    CccDoMove(const_cast<Ccc*>(&board), moves[i], &after);
    zok_value v;
    ProbeBoard(tb, &after, &v);
    if (after.eps != 0 || v.outcome == ZOK_UNKNOWN) return false;
    // The successor's plies, seen from the side that moved into it.
    int mine = v.outcome == ZOK_WIN ? -(v.plies + 1) : v.outcome == ZOK_LOSS ? v.plies + 1 : 0;
    // A faster win, a draw, a slower loss: in that order.
    auto better = [](int a, int b) {
      if ((a > 0) != (b > 0)) return a > 0;
      return a > 0 ? a < b : a == 0 ? b < 0 : b < 0 && a < b;
    };
    if (i == 0 || better(mine, best)) best = mine;
  }
  *plies = best;
  return true;
}

// Positions with a pawn to take en passant whose wins are Black's: their
// value comes from the colour-swapped twin, which must carry the en-passant
// square over with its rank flipped. Every placement of the kings beside
// the two pawns, with each side to move, agrees with the values its
// successors (none of them with en passant) back up to.
TEST(ProbeSlow, BlackWinsWithEnPassantThroughTheTwin) {
  Tb tb = OpenTb(KpkpDbs());
  EXPECT_EQ(Answer(tb.get(), "7K/8/8/8/3pP3/8/k7/8 b - e3 0 1").substr(0, 7), "mate 11");
  const struct {
    char side;
    int pawns[2];  // the white and the black pawn's squares
    const char* ep;
  } cases[] = {{'b', {28, 27}, "e3"}, {'w', {36, 35}, "d6"}};
  for (const auto& c : cases) {
    int checked = 0, black_wins = 0, wrong = 0;
    std::string first;  // the first position whose value is wrong
    for (int kings = 0; kings < 64 * 64; kings++) {
      zok_position pos = {4, {'K', 'k', 'P', 'p'}, {}, c.side == 'w', -1, 0};
      const int squares[4] = {kings & 63, kings >> 6, c.pawns[0], c.pawns[1]};
      for (int i = 0; i < 4; i++) pos.square[i] = static_cast<unsigned char>(squares[i]);
      pos.ep_square = (c.ep[1] - '1') * 8 + c.ep[0] - 'a';
      zok_value v;
      Ccc board;
      int plies;
      if (zok_probe(tb.get(), &pos, &v) != ZOK_OK) continue;
      ASSERT_TRUE(ProbeSetBoard(&pos, &board));
      ASSERT_NE(board.eps, 0);
      ASSERT_TRUE(BackedUp(tb.get(), board, &plies)) << BoardFen(&board);
      int got = v.outcome == ZOK_WIN ? v.plies : v.outcome == ZOK_LOSS ? -std::max(v.plies, 1) : 0;
      if (got != plies && wrong++ == 0) first = BoardFen(&board);
      checked++;
      black_wins += (v.outcome == ZOK_WIN) == (c.side == 'b');
    }
    EXPECT_EQ(wrong, 0) << first;
    EXPECT_GT(checked, 3000) << c.side;
    EXPECT_GT(black_wins, 100) << c.side;
  }
}

// Every move of every position of KQKR and KPKP, both sides to move, the
// side to move's king on the squares the databases keep: the list holds
// each legal move once, each value is the successor's seen from the mover,
// the first is the position's own value, and the order is the ranked one.
TEST(ProbeSlow, EveryMoveBacksUpToItsSuccessor) {
  Tb tb = OpenTb(KpkpDbs(), 64 << 20);
  // The rank of a value: wins by fewest plies, draws, unknowns, losses by most plies.
  auto rank = [](const zok_value& v) {
    return v.outcome == ZOK_WIN    ? v.plies
           : v.outcome == ZOK_DRAW ? 1000
           : v.outcome == ZOK_LOSS ? 3000 - v.plies
                                   : 2000;
  };
  std::vector<std::thread> threads;
  std::string wrong[4];
  int positions[4] = {};
  for (int job = 0; job < 4; job++) {
    threads.emplace_back([&, job] {
      const bool pawns = job >= 2, white = job % 2 == 0;
      const char* men = pawns ? (white ? "KPkp" : "kpKP") : (white ? "KQkr" : "krKQ");
      for (int i = 0; i < 64 * 64 * 64 * 64 && wrong[job].empty(); i++) {
        zok_position pos = {4, {men[0], men[1], men[2], men[3]}, {}, white, -1, 0};
        for (int k = 0; k < 4; k++) pos.square[k] = static_cast<unsigned char>(i >> (6 * k) & 63);
        const int king = pos.square[0];
        if ((king & 7) > 3 || (!pawns && king >> 3 > (king & 7))) continue;
        zok_move moves[218];
        zok_value v, next;
        Ccc board, after;
        int n = zok_probe_moves(tb.get(), &pos, moves, 218);
        if (n < 0) continue;
        positions[job]++;
        ASSERT_EQ(zok_probe(tb.get(), &pos, &v), ZOK_OK);
        ASSERT_TRUE(ProbeSetBoard(&pos, &board));
        uint32_t legal[kCccMaxMoves + 1];
        char uci[kCccMaxMoves][8];
        auto fail = [&](const std::string& what) { wrong[job] = BoardFen(&board) + " " + what; };
        if (n != CccGenMoves(&board, legal)) fail("count");
        if (n > 0 && (moves[0].value.outcome != v.outcome || moves[0].value.plies != v.plies))
          fail("first");
        for (int m = 0; m < n; m++) ProbeMoveText(legal[m], uci[m]);
        for (int m = 0; m < n && wrong[job].empty(); m++) {
          int k = 0;  // each legal move exactly once
          while (k < n && strcmp(uci[k], moves[m].uci) != 0) k++;
          if (k == n) {
            fail(moves[m].uci);
            break;
          }
          uci[k][0] = 0;
          CccDoMove(&board, legal[k], &after);
          ProbeBoard(tb.get(), &after, &next);
          const zok_value& mine = moves[m].value;
          bool same = next.outcome == ZOK_WIN ? mine.outcome == ZOK_LOSS && mine.plies == next.plies + 1
                      : next.outcome == ZOK_LOSS
                          ? mine.outcome == ZOK_WIN && mine.plies == next.plies + 1
                          : mine.outcome == next.outcome && next.outcome == ZOK_DRAW;
          same &= mine.outcome == ZOK_DRAW || mine.moves == (mine.plies + 1) / 2;
          const int a = m > 0 ? rank(moves[m - 1].value) : 0, b = rank(mine);
          same &= m == 0 || a < b || (a == b && strcmp(moves[m - 1].uci, moves[m].uci) < 0);
          if (!same) fail(std::string(moves[m].uci) + " " + moves[m].san);
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int job = 0; job < 4; job++) {
    EXPECT_EQ(wrong[job], "") << job;
    EXPECT_GT(positions[job], job < 2 ? 1300000 : 3000000) << job;
  }
}

}  // namespace
