#include "update/channel_name.h"

namespace velmora::update {
namespace {

constexpr std::size_t kLongestChannelName = 16;

bool IsLowerLetter(char c) { return c >= 'a' && c <= 'z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IsChannelName(const std::string& name) {
  if (name.empty() || name.size() > kLongestChannelName) return false;
  if (!IsLowerLetter(name.front())) return false;
  for (char c : name) {
    if (!IsLowerLetter(c) && !IsDigit(c)) return false;
  }
  return true;
}

}  // namespace velmora::update
