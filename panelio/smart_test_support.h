#pragma once
// Shared by the S.M.A.R.T. and discovery tests: a throw-away simulated world, the real drive dumps
// of the shared test data, and an environment that watches (and may replace) what the code under
// test does to the devices.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "panelio/env.h"
#include "panelio/env_test_support.h"
#include "panelio/sim/sim_env.h"

namespace kuv::testing {

inline std::string TestdataDrive(const std::string& drive) {
  return std::string(KUVLCD_TESTDATA_DIR) + "/smart/" + drive;
}

// True (and the test skipped) when the shared drive dumps are not beside the checkout.
#define KUV_SKIP_WITHOUT_TESTDATA()                                                    \
  do {                                                                                 \
    if (!std::filesystem::exists(std::string(KUVLCD_TESTDATA_DIR) + "/smart"))         \
      GTEST_SKIP() << "shared test data missing: " << KUVLCD_TESTDATA_DIR << "/smart"; \
  } while (0)

inline std::array<std::uint8_t, 512> ReadSector(const std::string& path) {
  std::array<std::uint8_t, 512> sector{};
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(sector.data()), sector.size());
  return sector;
}

// The "ata" member of a world disk pointing at one drive of the test data.
inline nlohmann::json AtaOf(const std::string& drive) {
  std::string dir = TestdataDrive(drive);
  return {{"identify", dir + "/identify.bin"},
          {"smartData", dir + "/data.bin"},
          {"smartThresholds", dir + "/thresholds.bin"}};
}

// A world directory under the temporary folder, removed with everything in it at the end.
class TempWorld {
 public:
  TempWorld() {
    dir_ = devtest::MakeTempDir("kuv-world-");
    if (dir_.empty()) throw std::runtime_error("no temporary world folder");
  }
  ~TempWorld() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempWorld(const TempWorld&) = delete;
  TempWorld& operator=(const TempWorld&) = delete;

  const std::string& dir() const { return dir_; }

  void Write(const nlohmann::json& world) const {
    std::ofstream(dir_ + "/world.json") << world.dump(2);
  }

  // A sparse image file of size bytes inside the world with the given bytes at their offsets.
  std::string Image(
      const std::string& name, std::uint64_t size,
      const std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>>& at) const {
    std::string path = dir_ + "/" + name;
    {
      std::ofstream out(path, std::ios::binary);
      for (const auto& [offset, bytes] : at) {
        out.seekp(static_cast<std::streamoff>(offset));
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
      }
    }
    std::filesystem::resize_file(path, size);
    return path;
  }

  std::string Subdir(const std::string& name) const {
    std::filesystem::create_directories(dir_ + "/" + name);
    return dir_ + "/" + name;
  }

 private:
  std::string dir_;
};

// Forwards everything to an inner environment, counting what reaches the devices; tests can put
// their own HID device or disk in place of the inner one's.
class WatchingEnv final : public DeviceEnv {
 public:
  explicit WatchingEnv(DeviceEnv& inner) : inner_(inner) {}

  int hidOpens = 0;
  int hidWrites = 0;
  int diskOpens = 0;
  std::vector<std::vector<std::uint8_t>> cdbs;  // every SCSI command sent, in order
  int reads = 0;                                // sector reads on any handle
  int volumeLists = 0;
  int spaceQueries = 0;
  std::vector<std::chrono::milliseconds> sleeps;
  std::function<Result<std::unique_ptr<HidDevice>>(const std::string&)> hidOverride;
  std::function<Result<std::vector<HidInfo>>()> hidListOverride;

