#pragma once
// kuvlcd update --qr: the Update LCD button on the QR page.

#include <optional>
#include <string>

#include "app/model/headless_session.h"
#include "tools/kuvlcd/cli.h"

namespace kuv::cli {

// The options of the QR form of update.
OptionGroup QrOptionGroup();

struct QrOptions {
  std::string text;
  std::optional<int> cellPitch;  // 1 or 2
  std::optional<int> level;      // 0 to 3
};

// The options of `update --qr TEXT`, checked; UsageError for a value out of range.
QrOptions ParseQrOptions(const Args& args);

// Types the text into the QR page of the drive in slot and runs Update LCD on that tab. Returns
// the exit status.
int RunQrUpdate(const QrOptions& options, HeadlessSession& session, int slot);

}  // namespace kuv::cli
