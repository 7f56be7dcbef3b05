#include "panelio/sata_filter.h"

#include <algorithm>
#include <cerrno>
#include <set>

#include "common/utf16.h"
#include "panelio/device_node.h"
#include "panelio/panelio.h"
#include "panelio/pass_through.h"
#include "panelio/upper_filters.h"

namespace kuv {
namespace {

constexpr std::size_t kPdoNameMax = 260;

std::vector<std::u16string> Wide(const std::vector<std::string>& ids) {
  std::vector<std::u16string> wide;
  for (const std::string& id : ids) wide.push_back(Utf8ToUtf16(id));
  return wide;
}

std::vector<std::uint8_t> PdoName(const std::vector<std::uint8_t>& raw) {
  return {raw.begin(), raw.begin() + static_cast<long>(std::min(raw.size(), kPdoNameMax))};
}

}  // namespace

SataFilterInfo SataFilterOfDrive(DeviceEnv& env, int driveNumber, bool wantPort) {
  SataFilterInfo info;
  if (!FindDiskInterface(env, driveNumber).ok()) return info;
  auto adapter = env.AdapterOf(driveNumber);
  if (!adapter.ok() || !*adapter) return info;
  std::vector<std::u16string> ids = Wide((*adapter)->hardwareIds);
  if (!IsSiliconImageAdapter(ids)) return info;
  auto filters = env.ReadUpperFilters((*adapter)->instanceId);
  if (filters.ok() && *filters) {
    info.state = SataFilterState(ids, std::span<const std::uint8_t>(**filters));
  } else {
    info.state = SataFilterState(ids, std::nullopt);
  }
  if (!wantPort) return info;
  std::vector<std::uint8_t> pdo = PdoName((*adapter)->pdoName);
  auto ports = env.ListStoragePorts();
  if (!ports.ok()) return info;
  for (const StoragePortInfo& port : *ports) {
    if (PdoName(port.pdoName) == pdo) {
      info.portPath = port.interfacePath;
      break;
    }
  }
  return info;
}

bool ModifySataFilterLists(DeviceEnv& env, bool add, Status* why) {
  Status ignored;
  Status& failure = why ? *why : ignored;
  auto ports = env.ListStoragePorts();
  if (!ports.ok()) {
    failure = ports.status();
    return false;
  }
  bool written = false;
  std::set<std::string> done;  // one adapter may expose several port interfaces
  for (const StoragePortInfo& port : *ports) {
    if (!done.insert(port.instanceId).second) continue;
    if (!IsSiliconImageAdapter(Wide(port.hardwareIds))) continue;
    auto list = env.ReadUpperFilters(port.instanceId);
    if (!list.ok()) {
      failure = list.status();
      continue;
    }
    std::optional<std::span<const std::uint8_t>> current;
    if (*list) current = std::span<const std::uint8_t>(**list);
    auto next = add ? AddSataFilter(current) : RemoveSataFilter(current);
    if (!next) continue;
    Status s = env.WriteUpperFilters(port.instanceId, *next);
    if (s.ok()) {
      written = true;
    } else {
      failure = s;
    }
  }
  return written;
}

}  // namespace kuv

extern "C" std::int32_t AddFilterSilHost(void) {
  return ModifyFilterSilHost(1);
}

extern "C" std::int32_t ModifyFilterSilHost(std::int32_t add) {
  return kuv::RunExport([&](kuv::Status& why) -> std::int32_t {
    return kuv::ModifySataFilterLists(kuv::Env(), add == 1, &why) ? 1 : 0;
  });
}

extern "C" std::uint32_t DoesExistSATAFilter(std::uint32_t driveNumber) {
  return kuv::RunExport([&](kuv::Status&) -> std::uint32_t {
    if (driveNumber > 0x7FFFFFFF) return kuv::kNotSiliconImageHost;
    return static_cast<std::uint32_t>(
        kuv::SataFilterOfDrive(kuv::Env(), static_cast<int>(driveNumber), false).state);
  });
}
