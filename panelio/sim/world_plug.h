#pragma once
// Plugging and unplugging simulated devices: a disk goes together with the HID panels tied to it
// (a drive tray), an HID panel together with its disk. world.json keeps what is unplugged under
// "unplugged", which the world reader ignores, so a device can come back as it was.

#include <string>
#include <string_view>

#include "panelio/env.h"

namespace kuv::sim {

// The world text with the device named `name` (a disk's name, "disk<number>", its bridge panel's
// name or an HID panel's name) moved in (plug) or out. Errors: ENOENT no such device, EALREADY
// already in that state, EEXIST its drive number or panel name is taken, EINVAL not a world.
Result<std::string> ChangePlug(std::string_view worldText, const std::string& name, bool plug);

// ChangePlug on <worldDir>/world.json, replaced in one step under the world's lock.
Status PlugDevice(const std::string& worldDir, const std::string& name, bool plug);

}  // namespace kuv::sim
