#pragma once
// What the renderer reads from and changes on the text page. The page's widgets own a copy of
// this and show it; the renderer and the command line use it without any widgets.

#include <array>
#include <cstdint>
#include <string>

#include "common/screen_config.h"
#include "common/utf16.h"

namespace kuv {

struct TextPage {
  std::array<std::u16string, kLineCount> lineTexts;  // the five line edit boxes
  std::u16string capacityText;                       // last capacity text formatted
  bool reverse = false;                              // "reverse" check box
  std::int32_t rotation = 0;                         // rotation choice, in degrees
  bool controlsEnabled = true;                       // line controls usable
  bool operator==(const TextPage&) const = default;
};

// A page showing a configuration as the page would after loading it.
inline TextPage TextPageFromConfig(const ScreenConfig& config) {
  TextPage page;
  for (int i = 1; i <= kLineCount; ++i) {
    page.lineTexts[static_cast<std::size_t>(i - 1)] = std::u16string(FieldView(config.line(i)));
  }
  page.reverse = config.whiteBlackColor != 0;
  page.rotation = config.rotation;
  return page;
}

}  // namespace kuv
