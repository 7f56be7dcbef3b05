// kuvlcd convert: any picture Qt reads becomes a 96x96 one-bit BMP the panel and the Windows
// programs take, fitted with its aspect kept and dithered (or thresholded for line art).

#include <cstdio>

#include "app/compose/bmp_file.h"
#include "tools/kuvlcd/bitmap_update.h"
#include "tools/kuvlcd/cli.h"

namespace {

int Run(const kuv::cli::Args& args) {
  const auto out = args.Get("out");
  if (!out && !args.Has("ascii"))
    throw kuv::cli::UsageError("--out FILE.bmp or --ascii is required");
  const kuv::PhotoOptions photo = kuv::cli::ParsePhotoOptions(args);
  const kuv::BmpImage image = kuv::cli::ConvertPictureFile(photo, args.positional()[0]);
  if (out) {
    const std::vector<std::uint8_t> bytes = kuv::EncodeBmp(image);
    std::string error;
    if (!kuv::WriteFileBytes(*out, bytes, &error)) {
      std::fprintf(stderr, "kuvlcd convert: %s\n", error.c_str());
      return 1;
    }
  }
  if (args.Has("ascii"))
    std::fputs(kuv::TextArt(kuv::PictureFromRaster(image.bits)).c_str(), stdout);
  return 0;
}

kuv::cli::Registrar reg(
    {"convert",
     "turn any picture into a 96x96 one-bit BMP",
     "Turns any picture (PNG, JPEG, GIF, BMP, WebP, PBM ...) into the 96x96 one-bit BMP a "
     "panel shows: fitted with its aspect kept, then dithered, or thresholded for drawings.",
     {"PICTURE (--out FILE.bmp | --ascii) [--threshold 0..256] [--line-art]"},
     {{"",
       {{"out", "FILE.bmp", "where to write the BMP"},
        {"ascii", "", "print the result as text art"},
        {"threshold", "0..256", "grey level between black and white (128)"},
        {"line-art", "", "threshold only, no dithering: for drawings and logos"}}}},
     "",
     Run,
     {},
     {"PICTURE"}});

}  // namespace
