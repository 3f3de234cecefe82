// The update service in the service control manager. Implements platform/service_control.h:
// CreateServiceW (LocalSystem, own process, demand start, "<executable>" --service) with a
// security descriptor that lets interactive users start and query it, QueryServiceConfigW for
// the executable it runs, StartServiceW, QueryServiceStatusEx for its process and how it
// stopped, ControlService + DeleteService, and the service's main
// through StartServiceCtrlDispatcherW.
#include <windows.h>
#include <sddl.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/service_control.h"
#include "text/encoding.h"

namespace velmora::platform {
namespace {

// The service's rights: the system and administrators all of them; interactive users may query
// it, start it and read its configuration (so that a standard user's window can start it on
// demand); authenticated users may query it.
constexpr wchar_t kServiceSecurity[] =
    L"D:(A;;CCLCSWRPWPDTLOCRSDRCWDWO;;;SY)(A;;CCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWRPLORC;;;IU)"
    L"(A;;CCLCSWLORC;;;AU)";

class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ServiceHandle() {
    if (handle_ != nullptr) CloseServiceHandle(handle_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

std::wstring Wide(const std::string& gbk) {
  const std::u16string wide = text::NarrowToWide(gbk, text::NarrowCodePage);
  return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const wchar_t* wide) {
  const std::u16string text(reinterpret_cast<const char16_t*>(wide));
  return text::WideToNarrow(text, text::NarrowCodePage);
}

std::string ErrorText(const char* call) { return std::string(call) + " failed, error " + std::to_string(GetLastError()); }

const std::wstring& ServiceName() {
  static const std::wstring name = Wide(kUpdateServiceName);
  return name;
}

// The executable of a service command line: the quoted first part, or all up to the first space.
std::wstring ExecutableOfCommandLine(const std::wstring& line) {
  if (!line.empty() && line[0] == L'"') {
    const std::size_t end = line.find(L'"', 1);
    return end == std::wstring::npos ? std::wstring() : line.substr(1, end - 1);
  }
  return line.substr(0, line.find(L' '));
}

void ApplyServiceSecurity(SC_HANDLE service) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kServiceSecurity, SDDL_REVISION_1, &descriptor, nullptr)) {
    return;
  }
  // Without it only administrators can start the service; updates as a standard user then fail
  // with "could not be started", which the window reports.
  SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
}

bool WaitUntilStopped(SC_HANDLE service) {
  SERVICE_STATUS status{};
  for (int i = 0; i < 100; ++i) {
    if (!QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == SERVICE_STOPPED) return true;
    Sleep(100);
  }
  return false;
}

// --- the service's main -------------------------------------------------------------------------

std::atomic<SERVICE_STATUS_HANDLE> statusHandle{nullptr};
std::atomic<bool> stopRequested{false};
const ServiceBody* runningBody = nullptr;

void Report(DWORD state, DWORD exitCode = NO_ERROR) {
  const SERVICE_STATUS_HANDLE handle = statusHandle.load();
  if (handle == nullptr) return;
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  status.dwServiceSpecificExitCode = exitCode;
  status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 5000;
  SetServiceStatus(handle, &status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD /*eventType*/, LPVOID /*eventData*/, LPVOID /*context*/) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      stopRequested.store(true);
      Report(SERVICE_STOP_PENDING);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD /*argc*/, LPWSTR* /*argv*/) {
  statusHandle.store(RegisterServiceCtrlHandlerExW(ServiceName().c_str(), ControlHandler, nullptr));
  if (statusHandle.load() == nullptr) return;
  Report(SERVICE_RUNNING);
  Report(SERVICE_STOPPED, (*runningBody)(stopRequested));
}

}  // namespace

