// Perft nodes per second of CccGenMoves and CccDoMove at the deep reference
// depths, leaves counted in bulk at the last ply. Each run also checks its
// count against the reference figure.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "perft_support.h"

namespace {

struct DeepCase {
  const char* name;
  const char* fen;
  int depth;
  uint64_t count;
};

const DeepCase kDeep[] = {
    {"initial", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 6, 119060324},
    {"kiwipete", "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 5, 193690690},
    {"endgame", "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", 6, 11030083},
    {"promotions", "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", 5, 15833292},
    {"promotions_mirrored", "r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1", 5,
     15833292},
    {"talkchess", "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", 5, 89941194},
    // The reference table drops the black bishop on g4 from this position.
    {"middlegame", "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10", 5,
     164075551},
};

void BM_Perft(benchmark::State& state, const DeepCase& c) {
  Ccc board = FenBoard(c.fen);
  uint64_t nodes = 0;
  for (auto _ : state) {
    uint64_t n = Perft(board, c.depth);
    if (n != c.count) {
      state.SkipWithError("count differs from the reference");
      return;
    }
    nodes += n;
  }
  state.counters["nodes"] = static_cast<double>(c.count);
  state.counters["nodes_per_s"] =
      benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsRate);
}

// All standard positions together: the figure to compare with the target.
void BM_PerftAll(benchmark::State& state) {
  uint64_t nodes = 0;
  for (auto _ : state) {
    for (const DeepCase& c : kDeep) {
      uint64_t n = Perft(FenBoard(c.fen), c.depth);
      if (n != c.count) {
        state.SkipWithError(c.name);
        return;
      }
      nodes += n;
    }
  }
  state.counters["nodes_per_s"] =
      benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsRate);
}

// One call of the generator on a rich middle-game position.
void BM_GenMoves(benchmark::State& state) {
  Ccc board = FenBoard(kDeep[1].fen);
  uint32_t moves[kCccMaxMoves];
  for (auto _ : state) {
    benchmark::DoNotOptimize(CccGenMoves(&board, moves));
    benchmark::ClobberMemory();
  }
}

int Register() {
  for (const DeepCase& c : kDeep) {
    benchmark::RegisterBenchmark((std::string("BM_Perft/") + c.name).c_str(), BM_Perft, c)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("BM_PerftAll", BM_PerftAll)->Iterations(1)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_GenMoves", BM_GenMoves);
  return 0;
}
const int kRegistered = Register();

}  // namespace

BENCHMARK_MAIN();
