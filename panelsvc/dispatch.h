#pragma once
// One request record in, the same record out: the policy decides, then one export of panelio per
// command does the work and `result` and `lastError` carry its answer back.

#include <functional>
#include <string>
#include <vector>

#include "common/request_record.h"
#include "panelsvc/device_ops.h"
#include "panelsvc/peer_identity.h"

namespace kuv::svc {

// Writes one line to the service's log (standard error, which the journal keeps).
void LogLine(const std::string& line);

struct DispatchContext {
  const DeviceOps* ops;
  std::function<void(const std::string&)> log = LogLine;
};

// Serves one record in place. Codes 1 to 11 call their export (3 and 4 alike; 10 leaves `result`
// as sent), 12 and 13 the power-mode aware reads; any other code calls nothing. `lastError` is
// errno right after the operation. A refused record gets the operation's failure value in `result`,
// the rest left as sent, and a log line naming the peer.
void Dispatch(RequestRecord& record, const Peer& peer, const DispatchContext& context);

}  // namespace kuv::svc
