#include "panelio/upper_filters.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kuv {
namespace {

using Bytes = std::vector<std::uint8_t>;

// UTF-16LE bytes of text, in which '|' stands for a NUL unit.
Bytes Wide(std::string_view text) {
  Bytes bytes;
  for (char c : text) {
    bytes.push_back(c == '|' ? 0 : static_cast<std::uint8_t>(c));
    bytes.push_back(0);
  }
  return bytes;
}

std::optional<std::span<const std::uint8_t>> List(const Bytes& bytes) {
  return std::span<const std::uint8_t>(bytes);
}

TEST(MultiString, ParsesWhatOtherWritersLeave) {
  struct Case {
    Bytes bytes;
    std::vector<std::u16string> want;
  };
  Bytes odd = Wide("ab|cd||");
  odd.push_back(0x41);
  Bytes cutMidUnit = Wide("ab|cd");
  cutMidUnit.push_back(0x65);
  const Case cases[] = {
      {{}, {}},
      {Wide("|"), {}},
      {Wide("ab|cd||"), {u"ab", u"cd"}},
      {Wide("ab|cd|"), {u"ab", u"cd"}},         // list terminator missing
      {Wide("ab|cd"), {u"ab", u"cd"}},          // last NUL missing too
      {odd, {u"ab", u"cd"}},                    // stray byte after the list
      {cutMidUnit, {u"ab", u"cd"}},             // half a unit at the end
      {Wide("ab||cd||"), {u"ab"}},              // the empty string ends the list
      {{0x00, 0x30, 0x00, 0x00}, {u"\u3000"}},  // units are little-endian
  };
  for (const auto& c : cases) EXPECT_EQ(ParseMultiString(c.bytes), c.want);
}

TEST(MultiString, EncodesWellFormed) {
  std::vector<std::u16string> strings = {u"ab", u"", u"cd"};
  EXPECT_EQ(EncodeMultiString(strings), Wide("ab|cd||"));
  EXPECT_EQ(EncodeMultiString({}), Wide("|"));
}

TEST(SiliconImageAdapter, RecognisedByHardwareIdPrefixInAnyCase) {
  struct Case {
    std::vector<std::u16string> ids;
    bool want;
  };
  const Case cases[] = {
      {{u"PCI\\VEN_1095&DEV_3132&SUBSYS_71321095&REV_01", u"PCI\\VEN_1095&DEV_3132"}, true},
      {{u"PCI\\VEN_8086&DEV_2922", u"pci\\ven_1095&dev_3124&rev_02"}, true},
      {{u"PCI\\ven_1095&dev_3512"}, true},
      {{u"PCI\\VEN_1095&DEV_3114"}, false},
      {{u"PCI\\VEN_1095&DEV_313"}, false},
      {{u"ACPI\\PCI\\VEN_1095&DEV_3132"}, false},
      {{}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSiliconImageAdapter(c.ids), c.want);
}

TEST(SataFilter, StateOfADrive) {
  std::vector<std::u16string> siliconImage = {u"PCI\\VEN_1095&DEV_3132&SUBSYS_71321095"};
  std::vector<std::u16string> other = {u"PCI\\VEN_8086&DEV_2922"};
  Bytes with = Wide("PartMgr|kuvsatafil||");
  Bytes without = Wide("PartMgr||");
  EXPECT_EQ(SataFilterState(other, List(with)), 4);
  EXPECT_EQ(SataFilterState(siliconImage, List(with)), 5);
  EXPECT_EQ(SataFilterState(siliconImage, List(without)), 6);
  EXPECT_EQ(SataFilterState(siliconImage, std::nullopt), 6);
}

TEST(SataFilter, AddPutsOneEntryInFront) {
  struct Case {
    std::optional<Bytes> list;
    std::optional<Bytes> want;
  };
  const Case cases[] = {
      {std::nullopt, Wide("KuvSATAFil||")},
      {Bytes{}, Wide("KuvSATAFil||")},
      {Wide("|"), Wide("KuvSATAFil||")},
      {Wide("PartMgr|Other||"), Wide("KuvSATAFil|PartMgr|Other||")},
      {Wide("PartMgr|Other"), Wide("KuvSATAFil|PartMgr|Other||")},
      {Wide("PartMgr|KUVSATAFIL||"), std::nullopt},
      {Wide("KuvSATAFil||"), std::nullopt},
  };
  for (const auto& c : cases) {
    auto got = AddSataFilter(c.list ? List(*c.list) : std::nullopt);
    EXPECT_EQ(got, c.want);
  }
  // A well-formed list grows by exactly the 22-byte entry, so the other entries stay byte-exact.
  Bytes old = Wide("PartMgr||");
  auto grown = AddSataFilter(List(old));
  ASSERT_TRUE(grown);
  EXPECT_EQ(grown->size(), old.size() + kSataFilterEntryBytes);
  EXPECT_TRUE(std::equal(old.begin(), old.end(), grown->begin() + kSataFilterEntryBytes));
  // Adding to what adding wrote changes nothing.
  EXPECT_EQ(AddSataFilter(List(*grown)), std::nullopt);
}

TEST(SataFilter, RemoveCutsWholeEntriesKeepingOrder) {
  struct Case {
    std::optional<Bytes> list;
    std::optional<Bytes> want;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt},
      {Wide("PartMgr||"), std::nullopt},
      {Wide("A|KuvSATAFil|B||"), Wide("A|B||")},
      {Wide("KuvSATAFil||"), Wide("|")},
      {Wide("kuvsatafil|A|KuvSATAFil||"), Wide("A||")},
      {Wide("A|KuvSATAFilter2|B||"), Wide("A|B||")},
      {Wide("A|KuvSATAFil"), Wide("A||")},
  };
  for (const auto& c : cases) {
    auto got = RemoveSataFilter(c.list ? List(*c.list) : std::nullopt);
    EXPECT_EQ(got, c.want);
  }
  Bytes old = Wide("A|KuvSATAFil|B||");
  EXPECT_EQ(RemoveSataFilter(List(old))->size(), old.size() - kSataFilterEntryBytes);
}

}  // namespace
}  // namespace kuv
