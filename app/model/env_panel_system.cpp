#include <ctime>
#include <thread>
#include <vector>

#include "app/model/ports.h"
#include "app/model/user_folders.h"
#include "common/utf16.h"
#include "panelio/env.h"
#include "panelio/panelio.h"

namespace kuv {
namespace {

class EnvHidPanelWriter : public HidPanelWriter {
 public:
  explicit EnvHidPanelWriter(std::unique_ptr<HidDevice> device) : device_(std::move(device)) {}
  bool Write(std::span<const std::uint8_t, 65> report, std::string& error) override {
    Status status = device_->Write(report);
    if (!status.ok()) error = status.ToString();
    return status.ok();
  }

 private:
  std::unique_ptr<HidDevice> device_;
};

}  // namespace

std::int32_t EnvPanelSystem::HidLcdCount() {
  return ::GetHidLcdCount();
}

std::unique_ptr<HidPanelWriter> EnvPanelSystem::OpenHidPanel(const std::string& path,
                                                             std::string& error) {
  if (path.empty()) {
    error = "the drive has no panel path";
    return nullptr;
  }
  auto device = Env().OpenHid(path);
  if (!device.ok()) {
    error = device.status().ToString();
    return nullptr;
  }
  return std::make_unique<EnvHidPanelWriter>(std::move(device.value()));
}

std::vector<std::optional<VolumeSpace>> EnvPanelSystem::FreeSpaces(
    const std::vector<std::string>& paths) {
  std::vector<std::optional<VolumeSpace>> out;
  for (const auto& space : Env().FreeSpaces(paths)) {
    out.push_back(space.ok() ? std::optional(VolumeSpace{space->totalBytes, space->freeBytes})
                             : std::nullopt);
  }
  return out;
}

void EnvPanelSystem::Pause(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

ClockSnapshot EnvPanelSystem::Now() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  ClockSnapshot clock;
  clock.hour = static_cast<std::uint16_t>(local.tm_hour);
  clock.minute = static_cast<std::uint16_t>(local.tm_min);
  clock.second = static_cast<std::uint16_t>(local.tm_sec);
  clock.year = static_cast<std::uint16_t>(local.tm_year + 1900);
  clock.month = static_cast<std::uint16_t>(local.tm_mon + 1);
  clock.day = static_cast<std::uint16_t>(local.tm_mday);
  return clock;
}

std::u16string EnvPanelSystem::UserName() {
  return Utf8ToUtf16(LoginName());
}

bool EnvPanelSystem::AutostartRegistered() {
  auto registered = Env().AutostartRegistered();
  return registered.ok() && *registered;
}

}  // namespace kuv
