#include <filesystem>

#include "panelio/env_contract_test.h"
#include "panelio/linux/linux_env.h"

namespace kuv::devtest {

// LinuxEnv with its device directory and autostart file moved into the test's directory; drive 1
// (sdb) is an image file, which LinuxEnv accepts as a disk.
std::vector<BackendMaker> PlatformBackends() {
  auto make = [](const std::string& root) -> Backend {
    std::filesystem::create_directories(root + "/dev");
    std::filesystem::create_directories(root + "/files");
    if (!WriteContractImage(root + "/dev/sdb")) return {};
    LinuxEnvPaths paths;
    paths.devDir = root + "/dev";
    paths.autostartFile = root + "/xdg/autostart/KuvLcdManager.desktop";
    return {NewLinuxEnv(paths), root + "/files", false};
  };
  return {{"Linux", make}};
}

}  // namespace kuv::devtest
