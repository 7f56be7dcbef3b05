#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "panelsvc/service_control.h"

namespace kuv::svc {

namespace {

// Shared by the control handler (the dispatcher's thread) and the service's own thread.
struct Service {
  ServiceWork work;
  SERVICE_STATUS_HANDLE handle = nullptr;
  std::atomic<DWORD> state{SERVICE_START_PENDING};
  std::atomic<bool> stopAsked{false};
};

Service& TheService() {
  static Service service;
  return service;
}

constexpr DWORD kAcceptedControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;

bool Report(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD exitCode = NO_ERROR) {
  Service& service = TheService();
  service.state = state;
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : kAcceptedControls;
  status.dwWin32ExitCode = exitCode;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  return SetServiceStatus(service.handle, &status) != FALSE;
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  Service& service = TheService();
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      // STOPPED is reported by the service's thread once the request in hand is answered and
      // the pipe let go, not here: the process may be ended as soon as it is reported.
      if (!service.stopAsked.exchange(true)) {
        Report(SERVICE_STOP_PENDING, 1, 3000);
        service.work.stop();
      }
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      Report(service.state, 0, 0);
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  Service& service = TheService();
  service.handle = RegisterServiceCtrlHandlerExW(kServiceName, Control, nullptr);
  if (!service.handle) return;
  Report(SERVICE_START_PENDING, 1, 3000);
  std::string error;
  if (!service.work.open(&error)) {
    Report(SERVICE_STOPPED, 0, 0, ERROR_SERVICE_SPECIFIC_ERROR);
    return;
  }
  if (!service.stopAsked && Report(SERVICE_RUNNING, 0, 0)) service.work.run();
  Report(SERVICE_STOPPED, 0, 0);
}

struct ScHandle {
  SC_HANDLE handle;
  explicit ScHandle(SC_HANDLE h) : handle(h) {}
  ~ScHandle() {
    if (handle) CloseServiceHandle(handle);
  }
};

int Fail(const char* what, std::string* error) {
  const DWORD code = GetLastError();
  *error = std::string(what) + " failed with error " + std::to_string(code);
  return static_cast<int>(code);
}

}  // namespace

int RunAsService(ServiceWork work, bool* notStarted) {
  TheService().work = std::move(work);
  wchar_t name[64];
  wcscpy(name, kServiceName);
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  *notStarted = false;
  if (StartServiceCtrlDispatcherW(table)) return 1;
  const DWORD code = GetLastError();
  if (code == ERROR_INVALID_DATA || code == ERROR_SERVICE_ALREADY_RUNNING) {
    return static_cast<int>(code);
  }
  *notStarted = true;
  return 0;
}

int InstallService(const std::wstring& arguments, std::string* error) {
  wchar_t program[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return Fail("GetModuleFileName", error);
  // Quoted, so a path with spaces cannot be read as a shorter program's path plus arguments.
  std::wstring command = L"\"" + std::wstring(program, length) + L"\"";
  if (!arguments.empty()) command += L" " + arguments;
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager.handle) return Fail("OpenSCManager", error);
  ScHandle service(CreateServiceW(manager.handle, kServiceName, kServiceName, SERVICE_CHANGE_CONFIG,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                  nullptr, nullptr));
  if (!service.handle) return Fail("CreateService", error);
  wchar_t text[] = L"Carries out the memory LCD requests of KuvLcdManager and kuvlcd.";
  SERVICE_DESCRIPTIONW description{text};
  ChangeServiceConfig2W(service.handle, SERVICE_CONFIG_DESCRIPTION, &description);
  return 0;
}

int UninstallService(std::string* error) {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager.handle) return Fail("OpenSCManager", error);
  ScHandle service(
      OpenServiceW(manager.handle, kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service.handle) return Fail("OpenService", error);
  SERVICE_STATUS status{};
  if (ControlService(service.handle, SERVICE_CONTROL_STOP, &status)) {
    // Given the time a request in hand may take to finish, then removed whatever its state.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (status.dwCurrentState != SERVICE_STOPPED && std::chrono::steady_clock::now() < until &&
           QueryServiceStatus(service.handle, &status)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  }
  if (!DeleteService(service.handle)) return Fail("DeleteService", error);
  return 0;
}

}  // namespace kuv::svc
