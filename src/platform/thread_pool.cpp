// The build's thread pool: PlatThreadCount() - 1 threads made on first use,
// which with the caller share out the indices of one PlatParallelFor at a
// time. Threads sleep between calls: a build calls it for batches of
// milliseconds, where a wake-up's cost does not matter and spinning would
// take the core from the thread doing the work.
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

// The most threads a build uses.
constexpr int kThreadsMax = 1024;

// ZOK_THREADS as set: 0 when unset, -1 when it is no whole number from 1 up
// (a typing error must not turn into "every core" unnoticed), else the
// number, at most kThreadsMax.
int ThreadSetting() {
  const char* text = getenv("ZOK_THREADS");
  if (text == nullptr) return 0;
  long n = 0;
  for (const char* p = text; *p != '\0'; p++) {
    if (*p < '0' || *p > '9') return -1;
    if (n <= kThreadsMax) n = n * 10 + (*p - '0');
  }
  if (*text == '\0' || n < 1) return -1;
  return n > kThreadsMax ? kThreadsMax : static_cast<int>(n);
}

int ReadThreadCount() {
  int set = ThreadSetting();
  if (set > 0) return set;
  cpu_set_t cpus;
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) {
    int n = CPU_COUNT(&cpus);
    if (n >= 1) return n;
  }
  unsigned n = std::thread::hardware_concurrency();
  return n >= 1 ? static_cast<int>(n) : 1;
}

struct Pool {
  std::mutex lock;
  std::condition_variable wake;  // a new call, or stop
  std::condition_variable idle;  // a thread has left the current call
  std::vector<std::thread> threads;
  pid_t owner = 0;
  // The current call; `generation` tells the threads a new one has begun.
  uint64_t generation = 0;
  int count = 0;
  void (*body)(void*, int) = nullptr;
  void* arg = nullptr;
  std::atomic<int> next{0};
  int busy = 0;     // threads still in the current call
  int arrived = 0;  // threads that have joined the current call
  bool stop = false;

  // True on a thread inside a call's body, a pool thread always: its own
  // calls run inline, as waiting for the pool would wait for itself.
  static bool& Inside() {
    thread_local bool inside = false;
    return inside;
  }

  void Share() {
    for (int i = next.fetch_add(1); i < count; i = next.fetch_add(1)) body(arg, i);
  }

  void Loop() {
    uint64_t seen = 0;
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
      wake.wait(hold, [&] { return stop || generation != seen; });
      if (stop) return;
      seen = generation;
      busy++;
      arrived++;
      hold.unlock();
      Share();
      hold.lock();
      --busy;
      idle.notify_all();
    }
  }
};

// The process's one pool, made on first use and stopped at exit, and the
// thread count: global because every parallel call of the process, from any
// layer, shares its threads, and a child after fork() must not use its
// parent's.
struct PoolSlot {
  Pool* pool = nullptr;
  std::mutex making;
  std::mutex call;            // one call at a time
  std::atomic<int> count{0};  // PlatThreadCount(), 0 until read
  ~PoolSlot() {
    if (pool == nullptr || pool->owner != getpid()) return;
    {
      std::lock_guard<std::mutex> hold(pool->lock);
      pool->stop = true;
    }
    pool->wake.notify_all();
    for (auto& t : pool->threads) t.join();
    delete pool;
    pool = nullptr;
  }
} g_pool;

Pool* ThePool() {
  std::lock_guard<std::mutex> hold(g_pool.making);
  if (g_pool.pool != nullptr) return g_pool.pool->owner == getpid() ? g_pool.pool : nullptr;
  auto* p = new Pool;
  p->owner = getpid();
  int extra = PlatThreadCount() - 1;
  for (int i = 0; i < extra; i++) {
    try {
      p->threads.emplace_back([p] {
        Pool::Inside() = true;
        p->Loop();
      });
    } catch (const std::system_error&) {
      break;  // fewer threads: the caller does more of the work
    }
  }
  g_pool.pool = p;
  return p;
}

}  // namespace

int PlatThreadCount() {
  int n = g_pool.count.load(std::memory_order_relaxed);
  if (n == 0) {
    int read = ReadThreadCount();
    g_pool.count.compare_exchange_strong(n, read);
    n = g_pool.count.load(std::memory_order_relaxed);
  }
  return n;
}

std::string PlatThreadSettingError() {
  char text[160];
  if (ThreadSetting() >= 0) return "";
  snprintf(text, sizeof text, "ZOK_THREADS [%.64s] is not a positive number", getenv("ZOK_THREADS"));
  return text;
}

int PlatSetThreadCount(int n) {
  int was = PlatThreadCount();
  if (n >= 1) g_pool.count.store(n);
  return was;
}

void PlatParallelFor(int n, void (*body)(void* arg, int i), void* arg) {
  if (n <= 0) return;
  Pool* p = (n == 1 || Pool::Inside() || PlatThreadCount() == 1) ? nullptr : ThePool();
  if (p == nullptr || p->threads.empty()) {
    for (int i = 0; i < n; i++) body(arg, i);
    return;
  }
  std::lock_guard<std::mutex> call(g_pool.call);
  {
    std::lock_guard<std::mutex> hold(p->lock);
    p->count = n;
    p->body = body;
    p->arg = arg;
    p->next.store(0);
    p->arrived = 0;
    p->generation++;
  }
  p->wake.notify_all();
  Pool::Inside() = true;
  p->Share();
  Pool::Inside() = false;
  // Every index is taken; wait until every thread has joined the call and
  // left it, so that none still reads this call's body when the next begins.
  const int threads = static_cast<int>(p->threads.size());
  std::unique_lock<std::mutex> hold(p->lock);
  p->idle.wait(hold, [p, threads] { return p->busy == 0 && p->arrived == threads; });
}
