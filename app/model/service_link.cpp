#include "app/model/service_link.h"

namespace kuv {
namespace {

// The outermost open pass of this thread.
thread_local ServicePass* tPass = nullptr;

}  // namespace

bool ServiceLink::MayAsk() const {
  return !(tPass && &tPass->link_ == this && tPass->unreachable_);
}

void ServiceLink::Record(bool reached) {
  reachable_ = reached;
  if (!reached && tPass && &tPass->link_ == this) tPass->unreachable_ = true;
}

ServicePass::ServicePass(const ServiceLink& link) : link_(link), outer_(tPass) {
  if (!outer_) tPass = this;
}

ServicePass::~ServicePass() {
  if (tPass == this) tPass = nullptr;
}

bool ServicePass::unreachable() const {
  return outer_ ? outer_->unreachable() : unreachable_;
}

}  // namespace kuv
