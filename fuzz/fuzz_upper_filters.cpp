// Upper-filter lists come from the device tree, written by any installer: editing them must never
// read past their end, and adding then removing the filter must behave whatever the list holds.
#include <cstddef>
#include <cstdint>
#include <span>

#include "panelio/upper_filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> list(data, size);
  auto entries = kuv::ParseMultiString(list);
  if (kuv::ParseMultiString(kuv::EncodeMultiString(entries)) != entries) __builtin_trap();
  (void)kuv::IsSiliconImageAdapter(entries);

  bool had = kuv::HasSataFilter(list);
  auto added = kuv::AddSataFilter(list);
  if (had != !added) __builtin_trap();
  std::span<const std::uint8_t> withFilter = added ? std::span<const std::uint8_t>(*added) : list;
  if (!kuv::HasSataFilter(withFilter) || kuv::AddSataFilter(withFilter)) __builtin_trap();

  auto removed = kuv::RemoveSataFilter(withFilter);
  if (!removed || kuv::HasSataFilter(*removed) || kuv::RemoveSataFilter(*removed)) __builtin_trap();
  if (kuv::SataFilterState(entries, *removed) == 5) __builtin_trap();
  return 0;
}
