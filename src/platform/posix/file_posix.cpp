#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/file.h>
#include <sys/stat.h>

#include "platform/file.h"
#include "platform/posix/native_path.h"
#include "text/encoding.h"

namespace velmora::platform {

namespace posix {

std::string NativePath(const std::string& path) {
  std::string native = text::NarrowToUtf8(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

}  // namespace posix

std::string NativePathUtf8(const std::string& path) { return posix::NativePath(path); }

bool RemoveFile(const std::string& path) {
  const std::string native = posix::NativePath(path);
  return !native.empty() && ::unlink(native.c_str()) == 0;
}

struct InputFile::State {
  int descriptor = -1;
  bool notFound = false;
};

InputFile::InputFile() : state_(std::make_unique<State>()) {}
InputFile::~InputFile() { Close(); }
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile& InputFile::operator=(InputFile&&) noexcept = default;

bool InputFile::Open(const std::string& path) {
  Close();
  if (!state_) state_ = std::make_unique<State>();
  state_->notFound = false;
  const std::string native = posix::NativePath(path);
  if (native.empty()) return false;
  state_->descriptor = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (state_->descriptor < 0) {
    state_->notFound = errno == ENOENT || errno == ENOTDIR;
    return false;
  }
  ::posix_fadvise(state_->descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

bool InputFile::IsOpen() const { return state_ && state_->descriptor >= 0; }

bool InputFile::NotFound() const { return state_ && state_->notFound; }

std::int64_t InputFile::Read(void* buffer, std::size_t size) {
  if (!IsOpen()) return -1;
  for (;;) {
    const ssize_t got = ::read(state_->descriptor, buffer, size);
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

bool InputFile::Seek(std::uint64_t offset) {
  return IsOpen() && ::lseek(state_->descriptor, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

void InputFile::Close() {
  if (IsOpen()) {
    ::close(state_->descriptor);
    state_->descriptor = -1;
  }
}

struct OutputFile::State {
  int descriptor = -1;
};

OutputFile::OutputFile() : state_(std::make_unique<State>()) {}
OutputFile::~OutputFile() { Close(); }
OutputFile::OutputFile(OutputFile&&) noexcept = default;
OutputFile& OutputFile::operator=(OutputFile&&) noexcept = default;

bool OutputFile::Open(const std::string& path, Mode mode, bool exclusive) {
  Close();
  if (!state_) state_ = std::make_unique<State>();
  const std::string native = posix::NativePath(path);
  if (native.empty()) return false;
  // Cut to length 0 only once the file is known to be ours: an exclusive open of a file in use
  // must leave it as it is.
  const int flags = (mode == Mode::Update ? O_RDWR : O_WRONLY) | O_CREAT | O_CLOEXEC | (mode == Mode::Append ? O_APPEND : 0);
  state_->descriptor = ::open(native.c_str(), flags, 0644);
  if (state_->descriptor < 0) return false;
  if ((exclusive && ::flock(state_->descriptor, LOCK_EX | LOCK_NB) != 0) ||
      (mode == Mode::CreateOrTruncate && ::ftruncate(state_->descriptor, 0) != 0)) {
    Close();
    return false;
  }
  return true;
}

bool OutputFile::IsOpen() const { return state_ && state_->descriptor >= 0; }

bool OutputFile::Write(const void* data, std::size_t size) {
  if (!IsOpen()) return false;
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(state_->descriptor, next, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

std::int64_t OutputFile::Read(void* buffer, std::size_t size) {
  if (!IsOpen()) return -1;
  for (;;) {
    const ssize_t got = ::read(state_->descriptor, buffer, size);
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

bool OutputFile::Seek(std::uint64_t offset) {
  return IsOpen() && ::lseek(state_->descriptor, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool OutputFile::SetLength(std::uint64_t length) {
  return IsOpen() && ::ftruncate(state_->descriptor, static_cast<off_t>(length)) == 0;
}

std::int64_t OutputFile::Length() const {
  struct stat status {};
  return IsOpen() && ::fstat(state_->descriptor, &status) == 0 ? static_cast<std::int64_t>(status.st_size) : -1;
}

bool OutputFile::Flush() { return IsOpen() && ::fsync(state_->descriptor) == 0; }

void OutputFile::Close() {
  if (IsOpen()) {
    ::close(state_->descriptor);
    state_->descriptor = -1;
  }
}

std::int64_t FileLength(const std::string& path) {
  const std::string native = posix::NativePath(path);
  struct stat status {};
  if (native.empty() || ::stat(native.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
  return static_cast<std::int64_t>(status.st_size);
}

bool FlushFile(const std::string& path) {
  const int descriptor = ::open(posix::NativePath(path).c_str(), O_WRONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  const bool flushed = ::fsync(descriptor) == 0;
  ::close(descriptor);
  return flushed;
}

bool CreateDirectoryAt(const std::string& path) {
  const std::string native = posix::NativePath(path);
  return !native.empty() && ::mkdir(native.c_str(), 0755) == 0;
}

bool RemoveEmptyDirectory(const std::string& path) {
  const std::string native = posix::NativePath(path);
  return !native.empty() && ::rmdir(native.c_str()) == 0;
}

bool MakeHardLink(const std::string& existing, const std::string& link) {
  const std::string nativeExisting = posix::NativePath(existing);
  const std::string nativeLink = posix::NativePath(link);
  return !nativeExisting.empty() && !nativeLink.empty() && ::link(nativeExisting.c_str(), nativeLink.c_str()) == 0;
}

bool MoveFolder(const std::string& from, const std::string& to) {
  const std::string nativeTo = posix::NativePath(to);
  struct stat status {};
  // rename() would replace an empty folder at `to`; the Windows move never replaces anything.
  if (nativeTo.empty() || ::lstat(nativeTo.c_str(), &status) == 0) return false;
  return MoveFileReplacing(from, to);
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
  const std::string nativeFrom = posix::NativePath(from);
  const std::string nativeTo = posix::NativePath(to);
  if (nativeFrom.empty() || nativeTo.empty() || std::rename(nativeFrom.c_str(), nativeTo.c_str()) != 0) return false;
  // The rename reaches the disk with its directory.
  const std::size_t slash = nativeTo.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : (slash == 0 ? "/" : nativeTo.substr(0, slash));
  const int descriptor = ::open(directory.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor >= 0) {
    ::fsync(descriptor);
    ::close(descriptor);
  }
  return true;
}

}  // namespace velmora::platform
