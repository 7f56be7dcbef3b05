#pragma once
// The renderer's two fonts: face and cell heights from the string table, resolved to font files
// the platform's way (font_files.h) and drawn monochrome through FreeType with the cell metrics
// of the Windows programs, so that line positions and bands match theirs.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/picture_io.h"
#include "common/strings.h"

namespace kuv {

enum class FontSize { kLarge, kSmall };

// A rectangle of dots, left and top inclusive, right and bottom exclusive.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

struct TextStyle {
  FontSize size = FontSize::kLarge;
  int escapement = 0;  // tenths of a degree counter-clockwise: 0, 900, 1800 or 2700
  std::uint8_t ink = kBlack;
  std::uint8_t background = kWhite;  // the character cells are filled with it first
};

// Loaded once (file lookup, FreeType faces) and reused for every composition. Glyphs are kept
// after their first use, so a Fonts object must be used by one thread at a time.
class Fonts {
 public:
  // Face from string 170, heights from strings 171 and 172 of the language. Never fails: a face
  // that cannot be found falls back to the Japanese face or DejaVu Sans, and without any font
  // file text draws nothing.
  static std::unique_ptr<Fonts> Load(Language language);
  static std::unique_ptr<Fonts> Load(std::u16string_view face, int largeHeight, int smallHeight);
  ~Fonts();
  Fonts(const Fonts&) = delete;
  Fonts& operator=(const Fonts&) = delete;

  // Draws text with its first character cell's top-left corner at (x, y), the cells laid along
  // the escapement, into the dots of picture that lie inside clip. Returns the run's length in
  // dots along the escapement.
  int DrawText(Picture& picture, std::u16string_view text, int x, int y, const TextStyle& style,
               const Rect& clip) const;
  // Same, clipped to the picture only.
  int DrawText(Picture& picture, std::u16string_view text, int x, int y,
               const TextStyle& style) const;

  // The file the main face came from ("" when none was found), for diagnostics.
  const std::string& faceFile() const;
  int cellHeight(FontSize size) const;

 private:
  struct Impl;
  explicit Fonts(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace kuv
