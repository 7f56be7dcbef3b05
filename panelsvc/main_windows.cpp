// panelsvc.exe: carries out device requests for the program with the service's rights, one
// record at a time, on the pipe the Windows programs use. The service control manager starts it;
// --console runs it in the foreground, --install and --uninstall register and remove it.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/service_client.h"
#include "common/utf16.h"
#include "panelsvc/device_ops.h"
#include "panelsvc/dispatch.h"
#include "panelsvc/pipe_server.h"
#include "panelsvc/service_control.h"
#include "panelsvc/service_log.h"

namespace {

using kuv::svc::PipeServer;

void PrintUsage(FILE* out) {
  std::fprintf(
      out,
      "usage: panelsvc [--console] [--pipe NAME] [--receive-timeout-ms N] [--instances N]\n"
      "       panelsvc --install [--pipe NAME] | --uninstall\n"
      "Serves the memory LCD device requests on %s as the service \"QM LCD Device "
      "Service\"; --console serves in this window until Ctrl+C.\n",
      kuv::kDefaultServicePipe);
}

std::string Utf8(const wchar_t* text) {
  return kuv::Utf16ToUtf8(reinterpret_cast<const char16_t*>(text));
}

// The log folder under ProgramData, as the service's environment names it.
std::string LogFolder() {
  wchar_t folder[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"ProgramData", folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return Utf8(folder) + "\\KuvLcdManager";
}

// The service's work, the same in a console and under the service control manager.
class Service {
 public:
  explicit Service(kuv::svc::PipeServerOptions options) : options_(std::move(options)) {
    options_.log = &log_;
  }

  bool Open(bool console, std::string* error) {
    const std::string folder = LogFolder();
    const std::string why =
        folder.empty() ? "ProgramData is not set" : kuv::svc::OpenLogFile(folder, console);
    if (!why.empty()) kuv::svc::LogLine("log kept on standard error only: " + why);
    server_ = PipeServer::Open(options_, error);
    if (!server_) kuv::svc::LogLine("cannot serve: " + *error);
    return server_ != nullptr;
  }

  void Run() {
    const kuv::svc::DispatchContext context{
        &kuv::svc::PanelioOps(),
        [this](kuv::svc::UserId uid, kuv::svc::LogKind kind, const std::string& line) {
          log_.Write(uid, kind, line);
        },
        &scanTies_};
    kuv::svc::LogLine("serving on " + options_.pipeName);
    server_->Run([&context](kuv::RequestRecord& record, const kuv::svc::Peer& peer) {
      kuv::svc::Dispatch(record, peer, context);
    });
    log_.Flush();
    kuv::svc::LogLine("stopped");
  }

  void Stop() { server_->Stop(); }

 private:
  kuv::svc::PipeServerOptions options_;
  kuv::svc::RateLimitedLog log_;
  kuv::svc::ScanTies scanTies_;
  std::unique_ptr<PipeServer> server_;
};

Service* consoleService = nullptr;

BOOL WINAPI ConsoleControl(DWORD) {
  if (consoleService) consoleService->Stop();
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  enum class Mode { kService, kConsole, kInstall, kUninstall } mode = Mode::kService;
  kuv::svc::PipeServerOptions options;
  // What --install hands on to the service's command line.
  std::wstring serviceArguments;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--console") {
      mode = Mode::kConsole;
    } else if (arg == L"--install") {
      mode = Mode::kInstall;
    } else if (arg == L"--uninstall") {
      mode = Mode::kUninstall;
    } else if (arg == L"--pipe" && i + 1 < argc) {
      options.pipeName = Utf8(argv[++i]);
      serviceArguments += L"--pipe \"" + std::wstring(argv[i]) + L"\"";
    } else if (arg == L"--receive-timeout-ms" && i + 1 < argc) {
      options.receiveTimeout = std::chrono::milliseconds(std::wcstol(argv[++i], nullptr, 10));
    } else if (arg == L"--instances" && i + 1 < argc) {
      options.instances = static_cast<int>(std::wcstol(argv[++i], nullptr, 10));
    } else if (arg == L"--help" || arg == L"-h") {
      PrintUsage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "panelsvc: unknown option '%s'\n", Utf8(argv[i]).c_str());
      PrintUsage(stderr);
      return 2;
    }
  }

  std::string error;
  switch (mode) {
    case Mode::kInstall:
      if (int code = kuv::svc::InstallService(serviceArguments, &error)) {
        std::fprintf(stderr, "panelsvc: cannot register the service: %s\n", error.c_str());
        return code;
      }
      std::printf(
          "Registered \"QM LCD Device Service\"; start it with: net start \"QM LCD Device "
          "Service\"\n");
      return 0;
    case Mode::kUninstall:
      if (int code = kuv::svc::UninstallService(&error)) {
        std::fprintf(stderr, "panelsvc: cannot remove the service: %s\n", error.c_str());
        return code;
      }
      std::printf("Removed \"QM LCD Device Service\"\n");
      return 0;
    case Mode::kConsole: {
      Service service(options);
      if (!service.Open(true, &error)) return 1;
      consoleService = &service;
      SetConsoleCtrlHandler(ConsoleControl, TRUE);
      service.Run();
      consoleService = nullptr;
      return 1;
    }
    case Mode::kService:
      break;
  }
  Service service(options);
  bool notStarted = false;
  const int code =
      kuv::svc::RunAsService({[&service](std::string* why) { return service.Open(false, why); },
                              [&service] { service.Run(); }, [&service] { service.Stop(); }},
                             &notStarted);
  if (notStarted) {
    std::printf(
        "panelsvc is a Windows service: register it with 'panelsvc --install' and start it with "
        "'net start \"QM LCD Device Service\"'.\nTo run it in this window, use 'panelsvc "
        "--console'.\n");
  }
  return code;
}
