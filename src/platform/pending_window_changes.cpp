#include "platform/pending_window_changes.h"

#include <algorithm>

namespace velmora::platform {

PendingWindowChanges::PendingWindowChanges(WakeFunction wake)
    : wake_(wake), blocks_(std::make_unique<std::atomic<RowBlock*>[]>(kMaxBlocks)) {
  for (int block = 0; block < kMaxBlocks; ++block) blocks_[block].store(nullptr);
}

PendingWindowChanges::~PendingWindowChanges() {
  DropEverything();
  for (int block = 0; block < kMaxBlocks; ++block) {
    std::unique_ptr<RowBlock> rows(blocks_[block].exchange(nullptr));
    if (!rows) continue;
    for (RowSlots& slots : rows->rows) ApplyRow(slots, nullptr);
  }
}

void PendingWindowChanges::Open() {
  DropEverything();
  accepting_.store(true);
}

void PendingWindowChanges::Close() {
  accepting_.store(false);
  DropEverything();
}

PendingWindowChanges::RowSlots* PendingWindowChanges::Row(int row) {
  if (row < 1 || row > kMaxRows) return nullptr;
  const int index = row - 1;
  std::atomic<RowBlock*>& block = blocks_[index / kRowsPerBlock];
  RowBlock* rows = block.load();
  if (rows == nullptr) {
    auto fresh = std::make_unique<RowBlock>();
    const int first = index - index % kRowsPerBlock + 1;
    for (int offset = 0; offset < kRowsPerBlock; ++offset) fresh->rows[offset].row = first + offset;
    // Two writers may create the same block; the first one's stays.
    if (block.compare_exchange_strong(rows, fresh.get())) rows = fresh.release();
  }
  return &rows->rows[index % kRowsPerBlock];
}

void PendingWindowChanges::Wake() {
  if (wakePending_.exchange(true)) return;  // the window will come anyway
  if (wake_ == nullptr || !wake_()) wakePending_.store(false);
}

void PendingWindowChanges::QueueRow(RowSlots& slots) {
  if (!slots.queued.exchange(true)) {
    RowSlots* head = queuedRows_.load();
    do {
      slots.nextQueued.store(head);
    } while (!queuedRows_.compare_exchange_weak(head, &slots));
  }
  Wake();
}

void PendingWindowChanges::PushOrdered(std::unique_ptr<OrderedChange> change) {
  if (!Accepting()) return;
  OrderedChange* node = change.release();
  node->next = ordered_.load();
  while (!ordered_.compare_exchange_weak(node->next, node)) {
  }
  // Woken even when a wake-up for cells is pending: the window may be putting that one off.
  if (orderedWakePending_.exchange(true)) return;
  wakePending_.store(true);
  if (wake_ == nullptr || !wake_()) {
    orderedWakePending_.store(false);
    wakePending_.store(false);
  }
}

std::uint32_t PendingWindowChanges::NextStamp() {
  // 0 marks an empty value word, so it is never a stamp.
  std::uint32_t stamp = stamps_.fetch_add(1) + 1;
  while (stamp == 0) stamp = stamps_.fetch_add(1) + 1;
  return stamp;
}

PendingWindowChanges::CellSlots* PendingWindowChanges::Cell(int row, int column, RowSlots*& slots) {
  if (!Accepting() || column < 0 || column >= kMaxColumns) return nullptr;
  slots = Row(row);
  return slots == nullptr ? nullptr : &slots->cells[static_cast<std::size_t>(column)];
}

void PendingWindowChanges::PublishValue(int row, int column, std::int32_t value) {
  RowSlots* slots = nullptr;
  CellSlots* cell = Cell(row, column, slots);
  if (cell == nullptr) return;
  const std::uint64_t word = (static_cast<std::uint64_t>(NextStamp()) << 32) | static_cast<std::uint32_t>(value);
  cell->value.store(word);
  QueueRow(*slots);
}

void PendingWindowChanges::InsertRow(int position, const std::string& firstCellText) {
  auto change = std::make_unique<OrderedChange>();
  change->kind = OrderedKind::InsertRow;
  change->number = position;
  change->text = firstCellText;
  PushOrdered(std::move(change));
}

void PendingWindowChanges::SetCellText(int row, int column, const std::string& text) {
  RowSlots* slots = nullptr;
  CellSlots* cell = Cell(row, column, slots);
  if (cell == nullptr) return;
  auto change = std::make_unique<TextChange>();
  change->text = text;
  change->stamp = NextStamp();
  delete cell->text.exchange(change.release());
  QueueRow(*slots);
}

void PendingWindowChanges::MakeProgressCell(int row, int column, const ProgressCellSpec& cellSpec) {
  RowSlots* slots = nullptr;
  CellSlots* cell = Cell(row, column, slots);
  if (cell == nullptr) return;
  auto change = std::make_unique<ProgressCellChange>();
  change->cellSpec = cellSpec;
  delete cell->progressCell.exchange(change.release());
  // The new cell's value, after any value or text made before it.
  PublishValue(row, column, cellSpec.value);
}

void PendingWindowChanges::SetProgressValue(int row, int column, std::int32_t value) {
  PublishValue(row, column, value);
}

void PendingWindowChanges::EnableButton(bool enabled) {
  auto change = std::make_unique<OrderedChange>();
  change->kind = OrderedKind::EnableButton;
  change->number = enabled ? 1 : 0;
  PushOrdered(std::move(change));
}

void PendingWindowChanges::SetButtonCaption(const std::string& caption) {
  auto change = std::make_unique<OrderedChange>();
  change->kind = OrderedKind::ButtonCaption;
  change->text = caption;
  PushOrdered(std::move(change));
}

void PendingWindowChanges::SetTimerInterval(std::uint32_t milliseconds) {
  auto change = std::make_unique<OrderedChange>();
  change->kind = OrderedKind::TimerInterval;
  change->number = static_cast<int>(milliseconds);
  PushOrdered(std::move(change));
}

void PendingWindowChanges::ApplyRow(RowSlots& slots, WindowChangeTarget* target) {
  for (int column = 0; column < kMaxColumns; ++column) {
    CellSlots& cell = slots.cells[static_cast<std::size_t>(column)];
    // Text and value first: a progress cell made before either of them is then certainly taken
    // with them. One made after them has made a newer value too, which the next visit applies.
    const std::unique_ptr<TextChange> text(cell.text.exchange(nullptr));
    const std::uint64_t valueWord = cell.value.exchange(0);
    const std::unique_ptr<ProgressCellChange> progressCell(cell.progressCell.exchange(nullptr));
    if (target == nullptr) continue;
    if (progressCell) target->MakeProgressCell(slots.row, column, progressCell->cellSpec);
    const auto valueStamp = static_cast<std::uint32_t>(valueWord >> 32);
    const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(valueWord));
    // Stamps are compared as a signed distance, so that their wrapping around does not matter.
    const bool valueLast = valueWord != 0 && (!text || static_cast<std::int32_t>(valueStamp - text->stamp) > 0);
    if (valueWord != 0 && !valueLast) target->SetProgressValue(slots.row, column, value);
    if (text) target->SetCellText(slots.row, column, text->text);
    if (valueLast) target->SetProgressValue(slots.row, column, value);
  }
}

