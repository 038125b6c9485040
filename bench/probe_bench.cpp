// Probes per second of random legal KQRKR positions through the probing
// library, one thread and all threads on one handle: with a warm cache that
// holds the databases, and with a cold one that holds almost nothing of them;
// and positions per second valued move by move (zok_probe_moves, warm).
//
//   ZOK_BENCH_DBS=DIR probe_bench    (DIR holds KQRKR and its sub-endgames)
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "probe/probe.h"

namespace {

constexpr size_t kPositions = 1 << 20;

const char* Dir() { return std::getenv("ZOK_BENCH_DBS"); }

// Random legal positions, both sides to move, the same on every run.
const std::vector<zok_position>& Positions() {
  static const std::vector<zok_position> list = [] {
    std::vector<zok_position> out;
    uint64_t seed = 0x9e3779b97f4a7c15ull;
    while (out.size() < kPositions) {
      zok_position p = {5, {'K', 'Q', 'R', 'k', 'r'}, {}, 1, -1, 0};
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      for (int i = 0; i < 5; i++) p.square[i] = static_cast<unsigned char>(seed >> (34 + 6 * i) & 63);
      p.white_to_move = static_cast<int>(seed >> 33 & 1);
      Ccc board;
      if (ProbeSetBoard(&p, &board)) out.push_back(p);
    }
    return out;
  }();
  return list;
}

struct Handles {
  zok_tb* warm = nullptr;
  zok_tb* cold = nullptr;
};

// Opened once; the warm handle has probed every position before any timing.
Handles& Open() {
  static Handles h;
  static std::once_flag once;
  std::call_once(once, [] {
    const char* dirs[1] = {Dir()};
    char err[256];
    h.warm = zok_open(dirs, 1, size_t(2) << 30, err, sizeof err);
    h.cold = zok_open(dirs, 1, size_t(1) << 20, err, sizeof err);
    if (h.warm == nullptr) return;
    zok_value v;
    for (const zok_position& p : Positions()) zok_probe(h.warm, &p, &v);
    // The successors reach the sub-endgames too: warm their blocks as well.
    zok_move moves[256];
    for (size_t i = 0; i < Positions().size(); i += 8)
      zok_probe_moves(h.warm, &Positions()[i], moves, 256);
  });
  return h;
}

void Probe(benchmark::State& state, bool warm) {
  if (Dir() == nullptr) {
    state.SkipWithError("set ZOK_BENCH_DBS to a directory holding KQRKR and its sub-endgames");
    return;
  }
  Handles& h = Open();
  zok_tb* tb = warm ? h.warm : h.cold;
  if (tb == nullptr) {
    state.SkipWithError("ZOK_BENCH_DBS is no directory");
    return;
  }
  const std::vector<zok_position>& list = Positions();
  size_t i = size_t(state.thread_index()) * 7919 * 131;
  int64_t probes = 0, known = 0;
  double hits0, misses0;
  zok_cache_stats(tb, &hits0, &misses0);
  for (auto _ : state) {
    for (int k = 0; k < 1000; k++) {
      zok_value v;
      zok_probe(tb, &list[i++ % list.size()], &v);
      known += v.outcome != ZOK_UNKNOWN;
    }
    probes += 1000;
  }
  state.SetItemsProcessed(probes);
  state.counters["known"] = benchmark::Counter(double(known) / double(probes > 0 ? probes : 1),
                                               benchmark::Counter::kAvgThreads);
  if (state.thread_index() == 0) {
    double hits, misses;
    zok_cache_stats(tb, &hits, &misses);
    hits -= hits0;
    misses -= misses0;
    state.counters["hit_rate"] = hits / (hits + misses > 0 ? hits + misses : 1);
  }
}

void BM_ProbeWarm(benchmark::State& state) { Probe(state, true); }
void BM_ProbeCold(benchmark::State& state) { Probe(state, false); }

// Items are positions; "moves" is the legal moves a position on average.
void BM_ProbeMovesWarm(benchmark::State& state) {
  if (Dir() == nullptr || Open().warm == nullptr) {
    state.SkipWithError("set ZOK_BENCH_DBS to a directory holding KQRKR and its sub-endgames");
    return;
  }
  zok_tb* tb = Open().warm;
  const std::vector<zok_position>& list = Positions();
  size_t i = size_t(state.thread_index()) * 7919 * 131;
  int64_t positions = 0, moves = 0;
  zok_move out[256];
  for (auto _ : state) {
    for (int k = 0; k < 100; k++) moves += zok_probe_moves(tb, &list[i++ % list.size()], out, 256);
    positions += 100;
  }
  state.SetItemsProcessed(positions);
  state.counters["moves"] = benchmark::Counter(double(moves) / double(positions > 0 ? positions : 1),
                                               benchmark::Counter::kAvgThreads);
}

const int kAll = static_cast<int>(std::thread::hardware_concurrency());
BENCHMARK(BM_ProbeWarm)->Threads(1)->Threads(kAll > 1 ? kAll : 2)->UseRealTime();
BENCHMARK(BM_ProbeCold)->Threads(1)->Threads(kAll > 1 ? kAll : 2)->UseRealTime();
BENCHMARK(BM_ProbeMovesWarm)->Threads(1)->Threads(kAll > 1 ? kAll : 2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
