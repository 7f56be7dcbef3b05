#include "app/compose/fonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SIZES_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <unordered_map>
#include <vector>

#include "app/compose/font_files.h"
#include "common/utf16.h"

namespace kuv {

namespace {

// Families tried after the screen's own face, for the characters it lacks: the Japanese face
// and its stand-in, then a face that draws almost anything.
constexpr const char* kFallbackFamilies[] = {"MS Gothic", "IPAGothic", "DejaVu Sans"};

constexpr int kSizeCount = 2;

int SizeIndex(FontSize size) {
  return size == FontSize::kLarge ? 0 : 1;
}

// Unit steps along the run of text and from the letter tops to their feet, per quarter turn.
struct Direction {
  int runX, runY, downX, downY;
};
constexpr std::array<Direction, 4> kDirections = {{
    {1, 0, 0, 1},    // 0
    {0, -1, 1, 0},   // 900: upward, tops to the left
    {-1, 0, 0, -1},  // 1800: upside down, leftward
    {0, 1, -1, 0},   // 2700: downward, tops to the right
}};

struct Glyph {
  int left = 0;  // bitmap's left edge from the origin, rightward along the turned x axis
  int top = 0;   // bitmap's top edge above the origin
  int width = 0;
  int rows = 0;
  int advance = 0;
  std::vector<std::uint8_t> ink;  // width * rows, 1 = ink
};

}  // namespace

struct Fonts::Impl {
  struct Face {
    FT_Face face = nullptr;
    std::array<FT_Size, kSizeCount> sizes{};
  };

  FT_Library library = nullptr;
  std::vector<Face> faces;  // the main face first, then faces for characters it lacks
  std::string mainFile;
  std::vector<FontFile> loaded;  // every file tried, so a fallback is not opened twice
  std::array<int, kSizeCount> height{};
  std::array<int, kSizeCount> ascent{};
  std::array<int, kSizeCount> cell{};
  mutable std::unordered_map<std::uint64_t, Glyph> glyphs;

  ~Impl() {
    for (auto& f : faces) FT_Done_Face(f.face);
    if (library) FT_Done_FreeType(library);
  }

  bool AddFace(const FontFile& file) {
    for (const auto& seen : loaded) {
      if (seen.path == file.path && seen.index == file.index) return false;
    }
    loaded.push_back(file);
    Face f;
    if (FT_New_Face(library, file.path.c_str(), file.index, &f.face) != 0) return false;
    if (!FT_IS_SCALABLE(f.face)) {
      FT_Done_Face(f.face);
      return false;
    }
    std::array<int, kSizeCount> faceAscent{}, faceCell{};
    for (int s = 0; s < kSizeCount; ++s) {
      if (FT_New_Size(f.face, &f.sizes[static_cast<std::size_t>(s)]) != 0 ||
          FT_Activate_Size(f.sizes[static_cast<std::size_t>(s)]) != 0) {
        FT_Done_Face(f.face);
        return false;
      }
      ScaleLikeGdi(f.face, height[static_cast<std::size_t>(s)],
                   faceAscent[static_cast<std::size_t>(s)], faceCell[static_cast<std::size_t>(s)]);
    }
    if (faces.empty()) {
      mainFile = file.path;
      ascent = faceAscent;
      cell = faceCell;
    }
    faces.push_back(f);
    return true;
  }

  // A positive GDI height is the cell height: ascent plus descent of the OS/2 Windows metrics.
  static void ScaleLikeGdi(FT_Face face, int cellHeight, int& ascentPx, int& cellPx) {
    double winAscent = face->ascender;
    double winDescent = -face->descender;
    if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        os2 && os2->usWinAscent + os2->usWinDescent > 0) {
      winAscent = os2->usWinAscent;
      winDescent = os2->usWinDescent;
    }
    const double units = face->units_per_EM;
    const double total = winAscent + winDescent;
    int ppem = total > 0 ? static_cast<int>(std::lround(cellHeight * units / total)) : cellHeight;
    ppem = std::max(ppem, 1);
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(ppem));
    ascentPx = static_cast<int>(std::lround(winAscent * ppem / units));
    cellPx = ascentPx + static_cast<int>(std::lround(winDescent * ppem / units));
  }

  const Glyph& GetGlyph(char32_t code, int sizeIndex, int quarter) const {
    const std::uint64_t key = static_cast<std::uint64_t>(code) |
                              (static_cast<std::uint64_t>(sizeIndex) << 32) |
                              (static_cast<std::uint64_t>(quarter) << 34);
    if (auto it = glyphs.find(key); it != glyphs.end()) return it->second;
    return glyphs.emplace(key, RenderGlyph(code, sizeIndex, quarter)).first->second;
  }

  Glyph RenderGlyph(char32_t code, int sizeIndex, int quarter) const {
    Glyph glyph;
    if (faces.empty()) return glyph;
    const Face* chosen = &faces.front();
    FT_UInt index = 0;
    for (const auto& f : faces) {
      if (FT_UInt i = FT_Get_Char_Index(f.face, code); i != 0) {
        chosen = &f;
        index = i;
        break;
      }
    }
    FT_Face face = chosen->face;
    FT_Activate_Size(chosen->sizes[static_cast<std::size_t>(sizeIndex)]);
    FT_Int32 flags = FT_LOAD_TARGET_MONO;
    if (quarter != 0) {
      // Embedded bitmaps would ignore the transform, so turned text comes from the outlines.
      static constexpr FT_Fixed kCos[4] = {0x10000, 0, -0x10000, 0};
      static constexpr FT_Fixed kSin[4] = {0, 0x10000, 0, -0x10000};
      FT_Matrix matrix{kCos[quarter], -kSin[quarter], kSin[quarter], kCos[quarter]};
      FT_Set_Transform(face, &matrix, nullptr);
      flags |= FT_LOAD_NO_BITMAP;
    }
    const bool rendered = FT_Load_Glyph(face, index, flags) == 0 &&
                          FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO) == 0;
    if (quarter != 0) FT_Set_Transform(face, nullptr, nullptr);
    if (!rendered) return glyph;
    const FT_GlyphSlot slot = face->glyph;
    glyph.advance = static_cast<int>((slot->metrics.horiAdvance + 32) >> 6);
    glyph.left = slot->bitmap_left;
    glyph.top = slot->bitmap_top;
    const FT_Bitmap& bitmap = slot->bitmap;
    glyph.width = static_cast<int>(bitmap.width);
    glyph.rows = static_cast<int>(bitmap.rows);
    glyph.ink.assign(static_cast<std::size_t>(glyph.width) * static_cast<std::size_t>(glyph.rows),
                     0);
    for (int y = 0; y < glyph.rows; ++y) {
      const unsigned char* row = bitmap.buffer + static_cast<std::ptrdiff_t>(y) * bitmap.pitch;
      for (int x = 0; x < glyph.width; ++x) {
        bool ink = false;
        if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
          ink = (row[x / 8] >> (7 - x % 8)) & 1;
        } else if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
          ink = row[x] >= 128;
        }
        glyph.ink[static_cast<std::size_t>(y * glyph.width + x)] = ink ? 1 : 0;
      }
    }
    return glyph;
  }
};

