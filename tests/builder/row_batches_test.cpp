// The row batches of a pass: every row computed into its batch and committed
// once, in row order, whatever the threads do; chunks of whole blocks.
#include "builder/row_batches.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(RowBatches, RowsAreCommittedOnceInOrderAndARedoRecomputesTheBatch) {
  struct Case {
    int32_t rows, row_bytes;
  } cases[] = {{0, 512}, {1, 512}, {1000, 512}, {37, 32768}, {5, 3 * 4096}, {301, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rows << " rows of " << c.row_bytes);
    RowPlan plan = PlanRows(c.rows, c.row_bytes);
    ASSERT_GE(plan.chunk_rows, 1);
    if (c.row_bytes % 512 == 0 && plan.chunk_rows * c.row_bytes > kBlockSize) {
      EXPECT_EQ(static_cast<int64_t>(plan.chunk_rows) * c.row_bytes % kBlockSize, 0);
    }
    std::vector<int32_t> slots[2] = {std::vector<int32_t>(plan.batch_rows, -1),
                                     std::vector<int32_t>(plan.batch_rows, -1)};
    std::vector<int> sets_busy(plan.sets, 0);
    std::vector<int32_t> committed;
    int prepared = 0, redos = 0, computed = 0;
    bool redo_due = true;
    ProgState prog{};
    auto prepare = [&](int, int32_t first, int32_t count) {
      prepared += first == prepared ? count : -1;  // batches come in row order
    };
    RunRows(
        plan, prog, 0, prepare,
        [&](int slot, int set, int32_t first, int32_t count) {
          EXPECT_EQ(__atomic_fetch_add(&sets_busy[set], 1, __ATOMIC_ACQ_REL), 0);
          for (int32_t r = first; r < first + count; r++) slots[slot][r % plan.batch_rows] = r * 3;
          __atomic_add_fetch(&computed, count, __ATOMIC_RELAXED);
          __atomic_fetch_sub(&sets_busy[set], 1, __ATOMIC_ACQ_REL);
        },
        [&](int slot, int32_t first, int32_t count) {
          for (int32_t r = first; r < first + count; r++) {
            EXPECT_EQ(slots[slot][r % plan.batch_rows], r * 3);
            committed.push_back(r);
          }
        },
        [&] {
          bool again = redo_due;
          redo_due = false;
          redos += again;
          return again;
        });
    ASSERT_EQ(static_cast<int32_t>(committed.size()), c.rows);
    for (int32_t r = 0; r < c.rows; r++) ASSERT_EQ(committed[r], r);
    EXPECT_EQ(prepared, c.rows);
    EXPECT_EQ(redos, c.rows > 0 ? 1 : 0);
    // The redo after the first batch computes that batch again.
    EXPECT_EQ(computed, c.rows + (c.rows < plan.batch_rows ? c.rows : plan.batch_rows));
  }
}

// A seven-man database is packed in 10 x 64^5 rows of 64 entries (32 x 64^5
// with pawns): past 2^31, every row is planned and committed.
TEST(RowBatches, SevenManPackingRowsPassTwoToThe31) {
  for (int64_t rows : {int64_t{10} << 30, int64_t{32} << 30}) {
    RowPlan plan = PlanRows(rows, 64);
    EXPECT_EQ(plan.rows, rows);
    plan.chunk_rows = plan.batch_rows = 1 << 29;  // a few batches only
    int64_t next = 0;
    ProgState prog{};
    RunRows(
        plan, prog, 0, [](int, int64_t, int32_t) {}, [](int, int, int64_t, int32_t) {},
        [&](int, int64_t first, int32_t count) { next += first == next ? count : -1; });
    EXPECT_EQ(next, rows);
  }
}

}  // namespace
