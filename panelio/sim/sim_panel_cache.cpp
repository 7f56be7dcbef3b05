#include "panelio/sim/sim_panel_cache.h"

#include <algorithm>
#include <cerrno>

namespace kuv::sim {

PanelCache::PanelCache(StateDir state, std::string name)
    : state_(std::move(state)), name_(std::move(name)) {}

PanelCache::~PanelCache() {
  if (!lines_.empty() || stops_ > 0) Flush();
}

Status PanelCache::Line(std::span<const std::uint8_t> record, int index) {
  std::array<std::uint8_t, 16> copy{};
  if (record.size() < copy.size()) return Status(EINVAL, "not a line record");
  std::copy_n(record.begin(), copy.size(), copy.begin());
  if (!seen_.TakeLine(copy, index)) return Status(EINVAL, "not a line record");
  lines_.push_back({copy, index});
  // A picture's worth of rows from this handle: show it now rather than at close.
  if (seen_.Complete()) {
    seen_.received.fill(false);
    return Flush();
  }
  return {};
}

Status PanelCache::Stop() {
  ++stops_;
  return Flush();
}

Status PanelCache::Flush() {
  Status s = state_.Locked([&]() -> Status {
    auto stored = state_.Panel(name_);
    if (!stored.ok()) return stored.status();
    PanelMemory& m = *stored;
    bool picture = false;
    for (const auto& [record, index] : lines_) {
      m.TakeLine(record, index);
      if (m.Complete()) {
        ++m.pictures;
        m.received.fill(false);
        picture = true;
      }
    }
    m.stops += stops_;
    return state_.SetPanel(name_, m, picture);
  });
  lines_.clear();
  stops_ = 0;
  return s;
}

}  // namespace kuv::sim
