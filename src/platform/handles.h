// Opaque handles of the platform's objects, so that portable code can keep them without seeing a
// platform header. 0 always means "none".
#pragma once

#include <cstdint>

namespace velmora::platform {

// A top-level or child window (an HWND on Windows).
using WindowHandle = std::uintptr_t;

// A thread started by the program (a thread HANDLE on Windows, kept open until the process ends).
using ThreadHandle = std::uintptr_t;

}  // namespace velmora::platform
