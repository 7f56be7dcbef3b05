#include <windows.h>

#include "common/code_page.h"

namespace kuv {
namespace {

UINT WindowsCodePage(CodePage codePage) {
  return codePage == CodePage::kCp932 ? 932 : 1252;
}

bool IsPair(std::u16string_view text, std::size_t i) {
  return (text[i] & 0xFC00) == 0xD800 && i + 1 < text.size() && (text[i + 1] & 0xFC00) == 0xDC00;
}

}  // namespace

// One character at a time, so that each one the page lacks becomes exactly one "?" whatever the
// system's default character is. The system's best-fit neighbours stay, as the Windows programs
// write them ("e" for "é" in CP932).
std::string ToCodePage(std::u16string_view text, CodePage codePage) {
  const UINT page = WindowsCodePage(codePage);
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      bytes += static_cast<char>(c);
      continue;
    }
    const int units = IsPair(text, i) ? 2 : 1;
    char out[8];
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(page, 0, reinterpret_cast<LPCWCH>(text.data() + i), units,
                                      out, sizeof out, nullptr, &usedDefault);
    if (n <= 0 || usedDefault) {
      bytes += '?';
    } else {
      bytes.append(out, static_cast<std::size_t>(n));
    }
    i += static_cast<std::size_t>(units - 1);
  }
  return bytes;
}

std::u16string FromCodePage(std::string_view bytes, CodePage codePage) {
  const UINT page = WindowsCodePage(codePage);
  std::u16string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      text += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    const std::size_t length = IsDBCSLeadByteEx(page, b) && i + 1 < bytes.size() ? 2 : 1;
    wchar_t wide[4];
    const int n = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data() + i,
                                      static_cast<int>(length), wide, 4);
    if (n <= 0) {
      text += u'\uFFFD';
      ++i;
      continue;
    }
    text.append(reinterpret_cast<const char16_t*>(wide), static_cast<std::size_t>(n));
    i += length;
  }
  return text;
}

}  // namespace kuv
