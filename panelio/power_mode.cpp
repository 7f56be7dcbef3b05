#include "panelio/power_mode.h"

#include <algorithm>
#include <cerrno>

#include "common/request_record.h"
#include "panelio/panelio.h"
#include "panelio/pass_through.h"
#include "panelio/sata_filter.h"

namespace kuv {
namespace {

constexpr std::uint8_t kCheckPowerMode = 0xE5;
constexpr std::uint8_t kNonDataCheckCondition = 0x06;  // protocol 3 (non-data) << 1
constexpr std::uint8_t kCkCond = 0x20;
constexpr std::uint8_t kDidTimeOut = 0x03;  // host status of a command the kernel gave up

std::optional<std::uint8_t> Ask(Disk& disk, const std::array<std::uint8_t, 16>& cdb,
                                std::size_t length, Status& why) {
  ScsiRequest request;
  request.cdb = std::span<const std::uint8_t>(cdb.data(), length);
  request.direction = DataDirection::kNone;
  request.timeoutSeconds = kPowerModeTimeoutSeconds;
  Result<ScsiReply> reply = disk.Scsi(request);
  if (!reply.ok()) {
    why = reply.status();
    return std::nullopt;
  }
  if (reply->hostStatus == kDidTimeOut) {
    why = Status(ETIMEDOUT, "CHECK POWER MODE unanswered");
    return std::nullopt;
  }
  if (reply->hostStatus != 0) {
    why = Status(EIO, "CHECK POWER MODE not delivered");
    return std::nullopt;
  }
  const std::size_t senseLength = std::min<std::size_t>(reply->senseLength, reply->sense.size());
  auto count = AtaCountFromSense(std::span<const std::uint8_t>(reply->sense.data(), senseLength));
  if (!count) why = Status(EIO, "CHECK POWER MODE gave no ATA registers");
  return count;
}

}  // namespace

std::array<std::uint8_t, 16> CheckPowerModeCdb16() {
  return {0x85, kNonDataCheckCondition, kCkCond, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kCheckPowerMode};
}

std::array<std::uint8_t, 16> CheckPowerModeCdb12() {
  return {0xA1, kNonDataCheckCondition, kCkCond, 0, 0, 0, 0, 0, 0, kCheckPowerMode};
}

std::optional<std::uint8_t> AtaCountFromSense(std::span<const std::uint8_t> sense) {
  std::optional<AtaReturn> ata = AtaReturnFromSense(sense);
  if (!ata) return std::nullopt;
  const std::uint8_t s = ata->status;
  if ((s & (kAtaStatusBsy | kAtaStatusDrdy)) != kAtaStatusDrdy) return std::nullopt;
  if (s & (kAtaStatusErr | kAtaStatusDf)) return std::nullopt;
  return ata->count;
}

bool PowerModeAsleep(std::uint8_t count) {
  return PowerModeResultAsleep(count);
}

std::string_view PowerModeName(std::optional<std::uint8_t> count) {
  if (!count) return "unknown";
  if (PowerModeAsleep(*count)) return "standby";
  if (*count == 0xFF) return "active";
  return "idle";
}

std::optional<std::uint8_t> ReadPowerMode(DeviceEnv& env, int driveNumber, Status* why) {
  Status failure;
  std::optional<std::uint8_t> count;
  // Read-only, as for S.M.A.R.T.: pass-through needs CAP_SYS_RAWIO either way, and closing a
  // write-opened disk makes udev probe it again, every minute for every disk.
  auto disk = env.OpenDisk(driveNumber, DiskAccess::kRead);
  if (!disk.ok()) {
    failure = disk.status();
  } else if (SataFilterInfo filter = SataFilterOfDrive(env, driveNumber, true);
             filter.state != kNotSiliconImageHost && filter.portPath) {
    failure = Status(ENOTSUP, "no power mode request through the SATA filter");
  } else {
    count = Ask(**disk, CheckPowerModeCdb16(), 16, failure);
    // A bridge that let the 16-byte form go unanswered would let the 12-byte form go too.
    if (!count && failure.code() != ETIMEDOUT)
      count = Ask(**disk, CheckPowerModeCdb12(), 12, failure);
  }
  if (why) *why = count ? Status() : failure;
  return count;
}

std::int32_t SmartInfoUnlessAsleep(DeviceEnv& env, int driveNumber, const SmartOutputs& out) {
  Status why;
  std::optional<std::uint8_t> count = ReadPowerMode(env, driveNumber, &why);
  if (count && PowerModeAsleep(*count)) {
    errno = 0;
    return 2;
  }
  if (!count && why.code() == ETIMEDOUT) {
    errno = ETIMEDOUT;
    return 0;
  }
  SmartOutcome outcome = ReadSmart(env, driveNumber, out);
  errno = 0;
  if (!outcome.capable) KeepErrno(outcome.why);
  return outcome.capable ? 1 : 0;
}

std::int32_t GetSmartInfoUnlessAsleep(std::int32_t driveNumber, std::uint8_t* thresholds,
                                      std::uint8_t* data, char16_t* serial) {
  return SmartInfoUnlessAsleep(Env(), driveNumber,
                               {.thresholds = thresholds, .data = data, .serial = serial});
}

std::int32_t GetPowerMode(std::int32_t driveNumber) {
  errno = 0;
  Status why;
  std::optional<std::uint8_t> count = ReadPowerMode(Env(), driveNumber, &why);
  if (!count) {
    KeepErrno(why);
    return -2;
  }
  return *count;
}

}  // namespace kuv
