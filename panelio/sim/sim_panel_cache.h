#pragma once
// A panel's memory as one handle sees it, shared by bridge panels (line records by WRITE BUFFER)
// and HID panels (line reports).

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "panelio/env.h"
#include "panelio/sim/sim_state.h"

namespace kuv::sim {

// Loaded on first use, written back when a picture is complete and when the handle closes, so a
// picture costs a few file writes, not one per line.
class PanelCache {
 public:
  PanelCache(StateDir state, std::string name);
  ~PanelCache();
  PanelCache(const PanelCache&) = delete;
  PanelCache& operator=(const PanelCache&) = delete;

  // Takes one line record for row index; EINVAL when it is not a line record.
  Status Line(std::span<const std::uint8_t> record, int index);
  // The stop command of a bridge panel.
  Status Stop();

 private:
  // Applies this handle's lines and stops to the stored memory under the lock, so two writers of
  // one panel lose nothing; rows are the last writer's, as on the panel itself.
  Status Flush();

  StateDir state_;
  std::string name_;
  PanelMemory seen_;  // only which rows this handle sent since its last complete picture
  std::vector<std::pair<std::array<std::uint8_t, 16>, int>> lines_;
  std::uint64_t stops_ = 0;
};

}  // namespace kuv::sim
