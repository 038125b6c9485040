// Throughput of the pile with the build's buffer of 1000000 records: 10
// million distinct records in random order, pushed (sorting and writing a
// chop at every full buffer), then merged into the NEWF bitmap. Reports
// records per second for each phase, and for the in-memory sort alone.
// Run it in a scratch directory: it writes its chops and NEWF file under
// BENCH/ there.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "builder/build.h"
#include "builder/pile.h"
#include "builder/work_names.h"
#include "index/names.h"
#include "platform/platform.h"

namespace {

constexpr int32_t kRecords = 10000000;

// KQKR-sized white-row layout: 40960 rows of 4096 columns (167772160 entries).
void SetGeometry(Build& b) {
  strcpy(b.basi.name, "BENCH");
  b.basi.numw = 40960;
  b.basi.zsize = 4096;
  b.basi.numz = 40960;
  b.basi.wsize = 4096;
  PlatMkdir("BENCH");
}

constexpr uint32_t kEntries = 40960u * 4096u;

// Distinct random entries of the layout in random order, as records.
std::vector<uint64_t> RandomRecords(int32_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> used(kEntries / 8, 0);
  std::vector<uint64_t> out;
  out.reserve(n);
  while (static_cast<int32_t>(out.size()) < n) {
    uint32_t e = static_cast<uint32_t>(rng() % kEntries);
    if ((used[e >> 3] >> (e & 7)) & 1) continue;
    used[e >> 3] |= static_cast<uint8_t>(1 << (e & 7));
    out.push_back(PileKey(e & 4095, e >> 12));
  }
  return out;
}

void BM_PileSort(benchmark::State& state) {
  std::vector<uint64_t> source = RandomRecords(kPileIteration, 1);
  std::vector<uint64_t> buffer(kPileIteration);
  for (auto _ : state) {
    state.PauseTiming();
    buffer = source;
    state.ResumeTiming();
    PileSort(buffer.data(), kPileIteration, 7);
  }
  state.SetItemsProcessed(state.iterations() * kPileIteration);
}

void BM_PileSortRadix(benchmark::State& state) {
  std::vector<uint64_t> source = RandomRecords(kPileIteration, 1);
  std::vector<uint64_t> buffer(kPileIteration), scratch(kPileIteration);
  for (auto _ : state) {
    state.PauseTiming();
    buffer = source;
    state.ResumeTiming();
    benchmark::DoNotOptimize(PileSortRadix(buffer.data(), scratch.data(), kPileIteration));
  }
  state.SetItemsProcessed(state.iterations() * kPileIteration);
}

void BM_PilePushAndMerge(benchmark::State& state) {
  std::unique_ptr<Build> owned = std::make_unique<Build>();
  Build& b = *owned;
  SetGeometry(b);
  std::vector<uint64_t> records = RandomRecords(kRecords, 2);
  for (auto _ : state) {
    int64_t t0 = PlatClockMs();
    PileOpen(b, kPileIteration);
    for (uint64_t r : records) {
      PilePush(b, static_cast<uint32_t>(r), static_cast<uint32_t>(r >> 32));
    }
    PileClose(b);
    int64_t t1 = PlatClockMs();
    NewfWrite(b, 1, kWhiteRows);
    int64_t t2 = PlatClockMs();
    state.counters["push_per_s"] = kRecords * 1000.0 / static_cast<double>(t1 - t0);
    state.counters["merge_per_s"] = kRecords * 1000.0 / static_cast<double>(t2 - t1);
    state.counters["chops"] = b.pile.level_files[0];
    state.counters["chop_bytes_per_record"] = b.pile.level_bytes[b.pile.level] / kRecords;
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

}  // namespace

BENCHMARK(BM_PileSort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PileSortRadix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PilePushAndMerge)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
