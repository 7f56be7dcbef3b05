#pragma once
// The sample world of `kuvlcd sim init`: one drive of each kind the system meets, with disk
// images and S.M.A.R.T. sectors generated from built-in bytes.

#include <cstdint>
#include <string>
#include <vector>

#include "panelio/env.h"

namespace kuv::sim {

// How the sample world is written.
struct SampleWorldOptions {
  bool resetState = true;  // clear state/ (what the devices remember); false keeps it
  // The Silicon Image adapter of drive 7 starts with the SATA filter in its list, as the Linux
  // backend never asks for one; false leaves it out, so a scan meets the restart question.
  bool sataFilterRegistered = true;
  // world.json's sleepScale: 1 waits the tie procedure's pauses as the hardware does; tests that
  // do not measure time give 0.
  double sleepScale = 1.0;
};

// Writes world.json, the images under disks/, the sectors under ata/ and the volume directories
// under volumes/ into dir (created when missing); an existing world.json is replaced. A shelf of
// drives of real sizes (images are sparse and small, the sizes declared), as Linux names them:
//   0 a 500 GB system SSD without a panel;
//   1 a 2 TB disk in a USB enclosure with a bridge panel, NTFS mounted as BACKUP;
//   2 a 500 GB disk in a drive tray (HID panel tray1), FAT32 mounted as PHOTOS;
//   3 a 2 TB video-recorder disk (XFS, not mounted) in a tray (tray2) on a Silicon Image adapter
//     with the SATA filter;
//   4 a 1 TB disk behind a locked bridge panel that knows only 12-byte ATA PASS-THROUGH;
//   5 a 4 TB disk behind an unlocked bridge panel, ext4 mounted read-write as data, with a
//     reallocated-sector count past its threshold (failing);
//   6 a 320 GB disk in an enclosure with product id 0x1106 (no panel);
//   7 an 8 TB disk in a tray (tray3) on a second Silicon Image adapter, btrfs mounted read-write as
//     archive.
Status WriteSampleWorld(const std::string& dir, const SampleWorldOptions& options = {});

// The path the sample world gives HID panel tray<n> (1 to 3): the sysfs path of its USB
// interface, as the Linux backend names a panel in `hidPath`.
std::string SampleTrayPath(int tray);

// Built-in sectors for simulated drives (512 bytes each, checksums set).
std::vector<std::uint8_t> SampleIdentify(const std::string& model, const std::string& serial);
std::vector<std::uint8_t> SampleSmartData(int temperature, int reallocated);
std::vector<std::uint8_t> SampleSmartThresholds();

}  // namespace kuv::sim
