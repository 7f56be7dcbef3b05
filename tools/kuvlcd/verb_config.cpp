// kuvlcd config: a drive's screen configuration as the program loads it at start.

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/model/headless_session.h"
#include "common/utf16.h"
#include "tools/kuvlcd/cli.h"
#include "tools/kuvlcd/json_out.h"
#include "tools/kuvlcd/screen_options.h"

namespace {

nlohmann::json ConfigJson(const kuv::ScreenConfig& c) {
  nlohmann::json j;
  for (int i = 1; i <= kuv::kLineCount; ++i) {
    const std::string n = std::to_string(i);
    j["line" + n] = kuv::FieldUtf8(c.line(i));
    j["lineType" + n] = c.lineType(i);
    j["lineType" + n + "Name"] = kuv::cli::LineTypeName(c.lineType(i));
  }
  j["listRow"] = c.listRow;
  j["rotation"] = c.rotation;
  j["bmpRotation"] = c.bmpRotation;
  j["previewRotation"] = c.previewRotation;
  j["bmpPreviewRotation"] = c.bmpPreviewRotation;
  j["whiteBlackColor"] = c.whiteBlackColor;
  for (int i = 1; i <= kuv::kLineCount; ++i)
    j["lineReverse" + std::to_string(i)] = c.lineReverse(i);
  j["bmpWB"] = c.bmpWB;
  j["bmpAreaRatio"] = c.bmpAreaRatio;
  j["showHddStatus"] = c.showHddStatus;
  j["eccValue"] = c.eccValue;
  j["cellPitch"] = c.cellPitch;
  j["qrText"] = kuv::FieldUtf8(c.qrText);
  j["showDriveLetter"] = c.showDriveLetter;
  j["showWarningTemp"] = c.showWarningTemp;
  j["warningTemp"] = c.warningTemp;
  j["lcdDataType"] = c.lcdDataType;
  j["lcdDataTypeName"] = kuv::cli::LcdDataTypeName(c.lcdDataType);
  for (int k = 0; k < 4; ++k) j["smartId" + std::to_string(k)] = c.smartId(k);
  for (int i = 1; i <= kuv::kLineCount; ++i) {
    j["lineSmartIndex" + std::to_string(i)] = c.lineSmartIndex(i);
  }
  j["bmpFileName"] = kuv::FieldUtf8(c.bmpFileName);
  return j;
}

int Run(const kuv::cli::Args& args) {
  kuv::cli::FormatOption(args, {"json"}, "json");
  const std::int32_t driveNumber = kuv::cli::RequiredDrive(args);
  kuv::HeadlessSession session(args.Has("verbose"));
  if (session.Start() < 0) {
    kuv::cli::ReportServiceUnreachable();
    return 1;
  }
  const int slot = session.model.table.SlotOfDrive(driveNumber);
  if (slot < 0) {
    std::fprintf(stderr, "kuvlcd config: drive %d has no memory LCD\n", driveNumber);
    return 1;
  }
  std::printf("%s\n", ConfigJson(session.model.table.screenConfigs[static_cast<std::size_t>(slot)])
                          .dump(2)
                          .c_str());
  return 0;
}

kuv::cli::Registrar reg(
    {"config",
     "a drive's stored screen configuration, as JSON",
     "Prints a drive's screen configuration as the program loads it at start: from "
     "TAVIO_LCDMANAGER/LCD_DATA.TXT on the drive, or from the profile for a video recorder's "
     "disk. Scans the drives through the panel service first.",
     {"--drive N [--format json] [--verbose]"},
     {{"",
       {{"drive", "N", "the drive number, 0 to 31"},
        {"format", "json", "what to print (json, the only form)"},
        {"verbose", "", "the device exchanges' diagnostics on stderr"}}}},
     "JSON: the configuration's fields under their own names; each line's type also by name "
     "(\"lineType1Name\"), the screen's kind too (\"lcdDataTypeName\": text, qr or bitmap).",
     Run});

}  // namespace
