#include "app/model/profile_store.h"

namespace kuv {

std::optional<std::u16string> MemoryProfileStore::ReadString(const std::u16string& section,
                                                             const std::u16string& name) const {
  auto it = strings_.find({section, name});
  if (it == strings_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::int32_t> MemoryProfileStore::ReadInt(const std::u16string& section,
                                                        const std::u16string& name) const {
  auto it = ints_.find({section, name});
  if (it == ints_.end()) return std::nullopt;
  return it->second;
}

bool MemoryProfileStore::WriteString(const std::u16string& section, const std::u16string& name,
                                     const std::u16string& value) {
  ints_.erase({section, name});
  strings_[{section, name}] = value;
  writeLog_.push_back(name);
  return true;
}

bool MemoryProfileStore::WriteInt(const std::u16string& section, const std::u16string& name,
                                  std::int32_t value) {
  strings_.erase({section, name});
  ints_[{section, name}] = value;
  writeLog_.push_back(name);
  return true;
}

}  // namespace kuv
