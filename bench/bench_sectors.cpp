// The sector reader runs twice in every GetLcdInfo, for each of 32 drive numbers of a scan: these
// time one call on crafted images in memory and on a real ext4 image read through the page cache.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "panelio/sector_reader.h"

namespace {

void PutLe32(std::vector<std::uint8_t>& img, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) img[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void PutBe(std::vector<std::uint8_t>& img, std::size_t at, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i)
    img[at + i] = static_cast<std::uint8_t>(v >> (8 * (bytes - 1 - i)));
}

// A disk whose first MBR partition (type, start sector 1) is filled in by the case.
std::vector<std::uint8_t> Image(std::uint8_t type, int fileSystem) {
  std::vector<std::uint8_t> img(8 * kuv::kSectorBytes);
  img[450] = type;
  PutLe32(img, 454, 1);
  const std::size_t part = kuv::kSectorBytes;
  switch (fileSystem) {
    case 4:
      std::memcpy(&img[part], "XFSB", 4);
      PutBe(img, part + 4, 4096, 4);
      PutBe(img, part + 8, 2'441'609'216, 8);
      PutBe(img, part + 144, 1000, 8);
      break;
    case 5:
      PutLe32(img, part + 1024 + 4, 65536);
      PutLe32(img, part + 1024 + 12, 56023);
      img[part + 1024 + 56] = 0x53;
      img[part + 1024 + 57] = 0xEF;
      break;
    case 2:
      img[part + 11 + 1] = 2;  // 512 bytes per sector
      img[part + 13] = 8;
      img[part + 14] = 32;
      img[part + 16] = 2;
      PutLe32(img, part + 32, 1'000'000);
      PutLe32(img, part + 36, 1000);
      img[part + 48] = 1;
      img[part + 66] = 0x29;
      PutLe32(img, part + 512, 0x41615252);
      PutLe32(img, part + 512 + 484, 0x61417272);
      PutLe32(img, part + 512 + 488, 100);
      break;
  }
  return img;
}

void BM_SectorsInMemory(benchmark::State& state) {
  const auto type = static_cast<std::uint8_t>(state.range(0));
  const auto img = Image(type, static_cast<int>(state.range(1)));
  kuv::ReadAt readAt = [&img](std::uint64_t offset, std::span<std::uint8_t> out) {
    if (offset > img.size() || out.size() > img.size() - offset) return false;
    std::memcpy(out.data(), img.data() + offset, out.size());
    return true;
  };
  for (auto _ : state) benchmark::DoNotOptimize(kuv::ReadSectorSizes(readAt));
}
BENCHMARK(BM_SectorsInMemory)
    ->ArgNames({"type", "fs"})
    ->Args({0x83, 4})
    ->Args({0x83, 5})
    ->Args({0x0C, 2})
    ->Args({0x07, 0});

void BM_SectorsExt4File(benchmark::State& state) {
  char dir[] = "/tmp/bench_sectors_XXXXXX";
  if (!::mkdtemp(dir)) {
    state.SkipWithError("no temporary directory");
    return;
  }
  const std::string disk = std::string(dir) + "/disk.img";
  const std::string make = "truncate -s 65M " + disk + " && printf 'start=2048, type=83\\n' | " +
                           "/usr/sbin/sfdisk -q " + disk + " && /usr/sbin/mkfs.ext4 -q -F -E " +
                           "offset=1048576 " + disk + " 64M >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) {
    std::system(("rm -rf " + std::string(dir)).c_str());
    state.SkipWithError("truncate, sfdisk or mkfs.ext4 failed or is missing");
    return;
  }
  auto file = kuv::SectorFile::Open(disk);
  if (file) {
    const kuv::ReadAt readAt = file->Reader();
    for (auto _ : state) benchmark::DoNotOptimize(kuv::ReadSectorSizes(readAt));
  } else {
    state.SkipWithError("cannot open the image");
  }
  std::system(("rm -rf " + std::string(dir)).c_str());
}
BENCHMARK(BM_SectorsExt4File);

}  // namespace
