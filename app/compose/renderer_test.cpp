#include "app/compose/renderer.h"

#include <gtest/gtest.h>

#include <memory>

#include "app/compose/pictures.h"
#include "common/utf16.h"

namespace kuv {
namespace {

int InkIn(const Picture& picture, const Rect& rect) {
  int ink = 0;
  for (int y = std::max(rect.top, 0); y < std::min(rect.bottom, picture.height); ++y) {
    for (int x = std::max(rect.left, 0); x < std::min(rect.right, picture.width); ++x) {
      ink += picture.at(x, y) == kBlack;
    }
  }
  return ink;
}

bool SameIn(const Picture& a, const Picture& b, const Rect& rect) {
  for (int y = rect.top; y < rect.bottom; ++y) {
    for (int x = rect.left; x < rect.right; ++x) {
      if (a.at(x, y) != b.at(x, y)) return false;
    }
  }
  return true;
}

bool HoldsPicture(const Picture& picture, const Picture& part, int left, int top) {
  for (int y = 0; y < part.height; ++y) {
    for (int x = 0; x < part.width; ++x) {
      if (picture.at(left + x, top + y) != part.at(x, y)) return false;
    }
  }
  return true;
}

Picture Turned(Picture picture, int angle) {
  RotatePicture(picture, angle);
  return picture;
}

ScreenConfig NoFlags() {
  ScreenConfig config = InitialSlotConfig();
  return config;
}

class RendererTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { fonts_ = Fonts::Load(u"Tahoma", 14, 13).release(); }
  static void TearDownTestSuite() {
    delete fonts_;
    fonts_ = nullptr;
  }

  void SetUp() override {
    table_.driveCount = 1;
    table_.selectedDrive = 0;
    DriveRecord& d = drive();
    d.driveNumber = 0;
    d.fileSystemType = kFsNtfs;
    d.panelModel = 1;
    d.connectionState = kBridgePlain;
    d.totalMB = 1000 * 1024;
    d.freeMB = 500 * 1024;
    d.totalSectors = 1000;
    d.freeSectors = 500;
    ScreenConfig& c = config();
    c.lcdDataType = kLcdText;
    c.showHddStatus = 1;
  }

  DriveRecord& drive() { return table_.driveRecords[0]; }
  ScreenConfig& config() { return table_.screenConfigs[0]; }

  // Composes slot 0 and returns the unturned picture of the image-file raster.
  Picture Compose() {
    page_ = TextPageFromConfig(config());
    EXPECT_TRUE(ComposePanelRaster(table_, 0, page_, *fonts_));
    return PictureFromRaster(table_.imageRaster);
  }

  // Bar layout: the picture before its quarter-turn into the panel's scan order.
  Picture ComposeBar() {
    Compose();
    EXPECT_EQ(table_.raster, table_.imageRaster);
    return PictureOfPanelRaster(table_.raster);
  }

