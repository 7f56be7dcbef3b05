#pragma once
// Small helpers shared by the device tests: scratch directories and worlds written from JSON.

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace kuv::devtest {

// A fresh directory under the temporary folder; "" when none could be made.
inline std::string MakeTempDir(const std::string& prefix) {
  std::random_device random;
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return "";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path dir = base / (prefix + std::to_string(random()));
    if (std::filesystem::create_directory(dir, ec)) return dir.generic_string();
    if (ec) return "";
  }
  return "";
}

// A directory under the temporary folder removed with everything in it when the test ends.
class TempDir {
 public:
  TempDir() : path_(MakeTempDir("kuvdev-")) {}
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
  // Not named "slots", which Qt's headers define as a macro for the tests that include both.
  std::vector<std::uint8_t> records(96 * 64, 0);
  for (int i = 0; i < 96; ++i) {
    std::uint8_t line = static_cast<std::uint8_t>(i + 1), reversed = 0;
    for (int b = 0; b < 8; ++b)
      if (line & (1 << b)) reversed = static_cast<std::uint8_t>(reversed | (0x80 >> b));
    std::uint8_t* slot = records.data() + i * 64;
    slot[0] = 0x4C;
    slot[1] = 0x10;
    slot[2] = 0x80;
    slot[3] = reversed;
    for (int j = 0; j < 12; ++j) slot[4 + j] = raster[static_cast<std::size_t>(i * 12 + j)];
  }
  return records;
}

}  // namespace kuv::devtest

#include <cerrno>

#include "panelio/env.h"
#include "panelio/unavailable_env.h"

namespace kuv::devtest {

// An environment with nothing in it: every operation fails with ENOTSUP and pauses take no time.
// Tests override the few methods they watch.
class NullEnv : public UnavailableEnv {
 public:
  NullEnv() : UnavailableEnv(ENOTSUP, "not in this test") {}
  void Sleep(std::chrono::milliseconds) override {}
};

}  // namespace kuv::devtest
