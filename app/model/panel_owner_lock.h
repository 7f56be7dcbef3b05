#pragma once
// One copy drives a user's panels: the tray program and kuvlcd watch each hold this lock while
// they run, so their timers never paint the same panels twice. It is an flock (LockFileEx on
// Windows) on kuvlcd-panels.lock in the user's private runtime folder (UserRuntimeFolder),
// released by the system when its holder ends, however it ends.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kuv {

class PanelOwnerLock {
 public:
  // Takes the lock for `who` (the program's name, shown to the one refused). Null with error set
  // when another copy holds it or the lock file cannot be used.
  static std::unique_ptr<PanelOwnerLock> Acquire(const std::string& who, std::string& error);
  ~PanelOwnerLock();
  PanelOwnerLock(const PanelOwnerLock&) = delete;
  PanelOwnerLock& operator=(const PanelOwnerLock&) = delete;

 private:
  explicit PanelOwnerLock(std::intptr_t file) : file_(file) {}
  // The lock file's descriptor (its HANDLE on Windows).
  std::intptr_t file_;
};

// The lock file's path; nullopt with error set when the user has no runtime folder.
std::optional<std::string> PanelOwnerLockPath(std::string& error);

}  // namespace kuv