  static Fonts* fonts_;
  DriveTable table_;
  TextPage page_;
};

Fonts* RendererTest::fonts_ = nullptr;

TEST(LineRecords, AddressesAreBitReversedLineNumbersAndDataIsTheRow) {
  Raster raster;
  raster.fill(0xFF);
  const LineRecords records = BuildLineRecords(raster);
  const std::uint8_t expected[][2] = {{0, 0x80}, {1, 0x40}, {2, 0xC0}, {3, 0x20}, {95, 0x06}};
  for (const auto& [row, address] : expected) EXPECT_EQ(records[row][3], address) << int(row);
  for (const LineRecord& record : records) {
    EXPECT_EQ(record[0], 0x4C);
    EXPECT_EQ(record[1], 0x10);
    EXPECT_EQ(record[2], 0x80);
    for (int i = 4; i < 16; ++i) EXPECT_EQ(record[static_cast<std::size_t>(i)], 0xFF);
  }

  std::array<std::uint8_t, kLineRecordCount * kLineSlotSize> slots;
  slots.fill(0xAA);
  raster[12 * 7 + 3] = 0x12;
  BuildLineRecordSlots(raster, slots);
  EXPECT_EQ(slots[7 * 64 + 3], 0x10);  // line 8
  EXPECT_EQ(slots[7 * 64 + 4 + 3], 0x12);
  for (int r = 0; r < 96; ++r) {
    for (int i = 16; i < 64; ++i) ASSERT_EQ(slots[static_cast<std::size_t>(r * 64 + i)], 0);
  }
}

TEST(LineRecords, TopLeftPictureDotLandsInFirstRecordLastDot) {
  Raster raster;
  raster.fill(0xFF);
  raster[0] = 0x7F;
  RotateRaster(0, raster, false, NoFlags());  // the panel's quarter-turn
  const LineRecords records = BuildLineRecords(raster);
  EXPECT_EQ(records[0][3], 0x80);
  EXPECT_EQ(records[0][15], 0xFE);
  int black = 0;
  for (std::uint8_t byte : raster) black += 8 - __builtin_popcount(byte);
  EXPECT_EQ(black, 1);
}

TEST(RotateRaster, TurnsByAnglePlusNinety) {
  struct Case {
    int angle;
    int x, y;  // where picture dot (10, 20) ends up
  } cases[] = {{-90, 10, 20}, {0, 75, 10},   {90, 85, 75},
               {180, 20, 85}, {270, 10, 20}, {45, 10, 20}};
  for (const Case& c : cases) {
    Picture picture(96, 96);
    picture.at(10, 20) = kBlack;
    Raster raster = *RasterFromPicture(picture);
    RotateRaster(c.angle, raster, false, NoFlags());
    const Picture turned = PictureFromRaster(raster);
    EXPECT_EQ(turned.at(c.x, c.y), kBlack) << c.angle;
    EXPECT_EQ(InkIn(turned, {0, 0, 96, 96}), 1) << c.angle;
  }
}

TEST(RotateRaster, InvertsLineBandsAndWholeScreenOnce) {
  struct Case {
    int line;  // 0: none
    bool reverse;
    int first, last;  // rows inverted
  } cases[] = {{1, false, 1, 16},  {2, false, 17, 32}, {4, false, 49, 64},
               {5, false, 65, 81}, {0, true, 0, 81},   {2, true, 0, 81}};
  for (const Case& c : cases) {
    ScreenConfig flags = NoFlags();
    if (c.line) flags.lineReverse(c.line) = 1;
    Raster raster;
    raster.fill(0xFF);
    RotateRaster(-90, raster, c.reverse, flags);
    const Picture picture = PictureFromRaster(raster);
    for (int y = 0; y < 96; ++y) {
      const bool inverted = y >= c.first && y <= c.last;
      EXPECT_EQ(InkIn(picture, {0, y, 96, y + 1}), inverted ? 96 : 0)
          << "line " << c.line << " row " << y;
    }
  }
}

TEST(RotatePicture, QuarterTurnsSwapSides) {
  Picture picture(12, 8);
  picture.at(1, 0) = kBlack;
  Picture ccw = Turned(picture, 90);
  ASSERT_EQ(ccw.width, 8);
  ASSERT_EQ(ccw.height, 12);
  EXPECT_EQ(ccw.at(0, 10), kBlack);
  Picture cw = Turned(picture, 270);
  EXPECT_EQ(cw.at(7, 1), kBlack);
  EXPECT_EQ(Turned(picture, -90), cw);
  EXPECT_EQ(Turned(picture, 180).at(10, 7), kBlack);
  EXPECT_EQ(Turned(picture, 0), picture);
  EXPECT_EQ(Turned(Turned(picture, 90), -90), picture);
}

TEST(CapacityGraph, UsedColumnsStayInsideTheGraph) {
  struct Case {
    std::uint32_t freeMB, totalMB;
    int end;
  } cases[] = {
      {500, 1000, 46},
      {0, 1000, 92},
      {1000, 1000, 0},
      {1000, 0, 0},
      {5000, 1000, 0},  // free above total
      {1, 0xFFFFFFFF, 92},
      {0xFFFFFFFF, 0xFFFFFFFF, 0},
      {0x7FFFFFFF, 0xFFFFFFFE, 46},  // past 44 TiB the 32-bit product would wrap
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CapacityGraphEnd(c.freeMB, c.totalMB), c.end) << c.freeMB << "/" << c.totalMB;
  }
}

