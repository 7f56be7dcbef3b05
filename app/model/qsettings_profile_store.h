#pragma once
// The program's profile behind QSettings("TAVIO", "KuvLcdManager"): the registry key
// HKEY_CURRENT_USER\Software\TAVIO\KuvLcdManager on Windows, ~/.config/TAVIO/KuvLcdManager.conf
// on Linux, one group per section.

#include <memory>

#include "app/model/profile_store.h"

class QSettings;

namespace kuv {

class QSettingsProfileStore : public ProfileStore {
 public:
  QSettingsProfileStore();
  // A store kept in the INI file at path, for tools and tests that must not touch the user's.
  explicit QSettingsProfileStore(const std::string& iniPath);
  ~QSettingsProfileStore() override;
  QSettingsProfileStore(const QSettingsProfileStore&) = delete;
  QSettingsProfileStore& operator=(const QSettingsProfileStore&) = delete;

  std::optional<std::u16string> ReadString(const std::u16string& section,
                                           const std::u16string& name) const override;
  std::optional<std::int32_t> ReadInt(const std::u16string& section,
                                      const std::u16string& name) const override;
  bool WriteString(const std::u16string& section, const std::u16string& name,
                   const std::u16string& value) override;
  bool WriteInt(const std::u16string& section, const std::u16string& name,
                std::int32_t value) override;
  bool Flush() override;

 private:
  std::unique_ptr<QSettings> settings_;
};

}  // namespace kuv
