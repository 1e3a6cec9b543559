// The grid's row store with its blocks frozen on a worker thread: the same
// cells, offsets and encoded bytes as a store that freezes on the caller's
// thread, whatever the caller does while blocks are with the worker; and a
// grid whose rows are released as a streaming reader takes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "grid/row_store.h"
#include "defines.h"
#include "support/grid_texts.h"

// Allocations off the test's own thread fail while `failOffMainThread` is
// set: the worker's, since the test starts no other thread.
namespace {
std::atomic<bool> failOffMainThread{false};
const std::thread::id mainThread = std::this_thread::get_id();

void* Allocate(std::size_t size) {
  if (failOffMainThread.load() && std::this_thread::get_id() != mainThread) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
}  // namespace

// GCC cannot see that these replace the global ones, and takes the free()
// of a block from operator new for a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
#pragma GCC diagnostic pop

namespace kalvrin {
namespace {

constexpr int kCols = 41;

// Two stores, one freezing on its worker and one on the caller's thread,
// given the same calls, and plain vectors of what they must hold. The
// worker's store is called last, so that a failure it throws leaves the
// three alike.
class Stores {
 public:
  std::vector<std::vector<std::string>> cells;
  std::vector<std::int64_t> offsets;
  int firstRow = 0;  // rows below it are released: empty, and writes go nowhere
  RowStore worker{RowStore::Freezing::OnWorker};
  RowStore caller{RowStore::Freezing::OnCaller};

