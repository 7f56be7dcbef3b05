#pragma once
// Where the renderer's faces come from: a family name resolved to a font file the platform's own
// way (fontconfig with our aliases, or the Windows font folders).

#include <optional>
#include <string>
#include <vector>

namespace kuv {

// A face inside a font file: the path FreeType opens and the face's index in a collection.
struct FontFile {
  std::string path;
  int index = 0;
};

// The file of the family (UTF-8), or of the platform's stand-in for it; nothing when the
// platform has neither.
std::optional<FontFile> FindFontFile(const std::string& family);

// Files to try when every family failed, so that text still draws.
std::vector<FontFile> LastResortFontFiles();

}  // namespace kuv
