#include "app/compose/qr_capacity.h"

#include <cmath>
#include <string>

namespace kuv {
namespace {

// Bidirectional classes as the system's CT_CTYPE2 values name them.
enum Bidi : int {
  kBidiNone = 0,
  kBidiLeftToRight = 1,
  kBidiRightToLeft = 2,
  kBidiEuropeanNumber = 3,
  kBidiEuropeanSeparator = 4,
  kBidiEuropeanTerminator = 5,
  kBidiCommonSeparator = 7,
  kBidiBlockSeparator = 8,
  kBidiSegmentSeparator = 9,
  kBidiWhiteSpace = 10,
  kBidiOtherNeutral = 11,
};

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

bool IsUpper(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
}

bool IsLower(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= 0xDF && c <= 0xFF && c != 0xF7) || c == 0xB5;
}

int BidiClass(char16_t c) {
  if (IsDigit(c) || c == 0xB2 || c == 0xB3 || c == 0xB9) return kBidiEuropeanNumber;
  if (c == u'+' || c == u'-') return kBidiEuropeanSeparator;
  if (c == u'#' || c == u'$' || c == u'%' || (c >= 0xA2 && c <= 0xA5) || c == 0xB0 || c == 0xB1) {
    return kBidiEuropeanTerminator;
  }
  if (c == u',' || c == u'.' || c == u'/' || c == u':' || c == 0xA0) return kBidiCommonSeparator;
  if (c == u'\n' || c == u'\r') return kBidiBlockSeparator;
  if (c == u'\t') return kBidiSegmentSeparator;
  if (c == u' ') return kBidiWhiteSpace;
  if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) return kBidiNone;
  if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) return kBidiLeftToRight;
  if (c < 0x80) return kBidiOtherNeutral;
  if (c < 0xC0) return c == 0xAA || c == 0xBA || c == 0xB5 ? kBidiLeftToRight : kBidiOtherNeutral;
  if (c >= 0x0590 && c <= 0x08FF) return kBidiRightToLeft;
  if (c >= 0x2000 && c <= 0x2BFF) return kBidiOtherNeutral;
  return kBidiLeftToRight;
}

bool IsAlnumSymbol(char16_t c) {
  return c == u' ' || c == u'$' || c == u'%' || c == u'*' || c == u'+' || c == u'-' || c == u'.' ||
         c == u'/' || c == u':';
}

int CeilDiv(int value, int unit) {
  return static_cast<int>(std::ceil(static_cast<double>(value) / static_cast<double>(unit)));
}

}  // namespace

QrModeTable SelectQrModeTable(int cellPitch, int eccValue) {
  static constexpr int kCapacity[2][4] = {{864, 688, 496, 368}, {5176, 4056, 2936, 2264}};
  const int level = eccValue < 0 ? 0 : eccValue > 3 ? 3 : eccValue;
  if (cellPitch == 1) return {12, 11, 10, 16, kCapacity[1][level]};
  return {10, 9, 8, 8, kCapacity[0][level]};
}

// Wide and full-width characters of East Asian scripts lack the half-width property; so do
// surrogates, which stand for characters outside the basic plane.
bool IsHalfWidth(char16_t c) {
  if (c >= 0x1100 && c <= 0x115F) return false;
  if (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) return false;
  if (c >= 0xAC00 && c <= 0xD7A3) return false;
  if (c >= 0xD800 && c <= 0xDFFF) return false;
  if (c >= 0xE000 && c <= 0xF8FF) return false;  // private use: the system's user-defined kanji
  if (c >= 0xF900 && c <= 0xFAFF) return false;
  if (c >= 0xFE30 && c <= 0xFE4F) return false;
  if (c >= 0xFF00 && c <= 0xFF60) return false;
  if (c >= 0xFFE0 && c <= 0xFFE6) return false;
  return true;
}

bool IsHalfWidthKatakana(char16_t c) {
  return c >= 0xFF61 && c <= 0xFF9F;
}

QrCharacterCounts ClassifyCharacters(std::u16string_view text) {
  QrCharacterCounts counts;
  for (char16_t c : text) {
    const bool halfWidth = IsHalfWidth(c);
    const bool lineBreak = c == u'\r' || c == u'\n';
    if (IsDigit(c) && halfWidth) ++counts.numeric;
    const bool symbol = IsAlnumSymbol(c);
    if ((IsUpper(c) && halfWidth) || (symbol && halfWidth)) ++counts.alnum;
    if ((IsHalfWidthKatakana(c) && halfWidth) || (IsLower(c) && halfWidth) || lineBreak ||
        (!IsDigit(c) && (BidiClass(c) & 6) != 0 && halfWidth && !symbol)) {
      ++counts.byte;
    }
    if (!halfWidth && !lineBreak) ++counts.kanji;
  }
  return counts;
}

int EstimateBits(const QrCharacterCounts& counts, const QrModeTable& table) {
  int bits = 0;
  if (counts.numeric > 0) {
    static constexpr int kTail[3] = {0, 4, 7};
    bits += 4 + table.numericCountBits + 10 * (counts.numeric / 3) + kTail[counts.numeric % 3];
  }
  if (counts.alnum > 0) {
    bits += 4 + table.alnumCountBits + 11 * (counts.alnum / 2) + 6 * (counts.alnum % 2);
  }
  if (counts.kanji > 0) bits += 4 + table.kanjiCountBits + 13 * counts.kanji;
  if (counts.byte > 0) bits += 4 + table.byteCountBits + 8 * counts.byte;
  return bits;
}

int CharactersLeft(std::u16string_view text, QrCountKind kind, QrSymbol& meter,
                   const QrModeTable& table) {
  const int pitch = meter.DotsPerModule();
  const QrCharacterCounts counts = ClassifyCharacters(text);
  const int used = EstimateBits(counts, table);

  int overhead = 0;
  int unit = 0;
  std::u16string_view shortRun;
  std::u16string_view longRun;
  switch (kind) {
    case QrCountKind::kCapital:
      overhead = table.alnumCountBits + 6 * (counts.alnum % 2) + 4;
      unit = 11;
      shortRun = u"AAAAAAAAAA";
      longRun = u"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
      break;
    case QrCountKind::kSmall:
      overhead = table.byteCountBits + 4;
      unit = 8;
      shortRun = u"aaaaa";
      longRun = u"aaaaaaaaaaaaaaa";
      break;
    case QrCountKind::kKanji:
      overhead = table.kanjiCountBits + 4;
      unit = 13;
      shortRun = u"\u3042\u3042";
      longRun = u"\u3042\u3042\u3042\u3042\u3042\u3042\u3042\u3042\u3042\u3042";
      break;
  }
  const int estimate = CeilDiv(used - overhead, unit);
  const int maxUnits = (table.capacityBits - overhead) / unit;
  const int limit = (9 * maxUnits) / 10;

  int result = 0;
  std::u16string work(text);
  const std::u16string_view run = pitch == 2 ? shortRun : longRun;
  const auto runLength = static_cast<int>(run.size());

  if (estimate < limit) {
    do {
      work += run;
      result += runLength;
    } while (result + estimate < limit);
  }
  int modules = 0;
  do {
    work += run;
    result += runLength;
    meter.SetText(work);
    modules = meter.Width();
  } while (QrExtent(modules, pitch) <= kQrScreenDots);
  for (int i = 0; i < maxUnits && !work.empty(); ++i) {
    work.pop_back();
    meter.SetText(work);
    modules = meter.Width();
    --result;
    if (QrExtent(modules, pitch) <= kQrScreenDots) break;
  }
  return result < 0 ? 0 : result;
}

}  // namespace kuv
