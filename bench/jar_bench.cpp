// Throughput of the compressed file layer on a 64 MB value-byte file:
// sequential write and read with the default coding and with flag 128 (best
// of five methods per block), and random one-byte probes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "jar/jar_file.h"
#include "jar/jas.h"

namespace {

constexpr int kFileBytes = 64 << 20;
constexpr int kPiece = 65536;

std::string g_dir;

// Value bytes as a finished database holds them: long runs of the draw
// value and short stretches of small distances, with some noise.
const std::vector<uint8_t>& Data() {
  static std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d(kFileBytes);
    uint32_t x = 12345;
    uint8_t value = 0;
    for (size_t i = 0; i < d.size(); i++) {
      x = x * 1103515245u + 12345;
      if ((x >> 24) < 12) value = (x >> 16) % 3 == 0 ? static_cast<uint8_t>((x >> 8) % 60) : 0;
      d[i] = (x >> 20) % 251 == 0 ? static_cast<uint8_t>(x >> 9) : value;
    }
    return d;
  }();
  return data;
}

std::string PathOf(int flags) { return g_dir + "/bench" + std::to_string(flags); }

void WriteFile(int flags) {
  const auto& data = Data();
  JILE* h = JarWopen(PathOf(flags).c_str(), flags);
  if (h == nullptr) return;
  for (int at = 0; at < kFileBytes; at += kPiece) JarWrite(data.data() + at, kPiece, h);
  JarClose(h);
}

void BM_Write(benchmark::State& state) {
  const int flags = static_cast<int>(state.range(0));
  Data();
  for (auto _ : state) WriteFile(flags);
  state.SetBytesProcessed(int64_t(state.iterations()) * kFileBytes);
  const double disk = JarDiskSize(PathOf(flags).c_str());
  state.counters["ratio"] = disk / kFileBytes;
}

void BM_Read(benchmark::State& state) {
  const int flags = static_cast<int>(state.range(0));
  if (JarExists(PathOf(flags).c_str()) == 0) WriteFile(flags);
  std::vector<uint8_t> buffer(kPiece);
  for (auto _ : state) {
    JILE* h = JarRopen(PathOf(flags).c_str());
    int64_t total = 0;
    int n;
    while ((n = JarRead(buffer.data(), kPiece, h)) > 0) total += n;
    JarClose(h);
    if (total != kFileBytes) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kFileBytes);
}

void BM_Probe(benchmark::State& state) {
  const int flags = static_cast<int>(state.range(0));
  if (JarExists(PathOf(flags).c_str()) == 0) WriteFile(flags);
  JILE* h = JarRopen(PathOf(flags).c_str());
  uint32_t x = 777;
  for (auto _ : state) {
    x = x * 1664525u + 1013904223u;
    JarSeek(h, static_cast<double>(x % kFileBytes));
    benchmark::DoNotOptimize(JarGetc(h));
  }
  JarClose(h);
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_Write)->Arg(kFlagDefault)->Arg(kFlagTrial)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read)->Arg(kFlagDefault)->Arg(kFlagTrial)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Probe)->Arg(kFlagDefault)->Arg(kFlagTrial);

int main(int argc, char** argv) {
  auto dir = std::filesystem::temp_directory_path() /
             ("zok-jar-bench-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  g_dir = dir.string();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(dir);
  return 0;
}
