#include "app/compose/line_items.h"

#include <cstdio>

#include "app/compose/drive_name.h"
#include "common/health.h"
#include "common/utf16.h"

namespace kuv {
namespace {

// Line texts never hold more characters than this, whatever the code page makes of them.
constexpr std::size_t kMaxLineChars = 14;
constexpr std::size_t kStoredLineUnits = kLineUnits - 1;

constexpr std::int32_t kFirstSmartCode = 7;
constexpr std::int32_t kLastSmartCode = 14;

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Units taken by the character that starts at text[i]: a surrogate pair is one character.
std::size_t CharUnits(std::u16string_view text, std::size_t i) {
  return IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? 2 : 1;
}

// Length of text without its last character, so a surrogate pair is never split.
std::size_t WithoutLastChar(std::u16string_view text) {
  std::size_t n = text.size() - 1;
  if (n > 0 && IsLowSurrogate(text[n]) && IsHighSurrogate(text[n - 1])) --n;
  return n;
}

// Units of the first maxChars characters of text.
std::size_t LeadingChars(std::u16string_view text, std::size_t maxChars) {
  std::size_t i = 0;
  for (std::size_t chars = 0; i < text.size() && chars < maxChars; ++chars) {
    i += CharUnits(text, i);
  }
  return i;
}

std::u16string Ascii(const char* text) {
  return Utf8ToUtf16(text);
}

}  // namespace

std::size_t AnsiByteLength(std::u16string_view text, CodePage codePage) {
  return ToCodePage(text, codePage).size();
}

std::int32_t EffectiveRotation(std::int32_t rotation, std::int32_t panelModel) {
  // Panel model 3 is mounted a quarter-turn round, so -90 is the same screen as 270.
  const std::int64_t effective = static_cast<std::int64_t>(rotation) - (panelModel == 3 ? 90 : 0);
  return static_cast<std::int32_t>(((effective % 360) + 360) % 360);
}

std::u16string ApplyLineLimit(std::u16string_view text, const DriveRecord& drive,
                              const ScreenConfig& config, CodePage codePage) {
  std::size_t byteLimit = 13;
  if (UsesBarLayout(drive.fileSystemType)) {
    const std::int32_t rotation = EffectiveRotation(config.rotation, drive.panelModel);
    // Upright, the bar takes the right of the screen and leaves room for 11 bytes only.
    byteLimit = rotation == 90 || rotation == 270 ? 13 : 11;
  }
  std::u16string_view kept = text.substr(0, LeadingChars(text, kMaxLineChars));
  while (!kept.empty() &&
         (AnsiByteLength(kept, codePage) > byteLimit || kept.size() > kStoredLineUnits)) {
    kept = kept.substr(0, WithoutLastChar(kept));
  }
  return std::u16string(kept);
}

std::u16string FormatSmartValue(std::int32_t code, const LineItemSource& source) {
  if (code < kFirstSmartCode || code > kLastSmartCode) return {};
  const DriveRecord& drive = source.drive;
  const CompactedAttributeList list =
      CompactedAttributes(SmartSector(drive.smartData), SmartSector(drive.smartThresholds));
  const CompactedAttribute* entry = list.At(source.config.smartId0);
  if (!entry) return {};
  const SmartAttribute& attribute = entry->attribute;
  char text[16];
  if (code % 2 == 1) {
    std::snprintf(text, sizeof text, "%d", attribute.current);
  } else if (UsesBarLayout(drive.fileSystemType)) {
    // The low 40 bits only, so the text fits the 11 bytes of the bar layout.
    const auto& raw = attribute.raw;
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X", raw[4], raw[3], raw[2], raw[1],
                  raw[0]);
  } else {
    return Ascii(FormatRawValue(attribute.raw).c_str());
  }
  return Ascii(text);
}

std::u16string FormatLineItem(std::int32_t code, int line, std::u16string_view currentText,
                              const LineItemSource& source) {
  const DriveRecord& drive = source.drive;
  const ClockSnapshot& clock = source.clock;
  char text[32];
  switch (code) {
    case 1:
      return ShortDriveName(drive);
    case 2:
      return std::u16string(FieldView(drive.volumeLabel));
    case 3:
      return std::u16string(FieldView(drive.friendlyName));
    case 4:
      std::snprintf(text, sizeof text, "%4d/%02d/%02d", clock.year, clock.month, clock.day);
      return Ascii(text);
    case 5:
      std::snprintf(text, sizeof text, "%02d:%02d", clock.hour, clock.minute);
      return Ascii(text);
    case 6:
      return std::u16string(source.userName);
    default:
      break;
  }
  if (code >= kFirstSmartCode && code <= kLastSmartCode) {
    if (line < 1 || line > kLineCount || source.config.lineSmartIndex(line) == -1) return {};
    return FormatSmartValue(code, source);
  }
  // Free text, later S.M.A.R.T. pairs and codes no list offers keep what the line holds.
  return std::u16string(currentText);
}

void RebuildSmartLineItems(ScreenConfig& driveConfig, ScreenConfig& workingConfig,
                           std::int32_t selectedPosition) {
  workingConfig.smartId0 = selectedPosition;
  for (int i = 1; i <= kLineCount; ++i) {
    std::int32_t& code = driveConfig.lineType(i);
    std::int32_t& smartIndex = driveConfig.lineSmartIndex(i);
    if (code >= kFirstSmartCode && selectedPosition != -1 && smartIndex == selectedPosition) {
      // The lists now hold a single pair, so the line moves onto it.
      code = code % 2 == 1 ? kFirstSmartCode : kFirstSmartCode + 1;
    } else {
      smartIndex = -1;
      if (code >= kFirstSmartCode) code = 0;
    }
    workingConfig.lineType(i) = code;
    workingConfig.lineSmartIndex(i) = smartIndex;
  }
}

std::vector<std::u16string> LineItemLabels(Language language,
                                           std::optional<std::u16string_view> smartAttribute) {
  static constexpr int kFixedLabels[] = {1509, 1510, 1512, 1511, 1514, 1513, 1515};
  std::vector<std::u16string> labels;
  for (int id : kFixedLabels) labels.emplace_back(String(id, language));
  if (smartAttribute) {
    for (int id : {1516, 1517}) {
      std::u16string label(String(id, language));
      const std::size_t at = label.find(u"%s");
      if (at != std::u16string::npos) label.replace(at, 2, *smartAttribute);
      labels.push_back(std::move(label));
    }
  }
  return labels;
}

}  // namespace kuv