TEST(CapacityBar, FreeSegmentsFromSectors) {
  struct Case {
    std::uint64_t free, total;
    int n;
  } cases[] = {
      {500, 1000, 5},
      {60, 1000, 1},
      {50, 1000, 0},
      {10, 1000, 0},
      {1000, 1000, 10},
      {0, 1000, 0},
      {500, 0, 0},
      {5, 5, 0},         // no tenth to divide by
      {2000, 1000, 10},  // free above total
      {UINT64_MAX, UINT64_MAX, 10},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FreeSegmentCount(c.free, c.total), c.n) << c.free << "/" << c.total;
  }
}

TEST_F(RendererTest, FourLineGraphBoxesAndFill) {
  const Picture picture = Compose();
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(InkIn(picture, {3 + 9 * k, 65, 11 + 9 * k, 66}), 8) << k;  // box top edge
    EXPECT_EQ(InkIn(picture, {3 + 9 * k, 76, 11 + 9 * k, 77}), 8) << k;  // bottom edge
  }
  for (int x = 3; x < 92; ++x) {
    const bool filled = x < 46 && x % 9 != 2;
    const bool edge = x % 9 == 3 || x % 9 == 1;
    const int expected = filled || edge ? 10 : 0;
    EXPECT_EQ(InkIn(picture, {x, 66, x + 1, 76}), expected) << "column " << x;
  }
  EXPECT_EQ(InkIn(picture, {0, 64, 96, 65}), 0);
  EXPECT_EQ(InkIn(picture, {0, 77, 96, 82}), 0);
}

TEST_F(RendererTest, FourLineTextStaysInItsBands) {
  SetField(config().line2, std::string_view("HgjpqWMXy"));
  const Picture picture = Compose();
  EXPECT_GT(InkIn(picture, {0, 18, 96, 32}), 20);
  EXPECT_EQ(InkIn(picture, {0, 0, 96, 17}), 0);
  EXPECT_EQ(InkIn(picture, {0, 33, 96, 65}), 0);
  EXPECT_GT(InkIn(picture, {0, 82, 70, 96}), 10);  // capacity text
  EXPECT_EQ(Utf16ToUtf8(page_.capacityText), "0.5/1.0TB");
}

TEST_F(RendererTest, FourLineIcons) {
  struct Case {
    std::int32_t health;
    std::uint8_t show;
    std::int32_t connection;
  } cases[] = {{0, 1, kBridgePlain},
               {2, 1, kBridgeUnlocked},
               {3, 0, kBridgePlain},
               {7, 1, kBridgeUnlocked},
               {-1, 1, kBridgePlain}};
  for (const Case& c : cases) {
    drive().health = c.health;
    drive().connectionState = c.connection;
    config().showHddStatus = c.show;
    const Picture picture = Compose();
    const Picture* icon = c.show ? HealthIconPicture(c.health) : nullptr;
    if (icon) {
      EXPECT_TRUE(HoldsPicture(picture, *icon, 84, 82)) << c.health;
    } else {
      EXPECT_EQ(InkIn(picture, {84, 82, 96, 94}), 0) << c.health;
    }
    if (c.connection == kBridgeUnlocked) {
      EXPECT_TRUE(HoldsPicture(picture, LockIconPicture(), 72, 82));
    } else {
      EXPECT_EQ(InkIn(picture, {72, 82, 84, 94}), 0);
    }
  }
}

TEST_F(RendererTest, FourLinePanelTurnByRotationAndPanelModel) {
  struct Case {
    std::int32_t rotation, panelModel;
    int turn;  // RotatePicture angle from the picture to the panel raster
  } cases[] = {{0, 1, 270}, {90, 1, 180}, {180, 1, 90}, {270, 1, 0},
               {0, 3, 0},   {90, 3, 270}, {270, 3, 90}, {270, 0, 0}};
  SetField(config().line1, std::string_view("Turn"));
  for (const Case& c : cases) {
    config().rotation = c.rotation;
    drive().panelModel = c.panelModel;
    const Picture picture = Compose();
    EXPECT_EQ(PictureFromRaster(table_.raster), Turned(picture, c.turn))
        << c.rotation << " on model " << c.panelModel;
  }
}

