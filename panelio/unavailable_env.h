#pragma once
// An environment with no devices, volumes or files behind it: every operation fails with one code
// and reason. It stands for a platform whose device backend is not there, and is where tests start
// when they override only the few methods they watch.

#include <chrono>
#include <thread>

#include "panelio/env.h"

namespace kuv {

class UnavailableEnv : public DeviceEnv {
 public:
  UnavailableEnv(int code, std::string reason) : code_(code), reason_(std::move(reason)) {}

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
  Status MakeDirectory(const std::string&) override { return No(); }
  Status SetHidden(const std::string&) override { return No(); }
  Result<bool> IsHidden(const std::string&) override { return No(); }
  Status AppendToFile(const std::string&, std::span<const std::uint8_t>) override { return No(); }
  Status RemoveFile(const std::string&) override { return No(); }
  Status SetAutostart(bool) override { return No(); }
  Result<bool> AutostartRegistered() override { return No(); }
  void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }

 private:
  Status No() const { return Status(code_, reason_); }

  int code_;
  std::string reason_;
};

}  // namespace kuv
