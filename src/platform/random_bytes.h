// Unpredictable bytes from the system's generator (BCryptGenRandom on Windows, getrandom on Linux),
// for identifiers that must differ between runs and machines.
#pragma once

#include <cstddef>

namespace velmora::platform {

// Fills `size` bytes; false when the system's generator failed (the bytes are then unspecified).
// Thread-safe.
bool FillRandomBytes(void* buffer, std::size_t size);

}  // namespace velmora::platform
