#include "app/model/qr_page.h"

#include "app/compose/bitmap_raster.h"
#include "app/model/lcd_data_file.h"
#include "app/model/lcd_model.h"
#include "common/utf16.h"

namespace kuv {
namespace {

constexpr int kDefaultLevel = 1;

int CellPitchOfIndex(int index) {
  return index == 1 ? 1 : 2;
}

// Fills each "%d" of a format from the string table with the next number.
std::u16string FormatCounts(std::u16string_view format, std::initializer_list<int> numbers) {
  std::u16string text;
  auto next = numbers.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size() && format[i + 1] == u'd') {
      if (next != numbers.end()) {
        for (char c : std::to_string(*next++)) text += static_cast<char16_t>(c);
      }
      ++i;
    } else {
      text += format[i];
    }
  }
  return text;
}

}  // namespace

std::u16string ApplyQrInputRules(std::u16string_view text, bool japaneseUi) {
  std::u16string kept(text.substr(0, kQrInputLimit));
  if (!japaneseUi) {
    for (char16_t& c : kept) {
      if (c == u'\r' || c == u'\n') continue;
      if (!IsHalfWidth(c) || IsHalfWidthKatakana(c)) c = u'?';
    }
  }
  return kept;
}

QrPage::QrPage(DriveTable& table, VolumeFiles& files, Language language, std::string tempFolder)
    : table_(table),
      files_(files),
      language_(language),
      japaneseUi_(language == Language::kJapanese),
      tempFolder_(std::move(tempFolder)),
      qrImagePath_(tempFolder_ + kQrImageFileName),
      symbol_(AnsiCodePage(language)),
      meter_(AnsiCodePage(language)),
      modeTable_(SelectQrModeTable(kDefaultCellPitch, kDefaultLevel)) {
  // Until a text is drawn the panel gets an empty screen, never a stale raster.
  picture_ = DrawQrPicture(symbol_, 0);
}

QrPage::~QrPage() {
  // Only a file of our own: kuvlcd and the program may share the temporary folder.
  if (wroteImage_ && tempFolderHandle_) tempFolderHandle_->Remove(kQrImageFileName);
}

void QrPage::Start() {
  const int slot = table_.selectedDrive;
  if (table_.driveCount != 0 && slot >= 0 && slot < kSlotCount) {
    LoadFromDrive(table_.driveRecords[static_cast<std::size_t>(slot)].driveNumber);
    return;
  }
  ApplySettings(kDefaultCellPitch, kDefaultLevel);
  Regenerate();
}

void QrPage::LoadFromDrive(std::int32_t driveNumber) {
  for (int slot = 0; slot < table_.driveCount && slot < kSlotCount; ++slot) {
    const DriveRecord& drive = table_.driveRecords[static_cast<std::size_t>(slot)];
    if (drive.driveNumber != driveNumber) continue;
    // Only whether the settings file was found decides; the slot's last load tells it, and its
    // contents are already in the slot.
    if (table_.lcdDataFound[static_cast<std::size_t>(slot)]) {
      const ScreenConfig& stored = table_.screenConfigs[static_cast<std::size_t>(slot)];
      qrInput_ = ApplyQrInputRules(FieldView(stored.qrText), japaneseUi_);
      ApplySettings(stored.cellPitch, stored.eccValue);
    } else {
      qrInput_.clear();
      ApplySettings(kDefaultCellPitch, kDefaultLevel);
    }
    Regenerate();
  }
}

void QrPage::EnablePage(bool enable) {
  if (!enable) qrInput_.clear();
  enabled_ = enable;
}

bool QrPage::TextChanged(std::u16string_view text) {
  std::u16string kept = ApplyQrInputRules(text, japaneseUi_);
  const bool rewritten = kept != text;
  qrInput_ = std::move(kept);
  Regenerate();
  return rewritten;
}

void QrPage::SelectCellSize(int index) {
  // The larger cells carry less, so each cell size comes with the level that suits it.
  ApplySettings(CellPitchOfIndex(index), index == 1 ? 3 : 1);
  Regenerate();
}

