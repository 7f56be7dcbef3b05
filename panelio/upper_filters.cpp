#include "panelio/upper_filters.h"

#include <algorithm>

namespace kuv {

namespace {

char16_t FoldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

}  // namespace

std::vector<std::u16string> ParseMultiString(std::span<const std::uint8_t> bytes) {
  std::vector<std::u16string> strings;
  std::u16string current;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    auto unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (unit != u'\0') {
      current.push_back(unit);
    } else if (current.empty()) {
      return strings;  // the empty string ends the list
    } else {
      strings.push_back(std::move(current));
      current.clear();
    }
  }
  if (!current.empty()) strings.push_back(std::move(current));
  return strings;
}

std::vector<std::uint8_t> EncodeMultiString(std::span<const std::u16string> strings) {
  std::vector<std::uint8_t> bytes;
  auto put = [&bytes](char16_t unit) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  };
  for (const auto& s : strings) {
    if (s.empty()) continue;
    for (char16_t unit : s) put(unit);
    put(u'\0');
  }
  put(u'\0');
  return bytes;
}

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char16_t a, char16_t b) { return FoldAscii(a) == FoldAscii(b); });
}

bool IsSataFilterEntry(std::u16string_view entry) {
  return StartsWithIgnoringCase(entry, kSataFilterName);
}

bool HasSataFilter(std::span<const std::uint8_t> upperFilters) {
  auto entries = ParseMultiString(upperFilters);
  return std::any_of(entries.begin(), entries.end(),
                     [](const std::u16string& e) { return IsSataFilterEntry(e); });
}

bool IsSiliconImageAdapter(std::span<const std::u16string> hardwareIds) {
  return std::any_of(hardwareIds.begin(), hardwareIds.end(), [](const std::u16string& id) {
    return std::any_of(
        std::begin(kSiliconImageHardwareIds), std::end(kSiliconImageHardwareIds),
        [&id](std::u16string_view prefix) { return StartsWithIgnoringCase(id, prefix); });
  });
}

std::int32_t SataFilterState(std::span<const std::u16string> hardwareIds,
                             std::optional<std::span<const std::uint8_t>> upperFilters) {
  if (!IsSiliconImageAdapter(hardwareIds)) return 4;
  return upperFilters && HasSataFilter(*upperFilters) ? 5 : 6;
}

std::optional<std::vector<std::uint8_t>> AddSataFilter(
    std::optional<std::span<const std::uint8_t>> upperFilters) {
  std::vector<std::u16string> entries;
  if (upperFilters) entries = ParseMultiString(*upperFilters);
  if (std::any_of(entries.begin(), entries.end(),
                  [](const std::u16string& e) { return IsSataFilterEntry(e); })) {
    return std::nullopt;
  }
  // In front, so the filter sits directly above the adapter's own driver.
  entries.insert(entries.begin(), std::u16string(kSataFilterName));
  return EncodeMultiString(entries);
}

std::optional<std::vector<std::uint8_t>> RemoveSataFilter(
    std::optional<std::span<const std::uint8_t>> upperFilters) {
  if (!upperFilters) return std::nullopt;
  auto entries = ParseMultiString(*upperFilters);
  // Whole entries go, never a fixed 22 bytes: a longer entry that merely begins with the name
  // would otherwise leave its tail behind as a bogus filter.
  auto removed =
      std::erase_if(entries, [](const std::u16string& e) { return IsSataFilterEntry(e); });
  if (removed == 0) return std::nullopt;
  return EncodeMultiString(entries);
}

}  // namespace kuv
