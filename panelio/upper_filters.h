#pragma once
// The SATA filter's place in a host adapter's upper-filter list. Drives on some Silicon Image SATA
// adapters answer S.M.A.R.T. only through our filter driver, which must be named in the adapter's
// upper-filter list. The lists are multi-strings as the Windows programs store them (UTF-16LE
// strings each ending in NUL, the list ending in an empty string); this file edits them as bytes
// so every backend (Windows, the simulator) writes exactly the same lists.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kuv {

inline constexpr std::u16string_view kSataFilterName = u"KuvSATAFil";
inline constexpr std::size_t kSataFilterEntryBytes = 22;  // 10 units and the NUL

// The host adapters that need the filter, by hardware-id prefix.
inline constexpr std::u16string_view kSiliconImageHardwareIds[] = {
    u"PCI\\ven_1095&dev_3132", u"PCI\\ven_1095&dev_3124", u"PCI\\ven_1095&dev_3512"};

// The strings of a multi-string, up to (not including) the first empty one. Tolerant of what
// other writers leave: a last string without its NUL is kept, a missing list terminator is fine,
// an odd trailing byte and anything after the terminator are ignored. Never reads past bytes.
std::vector<std::u16string> ParseMultiString(std::span<const std::uint8_t> bytes);

// The well-formed multi-string of the strings (each with its NUL, then the empty string). Empty
// strings cannot be held by a multi-string and are left out.
std::vector<std::uint8_t> EncodeMultiString(std::span<const std::u16string> strings);

// ASCII case-insensitive prefix test, the way the platform compares device ids.
bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix);

// An entry counts as the filter when its first 10 characters are "KuvSATAFil" in any case.
bool IsSataFilterEntry(std::u16string_view entry);

// True when the upper-filter list (multi-string bytes) names the filter.
bool HasSataFilter(std::span<const std::uint8_t> upperFilters);

// True when one of the device's hardware ids begins with a Silicon Image prefix in any case.
bool IsSiliconImageAdapter(std::span<const std::u16string> hardwareIds);

// The filter state of a drive from the hardware ids and upper-filter list of its adapter (the
// parent of the disk's device node): 4 not a Silicon Image adapter, 5 with the filter, 6 without.
// upperFilters is nullopt when the adapter has no list.
std::int32_t SataFilterState(std::span<const std::u16string> hardwareIds,
                             std::optional<std::span<const std::uint8_t>> upperFilters);

// The list to write back after adding the filter in front, or nullopt when nothing need be
// written (it is already there). upperFilters is nullopt when the adapter has no list; the answer
// is then a list holding only the filter. A well-formed list grows by exactly the filter's 22 bytes
// in front; a malformed one is written back well-formed.
std::optional<std::vector<std::uint8_t>> AddSataFilter(
    std::optional<std::span<const std::uint8_t>> upperFilters);

// The list to write back after removing every filter entry, the others kept in their order, or
// nullopt when nothing need be written (no list, or no filter in it). Removing the exact entry
// from a well-formed list makes it exactly 22 bytes shorter.
std::optional<std::vector<std::uint8_t>> RemoveSataFilter(
    std::optional<std::span<const std::uint8_t>> upperFilters);

}  // namespace kuv
