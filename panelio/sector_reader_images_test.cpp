// The sector reader against real file systems and partition tables made by the system's own tools,
// compared with what those tools report. Images are sparse and made fresh in a temporary directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "panelio/sector_reader.h"

namespace kuv {
namespace {

constexpr std::uint64_t kMiB = 1 << 20;

std::string FindTool(const std::string& name) {
  for (const char* dir : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
    std::string path = dir + name;
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return {};
}

// Runs a shell command; its standard output, or nullopt when it failed.
std::optional<std::string> Shell(const std::string& command) {
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  if (::pclose(pipe) != 0) return std::nullopt;
  return out;
}

std::uint64_t Field(const std::string& text, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(pattern))) {
    ADD_FAILURE() << "no match for " << pattern << " in:\n" << text;
    return 0;
  }
  return std::stoull(m[1]);
}

class SectorImages : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"truncate", "sfdisk", "sgdisk", "mkfs.ext4", "mkfs.xfs", "mkfs.vfat",
                             "dumpe2fs", "xfs_db", "fsck.vfat"}) {
      tools_[tool] = FindTool(tool);
    }
    char dir[] = "/tmp/sector_images_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  const std::string& Need(const std::string& tool) { return tools_[tool]; }

  // The first of the tools that is not installed, or "".
  std::string Missing(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      if (tools_[name].empty()) return name;
    }
    return {};
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::string Sparse(const std::string& name, std::uint64_t bytes) {
    std::string path = Path(name);
    EXPECT_TRUE(Shell(Need("truncate") + " -s " + std::to_string(bytes) + " " + path));
    return path;
  }

  // Copies the file system image into the disk image at byteOffset, leaving holes where it has
  // only zeros so a 300 MiB XFS stays small.
  void Splice(const std::string& from, const std::string& to, std::uint64_t byteOffset) {
    int in = ::open(from.c_str(), O_RDONLY);
    int out = ::open(to.c_str(), O_WRONLY);
    ASSERT_GE(in, 0);
    ASSERT_GE(out, 0);
    std::vector<char> chunk(kMiB);
    const std::vector<char> zeros(kMiB);
    off_t at = 0;
    for (ssize_t n; (n = ::pread(in, chunk.data(), chunk.size(), at)) > 0; at += n) {
      if (std::memcmp(chunk.data(), zeros.data(), static_cast<std::size_t>(n)) == 0) continue;
      ASSERT_EQ(::pwrite(out, chunk.data(), static_cast<std::size_t>(n),
                         static_cast<off_t>(byteOffset) + at),
                n);
    }
    ::close(in);
    ::close(out);
  }

  SectorSizes Read(const std::string& path) {
    auto file = SectorFile::Open(path);
    EXPECT_TRUE(file);
    return file ? ReadSectorSizes(file->Reader()) : SectorSizes{};
  }

  // A disk image with an MBR whose first partition of the type starts at startSector.
  std::string MbrDisk(const std::string& type, std::uint64_t startSector, std::uint64_t bytes) {
    std::string disk = Sparse("disk.img", bytes);
    std::string script =
        "label: dos\nstart=" + std::to_string(startSector) + ", type=" + type + "\n";
    EXPECT_TRUE(Shell("printf '" + script + "' | " + Need("sfdisk") + " -q " + disk));
    return disk;
  }

  struct Ext {
    std::uint64_t blocks, freeBlocks, blockSize;
  };
  std::string MakeExt4(std::uint64_t bytes, const std::string& options, Ext& report) {
    std::string fs = Sparse("ext.img", bytes);
    EXPECT_TRUE(Shell(Need("mkfs.ext4") + " -q -F " + options + " " + fs));
    auto out = Shell(Need("dumpe2fs") + " -h " + fs);
    EXPECT_TRUE(out);
    report = {Field(*out, R"(Block count:\s+(\d+))"), Field(*out, R"(Free blocks:\s+(\d+))"),
              Field(*out, R"(Block size:\s+(\d+))")};
    return fs;
  }

  void ExpectExt(const SectorSizes& got, const Ext& ext) {
    EXPECT_EQ(got.answer, 1);
    EXPECT_EQ(got.fileSystemType, 5);
    EXPECT_EQ(got.totalSectors, ext.blocks);
    EXPECT_EQ(got.freeSectors, ext.freeBlocks);
    EXPECT_EQ(got.totalBytes, ext.blocks * ext.blockSize);
    EXPECT_EQ(got.freeBytes, ext.freeBlocks * ext.blockSize);
  }

  std::map<std::string, std::string> tools_;
  std::string dir_;
};

#define REQUIRE_TOOLS(...)                                                        \
  if (std::string missing = Missing({"truncate", __VA_ARGS__}); !missing.empty()) \
  GTEST_SKIP() << missing << " is not installed"

TEST_F(SectorImages, MbrExt4) {
  REQUIRE_TOOLS("sfdisk", "mkfs.ext4", "dumpe2fs");
  Ext ext{};
  std::string fs = MakeExt4(64 * kMiB, "", ext);
  std::string disk = MbrDisk("83", 2048, 65 * kMiB);
  Splice(fs, disk, 2048 * 512);
  ExpectExt(Read(disk), ext);
}

