#include "app/compose/line_items.h"

#include <iconv.h>

#include <array>
#include <cerrno>
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

// Byte length of one character when no converter is available: CP932 is single-byte for ASCII
// and half-width katakana and double-byte otherwise; Windows-1252 is single-byte throughout.
std::size_t FallbackCharBytes(char16_t first, CodePage codePage) {
  if (codePage == CodePage::kWindows1252) return 1;
  return first < 0x80 || (first >= 0xFF61 && first <= 0xFF9F) ? 1 : 2;
}

class Converter {
 public:
  explicit Converter(CodePage codePage)
      : handle_(iconv_open(codePage == CodePage::kCp932 ? "CP932" : "WINDOWS-1252", "UTF-16LE")) {}
  ~Converter() {
    if (ok()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Bytes of one character in the code page, or 0 when the page cannot hold it.
  std::size_t Bytes(std::u16string_view character) {
    std::array<char, 4 * sizeof(char16_t)> in{};
    for (std::size_t i = 0; i < character.size(); ++i) {
      in[2 * i] = static_cast<char>(character[i] & 0xFF);
      in[2 * i + 1] = static_cast<char>(character[i] >> 8);
    }
    std::array<char, 16> out{};
    char* inPtr = in.data();
    std::size_t inLeft = 2 * character.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    if (iconv(handle_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        inLeft != 0) {
      return 0;
    }
    return out.size() - outLeft;
  }

 private:
  iconv_t handle_;
};

std::u16string Ascii(const char* text) {
  return Utf8ToUtf16(text);
}

}  // namespace

CodePage AnsiCodePage(Language language) {
  return language == Language::kJapanese ? CodePage::kCp932 : CodePage::kWindows1252;
}

std::size_t AnsiByteLength(std::u16string_view text, CodePage codePage) {
  Converter converter(codePage);
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t units = CharUnits(text, i);
    std::size_t charBytes = converter.ok() ? converter.Bytes(text.substr(i, units))
                                           : FallbackCharBytes(text[i], codePage);
    // The Windows conversion writes "?" for what the page lacks: one byte.
    bytes += charBytes == 0 ? 1 : charBytes;
    i += units;
  }
  return bytes;
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
