#pragma once
// JSON pieces several kuvlcd verbs print the same way, so that the same thing has the same key in
// every verb: numbers as numbers, and beside a state's number its name under "<key>Name".

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "common/drive_record.h"

namespace kuv::cli {

// Lower-case hexadecimal, two digits a byte, no separators.
std::string Hex(const std::uint8_t* bytes, std::size_t size);

// Names of the record's states, for scripts: stable, lower case, never translated.
std::string ConnectionStateName(std::int32_t state);
std::string FileSystemTypeName(std::int32_t type);
std::string HealthName(std::int32_t health);
std::string LcdDataTypeName(std::int32_t type);

// Every field of the drive record under its own name, but the mount point `driveLetter` holds
// here under "mountPoint"; the states also by name; the S.M.A.R.T. sectors as hex strings when
// withSectors.
nlohmann::ordered_json DriveRecordJson(const DriveRecord& record, bool withSectors = true);

}  // namespace kuv::cli
