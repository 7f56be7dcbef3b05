// panelsvc: carries out device requests for the program as root, one record at a time, on the
// socket of ServiceSocketPath(). systemd starts it (Type=notify); --foreground runs it by hand.

#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/service_client.h"
#include "panelsvc/device_ops.h"
#include "panelsvc/dispatch.h"
#include "panelsvc/server.h"
#include "panelsvc/service_log.h"
#include "panelsvc/service_manager.h"

namespace {

constexpr int kExitAfterStop = 1;
constexpr int kExitStartFailed = 1;

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: panelsvc [--foreground]\n"
               "Serves the memory LCD device requests on %s (KUVLCD_SOCKET overrides it).\n",
               kuv::ServiceSocketPath().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  bool foreground = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--foreground") == 0) {
      foreground = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintUsage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "panelsvc: unknown option '%s'\n", argv[i]);
      PrintUsage(stderr);
      return 2;
    }
  }
  if (!foreground && !std::getenv("NOTIFY_SOCKET")) {
    std::printf(
        "panelsvc is a system service: start it with 'systemctl start panelsvc'.\n"
        "To run it by hand in this terminal, use 'panelsvc --foreground' (as root for real "
        "devices).\n");
    return 0;
  }

  // A client that leaves before its answer must not end the service.
  ::signal(SIGPIPE, SIG_IGN);
  // Stop requests arrive as signals but are read between requests, so a request in flight is
  // always finished.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  if (::sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
    std::perror("panelsvc: sigprocmask");
    return kExitStartFailed;
  }
  int stopFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (stopFd < 0) {
    std::perror("panelsvc: signalfd");
    return kExitStartFailed;
  }

  const std::string path = kuv::ServiceSocketPath();
  if (path == kuv::kDefaultServiceSocket) {
    // Run by hand, the service makes the folder systemd would have made for it.
    const std::string folder = path.substr(0, path.rfind('/'));
    if (::mkdir(folder.c_str(), 0755) == 0) ::chmod(folder.c_str(), 0755);
  }
  kuv::svc::NotifyServiceManager("STATUS=Opening the request socket");
  std::string error;
  // One share of log lines per user, for the server's lines and the requests' alike.
  kuv::svc::RateLimitedLog log;
  kuv::svc::ServerOptions options;
  options.log = &log;
  auto server = kuv::svc::Server::Open(path, options, &error);
  if (!server) {
    std::fprintf(stderr, "panelsvc: %s\n", error.c_str());
    kuv::svc::NotifyServiceManager("STATUS=Cannot open " + path + ": " + error);
    return kExitStartFailed;
  }

  kuv::svc::ScanTies scanTies;
  const kuv::svc::DispatchContext context{
      &kuv::svc::PanelioOps(),
      [&log](uid_t uid, kuv::svc::LogKind kind, const std::string& line) {
        log.Write(uid, kind, line);
      },
      &scanTies};
  kuv::svc::NotifyServiceManager("READY=1\nSTATUS=Serving device requests on " + path);
  if (foreground) std::fprintf(stderr, "panelsvc: serving on %s\n", path.c_str());
  server->Run(stopFd, [&context](kuv::RequestRecord& record, const kuv::svc::Peer& peer) {
    kuv::svc::Dispatch(record, peer, context);
  });

  kuv::svc::NotifyServiceManager("STOPPING=1\nSTATUS=Stopping");
  server.reset();
  ::close(stopFd);
  if (foreground) std::fprintf(stderr, "panelsvc: stopped\n");
  return kExitAfterStop;
}
