#pragma once
// An HID interface opened through hidapi, as every real-device backend reaches panels.

#include <memory>
#include <string>

#include "panelio/env.h"

namespace kuv {

// Opens path with hid_open_path (hid_init done by the caller); errno's reason when it fails.
Result<std::unique_ptr<HidDevice>> OpenHidapiDevice(const std::string& path,
                                                    const std::string& name = "");

}  // namespace kuv
