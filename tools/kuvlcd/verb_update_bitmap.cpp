// The bitmap screen of kuvlcd update: the same steps as choosing a file on the bitmap page and
// pressing Update LCD, so LCD_IMAGE.BMP and LCD_DATA.TXT are stored as the program stores them.

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/pictures/picture_loader.h"
#include "common/utf16.h"
#include "tools/kuvlcd/bitmap_update.h"
#include "tools/kuvlcd/screen_options.h"

namespace kuv::cli {

OptionGroup BitmapOptionGroup() {
  return {"Bitmap screen",
          {{"bitmap", "FILE", "show this 96x96 one-bit BMP, kept on the drive as LCD_IMAGE.BMP"},
           {"area", "all|upper|lower", "the part of the screen the picture takes"},
           {"bmp-rotation", "DEG", "the picture's rotation: 0, 90, 180 or 270"},
           {"bmp-reverse", "", "the picture white on black"},
           {"convert", "", "fit and dither any picture (PNG, JPEG ...) to 96x96 first"},
           {"threshold", "0..256", "with --convert: grey level between black and white (128)"},
           {"line-art", "", "with --convert: threshold only, for drawings and logos"}}};
}

namespace {

// True when the picture loader reads the file, so --convert would take it.
bool ConvertCouldTake(const std::string& path) {
  std::string error;
  return LoadGreyImageThroughModule(path, error).has_value();
}

}  // namespace

PhotoOptions ParsePhotoOptions(const Args& args) {
  PhotoOptions photo;
  photo.dither = !args.Has("line-art");
  photo.threshold = static_cast<int>(IntInRange(args, "threshold", 128, 0, 256));
  return photo;
}

BitmapOptions ParseBitmapOptions(const Args& args) {
  BitmapOptions options;
  options.file = args.GetOr("bitmap", "");
  if (auto area = args.Get("area")) {
    if (*area == "all") {
      options.area = kAreaAll;
    } else if (*area == "upper") {
      options.area = kAreaUpper;
    } else if (*area == "lower") {
      options.area = kAreaLower;
    } else {
      throw UsageError("--area must be all, upper or lower");
    }
  }
  options.rotation = RotationOption(args, "bmp-rotation");
  options.reverse = args.Has("bmp-reverse");
  options.convert = args.Has("convert");
  options.photo = ParsePhotoOptions(args);
  return options;
}

BmpImage ConvertPictureFile(const PhotoOptions& photo, const std::string& path) {
  std::string error;
  std::optional<GreyImage> grey = LoadGreyImageThroughModule(path, error);
  if (!grey) throw std::runtime_error(error);
  return ConvertPhoto(*grey, photo);
}

int RunBitmapUpdate(const BitmapOptions& options, HeadlessSession& session, int slot) {
  LcdModel& model = session.model;
  BitmapPage& page = session.bitmapPage;
  const DriveRecord drive = model.table.driveRecords[static_cast<std::size_t>(slot)];
  const std::string& file = options.file;
  if (UsesBarLayout(drive.fileSystemType) &&
      (options.area || options.rotation || options.reverse)) {
    throw UsageError(
        "--area, --bmp-rotation and --bmp-reverse are not offered on drives "
        "with the bar layout");
  }
  ScreenConfig& working = model.table.workingConfig;
  if (options.area) working.bmpAreaRatio = *options.area;
  if (options.rotation) working.bmpRotation = *options.rotation;
  if (options.reverse) working.bmpWB = 1;

  model.table.currentTab = kBitmapTab;
  page.LoadFromConfiguration();
  std::string chosen = std::filesystem::absolute(file).string();
  if (options.convert) {
    if (!page.UseConvertedPicture(ConvertPictureFile(options.photo, file))) {
      std::fprintf(stderr, "kuvlcd update: the converted picture cannot be stored in %s\n",
                   page.paths().DataDir().c_str());
      return 1;
    }
    chosen = page.imagePath;
  } else {
    if (!std::filesystem::exists(chosen)) throw std::runtime_error(file + ": no such file");
    page.TakeFile(chosen);
    if (page.imagePath != chosen && ConvertCouldTake(file)) {
      std::fprintf(stderr,
                   "%s: %s is not a 96x96 one-bit BMP; add --convert to fit and dither it first\n",
                   Program().c_str(), file.c_str());
      return 1;
    }
  }
  if (session.bitmapHooks.messages > 0 || page.imagePath != chosen) return 1;

  if (session.hooks.ReportPanelNotUpdated(model.UpdateLcd())) return 1;
  const std::string stored = page.DriveImagePath(drive);
  std::printf("drive %d: picture sent\n", drive.driveNumber);
  if (page.storeError != 0) {
    std::fprintf(stderr, "kuvlcd update: the picture could not be stored in %s: %s\n",
                 stored.c_str(), std::strerror(page.storeError));
    return 1;
  }
  std::printf("picture stored in %s\n", stored.c_str());
  return 0;
}

}  // namespace kuv::cli
