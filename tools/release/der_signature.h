// A signature made elsewhere (an HSM, `openssl dgst -sha256 -sign key.pem -out sig.der`): ECDSA
// in DER, SEQUENCE { INTEGER r, INTEGER s }, turned into the 64 bytes r then s that the updater
// checks (platform/signature.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora::release {

// The 64-byte signature of a DER ECDSA signature on P-256; nothing when `der` is not one.
std::optional<std::string> RawSignatureFromDer(std::string_view der);

}  // namespace velmora::release
