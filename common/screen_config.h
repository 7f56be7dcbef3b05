#pragma once
// The per-drive screen configuration: what a drive's memory LCD shows. Fields are in the order the
// program has always kept them; the record is copied whole between slots and pages.

#include <cstdint>
#include <type_traits>

namespace kuv {

inline constexpr int kLineCount = 5;
inline constexpr int kLineUnits = 14;  // 13 characters and a NUL

// Values of `lcdDataType`.
enum LcdDataType : std::int32_t { kLcdText = 0, kLcdQr = 1, kLcdBitmap = 2 };

struct ScreenConfig {
  char16_t line1[kLineUnits];
  char16_t line2[kLineUnits];
  char16_t line3[kLineUnits];
  char16_t line4[kLineUnits];
  char16_t line5[kLineUnits];
  std::int32_t lineType1;
  std::int32_t lineType2;
  std::int32_t lineType3;
  std::int32_t lineType4;
  std::int32_t lineType5;
  std::int32_t listRow;
  std::int32_t rotation;  // degrees: 0, 90, 180, 270
  std::int32_t bmpRotation;
  std::uint8_t previewRotation;
  std::uint8_t bmpPreviewRotation;
  std::uint8_t whiteBlackColor;
  std::int32_t lineReverse1;
  std::int32_t lineReverse2;
  std::int32_t lineReverse3;
  std::int32_t lineReverse4;
  std::int32_t lineReverse5;
  std::uint8_t bmpWB;
  std::int32_t bmpAreaRatio;
  std::uint8_t showHddStatus;
  std::int32_t eccValue;
  std::int32_t cellPitch;
  char16_t qrText[2048];
  std::uint8_t showDriveLetter;
  std::uint8_t showWarningTemp;
  std::int32_t warningTemp;
  std::int32_t lcdDataType;
  std::int32_t smartId0;
  std::int32_t smartId1;
  std::int32_t smartId2;
  std::int32_t smartId3;
  std::int32_t lineSmartIndex1;
  std::int32_t lineSmartIndex2;
  std::int32_t lineSmartIndex3;
  std::int32_t lineSmartIndex4;
  std::int32_t lineSmartIndex5;
  char16_t bmpFileName[256];

  // Per-line access, line index 1 to 5.
  char16_t (&line(int i))[kLineUnits];
  const char16_t (&line(int i) const)[kLineUnits];
  std::int32_t& lineType(int i);
  std::int32_t lineType(int i) const;
  std::int32_t& lineReverse(int i);
  std::int32_t lineReverse(int i) const;
  std::int32_t& lineSmartIndex(int i);
  std::int32_t lineSmartIndex(int i) const;
  std::int32_t& smartId(int k);  // k = 0 to 3
  std::int32_t smartId(int k) const;
};

static_assert(std::is_trivially_copyable_v<ScreenConfig>);

// The table's starting value for a slot: zero, with every S.M.A.R.T. id and line index -1.
ScreenConfig InitialSlotConfig();
// The working copy's starting value: zero, with S.M.A.R.T. id 0 and the line indexes -1.
ScreenConfig InitialWorkingConfig();

// The tab a data type selects and the data type a tab sets.
std::int32_t LcdDataTypeForTab(std::int32_t tab);
std::int32_t TabForLcdDataType(std::int32_t lcdDataType);

}  // namespace kuv
