#pragma once
// What the simulated devices remember, kept in files under <world>/state/ so the service and the
// program, two processes on one world, see the same panels, filter lists, faults and probe flags.
// Every read-modify-write holds the world's lock (flock on state/.lock). The small files a device
// touches on every command (counters, probe flags, power, panel memory) are edited in place and
// read only under the lock; the ones read without it (faults, filter lists, hidden paths, the
// autostart entry, pictures) are replaced by rename, so such a reader never sees half a file.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "panelio/env.h"
#include "panelio/file_io.h"
#include "panelio/sim/world.h"

namespace kuv::sim {

// An injected fault. target is "disk:<number>" or "hid:<panel name>".
struct Fault {
  enum class Kind { kRefuseLine, kFailOpen, kUnplug, kStall, kSwallowPassThrough };
  std::string target;
  Kind kind = Kind::kFailOpen;
  int line = 0;           // kRefuseLine: the refused line index (0 to 95)
  int afterCommands = 0;  // kUnplug: commands still answered before the device is gone
  int ms = 0;             // kStall: how long each reply is held back (bounded by the time-out)
  // kSwallowPassThrough: ATA PASS-THROUGH commands get no answer until their time-out, as from a
  // USB bridge that swallows them instead of refusing them.
};

inline constexpr int kPanelLines = 96;
inline constexpr int kRowBytes = 12;

// A panel's memory: the rows it shows and what it has received.
struct PanelMemory {
  std::array<std::uint8_t, kPanelLines * kRowBytes> raster{};  // 1 white, as the line records
  std::array<bool, kPanelLines> received{};  // rows received since the last complete picture
  std::uint64_t linesReceived = 0;           // all time
  std::uint64_t pictures = 0;                // complete pictures
  std::uint64_t stops = 0;                   // stop commands (bridge panels)
  int lastLine = -1;                         // index of the last line received

  // Stores one line record's row (record bytes 3 to 15); false when the record is not one.
  bool TakeLine(std::span<const std::uint8_t> record, int fallbackIndex);
  bool Complete() const;
};

// What a disk's medium and the system around it have seen, for tests that check the drive was
// really reached (a sector read the page cache answers never reaches the drive).
struct DiskCounters {
  std::uint64_t mediumReads = 0;   // reads that reached the medium
  std::uint64_t changeEvents = 0;  // udev "change" events: closes of write-opened handles
  // udev "remove" and "add" events of partitions: after such a close, udev has the kernel read
  // the partition table again when none of the disk's partitions is in use.
  std::uint64_t partitionEvents = 0;
  // Commands the disk never answered, which the kernel gave up after their time-out, and the sum
  // of those time-outs: how long a real disk would have held the caller.
  std::uint64_t timedOutCommands = 0;
  std::uint64_t timedOutSeconds = 0;
  std::int64_t openHandles = 0;            // handles open now, in every process
  std::vector<std::uint64_t> cachedPages;  // 4 KiB pages the page cache holds, sorted
};

// The pauses the library asked for on the world (DeviceEnv::Sleep), in every process: what the
// tie procedure waits, counted whatever sleepScale makes of them.
struct Pauses {
  std::uint64_t count = 0;
  std::uint64_t askedMs = 0;  // the durations asked, before sleepScale
};

// A disk's power mode and how often a read spun it up from standby or sleep.
struct DiskPower {
  PowerMode mode = PowerMode::kActive;
  std::uint64_t wakeups = 0;
};

// A file read again only when its stamp (device, inode, size, modification time in ns) changed,
// or while it changed so recently that a rewrite within the same tick of the file system's clock
// could have kept the stamp.
class StampedFile {
 public:
  explicit StampedFile(std::string path) : path_(std::move(path)) {}

  // Brings text() up to date; true when it differs from what it was (always on the first call).
  Result<bool> Refresh();
  // The file's text; nullopt when there is no file.
  const std::optional<std::string>& text() const { return text_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool known_ = false;  // text_ is what the file held when it had stamp_
  bool racy_ = false;
  FileStamp stamp_;
  std::optional<std::string> text_;
};

// A handle on a world's state; copies share the lock and the cached faults.
class StateDir {
 public:
  explicit StateDir(std::string worldDir);

