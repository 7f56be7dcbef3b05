#pragma once
// The HID panels each client's scan has tied to drives so far. A client scans by asking command 1
// for every drive number in turn, one request each, and panelio keeps nothing between calls: the
// service remembers which panel each drive of the current scan got, so a panel tied to one drive
// is not probed again for the drives asked after it (each such probe costs up to five attempts).

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "common/drive_record.h"

namespace kuv::svc {

class ScanTies {
 public:
  using Clock = std::chrono::steady_clock;

  // A scan is the run of command-1 requests from one process in which no drive number comes
  // twice; what it learned is dropped when the process asks for a drive number again, after this
  // long without a command 1 from it, or when more processes scan at once than are kept.
  static constexpr std::chrono::seconds kIdle{60};
  static constexpr std::size_t kScans = 32;

  // Before serving command 1 for driveNumber to process pid: the panels this scan has tied to
  // other drives.
  std::vector<std::string> Before(pid_t pid, std::int32_t driveNumber, Clock::time_point now);

  // After: notes the drive's panel when the answer ties it to one.
  void After(pid_t pid, std::int32_t driveNumber, std::int32_t result, const DriveRecord& record);

 private:
  struct Scan {
    pid_t pid = 0;
    Clock::time_point last;
    std::vector<std::int32_t> asked;
    std::vector<std::pair<std::int32_t, std::string>> ties;  // drive number, panel path
  };
  Scan* Find(pid_t pid);

  std::vector<Scan> scans_;
};

}  // namespace kuv::svc