TEST_F(SectorImages, MbrExt4BeyondFourGiB) {
  REQUIRE_TOOLS("sfdisk", "mkfs.ext4", "dumpe2fs");
  Ext ext{};
  std::string fs = MakeExt4(32 * kMiB, "-b 4096", ext);
  constexpr std::uint64_t kStart = 9'000'000;  // 4.6 GB in
  std::string disk = MbrDisk("83", kStart, kStart * 512 + 32 * kMiB);
  Splice(fs, disk, kStart * 512);
  ExpectExt(Read(disk), ext);
}

TEST_F(SectorImages, MbrXfs) {
  REQUIRE_TOOLS("sfdisk", "mkfs.xfs", "xfs_db");
  std::string fs = Sparse("xfs.img", 300 * kMiB);
  ASSERT_TRUE(Shell(Need("mkfs.xfs") + " -q -f " + fs));
  auto out = Shell(Need("xfs_db") + " -r -c 'sb 0' -c 'p dblocks fdblocks blocksize' " + fs);
  std::string disk = MbrDisk("83", 2048, 301 * kMiB);
  ASSERT_TRUE(out);
  std::uint64_t blocks = Field(*out, R"(dblocks = (\d+))");
  std::uint64_t freeBlocks = Field(*out, R"(fdblocks = (\d+))");
  std::uint64_t blockSize = Field(*out, R"(blocksize = (\d+))");
  Splice(fs, disk, 2048 * 512);

  SectorSizes got = Read(disk);
  EXPECT_EQ(got.answer, 1);
  EXPECT_EQ(got.fileSystemType, 4);
  EXPECT_EQ(got.totalSectors, blocks);
  EXPECT_EQ(got.freeSectors, freeBlocks);
  EXPECT_EQ(got.totalBytes, blocks * blockSize);
  EXPECT_EQ(got.freeBytes, freeBlocks * blockSize);
}

TEST_F(SectorImages, MbrFat32) {
  REQUIRE_TOOLS("sfdisk", "mkfs.vfat", "fsck.vfat");
  std::string fs = Sparse("fat.img", 64 * kMiB);
  ASSERT_TRUE(Shell(Need("mkfs.vfat") + " -F 32 " + fs));
  auto out = Shell(Need("fsck.vfat") + " -n -v " + fs);
  std::string disk = MbrDisk("c", 2048, 65 * kMiB);
  ASSERT_TRUE(out);
  std::uint64_t sectorBytes = Field(*out, R"((\d+) bytes per logical sector)");
  std::uint64_t sectorsPerCluster = Field(*out, R"((\d+) bytes per cluster)") / sectorBytes;
  std::uint64_t clusters = Field(*out, R"((\d+) data clusters)");
  std::uint64_t dataStart = Field(*out, R"(Data area starts at byte \d+ \(sector (\d+)\))");
  std::uint64_t volumeSectors = Field(*out, R"((\d+) sectors total)");
  std::uint64_t used = Field(*out, R"((\d+)/\d+ clusters)");
  Splice(fs, disk, 2048 * 512);

  SectorSizes got = Read(disk);
  EXPECT_EQ(got.answer, 0);
  EXPECT_EQ(got.fileSystemType, 2);
  EXPECT_EQ(got.totalSectors, volumeSectors - dataStart);
  EXPECT_EQ(got.totalSectors / sectorsPerCluster, clusters);
  EXPECT_EQ(got.freeSectors, (clusters - used) * sectorsPerCluster);
  EXPECT_EQ(got.freeBytes, got.freeSectors * sectorBytes);
}

TEST_F(SectorImages, MbrNtfsLeavesSizesToTheVolume) {
  REQUIRE_TOOLS("sfdisk");
  std::string disk = MbrDisk("7", 2048, 4 * kMiB);
  SectorSizes got = Read(disk);
  EXPECT_EQ(got.answer, 0);
  EXPECT_EQ(got.fileSystemType, 0);
}

TEST_F(SectorImages, GptExt4First) {
  REQUIRE_TOOLS("sgdisk", "mkfs.ext4", "dumpe2fs");
  Ext ext{};
  std::string fs = MakeExt4(64 * kMiB, "-b 4096", ext);
  std::string disk = Sparse("disk.img", 66 * kMiB);
  ASSERT_TRUE(Shell(Need("sgdisk") + " -n 1:2048:+64M -t 1:8300 " + disk));
  Splice(fs, disk, 2048 * 512);
  ExpectExt(Read(disk), ext);
}

TEST_F(SectorImages, GptReservedPartitionFirst) {
  REQUIRE_TOOLS("sgdisk", "mkfs.ext4", "dumpe2fs");
  Ext ext{};
  std::string fs = MakeExt4(16 * kMiB, "", ext);
  std::string disk = Sparse("disk.img", 34 * kMiB);
  ASSERT_TRUE(Shell(Need("sgdisk") + " -n 1:2048:+16M -t 1:0c01 -n 2:0:+16M -t 2:8300 " + disk));
  // Even a Linux file system in the reserved slot does not count: the disk is the platform's.
  Splice(fs, disk, 2048 * 512);
  SectorSizes got = Read(disk);
  EXPECT_EQ(got.answer, 0);
  EXPECT_EQ(got.fileSystemType, 0);
}

}  // namespace
}  // namespace kuv
