// One keystroke on the QR page: Regenerate with both counts of characters left, at 1 dot per
// module with the text a few characters short of full. It should cost at most two plain
// libqrencode encodes of the same text, which the second benchmark measures in the same run.
#include <benchmark/benchmark.h>
#include <qrencode.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "app/model/qr_page.h"

namespace {

// 276 of the 280 bytes version 17 holds at level H.
std::u16string NearlyFullText() {
  std::u16string text = u"https://example.org/inventory/";
  while (text.size() < 276) text += static_cast<char16_t>(u'a' + text.size() % 26);
  return text;
}

struct TempFolder {
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kuvqr.XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

void BM_QrRegenerateKeystroke(benchmark::State& state) {
  TempFolder folder;
  kuv::DriveTable table;
  kuv::SystemVolumeFiles files;
  kuv::QrPage page(table, files, kuv::Language::kEnglish, folder.path + "/");
  page.SelectCellSize(1);  // 1Dot/Cell, Max(30%)
  const std::u16string text = NearlyFullText();
  const std::u16string typed = text + u"x";
  page.TextChanged(text);
  bool longer = false;
  for (auto _ : state) {
    // Typing and deleting one character, so every keystroke changes the text.
    longer = !longer;
    page.TextChanged(longer ? typed : text);
    benchmark::DoNotOptimize(page.picture());
  }
  state.SetLabel(std::string(page.messageLine().begin(), page.messageLine().end()));
}
BENCHMARK(BM_QrRegenerateKeystroke)->Unit(benchmark::kMicrosecond);

void BM_QrLibqrencodeEncode(benchmark::State& state) {
  const std::u16string wide = NearlyFullText();
  const std::string text(wide.begin(), wide.end());
  for (auto _ : state) {
    QRcode* code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_H, QR_MODE_8, 1);
    benchmark::DoNotOptimize(code);
    QRcode_free(code);
  }
}
BENCHMARK(BM_QrLibqrencodeEncode)->Unit(benchmark::kMicrosecond);

}  // namespace