Fonts::Fonts(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Fonts::~Fonts() = default;

std::unique_ptr<Fonts> Fonts::Load(Language language) {
  auto number = [&](int id, int fallback) {
    const std::string text = Utf16ToUtf8(String(id, language));
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && value > 0 && value <= 200 ? value : fallback;
  };
  std::u16string_view face = String(170, language);
  return Load(face.empty() ? std::u16string_view(u"Tahoma") : face, number(171, 14),
              number(172, 13));
}

std::unique_ptr<Fonts> Fonts::Load(std::u16string_view face, int largeHeight, int smallHeight) {
  auto impl = std::make_unique<Impl>();
  impl->height = {std::clamp(largeHeight, 1, 200), std::clamp(smallHeight, 1, 200)};
  impl->cell = impl->height;
  if (FT_Init_FreeType(&impl->library) != 0) impl->library = nullptr;
  if (impl->library) {
    std::vector<FontFile> files;
    if (auto file = FindFontFile(Utf16ToUtf8(face))) files.push_back(*file);
    for (const char* family : kFallbackFamilies) {
      if (auto file = FindFontFile(family)) files.push_back(*file);
    }
    for (const FontFile& file : LastResortFontFiles()) files.push_back(file);
    for (const auto& file : files) impl->AddFace(file);
  }
  return std::unique_ptr<Fonts>(new Fonts(std::move(impl)));
}

const std::string& Fonts::faceFile() const {
  return impl_->mainFile;
}

int Fonts::cellHeight(FontSize size) const {
  return impl_->cell[static_cast<std::size_t>(SizeIndex(size))];
}

int Fonts::DrawText(Picture& picture, std::u16string_view text, int x, int y,
                    const TextStyle& style) const {
  return DrawText(picture, text, x, y, style, Rect{0, 0, picture.width, picture.height});
}

int Fonts::DrawText(Picture& picture, std::u16string_view text, int x, int y,
                    const TextStyle& style, const Rect& clip) const {
  const int sizeIndex = SizeIndex(style.size);
  const int quarter = ((style.escapement / 900) % 4 + 4) % 4;
  const Direction d = kDirections[static_cast<std::size_t>(quarter)];
  const Rect area{std::max(clip.left, 0), std::max(clip.top, 0),
                  std::min(clip.right, picture.width), std::min(clip.bottom, picture.height)};
  auto plot = [&](int px, int py, std::uint8_t value) {
    if (px >= area.left && px < area.right && py >= area.top && py < area.bottom) {
      picture.at(px, py) = value;
    }
  };

  std::vector<const Glyph*> run;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    run.push_back(&impl_->GetGlyph(code, sizeIndex, quarter));
  }
  int length = 0;
  for (const Glyph* g : run) length += g->advance;

  // The opaque cell background: the run's extent by the cell height, turned with the text.
  const int cell = impl_->cell[static_cast<std::size_t>(sizeIndex)];
  const int u0 = x, v0 = y;
  const int ax = x + length * d.runX + cell * d.downX;
  const int ay = y + length * d.runY + cell * d.downY;
  for (int py = std::min(v0, ay); py < std::max(v0, ay); ++py) {
    for (int px = std::min(u0, ax); px < std::max(u0, ax); ++px) plot(px, py, style.background);
  }

  const int ascent = impl_->ascent[static_cast<std::size_t>(sizeIndex)];
  int pen = 0;
  for (const Glyph* g : run) {
    const int ox = x + pen * d.runX + ascent * d.downX;
    const int oy = y + pen * d.runY + ascent * d.downY;
    for (int row = 0; row < g->rows; ++row) {
      for (int col = 0; col < g->width; ++col) {
        if (g->ink[static_cast<std::size_t>(row * g->width + col)]) {
          plot(ox + g->left + col, oy - g->top + row, style.ink);
        }
      }
    }
    pen += g->advance;
  }
  return length;
}

}  // namespace kuv
