// What panelio.dll shows to the programs that load it: exactly the exports, undecorated, for x64,
// read from the file's own export directory and then called through the loader.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/drive_record.h"
#include "common/picture_io.h"
#include "panelio/env_test_support.h"
#include "panelio/panelio.h"
#include "panelio/sim/sample_world.h"

namespace {

const std::set<std::string> kExports = {
    "GetHidLcdCount", "GetLcdInfo",        "LcdSendLineData",     "StopLcdTimer",
    "GetSmartInfo",   "AddFilterSilHost",  "ModifyFilterSilHost", "DoesExistSATAFilter",
    "ReadSector0",    "GetSizeFromSector", "LcdCreateDirectory",  "LcdWriteFile",
    "LcdDeleteFile",  "SetAutorun"};

// The export table of a PE32+ image as its bytes hold it.
struct ExportTable {
  std::uint16_t machine = 0;
  std::uint32_t functions = 0;  // entries of the address table, named or not
  std::set<std::string> names;
};

class PeReader {
 public:
  explicit PeReader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

  std::optional<ExportTable> Exports() {
    ExportTable table;
    auto peAt = U32(0x3C);
    if (!peAt || U32(*peAt) != 0x00004550u) return std::nullopt;  // "PE\0\0"
    const std::size_t coff = *peAt + 4;
    auto machine = U16(coff), sections = U16(coff + 2), optionalSize = U16(coff + 16);
    const std::size_t optional = coff + 20;
    if (!machine || !sections || !optionalSize || U16(optional) != 0x20B) return std::nullopt;
    table.machine = *machine;
    auto exportRva = U32(optional + 112);  // data directory 0 of a PE32+ optional header
    if (!exportRva || *exportRva == 0) return table;
    sections_ = optional + *optionalSize;
    sectionCount_ = *sections;
    auto dir = FileOffset(*exportRva);
    if (!dir) return std::nullopt;
    auto functions = U32(*dir + 20), names = U32(*dir + 24), nameTable = U32(*dir + 32);
    if (!functions || !names || !nameTable) return std::nullopt;
    table.functions = *functions;
    auto nameTableAt = FileOffset(*nameTable);
    if (!nameTableAt) return std::nullopt;
    for (std::uint32_t i = 0; i < *names; ++i) {
      auto nameRva = U32(*nameTableAt + 4 * std::size_t{i});
      auto nameAt = nameRva ? FileOffset(*nameRva) : std::nullopt;
      if (!nameAt) return std::nullopt;
      std::string name;
      for (std::size_t at = *nameAt; at < bytes_.size() && bytes_[at] != 0; ++at)
        name.push_back(static_cast<char>(bytes_[at]));
      table.names.insert(name);
    }
    return table;
  }

 private:
  std::optional<std::uint16_t> U16(std::size_t at) const {
    if (at + 2 > bytes_.size()) return std::nullopt;
    return static_cast<std::uint16_t>(bytes_[at] | bytes_[at + 1] << 8);
  }
  std::optional<std::uint32_t> U32(std::size_t at) const {
    auto low = U16(at), high = U16(at + 2);
    if (!low || !high) return std::nullopt;
    return std::uint32_t{*low} | std::uint32_t{*high} << 16;
  }
  // Where the section holding rva keeps it in the file.
  std::optional<std::size_t> FileOffset(std::uint32_t rva) const {
    for (std::size_t i = 0; i < sectionCount_; ++i) {
      const std::size_t header = sections_ + 40 * i;
      auto size = U32(header + 8), address = U32(header + 12), raw = U32(header + 20);
      if (!size || !address || !raw) return std::nullopt;
      if (rva >= *address && rva - *address < *size) return *raw + (rva - *address);
    }
    return std::nullopt;
  }

  std::vector<std::uint8_t> bytes_;
  std::size_t sections_ = 0;
  std::size_t sectionCount_ = 0;
};

TEST(SharedLibrary, ExportsExactlyTheFourteenUndecoratedNames) {
  std::ifstream in(KUVLCD_PANELIO_LIBRARY, std::ios::binary | std::ios::ate);
  ASSERT_TRUE(in) << KUVLCD_PANELIO_LIBRARY;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  ASSERT_TRUE(
      in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())));
  PeReader pe(std::move(bytes));
  auto table = pe.Exports();
  ASSERT_TRUE(table) << "not a PE32+ image with a readable export directory";
  EXPECT_EQ(table->machine, 0x8664) << "built for x64";
  EXPECT_EQ(table->names, kExports);
  EXPECT_EQ(table->functions, kExports.size()) << "no exports by ordinal only";
}

