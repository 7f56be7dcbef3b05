// Arbitrary request records, whole or cut short, through the service's policy and dispatch on a
// sample simulated world: no record may crash the service or reach outside the world.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/request_record.h"
#include "common/utf16.h"
#include "panelio/sim/sample_world.h"
#include "panelsvc/dispatch.h"

namespace {

// A fixed place, so seed records can name real paths of the world.
const char* const kWorld = "/tmp/kuvlcd-fuzz-dispatch/world";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::filesystem::remove_all(kWorld);
  if (!kuv::sim::WriteSampleWorld(kWorld, {.sleepScale = 0}).ok()) __builtin_trap();
  ::setenv("KUVLCD_SIM_WORLD", kWorld, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A short read leaves the rest of the zeroed record as it was.
  kuv::RequestRecord record = kuv::MakeRequest(0);
  std::memcpy(&record, data, std::min(size, sizeof record));
  const kuv::svc::DispatchContext context{&kuv::svc::PanelioOps(),
                                          [](uid_t, kuv::svc::LogKind, const std::string&) {}};
  kuv::svc::Dispatch(record, kuv::svc::Peer{1, 1000, 1000}, context);
  if (record.command == kuv::kCmdWriteFile && record.result != 0) {
    // Appends would otherwise grow the world's files run after run.
    std::filesystem::remove(kuv::Utf16ToUtf8(record.WritePath()));
  }
  return 0;
}
