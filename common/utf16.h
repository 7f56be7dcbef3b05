#pragma once
// Helpers for the fixed UTF-16 string fields of the shared records. Every field keeps a NUL unit
// inside it, so a reader on the other side of the wire can never run past its end.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace kuv {

// Copies text into field, truncated to N - 1 units, and NUL-fills the rest of the field.
template <std::size_t N>
void SetField(char16_t (&field)[N], std::u16string_view text) {
  static_assert(N > 0);
  std::size_t n = std::min(text.size(), N - 1);
  std::copy_n(text.data(), n, field);
  std::fill(field + n, field + N, u'\0');
}

// Same as SetField for a UTF-8 text.
template <std::size_t N>
void SetField(char16_t (&field)[N], std::string_view utf8);

// The text of a field up to its first NUL, or the whole field when it has none.
template <std::size_t N>
std::u16string_view FieldView(const char16_t (&field)[N]) {
  const char16_t* end = std::find(field, field + N, u'\0');
  return std::u16string_view(field, static_cast<std::size_t>(end - field));
}

// True when the field holds a NUL unit, as every well-formed field does.
template <std::size_t N>
bool FieldTerminated(const char16_t (&field)[N]) {
  return std::find(field, field + N, u'\0') != field + N;
}

// UTF-8 <-> UTF-16 without a locale. Malformed input becomes U+FFFD, never an error.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
// True when bytes are well-formed UTF-8 throughout.
bool IsUtf8(std::string_view bytes);

template <std::size_t N>
void SetField(char16_t (&field)[N], std::string_view utf8) {
  SetField(field, std::u16string_view(Utf8ToUtf16(utf8)));
}

// The UTF-8 text of a field.
template <std::size_t N>
std::string FieldUtf8(const char16_t (&field)[N]) {
  return Utf16ToUtf8(FieldView(field));
}

}  // namespace kuv