TEST_F(RendererTest, FourLineInversions) {
  SetField(config().line1, std::string_view("One"));
  SetField(config().line3, std::string_view("Three"));
  const Picture plain = Compose();

  config().whiteBlackColor = 1;
  config().lineReverse2 = 1;  // no effect under the whole-screen reverse
  const Picture reversed = Compose();
  for (int y = 0; y < 96; ++y) {
    for (int x = 0; x < 96; ++x) {
      ASSERT_EQ(reversed.at(x, y), y < 82 ? plain.at(x, y) ^ 1 : plain.at(x, y)) << x << "," << y;
    }
  }

  config().whiteBlackColor = 0;
  config().lineReverse2 = 0;
  config().lineReverse3 = 1;
  const Picture line3 = Compose();
  for (int y = 0; y < 96; ++y) {
    const bool inBand = y >= 33 && y <= 48;
    for (int x = 0; x < 96; ++x) {
      ASSERT_EQ(line3.at(x, y), inBand ? plain.at(x, y) ^ 1 : plain.at(x, y)) << x << "," << y;
    }
  }
}

TEST_F(RendererTest, HostileRotationComposesUnturned) {
  SetField(config().line1, std::string_view("Odd"));
  drive().panelModel = 3;
  for (std::int32_t rotation : {INT32_MIN, 45, -1}) {
    config().rotation = rotation;
    table_.workingConfig = config();
    table_.workingConfig.previewRotation = 1;
    const Picture picture = Compose();
    EXPECT_EQ(PictureFromRaster(table_.raster), picture) << rotation;
    TextPage page = TextPageFromConfig(table_.workingConfig);
    EXPECT_TRUE(DrawPreview(table_, page, *fonts_));
  }
}

TEST_F(RendererTest, BitmapDataTypeKeepsThePanelRasterButTurnsIt) {
  config().lcdDataType = kLcdBitmap;
  config().rotation = 270;  // no turn, so the bitmap page's raster must come back as it was
  Raster bitmap;
  for (std::size_t i = 0; i < bitmap.size(); ++i) bitmap[i] = static_cast<std::uint8_t>(i * 37);
  table_.raster = bitmap;
  Compose();
  EXPECT_EQ(table_.raster, bitmap);
  EXPECT_NE(table_.imageRaster, bitmap);
}

TEST_F(RendererTest, NothingComposedWithoutDrivesOrForQr) {
  table_.raster.fill(0x55);
  table_.imageRaster.fill(0x55);
  config().lcdDataType = kLcdQr;
  EXPECT_FALSE(ComposePanelRaster(table_, 0, page_, *fonts_));
  config().lcdDataType = kLcdText;
  EXPECT_FALSE(ComposePanelRaster(table_, 1, page_, *fonts_));
  EXPECT_FALSE(ComposePanelRaster(table_, -1, page_, *fonts_));
  table_.driveCount = 0;
  EXPECT_FALSE(ComposePanelRaster(table_, 0, page_, *fonts_));
  EXPECT_EQ(table_.raster[0], 0x55);
  EXPECT_EQ(table_.imageRaster[0], 0x55);
}

