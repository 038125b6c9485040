// Encode and decode throughput of the block codec per block kind and flags,
// with the record size each kind codes to.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "block_kinds.h"
#include "jar/block_codec.h"
#include "platform/platform.h"

namespace {

constexpr int kBlocksPerKind = 4;

struct KindSet {
  std::vector<std::vector<uint8_t>> blocks;
  std::vector<std::vector<uint8_t>> records;
  double record_bytes = 0;
};

// Pseudo-kind after the generated ones: blocks of a real build's work files
// (KQKR after pass 3), kept as records next to the codec's tests.
constexpr int kRealKind = block_kinds::kKindCount;

std::vector<std::vector<uint8_t>> RealBlocks() {
  std::string path = __FILE__;
  path = path.substr(0, path.rfind('/')) + "/../tests/jar/data/kqkr_pass3_blocks.rec";
  std::vector<std::vector<uint8_t>> blocks;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return blocks;
  uint8_t head[4];
  while (fread(head, 1, 4, f) == 4) {
    int length = head[0] | head[1] << 8 | head[2] << 16 | head[3] << 24;
    if (length <= 0 || length > kMaxRecordLength ||
        fread(g_record, 1, length, f) != static_cast<size_t>(length))
      break;
    std::vector<uint8_t> block(kBlockSize);
    if (!BlockDecode(length, block.data())) break;
    blocks.push_back(std::move(block));
  }
  fclose(f);
  return blocks;
}

KindSet MakeSet(int kind, int flags) {
  KindSet set;
  if (kind == kRealKind) {
    set.blocks = RealBlocks();
  } else {
    for (int i = 0; i < kBlocksPerKind; ++i) {
      std::vector<uint8_t> block(kBlockSize);
      block_kinds::MakeBlock(kind, static_cast<uint64_t>(i + 1), block.data());
      set.blocks.push_back(std::move(block));
    }
  }
  for (const std::vector<uint8_t>& block : set.blocks) {
    int length = BlockEncode(block.data(), flags);
    set.records.emplace_back(g_record, g_record + length);
    set.record_bytes += length;
  }
  return set;
}

const char* SetName(int kind) {
  return kind == kRealKind ? "kqkr_work_files" : block_kinds::KindName(kind);
}

void SetCounters(benchmark::State& state, const KindSet& set) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlockSize);
  double count = static_cast<double>(set.blocks.size());
  state.counters["record"] = set.record_bytes / count;
  state.counters["ratio"] = kBlockSize * count / set.record_bytes;
}

void BM_Encode(benchmark::State& state) {
  int kind = static_cast<int>(state.range(0));
  int flags = static_cast<int>(state.range(1));
  KindSet set = MakeSet(kind, flags);
  if (set.blocks.empty()) {
    state.SkipWithError("no blocks");
    return;
  }
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(BlockEncode(set.blocks[i].data(), flags));
    i = (i + 1) % set.blocks.size();
  }
  SetCounters(state, set);
  state.SetLabel(SetName(kind));
}

// One block per thread at a time, each thread with its own encoder, as the
// file layer codes a write handle's batch; wall-clock time.
void BM_EncodeBatch(benchmark::State& state) {
  int kind = static_cast<int>(state.range(0));
  int flags = static_cast<int>(state.range(1));
  KindSet set = MakeSet(kind, flags);
  if (set.blocks.empty()) {
    state.SkipWithError("no blocks");
    return;
  }
  const int threads = PlatThreadCount();
  std::vector<std::vector<uint8_t>> records(threads, std::vector<uint8_t>(kMaxRecordLength));
  size_t i = 0;
  for (auto _ : state) {
    PlatParallel(threads, [&](int t) {
      char error[256];
      const std::vector<uint8_t>& block = set.blocks[(i + t) % set.blocks.size()];
      BlockEncode(BlockThreadEncoder(), block.data(), flags, records[t].data(), error);
    });
    i = (i + threads) % set.blocks.size();
  }
  SetCounters(state, set);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * threads * kBlockSize);
  state.SetLabel(SetName(kind));
}

void BM_Decode(benchmark::State& state) {
  int kind = static_cast<int>(state.range(0));
  int flags = static_cast<int>(state.range(1));
  KindSet set = MakeSet(kind, flags);
  if (set.blocks.empty()) {
    state.SkipWithError("no blocks");
    return;
  }
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
  state.SetLabel(SetName(kind));
}

void Args(benchmark::internal::Benchmark* b) {
  // 256: the work files' coding.
  for (int flags : {0, 2, 128, 256}) {
    for (int kind = 0; kind <= kRealKind; ++kind) b->Args({kind, flags});
  }
  b->ArgNames({"kind", "flags"});
}

BENCHMARK(BM_Encode)->Apply(Args);
BENCHMARK(BM_EncodeBatch)->Apply(Args)->UseRealTime();
BENCHMARK(BM_Decode)->Apply(Args);

}  // namespace

BENCHMARK_MAIN();
