#include <ft2build.h>
#include <windows.h>

#include "app/compose/font_files.h"
#include FT_FREETYPE_H
#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_IDS_H

#include <algorithm>
#include <cwctype>

#include "common/utf16.h"

namespace kuv {
namespace {

// One face of the font folders with every family name it answers to, folded.
struct IndexedFace {
  FontFile file;
  bool regular = true;
  std::vector<std::u16string> families;
};

// Family names compare as GDI compares them: without regard to the case of Latin letters.
std::u16string Fold(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return folded;
}

// Family names in every language of the name table, so that "MS Gothic" and "ＭＳ ゴシック"
// find the same face.
std::vector<std::u16string> FamilyNames(FT_Face face) {
  std::vector<std::u16string> names;
  if (face->family_name) names.push_back(Fold(Utf8ToUtf16(face->family_name)));
  const FT_UInt count = FT_Get_Sfnt_Name_Count(face);
  for (FT_UInt i = 0; i < count; ++i) {
    FT_SfntName name;
    if (FT_Get_Sfnt_Name(face, i, &name) != 0) continue;
    if (name.name_id != TT_NAME_ID_FONT_FAMILY && name.name_id != TT_NAME_ID_TYPOGRAPHIC_FAMILY) {
      continue;
    }
    std::u16string text;
    if (name.platform_id == TT_PLATFORM_MICROSOFT ||
        name.platform_id == TT_PLATFORM_APPLE_UNICODE) {
      for (FT_UInt k = 0; k + 1 < name.string_len; k += 2) {
        text += static_cast<char16_t>((name.string[k] << 8) | name.string[k + 1]);
      }
    } else if (name.platform_id == TT_PLATFORM_MACINTOSH && name.encoding_id == TT_MAC_ID_ROMAN) {
      for (FT_UInt k = 0; k < name.string_len; ++k) {
        if (name.string[k] < 0x80) text += static_cast<char16_t>(name.string[k]);
      }
    }
    if (!text.empty()) names.push_back(Fold(text));
  }
  return names;
}

std::wstring WindowsFontFolder() {
  wchar_t windows[MAX_PATH];
  const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::wstring(windows, n) + L"\\Fonts";
}

// Fonts installed for the user alone live here since Windows 10.
std::wstring UserFontFolder() {
  wchar_t local[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::wstring(local, n) + L"\\Microsoft\\Windows\\Fonts";
}

bool IsFontFileName(std::wstring_view name) {
  const std::size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos) return false;
  std::wstring extension(name.substr(dot));
  for (wchar_t& c : extension) c = static_cast<wchar_t>(std::towlower(c));
  return extension == L".ttf" || extension == L".ttc" || extension == L".otf" ||
         extension == L".otc";
}

// FreeType opens files through the ANSI functions; a path outside the ANSI code page goes by its
// short name. Empty when neither can name the file.
std::string PathForFreeType(const std::wstring& path) {
  auto narrow = [](const std::wstring& wide) {
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(),
                                      static_cast<int>(wide.size()), nullptr, 0, nullptr, &lossy);
    std::string out(n > 0 && !lossy ? static_cast<std::size_t>(n) : 0, '\0');
    if (!out.empty()) {
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), static_cast<int>(wide.size()),
                          out.data(), n, nullptr, nullptr);
    }
    return out;
  };
  std::string ansi = narrow(path);
  if (!ansi.empty()) return ansi;
  wchar_t shortPath[MAX_PATH];
  const DWORD n = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
  return n > 0 && n < MAX_PATH ? narrow(std::wstring(shortPath, n)) : std::string();
}

void IndexFolder(FT_Library library, const std::wstring& folder, std::vector<IndexedFace>& index) {
  if (folder.empty()) return;
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsFontFileName(found.cFileName)) {
      names.emplace_back(found.cFileName);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  // The order a folder lists its files in differs between file systems; a name order does not.
  std::sort(names.begin(), names.end());
  for (const std::wstring& name : names) {
    const std::string path = PathForFreeType(folder + L"\\" + name);
    if (path.empty()) continue;
    FT_Long faces = 1;
    for (FT_Long i = 0; i < faces; ++i) {
      FT_Face face = nullptr;
      if (FT_New_Face(library, path.c_str(), i, &face) != 0) break;
      faces = face->num_faces;
      if (FT_IS_SCALABLE(face)) {
        const bool regular = (face->style_flags & (FT_STYLE_FLAG_BOLD | FT_STYLE_FLAG_ITALIC)) == 0;
        index.push_back({{path, static_cast<int>(i)}, regular, FamilyNames(face)});
      }
      FT_Done_Face(face);
    }
  }
}

// The faces of both font folders, read once: opening every file is the costly part of a lookup.
const std::vector<IndexedFace>& FontIndex() {
  static const std::vector<IndexedFace> index = [] {
    std::vector<IndexedFace> faces;
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) return faces;
    IndexFolder(library, WindowsFontFolder(), faces);
    IndexFolder(library, UserFontFolder(), faces);
    FT_Done_FreeType(library);
    return faces;
  }();
  return index;
}

}  // namespace

// The upright, normal-weight face of the family when there is one, as GDI picks it for a plain
// font request.
std::optional<FontFile> FindFontFile(const std::string& family) {
  const std::u16string wanted = Fold(Utf8ToUtf16(family));
  const IndexedFace* best = nullptr;
  for (const IndexedFace& face : FontIndex()) {
    if (std::find(face.families.begin(), face.families.end(), wanted) == face.families.end()) {
      continue;
    }
    if (face.regular) return face.file;
    if (!best) best = &face;
  }
  if (best) return best->file;
  return std::nullopt;
}

// Faces every Windows has.
std::vector<FontFile> LastResortFontFiles() {
  std::vector<FontFile> files;
  for (const char* family : {"Tahoma", "Arial", "Segoe UI"}) {
    if (auto file = FindFontFile(family)) files.push_back(*file);
  }
  return files;
}

}  // namespace kuv
