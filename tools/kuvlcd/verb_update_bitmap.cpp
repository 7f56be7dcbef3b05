// The bitmap screen of kuvlcd update: the same steps as choosing a file on the bitmap page and
// pressing Update LCD, so LCD_IMAGE.BMP and LCD_DATA.TXT are stored as the program stores them.

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/compose/photo_convert.h"
#include "app/model/picture_loader.h"
#include "common/utf16.h"
#include "tools/kuvlcd/bitmap_update.h"
#include "tools/kuvlcd/screen_options.h"

namespace kuv::cli {

const std::vector<std::string>& BitmapOptionNames() {
  static const std::vector<std::string> names = {
      "bitmap", "area", "bmp-rotation", "bmp-reverse", "convert", "threshold", "line-art"};
  return names;
}

std::vector<std::string> BitmapSwitches() {
  return {"bmp-reverse", "convert", "line-art"};
}

BmpImage ConvertPictureFile(const Args& args, const std::string& path) {
  PhotoOptions options;
  options.dither = !args.Has("line-art");
  options.threshold = static_cast<int>(IntInRange(args, "threshold", 128, 0, 256));
  std::string error;
  std::optional<GreyImage> grey = LoadGreyImage(path, error);
  if (!grey) throw std::runtime_error(error);
  return ConvertPhoto(*grey, options);
}

int RunBitmapUpdate(const Args& args, HeadlessSession& session, int slot) {
  LcdModel& model = session.model;
  BitmapPage& page = session.bitmapPage;
  const DriveRecord drive = model.table.driveRecords[static_cast<std::size_t>(slot)];
  const std::string file = *args.Get("bitmap");
  if (UsesBarLayout(drive.fileSystemType) &&
      (args.Has("area") || args.Has("bmp-rotation") || args.Has("bmp-reverse"))) {
    throw UsageError(
        "--area, --bmp-rotation and --bmp-reverse are not offered on drives "
        "with the bar layout");
  }
  ScreenConfig& working = model.table.workingConfig;
  if (args.Has("area")) {
    const std::string area = *args.Get("area");
    if (area == "all") {
      working.bmpAreaRatio = kAreaAll;
    } else if (area == "upper") {
      working.bmpAreaRatio = kAreaUpper;
    } else if (area == "lower") {
      working.bmpAreaRatio = kAreaLower;
    } else {
      throw UsageError("--area must be all, upper or lower");
    }
  }
  if (args.Has("bmp-rotation")) {
    const std::int64_t rotation = IntInRange(args, "bmp-rotation", 0, 0, 270);
    if (rotation % 90 != 0) throw UsageError("--bmp-rotation must be 0, 90, 180 or 270");
    working.bmpRotation = static_cast<std::int32_t>(rotation);
  }
  if (args.Has("bmp-reverse")) working.bmpWB = 1;

  model.table.currentTab = kBitmapTab;
  page.LoadFromConfiguration();
  std::string chosen = std::filesystem::absolute(file).string();
  if (args.Has("convert")) {
    if (!page.UseConvertedPicture(ConvertPictureFile(args, file))) {
      std::fprintf(stderr, "kuvlcd update: the converted picture cannot be stored in %s\n",
                   page.paths().DataDir().c_str());
      return 1;
    }
    chosen = page.imagePath;
  } else {
    if (!std::filesystem::exists(chosen)) throw std::runtime_error(file + ": no such file");
    page.TakeFile(chosen);
  }
  if (session.bitmapHooks.messages > 0 || page.imagePath != chosen) return 1;

  model.UpdateLcd();
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
