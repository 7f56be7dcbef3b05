#include "panelsvc/scan_ties.h"

#include <algorithm>

#include "common/utf16.h"

namespace kuv::svc {

ScanTies::Scan* ScanTies::Find(pid_t pid) {
  auto it =
      std::find_if(scans_.begin(), scans_.end(), [pid](const Scan& s) { return s.pid == pid; });
  return it == scans_.end() ? nullptr : &*it;
}

std::vector<std::string> ScanTies::Before(pid_t pid, std::int32_t driveNumber,
                                          Clock::time_point now) {
  std::erase_if(scans_, [now](const Scan& s) { return now - s.last >= kIdle; });
  Scan* scan = Find(pid);
  if (scan && std::find(scan->asked.begin(), scan->asked.end(), driveNumber) != scan->asked.end())
    *scan = Scan{pid, now, {}, {}};
  if (!scan) {
    if (scans_.size() >= kScans) {
      scans_.erase(std::min_element(scans_.begin(), scans_.end(),
                                    [](const Scan& a, const Scan& b) { return a.last < b.last; }));
    }
    scans_.push_back(Scan{pid, now, {}, {}});
    scan = &scans_.back();
  }
  scan->last = now;
  scan->asked.push_back(driveNumber);
  std::vector<std::string> elsewhere;
  for (const auto& [drive, path] : scan->ties)
    if (drive != driveNumber) elsewhere.push_back(path);
  return elsewhere;
}

void ScanTies::After(pid_t pid, std::int32_t driveNumber, std::int32_t result,
                     const DriveRecord& record) {
  const bool tied = result == 1 && record.connectionState >= kNotSiliconImageHost &&
                    record.connectionState <= kSiliconImageWithoutFilter && record.hidPath[0] != 0;
  Scan* scan = Find(pid);
  if (!tied || !scan) return;
  scan->ties.emplace_back(driveNumber, FieldUtf8(record.hidPath));
}

}  // namespace kuv::svc
