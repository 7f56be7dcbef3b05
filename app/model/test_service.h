#pragma once
// For end-to-end tests and benchmarks: panelsvc serving a simulated world in a child process,
// as systemd would run it, stopped with SIGTERM when done.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

namespace kuv::testing {

class ServiceProcess {
 public:
  ServiceProcess() = default;
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;
  ~ServiceProcess() { Stop(); }

  // Starts the service binary on the world, listening on socket; true once the socket is there.
  bool Start(const std::string& panelsvc, const std::string& world, const std::string& socket) {
    Stop();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("KUVLCD_SIM_WORLD", world.c_str(), 1);
      ::setenv("KUVLCD_SOCKET", socket.c_str(), 1);
      // The service must not outlive a test that dies, nor hold the test's output open.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      std::freopen("/dev/null", "w", stdout);
      std::freopen("/dev/null", "w", stderr);
      ::execl(panelsvc.c_str(), panelsvc.c_str(), "--foreground", nullptr);
      ::_exit(127);
    }
    for (int i = 0; i < 250 && !std::filesystem::exists(socket); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::filesystem::exists(socket);
  }

  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
};

}  // namespace kuv::testing
