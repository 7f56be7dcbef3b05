#include "panelio/env.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "panelio/platform_env.h"
#include "panelio/sim/sim_env.h"

namespace kuv {

std::string Status::ToString() const {
  if (ok()) return "ok";
  std::string text = context_;
  if (!text.empty()) text += ": ";
  text += code_ > 0 ? std::strerror(code_) : "failed";
  return text;
}

Status PosixError(std::string context, int err) {
  return Status(err, std::move(context));
}

namespace {

std::atomic<DeviceEnv*> g_override{nullptr};
DeviceEnv* g_default = nullptr;  // what DefaultEnv made, for ReleaseDefaultEnv

}  // namespace

DeviceEnv& DefaultEnv() {
  // Built once and never destroyed, so exports called from static destructors still find it.
  static DeviceEnv* env = [] {
    const char* world = std::getenv("KUVLCD_SIM_WORLD");
    g_default = (world && *world) ? NewSimEnv(world).release() : NewPlatformEnv().release();
    return g_default;
  }();
  return *env;
}

void ReleaseDefaultEnv() {
  delete g_default;
  g_default = nullptr;
}

DeviceEnv& Env() {
  DeviceEnv* env = g_override.load(std::memory_order_acquire);
  return env ? *env : DefaultEnv();
}

ScopedEnvOverride::ScopedEnvOverride(DeviceEnv& env)
    : previous_(g_override.exchange(&env, std::memory_order_acq_rel)) {}

ScopedEnvOverride::~ScopedEnvOverride() {
  g_override.store(previous_, std::memory_order_release);
}

}  // namespace kuv
