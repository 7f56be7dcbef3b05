#pragma once
// The panel service as the program's flows see it: one method per command of the device request
// record. The real one exchanges records with panelsvc; tests use one that records the sequence.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "app/model/service_link.h"
#include "common/drive_record.h"
#include "common/request_record.h"
#include "common/service_client.h"

namespace kuv {

using LineSlots = std::span<const std::uint8_t, kRequestLineSlots * kRequestLineSlotSize>;

// Every method returns the record's `result`: -1 when the service could not be reached, in which
// case a record handed in comes back as it was sent. Every request tells `link` whether it got
// through, and is not made when its pass already found the service gone.
class DeviceService {
 public:
  virtual ~DeviceService() = default;

  ServiceLink link;

  // A record that asks for nothing (command 0): 0 when the service answered, -1 when not. A
  // service without a connection to lose is always there.
  virtual std::int32_t Ping() { return 0; }

  // Command 1. info: in, the hint `hidPath` (the rest is sent zeroed); out, the whole reply.
  virtual std::int32_t GetLcdInfo(std::int32_t driveNumber, std::int32_t autoUpdateFlag,
                                  DriveRecord& info) = 0;
  // Command 2: 96 line-record slots of 64 bytes for a bridge panel.
  virtual std::int32_t SendLineData(std::int32_t driveNumber, LineSlots slots) = 0;
  // Command 3: register the SATA filter.
  virtual std::int32_t AddSataFilter() = 0;
  // Command 5: create the hidden folder. Command 7: delete one file in it.
  virtual std::int32_t CreateFolder(std::u16string_view path) = 0;
  virtual std::int32_t DeleteFile(std::u16string_view path) = 0;
  // Command 8: stop the panel's own timer.
  virtual std::int32_t StopLcdTimer(std::int32_t driveNumber) = 0;
  // Commands 9 and 11: info goes out as it is and comes back as the service answered it.
  virtual std::int32_t GetSmartInfo(std::int32_t driveNumber, DriveRecord& info) = 0;
  virtual std::int32_t GetSizeFromSector(std::int32_t driveNumber, DriveRecord& info) = 0;
  // Command 10: writes (on) or removes the program's autostart entry. Services that cannot
  // answer -1, as an unreachable service does.
  virtual std::int32_t SetAutorun(bool on) {
    (void)on;
    return -1;
  }
  // Command 12: as GetSmartInfo, but a disk in standby or sleep is left asleep; then
  // kSmartSkippedAsleep comes back and info is unchanged. Without an override nothing is read, so
  // a service that cannot tell the power mode never wakes a disk by accident.
  virtual std::int32_t GetSmartUnlessAsleep(std::int32_t driveNumber, DriveRecord& info) {
    (void)driveNumber;
    (void)info;
    return kSmartSkippedAsleep;
  }
  // Command 13: the CHECK POWER MODE count byte, kPowerModeUnknown, or -1.
  virtual std::int32_t GetPowerMode(std::int32_t driveNumber) {
    (void)driveNumber;
    return kPowerModeUnknown;
  }
};

// DeviceService over the service's socket (common/service_client.h).
class SocketDeviceService : public DeviceService {
 public:
  explicit SocketDeviceService(ServiceClientOptions options = {}) : options_(std::move(options)) {}

  std::int32_t Ping() override;
  std::int32_t GetLcdInfo(std::int32_t driveNumber, std::int32_t autoUpdateFlag,
                          DriveRecord& info) override;
  std::int32_t SendLineData(std::int32_t driveNumber, LineSlots slots) override;
  std::int32_t AddSataFilter() override;
  std::int32_t CreateFolder(std::u16string_view path) override;
  std::int32_t DeleteFile(std::u16string_view path) override;
  std::int32_t StopLcdTimer(std::int32_t driveNumber) override;
  std::int32_t GetSmartInfo(std::int32_t driveNumber, DriveRecord& info) override;
  std::int32_t GetSizeFromSector(std::int32_t driveNumber, DriveRecord& info) override;
  std::int32_t SetAutorun(bool on) override;
  std::int32_t GetSmartUnlessAsleep(std::int32_t driveNumber, DriveRecord& info) override;
  std::int32_t GetPowerMode(std::int32_t driveNumber) override;

 private:
  std::int32_t Exchange(RequestRecord& record);

  ServiceClientOptions options_;
};

}  // namespace kuv
