#include "app/compose/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "app/compose/line_items.h"
#include "app/compose/pictures.h"
#include "common/strings.h"
#include "common/utf16.h"

namespace kuv {

namespace {

constexpr int kEncryptedDiskText = 1506;
constexpr int kPleaseUnlockText = 180;
constexpr int kThisDiskText = 181;

struct Point {
  int x = 0;
  int y = 0;
};

// Bar layout geometry for one effective rotation.
struct BarGeometry {
  int escapement;
  int lineCount;  // line 5 has no room when the text runs vertically
  std::array<Point, kLineCount> lines;
  std::array<Rect, kLineCount> bands;
  Point capacity;
  Point healthPanel;
  Point healthPreview;
  Point lock;
  int iconTurn;  // RotatePicture angle that turns an icon like the text
};

// Indexed by quarter turns: R = 0, 90, 180, 270 (and -90).
constexpr std::array<BarGeometry, 4> kBarGeometry = {{
    {0,
     5,
     {{{1, LineTextTop(0)},
       {1, LineTextTop(1)},
       {1, LineTextTop(2)},
       {1, LineTextTop(3)},
       {1, LineTextTop(4)}}},
     {{{0, 0, 80, 18}, {0, 18, 80, 34}, {0, 34, 80, 50}, {0, 50, 80, 66}, {0, 66, 80, 79}}},
     {1, 80},
     {68, 80},
     {68, 80},
     {56, 80},
     0},
    {2700,
     4,
     {{{80, 1}, {64, 1}, {48, 1}, {32, 1}, {0, 0}}},
     {{{65, 0, 81, 96}, {49, 2, 65, 96}, {33, 2, 49, 96}, {17, 2, 33, 96}, {0, 0, 0, 0}}},
     {16, 1},
     {2, 84},  // not (2, 80): the lock icon above would cover the health icon's top rows
     {2, 84},
     {2, 72},
     -90},
    {1800,
     5,
     {{{79, 95}, {79, 79}, {79, 63}, {79, 47}, {79, 31}}},
     {{{0, 79, 80, 95}, {0, 63, 80, 81}, {0, 47, 80, 65}, {0, 31, 80, 49}, {0, 15, 80, 33}}},
     {79, 15},
     {0, 2},
     {0, 2},
     {12, 2},
     180},
    {900,
     4,
     {{{2, 95}, {18, 95}, {34, 95}, {50, 95}, {0, 0}}},
     {{{1, 0, 17, 93}, {17, 0, 33, 95}, {33, 0, 49, 95}, {49, 0, 65, 95}, {0, 0, 0, 0}}},
     {66, 95},
     {68, 2},
     {68, 2},
     {68, 14},
     90},
}};

constexpr Rect kBarTextClip{0, 0, 80, 96};
constexpr int kBarTextColumns = 80;
constexpr int kFourLineNormalRows = 82;  // rows 82 to 95 (capacity text, icons) never invert

// rotation - 90 without overflow for a hostile stored value.
std::int32_t LessQuarter(std::int32_t rotation) {
  return static_cast<std::int32_t>(std::max<std::int64_t>(std::int64_t{rotation} - 90, INT32_MIN));
}

// Rotation to a quarter-turn index; anything but 90, 180 and 270 (or -90) counts as 0.
int QuarterOf(std::int32_t rotation) {
  switch (rotation) {
    case 90:
      return 1;
    case 180:
      return 2;
    case 270:
    case -90:
      return 3;
    default:
      return 0;
  }
}

void FillRect(Picture& picture, const Rect& rect, std::uint8_t value) {
  for (int y = std::max(rect.top, 0); y < std::min(rect.bottom, picture.height); ++y) {
    for (int x = std::max(rect.left, 0); x < std::min(rect.right, picture.width); ++x) {
      picture.at(x, y) = value;
    }
  }
}

void InvertRect(Picture& picture, const Rect& rect) {
  for (int y = std::max(rect.top, 0); y < std::min(rect.bottom, picture.height); ++y) {
    for (int x = std::max(rect.left, 0); x < std::min(rect.right, picture.width); ++x) {
      picture.at(x, y) ^= 1;
    }
  }
}

void CopyPicture(Picture& target, const Picture& source, int left, int top) {
  for (int y = 0; y < source.height; ++y) {
    for (int x = 0; x < source.width; ++x) target.Set(left + x, top + y, source.at(x, y));
  }
}

void ClearLineTexts(TextPage& page) {
  for (auto& text : page.lineTexts) text.clear();
}

std::u16string_view LineOf(const ScreenConfig& config, int i) {
  return FieldView(config.line(i));
}

bool IsLocked(const DriveRecord& drive) {
  return drive.connectionState == kBridgeLocked;
}

// What the four-line composition reads besides the drive record.
struct FourLineInput {
  std::array<std::u16string_view, kLineCount> lines;
  bool showHddStatus = false;
  bool preview = false;
};

// The unturned four-line picture, before any inversion.
Picture ComposeFourLine(const DriveRecord& drive, const FourLineInput& in, TextPage& page,
                        const Fonts& fonts) {
  Picture picture(kPanelSide, kPanelSide);
  const bool locked = IsLocked(drive);
  const TextStyle large{FontSize::kLarge, 0, kBlack, kWhite};
  const TextStyle small{FontSize::kSmall, 0, kBlack, kWhite};

  fonts.DrawText(picture, in.lines[1], 1, LineTextTop(1), large);
  if (locked) {
    ClearLineTexts(page);
  } else {
    for (int i : {0, 2, 3}) {
      fonts.DrawText(picture, in.lines[static_cast<std::size_t>(i)], 1, LineTextTop(i), large);
    }
  }

  if (locked) {
    page.reverse = false;
    fonts.DrawText(picture, String(kEncryptedDiskText), 1, 2, small);
    if (in.preview) {
      page.rotation = 0;
      fonts.DrawText(picture, String(kPleaseUnlockText), 1, 66, small);
      fonts.DrawText(picture, String(kThisDiskText), 1, 82, small);
    } else {
      // The locked drive's own capacity text, never one left over from another drive.
      page.capacityText = FormatCapacityText(drive.freeMB, drive.totalMB);
      fonts.DrawText(picture, page.capacityText, 1, 82, small);
    }
    ClearLineTexts(page);
    page.controlsEnabled = false;
    CopyPicture(picture, PadlockPicture(), 24, in.preview ? 17 : 30);
  } else {
    page.capacityText = FormatCapacityText(drive.freeMB, drive.totalMB);
    fonts.DrawText(picture, page.capacityText, 1, 82, small);
    for (int k = 0; k < 10; ++k) {
      const Rect box{3 + 9 * k, 65, 11 + 9 * k, 77};
      FillRect(picture, box, kBlack);
      FillRect(picture, Rect{box.left + 1, box.top + 1, box.right - 1, box.bottom - 1}, kWhite);
    }
    const int used = CapacityGraphEnd(drive.freeMB, drive.totalMB);
    for (int x = 3; x < used; ++x) {
      if (x % 9 != 2) FillRect(picture, Rect{x, 66, x + 1, 76}, kBlack);
    }
    if (in.showHddStatus) {
      if (const Picture* icon = HealthIconPicture(drive.health))
        CopyPicture(picture, *icon, 84, 82);
    }
  }
  if (drive.connectionState == kBridgeUnlocked) CopyPicture(picture, LockIconPicture(), 72, 82);
  return picture;
}

// What the bar composition reads besides the drive record.
struct BarInput {
  std::array<std::u16string_view, kLineCount> lines;
  std::array<bool, kLineCount> lineReverse{};
  bool reverse = false;
  bool showHddStatus = false;
  std::int32_t rotation = 0;  // effective
  bool preview = false;
};

// The unturned bar picture: capacity bar on the right, text area on the left.
Picture ComposeBar(const DriveRecord& drive, const BarInput& in, TextPage& page,
                   const Fonts& fonts) {
  Picture base(kPanelSide, kPanelSide);
  const int n = FreeSegmentCount(drive.freeSectors, drive.totalSectors);
  for (int k = 0; k < 10; ++k) {
    CopyPicture(base, k < n ? FreeSegmentPicture() : UsedSegmentPicture(), 83, 3 + 9 * k);
  }

  const BarGeometry& g = kBarGeometry[static_cast<std::size_t>(QuarterOf(in.rotation))];
  Picture work(82, kPanelSide);
  for (int i = 0; i < g.lineCount; ++i) {
    const bool reversed = in.lineReverse[static_cast<std::size_t>(i)] != in.reverse;
    const TextStyle style{FontSize::kLarge, g.escapement, reversed ? kWhite : kBlack,
                          reversed ? kBlack : kWhite};
    const Rect& band = g.bands[static_cast<std::size_t>(i)];
    if (reversed) {
      FillRect(work,
               Rect{band.left, band.top, std::min(band.right, kBarTextClip.right), band.bottom},
               kBlack);
    }
    const Point& at = g.lines[static_cast<std::size_t>(i)];
    fonts.DrawText(work, in.lines[static_cast<std::size_t>(i)], at.x, at.y, style, kBarTextClip);
  }

  page.capacityText = FormatCapacityText(drive.freeMB, drive.totalMB);
  fonts.DrawText(work, page.capacityText, g.capacity.x, g.capacity.y,
                 TextStyle{FontSize::kSmall, g.escapement, kBlack, kWhite}, kBarTextClip);

  if (in.showHddStatus) {
    if (const Picture* icon = HealthIconPicture(drive.health)) {
      Picture turned = *icon;
      RotatePicture(turned, g.iconTurn);
      const Point& at = in.preview ? g.healthPreview : g.healthPanel;
      CopyPicture(work, turned, at.x, at.y);
    }
  }
  if (drive.connectionState == kBridgeUnlocked) {
    Picture turned = LockIconPicture();
    RotatePicture(turned, g.iconTurn);
    CopyPicture(work, turned, g.lock.x, g.lock.y);
  }

  for (int y = 0; y < kPanelSide; ++y) {
    for (int x = 0; x < kBarTextColumns; ++x) base.at(x, y) = work.at(x, y);
  }
  return base;
}

Raster RasterOf(const Picture& picture) {
  return *RasterFromPicture(picture);
}

bool InvertedBand(int row, const std::array<bool, kLineCount>& flags, bool reverse) {
  static constexpr int kBandFirstRow[kLineCount + 1] = {1, 17, 33, 49, 65, 82};
  if (reverse && row < kFourLineNormalRows) return true;
  for (int i = 0; i < kLineCount; ++i) {
    if (flags[static_cast<std::size_t>(i)] && row >= kBandFirstRow[i] &&
        row < kBandFirstRow[i + 1]) {
      return true;
    }
  }
  return false;
}

std::array<bool, kLineCount> LineFlags(const ScreenConfig& config) {
  std::array<bool, kLineCount> flags{};
  for (int i = 1; i <= kLineCount; ++i)
    flags[static_cast<std::size_t>(i - 1)] = config.lineReverse(i) != 0;
  return flags;
}

// Turns a raster by quarter turns clockwise, bit by bit, without unpacking it into dots; the
// renderer does this on every composition.
Raster TurnRaster(const Raster& in, int quarters) {
  auto bit = [&in](int x, int y) -> unsigned {
    return (in[static_cast<std::size_t>(12 * y + (x >> 3))] >> (7 - (x & 7))) & 1u;
  };
  // Each output byte gathers its eight source dots; the quarter is fixed per call.
  auto gather = [&](auto source) {
    Raster out;
    for (int y = 0; y < kPanelSide; ++y) {
      for (int b = 0; b < 12; ++b) {
        unsigned bits = 0;
        for (int x = 8 * b; x < 8 * b + 8; ++x) bits = (bits << 1) | source(x, y);
        out[static_cast<std::size_t>(12 * y + b)] = static_cast<std::uint8_t>(bits);
      }
    }
    return out;
  };
  switch (quarters) {
    case 1:
      return gather([&](int x, int y) { return bit(y, 95 - x); });
    case 2:
      return gather([&](int x, int y) { return bit(95 - x, 95 - y); });
    case 3:
      return gather([&](int x, int y) { return bit(95 - y, x); });
    default:
      return in;
  }
}

}  // namespace

std::int32_t EffectiveRotationOf(const DriveRecord& drive, const ScreenConfig& config) {
  return drive.panelModel == 3 ? LessQuarter(config.rotation) : config.rotation;
}

int CapacityGraphEnd(std::uint32_t freeMB, std::uint32_t totalMB) {
  if (totalMB == 0) return 0;
  // 64 bits and a clamp: free space above the total, or sizes past 44 TiB, must stay in the graph.
  const std::int64_t used =
      92 - static_cast<std::int64_t>(static_cast<std::uint64_t>(freeMB) * 92u / totalMB);
  return static_cast<int>(std::clamp<std::int64_t>(used, 0, 92));
}

int FreeSegmentCount(std::uint64_t freeSectors, std::uint64_t totalSectors) {
  const std::uint64_t tenth = totalSectors / 10;
  if (totalSectors == 0 || freeSectors == 0 || tenth == 0) return 0;
  const std::uint64_t reserve = totalSectors / 20;
  const std::uint64_t usable = freeSectors > reserve ? freeSectors - reserve : 0;
  // Signed, so that free space above the total gives a full bar rather than a wrapped value.
  const double n =
      std::ceil(10.0 - (static_cast<double>(totalSectors) - static_cast<double>(usable)) /
                           static_cast<double>(tenth));
  return static_cast<int>(std::clamp(n, 0.0, 10.0));
}

void RotateRaster(std::int32_t angle, Raster& raster, bool reverse, const ScreenConfig& lineFlags) {
  const auto flags = LineFlags(lineFlags);
  for (int y = 0; y < kPanelSide; ++y) {
    if (!InvertedBand(y, flags, reverse)) continue;
    for (int i = 12 * y; i < 12 * y + 12; ++i) {
      raster[static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(~raster[static_cast<std::size_t>(i)]);
    }
  }
  switch (static_cast<std::int64_t>(angle) + 90) {
    case 90:
      raster = TurnRaster(raster, 1);
      break;
    case 180:
      raster = TurnRaster(raster, 2);
      break;
    case 270:
      raster = TurnRaster(raster, 3);
      break;
    default:
      break;
  }
}

void RotatePicture(Picture& picture, std::int32_t angle) {
  const int w = picture.width;
  const int h = picture.height;
  switch (angle) {
    case 90: {
      Picture turned(h, w);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) turned.at(y, w - 1 - x) = picture.at(x, y);
      }
      picture = std::move(turned);
      break;
    }
    case 180:
      std::reverse(picture.dots.begin(), picture.dots.end());
      break;
    case 270:
    case -90: {
      Picture turned(h, w);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) turned.at(h - 1 - y, x) = picture.at(x, y);
      }
      picture = std::move(turned);
      break;
    }
    default:
      break;
  }
}

