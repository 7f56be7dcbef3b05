#include "app/model/device_service.h"

#include "common/utf16.h"

namespace kuv {

std::int32_t SocketDeviceService::Exchange(RequestRecord& record) {
  if (!link.MayAsk()) {
    record.result = -1;
    return record.result;
  }
  ServiceClientOptions options = options_;
  options.attempts = link.Attempts(options_.attempts);
  // A quiet retry makes its one try and does not wait after it.
  if (options.attempts < options_.attempts) options.pause = {};
  link.Record(TryExchangeRequest(record, options) == ExchangeOutcome::kAnswered);
  return record.result;
}

std::int32_t SocketDeviceService::Ping() {
  RequestRecord record = MakeRequest(0);
  return Exchange(record);
}

std::int32_t SocketDeviceService::GetLcdInfo(std::int32_t driveNumber, std::int32_t autoUpdateFlag,
                                             DriveRecord& info) {
  RequestRecord record = GetLcdInfoRequest(driveNumber, FieldView(info.hidPath), false);
  record.autoUpdateFlag = autoUpdateFlag;
  std::int32_t result = Exchange(record);
  info = record.driveInfo;
  return result;
}

std::int32_t SocketDeviceService::SendLineData(std::int32_t driveNumber, LineSlots slots) {
  RequestRecord record = SendLineDataRequest(driveNumber, slots);
  return Exchange(record);
}

std::int32_t SocketDeviceService::AddSataFilter() {
  RequestRecord record = MakeRequest(kCmdAddSataFilter);
  return Exchange(record);
}

std::int32_t SocketDeviceService::CreateFolder(std::u16string_view path) {
  RequestRecord record = MakeRequest(kCmdCreateDirectory);
  if (!record.SetPath(path)) return 0;
  return Exchange(record);
}

std::int32_t SocketDeviceService::DeleteFile(std::u16string_view path) {
  RequestRecord record = MakeRequest(kCmdDeleteFile);
  if (!record.SetPath(path)) return -1;
  return Exchange(record);
}

std::int32_t SocketDeviceService::StopLcdTimer(std::int32_t driveNumber) {
  RequestRecord record = DriveRequest(kCmdStopLcdTimer, driveNumber);
  return Exchange(record);
}

std::int32_t SocketDeviceService::GetSmartInfo(std::int32_t driveNumber, DriveRecord& info) {
  RequestRecord record = GetSmartInfoRequest(driveNumber, info);
  std::int32_t result = Exchange(record);
  info = record.driveInfo;
  return result;
}

std::int32_t SocketDeviceService::SetAutorun(bool on) {
  RequestRecord record = SetAutorunRequest(on);
  return Exchange(record);
}

std::int32_t SocketDeviceService::GetSizeFromSector(std::int32_t driveNumber, DriveRecord& info) {
  RequestRecord record = DriveRequest(kCmdGetSizeFromSector, driveNumber);
  record.driveInfo = info;
  std::int32_t result = Exchange(record);
  info = record.driveInfo;
  return result;
}

std::int32_t SocketDeviceService::GetSmartUnlessAsleep(std::int32_t driveNumber,
                                                       DriveRecord& info) {
  RequestRecord record = GetSmartInfoRequest(driveNumber, info, true);
  std::int32_t result = Exchange(record);
  info = record.driveInfo;
  return result;
}

std::int32_t SocketDeviceService::GetPowerMode(std::int32_t driveNumber) {
  RequestRecord record = DriveRequest(kCmdGetPowerMode, driveNumber);
  return Exchange(record);
}

}  // namespace kuv
