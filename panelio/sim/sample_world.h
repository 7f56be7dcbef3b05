#pragma once
// The sample world of `kuvlcd sim init`: one drive of each kind the system meets, with disk
// images and S.M.A.R.T. sectors generated from built-in bytes.

#include <cstdint>
#include <string>
#include <vector>

#include "panelio/env.h"

namespace kuv::sim {

// Writes world.json, the images under disks/, the sectors under ata/ and the volume directories
// under volumes/ into dir (created when missing). An existing world.json is replaced and state/ is
// left alone unless resetState. Drives: 0 a system disk without a panel, 1 a USB enclosure with a
// bridge panel on an NTFS volume, 2 a drive tray with an HID panel on a FAT32 volume, 3 a
// video-recorder disk (XFS) in a drive tray on a Silicon Image adapter with the SATA filter, 4 a
// locked bridge panel behind a bridge that knows only 12-byte ATA PASS-THROUGH, 5 an unlocked
// bridge panel on an ext4 disk, 6 an enclosure with product id 0x1106 (no panel), 7 a drive tray
// on a Silicon Image adapter without the filter.
Status WriteSampleWorld(const std::string& dir, bool resetState = true);

// Built-in sectors for simulated drives (512 bytes each, checksums set).
std::vector<std::uint8_t> SampleIdentify(const std::string& model, const std::string& serial);
std::vector<std::uint8_t> SampleSmartData(int temperature, int reallocated);
std::vector<std::uint8_t> SampleSmartThresholds();

}  // namespace kuv::sim
