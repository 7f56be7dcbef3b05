#pragma once
// How much more text fits the QR code on the 96x96 screen: the character classes, the bit
// estimate and the count of characters left, measured on a second symbol.

#include <cstdint>
#include <string_view>

#include "app/compose/qr_symbol.h"

namespace kuv {

inline constexpr int kQrScreenDots = 96;

// The count-field lengths of the largest symbol that fits the screen at a cell size (version 5
// at 2 dots per module, version 17 at 1) and the data capacity at a level.
struct QrModeTable {
  int numericCountBits = 10;
  int alnumCountBits = 9;
  int kanjiCountBits = 8;
  int byteCountBits = 8;
  int capacityBits = 688;
};
// cellPitch 2 or 1 (anything else counts as 2), eccValue 0 to 3 (clamped).
QrModeTable SelectQrModeTable(int cellPitch, int eccValue);

// The side in dots of a symbol of this many modules with its margin.
inline int QrExtent(int modules, int dotsPerModule) {
  return (modules + 2 * kQrMarginModules) * (dotsPerModule == 2 ? 2 : 1);
}

// Character properties as the page sees them.
bool IsHalfWidth(char16_t c);
bool IsHalfWidthKatakana(char16_t c);

struct QrCharacterCounts {
  int numeric = 0;
  int alnum = 0;
  int kanji = 0;
  int byte = 0;
};
QrCharacterCounts ClassifyCharacters(std::u16string_view text);
int EstimateBits(const QrCharacterCounts& counts, const QrModeTable& table);

enum class QrCountKind { kCapital, kSmall, kKanji };
// How many more characters of kind fit after text, measured by setting texts on meter (whose
// dots per module and level must be the page's). Never below 0.
int CharactersLeft(std::u16string_view text, QrCountKind kind, QrSymbol& meter,
                   const QrModeTable& table);

}  // namespace kuv
