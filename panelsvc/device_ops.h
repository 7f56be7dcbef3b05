#pragma once
// The exports the service calls, as a table, so the dispatcher can be exercised against a
// recording fake as well as against panelio itself.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/drive_record.h"

namespace kuv::svc {

struct DeviceOps {
  std::int32_t (*getLcdInfo)(std::int32_t driveNumber, DriveRecord* info);
  std::uint32_t (*lcdSendLineData)(std::int32_t driveNumber, const std::uint8_t* lineRecords);
  std::int32_t (*modifyFilterSilHost)(std::int32_t add);
  // The hidden attribute of the folder command 5 created, open as folderFd (path names it); 1
  // when set or nothing to set, 0 with errno on failure. Commands 5, 6 and 7 do the rest of
  // their work on descriptors themselves rather than through the path-taking exports.
  std::int32_t (*setHidden)(int folderFd, const std::string& path);
  std::uint32_t (*stopLcdTimer)(std::int32_t driveNumber);
  std::int32_t (*getSmartInfo)(std::int32_t driveNumber, std::uint8_t* thresholds,
                               std::uint8_t* data, char16_t* serial);
  std::int32_t (*setAutorun)(std::int32_t on);
  std::int32_t (*getSizeFromSector)(std::int32_t driveNumber, DriveRecord* info);
  // Mount points of the mounted volumes of drives 0 to 31; empty when they cannot be listed.
  std::vector<std::string> (*mountPoints)();
  // Commands 12 and 13, which no export serves: S.M.A.R.T. unless the disk sleeps (2 when it does),
  // and the CHECK POWER MODE count (-2 when the disk could not be asked). Null: not served.
  std::int32_t (*getSmartUnlessAsleep)(std::int32_t driveNumber, std::uint8_t* thresholds,
                                       std::uint8_t* data, char16_t* serial) = nullptr;
  std::int32_t (*getPowerMode)(std::int32_t driveNumber) = nullptr;
  // Command 1 within a scan: GetLcdInfo that does not probe the panels the scan has tied to other
  // drives. Null: command 1 is served by getLcdInfo alone.
  std::int32_t (*getLcdInfoInScan)(std::int32_t driveNumber, DriveRecord* info,
                                   std::span<const std::string> tiedElsewhere) = nullptr;
};

// The exports of panelio on the process's device environment (real devices, or the simulated
// world named by KUVLCD_SIM_WORLD).
const DeviceOps& PanelioOps();

}  // namespace kuv::svc