LineRecords BuildLineRecords(const Raster& raster) {
  LineRecords records{};
  for (int r = 0; r < kLineRecordCount; ++r) {
    LineRecord& record = records[static_cast<std::size_t>(r)];
    const auto line = static_cast<std::uint8_t>(r + 1);
    std::uint8_t address = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if (line & (1u << bit)) address = static_cast<std::uint8_t>(address | (0x80u >> bit));
    }
    record[0] = 0x4C;
    record[1] = 0x10;
    record[2] = 0x80;
    record[3] = address;
    std::memcpy(record.data() + 4, raster.data() + 12 * r, 12);
  }
  return records;
}

void BuildLineRecordSlots(const Raster& raster,
                          std::span<std::uint8_t, kLineRecordCount * kLineSlotSize> slots) {
  std::fill(slots.begin(), slots.end(), 0);
  const LineRecords records = BuildLineRecords(raster);
  for (std::size_t r = 0; r < records.size(); ++r) {
    std::copy(records[r].begin(), records[r].end(),
              slots.begin() + static_cast<std::ptrdiff_t>(r * kLineSlotSize));
  }
}

bool ComposePanelRaster(DriveTable& table, int slot, TextPage& page, const Fonts& fonts) {
  if (table.driveCount <= 0 || slot < 0 || slot >= std::min(table.driveCount, kSlotCount)) {
    return false;
  }
  const DriveRecord& drive = table.driveRecords[static_cast<std::size_t>(slot)];
  ScreenConfig& config = table.screenConfigs[static_cast<std::size_t>(slot)];
  if (config.lcdDataType != kLcdText && config.lcdDataType != kLcdBitmap) return false;
  const std::int32_t rotation = EffectiveRotationOf(drive, config);

  if (UsesBarLayout(drive.fileSystemType)) {
    BarInput in;
    for (int i = 1; i <= kLineCount; ++i)
      in.lines[static_cast<std::size_t>(i - 1)] = LineOf(config, i);
    in.lineReverse = LineFlags(config);
    in.reverse = config.whiteBlackColor != 0;
    in.showHddStatus = config.showHddStatus != 0;
    in.rotation = rotation;
    Raster raster = TurnRaster(RasterOf(ComposeBar(drive, in, page, fonts)), 1);
    if (in.reverse) {
      // Raster rows 0 to 80 are the text area and column 80; the bar keeps its colours.
      for (std::size_t i = 0; i < 12 * 81; ++i) raster[i] = static_cast<std::uint8_t>(~raster[i]);
    }
    table.raster = raster;
    table.imageRaster = raster;
    return true;
  }

  FourLineInput in;
  for (int i = 1; i <= kLineCount; ++i)
    in.lines[static_cast<std::size_t>(i - 1)] = LineOf(config, i);
  const bool locked = IsLocked(drive);
  if (locked) config.showHddStatus = 0;
  in.showHddStatus = config.showHddStatus != 0;
  const Raster picture = RasterOf(ComposeFourLine(drive, in, page, fonts));
  if (config.lcdDataType == kLcdText) table.raster = picture;
  const bool reverse = config.whiteBlackColor != 0;
  RotateRaster(rotation, table.raster, reverse, config);
  table.imageRaster = picture;
  RotateRaster(-90, table.imageRaster, reverse, config);
  return true;
}

