// The update window's pending changes: applying them gives the state that applying every change
// in order would have given, however the window's visits fall between them, while the window is
// woken at most once per visit and cell changes are coalesced.
#include "platform/pending_window_changes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <thread>

#include "platform/window.h"

namespace velmora::platform {
namespace {

// A grid with the update window's rules, recording the number of cell writes it received.
class FakeGrid final : public WindowChangeTarget {
 public:
  struct Cell {
    std::string text;
    bool progress = false;
    ProgressCellSpec range;  // of a progress cell
  };
  std::vector<std::vector<Cell>> rows;
  bool buttonEnabled = true;
  std::string caption;
  std::uint32_t timer = 0;
  std::vector<std::string> orderedLog;
  int cellWrites = 0;

  int RowCount() const override { return static_cast<int>(rows.size()); }
  void InsertRow(int position, const std::string& firstCellText) override {
    const int item = std::clamp(position - 1, 0, RowCount());
    rows.insert(rows.begin() + item, std::vector<Cell>(8));
    rows[static_cast<std::size_t>(item)][0].text = firstCellText;
    orderedLog.push_back("row " + firstCellText);
  }
  void SetCellText(int row, int column, const std::string& text) override {
    ++cellWrites;
    Cell* cell = At(row, column);
    if (cell == nullptr) return;
    cell->text = cell->progress ? std::to_string(ProgressFromText(text, cell->range.minimum, cell->range.maximum)) : text;
  }
  void MakeProgressCell(int row, int column, const ProgressCellSpec& cellSpec) override {
    ++cellWrites;
    Cell* cell = At(row, column);
    if (cell == nullptr) return;
    cell->progress = true;
    cell->range = cellSpec;
    cell->text = std::to_string(ClampProgress(cellSpec.value, cellSpec.minimum, cellSpec.maximum));
  }
  void SetProgressValue(int row, int column, std::int32_t value) override {
    ++cellWrites;
    Cell* cell = At(row, column);
    if (cell == nullptr || !cell->progress) return;
    cell->text = std::to_string(ClampProgress(value, cell->range.minimum, cell->range.maximum));
  }
  void EnableButton(bool enabled) override {
    buttonEnabled = enabled;
    orderedLog.push_back(enabled ? "on" : "off");
  }
  void SetButtonCaption(const std::string& text) override {
    caption = text;
    orderedLog.push_back("caption " + text);
  }
  void SetTimerInterval(std::uint32_t milliseconds) override {
    timer = milliseconds;
    orderedLog.push_back("timer " + std::to_string(milliseconds));
  }

  std::string Text(int row, int column) const { return rows.at(row - 1).at(column).text; }
  bool SameCells(const FakeGrid& other) const {
    if (rows.size() != other.rows.size()) return false;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      for (std::size_t c = 0; c < 8; ++c) {
        if (rows[r][c].text != other.rows[r][c].text || rows[r][c].progress != other.rows[r][c].progress) return false;
      }
    }
    return true;
  }

 private:
  Cell* At(int row, int column) {
    if (row < 1 || row > RowCount() || column < 0 || column >= 8) return nullptr;
    return &rows[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(column)];
  }
};

std::atomic<int> wakes{0};
std::atomic<bool> wakeSucceeds{true};
bool CountingWake() {
  wakes.fetch_add(1);
  return wakeSucceeds.load();
}

class PendingWindowChangesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wakes.store(0);
    wakeSucceeds.store(true);
    changes.Open();
  }
  PendingWindowChanges changes{CountingWake};
  FakeGrid grid;
};

TEST_F(PendingWindowChangesTest, OneVisitAppliesEveryKindOfChange) {
  ProgressCellSpec overfull;
  overfull.value = 150;
  changes.EnableButton(false);
  changes.InsertRow(1, "1");
  changes.InsertRow(99, "3");
  changes.InsertRow(2, "2");
  changes.SetCellText(1, 1, "\\Bin\\App.exe");
  changes.MakeProgressCell(1, 2, overfull);
  changes.MakeProgressCell(2, 2, ProgressCellSpec{});
  changes.SetProgressValue(2, 2, 57);
  changes.SetProgressValue(3, 3, 57);  // not a progress cell: ignored
  changes.SetCellText(3, 2, "text");
  changes.SetCellText(9, 1, "no such row");
  changes.SetCellText(1, 8, "no such column");
  changes.SetButtonCaption("caption");
  changes.SetTimerInterval(500);
  changes.SetTimerInterval(0);
  changes.EnableButton(true);
  EXPECT_EQ(wakes.load(), 1) << "woken once for the whole batch";

  EXPECT_GT(changes.Apply(grid), 0u);
  EXPECT_EQ(grid.orderedLog,
            (std::vector<std::string>{"off", "row 1", "row 3", "row 2", "caption caption", "timer 500", "timer 0", "on"}));
  EXPECT_EQ(grid.Text(1, 0), "1");
  EXPECT_EQ(grid.Text(2, 0), "2");
  EXPECT_EQ(grid.Text(3, 0), "3");
  EXPECT_EQ(grid.Text(1, 1), "\\Bin\\App.exe");
  EXPECT_EQ(grid.Text(1, 2), "100");
  EXPECT_EQ(grid.Text(2, 2), "57");
  EXPECT_EQ(grid.Text(3, 2), "text");
  EXPECT_EQ(grid.Text(3, 3), "");
  EXPECT_EQ(changes.Apply(grid), 0u) << "nothing left";
}

