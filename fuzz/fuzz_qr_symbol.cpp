// The QR text comes from QR_DATA.TXT on a removable drive or from the user: whatever it holds,
// the symbol must plan a version libqrencode accepts for the planned segments, and drawing and
// counting must not crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/compose/qr_capacity.h"
#include "app/compose/qr_picture.h"
#include "app/compose/qr_symbol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 1601) return 0;  // the page keeps at most 800 characters
  const std::uint8_t settings = data[0];
  std::u16string text;
  for (std::size_t i = 1; i + 1 < size; i += 2) {
    text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  const auto codePage = (settings & 1) ? kuv::CodePage::kCp932 : kuv::CodePage::kWindows1252;
  kuv::QrSymbol symbol(codePage);
  symbol.SetDotsPerModule((settings & 2) ? 1 : 2);
  symbol.SetLevel((settings >> 2) & 3);
  symbol.SetText(text);
  const int width = symbol.Width();
  if (width != 0 && width != kuv::kQrTooLargeWidth) {
    if (symbol.Modules().size() != static_cast<std::size_t>(width) * width) __builtin_trap();
  }
  const int extent = kuv::QrExtent(width, symbol.DotsPerModule());
  if (extent <= kuv::kQrScreenDots) {
    kuv::Picture picture = kuv::DrawQrPicture(symbol, kuv::kQrScreenDots / 2 - extent / 2);
    if (kuv::EncodeQrTempBmp(picture).size() != 1214) __builtin_trap();
  }
  const kuv::QrCharacterCounts counts = kuv::ClassifyCharacters(text);
  if (counts.numeric + counts.alnum + counts.kanji + counts.byte > static_cast<int>(text.size())) {
    __builtin_trap();
  }
  return 0;
}
