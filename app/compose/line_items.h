#pragma once
// The line item catalogue: the text each item code of a line produces, the capacity text of the
// bottom row and the length rule every line text obeys.

#include <cstdint>
#include <string>

namespace kuv {

// The capacity text of the bottom row: free space first, then capacity, from MiB values.
std::u16string FormatCapacityText(std::uint32_t freeMB, std::uint32_t totalMB);

}  // namespace kuv
