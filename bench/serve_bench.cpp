// Requests a second and latency of zok-serve's /standard on loopback: N
// keep-alive clients ask for random legal KQRKR and KQKR positions (both
// sides to move), first once over all of them to warm the cache, then for
// the timed run. Starts the server itself and stops it at the end.
//
//   ZOK_BENCH_DBS=DIR serve_bench [CLIENTS [SECONDS]]
//   (DIR holds KQRKR, KQKR, their sub-endgames and their twins)
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "zok/probe.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Fen(const zok_position& p) {
  char men[64] = {};
  for (int i = 0; i < p.count; i++) men[p.square[i]] = p.piece[i];
  std::string fen;
  for (int r = 7; r >= 0; r--) {
    for (int f = 0, empty = 0; f < 8; f++) {
      char c = men[r * 8 + f];
      if (c != 0) fen += (empty > 0 ? std::to_string(empty) : "") + c, empty = 0;
      else if (++empty, f == 7) fen += std::to_string(empty);
    }
    fen += r > 0 ? "/" : p.white_to_move ? "_w_-_-" : "_b_-_-";
  }
  return fen;
}

// Random legal positions, half of each endgame, the same on every run.
std::vector<std::string> Positions(size_t n) {
  std::vector<std::string> out;
  uint64_t seed = 0x9e3779b97f4a7c15ull;
  while (out.size() < n) {
    bool five = out.size() % 2 == 0;
    zok_position p = {five ? 5 : 4, {'K', 'Q', 'R', 'k', 'r'}, {}, 1, -1, 0};
    if (!five) p.piece[2] = 'k', p.piece[3] = 'r';
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    for (int i = 0; i < p.count; i++)
      p.square[i] = static_cast<unsigned char>(seed >> (30 + 6 * i) & 63);
    p.white_to_move = static_cast<int>(seed >> 29 & 1);
    std::string fen = Fen(p);
    std::string spaced = fen;
    std::replace(spaced.begin(), spaced.end(), '_', ' ');
    zok_position parsed;
    if (zok_parse_fen(spaced.c_str(), &parsed) == ZOK_OK) out.push_back("/standard?fen=" + fen);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const char* dbs = std::getenv("ZOK_BENCH_DBS");
  if (dbs == nullptr) {
    fprintf(stderr, "usage: ZOK_BENCH_DBS=DIR serve_bench [CLIENTS [SECONDS]]\n");
    return 2;
  }
  int clients = argc > 1 ? std::max(1, atoi(argv[1])) : 8;
  double seconds = argc > 2 ? std::max(1.0, atof(argv[2])) : 10;
  const std::vector<std::string> targets = Positions(20000);

  TempDir dir;
  RunShell("sh -c \"'" ZOK_SERVE_EXE "' --bind 127.0.0.1:0 --threads " + std::to_string(clients + 2) +
               " '" + dbs + "' >out 2>err & echo \\$! >pid; wait\" >/dev/null 2>&1 &",
           dir.path());
  int port = 0;
  for (int i = 0; i < 500 && port == 0; i++) {
    std::smatch m;
    std::string out = FileExists(dir.File("out")) ? ReadFile(dir.File("out")) : "";
    if (std::regex_search(out, m, std::regex("listening on 127.0.0.1:(\\d+)"))) port = std::stoi(m[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (port == 0) {
    fprintf(stderr, "serve_bench: the server did not start\n");
    return 1;
  }

  // Each client walks its share of the positions, round after round, until
  // the clock or (when warming) one round is done.
  std::atomic<long> failed{0}, missing{0};
  auto run = [&](bool warm, std::vector<std::vector<double>>* latency) {
    std::vector<std::thread> threads;
    Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(seconds));
    for (int c = 0; c < clients; c++) {
      threads.emplace_back([&, c] {
        httplib::Client client("127.0.0.1", port);
        client.set_keep_alive(true);
        for (size_t i = size_t(c);; i += size_t(clients)) {
          if (warm ? i >= targets.size() : Clock::now() >= end) break;
          Clock::time_point t0 = Clock::now();
          auto r = client.Get(targets[i % targets.size()].c_str());
          double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
          if (!r || (r->status != 200 && r->status != 404)) failed++;
          if (r && r->status == 404) missing++;
          if (!warm) (*latency)[size_t(c)].push_back(ms);
        }
      });
    }
    for (std::thread& t : threads) t.join();
  };
  run(true, nullptr);
  failed = 0;
  missing = 0;
  std::vector<std::vector<double>> latency(static_cast<size_t>(clients));
  Clock::time_point t0 = Clock::now();
  run(false, &latency);
  double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
  RunShell("kill -TERM $(cat pid)", dir.path());

  std::vector<double> all;
  for (const auto& l : latency) all.insert(all.end(), l.begin(), l.end());
  std::sort(all.begin(), all.end());
  auto pct = [&](double p) {
    return all.empty() ? 0.0 : all[std::min(all.size() - 1, size_t(p * all.size()))];
  };
  printf("serve_bench: %d keep-alive clients, %zu requests in %.1f s over %zu KQRKR/KQKR positions\n",
         clients, all.size(), elapsed, targets.size());
  printf("requests/s %.0f   p50 %.3f ms   p99 %.3f ms   max %.3f ms   404 %ld   failed %ld\n",
         double(all.size()) / elapsed, pct(0.50), pct(0.99), all.empty() ? 0.0 : all.back(),
         long(missing), long(failed));
  return failed == 0 ? 0 : 1;
}
