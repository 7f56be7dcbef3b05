#pragma once
// One request record in, the same record out: the policy decides, then one export of panelio per
// command does the work and `result` and `lastError` carry its answer back.

#include <functional>
#include <string>

#include "common/request_record.h"
#include "panelsvc/device_ops.h"
#include "panelsvc/peer_identity.h"
#include "panelsvc/scan_ties.h"
#include "panelsvc/service_log.h"

namespace kuv::svc {

// A log line about what a peer asked; the uid lets the log hold each user to a share.
using PeerLog = std::function<void(UserId uid, LogKind kind, const std::string& line)>;

// Escapes the line and writes it to standard error, without a share.
void LogUnlimited(UserId uid, LogKind kind, const std::string& line);

struct DispatchContext {
  const DeviceOps* ops;
  PeerLog log = LogUnlimited;
  // The panels each client's scan has tied so far; null: every command 1 stands alone.
  ScanTies* scanTies = nullptr;
};

// Serves one record in place. Codes 1 to 11 do their operation (3 and 4 alike; 10 leaves `result`
// as sent), 12 and 13 the power-mode aware reads; any other code does nothing. `lastError` is
// the system's last error right after the operation (LastSystemError). A refused record gets the
// operation's failure value in `result`, the rest left as sent, and a log line naming the peer;
// so does every change made on a volume or to the autostart entry.
void Dispatch(RequestRecord& record, const Peer& peer, const DispatchContext& context);

}  // namespace kuv::svc
