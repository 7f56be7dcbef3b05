#include "panelio/env_contract_test.h"

namespace kuv::devtest {

// The Windows device backend joins here once it is built; the simulator runs the contract
// meanwhile.
std::vector<BackendMaker> PlatformBackends() {
  return {};
}

}  // namespace kuv::devtest
