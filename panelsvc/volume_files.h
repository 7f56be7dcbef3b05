#pragma once
// Commands 5, 6 and 7 inside a folder the policy has opened. Nothing is looked up by its whole
// path again, no link is followed and nothing that could block (a FIFO) is opened, so a client
// that swaps names while the service works can neither hang it nor steer it off the volume. The
// changes themselves are made with the client's own identity, so the kernel decides whether the
// client may make them.

#include <cstdint>
#include <span>
#include <string>

#include "panelsvc/device_ops.h"
#include "panelsvc/peer_identity.h"
#include "panelsvc/request_policy.h"

namespace kuv::svc {

struct FileAnswer {
  std::int32_t result = 0;
  int error = 0;        // errno of the failed step; 0 on success
  std::string refusal;  // set when the name held something the command does not act on
};

// Creates the folder as the client (so it is the client's, and only where the client could create
// it), then marks it hidden through ops.setHidden. result 1 when created and marked, else 0
// (also when it already exists).
FileAnswer CreateLcdFolder(const OpenedTarget& target, const Peer& peer, const DeviceOps& ops);

// Appends data to the regular file, creating it (as the client) when missing. result 1 when all
// of it was written, else 0.
FileAnswer AppendLcdFile(const OpenedTarget& target, const Peer& peer,
                         std::span<const std::uint8_t> data);

// Deletes the regular file as the client. result 1 when deleted, else -1.
FileAnswer DeleteLcdFile(const OpenedTarget& target, const Peer& peer);

}  // namespace kuv::svc
