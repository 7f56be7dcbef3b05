// kuvlcd render: composes one drive's text screen from options, without devices, and prints the
// rasters and line records or writes a picture of them.

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/compose/fonts.h"
#include "app/compose/renderer.h"
#include "common/picture_io.h"
#include "tools/kuvlcd/cli.h"
#include "tools/kuvlcd/json_out.h"
#include "tools/kuvlcd/screen_options.h"

namespace {

int Run(const kuv::cli::Args& args) {
  std::vector<std::string> known = {"format", "out", "raster", "scale"};
  for (const auto* names : {&kuv::cli::DriveOptionNames(), &kuv::cli::ScreenOptionNames()}) {
    known.insert(known.end(), names->begin(), names->end());
  }
  args.RejectUnknown(known);
  if (!args.positional().empty())
    throw kuv::cli::UsageError("unexpected '" + args.positional()[0] + "'");
  const std::string format = args.GetOr("format", "json");
  if (format != "json" && format != "png" && format != "pbm" && format != "ascii") {
    throw kuv::cli::UsageError("--format must be json, png, pbm or ascii");
  }
  const std::string which = args.GetOr("raster", "panel");
  if (which != "panel" && which != "image" && which != "preview" && which != "screen") {
    throw kuv::cli::UsageError("--raster must be panel, image, preview or screen");
  }
  const int scale =
      static_cast<int>(kuv::cli::IntInRange(args, "scale", format == "png" ? 4 : 1, 1, 64));

  kuv::DriveTable table;
  table.driveCount = 1;
  table.selectedDrive = 0;
  table.clock = kuv::cli::ClockFromOptions(args);
  table.userName = kuv::cli::UserFromOptions(args);
  table.driveRecords[0] = kuv::cli::DriveFromOptions(args);
  table.screenConfigs[0] =
      kuv::cli::ScreenFromOptions(args, table.driveRecords[0], table.clock, table.userName);
  table.workingConfig = table.screenConfigs[0];

  const auto fonts = kuv::Fonts::Load(kuv::SystemLanguage());
  kuv::TextPage page = kuv::TextPageFromConfig(table.workingConfig);
  const std::array<std::u16string, kuv::kLineCount> lines = page.lineTexts;
  // The preview reads the working copy; compose it first so the panel's side effects on a locked
  // drive do not reach it twice.
  std::optional<kuv::Picture> preview;
  if (which == "preview") {
    kuv::TextPage previewPage = page;
    preview = kuv::DrawPreview(table, previewPage, *fonts);
  }
  kuv::ComposePanelRaster(table, 0, page, *fonts);

  std::vector<std::uint8_t> bytes;
  if (format == "json") {
    nlohmann::json out;
    out["panelRaster"] = kuv::cli::Hex(table.raster.data(), table.raster.size());
    out["imageRaster"] = kuv::cli::Hex(table.imageRaster.data(), table.imageRaster.size());
    auto records = nlohmann::json::array();
    for (const auto& record : kuv::BuildLineRecords(table.raster)) {
      records.push_back(kuv::cli::Hex(record.data(), record.size()));
    }
    out["lineRecords"] = records;
    auto texts = nlohmann::json::array();
    for (const auto& text : lines) texts.push_back(kuv::Utf16ToUtf8(text));
    out["lines"] = texts;
    out["capacityText"] = kuv::Utf16ToUtf8(page.capacityText);
    const std::string text = out.dump(2) + "\n";
    bytes.assign(text.begin(), text.end());
  } else {
    kuv::Picture picture;
    if (which == "panel") {
      picture = kuv::PictureFromRaster(table.raster);
    } else if (which == "image") {
      picture = kuv::PictureFromRaster(table.imageRaster);
    } else if (which == "screen") {
      picture = kuv::PictureOfPanelRaster(table.raster);
    } else {
      picture = preview.value_or(kuv::Picture(kuv::kPreviewSide, kuv::kPreviewSide));
    }
    if (format == "ascii") {
      const std::string art = kuv::TextArt(picture);
      bytes.assign(art.begin(), art.end());
    } else if (format == "pbm") {
      bytes = kuv::EncodePbm(picture);
    } else {
      bytes = kuv::EncodePng(picture, scale);
      if (bytes.empty()) throw std::runtime_error("the PNG could not be encoded");
    }
  }

  if (auto path = args.Get("out")) {
    std::string error;
    if (!kuv::WriteFileBytes(*path, bytes, &error)) throw std::runtime_error(error);
  } else if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
    throw std::runtime_error("standard output: write error");
  }
  return 0;
}

kuv::cli::Registrar reg({"render",
                         "render [drive and screen options] --format json|png|pbm|ascii "
                         "[--out FILE] [--raster panel|image|preview|screen] [--scale N]",
                         kuv::cli::ScreenSwitches(), Run});

}  // namespace