void PendingWindowChanges::ApplyWaitingRows(WindowChangeTarget& target) {
  if (waitingRows_.empty()) return;
  const int rowCount = target.RowCount();
  const auto existing = std::stable_partition(waitingRows_.begin(), waitingRows_.end(),
                                              [rowCount](const RowSlots* slots) { return slots->row > rowCount; });
  for (auto it = existing; it != waitingRows_.end(); ++it) {
    (*it)->queued.store(false);
    ApplyRow(**it, &target);
  }
  waitingRows_.erase(existing, waitingRows_.end());
}

std::size_t PendingWindowChanges::Apply(WindowChangeTarget& target) {
  // Cleared before anything is taken: a change made from here on wakes the window again.
  wakePending_.store(false);
  orderedWakePending_.store(false);
  std::size_t applied = 0;

  OrderedChange* newestFirst = ordered_.exchange(nullptr);
  std::vector<std::unique_ptr<OrderedChange>> ordered;
  for (OrderedChange* node = newestFirst; node != nullptr; node = node->next) ordered.emplace_back(node);
  std::reverse(ordered.begin(), ordered.end());
  for (const auto& change : ordered) {
    switch (change->kind) {
      case OrderedKind::InsertRow: target.InsertRow(change->number, change->text); break;
      case OrderedKind::EnableButton: target.EnableButton(change->number != 0); break;
      case OrderedKind::ButtonCaption: target.SetButtonCaption(change->text); break;
      case OrderedKind::TimerInterval: target.SetTimerInterval(static_cast<std::uint32_t>(change->number)); break;
    }
    ++applied;
  }
  const std::size_t waitingBefore = waitingRows_.size();
  ApplyWaitingRows(target);
  applied += waitingBefore - waitingRows_.size();

  std::vector<RowSlots*> rows;
  for (RowSlots* slots = queuedRows_.exchange(nullptr); slots != nullptr; slots = slots->nextQueued.load()) {
    rows.push_back(slots);
  }
  const int rowCount = target.RowCount();
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    RowSlots& slots = **it;
    if (slots.row > rowCount) {
      waitingRows_.push_back(&slots);  // stays queued until its row exists
      continue;
    }
    slots.queued.store(false);  // a later change queues the row again
    ApplyRow(slots, &target);
    ++applied;
  }
  return applied;
}

void PendingWindowChanges::DropEverything() {
  wakePending_.store(false);
  orderedWakePending_.store(false);
  for (OrderedChange* node = ordered_.exchange(nullptr); node != nullptr;) {
    std::unique_ptr<OrderedChange> change(node);
    node = node->next;
  }
  for (RowSlots* slots = queuedRows_.exchange(nullptr); slots != nullptr;) {
    RowSlots* next = slots->nextQueued.load();
    slots->queued.store(false);
    ApplyRow(*slots, nullptr);
    slots = next;
  }
  for (RowSlots* slots : waitingRows_) {
    slots->queued.store(false);
    ApplyRow(*slots, nullptr);
  }
  waitingRows_.clear();
}

}  // namespace velmora::platform
