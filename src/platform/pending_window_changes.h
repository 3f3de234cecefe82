// The update window's changes on their way from any thread to the window's thread: lossless,
// coalescing, and without a lock.
//
// Writers (the update check, the download workers) call the UpdateWindow operations from any
// thread; nothing they do waits for the window or takes a lock, so a thread killed at any point
// cannot leave the window blocked. The window's thread calls Apply whenever it is woken, and also
// now and then on its own (a periodic tick), which brings everything pending to the grid.
//
// How changes travel:
// - Row insertions, the button and the timer are kept in order, every one of them: a lock-free
//   list that the window's thread takes whole.
// - Cell texts, progress values and progress cells are kept as each cell's latest pending change:
//   a cell written a thousand times between two visits of the window's thread is applied once,
//   with the result that applying all thousand in order would have had. Each row is queued at
//   most once until the window has taken its cells, and the window is woken at most once until it
//   has applied what it was woken for, so a fast download cannot flood the window's message queue
//   (which holds at most 10,000 posted messages on Windows).
// - Insertions, button and timer changes wake the window even while a wake-up for cells is
//   pending (at most one more until the next Apply), so that a window that puts off applying
//   cells (see OrderedChangesPending) still applies them at its next message: a disabled button
//   or a stopped timer takes effect before the next click or tick.
// - Within one row the window applies its cells in column order, so one progress report (columns
//   2 to 7) appears in the order it was written. Insertions, button and timer changes of one
//   visit are applied before its cell changes; cell changes of rows that do not exist yet wait
//   until their row has been inserted. Cells are addressed by row number when they are applied,
//   so a row inserted before other rows shifts changes that are still pending for those rows.
//
// Costs: a text or a progress cell allocates one small object (a progress value nothing); rows are kept in blocks of 1024 that stay
// until the object goes. Rows above kMaxRows and columns at or above kMaxColumns are dropped.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/update_window.h"

namespace velmora::platform {

// What the window's thread applies the changes to (the real grid, button and timer; fakes in tests):
// the window's operations, applied at once, and the number of rows the grid has.
class WindowChangeTarget : public UpdateWindow {
 public:
  virtual int RowCount() const = 0;
};

class PendingWindowChanges final : public UpdateWindow {
 public:
  static constexpr int kMaxColumns = 8;
  static constexpr int kRowsPerBlock = 1024;
  static constexpr int kMaxBlocks = 16384;
  static constexpr int kMaxRows = kRowsPerBlock * kMaxBlocks;

  // `wake` asks the window's thread to call Apply soon (posts a message); it returns false when it
  // could not, and is then tried again with the next change. Called on the writing threads.
  using WakeFunction = bool (*)();
  explicit PendingWindowChanges(WakeFunction wake);
  ~PendingWindowChanges() override;
  PendingWindowChanges(const PendingWindowChanges&) = delete;
  PendingWindowChanges& operator=(const PendingWindowChanges&) = delete;

  // The window's thread, when the window exists: changes are kept from now on; anything left over
  // from an earlier window is dropped.
  void Open();
  // The window's thread, when the window goes: changes are dropped from now on.
  void Close();

  // UpdateWindow: any thread; dropped while closed.
  void InsertRow(int position, const std::string& firstCellText) override;
  void SetCellText(int row, int column, const std::string& text) override;
  void MakeProgressCell(int row, int column, const ProgressCellSpec& cellSpec) override;
  void SetProgressValue(int row, int column, std::int32_t value) override;
  void EnableButton(bool enabled) override;
  void SetButtonCaption(const std::string& caption) override;
  void SetTimerInterval(std::uint32_t milliseconds) override;

  // Any thread: whether insertions, button or timer changes wait to be applied.
  bool OrderedChangesPending() const { return ordered_.load() != nullptr; }

  // The window's thread: applies everything pending to `target`. Returns the number of
  // insertions, button and timer changes and rows applied (0 when there was nothing to do).
  std::size_t Apply(WindowChangeTarget& target);

 private:
  // A cell's pending changes: its latest text, its latest progress value (the text and the value
  // each stamped with a sequence number, so that the window applies them in the order in which
  // they were made) and the latest progress cell made of it, which comes with a value of its own.
  // A value travels inside one 64-bit word (stamp and value; 0: none), so reporting progress
  // allocates nothing and a thread killed while reporting cannot be holding the heap's lock.
  struct TextChange {
    std::uint32_t stamp = 0;
    std::string text;
  };
  struct ProgressCellChange {
    ProgressCellSpec cellSpec;
  };
  struct CellSlots {
    std::atomic<TextChange*> text{nullptr};
    std::atomic<std::uint64_t> value{0};
    std::atomic<ProgressCellChange*> progressCell{nullptr};
  };
  struct RowSlots {
    int row = 0;
    std::atomic<bool> queued{false};
    std::atomic<RowSlots*> nextQueued{nullptr};
    std::array<CellSlots, kMaxColumns> cells;
  };
  struct RowBlock {
    std::array<RowSlots, kRowsPerBlock> rows;
  };
  enum class OrderedKind { InsertRow, EnableButton, ButtonCaption, TimerInterval };
  struct OrderedChange {
    OrderedKind kind = OrderedKind::InsertRow;
    int number = 0;  // the row position, 1/0 for the button, the timer's milliseconds
    std::string text;
    OrderedChange* next = nullptr;
  };

  bool Accepting() const { return accepting_.load(std::memory_order_acquire); }
  RowSlots* Row(int row);  // creates its block on first use; null when out of range
  CellSlots* Cell(int row, int column, RowSlots*& slots);  // null when dropped
  std::uint32_t NextStamp();
  void PublishValue(int row, int column, std::int32_t value);
  void QueueRow(RowSlots& slots);
  void PushOrdered(std::unique_ptr<OrderedChange> change);
  void Wake();
  void ApplyRow(RowSlots& slots, WindowChangeTarget* target);
  void ApplyWaitingRows(WindowChangeTarget& target);
  void DropEverything();

  WakeFunction wake_;
  std::atomic<bool> accepting_{false};
  std::atomic<bool> wakePending_{false};
  std::atomic<bool> orderedWakePending_{false};
  std::atomic<std::uint32_t> stamps_{0};
  std::atomic<OrderedChange*> ordered_{nullptr};
  std::atomic<RowSlots*> queuedRows_{nullptr};
  std::unique_ptr<std::atomic<RowBlock*>[]> blocks_;
  // The window's thread only: rows with pending cells that did not exist yet when last applied.
  std::vector<RowSlots*> waitingRows_;
};

}  // namespace velmora::platform