  void setRowCount(int rows) {
    firstRow = std::min(firstRow, rows);
    caller.setRowCount(rows);
    cells.resize(static_cast<std::size_t>(rows), std::vector<std::string>(static_cast<std::size_t>(caller.colCount())));
    offsets.resize(static_cast<std::size_t>(rows), kNoRowOffset);
    worker.setRowCount(rows);
  }
  void setColCount(int cols) {
    caller.setColCount(cols);
    for (auto& row : cells) row.resize(static_cast<std::size_t>(cols));
    worker.setColCount(cols);
  }
  void setCell(int col, int row, std::string text) {
    caller.setCell(col, row, text);
    if (row >= firstRow) cells[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = text.substr(0, RowStore::kMaxCellLength);
    worker.setCell(col, row, text);
  }
  void setOffset(int row, std::int64_t offset) {
    caller.setOffset(row, offset);
    if (row >= firstRow) offsets[static_cast<std::size_t>(row)] = offset;
    worker.setOffset(row, offset);
  }
  void releaseRowsBelow(int row) {
    caller.releaseRowsBelow(row);
    for (; firstRow < std::min(row, static_cast<int>(cells.size())); ++firstRow) {
      for (std::string& text : cells[static_cast<std::size_t>(firstRow)]) text.clear();
      offsets[static_cast<std::size_t>(firstRow)] = kNoRowOffset;
    }
    worker.releaseRowsBelow(row);
  }
  void freezeSettled() {
    caller.freezeSettled();
    worker.freezeSettled();
  }

  // One row read back from the worker's store in one of the ways there are.
  void expectRow(int row, int how) const {
    SCOPED_TRACE(testing::Message() << "row " << row << ", read " << how);
    const auto r = static_cast<std::size_t>(row);
    const std::vector<std::string>& want = cells[r];
    switch (how) {
      case 0:
        for (int col = 0; col < worker.colCount(); ++col) {
          ASSERT_EQ(worker.cell(col, row), want[static_cast<std::size_t>(col)]) << "column " << col;
        }
        break;
      case 1:
        ASSERT_EQ(worker.row(row), want);
        break;
      case 2: {
        std::array<std::string_view, RowStore::kMaxColumns> views;
        worker.rowCells(row, views);
        for (std::size_t col = 0; col < want.size(); ++col) ASSERT_EQ(views[col], want[col]) << "column " << col;
        break;
      }
      case 3: {
        // Every text with three bytes of framing, and the caller's store's
        // row the same bytes: the two hold their cells alike.
        std::size_t size = 0;
        for (const std::string& text : want) size += text.empty() ? 0 : 3 + text.size();
        const std::string bytes(worker.rowBytes(row));
        ASSERT_EQ(bytes.size(), size);
        for (const std::string& text : want) ASSERT_NE(bytes.find(text), std::string::npos);
        ASSERT_EQ(bytes, caller.rowBytes(row));
        break;
      }
      case 4: {
        // Down one column, a block either side, past the last row: frozen
        // blocks are read for the column alone.
        const int col = row % worker.colCount();
        const int first = std::max(0, row - RowStore::kBlockRows);
        std::vector<std::pair<int, std::string>> read;
        worker.columnCells(col, first, row + RowStore::kBlockRows,
                           [&](int at, std::string_view text) { read.emplace_back(at, text); });
        ASSERT_EQ(read.size(), static_cast<std::size_t>(std::min(row + RowStore::kBlockRows, worker.rowCount()) - first));
        for (std::size_t i = 0; i < read.size(); ++i) {
          const int at = first + static_cast<int>(i);
          ASSERT_EQ(read[i].first, at);
          ASSERT_EQ(read[i].second, cells[static_cast<std::size_t>(at)][static_cast<std::size_t>(col)]) << "row " << at;
        }
        break;
      }
      default:
        ASSERT_EQ(worker.offset(row), offsets[r]);
        break;
    }
  }

  // Every row, every way, and every block's encoding the caller's.
  void expectAll(const char* stage) const {
    SCOPED_TRACE(stage);
    ASSERT_EQ(worker.rowCount(), static_cast<int>(cells.size()));
    ASSERT_EQ(worker.firstRow(), firstRow);
    for (int row = 0; row < worker.rowCount(); ++row) {
      for (int how = 0; how < 6; ++how) ASSERT_NO_FATAL_FAILURE(expectRow(row, how));
    }
    ASSERT_EQ(worker.cell(worker.colCount(), 0), std::string_view());
    ASSERT_EQ(worker.offset(worker.rowCount()), kNoRowOffset);
    expectSameEncoding();
  }

  // Adds the frozen blocks compared to `compared`.
  void expectSameEncoding(int* compared = nullptr) const {
    const int blocks = (worker.rowCount() + RowStore::kBlockRows - 1) / RowStore::kBlockRows;
    for (int block = 0; block < blocks; ++block) {
      ASSERT_TRUE(worker.frozenBytes(block) == caller.frozenBytes(block)) << "block " << block;
      if (compared != nullptr && !worker.frozenBytes(block).empty()) ++*compared;
    }
  }
};

std::string MakeText(std::mt19937& random, const Stores& stores, int row, int col) {
  const std::string above =
      row > 0 ? stores.cells[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(col)] : std::string();
  return test::RandomGridText(random, row, above);
}

// Rows added as a check adds them: a new row's cells and offset, and now
// and then a late write to the row before.
void GrowLikeACheck(Stores& stores, std::mt19937& random, int rows, std::int64_t& offset) {
  for (int i = 0; i < rows; ++i) {
    const int row = static_cast<int>(stores.cells.size());
    stores.setRowCount(row + 1);
    for (int col = 0; col < stores.worker.colCount(); ++col) {
      if (random() % 3 != 0) stores.setCell(col, row, MakeText(random, stores, row, col));
    }
    stores.setOffset(row, random() % 40 == 0 ? kNoRowOffset : offset);
    offset += 300 + static_cast<std::int64_t>(random() % 300);
    if (row > 0 && random() % 4 == 0) stores.setCell(stores.worker.colCount() - 1, row - 1, std::to_string(random() % 1000));
  }
}

// Long random runs of growth (many blocks with the worker at once), reads
// of every kind of any row at any moment, writes into rows whose blocks are
// open, with the worker or frozen, columns dropped and added back, rows cut
// and grown back, rows released, everything removed. The store that freezes on its worker
// must read back as written and encode every block as the one that freezes
// on the caller's thread; it is dropped at the end with blocks still queued.
TEST(RowStoreWorker, KeepsEveryCellAndEncodesAsTheCallerWould) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 random(seed);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    Stores stores;
    stores.setColCount(kCols);
    std::int64_t offset = seed == 2 ? 5'000'000'000 : 60;
    int compared = 0;
    for (int step = 0; step < 1500; ++step) {
      const int rows = stores.worker.rowCount();
      const int choice = pick(1000);
      if (choice < 350) {
        GrowLikeACheck(stores, random, 1 + pick(3), offset);
      } else if (choice < 410) {
        GrowLikeACheck(stores, random, RowStore::kBlockRows + pick(4 * RowStore::kBlockRows), offset);
      } else if (choice < 650 && rows > 0) {
        ASSERT_NO_FATAL_FAILURE(stores.expectRow(pick(rows), pick(6)));
      } else if (choice < 750 && rows > 0) {
        const int row = pick(rows);
        stores.setCell(pick(stores.worker.colCount()), row, MakeText(random, stores, row, pick(stores.worker.colCount())));
      } else if (choice < 790 && rows > 0) {
        const std::int64_t offsets[] = {kNoRowOffset, std::numeric_limits<std::int64_t>::max(), std::int64_t{pick(1 << 30)}};
        stores.setOffset(pick(rows), offsets[pick(3)]);
      } else if (choice < 870) {
        stores.freezeSettled();
      } else if (choice < 890) {
        ASSERT_GT(stores.worker.bytes(), 0u);
      } else if (choice < 910) {
        const int cols = stores.worker.colCount();
        stores.setColCount(10 + pick(cols - 10));
        stores.setColCount(kCols);
      } else if (choice < 930 && rows > 0) {
        stores.setRowCount(rows / 2 + pick(rows - rows / 2));
        if (pick(3) == 0) stores.setRowCount(stores.worker.rowCount() + pick(2 * RowStore::kBlockRows));
      } else if (choice < 933) {
        stores.setRowCount(0);
      } else if (choice < 943 && rows > 0) {
        // Released as a reader takes them: a row or two, or blocks at once.
        const int first = stores.worker.firstRow();
        stores.releaseRowsBelow(first + (pick(4) != 0 ? 1 + pick(2) : pick((rows - first) / 2 + 1)));
      } else {
        ASSERT_NO_FATAL_FAILURE(stores.expectSameEncoding(&compared));
      }
    }
    EXPECT_GT(compared, 1000);  // or the comparisons said little
    stores.freezeSettled();
    GrowLikeACheck(stores, random, 8 * RowStore::kBlockRows, offset);  // read while with the worker
    ASSERT_NO_FATAL_FAILURE(stores.expectAll("at the end"));
    GrowLikeACheck(stores, random, 20 * RowStore::kBlockRows, offset);
  }
}

// An allocation that fails on the worker loses no row: the next call that
// hands a block over or waits for the worker throws the failure, the blocks
// it could not freeze are open again with every cell, and they freeze later
// as they would have.
TEST(RowStoreWorker, AFailureOnTheWorkerLosesNoRow) {
  std::mt19937 random(11);
  Stores stores;
  stores.setColCount(kCols);
  std::int64_t offset = 60;
  int failures = 0;
  failOffMainThread = true;
  constexpr int kBlocks = 20;  // enough to wake the worker while the grid grows
  for (int row = 0; row < kBlocks * RowStore::kBlockRows; ++row) {
    try {
      GrowLikeACheck(stores, random, 1, offset);
    } catch (const std::bad_alloc&) {
      ++failures;
    }
  }
  try {
    stores.worker.bytes();
  } catch (const std::bad_alloc&) {
    ++failures;
  }
  failOffMainThread = false;
  EXPECT_GE(failures, 1);
  EXPECT_NO_THROW(stores.worker.bytes());  // each failure is told once
  for (int block = 0; block < kBlocks; ++block) EXPECT_TRUE(stores.worker.frozenBytes(block).empty()) << "block " << block;
  ASSERT_NO_FATAL_FAILURE(stores.expectRow(5, 1));
  ASSERT_NO_FATAL_FAILURE(stores.expectRow(kBlocks * RowStore::kBlockRows / 2, 1));
  stores.freezeSettled();
  GrowLikeACheck(stores, random, 3 * RowStore::kBlockRows, offset);
  ASSERT_NO_FATAL_FAILURE(stores.expectAll("after the failure"));
}

// A grid streamed as kalvrin-check streams it: each row released two rows
// behind the end. The rows still held read back whole, the released ones
// read empty and take no writes, the store stays small however long the
// grid grows, and cutting it below the released rows starts it afresh.
TEST(RowStoreRelease, AStreamedGridKeepsOnlyItsLastRows) {
  constexpr int kRows = 150'000;
  RowStore store;
  store.setColCount(3);
  auto textOf = [](int row, int col) { return std::to_string(row * 7 + col) + (col == 2 ? " SHOP" : ""); };
  std::size_t most = 0;
  for (int row = 0; row < kRows; ++row) {
    store.setRowCount(row + 1);
    for (int col = 0; col < 3; ++col) store.setCell(col, row, textOf(row, col));
    store.setOffset(row, 100 + std::int64_t{row} * 300);
    store.releaseRowsBelow(row - 1);
    if (row % 1000 == 0) most = std::max(most, store.bytes());
  }
  EXPECT_EQ(store.firstRow(), kRows - 2);
  EXPECT_LT(most, std::size_t{256} << 10) << "released blocks are freed, and their records go";
  for (const int row : {kRows - 2, kRows - 1}) {
    EXPECT_EQ(store.row(row), (std::vector<std::string>{textOf(row, 0), textOf(row, 1), textOf(row, 2)}));
    EXPECT_EQ(store.offset(row), 100 + std::int64_t{row} * 300);
  }
  const int released = kRows - 3;
  store.setCell(0, released, "late");
  store.setOffset(released, 5);
  EXPECT_EQ(store.cell(0, released), "");
  EXPECT_EQ(store.row(released), (std::vector<std::string>(3)));
  EXPECT_EQ(store.offset(released), kNoRowOffset);
  EXPECT_TRUE(store.frozenBytes(released / RowStore::kBlockRows).empty());

  store.setRowCount(10);
  EXPECT_EQ(store.firstRow(), 10);
  store.setRowCount(200);
  store.setCell(1, 150, "kept");
  EXPECT_EQ(store.cell(1, 150), "kept");
  EXPECT_EQ(store.cell(1, 5), "");
  store.setRowCount(0);
  EXPECT_EQ(store.firstRow(), 0);
  store.setRowCount(2);
  store.setCell(0, 0, "again");
  EXPECT_EQ(store.cell(0, 0), "again");
}

}  // namespace
}  // namespace kalvrin
