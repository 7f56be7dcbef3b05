#include "common/screen_config.h"

#include <cassert>

namespace kuv {
namespace {

using LineField = char16_t (ScreenConfig::*)[kLineUnits];
using IntField = std::int32_t ScreenConfig::*;

constexpr LineField kLines[] = {&ScreenConfig::line1, &ScreenConfig::line2, &ScreenConfig::line3,
                                &ScreenConfig::line4, &ScreenConfig::line5};
constexpr IntField kTypes[] = {&ScreenConfig::lineType1, &ScreenConfig::lineType2,
                               &ScreenConfig::lineType3, &ScreenConfig::lineType4,
                               &ScreenConfig::lineType5};
constexpr IntField kReverse[] = {&ScreenConfig::lineReverse1, &ScreenConfig::lineReverse2,
                                 &ScreenConfig::lineReverse3, &ScreenConfig::lineReverse4,
                                 &ScreenConfig::lineReverse5};
constexpr IntField kSmartIndex[] = {&ScreenConfig::lineSmartIndex1, &ScreenConfig::lineSmartIndex2,
                                    &ScreenConfig::lineSmartIndex3, &ScreenConfig::lineSmartIndex4,
                                    &ScreenConfig::lineSmartIndex5};
constexpr IntField kSmartIds[] = {&ScreenConfig::smartId0, &ScreenConfig::smartId1,
                                  &ScreenConfig::smartId2, &ScreenConfig::smartId3};

int LineSlot(int i) {
  assert(i >= 1 && i <= kLineCount);
  return i - 1;
}

}  // namespace

char16_t (&ScreenConfig::line(int i))[kLineUnits] { return this->*kLines[LineSlot(i)]; }
const char16_t (&ScreenConfig::line(int i) const)[kLineUnits] {
  return this->*kLines[LineSlot(i)];
}
std::int32_t& ScreenConfig::lineType(int i) { return this->*kTypes[LineSlot(i)]; }
std::int32_t ScreenConfig::lineType(int i) const { return this->*kTypes[LineSlot(i)]; }
std::int32_t& ScreenConfig::lineReverse(int i) { return this->*kReverse[LineSlot(i)]; }
std::int32_t ScreenConfig::lineReverse(int i) const { return this->*kReverse[LineSlot(i)]; }
std::int32_t& ScreenConfig::lineSmartIndex(int i) { return this->*kSmartIndex[LineSlot(i)]; }
std::int32_t ScreenConfig::lineSmartIndex(int i) const { return this->*kSmartIndex[LineSlot(i)]; }
std::int32_t& ScreenConfig::smartId(int k) { return this->*kSmartIds[k]; }
std::int32_t ScreenConfig::smartId(int k) const { return this->*kSmartIds[k]; }

ScreenConfig InitialSlotConfig() {
  ScreenConfig config{};
  for (int k = 0; k < 4; ++k) config.smartId(k) = -1;
  for (int i = 1; i <= kLineCount; ++i) config.lineSmartIndex(i) = -1;
  return config;
}

ScreenConfig InitialWorkingConfig() {
  ScreenConfig config{};
  config.smartId0 = -1;
  for (int i = 1; i <= kLineCount; ++i) config.lineSmartIndex(i) = -1;
  return config;
}

std::int32_t LcdDataTypeForTab(std::int32_t tab) {
  switch (tab) {
    case 1:
      return kLcdBitmap;
    case 2:
      return kLcdQr;
    default:
      return kLcdText;
  }
}

std::int32_t TabForLcdDataType(std::int32_t lcdDataType) {
  switch (lcdDataType) {
    case kLcdQr:
      return 2;
    case kLcdBitmap:
      return 1;
    default:
      return 0;
  }
}

}  // namespace kuv