std::optional<Picture> DrawPreview(DriveTable& table, TextPage& page, const Fonts& fonts) {
  if (table.currentTab != 0 && table.currentTab != 1) return std::nullopt;
  Picture preview(kPreviewSide, kPreviewSide);
  const int slot = table.selectedDrive;
  if (table.driveCount <= 0 || slot < 0 || slot >= std::min(table.driveCount, kSlotCount)) {
    return preview;
  }
  const DriveRecord& drive = table.driveRecords[static_cast<std::size_t>(slot)];
  ScreenConfig& working = table.workingConfig;
  const bool rotatePreview = working.previewRotation != 0;

  if (UsesBarLayout(drive.fileSystemType)) {
    const std::int32_t rotation = EffectiveRotationOf(drive, working);
    BarInput in;
    for (int i = 0; i < kLineCount; ++i)
      in.lines[static_cast<std::size_t>(i)] = page.lineTexts[static_cast<std::size_t>(i)];
    in.lineReverse = LineFlags(working);
    in.reverse = page.reverse;
    in.showHddStatus = working.showHddStatus != 0;
    in.rotation = rotation;
    in.preview = true;
    Picture picture = ComposeBar(drive, in, page, fonts);
    if (!rotatePreview) {
      RotatePicture(picture, rotation);
    } else if (drive.panelModel == 3) {
      RotatePicture(picture, -90);
    }
    CopyPicture(preview, picture, 0, 0);
    if (page.reverse) {
      Rect r;  // x, y, width, height below, as the control's inverted copy
      const int q = QuarterOf(rotation);
      if (rotatePreview) {
        if (drive.panelModel == 3) {
          r = {0, 0, 95, 79};
        } else if (q == 3) {
          r = {0, 0, 81, 95};
        } else {
          r = {0, 0, 79, 95};
        }
      } else {
        static constexpr Rect kUnturned[4] = {
            {0, 0, 81, 96}, {0, 15, 97, 96}, {15, 0, 96, 96}, {0, 0, 95, 81}};
        r = kUnturned[q];
      }
      InvertRect(preview, Rect{r.left, r.top, r.left + r.right, r.top + r.bottom});
    }
    return preview;
  }

  const bool locked = IsLocked(drive);
  if (drive.fileSystemType == kFsUnknown && !locked) return preview;
  FourLineInput in;
  for (int i = 1; i <= kLineCount; ++i)
    in.lines[static_cast<std::size_t>(i - 1)] = LineOf(working, i);
  if (locked) working.showHddStatus = 0;
  in.showHddStatus = working.showHddStatus != 0;
  in.preview = true;
  Raster raster = RasterOf(ComposeFourLine(drive, in, page, fonts));
  const std::int32_t angle = rotatePreview ? LessQuarter(page.rotation) : -90;
  RotateRaster(angle, raster, page.reverse, working);
  CopyPicture(preview, PictureFromRaster(raster), 0, 0);
  return preview;
}

}  // namespace kuv
