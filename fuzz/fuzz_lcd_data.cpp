// LCD_DATA.TXT and QR_DATA.TXT come from a removable drive that anyone may have written: the
// loaders must never crash, overrun a field or leave one without its NUL.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "app/model/lcd_data_file.h"
#include "app/model/qr_data_file.h"
#include "common/utf16.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kuv::ScreenConfig config = kuv::InitialSlotConfig();
  kuv::ClockSnapshot clock{23, 59, 59, 9999, 12, 31};
  kuv::ApplyLcdData(std::span<const std::uint8_t>(data, size), config, clock);
  for (int i = 1; i <= kuv::kLineCount; ++i) {
    if (!kuv::FieldTerminated(config.line(i))) __builtin_trap();
  }
  if (!kuv::FieldTerminated(config.bmpFileName)) __builtin_trap();

  // What was loaded must write out and load back to the same fields.
  kuv::DriveRecord drive{};
  std::string bytes = kuv::EncodeLcdData(drive, config, config.eccValue, config.cellPitch);
  kuv::ScreenConfig again = kuv::InitialSlotConfig();
  kuv::ApplyLcdData(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                    again, clock);
  if (again.rotation != config.rotation || again.lcdDataType != config.lcdDataType) {
    __builtin_trap();
  }

  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (auto codePage : {kuv::CodePage::kWindows1252, kuv::CodePage::kCp932}) {
    std::u16string qr = kuv::DecodeQrData(text, codePage);
    if (qr.size() > kuv::kQrTextLimit) __builtin_trap();
    (void)kuv::EncodeQrData(qr, codePage);
  }
  return 0;
}
