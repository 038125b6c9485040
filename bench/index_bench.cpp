// Throughput of the index pieces that the build runs on every entry of every
// pass: decoding entries into boards, and the black-to-move counter.
#include <benchmark/benchmark.h>

#include <vector>

#include "index/basis.h"
#include "index/config_moves.h"
#include "index/move_counter.h"
#include "index/position_index.h"
#include "index/probe_key.h"

namespace {

const char* const kEndgames[] = {"KQK", "KRKP", "KBNK", "KQKR"};

// Every entry of the white-to-move table, decoded with HashToCccp.
void BM_HashToCccpWholeTable(benchmark::State& state) {
  Basi b;
  MakeBasi(kEndgames[state.range(0)], &b);
  state.SetLabel(b.name);
  Ccc board;
  double entries = 0;
  for (auto _ : state) {
    int legal = 0;
    for (int32_t r = 0; r < b.numw; r++) {
      int32_t hashw = UnreduceW(r, &b);
      for (int32_t c = 0; c < b.zsize; c++) legal += HashToCccp(hashw, c, &b, 1, &board);
    }
    benchmark::DoNotOptimize(legal);
    entries += static_cast<double>(b.numw) * b.zsize;
  }
  state.counters["entries/s"] = benchmark::Counter(entries, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HashToCccpWholeTable)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// The legal black-to-move boards of a table, gathered first, then counted.
std::vector<Ccc> LegalZtmBoards(const Basi& b, int limit) {
  std::vector<Ccc> boards;
  Ccc board;
  for (int32_t r = 0; r < b.numz && static_cast<int>(boards.size()) < limit; r++) {
    int32_t hashz = UnreduceZ(r, &b);
    for (int32_t c = 0; c < b.wsize; c += 7) {
      if (HashToCccp(c, hashz, &b, 0, &board)) boards.push_back(board);
    }
  }
  return boards;
}

void BM_ZtmGen(benchmark::State& state) {
  Basi b;
  MakeBasi(kEndgames[state.range(0)], &b);
  state.SetLabel(b.name);
  std::vector<Ccc> boards = LegalZtmBoards(b, 200000);
  uint32_t moves[kZtmGenMaxList];
  double calls = 0;
  for (auto _ : state) {
    int total = 0;
    for (const Ccc& board : boards) total += ZtmGen(&board, moves);
    benchmark::DoNotOptimize(total);
    calls += static_cast<double>(boards.size());
  }
  state.counters["calls/s"] = benchmark::Counter(calls, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ZtmGen)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_InChkW(benchmark::State& state) {
  Basi b;
  MakeBasi(kEndgames[state.range(0)], &b);
  state.SetLabel(b.name);
  std::vector<Ccc> boards = LegalZtmBoards(b, 200000);
  double calls = 0;
  for (auto _ : state) {
    int total = 0;
    for (const Ccc& board : boards) total += InChkW(&board) + InChkZ(&board);
    benchmark::DoNotOptimize(total);
    calls += 2.0 * static_cast<double>(boards.size());
  }
  state.counters["calls/s"] = benchmark::Counter(calls, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_InChkW)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_QuietZAndUnmoveW(benchmark::State& state) {
  Basi b;
  MakeBasi(kEndgames[state.range(0)], &b);
  state.SetLabel(b.name);
  std::vector<Ccc> boards = LegalZtmBoards(b, 200000);
  int32_t out[kConfigMovesMax];
  double calls = 0;
  for (auto _ : state) {
    int total = 0;
    for (const Ccc& board : boards) {
      total += QuietZ(0, &board, out) + UnmoveW(0, &board, out);
    }
    benchmark::DoNotOptimize(total);
    calls += 2.0 * static_cast<double>(boards.size());
  }
  state.counters["calls/s"] = benchmark::Counter(calls, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_QuietZAndUnmoveW)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_PapMake(benchmark::State& state) {
  Basi b;
  MakeBasi(kEndgames[state.range(0)], &b);
  state.SetLabel(b.name);
  std::vector<Ccc> boards = LegalZtmBoards(b, 200000);
  Pap key;
  double calls = 0;
  for (auto _ : state) {
    double total = 0;
    for (const Ccc& board : boards) {
      PapMake(&board, &key);
      total += key.index;
    }
    benchmark::DoNotOptimize(total);
    calls += static_cast<double>(boards.size());
  }
  state.counters["calls/s"] = benchmark::Counter(calls, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PapMake)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
