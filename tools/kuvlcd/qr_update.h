#pragma once
// kuvlcd update --qr: the Update LCD button on the QR page.

#include <string>
#include <vector>

#include "tools/kuvlcd/cli.h"

namespace kuv::cli {

// The options of the QR form of update, besides --drive and --verbose.
inline const std::vector<std::string>& QrUpdateOptionNames() {
  static const std::vector<std::string> names = {"qr", "cell-pitch", "ecc"};
  return names;
}

int RunQrUpdate(const Args& args);

}  // namespace kuv::cli
