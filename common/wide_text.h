#pragma once
// UTF-8 to and from the UTF-16 wide strings of the Win32 API, and the system's text for an error
// code; for the Windows files only.

#include <string>
#include <string_view>

namespace kuv {

std::wstring WideText(std::string_view utf8);
std::string NarrowText(std::wstring_view wide);
// FormatMessageW's text for a GetLastError() code, "error N" when it has none.
std::string SystemErrorText(unsigned long code);

}  // namespace kuv
