// The program's one window: a grid with typed cells over a strip holding a full-width button, and
// a timer. The portable code describes the window (WindowDesign) and handles its events
// (WindowEvents); the platform layer creates it, runs it modally and applies the changes that
// platform/update_window.h posts to it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/handles.h"

namespace velmora::platform {

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

enum class ColumnAlignment { Left, Centre, Right };

// A width of 0 keeps the column (it receives its values) but it takes no space; kRestWidth takes
// what the other columns leave of the grid's client area.
inline constexpr int kRestWidth = -1;

struct GridColumn {
  std::string header;  // GBK
  ColumnAlignment alignment = ColumnAlignment::Left;
  int width = 60;
};

struct FontSpec {
  std::string face;  // GBK
  int height = 0;    // character height as a font height: negative, in pixels
  int weight = 400;
  std::uint8_t charset = 0;
};

inline constexpr std::uint8_t kGb2312Charset = 134;  // GB2312_CHARSET

// Sizes in pixels; positions relative to the container (the window's client area, or the strip
// for the button).
struct WindowDesign {
  std::string caption;  // GBK
  int width = 0;        // outer size; the window opens centred on the screen
  int height = 0;
  Rect grid;
  std::vector<GridColumn> columns;
  int rowHeight = 24;
  Rect strip;
  Rect button;  // inside the strip
  std::string buttonCaption;
  FontSpec font;  // the button's font, also used by the grid
  std::uint32_t timerInterval = 0;  // 0: stopped
};

// Called on the window's thread. `created` receives the window's handle once the window and its
// components exist; `destroying` runs when the window is about to be destroyed. Any may be empty.
struct WindowEvents {
  std::function<void(WindowHandle)> created;
  // The user closes the window (close box, Alt+F4, Escape). The window goes once the event that is
  // being handled (a click handler still waiting, say) has returned; this runs at once.
  std::function<void()> closing;
  std::function<void()> destroying;
  std::function<void()> buttonClicked;
  std::function<void()> timerTick;
};

// Creates the window without a parent, centred on the screen, and runs it modally on the calling
// thread; returns when it has been closed. While it is open, platform::PlatformUpdateWindow()
// applies its operations to it. False when the window could not be created (the POSIX layer has
// no windows and always returns false without calling any event).
bool ShowModalWindow(const WindowDesign& design, const WindowEvents& events);

// Grid rules shared by every platform (portable, in window.cpp).

// The pixel width of each column: fixed widths unchanged, kRestWidth columns share what the fixed
// ones leave of `clientWidth` (never less than 0; the first of them takes any odd pixel).
std::vector<int> ResolveColumnWidths(const std::vector<GridColumn>& columns, int clientWidth);

// `value` clamped into [minimum, maximum]; a range given upside down is read the right way round.
std::int32_t ClampProgress(std::int32_t value, std::int32_t minimum, std::int32_t maximum);

// The value a progress cell shows for its item text: the leading decimal integer, clamped; text
// without one gives the minimum.
std::int32_t ProgressFromText(const std::string& text, std::int32_t minimum, std::int32_t maximum);

// The top-left corner that centres a window of `width` x `height` on a screen of the given size.
Rect CentredOnScreen(int width, int height, int screenWidth, int screenHeight);

}  // namespace velmora::platform
