#pragma once
// The program's profile in the registry, as the Windows program keeps it: the key
// HKEY_CURRENT_USER\Software\TAVIO\KuvLcdManager with one subkey per section, strings as REG_SZ and
// numbers as REG_DWORD.

#include <string>

#include "app/model/profile_store.h"

namespace kuv {

inline constexpr wchar_t kProfileKey[] = L"Software\\TAVIO\\KuvLcdManager";

class RegistryProfileStore : public ProfileStore {
 public:
  // The store under HKEY_CURRENT_USER\key (tests pass a key of their own).
  explicit RegistryProfileStore(std::wstring key = kProfileKey);

  // A REG_SZ value; nullopt when missing or of another type.
  std::optional<std::u16string> ReadString(const std::u16string& section,
                                           const std::u16string& name) const override;
  // A REG_DWORD value (its bits as a signed number); a REG_SZ holding a decimal number is read
  // too, as a hand-edited profile may hold one.
  std::optional<std::int32_t> ReadInt(const std::u16string& section,
                                      const std::u16string& name) const override;
  bool WriteString(const std::u16string& section, const std::u16string& name,
                   const std::u16string& value) override;
  bool WriteInt(const std::u16string& section, const std::u16string& name,
                std::int32_t value) override;
  // The registry writes through on its own; RegFlushKey would only stall the caller.
  bool Flush() override { return true; }

 private:
  bool Write(const std::u16string& section, const std::u16string& name, unsigned long type,
             const void* data, unsigned long size);

  std::wstring key_;
};

}  // namespace kuv
