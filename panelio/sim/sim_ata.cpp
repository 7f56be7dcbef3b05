#include "panelio/sim/sim_ata.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "panelio/unique_fd.h"

namespace kuv::sim {
namespace {

constexpr std::uint32_t kFilterIdentify = 0x1B0501;
constexpr std::uint32_t kFilterReadData = 0x1B0502;
constexpr std::uint32_t kFilterReadThresholds = 0x1B0503;
constexpr std::uint32_t kFilterEnable = 0x1B0504;

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
  return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
         std::uint32_t{b[at + 3]} << 24;
}

Status ReadSectorFile(const std::string& path, std::span<std::uint8_t> out, const char* what) {
  if (path.empty()) return Status(EIO, std::string("no ") + what + " data");
  UniqueFd fd(OpenFd(path, O_RDONLY));
  if (!fd.valid()) return PosixError("open " + path, errno);
  std::uint8_t sector[512] = {};
  std::ptrdiff_t n = PreadFull(fd.get(), sector, 0);
  if (n != static_cast<std::ptrdiff_t>(sizeof sector))
    return PosixError("read " + path + ": not a 512-byte sector", n < 0 ? errno : EIO);
  std::copy_n(sector, out.size() < 512 ? out.size() : 512, out.begin());
  return {};
}

bool IsSmart(const AtaTaskFile& r) {
  return r.command == 0xB0 && r.lbaMid == 0x4F && r.lbaHigh == 0xC2;
}

}  // namespace

std::optional<AtaTaskFile> AtaFromPassThrough(std::span<const std::uint8_t> cdb) {
  AtaTaskFile r;
  if (cdb.size() >= 12 && cdb[0] == 0xA1) {
    r.features = cdb[3];
    r.sectorCount = cdb[4];
    r.lbaLow = cdb[5];
    r.lbaMid = cdb[6];
    r.lbaHigh = cdb[7];
    r.device = cdb[8];
    r.command = cdb[9];
    return r;
  }
  if (cdb.size() >= 16 && cdb[0] == 0x85) {
    r.features = cdb[4];
    r.sectorCount = cdb[6];
    r.lbaLow = cdb[8];
    r.lbaMid = cdb[10];
    r.lbaHigh = cdb[12];
    r.device = cdb[13];
    r.command = cdb[14];
    return r;
  }
  return std::nullopt;
}

bool PassThroughReadsData(std::span<const std::uint8_t> cdb) {
  return cdb.size() >= 3 && (cdb[2] & 0x08) != 0 && (cdb[2] & 0x03) != 0;
}

std::optional<FilterRequest> ParseFilterRequest(std::span<const std::uint8_t> in) {
  if (in.size() < kFilterRequestIn) return std::nullopt;
  if (Le32(in, 0) != 28 || std::memcmp(in.data() + 4, "QM_SATA_", 8) != 0) return std::nullopt;
  FilterRequest req;
  req.controlCode = Le32(in, 16);
  req.pathId = in[32];
  req.targetId = in[33];
  const std::uint8_t* regs = in.data() + 61;
  req.registers = {regs[0], regs[1], regs[2], regs[3], regs[4], regs[5], regs[6]};
  const AtaTaskFile& r = req.registers;
  bool agrees = false;
  switch (req.controlCode) {
    case kFilterIdentify:
      agrees = r.command == 0xEC;
      break;
    case kFilterReadData:
      agrees = IsSmart(r) && r.features == 0xD0;
      break;
    case kFilterReadThresholds:
      agrees = IsSmart(r) && r.features == 0xD1;
      break;
    case kFilterEnable:
      agrees = IsSmart(r) && r.features == 0xD8;
      break;
    default:
      break;
  }
  if (!agrees) return std::nullopt;
  return req;
}

Status AnswerAta(const Disk& disk, const AtaTaskFile& r, std::span<std::uint8_t> dataIn) {
  if (r.command == 0xEC) {
    if (dataIn.size() < 512) return Status(EINVAL, "IDENTIFY needs 512 bytes");
    return ReadSectorFile(disk.identify, dataIn, "IDENTIFY");
  }
  if (IsSmart(r)) {
    switch (r.features) {
      case 0xD0:
        if (dataIn.size() < 512) return Status(EINVAL, "SMART READ DATA needs 512 bytes");
        return ReadSectorFile(disk.smartData, dataIn, "S.M.A.R.T.");
      case 0xD1:
        if (dataIn.size() < 512) return Status(EINVAL, "SMART READ THRESHOLDS needs 512 bytes");
        return ReadSectorFile(disk.smartThresholds, dataIn, "threshold");
      case 0xD8:
      case 0xDA:
        if (disk.smartData.empty()) return Status(EIO, "S.M.A.R.T. not supported");
        return {};
      default:
        break;
    }
  }
  return Status(EIO, "ATA command aborted");
}

}  // namespace kuv::sim
