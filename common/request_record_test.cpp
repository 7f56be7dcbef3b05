#include "common/request_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/utf16.h"

namespace kuv {
namespace {

std::int32_t Int32At(const RequestRecord& record, std::size_t offset) {
  std::int32_t value;
  std::memcpy(&value, AsBytes(record).data() + offset, sizeof value);
  return value;
}

char16_t UnitAt(const RequestRecord& record, std::size_t offset) {
  auto bytes = AsBytes(record);
  return static_cast<char16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

TEST(RequestRecord, StartsZeroedExceptTheCommand) {
  RequestRecord record = MakeRequest(7);
  auto bytes = AsBytes(record);
  EXPECT_EQ(Int32At(record, 0), 7);
  for (std::size_t i = 4; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(RequestRecord, FieldsLandOnTheirWireOffsets) {
  RequestRecord record = GetLcdInfoRequest(0x01020304, u"/dev/hidraw3", true);
  record.result = -1;
  record.lastError = 0xA0B0C0D0;
  record.autorun = 0x0101;
  auto bytes = AsBytes(record);
  EXPECT_EQ(bytes[12], 0x04);
  EXPECT_EQ(bytes[15], 0x01);
  EXPECT_EQ(Int32At(record, 4), -1);
  EXPECT_EQ(bytes[8], 0xD0);
  EXPECT_EQ(Int32At(record, 7252), 1);
  EXPECT_EQ(UnitAt(record, 7256 + 1992), u'/');
  EXPECT_EQ(UnitAt(record, 7256 + 1992 + 2 * 11), u'3');
  EXPECT_EQ(Int32At(record, 9776), 0x0101);
  EXPECT_TRUE(record.AutorunOn());
  record.autorun = 2;
  EXPECT_FALSE(record.AutorunOn());
}

TEST(RequestRecord, LineSlotsAreSixtyFourBytesFromOffsetSixteen) {
  std::vector<std::uint8_t> slots(kRequestLineSlots * kRequestLineSlotSize);
  for (std::size_t i = 0; i < kRequestLineSlots; ++i) slots[i * 64] = static_cast<std::uint8_t>(i);
  slots.back() = 0xEE;
  RequestRecord record = SendLineDataRequest(
      5, std::span<const std::uint8_t, kRequestLineSlots * kRequestLineSlotSize>(slots));
  auto bytes = AsBytes(record);
  EXPECT_EQ(bytes[16 + 64 * 95], 95);
  EXPECT_EQ(bytes[16 + 6144 - 1], 0xEE);
  EXPECT_EQ(record.LineSlot(40)[0], 40);
  EXPECT_EQ(bytes[6160], 0);  // the path starts right after the slots
}

TEST(RequestRecord, WriteFieldsOverlapThePathAndRunToTheEnd) {
  RequestRecord record = MakeRequest(kCmdWriteFile);
  std::vector<std::uint8_t> data(kWriteDataMax, 0x5A);
  ASSERT_TRUE(record.SetWrite(u"/TAVIO_LCDMANAGER/LCD_IMAGE.BMP", data));
  EXPECT_EQ(Int32At(record, 6224), 3556);
  EXPECT_EQ(AsBytes(record)[6228], 0x5A);
  EXPECT_EQ(AsBytes(record)[kRequestRecordSize - 1], 0x5A);
  EXPECT_EQ(record.WritePath(), u"/TAVIO_LCDMANAGER/LCD_IMAGE.BMP");
  // The same bytes read as the other commands' fields.
  EXPECT_EQ(record.autorun, 0x5A5A5A5A);
  EXPECT_EQ(record.driveInfo.driveNumber, 0x5A5A5A5A);
}

TEST(RequestRecord, WriteDataIsWriteLengthBytesOfTheField) {
  RequestRecord record = MakeRequest(kCmdWriteFile);
  ASSERT_TRUE(record.SetWrite(u"/x", std::vector<std::uint8_t>(kWriteDataMax, 0x33)));
  for (std::int32_t length : {0, 1, 7, 3556, -1, 3557, INT32_MIN}) {
    std::memcpy(AsWritableBytes(record).data() + kWriteLengthOffset, &length, sizeof length);
    const auto data = record.WriteData();
    if (length < 0 || length > 3556) {
      EXPECT_FALSE(data) << length;
      continue;
    }
    ASSERT_TRUE(data) << length;
    EXPECT_EQ(data->size(), static_cast<std::size_t>(length));
    EXPECT_EQ(data->data(), AsBytes(record).data() + kWriteDataOffset);
  }
}

TEST(RequestRecord, RefusesWhatDoesNotFit) {
  RequestRecord record = MakeRequest(kCmdWriteFile);
  std::vector<std::uint8_t> small(4, 1);
  const std::u16string path31(31, u'a');
  const std::u16string path32(32, u'a');
  EXPECT_TRUE(record.SetWrite(path31, small));
  RequestRecord before = record;
  EXPECT_FALSE(record.SetWrite(path32, small));
  EXPECT_FALSE(record.SetWrite(u"/x", std::vector<std::uint8_t>(kWriteDataMax + 1)));
  EXPECT_EQ(std::memcmp(&before, &record, sizeof record), 0);

  RequestRecord del = MakeRequest(kCmdDeleteFile);
  EXPECT_TRUE(del.SetPath(std::u16string(259, u'b')));
  EXPECT_EQ(del.Path().size(), 259u);
  EXPECT_FALSE(del.SetPath(std::u16string(260, u'b')));
  EXPECT_TRUE(del.Path().empty());
}

TEST(RequestRecord, WritePathNeverReadsPastItsThirtyTwoUnits) {
  RequestRecord record = MakeRequest(kCmdWriteFile);
  std::fill(std::begin(record.path), std::end(record.path), u'x');
  EXPECT_EQ(record.WritePath().size(), kWritePathUnits);
  EXPECT_EQ(record.Path().size(), kRequestPathUnits);
}

}  // namespace
}  // namespace kuv
