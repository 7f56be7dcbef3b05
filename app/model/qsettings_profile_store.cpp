#include "app/model/qsettings_profile_store.h"

#include <QSettings>
#include <QString>

namespace kuv {
namespace {

QString Q(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString Key(const std::u16string& section, const std::u16string& name) {
  return Q(section) + QLatin1Char('/') + Q(name);
}

}  // namespace

QSettingsProfileStore::QSettingsProfileStore()
    : settings_(
          std::make_unique<QSettings>(QStringLiteral("TAVIO"), QStringLiteral("KuvLcdManager"))) {}

QSettingsProfileStore::QSettingsProfileStore(const std::string& iniPath)
    : settings_(
          std::make_unique<QSettings>(QString::fromStdString(iniPath), QSettings::IniFormat)) {}

QSettingsProfileStore::~QSettingsProfileStore() = default;

std::optional<std::u16string> QSettingsProfileStore::ReadString(const std::u16string& section,
                                                                const std::u16string& name) const {
  QVariant value = settings_->value(Key(section, name));
  if (!value.isValid()) return std::nullopt;
  return value.toString().toStdU16String();
}

std::optional<std::int32_t> QSettingsProfileStore::ReadInt(const std::u16string& section,
                                                           const std::u16string& name) const {
  QVariant value = settings_->value(Key(section, name));
  if (!value.isValid()) return std::nullopt;
  bool ok = false;
  // A DWORD read back from the registry may exceed the signed range; keep its bits.
  qlonglong number = value.toLongLong(&ok);
  if (!ok) return std::nullopt;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
}

bool QSettingsProfileStore::WriteString(const std::u16string& section, const std::u16string& name,
                                        const std::u16string& value) {
  settings_->setValue(Key(section, name), Q(value));
  return settings_->isWritable();
}

bool QSettingsProfileStore::WriteInt(const std::u16string& section, const std::u16string& name,
                                     std::int32_t value) {
  settings_->setValue(Key(section, name), value);
  return settings_->isWritable();
}

bool QSettingsProfileStore::Flush() {
  settings_->sync();
  return settings_->status() == QSettings::NoError;
}

std::unique_ptr<ProfileStore> OpenUserProfile() {
  return std::make_unique<QSettingsProfileStore>();
}

}  // namespace kuv
