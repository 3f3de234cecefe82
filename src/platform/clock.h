// The system's millisecond tick count (GetTickCount on Windows): wraps around after about 49.7
// days, so differences are taken in 32-bit unsigned arithmetic.
#pragma once

#include <cstdint>

namespace velmora::platform {

// Milliseconds since the system started, modulo 2^32, unless a test has replaced the clock.
// Thread-safe.
std::uint32_t TickCount();

// Tests: `clock` answers TickCount from now on; null restores the system's. Thread-safe.
using TickSource = std::uint32_t (*)();
void ReplaceTickCount(TickSource clock);

// The system's own tick count.
std::uint32_t SystemTickCount();

}  // namespace velmora::platform
