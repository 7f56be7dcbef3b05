#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "common/code_page.h"

namespace kuv {
namespace {

const char* IconvName(CodePage codePage) {
  return codePage == CodePage::kCp932 ? "CP932" : "WINDOWS-1252";
}

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using Converter = std::unique_ptr<void, IconvCloser>;

Converter OpenConverter(const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return Converter(cd);
}

// Runs iconv over in, calling onBad(inPtr, inLeft, out) for a sequence it cannot convert; onBad
// must consume at least one input byte.
template <typename OnBad>
std::string Convert(iconv_t cd, std::string_view in, OnBad onBad) {
  std::string out;
  char* inPtr = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  char buffer[1024];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      onBad(inPtr, inLeft, out);
    }
  }
  return out;
}

std::string ToUtf16LeBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

}  // namespace

std::string ToCodePage(std::u16string_view text, CodePage codePage) {
  Converter cd = OpenConverter(IconvName(codePage), "UTF-16LE");
  if (!cd) {
    // Without the converter only ASCII, which both pages hold as itself, is kept.
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char16_t c = text[i];
      bytes += c < 0x80 ? static_cast<char>(c) : '?';
      if ((c & 0xFC00) == 0xD800 && i + 1 < text.size() && (text[i + 1] & 0xFC00) == 0xDC00) ++i;
    }
    return bytes;
  }
  std::string in = ToUtf16LeBytes(text);
  return Convert(static_cast<iconv_t>(cd.get()), in,
                 [](char*& inPtr, std::size_t& inLeft, std::string& out) {
                   // One "?" per character, a surrogate pair counting as one.
                   std::size_t skip = 2;
                   if (inLeft >= 4) {
                     auto high = static_cast<unsigned char>(inPtr[1]);
                     auto nextHigh = static_cast<unsigned char>(inPtr[3]);
                     if ((high & 0xFC) == 0xD8 && (nextHigh & 0xFC) == 0xDC) skip = 4;
                   }
                   skip = std::min(skip, inLeft);
                   out += '?';
                   inPtr += skip;
                   inLeft -= skip;
                 });
}

std::u16string FromCodePage(std::string_view bytes, CodePage codePage) {
  Converter cd = OpenConverter("UTF-16LE", IconvName(codePage));
  std::u16string text;
  if (!cd) {
    // Without the converter the ASCII part is still right, which keeps the file readable.
    for (unsigned char c : bytes) text += c < 0x80 ? static_cast<char16_t>(c) : u'\uFFFD';
    return text;
  }
  std::string wide = Convert(static_cast<iconv_t>(cd.get()), bytes,
                             [](char*& inPtr, std::size_t& inLeft, std::string& out) {
                               out += "\xFD\xFF";  // U+FFFD
                               ++inPtr;
                               --inLeft;
                             });
  text.reserve(wide.size() / 2);
  for (std::size_t i = 0; i + 1 < wide.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(wide[i]) |
                                  (static_cast<unsigned char>(wide[i + 1]) << 8));
  }
  return text;
}

}  // namespace kuv
