#include <windows.h>

#include <bcrypt.h>

#include "platform/random_bytes.h"

namespace velmora::platform {

bool FillRandomBytes(void* buffer, std::size_t size) {
  return BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer), static_cast<ULONG>(size),
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

}  // namespace velmora::platform
