// Owns a WinINet handle (session, connection or request) and closes it with InternetCloseHandle.
// Internal to the Win32 layer.
#pragma once

#include <windows.h>
#include <wininet.h>

namespace velmora::platform::win32 {

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

}  // namespace velmora::platform::win32