bool InstallUpdateService(const std::string& executablePath, std::string& error) {
  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!manager) {
    error = ErrorText("OpenSCManagerW");
    return false;
  }
  const std::wstring commandLine = L"\"" + Wide(executablePath) + L"\" --service";
  const std::wstring display = Wide(kUpdateServiceDisplayName);
  ServiceHandle service(CreateServiceW(manager.get(),
                                       ServiceName().c_str(),      // lpServiceName
                                       display.c_str(),            // lpDisplayName
                                       SERVICE_ALL_ACCESS,         // dwDesiredAccess
                                       SERVICE_WIN32_OWN_PROCESS,  // dwServiceType
                                       SERVICE_DEMAND_START,       // dwStartType
                                       SERVICE_ERROR_NORMAL,       // dwErrorControl
                                       commandLine.c_str(),        // lpBinaryPathName
                                       nullptr,                    // lpLoadOrderGroup
                                       nullptr,                    // lpdwTagId
                                       nullptr,                    // lpDependencies
                                       nullptr,                    // lpServiceStartName: LocalSystem
                                       nullptr));                  // lpPassword
  if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
    // Installed before (an earlier folder, or the same): it runs this executable from now on.
    ServiceHandle existing(OpenServiceW(manager.get(), ServiceName().c_str(), SERVICE_ALL_ACCESS));
    if (existing && ChangeServiceConfigW(existing.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                         SERVICE_ERROR_NORMAL, commandLine.c_str(), nullptr, nullptr, nullptr,
                                         L"LocalSystem", nullptr, display.c_str())) {
      ApplyServiceSecurity(existing.get());
      return true;
    }
    error = ErrorText("ChangeServiceConfigW");
    return false;
  }
  if (!service) {
    error = ErrorText("CreateServiceW");
    return false;
  }
  ApplyServiceSecurity(service.get());
  return true;
}

bool RemoveUpdateService(std::string& error) {
  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    error = ErrorText("OpenSCManagerW");
    return false;
  }
  const ServiceHandle service(OpenServiceW(manager.get(), ServiceName().c_str(),
                                           SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service) {
    if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return true;
    error = ErrorText("OpenServiceW");
    return false;
  }
  SERVICE_STATUS status{};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) WaitUntilStopped(service.get());
  if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
    error = ErrorText("DeleteService");
    return false;
  }
  return true;
}

std::optional<std::string> UpdateServiceExecutable() {
  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return std::nullopt;
  const ServiceHandle service(OpenServiceW(manager.get(), ServiceName().c_str(), SERVICE_QUERY_CONFIG));
  if (!service) return std::nullopt;
  DWORD needed = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  if (needed == 0) return std::nullopt;
  std::vector<unsigned char> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(service.get(), config, needed, &needed) || config->lpBinaryPathName == nullptr) {
    return std::nullopt;
  }
  const std::wstring executable = ExecutableOfCommandLine(config->lpBinaryPathName);
  if (executable.empty()) return std::nullopt;
  return Narrow(executable.c_str());
}

bool StartUpdateService(std::string& error) {
  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    error = ErrorText("OpenSCManagerW");
    return false;
  }
  const ServiceHandle service(OpenServiceW(manager.get(), ServiceName().c_str(), SERVICE_START));
  if (!service) {
    error = ErrorText("OpenServiceW");
    return false;
  }
  if (StartServiceW(service.get(), 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) return true;
  error = ErrorText("StartServiceW");
  return false;
}

UpdateServiceStatus QueryUpdateServiceStatus() {
  UpdateServiceStatus result;
  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return result;
  const ServiceHandle service(OpenServiceW(manager.get(), ServiceName().c_str(), SERVICE_QUERY_STATUS));
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                        sizeof status, &needed)) {
    return result;
  }
  result.known = true;
  result.stopped = status.dwCurrentState == SERVICE_STOPPED;
  result.processId = result.stopped ? 0 : status.dwProcessId;
  if (status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR) result.stopCode = status.dwServiceSpecificExitCode;
  return result;
}

bool RunAsUpdateService(const ServiceBody& body) {
  runningBody = &body;
  std::wstring name = ServiceName();
  SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
  const bool ran = StartServiceCtrlDispatcherW(table) != FALSE;
  runningBody = nullptr;
  return ran;
}

void EndUpdateServiceProcess(std::uint32_t exitCode) {
  Report(SERVICE_STOPPED, exitCode);
  ExitProcess(exitCode);
}

}  // namespace velmora::platform
