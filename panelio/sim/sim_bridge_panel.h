#pragma once
// A bridge panel: the vendor READ BUFFER queries and WRITE BUFFER commands its enclosure's bridge
// answers on the disk it sits on.

#include "panelio/env.h"
#include "panelio/sim/sim_faults.h"
#include "panelio/sim/sim_panel_cache.h"
#include "panelio/sim/world.h"

namespace kuv::sim {

// READ BUFFER (0x3C, mode 0x01) ids 0x55 (identification text), 0x51 (state), 0xE4 (panel word).
Result<ScsiReply> AnswerReadBuffer(const BridgePanel& panel, const ScsiRequest& request);

// WRITE BUFFER (0x3B, mode 0x01) ids 0xE3 (a line record) and 0xE7 (stop), into the panel's memory
// as this handle sees it; a line the faults refuse is answered with ABORTED COMMAND.
Result<ScsiReply> AnswerWriteBuffer(PanelCache& panel, const FaultClock& clock,
                                    const ScsiRequest& request);

}  // namespace kuv::sim
