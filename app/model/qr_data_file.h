#pragma once
// QR_DATA.TXT: the QR text of a drive, in the user's ANSI code page with CR LF line ends and no
// terminator, as the Windows programs write it in text mode.

#include <cstddef>
#include <string>
#include <string_view>

#include "common/code_page.h"

namespace kuv {

inline constexpr char kQrDataFileName[] = "QR_DATA.TXT";
inline constexpr std::size_t kQrTextLimit = 2047;  // the qrText field less its NUL

// The file bytes for a QR text: carriage returns dropped, each LF written as CR LF, characters
// the code page cannot hold written as "?".
std::string EncodeQrData(std::u16string_view text, CodePage codePage);

// The QR text of a file: its lines joined with CR LF (none before the first or after the last),
// cut to kQrTextLimit units. Bytes the code page does not define become U+FFFD.
std::u16string DecodeQrData(std::string_view fileBytes, CodePage codePage);

}  // namespace kuv
