#pragma once
// Drive numbers and Linux sd names: drive N is the N-th name in sd order (0 sda, 25 sdz, 26 sdaa),
// which is how the kernel hands the names out to disks in the order they appear.

#include <optional>
#include <string>
#include <string_view>

namespace kuv {

// "sda" for 0, "sdz" for 25, "sdaa" for 26; "" for a negative number.
std::string SdName(int driveNumber);

// The drive number of a whole-disk sd name ("sdaf" -> 31); nullopt for anything else, including
// partitions ("sda1") and names too long to be a real disk.
std::optional<int> SdNumber(std::string_view name);

}  // namespace kuv
