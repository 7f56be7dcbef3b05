#pragma once
// The per-user profile: named sections of string and number values. The program keeps it in
// QSettings("TAVIO", "KuvLcdManager") on Linux and in the registry on Windows; tests use the
// in-memory store.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kuv {

class ProfileStore {
 public:
  virtual ~ProfileStore() = default;

  // The value, or nullopt when the section holds no such value (or one of the other kind that
  // cannot be read as this kind).
  virtual std::optional<std::u16string> ReadString(const std::u16string& section,
                                                   const std::u16string& name) const = 0;
  virtual std::optional<std::int32_t> ReadInt(const std::u16string& section,
                                              const std::u16string& name) const = 0;
  // Stores the value, replacing one of the same name. False when the store cannot be written.
  virtual bool WriteString(const std::u16string& section, const std::u16string& name,
                           const std::u16string& value) = 0;
  virtual bool WriteInt(const std::u16string& section, const std::u16string& name,
                        std::int32_t value) = 0;
  // Makes written values durable; false when that failed.
  virtual bool Flush() { return true; }

  std::u16string ReadStringOr(const std::u16string& section, const std::u16string& name,
                              const std::u16string& fallback) const {
    return ReadString(section, name).value_or(fallback);
  }
  std::int32_t ReadIntOr(const std::u16string& section, const std::u16string& name,
                         std::int32_t fallback) const {
    return ReadInt(section, name).value_or(fallback);
  }
};

class MemoryProfileStore : public ProfileStore {
 public:
  std::optional<std::u16string> ReadString(const std::u16string& section,
                                           const std::u16string& name) const override;
  std::optional<std::int32_t> ReadInt(const std::u16string& section,
                                      const std::u16string& name) const override;
  bool WriteString(const std::u16string& section, const std::u16string& name,
                   const std::u16string& value) override;
  bool WriteInt(const std::u16string& section, const std::u16string& name,
                std::int32_t value) override;

  // Every write in order, for tests that check what was stored and in which order.
  const std::vector<std::u16string>& writeLog() const { return writeLog_; }

 private:
  using Key = std::pair<std::u16string, std::u16string>;
  std::map<Key, std::u16string> strings_;
  std::map<Key, std::int32_t> ints_;
  std::vector<std::u16string> writeLog_;
};

// The user's profile as this platform keeps it: QSettings on Linux, the registry on Windows.
std::unique_ptr<ProfileStore> OpenUserProfile();

// The section and value names the program keeps in the profile.
inline constexpr char16_t kSettingSection[] = u"SETTING";
inline constexpr char16_t kSmartAutoUpdateValue[] = u"SMART_AUTOUPDATE";

}  // namespace kuv
