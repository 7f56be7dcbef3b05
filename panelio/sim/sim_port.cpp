#include "panelio/sim/sim_port.h"

#include <algorithm>
#include <cerrno>

#include "common/utf16.h"
#include "panelio/sim/sim_ata.h"
#include "panelio/upper_filters.h"

namespace kuv::sim {
namespace {

class SimPort final : public StoragePort {
 public:
  SimPort(WorldPtr world, const Adapter& adapter, DeviceEnv& env)
      : world_(std::move(world)), adapter_(adapter), env_(env) {}

  // Plays the SATA filter driver: present only when the adapter's upper filters name it.
  Result<std::size_t> Miniport(std::span<const std::uint8_t> in,
                               std::span<std::uint8_t> out) override {
    auto list = env_.ReadUpperFilters(adapter_.instanceId);
    if (!list.ok()) return list.status();
    if (!*list || !HasSataFilter(**list)) return PosixError("no filter on " + adapter_.id, EIO);
    auto request = ParseFilterRequest(in);
    if (!request || out.size() < kFilterRequestOut)
      return PosixError("malformed filter request", EINVAL);
    const Disk* disk = nullptr;
    for (const Disk& d : world_->disks)
      if (d.adapter == adapter_.id && d.transport == Transport::kFilter &&
          d.scsiAddress.path == request->pathId && d.scsiAddress.target == request->targetId)
        disk = &d;
    if (!disk) return PosixError("no drive at that address on " + adapter_.id, ENODEV);
    bool dataIn = request->registers.command == 0xEC || request->registers.features == 0xD0 ||
                  request->registers.features == 0xD1;
    std::uint8_t sector[512] = {};
    if (Status s =
            AnswerAta(*disk, request->registers,
                      dataIn ? std::span<std::uint8_t>(sector) : std::span<std::uint8_t>());
        !s.ok())
      return s;
    std::fill(out.begin(), out.end(), 0);
    std::copy_n(in.begin(), std::min(in.size(), kFilterReplyOffset), out.begin());
    std::copy_n(sector, 512, out.begin() + kFilterReplyOffset);
    return kFilterRequestOut;
  }

 private:
  WorldPtr world_;
  const Adapter& adapter_;
  DeviceEnv& env_;
};

std::vector<std::uint8_t> Utf16Bytes(const std::string& utf8) {
  std::u16string text = Utf8ToUtf16(utf8);
  std::vector<std::uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

}  // namespace

StoragePortInfo PortInfo(const Adapter& a) {
  return {a.portPath, a.instanceId, a.hardwareIds, Utf16Bytes(a.pdoName)};
}

std::unique_ptr<StoragePort> OpenSimPort(WorldPtr world, const Adapter& adapter, DeviceEnv& env) {
  return std::make_unique<SimPort>(std::move(world), adapter, env);
}

}  // namespace kuv::sim
