// The worker thread: one task at a time, waiting, and a forked child.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <vector>

#include "platform/platform.h"

namespace {

// A task that holds the worker until released, then records that it ran.
struct Held {
  std::atomic<bool> release{false};
  std::atomic<bool> running{false};
  std::atomic<int> runs{0};
  PlatTask task{};

  static void Run(void* arg) {
    auto* self = static_cast<Held*>(arg);
    self->running = true;
    while (!self->release.load()) {
    }
    self->runs.fetch_add(1);
  }
  Held() {
    task.run = Run;
    task.arg = this;
  }
};

TEST(Worker, RunsOneTaskAtATimeAndWaitsForIt) {
  Held first;
  Held second;
  ASSERT_TRUE(PlatTaskStart(&first.task));
  EXPECT_FALSE(PlatTaskStart(&second.task)) << "the worker is busy";
  first.release = true;
  PlatTaskWait(&first.task);
  EXPECT_EQ(first.runs.load(), 1);
  EXPECT_TRUE(first.task.done);
  // Free again: the next task runs.
  second.release = true;
  ASSERT_TRUE(PlatTaskStart(&second.task));
  PlatTaskWait(&second.task);
  EXPECT_EQ(second.runs.load(), 1);
  EXPECT_EQ(first.runs.load(), 1);
}

TEST(Worker, AForkedChildRunsItsParentsTaskItselfAndHasAWorkerOfItsOwn) {
  Held parent;
  ASSERT_TRUE(PlatTaskStart(&parent.task));
  // Fork while the worker is inside the task, as a death test of the file
  // layer may fork while a block is being coded.
  while (!parent.running.load()) {
  }
  // The child sees the task started but has no thread running it: waiting
  // runs it in the child. Its own tasks go to a worker of its own.
  EXPECT_EXIT(
      {
        parent.release = true;
        PlatTaskWait(&parent.task);
        Held own;
        own.release = true;
        bool started = PlatTaskStart(&own.task);
        PlatTaskWait(&own.task);
        std::exit(parent.runs.load() == 1 && started && own.runs.load() == 1 ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
  parent.release = true;
  PlatTaskWait(&parent.task);
  EXPECT_EQ(parent.runs.load(), 1);
}

}  // namespace

// The pool runs every index exactly once, many calls in a row (a thread late
// for one call must never run the next call's body with the old one's
// state), and a call from inside a body runs inline.
TEST(ThreadPool, RunsEveryIndexOnceAcrossManyCalls) {
  for (int round = 0; round < 200; round++) {
    const int n = 1 + round % 37;
    std::vector<std::atomic<int>> hits(n);
    std::atomic<int> nested{0};
    PlatParallel(n, [&](int i) {
      hits[i].fetch_add(1);
      PlatParallel(3, [&](int) { nested.fetch_add(1); });
    });
    for (int i = 0; i < n; i++) ASSERT_EQ(hits[i].load(), 1) << "round " << round << " index " << i;
    ASSERT_EQ(nested.load(), 3 * n);
  }
  EXPECT_GE(PlatThreadCount(), 1);
}
