#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include <unistd.h>

#include "platform/platform.h"

namespace {

// Waking a sleeping thread takes long on a virtual machine: on the machine
// this was tuned on, polling instead cut about 250 microseconds from coding
// two 600-microsecond blocks at once. So both sides poll for a while before
// they sleep: the worker for its next task, the caller for the end of one.
constexpr auto kPoll = std::chrono::microseconds(500);

template <typename Ready>
bool PollFor(Ready ready) {
  auto until = std::chrono::steady_clock::now() + kPoll;
  for (int i = 0;; ++i) {
    if (ready()) return true;
    if ((i & 63) == 63 && std::chrono::steady_clock::now() > until) return false;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
}

struct Worker {
  std::mutex lock;
  std::condition_variable wake;      // a task to run, or stop
  std::condition_variable finished;  // a task has run
  std::atomic<PlatTask*> task{nullptr};  // the one running
  std::atomic<bool> stop{false};
  std::atomic<bool> running{false};  // the thread has started
  pid_t owner = 0;
  std::thread thread;

  void Loop() {
    for (;;) {
      if (!PollFor([this] { return task.load(std::memory_order_acquire) != nullptr || stop.load(); })) {
        std::unique_lock<std::mutex> hold(lock);
        wake.wait(hold, [this] { return task.load() != nullptr || stop.load(); });
      }
      PlatTask* t = task.load(std::memory_order_acquire);
      if (t == nullptr) return;  // stopped
      t->run(t->arg);
      {
        std::lock_guard<std::mutex> hold(lock);
        t->done.store(true, std::memory_order_release);
        task.store(nullptr, std::memory_order_release);
      }
      finished.notify_all();
    }
  }
};

// The process's one worker (threads are process-wide by nature). It is
// stopped and joined at a normal exit; the fatal exit leaves with _exit and
// never gets there.
struct WorkerSlot {
  Worker* worker = nullptr;
  ~WorkerSlot();
} g_slot;

// A forked child inherits the parent's worker state but not its thread; it
// makes its own and leaves the parent's untouched.
bool Mine(const Worker* w) { return w != nullptr && w->owner == getpid(); }

WorkerSlot::~WorkerSlot() {
  if (!Mine(worker)) return;
  {
    std::lock_guard<std::mutex> hold(worker->lock);
    worker->stop.store(true);
  }
  worker->wake.notify_one();
  worker->thread.join();
  delete worker;
  worker = nullptr;
}

Worker* TheWorker() {
  if (Mine(g_slot.worker)) return g_slot.worker;
  auto* w = new Worker;
  w->owner = getpid();
  try {
    w->thread = std::thread([w] {
      w->running.store(true);
      w->Loop();
    });
  } catch (const std::system_error&) {
    delete w;
    return nullptr;
  }
  // Until the new thread runs, the runtime may hold locks for it (the
  // sanitizers' thread registry, for one); a child forked in that moment
  // would inherit them locked and hang on its first thread or allocation.
  while (!w->running.load()) std::this_thread::yield();
  g_slot.worker = w;
  return w;
}



}  // namespace

bool PlatTaskStart(PlatTask* task) {
  Worker* w = TheWorker();
  if (w == nullptr) return false;
  {
    std::lock_guard<std::mutex> hold(w->lock);
    if (w->task.load() != nullptr) return false;
    task->done.store(false);
    task->started_by = w->owner;
    w->task.store(task, std::memory_order_release);
  }
  w->wake.notify_one();
  return true;
}

void PlatTaskWait(PlatTask* task) {
  if (task->started_by != getpid()) {
    // Started by the parent of this process: its thread is not here.
    if (!task->done.load()) task->run(task->arg);
    task->done.store(true);
    return;
  }
  if (PollFor([task] { return task->done.load(std::memory_order_acquire); })) return;
  std::unique_lock<std::mutex> hold(g_slot.worker->lock);
  g_slot.worker->finished.wait(hold, [task] { return task->done.load(); });
}
