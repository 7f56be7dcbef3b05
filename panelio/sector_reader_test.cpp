#include "panelio/sector_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "panelio/env_test_support.h"

namespace kuv {
namespace {

using Sector = std::array<std::uint8_t, kSectorBytes>;

// A sparse disk of a given size: sectors not set read as zeros, reads past the end fail.
struct FakeDisk {
  std::uint64_t size = 0;
  std::map<std::uint64_t, Sector> sectors;
  std::vector<std::uint64_t> reads;

  Sector& At(std::uint64_t sector) { return sectors[sector]; }

  ReadAt Reader() {
    return [this](std::uint64_t offset, std::span<std::uint8_t> out) {
      reads.push_back(offset);
      if (offset > size || out.size() > size - offset) return false;
      for (std::size_t i = 0; i < out.size(); ++i) {
        auto it = sectors.find((offset + i) / kSectorBytes);
        out[i] = it == sectors.end() ? 0 : it->second[(offset + i) % kSectorBytes];
      }
      return true;
    };
  }
};

void PutLe(Sector& s, std::size_t at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutBe(Sector& s, std::size_t at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    s[at + i] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
}

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

FakeDisk Disk(std::uint8_t type, std::uint32_t start, std::uint64_t size = 8 * kGiB) {
  FakeDisk d;
  d.size = size;
  d.At(0)[450] = type;
  PutLe(d.At(0), 454, start, 4);
  return d;
}

struct Fat32 {
  std::uint16_t bytesPerSector = 512;
  std::uint8_t sectorsPerCluster = 8;
  std::uint16_t reserved = 32;
  std::uint8_t fats = 2;
  std::uint32_t sectors = 1'000'000;
  std::uint32_t sectorsPerFat = 1000;
  std::uint16_t fsInfo = 1;
  std::uint32_t freeClusters = 100;
  bool fsInfoSigned = true;
};

void PutFat32(FakeDisk& d, std::uint64_t start, const Fat32& f) {
  Sector& b = d.At(start);
  PutLe(b, 11, f.bytesPerSector, 2);
  b[13] = f.sectorsPerCluster;
  PutLe(b, 14, f.reserved, 2);
  b[16] = f.fats;
  PutLe(b, 32, f.sectors, 4);
  PutLe(b, 36, f.sectorsPerFat, 4);
  PutLe(b, 48, f.fsInfo, 2);
  b[66] = 0x29;
  Sector& info = d.At(start + f.fsInfo);
  if (f.fsInfoSigned) {
    PutLe(info, 0, 0x41615252, 4);
    PutLe(info, 484, 0x61417272, 4);
  }
  PutLe(info, 488, f.freeClusters, 4);
}

void PutXfs(FakeDisk& d, std::uint64_t start, std::uint32_t blockSize, std::uint64_t blocks,
            std::uint64_t freeBlocks) {
  Sector& s = d.At(start);
  std::copy_n("XFSB", 4, s.begin());
  PutBe(s, 4, blockSize, 4);
  PutBe(s, 8, blocks, 8);
  PutBe(s, 144, freeBlocks, 8);
}

void PutExt(FakeDisk& d, std::uint64_t start, std::uint32_t blocks, std::uint32_t freeBlocks,
            std::uint32_t logBlockSize, std::uint32_t blocksHi = 0, std::uint32_t freeHi = 0) {
  Sector& s = d.At(start + 2);
  PutLe(s, 4, blocks, 4);
  PutLe(s, 12, freeBlocks, 4);
  PutLe(s, 24, logBlockSize, 4);
  PutLe(s, 56, 0xEF53, 2);
  if (blocksHi || freeHi) {
    PutLe(s, 96, 0x80, 4);
    PutLe(s, 0x150, blocksHi, 4);
    PutLe(s, 0x158, freeHi, 4);
  }
}

FakeDisk Gpt(std::array<std::uint8_t, 4> typePrefix, std::uint64_t start) {
  FakeDisk d = Disk(0xEE, 1);
  std::copy(typePrefix.begin(), typePrefix.end(), d.At(2).begin());
  PutLe(d.At(2), 32, start, 8);
  return d;
}

constexpr std::array<std::uint8_t, 4> kReservedGuid = {0x16, 0xE3, 0xC9, 0xE3};
constexpr std::array<std::uint8_t, 4> kLinuxGuid = {0xAF, 0x3D, 0xC6, 0x0F};

struct Case {
  const char* name;
  FakeDisk (*make)();
  SectorSizes want;
};

const Case kCases[] = {
    {"unreadable sector 0", [] { return FakeDisk{}; }, {0, 0, 0, 0, 0, 0}},
    {"unpartitioned", [] { return Disk(0x00, 0); }, {1, 0, 0, 0, 0, 0}},
    {"unknown type", [] { return Disk(0xA5, 2048); }, {1, 0, 0, 0, 0, 0}},
    {"ntfs", [] { return Disk(0x07, 2048); }, {0, 0, 0, 0, 0, 0}},
    {"fat32 lba",
     [] {
       FakeDisk d = Disk(0x0C, 2048);
       PutFat32(d, 2048, {});
       return d;
     },
     // 1,000,000 - 32 - 2 x 1000 data sectors; 100 clusters of 8 free
     {0, 2, 997'968, 800, 997'968 * 512ull, 800 * 512}},
    {"fat32 chs, 4096-byte sectors",
     [] {
       FakeDisk d = Disk(0x0B, 2048);
       Fat32 f;
       f.bytesPerSector = 4096;
       PutFat32(d, 2048, f);
       // The FSInfo sector is one 4096-byte sector in, not one 512-byte sector.
       d.sectors[2048 + 8] = d.sectors[2049];
       d.sectors.erase(2049);
       return d;
     },
     {0, 2, 997'968, 800, 997'968 * 4096ull, 800 * 4096}},
    {"fat32 free count unknown",
     [] {
       FakeDisk d = Disk(0x0C, 2048);
       Fat32 f;
       f.freeClusters = 0xFFFFFFFF;
       PutFat32(d, 2048, f);
       return d;
     },
     {0, 2, 997'968, 0, 997'968 * 512ull, 0}},
    {"fat32 free above total",
     [] {
       FakeDisk d = Disk(0x0C, 2048);
       Fat32 f;
       f.freeClusters = 0xFFFFFFF0;
       f.sectorsPerCluster = 128;
       PutFat32(d, 2048, f);
       return d;
     },
     {0, 2, 997'968, 997'968, 997'968 * 512ull, 997'968 * 512ull}},
    {"fat32 overhead above size",
     [] {
       FakeDisk d = Disk(0x0C, 2048);
       Fat32 f;
       f.sectorsPerFat = 0xFFFFFFFF;
       f.fats = 255;
       PutFat32(d, 2048, f);
       return d;
     },
     {0, 2, 0, 0, 0, 0}},
    {"fat32 unsigned fsinfo",
     [] {
       FakeDisk d = Disk(0x0C, 2048);
       Fat32 f;
       f.fsInfoSigned = false;
       PutFat32(d, 2048, f);
       return d;
     },
     {0, 2, 997'968, 0, 997'968 * 512ull, 0}},
    {"fat32 fsinfo past the end",
     [] {
       FakeDisk d = Disk(0x0C, 2048, 2049 * 512);
       PutFat32(d, 2048, {});
       return d;
     },
     {0, 2, 997'968, 0, 997'968 * 512ull, 0}},
    {"fat32 partition without boot signature", [] { return Disk(0x0C, 2048); }, {0, 0, 0, 0, 0, 0}},
    {"xfs",
     [] {
       FakeDisk d = Disk(0x83, 2048);
       PutXfs(d, 2048, 4096, 2'441'609'216, 1000);
       return d;
     },
     {1, 4, 2'441'609'216, 1000, 10'000'831'348'736, 4'096'000}},
    {"xfs free above total",
     [] {
       FakeDisk d = Disk(0x83, 2048);
       PutXfs(d, 2048, 4096, 1000, 5000);
       return d;
     },
     {1, 4, 1000, 1000, 4'096'000, 4'096'000}},
    {"xfs block size 0",
     [] {
       FakeDisk d = Disk(0x83, 2048);
       PutXfs(d, 2048, 0, 1000, 10);
       return d;
     },
     {0, 0, 0, 0, 0, 0}},
    {"xfs size beyond 64 bits",
     [] {
       FakeDisk d = Disk(0x83, 2048);
       PutXfs(d, 2048, 65536, std::uint64_t{1} << 50, 10);
       return d;
     },
     {0, 0, 0, 0, 0, 0}},
    {"ext with 1 KiB blocks",
     [] {
       FakeDisk d = Disk(0x83, 2048);
       PutExt(d, 2048, 65536, 56023, 0);
       return d;
     },
     {1, 5, 65536, 56023, 65536 * 1024ull, 56023 * 1024ull}},
    {"ext with 4 KiB blocks",
     [] {
       FakeDisk d = Disk(0x83, 2048);
       PutExt(d, 2048, 0xFFFFFFFF, 7, 2);
       return d;
     },
     {1, 5, 0xFFFFFFFF, 7, 0xFFFFFFFFull * 4096, 7 * 4096}},
    {"ext 64-bit counts",
     [] {
       FakeDisk d = Disk(0x83, 2048);
       PutExt(d, 2048, 0, 16, 2, 2, 1);
       return d;
     },
     {1, 5, 0x2'0000'0000, 0x1'0000'0010, 0x2'0000'0000ull * 4096, 0x1'0000'0010ull * 4096}},
    {"ext 64-bit size beyond 64 bits",
     [] {
       FakeDisk d = Disk(0x83, 2048);
       PutExt(d, 2048, 0, 0, 6, 0xFFFFFFFF, 0);
       return d;
     },
     {0, 0, 0, 0, 0, 0}},
    {"ext free above total",
     [] {
       FakeDisk d = Disk(0x83, 2048);
       PutExt(d, 2048, 100, 200, 2);
       return d;
     },
     {1, 5, 100, 100, 409'600, 409'600}},
    {"ext log block size overflowing a shift",
     [] {
       FakeDisk d = Disk(0x83, 2048);
       PutExt(d, 2048, 100, 10, 54);
       return d;
     },
     {0, 0, 0, 0, 0, 0}},
    {"linux partition holding nothing", [] { return Disk(0x83, 2048); }, {0, 0, 0, 0, 0, 0}},
    {"linux partition past the end",
     [] { return Disk(0x83, 0xFFFFFFF0, kGiB); },
     {0, 0, 0, 0, 0, 0}},
    {"linux partition beyond 4 GiB",
     [] {
       FakeDisk d = Disk(0x83, 0x900000);
       PutExt(d, 0x900000, 1000, 10, 2);
       return d;
     },
     {1, 5, 1000, 10, 4'096'000, 40'960}},
    {"gpt reserved partition first",
     [] {
       FakeDisk d = Gpt(kReservedGuid, 2048);
       PutExt(d, 2048, 1000, 10, 2);
       return d;
     },
     {0, 0, 0, 0, 0, 0}},
    {"gpt ext first",
     [] {
       FakeDisk d = Gpt(kLinuxGuid, 2048);
       PutExt(d, 2048, 1000, 10, 2);
       return d;
     },
     {1, 5, 1000, 10, 4'096'000, 40'960}},
    {"gpt xfs beyond 2 TiB",
     [] {
       FakeDisk d = Gpt(kLinuxGuid, 0x1'0000'0800);
       d.size = 4096 * kGiB;
       PutXfs(d, 0x1'0000'0800, 4096, 1000, 1);
       return d;
     },
     {1, 4, 1000, 1, 4'096'000, 4096}},
    {"gpt start whose byte offset overflows",
     [] { return Gpt(kLinuxGuid, std::numeric_limits<std::uint64_t>::max() / 256); },
     {0, 0, 0, 0, 0, 0}},
    {"gpt entries unreadable", [] { return Disk(0xEE, 1, 1024); }, {0, 0, 0, 0, 0, 0}},
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class SectorReaderCases : public ::testing::TestWithParam<Case> {};

TEST_P(SectorReaderCases, Answers) {
  FakeDisk disk = GetParam().make();
  SectorSizes got = ReadSectorSizes(disk.Reader());
  const SectorSizes& want = GetParam().want;
  EXPECT_EQ(got.answer, want.answer);
  EXPECT_EQ(got.fileSystemType, want.fileSystemType);
  EXPECT_EQ(got.totalSectors, want.totalSectors);
  EXPECT_EQ(got.freeSectors, want.freeSectors);
  EXPECT_EQ(got.totalBytes, want.totalBytes);
  EXPECT_EQ(got.freeBytes, want.freeBytes);
  for (std::uint64_t offset : disk.reads) EXPECT_EQ(offset % kSectorBytes, 0u);
}

INSTANTIATE_TEST_SUITE_P(Crafted, SectorReaderCases, ::testing::ValuesIn(kCases),
                         [](const auto& param_info) {
                           std::string name = param_info.param.name;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

TEST(SectorReader, BrokenReadersAreFailedReads) {
  EXPECT_EQ(ReadSectorSizes(ReadAt{}).answer, 0);
  auto throwing = [](std::uint64_t, std::span<std::uint8_t>) -> bool {
    throw std::runtime_error("unplugged");
  };
  SectorSizes sizes = ReadSectorSizes(throwing);
  EXPECT_EQ(sizes.answer, 0);
  EXPECT_EQ(sizes.fileSystemType, 0);
}

class SectorFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(temp_.path().empty()); }
  devtest::TempDir temp_;
  const std::string& dir_ = temp_.path();
};

TEST_F(SectorFileTest, ReadsWholeSpansAndFailsShortOnes) {
  std::string path = dir_ + "/img";
  std::vector<std::uint8_t> bytes(1000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
  devtest::WriteAll(path, std::string(bytes.begin(), bytes.end()));

  auto file = SectorFile::Open(path);
  ASSERT_TRUE(file);
  ReadAt read = file->Reader();
  Sector s{};
  ASSERT_TRUE(read(488, s));
  EXPECT_EQ(s[0], 488 % 256);
  EXPECT_EQ(s[511], 999 % 256);
  EXPECT_FALSE(read(489, s));
  EXPECT_FALSE(read(std::numeric_limits<std::uint64_t>::max() - 100, s));
}

TEST_F(SectorFileTest, OpenReportsWhyItFailed) {
  int error = 0;
  EXPECT_FALSE(SectorFile::Open(dir_ + "/missing", &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(SectorFile::Open(dir_, &error));
  EXPECT_EQ(error, EISDIR);
}

}  // namespace
}  // namespace kuv
