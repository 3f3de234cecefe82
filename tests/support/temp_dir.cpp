#include "support/temp_dir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>

#include "text/encoding.h"

namespace velmora::testing {
namespace {

std::string UniqueName() {
  static std::atomic<int> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return "velmora-test-" + std::to_string(now) + "-" + std::to_string(counter++);
}

}  // namespace

std::filesystem::path PathFromNarrow(const std::string& narrow) {
  std::u16string wide = text::NarrowToWide(narrow, text::NarrowCodePage);
  std::replace(wide.begin(), wide.end(), u'\\', u'/');
  return std::filesystem::path(wide).make_preferred();
}

TempDir::TempDir() : path_(std::filesystem::temp_directory_path() / UniqueName()) {
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Narrow() const {
  const std::u16string wide = path_.u16string();
  return text::WideToNarrow(wide, text::NarrowCodePage);
}

std::string TempDir::NarrowPath(const std::string& relative) const { return Narrow() + "\\" + relative; }

std::string TempDir::WriteFile(const std::string& relative, const std::string& bytes) const {
  const std::string narrow = NarrowPath(relative);
  const std::filesystem::path target = PathFromNarrow(narrow);
  std::filesystem::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write test file");
  return narrow;
}

}  // namespace velmora::testing
