#include <fontconfig/fontconfig.h>

#include <mutex>

#include "app/compose/font_files.h"

namespace kuv {
namespace {

// Our own font setup, so that the faces the string table names resolve the same way on every
// machine: Wine's Tahoma and IPAGothic for the Japanese face.
constexpr char kFontConfigXml[] = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <dir>/usr/share/fonts</dir>
  <dir>/usr/local/share/fonts</dir>
  <dir>/usr/share/wine/fonts</dir>
  <cachedir>/var/cache/fontconfig</cachedir>
  <cachedir prefix="xdg">fontconfig</cachedir>
  <alias binding="same"><family>MS Gothic</family><prefer><family>IPAGothic</family></prefer></alias>
  <alias binding="same"><family>ＭＳ ゴシック</family><prefer><family>IPAGothic</family></prefer></alias>
</fontconfig>
)";

constexpr char kLastResortFamily[] = "DejaVu Sans";

FcConfig* OurFontConfig() {
  static FcConfig* config = [] {
    FcConfig* c = FcConfigCreate();
    if (c &&
        FcConfigParseAndLoadFromMemory(c, reinterpret_cast<const FcChar8*>(kFontConfigXml),
                                       FcFalse) &&
        FcConfigBuildFonts(c)) {
      return c;
    }
    if (c) FcConfigDestroy(c);
    return static_cast<FcConfig*>(nullptr);
  }();
  return config;
}

}  // namespace

// The last-resort family stands behind every request, so fontconfig always answers a file.
std::optional<FontFile> FindFontFile(const std::string& family) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  FcConfig* config = OurFontConfig();
  if (!config) return std::nullopt;
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(kLastResortFamily));
  FcPatternAddInteger(pattern, FC_WEIGHT, FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_OUTLINE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return std::nullopt;
  std::optional<FontFile> file;
  FcChar8* path = nullptr;
  int index = 0;
  if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch) {
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    file = FontFile{reinterpret_cast<const char*>(path), index};
  }
  FcPatternDestroy(match);
  return file;
}

std::vector<FontFile> LastResortFontFiles() {
  return {{"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0},
          {"/usr/share/fonts/dejavu/DejaVuSans.ttf", 0}};
}

}  // namespace kuv
