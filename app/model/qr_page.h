#pragma once
// The QR code page without its widgets: the text with its 800-character limit, the cell size and
// error-correction level, the message line, the picture and its temporary file, and the two
// steps the update flow and the settings writer take from the page.

#include <cstdint>
#include <memory>
#include <string>

#include "app/compose/fonts.h"
#include "app/compose/qr_capacity.h"
#include "app/compose/qr_picture.h"
#include "app/compose/qr_symbol.h"
#include "app/model/ports.h"
#include "app/model/user_folders.h"
#include "common/drive_table.h"
#include "common/strings.h"

namespace kuv {

inline constexpr std::size_t kQrInputLimit = 800;
inline constexpr int kQrTooLongMessage = 102;
inline constexpr int kQrCountFormat = 103;
inline constexpr int kQrInvalidMessage = 124;

// The text as the page keeps it: cut to 800 units and, outside a Japanese user interface,
// full-width characters and half-width katakana (but not CR, LF) replaced by "?".
std::u16string ApplyQrInputRules(std::u16string_view text, bool japaneseUi);

class QrPage : public QrPageStep {
 public:
  // tempFolder ends with "/"; QrImageTmp.bmp is written there. table and files must outlive
  // the page.
  QrPage(DriveTable& table, VolumeFiles& files, Language language, std::string tempFolder);
  // Deletes QrImageTmp.bmp when this page wrote it.
  ~QrPage() override;
  QrPage(const QrPage&) = delete;
  QrPage& operator=(const QrPage&) = delete;

  // The page's start: the selected drive's settings (or the defaults without drives), then
  // Regenerate.
  void Start();
  // Settings and text of the drive with that number: from its stored configuration when its
  // LCD_DATA.TXT opens, the defaults otherwise.
  void LoadFromDrive(std::int32_t driveNumber);
  // Disabling first empties the text.
  void EnablePage(bool enable);

  // The edit box changed to text. True when the page rewrote it (limit or "?"); the widget then
  // shows qrInput() with the caret at CaretAfterRewrite().
  bool TextChanged(std::u16string_view text);
  // 0 "4Dot/Cell" (selects "Middle(15%)"), 1 "1Dot/Cell" (selects "Max(30%)").
  void SelectCellSize(int index);
  // 0 "Low(7%)" to 3 "Max(30%)".
  void SelectLevel(int index);
  // Encodes qrInput, redraws the picture and sets the message line; false only when the text is
  // too long for the screen.
  bool Regenerate();

  const std::u16string& qrInput() const { return qrInput_; }
  int cellSizeIndex() const { return cellSizeIndex_; }
  int levelIndex() const { return levelIndex_; }
  const std::u16string& messageLine() const { return messageLine_; }
  // The message line shows message 102 or 124, drawn red.
  bool messageIsError() const { return messageIsError_; }
  bool enabled() const { return enabled_; }
  bool japaneseUi() const { return japaneseUi_; }
  const QrModeTable& modeTable() const { return modeTable_; }
  const std::string& qrImagePath() const { return qrImagePath_; }
  // The last picture drawn, as QrImageTmp.bmp holds it.
  const Picture& picture() const { return picture_; }
  // The selected drive is a locked encrypted disk: the preview shows the locked-drive picture.
  bool ShowsLockedPicture() const;
  // What the preview shows: the locked-drive picture, the same as the bitmap page's, for a locked
  // disk, otherwise picture().
  const Picture& PreviewPicture();
  // Where the caret goes after a cut: after the last character kept.
  std::size_t CaretAfterRewrite() const { return qrInput_.size(); }

  // The picture as the panel takes it, turned into its scan order.
  void LoadRaster(Raster& raster) override;
  QrControlValues ControlValues() override;

 private:
  void ApplySettings(int cellPitch, int eccValue);
  // Replaces QrImageTmp.bmp with the picture; false when it could not be written.
  bool WriteImageFile();
  std::u16string CountMessage();

  DriveTable& table_;
  VolumeFiles& files_;
  Language language_;
  bool japaneseUi_;
  std::string tempFolder_;
  std::string qrImagePath_;
  // Opened at the first picture written.
  std::unique_ptr<OwnFolder> tempFolderHandle_;
  QrSymbol symbol_;  // draws the picture
  QrSymbol meter_;   // measures the characters left
  std::u16string qrInput_;
  int cellSizeIndex_ = 0;
  int levelIndex_ = 1;
  QrModeTable modeTable_;
  std::u16string messageLine_;
  bool messageIsError_ = false;
  bool enabled_ = true;
  Picture picture_;
  bool wroteImage_ = false;
  std::unique_ptr<Fonts> fonts_;  // loaded for the first locked drive shown
  Picture lockedPicture_;
};

}  // namespace kuv
