#include "private_key_file.h"

#include <cerrno>
#include <cstdint>

#include "platform/directory_walk.h"
#include "platform/file.h"
#include "pem_private_key.h"
#include "release_files.h"
#include "text/encoding.h"
#include "update/manifest_signature.h"

// The key file is created with an owner-only mode and without replacing anything in one call,
// which the platform layer's OutputFile does not offer; the C runtime's open does on both systems.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velmora::release {
namespace {

constexpr char kNewSuffix[] = ".velmora-new";
constexpr std::int64_t kLongestKeyFile = 4096;  // a key file is about 170 bytes

std::string Shown(const std::string& gbkPath) { return text::NarrowToUtf8(gbkPath); }

// An open C runtime file descriptor, closed when it goes.
class KeyFileDescriptor {
 public:
  // Creates the file; fails with errno EEXIST when something is already there.
  explicit KeyFileDescriptor(const std::string& path) {
#ifdef _WIN32
    const std::u16string wide = text::NarrowToWide(platform::NativePathUtf8(path), text::Utf8CodePage);
    descriptor_ = _wopen(reinterpret_cast<const wchar_t*>(wide.c_str()), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                         _S_IREAD | _S_IWRITE);
#else
    descriptor_ = open(platform::NativePathUtf8(path).c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
#endif
  }
  ~KeyFileDescriptor() { Close(); }
  KeyFileDescriptor(const KeyFileDescriptor&) = delete;
  KeyFileDescriptor& operator=(const KeyFileDescriptor&) = delete;

  bool IsOpen() const { return descriptor_ >= 0; }

  // Writes every byte and makes them reach the disk.
  bool WriteAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
#ifdef _WIN32
      const int wrote = _write(descriptor_, bytes.data() + done, static_cast<unsigned>(bytes.size() - done));
#else
      const ssize_t wrote = write(descriptor_, bytes.data() + done, bytes.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
#endif
      if (wrote <= 0) return false;
      done += static_cast<std::size_t>(wrote);
    }
#ifdef _WIN32
    return _commit(descriptor_) == 0;
#else
    return fsync(descriptor_) == 0;
#endif
  }

  bool Close() {
    if (descriptor_ < 0) return true;
#ifdef _WIN32
    const bool closed = _close(descriptor_) == 0;
#else
    const bool closed = close(descriptor_) == 0;
#endif
    descriptor_ = -1;
    return closed;
  }

 private:
  int descriptor_ = -1;
};

// Creates `path` afresh with `text`; EEXIST in `exists` when something was already there.
bool CreateKeyFile(const std::string& path, const std::string& text, bool& exists, std::string& error) {
  KeyFileDescriptor file(path);
  if (!file.IsOpen()) {
    exists = errno == EEXIST;
    error = "cannot create " + Shown(path);
    return false;
  }
  if (!file.WriteAll(text) || !file.Close()) {
    platform::RemoveFile(path);
    error = "cannot write " + Shown(path) + " (is the disk full?)";
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> ReadPrivateKeyFile(const std::string& path, const std::string& shownPath,
                                              std::string& error) {
  const std::int64_t length = platform::FileLength(path);
  std::string bytes;
  if (length < 0 || platform::FolderExists(path)) {
    error = "no such key file: " + shownPath;
    return std::nullopt;
  }
  if (length > kLongestKeyFile || !ReadWholeFile(path, bytes)) {
    error = length > kLongestKeyFile ? shownPath + " is not a private key file (it is far too long)"
                                     : "cannot read the key file " + shownPath;
    return std::nullopt;
  }
  if (LooksLikePem(bytes)) {
    std::string why;
    std::optional<std::string> key = PrivateKeyFromPem(bytes, why);
    if (!key) error = shownPath + " is not a key the tool can sign with: " + why;
    return key;
  }
  std::optional<std::string> key = update::PrivateKeyFromText(bytes);
  if (!key) {
    error = update::PublicKeyFromText(bytes)
                ? shownPath + " holds a public key; signing needs the private key file that keygen wrote"
                : shownPath + " is not a private key file (one line: \"" + update::kPrivateKeyLabel +
                      "\" and the Base64 of 96 bytes, as velmora-release keygen writes it)";
  }
  return key;
}

KeyFileWrite WritePrivateKeyFile(const std::string& path, const std::string& text, bool replace, std::string& error) {
  bool exists = false;
  if (!replace) {
    if (CreateKeyFile(path, text, exists, error)) return KeyFileWrite::Written;
    return exists ? KeyFileWrite::Exists : KeyFileWrite::Failed;
  }
  const std::string staged = path + kNewSuffix;
  platform::RemoveFile(staged);  // left by an earlier run that was cut short
  if (!CreateKeyFile(staged, text, exists, error)) return KeyFileWrite::Failed;
  if (!platform::MoveFileReplacing(staged, path)) {
    platform::RemoveFile(staged);
    error = "cannot put " + Shown(staged) + " in the place of " + Shown(path);
    return KeyFileWrite::Failed;
  }
  return KeyFileWrite::Written;
}

}  // namespace velmora::release