TEST_F(PendingWindowChangesTest, AThousandReportsBetweenTwoVisitsArriveAsOne) {
  changes.InsertRow(1, "1");
  changes.MakeProgressCell(1, 2, ProgressCellSpec{});
  changes.Apply(grid);
  const int writesBefore = grid.cellWrites;
  wakes.store(0);
  for (int value = 0; value <= 1000; ++value) {
    changes.SetProgressValue(1, 2, value / 10);
    changes.SetCellText(1, 7, "status " + std::to_string(value));
  }
  EXPECT_EQ(wakes.load(), 1);
  EXPECT_EQ(changes.Apply(grid), 1u) << "one row";
  EXPECT_EQ(grid.cellWrites - writesBefore, 2);
  EXPECT_EQ(grid.Text(1, 2), "100");
  EXPECT_EQ(grid.Text(1, 7), "status 1000");
}

TEST_F(PendingWindowChangesTest, CellChangesWaitForTheirRow) {
  changes.SetCellText(2, 7, "early");
  changes.InsertRow(1, "1");
  changes.Apply(grid);
  EXPECT_EQ(grid.RowCount(), 1);
  changes.InsertRow(2, "2");
  changes.Apply(grid);
  EXPECT_EQ(grid.Text(2, 7), "early");
}

TEST_F(PendingWindowChangesTest, AnOrderThatMattersWithinACellIsKept) {
  changes.InsertRow(1, "1");
  changes.Apply(grid);
  // A text and then a value on a plain cell: the value is ignored, the text stays.
  changes.SetCellText(1, 3, "speed");
  changes.SetProgressValue(1, 3, 5);
  // A value on a cell that becomes a progress cell afterwards: the new cell's value wins.
  changes.SetProgressValue(1, 2, 80);
  ProgressCellSpec progressCell;
  progressCell.value = 10;
  changes.MakeProgressCell(1, 2, progressCell);
  // A text on a cell before it becomes a progress cell, then a value.
  changes.SetCellText(1, 4, "size");
  changes.MakeProgressCell(1, 4, ProgressCellSpec{});
  changes.SetProgressValue(1, 4, 42);
  changes.Apply(grid);
  EXPECT_EQ(grid.Text(1, 3), "speed");
  EXPECT_EQ(grid.Text(1, 2), "10");
  EXPECT_EQ(grid.Text(1, 4), "42");
}

// A window may put off cells after a wake-up; a button or timer change must still reach it.
TEST_F(PendingWindowChangesTest, AButtonOrTimerChangeWakesTheWindowAgainWhileCellsWait) {
  changes.InsertRow(1, "1");
  changes.Apply(grid);
  wakes.store(0);
  changes.SetCellText(1, 7, "a");
  EXPECT_FALSE(changes.OrderedChangesPending());
  changes.EnableButton(false);
  changes.SetTimerInterval(0);
  changes.SetCellText(1, 7, "b");
  EXPECT_EQ(wakes.load(), 2) << "one wake-up for the cells, one more for the button and the timer";
  EXPECT_TRUE(changes.OrderedChangesPending());
  changes.Apply(grid);
  EXPECT_FALSE(changes.OrderedChangesPending());
  changes.SetTimerInterval(500);
  EXPECT_EQ(wakes.load(), 3);
}

