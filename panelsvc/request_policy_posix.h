#pragma once
// How commands 5, 6 and 7 reach the folder they act in here, on descriptors (Windows opens
// relative to handles, in volume_files_windows.cpp).

#include <cstdint>
#include <optional>
#include <string>

#include "panelio/unique_fd.h"
#include "panelsvc/request_policy.h"

namespace kuv::svc {

// The folder a file request acts in, already open, and the one name in it the operation may
// touch. Later steps work relative to `folder` only, so a name swapped after this point cannot
// steer them outside the volume.
struct OpenedTarget {
  UniqueFd folder;   // O_PATH: 5 the volume's mount point, 6 and 7 its TAVIO_LCDMANAGER folder
  std::string name;  // 5 TAVIO_LCDMANAGER, 6 and 7 the file's name
  std::string path;  // the whole path, for the log
};
struct TargetOpen {
  std::optional<OpenedTarget> target;
  std::string refusal;  // set when a component is a link or not a folder
  int error = 0;        // errno when target is empty
};

// Opens the mount point one component at a time from the root, never following a link, then (6,
// 7) the folder in it the same way, with the thread's identity: every folder on the way must let
// the caller search it. A missing folder or a permission the caller lacks is an error, not a
// refusal: the operation reports it as it would any failure.
TargetOpen OpenTarget(std::int32_t command, const TargetPath& target);

}  // namespace kuv::svc
