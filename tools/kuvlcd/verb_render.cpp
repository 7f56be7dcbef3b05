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
  const std::string format = kuv::cli::FormatOption(args, {"json", "png", "pbm", "ascii"}, "json");
  // A picture's bytes would fill the terminal with garbage and may upset it.
  if ((format == "png" || format == "pbm") && !args.Has("out") && kuv::cli::StdoutIsTerminal()) {
    throw kuv::cli::UsageError("--format " + format +
                               " writes a picture file: give --out FILE or send the output to a "
                               "file or a pipe");
  }
  const std::string which = args.GetOr("raster", "panel");
  if (which != "panel" && which != "image" && which != "preview" && which != "screen") {
    throw kuv::cli::UsageError("--raster must be panel, image, preview or screen");
  }
  const int scale =
      static_cast<int>(kuv::cli::IntInRange(args, "scale", format == "png" ? 4 : 1, 1, 64));
  const std::int64_t dataType = kuv::cli::IntInRange(args, "data-type", kuv::kLcdText, 0, 2);
  if (dataType == kuv::kLcdQr)
    throw kuv::cli::UsageError("--data-type must be 0 (text) or 2 (bitmap)");
  const kuv::cli::ScreenOptions screen = kuv::cli::ParseScreenOptions(args);

  kuv::DriveTable table;
  table.driveCount = 1;
  table.selectedDrive = 0;
  table.clock = kuv::cli::ClockFromOptions(args);
  table.userName = kuv::cli::UserFromOptions(args);
  table.driveRecords[0] = kuv::cli::DriveFromOptions(args);
  table.screenConfigs[0] =
      kuv::cli::ScreenFromOptions(screen, table.driveRecords[0], table.clock, table.userName);
  table.screenConfigs[0].lcdDataType = static_cast<std::int32_t>(dataType);
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

std::vector<kuv::cli::OptionGroup> Groups() {
  return {
      {"Output",
       {{"format", "json|png|pbm|ascii", "what to write (json)"},
        {"out", "FILE", "write to FILE instead of the standard output"},
        {"raster", "panel|image|preview|screen", "which picture png, pbm and ascii show (panel)"},
        {"scale", "N", "PNG dots per panel dot, 1 to 64 (4)"},
        {"data-type", "0|2", "0 text screen, 2 the text half of a bitmap screen (0)"}}},
      kuv::cli::DriveOptionGroup(),
      kuv::cli::ScreenOptionGroup()};
}

kuv::cli::Registrar reg(
    {"render",
     "compose a text screen from options, without devices",
     "Composes one drive's text screen from options, as Update LCD would, without devices or "
     "the service, and prints the rasters and line records as JSON or writes a picture.",
     {"[options] [--format json|png|pbm|ascii] [--out FILE]"},
     Groups(),
     "Rasters: panel, the 96 line records' picture in the panel's scan order; image, the "
     "composed picture before the panel's turn; screen, the panel picture as a person sees it; "
     "preview, the text page's 98x98 preview. png and pbm need --out FILE on a terminal.\n\n"
     "Line types (--type1 .. --type5), by name or number:\n" +
         kuv::cli::LineTypeList() +
         "\nJSON: panelRaster, imageRaster and lineRecords as hexadecimal, the line texts as "
         "\"lines\" and the bottom row's \"capacityText\".",
     Run});

}  // namespace
