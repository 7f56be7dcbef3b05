#include "common/request_record.h"

#include <algorithm>
#include <cstring>

#include "common/utf16.h"

namespace kuv {

namespace {

const std::uint8_t* RawBytes(const RequestRecord& record) {
  return reinterpret_cast<const std::uint8_t*>(&record);
}

}  // namespace

std::u16string_view RequestRecord::WritePath() const {
  const char16_t* end = std::find(path, path + kWritePathUnits, u'\0');
  return std::u16string_view(path, static_cast<std::size_t>(end - path));
}

std::int32_t RequestRecord::WriteLength() const {
  std::int32_t length;
  std::memcpy(&length, RawBytes(*this) + kWriteLengthOffset, sizeof length);
  return length;
}

std::optional<std::span<const std::uint8_t>> RequestRecord::WriteData() const {
  const std::int32_t length = WriteLength();
  if (length < 0 || static_cast<std::size_t>(length) > kWriteDataMax) return std::nullopt;
  return std::span<const std::uint8_t>(RawBytes(*this) + kWriteDataOffset,
                                       static_cast<std::size_t>(length));
}

bool RequestRecord::SetWrite(std::u16string_view filePath, std::span<const std::uint8_t> data) {
  if (filePath.size() >= kWritePathUnits || data.size() > kWriteDataMax) return false;
  std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(this);
  std::memset(bytes + offsetof(RequestRecord, path), 0,
              kRequestRecordSize - offsetof(RequestRecord, path));
  std::copy(filePath.begin(), filePath.end(), path);
  auto length = static_cast<std::int32_t>(data.size());
  std::memcpy(bytes + kWriteLengthOffset, &length, sizeof length);
  if (!data.empty()) std::memcpy(bytes + kWriteDataOffset, data.data(), data.size());
  return true;
}

std::u16string_view RequestRecord::Path() const {
  return FieldView(path);
}

bool RequestRecord::SetPath(std::u16string_view text) {
  if (text.size() >= kRequestPathUnits) {
    std::fill(std::begin(path), std::end(path), u'\0');
    return false;
  }
  SetField(path, text);
  return true;
}

RequestRecord MakeRequest(std::int32_t command) {
  RequestRecord record;
  std::memset(&record, 0, sizeof record);
  record.command = command;
  return record;
}

RequestRecord GetLcdInfoRequest(std::int32_t driveNumber, std::u16string_view hidPath,
                                bool autoUpdate) {
  RequestRecord record = MakeRequest(kCmdGetLcdInfo);
  record.driveNumber = driveNumber;
  record.autoUpdateFlag = autoUpdate ? 1 : 0;
  SetField(record.driveInfo.hidPath, hidPath);
  return record;
}

RequestRecord SendLineDataRequest(
    std::int32_t driveNumber,
    std::span<const std::uint8_t, kRequestLineSlots * kRequestLineSlotSize> slots) {
  RequestRecord record = MakeRequest(kCmdSendLineData);
  record.driveNumber = driveNumber;
  std::memcpy(record.lineRecords, slots.data(), slots.size());
  return record;
}

RequestRecord DriveRequest(std::int32_t command, std::int32_t driveNumber) {
  RequestRecord record = MakeRequest(command);
  record.driveNumber = driveNumber;
  return record;
}

RequestRecord GetSmartInfoRequest(std::int32_t driveNumber, const DriveRecord& info,
                                  bool unlessAsleep) {
  RequestRecord record =
      DriveRequest(unlessAsleep ? kCmdGetSmartUnlessAsleep : kCmdGetSmartInfo, driveNumber);
  record.driveInfo = info;
  return record;
}

RequestRecord SetAutorunRequest(bool on) {
  RequestRecord record = MakeRequest(kCmdSetAutorun);
  record.autorun = on ? 1 : 0;
  return record;
}

std::span<const std::uint8_t, kRequestRecordSize> AsBytes(const RequestRecord& record) {
  return std::span<const std::uint8_t, kRequestRecordSize>(RawBytes(record), kRequestRecordSize);
}

std::span<std::uint8_t, kRequestRecordSize> AsWritableBytes(RequestRecord& record) {
  return std::span<std::uint8_t, kRequestRecordSize>(reinterpret_cast<std::uint8_t*>(&record),
                                                     kRequestRecordSize);
}

}  // namespace kuv
