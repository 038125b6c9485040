// The build's thread pool.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/platform.h"

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
