#include <windows.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/model/registry_profile_store.h"

namespace kuv {
namespace {

const wchar_t* W(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// One open key, closed with its scope.
struct Key {
  HKEY handle = nullptr;
  ~Key() {
    if (handle) RegCloseKey(handle);
  }
};

// The value's type and bytes; nullopt when the section or the value is missing.
std::optional<std::pair<DWORD, std::vector<BYTE>>> Query(const std::wstring& key,
                                                         const std::u16string& section,
                                                         const std::u16string& name) {
  Key opened;
  const std::wstring path = key + L"\\" + W(section);
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &opened.handle) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  // The value may grow between the size query and the read; ask again then.
  for (int tries = 0; tries < 3; ++tries) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(opened.handle, W(name), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    std::vector<BYTE> data(size);
    LONG status = RegQueryValueExW(opened.handle, W(name), nullptr, &type, data.data(), &size);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return std::nullopt;
    data.resize(size);
    return std::make_pair(type, std::move(data));
  }
  return std::nullopt;
}

// A REG_SZ's text: the bytes need not end in a NUL, and any after the first NUL are not text.
std::u16string StringOf(const std::vector<BYTE>& data) {
  std::u16string text(data.size() / 2, u'\0');
  std::memcpy(text.data(), data.data(), text.size() * 2);
  if (auto nul = text.find(u'\0'); nul != std::u16string::npos) text.resize(nul);
  return text;
}

}  // namespace

RegistryProfileStore::RegistryProfileStore(std::wstring key) : key_(std::move(key)) {}

std::optional<std::u16string> RegistryProfileStore::ReadString(const std::u16string& section,
                                                               const std::u16string& name) const {
  auto value = Query(key_, section, name);
  if (!value || (value->first != REG_SZ && value->first != REG_EXPAND_SZ)) return std::nullopt;
  return StringOf(value->second);
}

std::optional<std::int32_t> RegistryProfileStore::ReadInt(const std::u16string& section,
                                                          const std::u16string& name) const {
  auto value = Query(key_, section, name);
  if (!value) return std::nullopt;
  if (value->first == REG_DWORD && value->second.size() == sizeof(DWORD)) {
    DWORD number = 0;
    std::memcpy(&number, value->second.data(), sizeof number);
    return static_cast<std::int32_t>(number);
  }
  if (value->first != REG_SZ) return std::nullopt;
  const std::u16string text = StringOf(value->second);
  std::string digits(text.begin(), text.end());
  if (text.empty() || digits.size() != text.size()) return std::nullopt;
  std::int64_t number = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size() || number < INT32_MIN ||
      number > UINT32_MAX) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
}

bool RegistryProfileStore::Write(const std::u16string& section, const std::u16string& name,
                                 unsigned long type, const void* data, unsigned long size) {
  Key opened;
  const std::wstring path = key_ + L"\\" + W(section);
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, &opened.handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExW(opened.handle, W(name), 0, type, static_cast<const BYTE*>(data), size) ==
         ERROR_SUCCESS;
}

bool RegistryProfileStore::WriteString(const std::u16string& section, const std::u16string& name,
                                       const std::u16string& value) {
  // The terminating NUL is part of a REG_SZ's bytes.
  return Write(section, name, REG_SZ, value.c_str(),
               static_cast<unsigned long>((value.size() + 1) * sizeof(char16_t)));
}

bool RegistryProfileStore::WriteInt(const std::u16string& section, const std::u16string& name,
                                    std::int32_t value) {
  const DWORD number = static_cast<DWORD>(value);
  return Write(section, name, REG_DWORD, &number, sizeof number);
}

std::unique_ptr<ProfileStore> OpenUserProfile() {
  return std::make_unique<RegistryProfileStore>();
}

}  // namespace kuv
