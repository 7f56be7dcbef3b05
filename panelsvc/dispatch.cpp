#include "panelsvc/dispatch.h"

#include <string>

#include "panelsvc/platform.h"
#include "panelsvc/request_policy.h"
#include "panelsvc/service_log.h"
#include "panelsvc/volume_files.h"

namespace kuv::svc {

namespace {

void Refuse(RequestRecord& record, const Peer& peer, const DispatchContext& context,
            const std::string& reason, int error) {
  record.result = RefusedResult(record.command);
  record.lastError = static_cast<std::uint32_t>(error);
  context.log(
      peer.uid, LogKind::kRefusal,
      "refused command " + std::to_string(record.command) + " from " + Describe(peer) + ": " + reason);
}

void ServeFileRequest(RequestRecord& record, const Peer& peer, const DispatchContext& context) {
  const bool write = record.command == kCmdWriteFile;
  TargetCheck check = CheckTargetPath(record.command, write ? record.WritePath() : record.Path(),
                                      context.ops->mountPoints());
  if (!check.target) {
    Refuse(record, peer, context, check.refusal, AccessDeniedError());
    return;
  }
  // CheckRecordFields has refused a command 6 length outside the field.
  const std::span<const std::uint8_t> data =
      write ? *record.WriteData() : std::span<const std::uint8_t>();
  FileAnswer answer = ServeFileCommand(record.command, *check.target, peer, data, *context.ops);
  if (!answer.refusal.empty()) {
    Refuse(record, peer, context, answer.refusal, answer.error);
    return;
  }
  record.result = answer.result;
  record.lastError = static_cast<std::uint32_t>(answer.error);
  if (answer.error != 0) return;
  const std::string done = record.command == kCmdCreateDirectory ? "created "
                           : write ? "appended " + std::to_string(data.size()) + " bytes to "
                                   : "deleted ";
  context.log(peer.uid, LogKind::kChange, done + check.target->path + " for " + Describe(peer));
}

}  // namespace

void LogUnlimited(UserId, LogKind, const std::string& line) {
  LogLine(EscapeForLog(line));
}

void Dispatch(RequestRecord& record, const Peer& peer, const DispatchContext& context) {
  if (Refusal refusal = CheckRecordFields(record)) {
    Refuse(record, peer, context, *refusal, InvalidArgumentError());
    return;
  }
  const DeviceOps& ops = *context.ops;
  const std::int32_t drive = record.driveNumber;
  ClearSystemError();
  int error = 0;
  switch (record.command) {
    case kCmdGetLcdInfo:
      if (context.scanTies && ops.getLcdInfoInScan) {
        const std::vector<std::string> elsewhere =
            context.scanTies->Before(peer.pid, drive, ScanTies::Clock::now());
        record.result = ops.getLcdInfoInScan(drive, &record.driveInfo, elsewhere);
        error = LastSystemError();
        context.scanTies->After(peer.pid, drive, record.result, record.driveInfo);
      } else {
        record.result = ops.getLcdInfo(drive, &record.driveInfo);
        error = LastSystemError();
      }
      break;
    case kCmdSendLineData:
      record.result =
          static_cast<std::int32_t>(ops.lcdSendLineData(drive & 0xFF, &record.lineRecords[0][0]));
      error = LastSystemError();
      break;
    case kCmdAddSataFilter:
    case kCmdAddSataFilterToo:
      record.result = ops.modifyFilterSilHost(1);
      error = LastSystemError();
      break;
    case kCmdCreateDirectory:
    case kCmdWriteFile:
    case kCmdDeleteFile:
      ServeFileRequest(record, peer, context);
      return;
    case kCmdStopLcdTimer:
      record.result = static_cast<std::int32_t>(ops.stopLcdTimer(drive));
      error = LastSystemError();
      break;
    case kCmdGetSmartInfo:
      record.result = ops.getSmartInfo(drive, record.driveInfo.smartThresholds,
                                       record.driveInfo.smartData, record.driveInfo.serialNumber);
      error = LastSystemError();
      break;
    case kCmdGetSmartUnlessAsleep:
      if (!ops.getSmartUnlessAsleep) break;
      record.result =
          ops.getSmartUnlessAsleep(drive, record.driveInfo.smartThresholds,
                                   record.driveInfo.smartData, record.driveInfo.serialNumber);
      error = LastSystemError();
      break;
    case kCmdGetPowerMode:
      if (!ops.getPowerMode) break;
      record.result = ops.getPowerMode(drive);
      error = LastSystemError();
      break;
    case kCmdSetAutorun: {
      const bool on = (record.autorun & 0xFF) == 1;
      const std::int32_t answer = ops.setAutorun(record.autorun);
      error = LastSystemError();
      if (answer == 0) {
        context.log(
            peer.uid, LogKind::kChange,
            std::string(on ? "registered" : "removed") + " the automatic start for " + Describe(peer));
      }
      break;
    }
    case kCmdGetSizeFromSector:
      record.result = ops.getSizeFromSector(drive, &record.driveInfo);
      error = LastSystemError();
      break;
    default:
      break;
  }
  record.lastError = static_cast<std::uint32_t>(error);
}

}  // namespace kuv::svc
