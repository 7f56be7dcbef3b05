// IDENTIFY DEVICE sectors and the SATA filter's answers come straight from drives and drivers:
// the serial, capability and reply parsers must give a defined answer for any bytes and never read
// past the 512 (or the answer's length) they are given.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "panelio/smart.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kuv::AtaSector identify{};
  std::copy_n(data, std::min(size, identify.size()), identify.begin());

  std::u16string serial = kuv::SerialFromIdentify(identify);
  if (serial.size() > 20) __builtin_trap();
  if (!serial.empty() && serial.front() == u' ') __builtin_trap();
  if (serial.find(u'\0') != std::u16string::npos) __builtin_trap();

  bool capable = kuv::SmartCapable(identify);
  std::uint16_t version = static_cast<std::uint16_t>(identify[160] | identify[161] << 8);
  if (capable && (version == 0 || version == 0xFFFF || (version & 0x7FF8) == 0)) __builtin_trap();
  if (capable && !(identify[164] & 1)) __builtin_trap();

  // The rest of the input is a filter answer of its own length, claiming any returned count.
  std::vector<std::uint8_t> answer(data + std::min(size, identify.size()), data + size);
  std::size_t returned = size ? data[0] * 4u : 0;
  auto reply = kuv::FilterReplyData(answer, returned);
  if (reply && (answer.size() < 556 || returned < 556)) __builtin_trap();
  return 0;
}
