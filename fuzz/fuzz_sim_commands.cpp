// The simulator takes command bytes and reports from the code under test, which may be wrong: any
// command block, line record or filter request must get an answer or a refusal, never a read past
// its buffer.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "panelio/env.h"
#include "panelio/sim/sample_world.h"
#include "panelio/sim/sim_ata.h"
#include "panelio/sim/sim_env.h"
#include "panelio/sim/sim_state.h"

namespace {

std::string g_dir;

void RemoveWorld() {
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
}

kuv::DeviceEnv* World() {
  static std::unique_ptr<kuv::DeviceEnv> env = [] {
    g_dir = (std::filesystem::temp_directory_path() / "kuvfuzz-XXXXXX").string();
    if (!::mkdtemp(g_dir.data()) || !kuv::sim::WriteSampleWorld(g_dir, {.sleepScale = 0}).ok())
      abort();
    std::atexit(RemoveWorld);
    return kuv::NewSimEnv(g_dir);
  }();
  return env.get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::span<const std::uint8_t> bytes(data, size);
  (void)kuv::sim::AtaFromPassThrough(bytes);
  (void)kuv::sim::PassThroughReadsData(bytes);
  (void)kuv::sim::ParseFilterRequest(bytes);
  kuv::sim::PanelMemory memory;
  (void)memory.TakeLine(bytes, bytes[0] % 100);

  // First byte: drive and direction; then the command length, the command, and the data.
  int drive = bytes[0] & 0x07;
  auto direction = static_cast<kuv::DataDirection>((bytes[0] >> 3) % 3);
  std::size_t cdbLength = std::min<std::size_t>(bytes[1] % 17, size - 2);
  std::vector<std::uint8_t> cdb(bytes.begin() + 2,
                                bytes.begin() + 2 + static_cast<long>(cdbLength));
  std::vector<std::uint8_t> buffer(bytes.begin() + 2 + static_cast<long>(cdbLength), bytes.end());
  auto disk = World()->OpenDisk(drive, kuv::DiskAccess::kReadWrite);
  if (!disk.ok()) return 0;
  auto reply = (*disk)->Scsi({.cdb = cdb, .direction = direction, .data = buffer});
  if (reply.ok() && reply->senseLength > reply->sense.size()) __builtin_trap();
  return 0;
}
