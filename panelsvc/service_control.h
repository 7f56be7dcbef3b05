#pragma once
// Windows: panelsvc as the service control manager runs it, and its registration.

#include <functional>
#include <string>

namespace kuv::svc {

inline constexpr const wchar_t* kServiceName = L"QM LCD Device Service";

// What the service does between start and stop.
struct ServiceWork {
  // Makes what the service serves on; false (error set) when it cannot start.
  std::function<bool(std::string* error)> open;
  // Serves until stop is called.
  std::function<void()> run;
  // Asks run to return; called from the control handler's thread.
  std::function<void()> stop;
};

// Hands the process to the service control manager, which runs work as the service; returns the
// process's exit code: 1 once the service has stopped, 0 when the process was not started by the
// service control manager (notStarted is then set), and the error for the failures the manager
// reports as ERROR_INVALID_DATA or ERROR_SERVICE_ALREADY_RUNNING.
int RunAsService(ServiceWork work, bool* notStarted);

// Registers the service to start with Windows as LocalSystem, running this program with
// arguments; or stops and removes it. 0 on success, else the error (described in *error).
int InstallService(const std::wstring& arguments, std::string* error);
int UninstallService(std::string* error);

}  // namespace kuv::svc
