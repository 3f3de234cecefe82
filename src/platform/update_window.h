// The operations that the program's logic performs on the update window: its grid (rows, cell
// texts, progress cells), its start button and its timer.
//
// Rows are numbered as the grid shows them: row 0 is the header, data rows start at 1. Columns
// are 0-based. Texts are GBK.
//
// Every operation may be called from any thread. The window's own thread owns the window; the
// real implementation only posts each change to that thread and returns at once, without taking a
// lock, so a thread that is killed at any point can neither leave a lock held nor hang the window.
// Changes posted by one thread are applied in the order they were made. Operations made while no
// window exists (before it is created, after it is gone) are dropped. Nothing is reported back:
// the program ignores failed grid operations.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::platform {

// 0xFF000000 stands for the grid's default colour; other values are 0x00BBGGRR (a COLORREF).
inline constexpr std::uint32_t kDefaultColour = 0xFF000000;

constexpr std::uint32_t Rgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<std::uint32_t>(red) | (static_cast<std::uint32_t>(green) << 8) |
         (static_cast<std::uint32_t>(blue) << 16);
}

// The attributes with which a grid cell becomes a progress bar.
struct ProgressCellSpec {
  std::int32_t reserved = 0;
  std::int32_t value = 0;
  std::int32_t minimum = 0;
  std::int32_t maximum = 100;
  std::uint32_t backgroundColour = kDefaultColour;  // the cell behind the bar
  std::uint32_t frameColour = kDefaultColour;       // the bar's outline
  std::uint32_t barColour = Rgb(135, 210, 0);       // the filled part
  std::uint32_t trackColour = kDefaultColour;       // the part not yet filled
};

class UpdateWindow {
 public:
  virtual ~UpdateWindow() = default;

  // Inserts a row at `position`, or appends it when the position is at or past the end (a position
  // below 1 inserts before the first data row). Its column 0 shows `firstCellText`.
  virtual void InsertRow(int position, const std::string& firstCellText) = 0;
  // The cell shows `text`. On a progress cell the text is taken as its value.
  virtual void SetCellText(int row, int column, const std::string& text) = 0;
  // The cell becomes a progress bar with the given value (clamped), range and colours.
  virtual void MakeProgressCell(int row, int column, const ProgressCellSpec& cellSpec) = 0;
  // The progress cell's value, clamped into its range; ignored on cells that are not progress cells.
  virtual void SetProgressValue(int row, int column, std::int32_t value) = 0;
  // A disabled button ignores clicks.
  virtual void EnableButton(bool enabled) = 0;
  virtual void SetButtonCaption(const std::string& caption) = 0;
  // Ticks every `milliseconds` on the window's thread; 0 stops the timer.
  virtual void SetTimerInterval(std::uint32_t milliseconds) = 0;
};

// The update window's operations: the platform's own (posting to the window's thread on
// Windows; doing nothing in the POSIX layer, which has no window) unless a test has replaced it.
// Thread-safe.
UpdateWindow& CurrentUpdateWindow();

// Tests: makes CurrentUpdateWindow return `window` (not owned; it must outlive its use), or the
// platform's own again when `window` is null. Thread-safe.
void ReplaceUpdateWindow(UpdateWindow* window);

// The platform layer's own implementation (the one CurrentUpdateWindow returns by default).
UpdateWindow& PlatformUpdateWindow();

}  // namespace velmora::platform
