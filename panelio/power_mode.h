#pragma once
// ATA CHECK POWER MODE over ATA PASS-THROUGH, so that automatic S.M.A.R.T. reads can leave a disk
// in standby or sleep alone. The command carries no data: the answer is the sector count register,
// which the device returns in the sense data (CK_COND), an outside buffer decoded here.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "panelio/env.h"
#include "panelio/smart.h"

namespace kuv {

// CHECK POWER MODE (0xE5), non-data, with CK_COND set so the registers come back.
std::array<std::uint8_t, 16> CheckPowerModeCdb16();
std::array<std::uint8_t, 16> CheckPowerModeCdb12();

// The sector count register of an ATA return in sense data: an ATA Status Return descriptor
// (descriptor format 0x72/0x73, code 0x09) or the information field of fixed format (0x70/0x71
// with ASC/ASCQ 0x00/0x1D). nullopt when the sense holds neither, or when the device reported
// an error (the command was aborted). Reads only within sense.
std::optional<std::uint8_t> AtaCountFromSense(std::span<const std::uint8_t> sense);

// True for the counts of a disk whose platters are stopped: standby (0x00, 0x01) and the NV cache
// power modes with the spindle down (0x40, 0x41). A sleeping disk reads as standby on Linux,
// where the kernel's reset brings it that far without spinning it up.
bool PowerModeAsleep(std::uint8_t count);

// "active", "idle", "standby" or "unknown" for a count (nullopt: the disk could not be asked).
std::string_view PowerModeName(std::optional<std::uint8_t> count);

// Asks the drive its power mode through the route its S.M.A.R.T. reads take: ATA PASS-THROUGH
// (16), then (12). nullopt when the drive cannot be opened, sits behind the SATA filter (which has
// no request for it) or answers neither form; why then says what failed.
std::optional<std::uint8_t> ReadPowerMode(DeviceEnv& env, int driveNumber, Status* why = nullptr);

// The S.M.A.R.T. read of GetSmartInfo unless the disk sleeps, in which case nothing is sent to it
// beyond CHECK POWER MODE and the result is 2 (outputs untouched). A disk whose power mode cannot
// be told is read, as before. errno as GetSmartInfo leaves it.
std::int32_t SmartInfoUnlessAsleep(DeviceEnv& env, int driveNumber, const SmartOutputs& out);

// The service's commands 12 and 13 on the process's environment. Command 12:
std::int32_t GetSmartInfoUnlessAsleep(std::int32_t driveNumber, std::uint8_t* thresholds,
                                      std::uint8_t* data, char16_t* serial);
// The service's command 13: the count byte, or -2 when the disk could not be asked.
std::int32_t GetPowerMode(std::int32_t driveNumber);

}  // namespace kuv
