// UTF-8 from the command line and files becomes UTF-16 fields; it must never crash or overflow.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/utf16.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::u16string wide = kuv::Utf8ToUtf16(text);
  char16_t field[14];
  kuv::SetField(field, std::u16string_view(wide));
  if (!kuv::FieldTerminated(field)) __builtin_trap();
  (void)kuv::Utf16ToUtf8(wide);
  return 0;
}