TEST_F(RendererTest, LockedDriveShowsPadlockAndResetsThePage) {
  drive().connectionState = kBridgeLocked;
  drive().freeMB = 0;
  drive().totalMB = 2000 * 1024;
  SetField(config().line1, std::string_view("Secret"));
  SetField(config().line3, std::string_view("Hidden"));
  config().whiteBlackColor = 0;
  page_.capacityText = u"9/9GB";  // left over from another drive
  page_ = TextPageFromConfig(config());
  page_.reverse = true;
  ASSERT_TRUE(ComposePanelRaster(table_, 0, page_, *fonts_));
  const Picture picture = PictureFromRaster(table_.imageRaster);
  EXPECT_TRUE(HoldsPicture(picture, PadlockPicture(), 24, 30));
  EXPECT_EQ(InkIn(picture, {0, 34, 24, 65}), 0);   // no line 3
  EXPECT_EQ(InkIn(picture, {84, 82, 96, 94}), 0);  // no health icon
  EXPECT_EQ(config().showHddStatus, 0);
  EXPECT_FALSE(page_.reverse);
  EXPECT_FALSE(page_.controlsEnabled);
  for (const auto& text : page_.lineTexts) EXPECT_TRUE(text.empty());
  EXPECT_EQ(Utf16ToUtf8(page_.capacityText), "0.0/2.0TB");
}

// The layout rule: a drive whose volume is mounted read-write here draws exactly as NTFS does,
// the four-line layout; FAT32 and the recorder's file systems draw the bar.
TEST_F(RendererTest, LayoutByFileSystem) {
  for (int i = 1; i <= 5; ++i) SetField(config().line(i), std::string_view("Line"));
  const Picture ntfs = Compose();
  const Raster ntfsRaster = table_.raster;
  for (std::int32_t fs : {kFsFat, kFsExfat, kFsOtherReadWrite}) {
    drive().fileSystemType = fs;
    EXPECT_EQ(Compose(), ntfs) << fs;
    EXPECT_EQ(table_.raster, ntfsRaster) << fs;
  }
  for (std::int32_t fs : {kFsFat32, kFsXfs, kFsExt}) {
    drive().fileSystemType = fs;
    EXPECT_NE(Compose(), ntfs) << fs;
  }
}

TEST_F(RendererTest, BarSegmentsFromTheTop) {
  drive().fileSystemType = kFsFat32;
  for (const auto& [free, n] : {std::pair{500, 5}, {60, 1}, {50, 0}, {1000, 10}}) {
    drive().freeSectors = static_cast<std::uint64_t>(free);
    const Picture picture = ComposeBar();
    for (int k = 0; k < 10; ++k) {
      const Picture& segment = k < n ? FreeSegmentPicture() : UsedSegmentPicture();
      EXPECT_TRUE(HoldsPicture(picture, segment, 83, 3 + 9 * k)) << free << " segment " << k;
    }
  }
}

TEST_F(RendererTest, BarTextStaysInTheTextAreaAtEveryRotation) {
  drive().fileSystemType = kFsExt;
  config().showHddStatus = 0;
  // Band of line 2 per rotation (left, top, right, bottom).
  const std::pair<std::int32_t, Rect> cases[] = {
      {0, {0, 18, 80, 34}}, {90, {49, 2, 65, 96}}, {180, {0, 63, 80, 81}}, {270, {17, 0, 33, 95}}};
  for (const auto& [rotation, band] : cases) {
    config().rotation = rotation;
    SetField(config().line1, std::string_view(""));
    SetField(config().line2, std::string_view("WWWWWWWWWWWWW"));
    const Picture picture = ComposeBar();
    EXPECT_GT(InkIn(picture, band), 30) << rotation;
    EXPECT_EQ(InkIn(picture, {80, 0, 83, 96}), 0) << rotation;
    EXPECT_EQ(InkIn(picture, {94, 0, 96, 96}), 0) << rotation;
  }
}

TEST_F(RendererTest, BarReverseTurnsTheTextAreaOnly) {
  drive().fileSystemType = kFsFat32;
  for (int i = 1; i <= 5; ++i) SetField(config().line(i), std::string_view("Line"));
  const Picture plain = ComposeBar();

  config().whiteBlackColor = 1;
  for (int i = 1; i <= 5; ++i) config().lineReverse(i) = 1;
  const Picture reversed = ComposeBar();
  for (int y = 0; y < 96; ++y) {
    for (int x = 0; x < 96; ++x) {
      ASSERT_EQ(reversed.at(x, y), x <= 80 ? plain.at(x, y) ^ 1 : plain.at(x, y)) << x << "," << y;
    }
  }

  config().lineReverse2 = 0;  // line 2 back to black on white
  const Picture oneLine = ComposeBar();
  EXPECT_TRUE(SameIn(oneLine, plain, {0, 18, 80, 34}));
  EXPECT_FALSE(SameIn(oneLine, plain, {0, 34, 80, 50}));
}

