#pragma once
// The backends the environment contract runs against: the simulator everywhere, and each
// platform's real-device backend from a file of its own.

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "panelio/env.h"

namespace kuv::devtest {

inline constexpr std::uint64_t kGiB = 1ull << 30;
inline constexpr std::uint64_t kImageSize = 6 * kGiB;
inline constexpr std::uint64_t kFarOffset = 5 * kGiB + 4096;  // past 4 GiB: 64-bit offsets

// A sparse image with a marked first sector and a marked sector beyond 4 GiB; false on failure.
bool WriteContractImage(const std::string& path);

struct Backend {
  std::unique_ptr<DeviceEnv> env;
  std::string scratch;  // a directory the backend may create files in
  bool keepsHidden;     // whether scratch's file system keeps a hidden attribute
};

struct BackendMaker {
  const char* name;
  std::function<Backend(const std::string& root)> make;
  friend void PrintTo(const BackendMaker& m, std::ostream* out) { *out << m.name; }
};

// The real-device backends of this platform that can run on a test machine.
std::vector<BackendMaker> PlatformBackends();

}  // namespace kuv::devtest
