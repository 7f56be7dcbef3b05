#include "app/model/qr_data_file.h"

namespace kuv {

std::string EncodeQrData(std::u16string_view text, CodePage codePage) {
  std::u16string lines;
  lines.reserve(text.size() + 16);
  for (char16_t c : text) {
    if (c == u'\r') continue;
    if (c == u'\n') lines += u'\r';
    lines += c;
  }
  return ToCodePage(lines, codePage);
}

std::u16string DecodeQrData(std::string_view fileBytes, CodePage codePage) {
  std::u16string wide = FromCodePage(fileBytes, codePage);
  std::u16string text;
  std::u16string_view rest(wide);
  bool first = true;
  while (!rest.empty()) {
    std::size_t end = rest.find(u'\n');
    std::u16string_view line = rest.substr(0, end);
    rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end + 1);
    // Text mode hands over CR LF as LF.
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    if (!first) text += u"\r\n";
    text += line;
    first = false;
    if (text.size() >= kQrTextLimit) break;
  }
  if (text.size() > kQrTextLimit) text.resize(kQrTextLimit);
  return text;
}

}  // namespace kuv
