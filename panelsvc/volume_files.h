#pragma once
// Commands 5, 6 and 7 on a path the policy accepted. The path is walked from the root and the
// change made under the client's own file-system identity and groups (on Windows, impersonating
// the client), so the system checks every folder on the way as the client's: a client can neither
// reach nor learn about anything it could not reach itself. Nothing is looked up by its whole path
// below the volume's root, no link or reparse point is followed and nothing that could block (a
// FIFO) is opened, so a client that swaps names while the service works can neither hang it nor
// steer it off the volume.

#include <cstdint>
#include <span>
#include <string>

#include "panelsvc/device_ops.h"
#include "panelsvc/peer_identity.h"
#include "panelsvc/request_policy.h"

namespace kuv::svc {

struct FileAnswer {
  std::int32_t result = 0;
  int error = 0;        // the system's error of the failed step; 0 on success
  std::string refusal;  // set when the path held something the command does not act on
};

// Does command 5, 6 or 7 on target for peer; data is what command 6 appends.
//   5: creates the folder (so it is the client's, and only where the client could create it),
//      then marks it hidden through ops.setHidden (on Windows on its own handle); result 1 when
//      created and marked, else 0 (also when it already exists).
//   6: appends data to the regular file, creating it when missing; result 1 when all of it was
//      written, else 0.
//   7: deletes the regular file; result 1 when deleted, else -1.
// A link or anything but a folder on the way, or anything but a regular file as the file, is a
// refusal; every other failure (a missing name, a permission the client lacks) is an error.
FileAnswer ServeFileCommand(std::int32_t command, const TargetPath& target, const Peer& peer,
                            std::span<const std::uint8_t> data, const DeviceOps& ops);

}  // namespace kuv::svc
