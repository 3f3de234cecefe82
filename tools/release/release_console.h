// Where the publisher's tool writes: standard output (results, and a manifest without --out) and
// standard error (errors and the progress line). Tests capture both.
#pragma once

#include <string>
#include <string_view>

namespace velmora::release {

class ReleaseConsole {
 public:
  virtual ~ReleaseConsole() = default;
  virtual void Out(std::string_view bytes) = 0;
  virtual void Err(std::string_view bytes) = 0;
};

// A console that keeps what was written (tests).
class CapturedConsole final : public ReleaseConsole {
 public:
  void Out(std::string_view bytes) override { out.append(bytes); }
  void Err(std::string_view bytes) override { err.append(bytes); }
  std::string out;
  std::string err;
};

}  // namespace velmora::release
