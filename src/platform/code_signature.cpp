#include "platform/code_signature.h"

#include <atomic>

namespace velmora::platform {
namespace {

std::atomic<CodeSignatureReader> replacement{nullptr};

}  // namespace

CodeSignature ReadCodeSignature(const std::string& path) {
  if (const CodeSignatureReader reader = replacement.load()) return reader(path);
  return PlatformReadCodeSignature(path);
}

void ReplaceCodeSignatureReader(CodeSignatureReader reader) { replacement.store(reader); }

}  // namespace velmora::platform
