// Published values through the probing library, from both sides to move and
// from the colour-swapped twin of each position, which only the other
// colour's database can answer.
#include <gtest/gtest.h>

#include <cctype>

#include "board/move_generation.h"
#include "probe/probe.h"
#include "probe_support.h"
#include "test_support.h"

namespace {

// The FEN of the position with colours swapped and the board turned over.
std::string Twin(const std::string& fen) {
  size_t space = fen.find(' ');
  std::string ranks = fen.substr(0, space), out;
  for (size_t end = ranks.size(); end != std::string::npos;) {
    size_t slash = ranks.rfind('/', end - 1);
    size_t from = slash == std::string::npos ? 0 : slash + 1;
    for (size_t i = from; i < end; i++) {
      char c = ranks[i];
      out += std::isupper(c) ? char(std::tolower(c)) : char(std::toupper(c));
    }
    if (slash == std::string::npos) break;
    out += '/';
    end = slash;
  }
  return out + (fen[space + 1] == 'w' ? " b" : " w") + fen.substr(space + 2);
}

TEST(ProbeSlow, PublishedValuesFromBothSides) {
  Tb tb = OpenTb(BuiltDatabases({"KQK", "KRK", "KBK", "KNK", "KPK", "KKQ", "KQKR"}), 64 << 10);
  const std::pair<const char*, const char*> kFens[] = {
      {"8/8/8/5k2/8/8/1Q6/K7 w - - 0 1", "mate 10 b2c3"},
      {"8/8/8/8/4k3/8/1Q6/K7 b - - 0 1", "mated 10 e4f5"},
      {"8/8/8/8/8/2k5/1R6/K7 w - - 0 1", "mate 16 b2b7"},
      {"8/8/8/8/8/8/1Rk5/K7 b - - 0 1", "mated 16 c2c3"},
      {"8/8/8/1k6/8/8/K5P1/8 w - - 0 1", "mate 28 a2b3"},
      {"8/8/8/k7/8/K7/6P1/8 b - - 0 1", "mated 28 a5b5"},
      {"8/8/r7/8/3k4/8/8/K1Q5 w - - 0 1", "mate 35 a1b2"},
      {"k7/1Q6/1K6/8/8/8/8/8 b - - 0 1", "mated 0"},
      {"k7/8/1QK5/8/8/8/8/8 b - - 0 1", "draw"},
      {"8/8/8/8/8/8/1Q5r/K5k1 b - - 0 1", "unknown 1 KRKQ___W"},  // drawn if the twin says so
  };
  int checked = 0;
  for (const auto& [fen, expected] : kFens) {
    std::string got = Answer(tb.get(), fen);
    EXPECT_EQ(got, expected) << fen;
    // The twin has the same value; its best move may be another of equal worth.
    std::string value = got.substr(0, got.find(' ', got.find(' ') + 1));
    EXPECT_EQ(Answer(tb.get(), Twin(fen)).substr(0, value.size()), value) << Twin(fen);
    // The best move leads to a position whose value backs up to this one's.
    zok_position pos;
    Ccc board, after;
    zok_value v, next;
    char move[8];
    ASSERT_EQ(zok_parse_fen(fen, &pos), ZOK_OK);
    ASSERT_TRUE(ProbeSetBoard(&pos, &board));
    if (zok_best_move(tb.get(), &pos, move, &v) != ZOK_OK || move[0] == 0) continue;
    uint32_t moves[kCccMaxMoves + 1];
    for (int i = 0, n = CccGenMoves(&board, moves); i < n; i++) {
      char text[8];
      ProbeMoveText(moves[i], text);
      if (std::string(text) != move) continue;
      CccDoMove(&board, moves[i], &after);
      ProbeBoard(tb.get(), &after, &next);
      next = ProbeBackUp(next);
      checked++;
      EXPECT_EQ(next.outcome * 1000 + next.moves, v.outcome * 1000 + v.moves) << fen << " " << move;
    }
  }
  EXPECT_EQ(checked, 7);
}

}  // namespace
