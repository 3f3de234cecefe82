#include "release_files.h"

#include <memory>
#include <string_view>

#include "platform/directory_walk.h"
#include "platform/file.h"
#include "platform/hash.h"
#include "release_text.h"
#include "text/encoding.h"
#include "update/fingerprint.h"

namespace velmora::release {
namespace {

constexpr std::size_t kPieceSize = 1 << 20;

std::string Shown(const std::string& gbkPath) { return text::NarrowToUtf8(gbkPath); }

}  // namespace

bool PathArgument(const std::string& utf8, std::string& gbk, std::string& error) {
  if (utf8.empty()) {
    error = "an empty path";
    return false;
  }
  if (!GbkOf(WideOfUtf8(utf8), gbk)) {
    error = "the path \"" + utf8 + "\" holds characters without a GBK (code page 936) form, which the "
            "updater's file functions need; use another folder";
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  platform::InputFile file;
  if (!file.Open(path)) return false;
  bytes.clear();
  const auto piece = std::make_unique<char[]>(kPieceSize);
  for (;;) {
    const std::int64_t got = file.Read(piece.get(), kPieceSize);
    if (got < 0) return false;
    if (got == 0) return true;
    bytes.append(piece.get(), static_cast<std::size_t>(got));
  }
}

bool StageFile(const std::string& path, const std::string& bytes, std::string& error) {
  const std::string staged = path + kStagedSuffix;
  platform::OutputFile file;
  if (!file.Open(staged, platform::OutputFile::Mode::CreateOrTruncate)) {
    error = "cannot create " + Shown(staged);
    return false;
  }
  // Flushed before it can be renamed: a crash must not leave an empty file under the final name.
  const bool written = file.Write(bytes.data(), bytes.size()) && file.Flush();
  file.Close();
  if (!written) {
    platform::RemoveFile(staged);
    error = "cannot write " + Shown(staged) + " (is the disk full?)";
    return false;
  }
  return true;
}

bool ReplaceWithStaged(const std::string& path, std::string& error) {
  const std::string staged = path + kStagedSuffix;
  if (!platform::MoveFileReplacing(staged, path)) {
    platform::RemoveFile(staged);
    error = "cannot put " + Shown(staged) + " in the place of " + Shown(path);
    return false;
  }
  return true;
}

void DiscardStaged(const std::string& path) { platform::RemoveFile(path + kStagedSuffix); }

bool WriteFileReplacing(const std::string& path, const std::string& bytes, std::string& error) {
  return StageFile(path, bytes, error) && ReplaceWithStaged(path, error);
}

bool CreateFolders(const std::string& path) {
  const std::u16string wide = text::NarrowToWide(path, text::NarrowCodePage);
  // Split in UTF-16: a GBK trail byte may be 0x5C, the byte of "\".
  for (std::size_t i = 1; i <= wide.size(); ++i) {
    if (i == wide.size() || wide[i] == u'\\' || wide[i] == u'/') {
      const std::string prefix = text::WideToNarrow(wide.substr(0, i), text::NarrowCodePage);
      if (!platform::FolderExists(prefix)) platform::CreateDirectoryAt(prefix);
    }
  }
  return platform::FolderExists(path);
}

std::string FolderOf(const std::string& path) {
  // Split in UTF-16, as above.
  const std::u16string wide = text::NarrowToWide(path, text::NarrowCodePage);
  const std::size_t slash = wide.find_last_of(u"\\/");
  return slash == std::u16string::npos ? std::string() : text::WideToNarrow(wide.substr(0, slash), text::NarrowCodePage);
}

bool CreateParentFolder(const std::string& path, std::string& error) {
  const std::string folder = FolderOf(path);
  if (folder.empty() || CreateFolders(folder)) return true;
  error = "cannot create the folder " + Shown(folder);
  return false;
}

bool CopyFileChecked(const std::string& from, const std::string& to, const std::string& md5, std::string& error) {
  platform::InputFile source;
  if (!source.Open(from)) {
    error = "cannot open " + Shown(from);
    return false;
  }
  const std::string staged = to + kStagedSuffix;
  platform::OutputFile target;
  if (!target.Open(staged, platform::OutputFile::Mode::CreateOrTruncate)) {
    error = "cannot create " + Shown(staged);
    return false;
  }
  platform::HashComputation hash(update::kCalgMd5);
  const auto piece = std::make_unique<char[]>(kPieceSize);
  bool copied = true;
  for (;;) {
    const std::int64_t got = source.Read(piece.get(), kPieceSize);
    if (got == 0) break;
    const std::string_view bytes(piece.get(), static_cast<std::size_t>(got < 0 ? 0 : got));
    if (got < 0 || !hash.Add(bytes)) {
      error = "cannot read " + Shown(from) + " to its end";
      copied = false;
      break;
    }
    if (!target.Write(bytes.data(), bytes.size())) {
      error = "cannot write " + Shown(staged) + " (is the disk full?)";
      copied = false;
      break;
    }
  }
  target.Close();
  if (copied && update::Md5HexOfDigest(hash.Finish(update::kMd5DigestLength)) != md5) {
    error = Shown(from) + " changed while it was published (its MD5 is no longer " + md5 + ")";
    copied = false;
  }
  if (copied && !platform::MoveFileReplacing(staged, to)) {
    error = "cannot put " + Shown(staged) + " in the place of " + Shown(to);
    copied = false;
  }
  if (!copied) platform::RemoveFile(staged);
  return copied;
}

}  // namespace velmora::release
