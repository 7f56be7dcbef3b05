#include "panelsvc/dispatch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "panelio/panelio.h"
#include "panelsvc/request_policy.h"

namespace kuv::svc {

namespace {

void Refuse(RequestRecord& record, const Peer& peer, const DispatchContext& context,
            const std::string& reason, int error) {
  record.result = RefusedResult(record.command);
  record.lastError = static_cast<std::uint32_t>(error);
  context.log("refused command " + std::to_string(record.command) + " from pid " +
              std::to_string(peer.pid) + " uid " + std::to_string(peer.uid) + ": " + reason);
}

// Gives the new folder to the client so the program can write its files into it; file systems
// that keep no owners refuse, which is fine.
void GiveFolderToPeer(const std::string& path, const Peer& peer) {
  if (::geteuid() != 0 || peer.uid == 0) return;
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fchown(fd, peer.uid, peer.gid);
  ::close(fd);
}

// Commands 5, 6 and 7: the checked path, or a refusal already written into the record.
std::optional<std::string> CheckedPath(RequestRecord& record, const Peer& peer,
                                       const DispatchContext& context) {
  const std::u16string_view path =
      record.command == kCmdWriteFile ? record.WritePath() : record.Path();
  const std::vector<std::string> mounts = context.ops->mountPoints();
  TargetCheck check = CheckTargetPath(record.command, path, mounts);
  if (!check.target) {
    Refuse(record, peer, context, check.refusal, EACCES);
    return std::nullopt;
  }
  if (Refusal refusal = CheckNoSymlinks(record.command, check.target->path)) {
    Refuse(record, peer, context, *refusal, EACCES);
    return std::nullopt;
  }
  return check.target->path;
}

}  // namespace

void LogLine(const std::string& line) {
  std::fprintf(stderr, "panelsvc: %s\n", line.c_str());
}

void Dispatch(RequestRecord& record, const Peer& peer, const DispatchContext& context) {
  if (Refusal refusal = CheckRecordFields(record)) {
    Refuse(record, peer, context, *refusal, EINVAL);
    return;
  }
  const DeviceOps& ops = *context.ops;
  const std::int32_t drive = record.driveNumber;
  errno = 0;
  int error = 0;
  switch (record.command) {
    case kCmdGetLcdInfo:
      record.result = ops.getLcdInfo(drive, &record.driveInfo);
      error = errno;
      break;
    case kCmdSendLineData:
      record.result =
          static_cast<std::int32_t>(ops.lcdSendLineData(drive & 0xFF, &record.lineRecords[0][0]));
      error = errno;
      break;
    case kCmdAddSataFilter:
    case kCmdAddSataFilterToo:
      record.result = ops.modifyFilterSilHost(1);
      error = errno;
      break;
    case kCmdCreateDirectory: {
      auto path = CheckedPath(record, peer, context);
      if (!path) return;
      const std::u16string wide(record.Path());
      errno = 0;
      record.result = ops.lcdCreateDirectory(wide.c_str());
      error = errno;
      if (record.result != 0) GiveFolderToPeer(*path, peer);
      break;
    }
    case kCmdWriteFile:
    case kCmdDeleteFile: {
      auto path = CheckedPath(record, peer, context);
      if (!path) return;
      const std::u16string wide(record.command == kCmdWriteFile ? record.WritePath()
                                                                : record.Path());
      ScopedPeerIdentity identity(peer);
      if (!identity.active()) {
        Refuse(record, peer, context, "could not take the client's identity", EPERM);
        return;
      }
      errno = 0;
      if (record.command == kCmdWriteFile) {
        record.result = ops.lcdWriteFile(wide.c_str(), record.WriteData().data(),
                                         static_cast<std::uint32_t>(record.WriteLength()));
      } else {
        record.result = ops.lcdDeleteFile(wide.c_str());
      }
      error = errno;
      break;
    }
    case kCmdStopLcdTimer:
      record.result = static_cast<std::int32_t>(ops.stopLcdTimer(drive));
      error = errno;
      break;
    case kCmdGetSmartInfo:
      record.result = ops.getSmartInfo(drive, record.driveInfo.smartThresholds,
                                       record.driveInfo.smartData, record.driveInfo.serialNumber);
      error = errno;
      break;
    case kCmdGetSmartUnlessAsleep:
      if (!ops.getSmartUnlessAsleep) break;
      record.result =
          ops.getSmartUnlessAsleep(drive, record.driveInfo.smartThresholds,
                                   record.driveInfo.smartData, record.driveInfo.serialNumber);
      error = errno;
      break;
    case kCmdGetPowerMode:
      if (!ops.getPowerMode) break;
      record.result = ops.getPowerMode(drive);
      error = errno;
      break;
    case kCmdSetAutorun:
      (void)ops.setAutorun(record.autorun);
      error = errno;
      break;
    case kCmdGetSizeFromSector:
      record.result = ops.getSizeFromSector(drive, &record.driveInfo);
      error = errno;
      break;
    default:
      break;
  }
  record.lastError = static_cast<std::uint32_t>(error);
}

}  // namespace kuv::svc