  Result<std::unique_ptr<Disk>> OpenDisk(int n, DiskAccess a) override {
    ++diskOpens;
    auto disk = inner_.OpenDisk(n, a);
    if (!disk.ok()) return disk.status();
    return std::unique_ptr<Disk>(std::make_unique<WatchedDisk>(*this, std::move(*disk)));
  }
  Result<std::vector<DiskInterface>> ListDisks() override { return inner_.ListDisks(); }
  Result<ScsiAddress> GetScsiAddress(int n) override { return inner_.GetScsiAddress(n); }
  Result<std::vector<std::string>> ParentInstanceIds(int n) override {
    return inner_.ParentInstanceIds(n);
  }
  Result<std::string> FriendlyName(int n) override { return inner_.FriendlyName(n); }
  Result<std::optional<StoragePortInfo>> AdapterOf(int n) override { return inner_.AdapterOf(n); }
  Result<std::vector<StoragePortInfo>> ListStoragePorts() override {
    return inner_.ListStoragePorts();
  }
  Result<std::optional<std::vector<std::uint8_t>>> ReadUpperFilters(
      const std::string& id) override {
    return inner_.ReadUpperFilters(id);
  }
  Status WriteUpperFilters(const std::string& id, std::span<const std::uint8_t> m) override {
    return inner_.WriteUpperFilters(id, m);
  }
  Result<std::unique_ptr<StoragePort>> OpenStoragePort(const std::string& p) override {
    return inner_.OpenStoragePort(p);
  }
  Result<std::vector<HidInfo>> ListHid() override {
    return hidListOverride ? hidListOverride() : inner_.ListHid();
  }
  Result<std::unique_ptr<HidDevice>> OpenHid(const std::string& path) override {
    ++hidOpens;
    auto hid = hidOverride ? hidOverride(path) : inner_.OpenHid(path);
    if (!hid.ok()) return hid.status();
    return std::unique_ptr<HidDevice>(std::make_unique<WatchedHid>(*this, std::move(*hid)));
  }
  Result<std::vector<VolumeInfo>> ListVolumes() override {
    ++volumeLists;
    return inner_.ListVolumes();
  }
  Result<SpaceInfo> FreeSpace(const std::string& p) override {
    ++spaceQueries;
    return inner_.FreeSpace(p);
  }
  Status MakeDirectory(const std::string& p) override { return inner_.MakeDirectory(p); }
  Status SetHidden(const std::string& p) override { return inner_.SetHidden(p); }
  Result<bool> IsHidden(const std::string& p) override { return inner_.IsHidden(p); }
  Status AppendToFile(const std::string& p, std::span<const std::uint8_t> d) override {
    return inner_.AppendToFile(p, d);
  }
  Status RemoveFile(const std::string& p) override { return inner_.RemoveFile(p); }
  Status SetAutostart(bool on) override { return inner_.SetAutostart(on); }
  Result<bool> AutostartRegistered() override { return inner_.AutostartRegistered(); }
  void Sleep(std::chrono::milliseconds d) override { sleeps.push_back(d); }

  // Opcodes of the SCSI commands sent so far (0xA1 and 0x85 are ATA PASS-THROUGH).
  std::vector<std::uint8_t> Opcodes() const {
    std::vector<std::uint8_t> ops;
    for (const auto& c : cdbs) ops.push_back(c.empty() ? 0 : c[0]);
    return ops;
  }

 private:
  class WatchedDisk final : public Disk {
   public:
    WatchedDisk(WatchingEnv& env, std::unique_ptr<Disk> inner)
        : env_(env), inner_(std::move(inner)) {}
    Result<ScsiReply> Scsi(const ScsiRequest& r) override {
      env_.cdbs.emplace_back(r.cdb.begin(), r.cdb.end());
      return inner_->Scsi(r);
    }
    Status ReadAt(std::uint64_t o, std::span<std::uint8_t> out) override {
      return inner_->ReadAt(o, out);
    }
    Status ReadMedium(std::uint64_t lba, std::span<std::uint8_t> out) override {
      return inner_->ReadMedium(lba, out);
    }
    Result<std::uint32_t> LogicalBlockBytes() override { return inner_->LogicalBlockBytes(); }
    Result<std::uint64_t> SizeBytes() override { return inner_->SizeBytes(); }
    Status CheckVerify() override { return inner_->CheckVerify(); }
    Status AtaCommand(const AtaTaskFile& r, std::span<std::uint8_t> d) override {
      return inner_->AtaCommand(r, d);
    }

   private:
    WatchingEnv& env_;
    std::unique_ptr<Disk> inner_;
  };

  class WatchedHid final : public HidDevice {
   public:
    WatchedHid(WatchingEnv& env, std::unique_ptr<HidDevice> inner)
        : env_(env), inner_(std::move(inner)) {}
    Status Write(std::span<const std::uint8_t, 65> report) override {
      ++env_.hidWrites;
      return inner_->Write(report);
    }
    Result<std::size_t> Read(std::span<std::uint8_t, 65> report, int timeoutMs) override {
      return inner_->Read(report, timeoutMs);
    }

   private:
    WatchingEnv& env_;
    std::unique_ptr<HidDevice> inner_;
  };

  DeviceEnv& inner_;
};

}  // namespace kuv::testing
