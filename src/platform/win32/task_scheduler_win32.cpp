// Tasks through the Task Scheduler 2.0 COM interfaces. Implements platform/task_scheduler.h:
// ITaskService::Connect, the root folder, ITaskFolder::RegisterTask with the task's XML
// (TASK_CREATE_OR_UPDATE, the local system's account), DeleteTask and GetTask. COM is
// initialised for the call and uninitialised after it.
#include <windows.h>
#include <oleauto.h>
#include <taskschd.h>

#include <string>

#include "platform/task_scheduler.h"

namespace velmora::platform {
namespace {

// {0F87369F-A4E5-4CFC-BD3E-73E6154572DD} and {2FABA4C7-4DA9-4013-9697-20CC3FD40F85}, defined here
// so that no import library has to carry them.
constexpr CLSID kTaskSchedulerClass = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
constexpr IID kTaskServiceInterface = {0x2faba4c7, 0x4da9, 0x4013, {0x96, 0x97, 0x20, 0xcc, 0x3f, 0xd4, 0x0f, 0x85}};

template <typename Interface>
class ComPointer {
 public:
  ComPointer() = default;
  ~ComPointer() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  ComPointer(const ComPointer&) = delete;
  ComPointer& operator=(const ComPointer&) = delete;
  Interface** out() { return &pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

 private:
  Interface* pointer_ = nullptr;
};

class BString {
 public:
  explicit BString(const std::u16string& text)
      : value_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()))) {}
  ~BString() { SysFreeString(value_); }
  BString(const BString&) = delete;
  BString& operator=(const BString&) = delete;
  BSTR get() const { return value_; }

 private:
  BSTR value_;
};

std::string HresultText(const char* call, HRESULT result) {
  char text[16];
  wsprintfA(text, "0x%08lX", static_cast<unsigned long>(result));
  return std::string(call) + " failed, " + text;
}

// COM for the calling thread, for one call.
class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};

// The connected service's root folder; false with `error` set when it cannot be reached.
bool OpenRootFolder(ComPointer<ITaskFolder>& folder, std::string& error) {
  ComPointer<ITaskService> service;
  HRESULT result = CoCreateInstance(kTaskSchedulerClass, nullptr, CLSCTX_INPROC_SERVER, kTaskServiceInterface,
                                    reinterpret_cast<void**>(service.out()));
  if (FAILED(result)) {
    error = HresultText("CoCreateInstance(TaskScheduler)", result);
    return false;
  }
  VARIANT empty;
  VariantInit(&empty);
  result = service->Connect(empty, empty, empty, empty);
  if (FAILED(result)) {
    error = HresultText("ITaskService::Connect", result);
    return false;
  }
  const BString root(u"\\");
  result = service->GetFolder(root.get(), folder.out());
  if (FAILED(result)) {
    error = HresultText("ITaskService::GetFolder", result);
    return false;
  }
  return true;
}

}  // namespace

bool RegisterScheduledTask(const std::u16string& name, const std::u16string& xml, std::string& error) {
  const ComScope com;
  ComPointer<ITaskFolder> folder;
  if (!OpenRootFolder(folder, error)) return false;
  const BString taskName(name);
  const BString definition(xml);
  const BString system(u"SYSTEM");
  VARIANT user;
  VariantInit(&user);
  user.vt = VT_BSTR;
  user.bstrVal = system.get();
  VARIANT none;
  VariantInit(&none);
  ComPointer<IRegisteredTask> task;
  const HRESULT result = folder->RegisterTask(taskName.get(),           // path
                                              definition.get(),         // xmlText
                                              TASK_CREATE_OR_UPDATE,    // flags
                                              user,                     // userId
                                              none,                     // password
                                              TASK_LOGON_SERVICE_ACCOUNT,  // logonType
                                              none,                     // sddl
                                              task.out());
  if (FAILED(result)) {
    error = HresultText("ITaskFolder::RegisterTask", result);
    return false;
  }
  return true;
}

bool DeleteScheduledTask(const std::u16string& name, std::string& error) {
  const ComScope com;
  ComPointer<ITaskFolder> folder;
  if (!OpenRootFolder(folder, error)) return false;
  const BString taskName(name);
  const HRESULT result = folder->DeleteTask(taskName.get(), 0);
  if (SUCCEEDED(result) || result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return true;
  error = HresultText("ITaskFolder::DeleteTask", result);
  return false;
}

bool ScheduledTaskExists(const std::u16string& name) {
  const ComScope com;
  ComPointer<ITaskFolder> folder;
  std::string error;
  if (!OpenRootFolder(folder, error)) return false;
  const BString taskName(name);
  ComPointer<IRegisteredTask> task;
  return SUCCEEDED(folder->GetTask(taskName.get(), task.out())) && static_cast<bool>(task);
}

}  // namespace velmora::platform
