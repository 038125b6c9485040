// The probing library on input it must refuse, on positions it cannot know,
// and from many threads on one handle with a cache far smaller than the
// databases.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "probe_support.h"
#include "test_support.h"

namespace {

// What is no legal position is refused (each FEN rank covers exactly eight
// squares, one digit per run of empty ones); a legal one is known, or says
// why it is not.
TEST(Probe, RefusesWhatIsNoLegalPositionAndSaysWhyAValueIsUnknown) {
  TempDir dir;
  WriteFile(dir.File("KRK____W.JIX"), "not a database");
  Tb tb = OpenTb(dir.path());
  const std::pair<const char*, const char*> kFens[] = {
      {"", "error -1"},
      {"8/8/8/8/8/8/8/8 w - - 0 1", "error -1"},                  // no kings
      {"k7/8/8/8/8/8/8/K6 w - - 0 1", "error -1"},                // short rank
      {"k7/8/8/8/8/8/8/K7 x - - 0 1", "error -1"},                // side to move
      {"k7/8/8/8/8/8/8/K7 w - - 0 1 9", "error -1"},              // trailing field
      {"k7/8/8/8/8/8/8/K7 w QK - 0 1", "error -1"},               // castling order
      {"k7/8/8/8/8/8/8/KP6 w - - 0 1", "error -1"},               // pawn on the first rank
      {"kQ6/8/8/8/8/8/8/K7 w - - 0 1", "error -1"},               // side not to move in check
      {"k7/8/8/3pP3/8/8/8/K7 w - e6 0 1", "error -1"},            // no pawn crossed e6
      {"k7/8/8/8/8/8/8/K7 w - - 0 1", "draw a1a2"},               // bare kings need no database
      {"k7/8/8/8/8/8/8/K7 w", "error -1"},                        // fields missing
      {"k7/8/8/3pP3/8/8/8/K7 w - d6", "unknown 1 KPKP___W"},      // counters may be left out
      {"4k3/8/8/8/8/8/8/4K2R w K - 0 1", "unknown 3"},            // castling rights
      {"4k3/8/8/8/8/8/8/4K1R1 w K - 0 1", "unknown 4 KRK____W"},  // a right without its rook
      {"k7/8/8/8/8/8/PPPPP3/K7 w - - 0 1", "unknown 2"},          // six men a side
      {"k7/pppp4/8/8/8/8/PPP5/K7 w - - 0 1", "unknown 2"},        // nine men
      {"k7/8/8/8/8/8/1Q6/K7 w - - 0 1", "unknown 1 KQK____W"},
      {"k7/8/8/8/8/8/1Q5r/K7 b - - 0 1", "unknown 1 KQKR___B"},
      {"k7/1p6/8/8/8/8/8/K7 w - - 0 1", "unknown 1 KPK____B"},  // digits around men
      {"k7/p6p/8/8/8/8/8/K7 w - - 0 1", "unknown 1 KPPK___B"},
  };
  for (const auto& [fen, expected] : kFens) EXPECT_EQ(Answer(tb.get(), fen), expected) << fen;
  for (const char* rank : {"44", "17", "3p13", "p8", "9", "0p7", "7", "p5p"})
    EXPECT_EQ(Answer(tb.get(), std::string("k7/") + rank + "/8/8/8/8/8/K7 w - - 0 1"), "error -1")
        << rank;
  // Piece lists: a lone king, a bad letter, a square off the board, two men
  // on one square, a side to move that is neither.
  const zok_position kBad[] = {
      {1, {'K'}, {0}, 1, -1, 0},          {2, {'K', 'x'}, {0, 9}, 1, -1, 0},
      {2, {'K', 'k'}, {0, 64}, 1, -1, 0}, {3, {'K', 'k', 'Q'}, {0, 9, 9}, 1, -1, 0},
      {2, {'K', 'k'}, {0, 9}, 2, -1, 0},
  };
  zok_value v;
  for (const zok_position& p : kBad) EXPECT_EQ(zok_probe(tb.get(), &p, &v), ZOK_BAD_POSITION);
  EXPECT_EQ(zok_probe_fen(nullptr, "k7/8/8/8/8/8/8/K7 w - - 0 1", &v), ZOK_BAD_HANDLE);
}

// Directories in one text, empty parts skipped; the most men of the names
// of databases found, others ignored.
TEST(Probe, OpensAPathAndCountsTheMostMen) {
  TempDir a, b;
  for (const char* f : {"KQK____W.JIX", "KQKR___B.JIX", "KQK_R__B.JIX", "KQQQ___W.JIX", "notes.JIX"})
    WriteFile(a.File(f), "");
  WriteFile(b.File("KQRKQR_W.JIX"), "");
  char err[128];
  for (const auto& [path, men] : {std::pair{":" + a.path() + "::", 4}, {a.path() + ":" + b.path(), 6}}) {
    zok_tb* tb = zok_open_path(path.c_str(), 1 << 20, err, sizeof err);
    EXPECT_EQ(zok_max_men(tb), men) << path;
    zok_close(tb);
  }
  EXPECT_EQ(zok_open_path((a.path() + ":/nonexistent-dir").c_str(), 0, err, sizeof err), nullptr);
  EXPECT_STREQ(err, "zok_open: no directory: /nonexistent-dir");
  EXPECT_EQ(zok_max_men(nullptr), ZOK_BAD_HANDLE);
  EXPECT_STREQ(zok_strerror(ZOK_BAD_FEN), "bad FEN");
  EXPECT_STREQ(zok_strerror(7), "unknown error");
}

// Notation and flags need no database: every move is listed, its value unknown.
TEST(Probe, NamesEveryMoveInBothNotations) {
  TempDir dir;
  Tb tb = OpenTb(dir.path());
  const struct {
    const char* fen;
    int count;  // legal moves
    const char *uci, *san;
    int flags;
  } kCases[] = {
      {"1k6/8/8/8/4Q2Q/8/K7/4Q3 w - - 0 1", 60, "e4h1", "Qe4h1", 0},  // file and rank taken
      {"1k6/8/8/8/4Q2Q/8/K7/4Q3 w - - 0 1", 60, "h4h1", "Qhh1", 0},
      {"1k6/8/8/8/4Q2Q/8/K7/4Q3 w - - 0 1", 60, "e1h1", "Q1h1", 0},
      {"3r3k/4P3/8/8/8/8/8/K7 w - - 0 1", 11, "e7d8q", "exd8=Q+", 7},
      {"3r3k/4P3/8/8/8/8/8/K7 w - - 0 1", 11, "e7e8n", "e8=N", 2},
      {"8/8/8/3pP3/8/8/8/K6k w - d6 0 1", 5, "e5d6", "exd6", 33},
      {"6k1/5ppp/8/8/8/8/8/K3R3 w - - 0 1", 16, "e1e8", "Re8#", 12},
      {"k7/8/8/2Q5/8/8/8/K7 w - - 0 1", 28, "c5b6", "Qb6", 16},
      {"r3k3/8/8/8/8/8/8/4K2R b q - 0 1", 16, "e8c8", "O-O-O", 0},
  };
  for (const auto& c : kCases) {
    zok_move moves[218];
    ASSERT_EQ(zok_probe_moves_fen(tb.get(), c.fen, moves, 218), c.count) << c.fen;
    std::string got = "no " + std::string(c.uci);
    for (int i = 0; i < c.count; i++) {
      if (strcmp(moves[i].uci, c.uci) == 0 && moves[i].value.outcome == ZOK_UNKNOWN) {
        got = std::string(moves[i].san) + " " + std::to_string(moves[i].flags);
      }
    }
    EXPECT_EQ(got, std::string(c.san) + " " + std::to_string(c.flags)) << c.fen;
  }
  zok_move m;
  EXPECT_EQ(zok_probe_moves_fen(tb.get(), "k7/1Q6/1K6/8/8/8/8/8 b - - 0 1", &m, 1), 0);
  EXPECT_EQ(zok_probe_moves_fen(tb.get(), "k7/1Q6/1K6/8/8/8/8/8", &m, 1), ZOK_BAD_FEN);
  EXPECT_EQ(zok_probe_moves_fen(nullptr, "k7/1Q6/1K6/8/8/8/8/8 b - - 0 1", &m, 1), ZOK_BAD_HANDLE);
  EXPECT_EQ(zok_probe_moves(tb.get(), nullptr, &m, 1), ZOK_BAD_POSITION);
}

TEST(Probe, ThreadsSharingATinyCacheAgreeWithOneThread) {
  Tb big = OpenTb(BuiltDatabases({"KQK"}));
  Tb tiny = OpenTb(BuiltDatabases({"KQK"}), 1);
  std::vector<std::pair<zok_position, zok_value>> known;
  for (uint32_t seed = 12345; known.size() < 600;) {
    seed = seed * 1103515245u + 12345u;  // the three squares and the side to move
    zok_position p = {3,
                      {'K', 'Q', 'k'},
                      {uint8_t(seed >> 8 & 63), uint8_t(seed >> 14 & 63), uint8_t(seed >> 20 & 63)},
                      int(seed >> 31),
                      -1,
                      0};
    zok_value v;
    if (zok_probe(big.get(), &p, &v) == ZOK_OK) known.push_back({p, v});
  }
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&, t] {
      for (size_t i = 0; i < known.size(); i++) {
        const auto& [p, want] = known[(i * 7 + t * 911) % known.size()];
        zok_value v;
        wrong[t] += zok_probe(tiny.get(), &p, &v) != ZOK_OK || v.outcome != want.outcome ||
                    v.moves != want.moves;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
  double hits, misses;
  zok_cache_stats(tiny.get(), &hits, &misses);
  EXPECT_TRUE(hits > 0 && misses > 2) << hits << " hits, " << misses << " misses";
}

}  // namespace
