#pragma once
// The bitmap half of kuvlcd update and the photo conversion shared with kuvlcd convert.

#include <string>
#include <vector>

#include "app/compose/bmp_file.h"
#include "app/model/headless_session.h"
#include "tools/kuvlcd/cli.h"

namespace kuv::cli {

// Options of `update --bitmap`, switches among them, and of the photo conversion.
const std::vector<std::string>& BitmapOptionNames();
std::vector<std::string> BitmapSwitches();

// Reads any picture and converts it as --threshold and --line-art say; UsageError-free, throws
// std::runtime_error when the picture cannot be read.
BmpImage ConvertPictureFile(const Args& args, const std::string& path);

// Runs Update LCD on the bitmap tab for the selected slot with the picture of --bitmap. Returns
// the exit code.
int RunBitmapUpdate(const Args& args, HeadlessSession& session, int slot);

}  // namespace kuv::cli
