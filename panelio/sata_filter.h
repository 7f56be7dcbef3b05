#pragma once
// Whether a drive sits on a Silicon Image adapter and whether the SATA filter is in that adapter's
// upper filters; the adapter's storage port for the filter's requests.

#include <cstdint>
#include <optional>
#include <string>

#include "panelio/env.h"

namespace kuv {

struct SataFilterInfo {
  std::int32_t state = 4;               // 4 not on such an adapter, 5 with the filter, 6 without
  std::optional<std::string> portPath;  // asked for, on such an adapter, and a port matched
};

// The filter state of a drive and, when wantPort, the interface path of its adapter's storage
// port (the one whose physical-device-object name equals the adapter's). Failures answer state 4.
SataFilterInfo SataFilterOfDrive(DeviceEnv& env, int driveNumber, bool wantPort);

// Adds the filter in front of (add) or removes it from every Silicon Image adapter's list. True
// when at least one list was written; a failed write leaves that adapter alone and goes on, its
// reason kept in *why when given.
bool ModifySataFilterLists(DeviceEnv& env, bool add, Status* why = nullptr);

}  // namespace kuv
