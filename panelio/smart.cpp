// S.M.A.R.T. retrieval over the SATA filter, the platform's ATA route and ATA PASS-THROUGH, and
// the GetSmartInfo export.

#include "panelio/smart.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "panelio/panelio.h"
#include "panelio/pass_through.h"
#include "panelio/sata_filter.h"

namespace kuv {
namespace {

constexpr std::uint8_t kIdentifyCommand = 0xEC;
constexpr std::uint8_t kSmartCommand = 0xB0;
constexpr std::uint8_t kSmartEnable = 0xD8;
constexpr std::uint8_t kSmartReadData = 0xD0;
constexpr std::uint8_t kSmartReadThresholds = 0xD1;
constexpr std::uint8_t kSmartLbaMid = 0x4F;
constexpr std::uint8_t kSmartLbaHigh = 0xC2;

std::uint16_t Word(IdentifyView identify, std::size_t index) {
  return static_cast<std::uint16_t>(identify[2 * index] | identify[2 * index + 1] << 8);
}

void PutLe32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

AtaTaskFile FilterRegisters(FilterCode code) {
  switch (code) {
    case FilterCode::kIdentify:
      return {.command = kIdentifyCommand};
    case FilterCode::kReadData:
      return {kSmartReadData, 0, 0, kSmartLbaMid, kSmartLbaHigh, 0, kSmartCommand};
    case FilterCode::kReadThresholds:
      return {kSmartReadThresholds, 0, 0, kSmartLbaMid, kSmartLbaHigh, 0, kSmartCommand};
    case FilterCode::kEnable:
      return {kSmartEnable, 0, 0, kSmartLbaMid, kSmartLbaHigh, 0, kSmartCommand};
  }
  return {};
}

void WriteSerial(const AtaSector& identify, char16_t* serial) {
  if (!serial) return;
  std::u16string text = SerialFromIdentify(identify);
  std::copy(text.begin(), text.end(), serial);
  serial[text.size()] = u'\0';
}

void CopySector(const AtaSector& sector, std::uint8_t* out) {
  if (out) std::memcpy(out, sector.data(), sector.size());
}

// One filter request on the adapter's port; the reply data when the filter took it.
std::optional<AtaSector> FilterExchange(StoragePort& port, FilterCode code, const ScsiAddress& at,
                                        Status& why) {
  auto buffer = BuildFilterRequest(code, at.path, at.target);
  // The request goes out from its own copy, so a port that writes its answer before it has read
  // the whole request cannot garble it.
  std::array<std::uint8_t, kFilterRequestBytes> request{};
  std::copy_n(buffer.begin(), request.size(), request.begin());
  auto returned = port.Miniport(request, buffer);
  if (!returned.ok()) {
    why = returned.status();
    return std::nullopt;
  }
  auto data = FilterReplyData(buffer, *returned);
  if (!data) why = Status(EIO, "short answer from the SATA filter");
  return data;
}

void ReadOverFilter(DeviceEnv& env, const std::string& portPath, const ScsiAddress& address,
                    const SmartOutputs& out, SmartOutcome& outcome) {
  outcome.transport = SmartTransport::kFilter;
  AtaSector identify{};
  auto port = env.OpenStoragePort(portPath);
  if (port.ok()) {
    FilterExchange(**port, FilterCode::kEnable, address, outcome.why);
    if (auto reply = FilterExchange(**port, FilterCode::kIdentify, address, outcome.why))
      identify = *reply;
  } else {
    outcome.why = port.status();
  }
  // Without the filter nothing answers and the serial comes out empty, as the program has always
  // shown it until the filter is installed.
  WriteSerial(identify, out.serial);
  if (!port.ok() || !SmartCapable(identify)) return;
  outcome.capable = true;
  if (auto data = FilterExchange(**port, FilterCode::kReadData, address, outcome.why)) {
    CopySector(*data, out.data);
    outcome.dataRead = true;
  }
  if (auto thresholds = FilterExchange(**port, FilterCode::kReadThresholds, address, outcome.why)) {
    CopySector(*thresholds, out.thresholds);
    outcome.thresholdsRead = true;
  }
}

// Returns false when the platform's IDENTIFY failed, so the bridge path is tried.
bool ReadOverPlatform(Disk& disk, const SmartOutputs& out, SmartOutcome& outcome) {
  AtaSector identify{};
  const AtaTaskFile identifyRegs{0, 1, 1, 0, 0, 0xA0, kIdentifyCommand};
  if (Status s = disk.AtaCommand(identifyRegs, identify); !s.ok()) {
    outcome.why = s;
    return false;
  }
  outcome.transport = SmartTransport::kPlatform;
  WriteSerial(identify, out.serial);
  if (!SmartCapable(identify)) return true;
  outcome.capable = true;
  disk.AtaCommand({kSmartEnable, 1, 1, kSmartLbaMid, kSmartLbaHigh, 0xA0, kSmartCommand}, {});
  AtaSector sector{};
  if (Status s = disk.AtaCommand(
          {kSmartReadData, 1, 1, kSmartLbaMid, kSmartLbaHigh, 0xA0, kSmartCommand}, sector);
      s.ok()) {
    CopySector(sector, out.data);
    outcome.dataRead = true;
  } else {
    outcome.why = s;
  }
  if (Status s = disk.AtaCommand(
          {kSmartReadThresholds, 1, 1, kSmartLbaMid, kSmartLbaHigh, 0xA0, kSmartCommand}, sector);
      s.ok()) {
    CopySector(sector, out.thresholds);
    outcome.thresholdsRead = true;
  } else {
    outcome.why = s;
  }
  return true;
}

// A bridge may know only one of the two command lengths; the 16-byte form is asked first.
std::optional<AtaSector> BridgeRead(Disk& disk, std::uint8_t subCommand, Status& why) {
  AtaSector sector{};
  if (PassThrough16(&disk, SmartReadCdb16(subCommand), true, sector, &why) == kPanelOk)
    return sector;
  sector.fill(0);
  if (PassThrough16(&disk, SmartReadCdb12(subCommand), true, sector, &why) == kPanelOk)
    return sector;
  return std::nullopt;
}

void ReadOverBridge(Disk& disk, const SmartOutputs& out, SmartOutcome& outcome) {
  AtaSector identify{};
  if (PassThroughIdentify(&disk, identify) != kPanelOk) {
    if (outcome.why.ok()) outcome.why = Status(EIO, "IDENTIFY DEVICE by ATA PASS-THROUGH");
    return;
  }
  outcome.transport = SmartTransport::kBridge;
  WriteSerial(identify, out.serial);
  if (!SmartCapable(identify)) return;
  outcome.capable = true;
  if (auto data = BridgeRead(disk, kSmartReadData, outcome.why)) {
    CopySector(*data, out.data);
    outcome.dataRead = true;
  }
  if (auto thresholds = BridgeRead(disk, kSmartReadThresholds, outcome.why)) {
    CopySector(*thresholds, out.thresholds);
    outcome.thresholdsRead = true;
  }
}

}  // namespace

std::u16string SerialFromIdentify(IdentifyView identify) {
  constexpr std::size_t kFirst = 20, kLength = 20;  // words 10 to 19
  std::u16string text;
  bool leading = true;
  for (std::size_t i = 0; i < kLength; ++i) {
    std::uint8_t c = identify[kFirst + (i ^ 1)];
    if (leading && c == ' ') continue;
    leading = false;
    text.push_back(static_cast<char16_t>(c));
  }
  // A NUL inside the field ends the text for every reader; cutting it here keeps one answer.
  text.resize(std::min(text.size(), text.find(u'\0')));
  return text;
}

bool SmartCapable(IdentifyView identify) {
  if ((Word(identify, 82) & 0x0001) == 0) return false;
  std::uint16_t version = Word(identify, 80);
  if (version == 0x0000 || version == 0xFFFF) return false;
  for (int bit = 14; bit >= 1; --bit)
    if (version & (1u << bit)) return bit >= 3;
  return false;
}

std::array<std::uint8_t, kFilterBufferBytes> BuildFilterRequest(FilterCode code,
                                                                std::uint8_t pathId,
                                                                std::uint8_t targetId) {
  std::array<std::uint8_t, kFilterBufferBytes> b{};
  PutLe32(b, 0, 28);
  std::memcpy(b.data() + 4, "QM_SATA_", 8);
  PutLe32(b, 12, 10);
  PutLe32(b, 16, static_cast<std::uint32_t>(code));
  PutLe32(b, 20, 0);
  PutLe32(b, 24, 529);
  PutLe32(b, 28, 0);
  b[32] = pathId;
  b[33] = targetId;
  b[38] = 0xF0;
  b[40] = 0;
  const AtaTaskFile r = FilterRegisters(code);
  const std::uint8_t regs[8] = {r.features, r.sectorCount, r.lbaLow,  r.lbaMid,
                                r.lbaHigh,  r.device,      r.command, 0};
  std::copy(std::begin(regs), std::end(regs), b.begin() + 61);
  return b;
}

std::optional<AtaSector> FilterReplyData(std::span<const std::uint8_t> buffer,
                                         std::size_t returned) {
  constexpr std::size_t kEnd = kFilterDataOffset + kAtaSectorBytes;
  if (returned < kEnd || buffer.size() < kEnd) return std::nullopt;
  AtaSector data;
  std::copy_n(buffer.begin() + kFilterDataOffset, data.size(), data.begin());
  return data;
}

std::array<std::uint8_t, 16> IdentifyCdb12() {
  return {0xA1, 0x08, 0x0D, 0x01, 0, 0, 0, 0, 0, kIdentifyCommand};
}

std::array<std::uint8_t, 16> IdentifyCdb16() {
  return {0x85, 0x09, 0x0D, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, kIdentifyCommand};
}

std::array<std::uint8_t, 16> SmartReadCdb12(std::uint8_t subCommand) {
  return {0xA1, 0x08,         0x0E,          subCommand, 0x01,
          0x01, kSmartLbaMid, kSmartLbaHigh, 0xA0,       kSmartCommand};
}

std::array<std::uint8_t, 16> SmartReadCdb16(std::uint8_t subCommand) {
  return {0x85, 0x09, 0x0E,         0x00, subCommand,    0x00, 0x01,          0x00,
          0x01, 0x00, kSmartLbaMid, 0x00, kSmartLbaHigh, 0xA0, kSmartCommand, 0x00};
}

std::uint32_t PassThroughIdentify(Disk* disk, std::span<std::uint8_t, kAtaSectorBytes> identify) {
  if (!disk) return kPanelBadHandle;
  // A medium that is not ready is reported as a failure and nothing is sent; the buffer keeps what
  // it held rather than passing stale bytes off as the drive's answer.
  if (Status s = disk->CheckVerify(); !s.ok()) {
    KeepErrno(s);
    return kPanelPassThroughFailed;
  }
  std::fill(identify.begin(), identify.end(), 0);
  Status why;
  if (PassThrough16(disk, IdentifyCdb12(), true, identify, &why) == kPanelOk) return kPanelOk;
  std::fill(identify.begin(), identify.end(), 0);
  std::uint32_t result = PassThrough16(disk, IdentifyCdb16(), true, identify, &why);
  KeepErrno(why);
  return result;
}

SmartOutcome ReadSmart(DeviceEnv& env, int driveNumber, const SmartOutputs& out) {
  SmartOutcome outcome;
  // SG_IO reads on a read-only descriptor; a write-opened disk would make udev rescan at close.
  auto disk = env.OpenDisk(driveNumber, DiskAccess::kRead);
  if (!disk.ok()) {
    outcome.why = disk.status();
    return outcome;
  }
  ScsiAddress address{};
  if (auto a = env.GetScsiAddress(driveNumber); a.ok()) address = *a;
  SataFilterInfo filter = SataFilterOfDrive(env, driveNumber, true);
  if (filter.state != kNotSiliconImageHost && filter.portPath) {
    ReadOverFilter(env, *filter.portPath, address, out, outcome);
  } else if (!ReadOverPlatform(**disk, out, outcome)) {
    ReadOverBridge(**disk, out, outcome);
  }
  return outcome;
}

}  // namespace kuv

extern "C" std::int32_t GetSmartInfo(std::int32_t driveNumber, std::uint8_t* thresholds,
                                     std::uint8_t* data, char16_t* serial) {
  errno = 0;
  kuv::SmartOutcome outcome = kuv::ReadSmart(
      kuv::Env(), driveNumber, {.thresholds = thresholds, .data = data, .serial = serial});
  if (!outcome.capable) kuv::KeepErrno(outcome.why);
  return outcome.capable ? 1 : 0;
}