TEST(SharedLibrary, LoadsAndAnswersThroughItsExports) {
  HMODULE library = LoadLibraryA(KUVLCD_PANELIO_LIBRARY);
  ASSERT_NE(library, nullptr) << "error " << GetLastError();
  for (const std::string& name : kExports)
    EXPECT_NE(GetProcAddress(library, name.c_str()), nullptr) << name;
  using DeleteFn = std::int32_t (*)(const char16_t*);
  auto remove =
      reinterpret_cast<DeleteFn>(reinterpret_cast<void*>(GetProcAddress(library, "LcdDeleteFile")));
  ASSERT_NE(remove, nullptr);
  EXPECT_EQ(static_cast<std::uint32_t>(remove(nullptr)), kPanelBadHandle);
  FreeLibrary(library);
}

// The DLL keeps its own environment, made on its first call from KUVLCD_SIM_WORLD: a picture sent
// through it reaches the simulated panel, and the world's state shows it as on Linux.
TEST(SharedLibrary, DrivesTheSimulatedWorldNamedInTheEnvironment) {
  kuv::devtest::TempDir world;
  ASSERT_TRUE(kuv::sim::WriteSampleWorld(world.path(), {.sleepScale = 0}).ok());
  ASSERT_EQ(_putenv_s("KUVLCD_SIM_WORLD", world.path().c_str()), 0);
  HMODULE library = LoadLibraryA(KUVLCD_PANELIO_LIBRARY);
  ASSERT_NE(library, nullptr) << "error " << GetLastError();
  auto proc = [&](const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(library, name));
  };
  auto count = reinterpret_cast<std::int32_t (*)()>(proc("GetHidLcdCount"));
  auto info =
      reinterpret_cast<std::int32_t (*)(std::int32_t, kuv::DriveRecord*)>(proc("GetLcdInfo"));
  auto send = reinterpret_cast<std::uint32_t (*)(std::int32_t, const std::uint8_t*)>(
      proc("LcdSendLineData"));
  ASSERT_TRUE(count && info && send);

  EXPECT_EQ(count(), 3) << "the sample world's three trays";
  kuv::DriveRecord bridge{};
  EXPECT_EQ(info(1, &bridge), 1) << "drive 1 has a bridge panel";

  std::vector<std::uint8_t> raster(1152);
  for (std::size_t i = 0; i < raster.size(); ++i) raster[i] = static_cast<std::uint8_t>(i * 5 + 1);
  EXPECT_EQ(send(1, kuv::devtest::LineSlots(raster).data()), kPanelOk);
  FreeLibrary(library);
  // The snapshot a person looks at, replaced whole, so it is read without the world's lock.
  kuv::PictureResult shown = kuv::ReadPictureFile(world.path() + "/state/panels/bridge1.pbm");
  ASSERT_TRUE(shown) << shown.error;
  auto back = kuv::PanelRasterOfPicture(*shown.picture);
  ASSERT_TRUE(back);
  EXPECT_TRUE(std::equal(raster.begin(), raster.end(), back->begin()));
  _putenv_s("KUVLCD_SIM_WORLD", "");
}

// Without a world the DLL runs on the system's own calls; Wine has no trays to offer, but every
// call must come back with the record filled for the drive asked about.
TEST(SharedLibrary, AnswersThroughTheSystemWithoutAWorld) {
  ASSERT_EQ(_putenv_s("KUVLCD_SIM_WORLD", ""), 0);
  HMODULE library = LoadLibraryA(KUVLCD_PANELIO_LIBRARY);
  ASSERT_NE(library, nullptr) << "error " << GetLastError();
  auto count = reinterpret_cast<std::int32_t (*)()>(
      reinterpret_cast<void*>(GetProcAddress(library, "GetHidLcdCount")));
  auto info = reinterpret_cast<std::int32_t (*)(std::int32_t, kuv::DriveRecord*)>(
      reinterpret_cast<void*>(GetProcAddress(library, "GetLcdInfo")));
  ASSERT_TRUE(count && info);
  EXPECT_GE(count(), 0);
  kuv::DriveRecord record{};
  record.driveNumber = -1;
  info(0, &record);
  EXPECT_EQ(record.driveNumber, 0);
  FreeLibrary(library);
}

}  // namespace