TEST_F(PendingWindowChangesTest, ChangesWhileClosedAreDroppedAndAFailedWakeIsTriedAgain) {
  changes.Close();
  changes.InsertRow(1, "1");
  changes.EnableButton(false);
  EXPECT_EQ(wakes.load(), 0);
  changes.Open();
  EXPECT_EQ(changes.Apply(grid), 0u);

  wakeSucceeds.store(false);
  changes.InsertRow(1, "1");
  changes.InsertRow(2, "2");
  EXPECT_EQ(wakes.load(), 2) << "each change tries again while no wake-up got through";
  wakeSucceeds.store(true);
  changes.SetCellText(1, 1, "x");
  changes.SetCellText(2, 1, "y");
  EXPECT_EQ(wakes.load(), 3);
  changes.Apply(grid);
  EXPECT_EQ(grid.RowCount(), 2);
  EXPECT_EQ(grid.Text(2, 1), "y");

  // Left over from a window that went: dropped when the next one opens.
  changes.SetCellText(1, 1, "stale");
  changes.InsertRow(3, "3");
  changes.Open();
  changes.Apply(grid);
  EXPECT_EQ(grid.RowCount(), 2);
  EXPECT_EQ(grid.Text(1, 1), "x");
}

// Any sequence of changes to existing rows, with visits of the window at any points between them,
// ends in the state that applying the changes directly gives. (A change to a row that does not
// exist yet is kept for it, where applying it directly would drop it.)
TEST_F(PendingWindowChangesTest, RandomSequencesWithRandomVisitsEndInTheDirectResult) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 200; ++round) {
    FakeGrid direct, viaChanges;
    changes.Open();
    int rows = 0;
    for (int step = 0; step < 300; ++step) {
      const int row = 1 + static_cast<int>(random() % static_cast<unsigned>(std::max(rows, 1)));
      const int column = static_cast<int>(random() % 8);
      switch (random() % 8) {
        case 0:
          if (rows < 5) {
            ++rows;
            direct.InsertRow(rows, std::to_string(rows));
            changes.InsertRow(rows, std::to_string(rows));
          }
          break;
        case 1: {
          if (rows == 0) break;
          ProgressCellSpec progressCell;
          progressCell.value = static_cast<std::int32_t>(random() % 120);
          direct.MakeProgressCell(row, column, progressCell);
          changes.MakeProgressCell(row, column, progressCell);
          break;
        }
        case 2:
        case 3: {
          if (rows == 0) break;
          const std::int32_t value = static_cast<std::int32_t>(random() % 120) - 10;
          direct.SetProgressValue(row, column, value);
          changes.SetProgressValue(row, column, value);
          break;
        }
        default: {
          if (rows == 0) break;
          const std::string text = (random() % 2 ? "t" : "") + std::to_string(random() % 100);
          direct.SetCellText(row, column, text);
          changes.SetCellText(row, column, text);
          break;
        }
      }
      if (random() % 7 == 0) changes.Apply(viaChanges);
    }
    changes.Apply(viaChanges);
    ASSERT_TRUE(direct.SameCells(viaChanges)) << "round " << round;
  }
}

TEST_F(PendingWindowChangesTest, WritersOnManyThreadsNeverWaitAndTheFinalStateArrives) {
  constexpr int kWriters = 4;
  constexpr int kReports = 20000;
  for (int row = 1; row <= kWriters; ++row) {
    changes.InsertRow(row, std::to_string(row));
    changes.MakeProgressCell(row, 2, ProgressCellSpec{});
  }
  std::atomic<bool> writing{true};
  std::thread window([&] {
    while (writing.load()) changes.Apply(grid);
  });
  std::vector<std::thread> writers;
  for (int row = 1; row <= kWriters; ++row) {
    writers.emplace_back([&, row] {
      for (int report = 1; report <= kReports; ++report) {
        changes.SetProgressValue(row, 2, report * 100 / kReports);
        changes.SetCellText(row, 5, std::to_string(report));
      }
      changes.SetCellText(row, 7, "done");
    });
  }
  for (std::thread& writer : writers) writer.join();
  writing.store(false);
  window.join();
  changes.Apply(grid);
  for (int row = 1; row <= kWriters; ++row) {
    EXPECT_EQ(grid.Text(row, 2), "100");
    EXPECT_EQ(grid.Text(row, 5), std::to_string(kReports));
    EXPECT_EQ(grid.Text(row, 7), "done");
  }
  EXPECT_LT(grid.cellWrites, kWriters * kReports * 2) << "reports were coalesced";
}

TEST_F(PendingWindowChangesTest, TwentyThousandRowsAllArrive) {
  for (int row = 1; row <= 20000; ++row) {
    changes.InsertRow(row, std::to_string(row));
    changes.SetCellText(row, 7, "ready");
  }
  changes.EnableButton(true);
  EXPECT_EQ(wakes.load(), 1);
  changes.Apply(grid);
  ASSERT_EQ(grid.RowCount(), 20000);
  EXPECT_EQ(grid.Text(20000, 0), "20000");
  EXPECT_EQ(grid.Text(20000, 7), "ready");
  EXPECT_EQ(grid.orderedLog.back(), "on");
}

}  // namespace
}  // namespace velmora::platform
