// Owns a kernel HANDLE that is closed with CloseHandle (snapshots, processes, files). Internal to
// the Win32 layer.
#pragma once

#include <windows.h>

namespace velmora::platform::win32 {

class KernelHandle {
 public:
  explicit KernelHandle(HANDLE handle) : handle_(handle) {}
  ~KernelHandle() {
    if (valid()) CloseHandle(handle_);
  }
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace velmora::platform::win32
