#include "app/model/lcd_data_file.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "common/utf16.h"

namespace kuv {
namespace {

class Utf16LeWriter {
 public:
  void Ascii(std::string_view text) {
    for (char c : text) Unit(static_cast<unsigned char>(c));
  }
  void Text(std::u16string_view text) {
    for (char16_t c : text) Unit(c);
  }
  void Int(std::int64_t value) { Ascii(std::to_string(value)); }
  void Unit(char16_t c) {
    bytes_ += static_cast<char>(c & 0xFF);
    bytes_ += static_cast<char>(c >> 8);
  }
  std::string Take() { return std::move(bytes_); }

 private:
  std::string bytes_;
};

void Line(Utf16LeWriter& out, std::string_view key, std::int64_t value) {
  out.Ascii(key);
  out.Int(value);
  out.Unit(u'\n');
}

void Line(Utf16LeWriter& out, std::string_view key, std::u16string_view value) {
  out.Ascii(key);
  out.Text(value);
  out.Unit(u'\n');
}

constexpr char16_t kByteOrderMark = u'\uFEFF';

bool HasOne(std::u16string_view value) {
  return value.find(u'1') != std::u16string_view::npos;
}

bool IsBlank(char16_t c) {
  return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// Applies one "[KEY]value" line; false when the key is not one the loader reads.
bool ApplyLine(std::u16string_view key, std::u16string_view value, ScreenConfig& config,
               const ClockSnapshot& clock) {
  for (int i = 1; i <= kLineCount; ++i) {
    std::string n = std::to_string(i);
    if (key == Utf8ToUtf16("[DATA" + n + "]")) {
      SetField(config.line(i), value);
      return true;
    }
    if (key == Utf8ToUtf16("[DATA" + n + "TYPE]")) {
      std::int32_t type = ParseLcdInt(value);
      config.lineType(i) = type;
      // Time and date lines are stored with the text of the moment of saving; show the current one.
      if (type == 5) SetField(config.line(i), std::u16string_view(ClockTimeText(clock)));
      if (type == 4) SetField(config.line(i), std::u16string_view(ClockDateText(clock)));
      return true;
    }
    if (key == Utf8ToUtf16("[EDITLINE" + n + "SMARTINDEX]")) {
      config.lineSmartIndex(i) = ParseLcdInt(value);
      return true;
    }
  }
  for (int k = 0; k < 4; ++k) {
    if (key == Utf8ToUtf16("[SMARTID" + std::to_string(k) + "]")) {
      config.smartId(k) = ParseLcdInt(value);
      return true;
    }
  }
  struct FlagKey {
    std::u16string_view key;
    std::uint8_t ScreenConfig::*field;
  };
  static constexpr FlagKey kOneFlags[] = {
      {u"[WHITEBACKCOLOR]", &ScreenConfig::whiteBlackColor},
      {u"[SHOWHDDSTATUS]", &ScreenConfig::showHddStatus},
      {u"[PREVIEWROTATION]", &ScreenConfig::previewRotation},
      {u"[SHOWWARNINGTEMP]", &ScreenConfig::showWarningTemp},
  };
  for (const auto& flag : kOneFlags) {
    if (key == flag.key) {
      config.*flag.field = HasOne(value) ? 1 : 0;
      return true;
    }
  }
  static constexpr FlagKey kNonZeroFlags[] = {
      {u"[BMPWB]", &ScreenConfig::bmpWB},
      {u"[BMPPREVIEWROTATION]", &ScreenConfig::bmpPreviewRotation},
  };
  for (const auto& flag : kNonZeroFlags) {
    if (key == flag.key) {
      config.*flag.field = ParseLcdInt(value) != 0 ? 1 : 0;
      return true;
    }
  }
  struct IntKey {
    std::u16string_view key;
    std::int32_t ScreenConfig::*field;
  };
  static constexpr IntKey kInts[] = {
      {u"[ROTATION]", &ScreenConfig::rotation},
      {u"[WARNINGTEMP]", &ScreenConfig::warningTemp},
      {u"[LCDDATATYPE]", &ScreenConfig::lcdDataType},
      {u"[ECCVALUE]", &ScreenConfig::eccValue},
      {u"[CELLPITCH]", &ScreenConfig::cellPitch},
      {u"[BMPROTATION]", &ScreenConfig::bmpRotation},
      {u"[BMPAREARATIO]", &ScreenConfig::bmpAreaRatio},
  };
  for (const auto& entry : kInts) {
    if (key == entry.key) {
      config.*entry.field = ParseLcdInt(value);
      return true;
    }
  }
  if (key == u"[WBCLINES]") {
    // A clear bit leaves the flag alone: the mask only ever turns reversal on.
    std::int32_t mask = ParseLcdInt(value);
    for (int i = 1; i <= kLineCount; ++i) {
      if (mask & (1 << (i - 1))) config.lineReverse(i) = 1;
    }
    return true;
  }
  if (key == u"[BMPFILENAME]") {
    SetField(config.bmpFileName, value);
    return true;
  }
  return false;
}

}  // namespace

std::u16string ClockTimeText(const ClockSnapshot& clock) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", clock.hour, clock.minute);
  return Utf8ToUtf16(text);
}

std::u16string ClockDateText(const ClockSnapshot& clock) {
  char text[32];
  std::snprintf(text, sizeof text, "%4d/%02d/%02d", clock.year, clock.month, clock.day);
  return Utf8ToUtf16(text);
}

QrSettings WritableQrSettings(std::int32_t eccValue, std::int32_t cellPitch) {
  // A pitch outside 1 and 2 means the QR control never set the pair (a drive never saved from
  // the QR page holds 0 and 0), so both take the control's start values.
  if (cellPitch != 1 && cellPitch != 2) return {kDefaultEccValue, kDefaultCellPitch};
  if (eccValue < 0 || eccValue > 3) eccValue = kDefaultEccValue;
  return {eccValue, cellPitch};
}

std::string EncodeLcdData(const DriveRecord& drive, const ScreenConfig& config,
                          std::int32_t eccValue, std::int32_t cellPitch) {
  const QrSettings qr = WritableQrSettings(eccValue, cellPitch);
  Utf16LeWriter out;
  Line(out, "[MODELNUMBER]", FieldView(drive.friendlyName));
  Line(out, "[SERIALNUMBER]", FieldView(drive.serialNumber));
  for (int i = 1; i <= kLineCount; ++i) {
    std::string n = std::to_string(i);
    Line(out, "[DATA" + n + "]", FieldView(config.line(i)));
    Line(out, "[DATA" + n + "TYPE]", config.lineType(i));
  }
  std::int32_t mask = 0;
  for (int i = 1; i <= kLineCount; ++i) {
    if (config.lineReverse(i) != 0) mask |= 1 << (i - 1);
  }
  Line(out, "[WHITEBACKCOLOR]", config.whiteBlackColor);
  Line(out, "[WBCLINES]", mask);
  Line(out, "[SHOWHDDSTATUS]", config.showHddStatus);
  Line(out, "[ROTATION]", config.rotation);
  Line(out, "[PREVIEWROTATION]", config.previewRotation);
  Line(out, "[SHOWWARNINGTEMP]", config.showWarningTemp);
  Line(out, "[WARNINGTEMP]", config.warningTemp);
  Line(out, "[SMARTID0]", config.smartId0);
  for (int i = 1; i <= kLineCount; ++i) {
    Line(out, "[EDITLINE" + std::to_string(i) + "SMARTINDEX]", config.lineSmartIndex(i));
  }
  Line(out, "[LCDDATATYPE]", config.lcdDataType);
  Line(out, "[SHOWDRIVELETTER]", config.showDriveLetter);
  Line(out, "[ECCVALUE]", qr.eccValue);
  Line(out, "[CELLPITCH]", qr.cellPitch);
  Line(out, "[BMPWB]", config.bmpWB);
  Line(out, "[BMPROTATION]", config.bmpRotation);
  Line(out, "[BMPPREVIEWROTATION]", config.bmpPreviewRotation);
  Line(out, "[BMPAREARATIO]", config.bmpAreaRatio);
  Line(out, "[BMPFILENAME]", FieldView(config.bmpFileName));
  return out.Take();
}

std::int32_t ParseLcdInt(std::u16string_view value) {
  std::size_t i = 0;
  while (i < value.size() && IsBlank(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == u'+' || value[i] == u'-')) negative = value[i++] == u'-';
  std::int64_t magnitude = 0;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i) {
    magnitude = std::min(magnitude * 10 + (value[i] - u'0'), kLimit);
  }
  std::int64_t result = negative ? -magnitude : magnitude;
  result = std::clamp<std::int64_t>(result, std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(result);
}

void ApplyLcdData(std::span<const std::uint8_t> fileBytes, ScreenConfig& config,
                  const ClockSnapshot& clock) {
  std::u16string text;
  text.reserve(fileBytes.size() / 2);
  for (std::size_t i = 0; i + 1 < fileBytes.size(); i += 2) {
    text += static_cast<char16_t>(fileBytes[i] | (fileBytes[i + 1] << 8));
  }
  std::u16string_view rest(text);
  // Files edited by hand may carry a byte-order mark and CR LF line ends; neither is data.
  if (!rest.empty() && rest.front() == kByteOrderMark) rest.remove_prefix(1);
  while (!rest.empty()) {
    std::size_t end = rest.find(u'\n');
    std::u16string_view line = rest.substr(0, end);
    rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    // The line is a C string to the reader the file was made for: a NUL ends it.
    line = line.substr(0, line.find(u'\0'));
    std::size_t close = line.find(u']');
    if (close == std::u16string_view::npos) continue;
    ApplyLine(line.substr(0, close + 1), line.substr(close + 1), config, clock);
  }
}

}  // namespace kuv
