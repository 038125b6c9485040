// Encode and decode throughput of the block codec per block kind and flags,
// with the record size each kind codes to.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "../tests/jar/block_kinds.h"
#include "jar/block_codec.h"

namespace {

constexpr int kBlocksPerKind = 4;

struct KindSet {
  std::vector<std::vector<uint8_t>> blocks;
  std::vector<std::vector<uint8_t>> records;
  double record_bytes = 0;
};

KindSet MakeSet(int kind, int flags) {
  KindSet set;
  for (int i = 0; i < kBlocksPerKind; ++i) {
    std::vector<uint8_t> block(kBlockSize);
    block_kinds::MakeBlock(kind, static_cast<uint64_t>(i + 1), block.data());
    int length = BlockEncode(block.data(), flags);
    set.records.emplace_back(g_record, g_record + length);
    set.record_bytes += length;
    set.blocks.push_back(std::move(block));
  }
  return set;
}

void SetCounters(benchmark::State& state, const KindSet& set) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlockSize);
  state.counters["record"] = set.record_bytes / kBlocksPerKind;
  state.counters["ratio"] = kBlockSize * kBlocksPerKind / set.record_bytes;
}

void BM_Encode(benchmark::State& state) {
  int kind = static_cast<int>(state.range(0));
  int flags = static_cast<int>(state.range(1));
  KindSet set = MakeSet(kind, flags);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(BlockEncode(set.blocks[i].data(), flags));
    i = (i + 1) % set.blocks.size();
  }
  SetCounters(state, set);
  state.SetLabel(block_kinds::KindName(kind));
}

void BM_Decode(benchmark::State& state) {
  int kind = static_cast<int>(state.range(0));
  int flags = static_cast<int>(state.range(1));
  KindSet set = MakeSet(kind, flags);
  std::vector<uint8_t> out(kBlockSize);
  size_t i = 0;
  for (auto _ : state) {
    const std::vector<uint8_t>& record = set.records[i];
    memcpy(g_record, record.data(), record.size());
    if (!BlockDecode(static_cast<int>(record.size()), out.data())) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.data());
    i = (i + 1) % set.records.size();
  }
  SetCounters(state, set);
  state.SetLabel(block_kinds::KindName(kind));
}

void Args(benchmark::internal::Benchmark* b) {
  for (int flags : {0, 2, 128}) {
    for (int kind = 0; kind < block_kinds::kKindCount; ++kind) b->Args({kind, flags});
  }
  b->ArgNames({"kind", "flags"});
}

BENCHMARK(BM_Encode)->Apply(Args);
BENCHMARK(BM_Decode)->Apply(Args);

}  // namespace

BENCHMARK_MAIN();
