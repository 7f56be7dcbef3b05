#pragma once
// Small helpers shared by the device tests: scratch directories and worlds written from JSON.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace kuv::devtest {

// A directory under $TMPDIR removed with everything in it when the test ends.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kuvdev-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data())) path_ = buffer.data();
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline void WriteWorld(const std::string& dir, const nlohmann::json& world) {
  WriteAll(dir + "/world.json", world.dump(2));
}

// The 96 line records of a raster in 64-byte slots, built here independently of the composer.
inline std::vector<std::uint8_t> LineSlots(const std::vector<std::uint8_t>& raster) {
  std::vector<std::uint8_t> slots(96 * 64, 0);
  for (int i = 0; i < 96; ++i) {
    std::uint8_t line = static_cast<std::uint8_t>(i + 1), reversed = 0;
    for (int b = 0; b < 8; ++b)
      if (line & (1 << b)) reversed = static_cast<std::uint8_t>(reversed | (0x80 >> b));
    std::uint8_t* slot = slots.data() + i * 64;
    slot[0] = 0x4C;
    slot[1] = 0x10;
    slot[2] = 0x80;
    slot[3] = reversed;
    for (int j = 0; j < 12; ++j) slot[4 + j] = raster[static_cast<std::size_t>(i * 12 + j)];
  }
  return slots;
}

}  // namespace kuv::devtest

#include <cerrno>

#include "panelio/env.h"

namespace kuv::devtest {

// An environment with nothing in it: every operation fails with ENOTSUP. Tests override the few
// methods they watch.
class NullEnv : public DeviceEnv {
 public:
  Result<std::unique_ptr<Disk>> OpenDisk(int, DiskAccess) override { return No(); }
  Result<std::vector<DiskInterface>> ListDisks() override { return No(); }
  Result<ScsiAddress> GetScsiAddress(int) override { return No(); }
  Result<std::vector<std::string>> ParentInstanceIds(int) override { return No(); }
  Result<std::string> FriendlyName(int) override { return No(); }
  Result<std::optional<StoragePortInfo>> AdapterOf(int) override { return No(); }
  Result<std::vector<StoragePortInfo>> ListStoragePorts() override { return No(); }
  Result<std::optional<std::vector<std::uint8_t>>> ReadUpperFilters(const std::string&) override {
    return No();
  }
  Status WriteUpperFilters(const std::string&, std::span<const std::uint8_t>) override {
    return No();
  }
  Result<std::unique_ptr<StoragePort>> OpenStoragePort(const std::string&) override { return No(); }
  Result<std::vector<HidInfo>> ListHid() override { return No(); }
  Result<std::unique_ptr<HidDevice>> OpenHid(const std::string&) override { return No(); }
  Result<std::vector<VolumeInfo>> ListVolumes() override { return No(); }
  Result<SpaceInfo> FreeSpace(const std::string&) override { return No(); }
  Status CreateDirectory(const std::string&) override { return No(); }
  Status SetHidden(const std::string&) override { return No(); }
  Result<bool> IsHidden(const std::string&) override { return No(); }
  Status AppendToFile(const std::string&, std::span<const std::uint8_t>) override { return No(); }
  Status DeleteFile(const std::string&) override { return No(); }
  Status SetAutostart(bool) override { return No(); }
  Result<bool> AutostartRegistered() override { return No(); }
  void Sleep(std::chrono::milliseconds) override {}

 private:
  static Status No() { return Status(ENOTSUP, "not in this test"); }
};

}  // namespace kuv::devtest
