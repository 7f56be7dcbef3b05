// kuvlcd config: a drive's screen configuration as the program loads it at start.

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/model/headless_session.h"
#include "common/service_client.h"
#include "common/utf16.h"
#include "tools/kuvlcd/cli.h"

namespace {

nlohmann::json ConfigJson(const kuv::ScreenConfig& c) {
  nlohmann::json j;
  for (int i = 1; i <= kuv::kLineCount; ++i) {
    const std::string n = std::to_string(i);
    j["line" + n] = kuv::FieldUtf8(c.line(i));
    j["lineType" + n] = c.lineType(i);
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
  for (int k = 0; k < 4; ++k) j["smartId" + std::to_string(k)] = c.smartId(k);
  for (int i = 1; i <= kuv::kLineCount; ++i) {
    j["lineSmartIndex" + std::to_string(i)] = c.lineSmartIndex(i);
  }
  j["bmpFileName"] = kuv::FieldUtf8(c.bmpFileName);
  return j;
}

int Run(const kuv::cli::Args& args) {
  args.RejectUnknown({"drive", "format", "verbose"});
  if (args.GetOr("format", "json") != "json") throw kuv::cli::UsageError("--format json");
  const auto driveNumber = args.GetInt("drive");
  if (!driveNumber) throw kuv::cli::UsageError("--drive N is required");
  kuv::HeadlessSession session(args.Has("verbose"));
  if (session.Start() < 0) {
    std::fprintf(stderr, "kuvlcd config: the panel service cannot be reached at %s\n",
                 kuv::ServiceSocketPath().c_str());
    return 1;
  }
  const int slot = session.model.table.SlotOfDrive(static_cast<std::int32_t>(*driveNumber));
  if (slot < 0 || *driveNumber < 0) {
    std::fprintf(stderr, "kuvlcd config: drive %lld has no memory LCD\n",
                 static_cast<long long>(*driveNumber));
    return 1;
  }
  std::printf("%s\n", ConfigJson(session.model.table.screenConfigs[static_cast<std::size_t>(slot)])
                          .dump(2)
                          .c_str());
  return 0;
}

kuv::cli::Registrar reg({"config", "config --drive N [--format json]", {"verbose"}, Run});

}  // namespace
