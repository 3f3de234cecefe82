#include <windows.h>

#include <climits>

#include "platform/file.h"
#include "platform/win32/file_api_path.h"
#include "text/encoding.h"

namespace velmora::platform {

std::string NativePathUtf8(const std::string& path) { return text::NarrowToUtf8(path); }

bool RemoveFile(const std::string& path) {
  const std::u16string wide = win32::FileApiPath(path);
  return !wide.empty() && DeleteFileW(reinterpret_cast<const wchar_t*>(wide.c_str())) != 0;
}

struct InputFile::State {
  HANDLE handle = INVALID_HANDLE_VALUE;
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
  const std::u16string wide = win32::FileApiPath(path);
  if (wide.empty()) return false;
  state_->handle = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()),
                               GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,  // others may go on using it
                               nullptr,                                                 // lpSecurityAttributes
                               OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                               nullptr);  // hTemplateFile
  if (state_->handle != INVALID_HANDLE_VALUE) return true;
  const DWORD error = GetLastError();
  state_->notFound = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  return false;
}

bool InputFile::NotFound() const { return state_ && state_->notFound; }

bool InputFile::IsOpen() const { return state_ && state_->handle != INVALID_HANDLE_VALUE; }

std::int64_t InputFile::Read(void* buffer, std::size_t size) {
  if (!IsOpen()) return -1;
  DWORD got = 0;
  const DWORD wanted = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  if (!ReadFile(state_->handle, buffer, wanted, &got, nullptr)) return -1;
  return got;
}

bool InputFile::Seek(std::uint64_t offset) {
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(offset);
  return IsOpen() && SetFilePointerEx(state_->handle, to, nullptr, FILE_BEGIN) != 0;
}

void InputFile::Close() {
  if (IsOpen()) {
    CloseHandle(state_->handle);
    state_->handle = INVALID_HANDLE_VALUE;
  }
}

struct OutputFile::State {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

OutputFile::OutputFile() : state_(std::make_unique<State>()) {}
OutputFile::~OutputFile() { Close(); }
OutputFile::OutputFile(OutputFile&&) noexcept = default;
OutputFile& OutputFile::operator=(OutputFile&&) noexcept = default;

bool OutputFile::Open(const std::string& path, Mode mode, bool exclusive) {
  Close();
  if (!state_) state_ = std::make_unique<State>();
  const std::u16string wide = win32::FileApiPath(path);
  if (wide.empty()) return false;
  state_->handle = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()),
                               mode == Mode::Update ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE,
                               exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE,  // dwShareMode
                               nullptr,                             // lpSecurityAttributes
                               mode == Mode::CreateOrTruncate ? CREATE_ALWAYS : OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                               nullptr);  // hTemplateFile
  if (state_->handle == INVALID_HANDLE_VALUE) return false;
  if (mode == Mode::Append) {
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(state_->handle, LARGE_INTEGER{}, &end, FILE_END)) {
      Close();
      return false;
    }
  }
  return true;
}

bool OutputFile::IsOpen() const { return state_ && state_->handle != INVALID_HANDLE_VALUE; }

bool OutputFile::Write(const void* data, std::size_t size) {
  if (!IsOpen()) return false;
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD wanted = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(state_->handle, next, wanted, &written, nullptr) || written == 0) return false;
    next += written;
    size -= written;
  }
  return true;
}

std::int64_t OutputFile::Read(void* buffer, std::size_t size) {
  if (!IsOpen()) return -1;
  DWORD got = 0;
  const DWORD wanted = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  if (!ReadFile(state_->handle, buffer, wanted, &got, nullptr)) return -1;
  return got;
}

bool OutputFile::Seek(std::uint64_t offset) {
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(offset);
  return IsOpen() && SetFilePointerEx(state_->handle, to, nullptr, FILE_BEGIN) != 0;
}

bool OutputFile::SetLength(std::uint64_t length) { return Seek(length) && SetEndOfFile(state_->handle) != 0; }

std::int64_t OutputFile::Length() const {
  LARGE_INTEGER size{};
  return IsOpen() && GetFileSizeEx(state_->handle, &size) ? size.QuadPart : -1;
}

bool OutputFile::Flush() { return IsOpen() && FlushFileBuffers(state_->handle) != 0; }

void OutputFile::Close() {
  if (IsOpen()) {
    CloseHandle(state_->handle);
    state_->handle = INVALID_HANDLE_VALUE;
  }
}

std::int64_t FileLength(const std::string& path) {
  const std::u16string wide = win32::FileApiPath(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (wide.empty() ||
      !GetFileAttributesExW(reinterpret_cast<const wchar_t*>(wide.c_str()), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return -1;
  }
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool FlushFile(const std::string& path) {
  const std::u16string wide = text::NarrowToWide(path, text::NarrowCodePage);
  if (wide.empty()) return false;
  const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()),
                                  GENERIC_WRITE,                       // FlushFileBuffers needs it
                                  FILE_SHARE_READ | FILE_SHARE_WRITE,  // dwShareMode
                                  nullptr,                             // lpSecurityAttributes
                                  OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL,
                                  nullptr);  // hTemplateFile
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool flushed = FlushFileBuffers(file) != 0;
  CloseHandle(file);
  return flushed;
}

bool CreateDirectoryAt(const std::string& path) {
  const std::u16string wide = win32::FileApiPath(path);
  return !wide.empty() && CreateDirectoryW(reinterpret_cast<const wchar_t*>(wide.c_str()), nullptr) != 0;
}

bool RemoveEmptyDirectory(const std::string& path) {
  const std::u16string wide = win32::FileApiPath(path);
  return !wide.empty() && RemoveDirectoryW(reinterpret_cast<const wchar_t*>(wide.c_str())) != 0;
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
  const std::u16string wideFrom = win32::FileApiPath(from);
  const std::u16string wideTo = win32::FileApiPath(to);
  if (wideFrom.empty() || wideTo.empty()) return false;
  return MoveFileExW(reinterpret_cast<const wchar_t*>(wideFrom.c_str()), reinterpret_cast<const wchar_t*>(wideTo.c_str()),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool MakeHardLink(const std::string& existing, const std::string& link) {
  const std::u16string wideExisting = win32::FileApiPath(existing);
  const std::u16string wideLink = win32::FileApiPath(link);
  if (wideExisting.empty() || wideLink.empty()) return false;
  return CreateHardLinkW(reinterpret_cast<const wchar_t*>(wideLink.c_str()),
                         reinterpret_cast<const wchar_t*>(wideExisting.c_str()), nullptr) != 0;
}

bool MoveFolder(const std::string& from, const std::string& to) {
  const std::u16string wideFrom = win32::FileApiPath(from);
  const std::u16string wideTo = win32::FileApiPath(to);
  if (wideFrom.empty() || wideTo.empty()) return false;
  return MoveFileExW(reinterpret_cast<const wchar_t*>(wideFrom.c_str()), reinterpret_cast<const wchar_t*>(wideTo.c_str()),
                     MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace velmora::platform
