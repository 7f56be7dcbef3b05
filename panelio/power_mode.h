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

// How long CHECK POWER MODE may take. A disk answers it at once, asleep or not; a bridge that
// swallows ATA pass-through instead of refusing it would otherwise hold the one-at-a-time service
// for every user for the full 120 s, twice per disk per minute.
inline constexpr std::uint32_t kPowerModeTimeoutSeconds = 15;

// CHECK POWER MODE (0xE5), non-data, with CK_COND set so the registers come back.
std::array<std::uint8_t, 16> CheckPowerModeCdb16();
std::array<std::uint8_t, 16> CheckPowerModeCdb12();

// The sector count register of an ATA return in sense data (AtaReturnFromSense). nullopt when the
// sense holds none, when the device reported an error (ERR or DF: the command was aborted), and
// when the status is not that of a completed command (DRDY set, BSY clear): registers a
// translation layer answers without fetching them read all zero, which is no power mode.
std::optional<std::uint8_t> AtaCountFromSense(std::span<const std::uint8_t> sense);

// True for the counts of a disk whose platters are stopped: standby (0x00, 0x01) and the NV cache
// power modes with the spindle down (0x40, 0x41). A sleeping disk reads as standby on Linux,
// where the kernel's reset brings it that far without spinning it up.
bool PowerModeAsleep(std::uint8_t count);

// "active", "idle", "standby" or "unknown" for a count (nullopt: the disk could not be asked).
std::string_view PowerModeName(std::optional<std::uint8_t> count);

// Asks the drive its power mode through the route its S.M.A.R.T. reads take: ATA PASS-THROUGH
// (16), then (12) when the 16-byte form was refused. nullopt when the drive cannot be opened, sits
// behind the SATA filter (which has no request for it) or answers neither form; why then says
// what failed, ETIMEDOUT when the command was given up unanswered (no second form is sent then).
std::optional<std::uint8_t> ReadPowerMode(DeviceEnv& env, int driveNumber, Status* why = nullptr);

// The S.M.A.R.T. read of GetSmartInfo unless the disk sleeps, in which case nothing is sent to it
// beyond CHECK POWER MODE and the result is 2 (outputs untouched). A disk whose power mode cannot
// be told is read, as before, unless CHECK POWER MODE went unanswered: the S.M.A.R.T. commands
// would wait 120 s each on the same route, so the result is 0 with errno ETIMEDOUT. Otherwise
// errno as GetSmartInfo leaves it.
std::int32_t SmartInfoUnlessAsleep(DeviceEnv& env, int driveNumber, const SmartOutputs& out);

// The service's commands 12 and 13 on the process's environment. Command 12:
std::int32_t GetSmartInfoUnlessAsleep(std::int32_t driveNumber, std::uint8_t* thresholds,
                                      std::uint8_t* data, char16_t* serial);
// The service's command 13: the count byte, or -2 when the disk could not be asked.
std::int32_t GetPowerMode(std::int32_t driveNumber);

}  // namespace kuv
