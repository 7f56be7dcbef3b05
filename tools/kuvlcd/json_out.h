#pragma once
// JSON pieces several kuvlcd verbs print the same way.

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "common/drive_record.h"

namespace kuv::cli {

// Lower-case hexadecimal, two digits a byte, no separators.
std::string Hex(const std::uint8_t* bytes, std::size_t size);

// Every field of the drive record under its own name; the S.M.A.R.T. sectors as hex strings.
nlohmann::ordered_json DriveRecordJson(const DriveRecord& record);

}  // namespace kuv::cli