  const std::string& dir() const;  // <world>/state

  // Runs body with the world's lock held; the lock is released on return. Not reentrant.
  Status Locked(const std::function<Status()>& body) const;

  Result<std::vector<Fault>> Faults() const;  // take the lock yourself around changes
  Status SetFaults(const std::vector<Fault>& faults) const;

  // Take the lock yourself around these edits, and for the reads of what they edit.
  Result<DiskCounters> Counters(int diskNumber) const;
  // Applies change to the disk's counters; the file is written only when they changed.
  Status EditCounters(int diskNumber, const std::function<void(DiskCounters&)>& change) const;
  // The disk's power state; the world's powerMode and no wake-ups until one is stored.
  Result<DiskPower> Power(const Disk& disk) const;
  Status SetPower(const Disk& disk, const DiskPower& power) const;

  // Counts one pause. Take the lock yourself, also around reading them.
  Status CountPause(std::chrono::milliseconds asked) const;
  Result<Pauses> CountedPauses() const;

  Result<PanelMemory> Panel(const std::string& name) const;
  // Stores the memory; with picture set, also writes panels/<name>.pbm and .png of the raster.
  Status SetPanel(const std::string& name, const PanelMemory& memory, bool picture) const;

  // An HID panel's flag: a read of its disk since its last probe. Take the lock around these.
  // TakeHidFlag answers the flag and clears it; RaiseHidFlag sets it.
  Result<bool> TakeHidFlag(const std::string& name) const;
  Status RaiseHidFlag(const std::string& name) const;

  // Paths whose hidden attribute is set. Take the lock around changes.
  Result<std::vector<std::string>> HiddenPaths() const;
  Status SetHiddenPaths(const std::vector<std::string>& paths) const;

  // An adapter's upper-filter list as written (multi-string bytes); nullopt until one is.
  Result<std::optional<std::string>> UpperFilters(const std::string& adapterId) const;
  Status SetUpperFilters(const std::string& adapterId, std::string_view multiString) const;

  // The autostart entry's text; nullopt when none is registered.
  Result<std::optional<std::string>> AutostartEntry() const;
  // Writes the entry, or removes it for nullopt (removing none is ok).
  Status SetAutostartEntry(const std::optional<std::string>& text) const;

 private:
  // Whole-file access under dir(); rel may contain one directory level, created on write.
  Result<std::optional<std::string>> Read(const std::string& rel) const;  // nullopt: no file
  Status Replace(const std::string& rel, std::string_view bytes) const;   // by rename
  Status Rewrite(const std::string& rel, std::string_view bytes) const;   // in place, locked
  // Reads rel (nullopt: no file), lets edit change the text, and writes it back in place when it
  // did; no file is created for an edit that leaves nullopt.
  Status Edit(const std::string& rel,
              const std::function<Status(std::optional<std::string>&)>& edit) const;

  struct Shared;
  std::shared_ptr<Shared> shared_;
};

// Adds a fault to a world (tests, `kuvlcd sim fault`).
Status AddFault(const std::string& worldDir, const Fault& fault);
Status ClearFaults(const std::string& worldDir);

// A disk's counters as the simulator last stored them.
Result<DiskCounters> ReadDiskCounters(const std::string& worldDir, int diskNumber);
// Puts a disk of the world into a power mode (tests, `kuvlcd sim power`); the wake-up count stays.
Status SetDiskPowerMode(const std::string& worldDir, int diskNumber, PowerMode mode);
Result<DiskPower> ReadDiskPower(const std::string& worldDir, int diskNumber);

// The pauses counted on the world so far.
Result<Pauses> ReadPauses(const std::string& worldDir);

// The panel's memory as the simulator last stored it.
Result<PanelMemory> ReadPanel(const std::string& worldDir, const std::string& name);

}  // namespace kuv::sim