TEST_F(RendererTest, BarLineFiveHasNoRoomWhenTextRunsVertically) {
  drive().fileSystemType = kFsXfs;
  for (std::int32_t rotation : {90, 270}) {
    config().rotation = rotation;
    SetField(config().line5, std::string_view(""));
    config().lineReverse5 = 0;
    const Picture without = ComposeBar();
    SetField(config().line5, std::string_view("Five"));
    config().lineReverse5 = 1;
    EXPECT_EQ(ComposeBar(), without) << rotation;
  }
}

TEST_F(RendererTest, BarIconsTurnWithTheText) {
  drive().fileSystemType = kFsFat32;
  drive().health = 1;
  drive().connectionState = kBridgeUnlocked;
  const struct {
    std::int32_t rotation;
    int turn;
    int hx, hy, lx, ly;
  } cases[] = {{0, 0, 68, 80, 56, 80},
               {90, -90, 2, 84, 2, 72},
               {180, 180, 0, 2, 12, 2},
               {270, 90, 68, 2, 68, 14}};
  for (const auto& c : cases) {
    config().rotation = c.rotation;
    const Picture picture = ComposeBar();
    EXPECT_TRUE(HoldsPicture(picture, Turned(*HealthIconPicture(1), c.turn), c.hx, c.hy))
        << c.rotation;
    EXPECT_TRUE(HoldsPicture(picture, Turned(LockIconPicture(), c.turn), c.lx, c.ly)) << c.rotation;
  }
}

TEST_F(RendererTest, PreviewOfFourLineMatchesTheImageRaster) {
  SetField(config().line1, std::string_view("Preview"));
  config().whiteBlackColor = 1;
  const Picture image = Compose();
  table_.workingConfig = config();
  TextPage page = TextPageFromConfig(table_.workingConfig);
  const std::optional<Picture> preview = DrawPreview(table_, page, *fonts_);
  ASSERT_TRUE(preview);
  ASSERT_EQ(preview->width, kPreviewSide);
  EXPECT_TRUE(HoldsPicture(*preview, image, 0, 0));
  EXPECT_EQ(InkIn(*preview, {96, 0, 98, 98}) + InkIn(*preview, {0, 96, 96, 98}), 0);

  table_.currentTab = 2;
  EXPECT_FALSE(DrawPreview(table_, page, *fonts_));
  table_.currentTab = 0;
  table_.driveCount = 0;
  EXPECT_EQ(*DrawPreview(table_, page, *fonts_), Picture(kPreviewSide, kPreviewSide));
}

TEST_F(RendererTest, PreviewOfBarReadsUpright) {
  drive().fileSystemType = kFsFat32;
  config().rotation = 90;
  config().showHddStatus = 0;
  SetField(config().line1, std::string_view("Upright"));
  const Picture panel = ComposeBar();
  table_.workingConfig = config();
  TextPage page = TextPageFromConfig(table_.workingConfig);
  const std::optional<Picture> preview = DrawPreview(table_, page, *fonts_);
  ASSERT_TRUE(preview);
  EXPECT_TRUE(HoldsPicture(*preview, Turned(panel, 90), 0, 0));
}

TEST_F(RendererTest, PreviewOfLockedDriveResetsRotationAndReverse) {
  drive().connectionState = kBridgeLocked;
  table_.workingConfig = config();
  table_.workingConfig.rotation = 90;
  table_.workingConfig.previewRotation = 1;
  TextPage page = TextPageFromConfig(table_.workingConfig);
  page.reverse = true;
  const std::optional<Picture> preview = DrawPreview(table_, page, *fonts_);
  ASSERT_TRUE(preview);
  EXPECT_EQ(page.rotation, 0);
  EXPECT_FALSE(page.reverse);
  EXPECT_TRUE(HoldsPicture(*preview, PadlockPicture(), 24, 17));
}

}  // namespace
}  // namespace kuv
