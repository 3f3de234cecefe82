// A scratch directory for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>

namespace velmora::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The directory as the program's GBK path text.
  std::string Narrow() const;
  // `relative` (GBK, "\" separators) below the directory, as GBK path text: Narrow() + "\" + relative.
  std::string NarrowPath(const std::string& relative) const;
  // Writes `bytes` to the file `relative` (GBK), creating missing directories; returns its path text.
  std::string WriteFile(const std::string& relative, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

// A std::filesystem path for the program's GBK path text ("\" and "/" both separate).
std::filesystem::path PathFromNarrow(const std::string& narrow);

}  // namespace velmora::testing
