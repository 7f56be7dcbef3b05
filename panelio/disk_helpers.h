#pragma once
// Reading a drive's own sectors through the environment.

#include "panelio/env.h"
#include "panelio/sector_reader.h"

namespace kuv {

// A ReadAt over an open disk for the sector reader; disk must outlive it.
ReadAt DiskReadAt(Disk& disk);

}  // namespace kuv
