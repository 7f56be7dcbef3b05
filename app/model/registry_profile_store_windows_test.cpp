#include <windows.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "app/model/registry_profile_store.h"

namespace kuv {
namespace {

// A profile key of the test's own under HKEY_CURRENT_USER, removed with everything below it.
class TestKey {
 public:
  TestKey() : key_(std::wstring(kProfileKey) + L"-test-" + std::to_wstring(GetCurrentProcessId())) {}
  ~TestKey() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
  const std::wstring& key() const { return key_; }

  // The value's type and bytes as the registry holds them (RegGetValueW would add a NUL to a
  // string that lacks one); type 0 when missing.
  std::pair<DWORD, std::vector<BYTE>> Raw(const wchar_t* section, const wchar_t* name) const {
    const std::wstring path = key_ + L"\\" + section;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &opened) !=
        ERROR_SUCCESS) {
      return {0, {}};
    }
    DWORD type = 0;
    DWORD size = 0;
    RegQueryValueExW(opened, name, nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size);
    if (RegQueryValueExW(opened, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
      type = 0;
    }
    RegCloseKey(opened);
    data.resize(size);
    return {type, data};
  }
  void SetRaw(const wchar_t* section, const wchar_t* name, DWORD type, const void* data,
              DWORD size) const {
    const std::wstring path = key_ + L"\\" + section;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, type, data, size),
              ERROR_SUCCESS);
  }

 private:
  std::wstring key_;
};

TEST(RegistryProfileStore, EveryValueComesBackAsWritten) {
  TestKey key;
  RegistryProfileStore store(key.key());
  const std::u16string strings[] = {u"", u"BACKUP", u"\u65e5\u672c\u8a9e \u00e9", u"a\\b/c"};
  for (const auto& text : strings) {
    ASSERT_TRUE(store.WriteString(u"ZFL1A2B3", u"line1", text));
    EXPECT_EQ(store.ReadString(u"ZFL1A2B3", u"line1"), text);
  }
  for (std::int32_t number : {0, 1, -1, 50, INT_MIN, INT_MAX}) {
    ASSERT_TRUE(store.WriteInt(kSettingSection, kSmartAutoUpdateValue, number));
    EXPECT_EQ(store.ReadInt(kSettingSection, kSmartAutoUpdateValue), number);
  }
  EXPECT_TRUE(store.Flush());
}

TEST(RegistryProfileStore, KeepsTheWindowsProgramsLayout) {
  TestKey key;
  RegistryProfileStore store(key.key());
  ASSERT_TRUE(store.WriteInt(kSettingSection, kSmartAutoUpdateValue, 1));
  ASSERT_TRUE(store.WriteString(u"ZFL1A2B3", u"modelNumber", u"ST2000"));
  ASSERT_TRUE(store.WriteInt(u"ZFL1A2B3", u"warningTemp", -2));

  // One subkey per section; numbers are REG_DWORD, strings REG_SZ with their terminating NUL.
  const auto dword = key.Raw(L"SETTING", L"SMART_AUTOUPDATE");
  EXPECT_EQ(dword.first, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(dword.second, (std::vector<BYTE>{1, 0, 0, 0}));
  const auto negative = key.Raw(L"ZFL1A2B3", L"warningTemp");
  EXPECT_EQ(negative.second, (std::vector<BYTE>{0xfe, 0xff, 0xff, 0xff}));
  const auto text = key.Raw(L"ZFL1A2B3", L"modelNumber");
  EXPECT_EQ(text.first, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(text.second,
            (std::vector<BYTE>{'S', 0, 'T', 0, '2', 0, '0', 0, '0', 0, '0', 0, 0, 0}));
  // Written as a number, a value that was a string becomes a REG_DWORD.
  ASSERT_TRUE(store.WriteInt(u"ZFL1A2B3", u"modelNumber", 7));
  EXPECT_EQ(key.Raw(L"ZFL1A2B3", L"modelNumber").first, static_cast<DWORD>(REG_DWORD));
}

TEST(RegistryProfileStore, MissingOrForeignValuesGiveTheDefaults) {
  TestKey key;
  RegistryProfileStore store(key.key());
  // Nothing written yet: not even the key exists.
  EXPECT_EQ(store.ReadString(kSettingSection, u"anything"), std::nullopt);
  EXPECT_EQ(store.ReadIntOr(kSettingSection, kSmartAutoUpdateValue, 1), 1);

  key.SetRaw(L"S", L"dword", REG_DWORD, "\x05\x00\x00\x00", 4);
  key.SetRaw(L"S", L"number", REG_SZ, L"42", 6);
  key.SetRaw(L"S", L"word", REG_SZ, L"4x", 6);
  key.SetRaw(L"S", L"short", REG_DWORD, "\x05\x00", 2);
  key.SetRaw(L"S", L"binary", REG_BINARY, "\x01\x02", 2);
  // A REG_SZ written by hand without its NUL still reads whole.
  key.SetRaw(L"S", L"unended", REG_SZ, L"abc", 6);
  EXPECT_EQ(store.ReadString(u"S", u"dword"), std::nullopt);
  EXPECT_EQ(store.ReadInt(u"S", u"number"), 42);
  EXPECT_EQ(store.ReadInt(u"S", u"word"), std::nullopt);
  EXPECT_EQ(store.ReadInt(u"S", u"short"), std::nullopt);
  EXPECT_EQ(store.ReadInt(u"S", u"binary"), std::nullopt);
  EXPECT_EQ(store.ReadString(u"S", u"binary"), std::nullopt);
  EXPECT_EQ(store.ReadString(u"S", u"unended"), u"abc");
  EXPECT_EQ(store.ReadIntOr(u"S", u"missing", 50), 50);
}

}  // namespace
}  // namespace kuv
