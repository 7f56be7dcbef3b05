#pragma once
// The QR code symbol of the QR page: a small class over libqrencode that answers what the page
// asks of it — the text with its read-back, the width in modules, the dots per module, the
// error-correction level, the two colours, and painting at x, y with a 5-module margin.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/compose/line_items.h"
#include "common/picture_io.h"

namespace kuv {

inline constexpr int kQrMarginModules = 5;
// The width answered for a text that no symbol can hold: one version past the largest.
inline constexpr int kQrTooLargeWidth = 181;

// One stretch of the text in one QR mode, as it goes into the symbol.
enum class QrMode { kNumeric, kAlphanumeric, kByte, kKanji };
struct QrSegment {
  QrMode mode = QrMode::kByte;
  std::string bytes;  // code-page bytes; Kanji segments hold Shift-JIS pairs
  int characters = 0;
};

// The version and segments of the smallest symbol for bytes at level 0 (L) to 3 (H); version 0
// when no symbol can hold them. kanji: double-byte Shift-JIS characters may use Kanji mode.
struct QrLayout {
  int version = 0;
  int bits = 0;
  std::vector<QrSegment> segments;
};
QrLayout PlanQrSymbol(std::string_view bytes, int level, bool kanji);

// One character of a code-page text: its bytes and the modes it may go in.
struct QrUnit {
  std::size_t offset = 0;
  std::size_t length = 1;
  bool numeric = false;
  bool alnum = false;
  bool kanji = false;
};

// PlanQrSymbol that keeps its search between calls, so a text that changes only at its end is
// planned in the time of the change.
class QrPlanner {
 public:
  QrLayout Plan(std::string_view bytes, int level, bool kanji);

 private:
  bool kanji_ = false;
  std::string bytes_;
  std::vector<QrUnit> units_;
  std::array<std::vector<std::array<long, 4>>, 3> costs_;
  std::array<std::vector<std::array<std::int8_t, 4>>, 3> chosen_;
  std::array<std::size_t, 3> valid_{};
};

// Data codewords of a symbol of version 1 to 40 at level 0 to 3.
int QrDataCodewords(int version, int level);

class QrSymbol {
 public:
  // Byte mode carries the text in codePage; Kanji mode is used only for Shift-JIS (CP932).
  explicit QrSymbol(CodePage codePage);
  ~QrSymbol();
  QrSymbol(const QrSymbol&) = delete;
  QrSymbol& operator=(const QrSymbol&) = delete;

  void SetText(std::u16string_view text);
  // The text as the code page holds it: characters it cannot hold come back as "?".
  const std::u16string& Text() const { return readBack_; }
  // Width of the symbol in modules; 0 for an empty text, kQrTooLargeWidth when it cannot be made.
  int Width();

  void SetDotsPerModule(int dots);
  int DotsPerModule() const { return dotsPerModule_; }
  // Level 0 "Low(7%)" to 3 "Max(30%)"; values outside are clamped.
  void SetLevel(int level);
  int Level() const { return level_; }
  // Colours as 0xRRGGBB: the dark modules, and the light modules with the margin.
  void SetDarkColor(std::uint32_t rgb) { darkColor_ = rgb; }
  void SetLightColor(std::uint32_t rgb) { lightColor_ = rgb; }

  // Paints the symbol with its margin, (Width() + 10) x DotsPerModule() dots square, with its
  // top-left corner at (x, y); a colour paints white when it is at least half bright. An empty
  // or impossible symbol paints nothing.
  void Paint(Picture& canvas, int x, int y);

  // The module matrix, Width() x Width(), true for dark; empty when there is no symbol.
  const std::vector<bool>& Modules();

 private:
  void Plan();
  struct Conversion {
    std::string bytes;
    std::u16string readBack;
  };
  const Conversion& Convert(std::u16string_view character);

  CodePage codePage_;
  std::string bytes_;
  std::u16string readBack_;
  int dotsPerModule_ = 2;
  int level_ = 1;
  std::uint32_t darkColor_ = 0x000000;
  std::uint32_t lightColor_ = 0xFFFFFF;
  std::unordered_map<std::u16string, Conversion> conversions_;
  QrPlanner planner_;
  bool planned_ = false;
  QrLayout layout_;
  bool encoded_ = false;
  std::vector<bool> modules_;
};

}  // namespace kuv
