// The same screens come out dot for dot the same on every platform the program is built for. The
// hashes were taken with the Linux build (fontconfig, iconv); the Windows build (its font
// folders, the system's code-page conversion) must give the very same dots.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "app/compose/font_files.h"
#include "app/compose/qr_picture.h"
#include "app/compose/renderer.h"
#include "common/utf16.h"

namespace kuv {
namespace {

std::uint64_t Fnv1a(const Picture& picture) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  auto mix = [&](std::uint8_t byte) { hash = (hash ^ byte) * 0x100000001b3u; };
  mix(static_cast<std::uint8_t>(picture.width));
  mix(static_cast<std::uint8_t>(picture.height));
  for (std::uint8_t dot : picture.dots) mix(dot);
  return hash;
}

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(value));
  return text;
}

// The lower-case name of a font file, or of the file it links to, as the distribution's
// alternatives do.
std::string FaceName(const std::string& path) {
  std::error_code ec;
  std::filesystem::path file = std::filesystem::canonical(path, ec);
  if (ec) file = path;
  std::string name = file.filename().string();
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

// The font files the hashes hold for: Wine's Tahoma and IPAGothic, which the Windows build finds
// in its font folder under Wine. Other files draw other dots.
bool IsReferenceFace(const std::string& path) {
  struct Face {
    const char* name;
    std::uintmax_t size;
  };
  static constexpr Face kFaces[] = {{"tahoma.ttf", 145040}, {"ipag.ttf", 6235344}};
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  return !ec && std::any_of(std::begin(kFaces), std::end(kFaces), [&](const Face& face) {
    return FaceName(path) == face.name && size == face.size;
  });
}

// A family is found by any of its names, in any case, as its upright face.
TEST(FontFiles, FamiliesFindTheSameFilesOnEveryPlatform) {
  const std::optional<FontFile> tahoma = FindFontFile("Tahoma");
  if (!tahoma || FaceName(tahoma->path) != "tahoma.ttf") {
    GTEST_SKIP() << "Tahoma is not installed here";
  }
  const struct {
    const char* family;
    const char* file;
  } cases[] = {
      {"TAHOMA", "tahoma.ttf"},
      {"IPAGothic", "ipag.ttf"},
      {"IPAゴシック", "ipag.ttf"},
      {"DejaVu Sans", "dejavusans.ttf"},
  };
  for (const auto& c : cases) {
    const std::optional<FontFile> file = FindFontFile(c.family);
    ASSERT_TRUE(file.has_value()) << c.family;
    EXPECT_EQ(FaceName(file->path), c.file) << c.family;
  }
}

struct TextScreen {
  const char* name;
  Language language;
  std::int32_t rotation;
  std::int32_t fileSystemType;
  std::u16string lines[kLineCount];
  std::uint64_t hash;
};

TEST(ScreenRasters, TextScreensAreTheSameOnEveryPlatform) {
  // clang-format off
  const TextScreen screens[] = {
      {"latin", Language::kEnglish, 0, kFsNtfs,
       {u"Backup 2024", u"Photos", u"Café €5", u"", u"WD-WX41"}, 0x753d66e119622655},
      {"latin turned", Language::kEnglish, 90, kFsNtfs,
       {u"Archive", u"gjpqy", u"", u"", u"1.8TB"}, 0x421a472ed682ab3e},
      {"japanese", Language::kJapanese, 0, kFsNtfs,
       {u"バックアップ", u"東京の写真", u"ﾃｽﾄ", u"", u"2024年"}, 0x989fb8907c6b39c4},
      {"japanese upside down", Language::kJapanese, 180, kFsNtfs,
       {u"録画", u"", u"ドライブ", u"", u""}, 0xd5b5fa85fc93688d},
      {"bar layout", Language::kEnglish, 0, kFsFat32,
       {u"Music", u"", u"", u"", u""}, 0xc00e7e010dbf5600},
  };
  // clang-format on
  std::map<Language, std::unique_ptr<Fonts>> fonts;
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    fonts[language] = Fonts::Load(language);
    if (!IsReferenceFace(fonts[language]->faceFile())) {
      GTEST_SKIP() << "the screens would be drawn with " << fonts[language]->faceFile()
                   << ", not a face the hashes were taken with";
    }
  }
  for (const TextScreen& screen : screens) {
    const Fonts& loaded = *fonts[screen.language];
    DriveTable table;
    table.driveCount = 1;
    table.selectedDrive = 0;
    DriveRecord& drive = table.driveRecords[0];
    drive.driveNumber = 0;
    drive.fileSystemType = screen.fileSystemType;
    drive.panelModel = 1;
    drive.connectionState = kBridgePlain;
    drive.totalMB = 1000 * 1024;
    drive.freeMB = 300 * 1024;
    drive.totalSectors = 1000;
    drive.freeSectors = 300;
    ScreenConfig& config = table.screenConfigs[0];
    config.lcdDataType = kLcdText;
    config.showHddStatus = 1;
    config.rotation = screen.rotation;
    for (int i = 0; i < kLineCount; ++i) {
      SetField(config.line(i + 1), std::u16string_view(screen.lines[i]));
    }
    TextPage page = TextPageFromConfig(config);
    ASSERT_TRUE(ComposePanelRaster(table, 0, page, loaded)) << screen.name;
    EXPECT_EQ(Hex(Fnv1a(PictureFromRaster(table.raster))), Hex(screen.hash)) << screen.name;
  }
}

struct QrScreen {
  std::u16string text;
  CodePage page;
  std::u16string readBack;
  std::uint64_t hash;
};

TEST(ScreenRasters, QrScreensAreTheSameOnEveryPlatform) {
  const QrScreen screens[] = {
      {u"https://example.org/disk/42", CodePage::kWindows1252, u"https://example.org/disk/42",
       0x228f3f034ed3650c},
      {u"Café ✓ 5€", CodePage::kWindows1252, u"Café ? 5€", 0xa94e986980915f0c},
      {u"東京 backup ﾃｽﾄ 1234567890", CodePage::kCp932, u"東京 backup ﾃｽﾄ 1234567890",
       0x864d2a0da8facf0c},
      {u"録画 ✓", CodePage::kCp932, u"録画 ?", 0xdce48bd06bda1b0c},
  };
  for (const QrScreen& screen : screens) {
    QrSymbol symbol(screen.page);
    symbol.SetText(screen.text);
    EXPECT_EQ(Utf16ToUtf8(symbol.Text()), Utf16ToUtf8(screen.readBack));
    EXPECT_EQ(Hex(Fnv1a(DrawQrPicture(symbol, 2))), Hex(screen.hash)) << Utf16ToUtf8(screen.text);
  }
}

}  // namespace
}  // namespace kuv
