#include "panelio/sim/sim_bridge_panel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "panelio/sim/sim_scsi.h"

namespace kuv::sim {

Result<ScsiReply> AnswerReadBuffer(const BridgePanel& panel, const ScsiRequest& request) {
  if (request.cdb.size() < 3 || request.cdb[1] != 0x01 || request.direction != DataDirection::kIn)
    return IllegalRequest();
  std::uint8_t reply[12] = {};
  std::size_t length = 0;
  switch (request.cdb[2]) {
    case 0x55:
      std::memcpy(reply, panel.idText.data(), std::min<std::size_t>(panel.idText.size(), 8));
      length = 8;
      break;
    case 0x51:
      reply[1] = panel.state;
      length = 12;
      break;
    case 0xE4:
      reply[0] = static_cast<std::uint8_t>(panel.panelWord & 0xFF);
      reply[1] = static_cast<std::uint8_t>(panel.panelWord >> 8);
      length = 8;
      break;
    default:
      return IllegalRequest();
  }
  std::size_t n = std::min(length, request.data.size());
  std::copy_n(reply, n, request.data.begin());
  ScsiReply good;
  good.residual = static_cast<std::uint32_t>(request.data.size() - n);
  return good;
}

Result<ScsiReply> AnswerWriteBuffer(PanelCache& panel, const FaultClock& clock,
                                    const ScsiRequest& request) {
  if (request.cdb.size() < 6 || request.cdb[1] != 0x01 || request.direction != DataDirection::kOut)
    return IllegalRequest();
  if (request.cdb[2] == 0xE7) {
    if (Status s = panel.Stop(); !s.ok()) return s;
    return ScsiReply{};
  }
  if (request.cdb[2] != 0xE3 || request.data.size() < 16) return IllegalRequest();
  int index = request.cdb[5];
  if (index >= kPanelLines || clock.RefusesLine(index)) return CheckCondition(0x0B, 0x00);
  Status s = panel.Line(request.data, index);
  if (s.code() == EINVAL) return IllegalRequest();
  if (!s.ok()) return s;
  return ScsiReply{};
}

}  // namespace kuv::sim