void QrPage::SelectLevel(int index) {
  ApplySettings(CellPitchOfIndex(cellSizeIndex_), index);
  Regenerate();
}

void QrPage::ApplySettings(int cellPitch, int eccValue) {
  cellSizeIndex_ = cellPitch == 2 ? 0 : 1;
  levelIndex_ = eccValue < 0 ? 0 : eccValue > 3 ? 3 : eccValue;
  const int pitch = CellPitchOfIndex(cellSizeIndex_);
  for (QrSymbol* symbol : {&symbol_, &meter_}) {
    symbol->SetDotsPerModule(pitch);
    symbol->SetLevel(levelIndex_);
  }
  modeTable_ = SelectQrModeTable(pitch, levelIndex_);
}

bool QrPage::Regenerate() {
  symbol_.SetText(qrInput_);
  if (table_.driveCount != 0) {
    SetField(table_.workingConfig.qrText, std::u16string_view(qrInput_));
    table_.workingConfig.cellPitch = symbol_.DotsPerModule();
    table_.workingConfig.eccValue = levelIndex_;
  }
  if (symbol_.Text() != qrInput_) {
    messageLine_ = std::u16string(String(kQrInvalidMessage, language_));
    messageIsError_ = true;
    return true;
  }
  const int extent = QrExtent(symbol_.Width(), symbol_.DotsPerModule());
  if (extent > kQrScreenDots) {
    messageLine_ = std::u16string(String(kQrTooLongMessage, language_));
    messageIsError_ = true;
    return false;
  }
  picture_ = DrawQrPicture(symbol_, kQrScreenDots / 2 - extent / 2);
  // The preview and the panel take the picture from memory; the file is for those who look.
  if (WriteImageFile()) wroteImage_ = true;
  messageLine_ = CountMessage();
  messageIsError_ = false;
  return true;
}

std::u16string QrPage::CountMessage() {
  const std::u16string_view format = String(kQrCountFormat, language_);
  if (japaneseUi_) {
    return FormatCounts(format,
                        {CharactersLeft(qrInput_, QrCountKind::kKanji, meter_, modeTable_)});
  }
  const int capital = CharactersLeft(qrInput_, QrCountKind::kCapital, meter_, modeTable_);
  const int small = CharactersLeft(qrInput_, QrCountKind::kSmall, meter_, modeTable_);
  return FormatCounts(format, {capital, small});
}

bool QrPage::ShowsLockedPicture() const {
  const int slot = table_.selectedDrive;
  if (table_.driveCount <= 0 || slot < 0 || slot >= kSlotCount) return false;
  return table_.driveRecords[static_cast<std::size_t>(slot)].connectionState == kBridgeLocked;
}

const Picture& QrPage::PreviewPicture() {
  if (!ShowsLockedPicture()) return picture_;
  if (!fonts_) {
    fonts_ = Fonts::Load(language_);
    lockedPicture_ = LockedBitmapPreview(*fonts_, language_);
  }
  return lockedPicture_;
}

bool QrPage::WriteImageFile() {
  if (!tempFolderHandle_) {
    int err = 0;
    // The temporary folder is shared: only a file of this user's is ever replaced or removed.
    tempFolderHandle_ = files_.OpenFolder(tempFolder_, "", FolderUse::kTemporary, false, err);
    if (!tempFolderHandle_) return false;
  }
  const std::vector<std::uint8_t> bytes = EncodeQrTempBmp(picture_);
  return ReplaceFile(*tempFolderHandle_, kQrImageFileName,
                     std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())) ==
         0;
}

void QrPage::LoadRaster(Raster& raster) {
  // Turned into the panel's scan order like every other screen, so the panel shows the code as
  // the preview does, with the black top row and left column at the same edges.
  if (std::optional<Raster> drawn = PanelRasterOfPicture(picture_)) raster = *drawn;
}

QrControlValues QrPage::ControlValues() {
  return {symbol_.Level(), symbol_.DotsPerModule(), symbol_.Text()};
}

}  // namespace kuv
