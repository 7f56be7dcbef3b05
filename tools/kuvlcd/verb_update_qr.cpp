// kuvlcd update --qr TEXT: types the text into the QR page of the drive, as the program would
// after selecting it, and runs Update LCD on that tab: the code goes to the panel, the text to
// QR_DATA.TXT and the cell pitch and level to LCD_DATA.TXT.

#include <cstdio>

#include "app/model/headless_session.h"
#include "app/model/lcd_data_file.h"
#include "app/model/qr_data_file.h"
#include "app/model/qr_page.h"
#include "common/utf16.h"
#include "tools/kuvlcd/qr_update.h"

namespace kuv::cli {
namespace {

constexpr int kQrTab = 2;

// A line break typed in the page's edit box is CR LF; a shell gives LF alone.
std::u16string EditBoxText(const std::string& utf8) {
  std::u16string text;
  for (char16_t c : Utf8ToUtf16(utf8)) {
    if (c == u'\n' && (text.empty() || text.back() != u'\r')) text += u'\r';
    text += c;
  }
  return text;
}

// What the page's input rules did to the text typed, for a warning; empty when they kept it.
std::string QrTextChange(std::u16string_view typed, std::u16string_view kept) {
  std::string change;
  if (kept.size() < typed.size()) {
    change = "the text was cut to its first " + std::to_string(kept.size()) + " characters";
  }
  if (kept != typed.substr(0, kept.size())) {
    change +=
        std::string(change.empty() ? "" : "; ") + "characters the code does not take became '?'";
  }
  return change;
}

}  // namespace

OptionGroup QrOptionGroup() {
  return {"QR code",
          {{"qr", "TEXT", "show TEXT as a QR code, kept on the drive in QR_DATA.TXT"},
           {"cell-pitch", "1|2", "dots per module; 1 also picks the highest correction level"},
           {"ecc", "0..3", "error correction: 0 Low(7%), 1 Middle(15%), 2 High(25%), 3 Max(30%)"}}};
}

QrOptions ParseQrOptions(const Args& args) {
  QrOptions options;
  options.text = args.GetOr("qr", "");
  if (args.Has("cell-pitch"))
    options.cellPitch = static_cast<int>(IntInRange(args, "cell-pitch", 2, 1, 2));
  if (args.Has("ecc")) options.level = static_cast<int>(IntInRange(args, "ecc", 1, 0, 3));
  return options;
}

int RunQrUpdate(const QrOptions& options, HeadlessSession& session, int slot) {
  LcdModel& model = session.model;
  const DriveRecord drive = model.table.driveRecords[static_cast<std::size_t>(slot)];
  const std::int32_t driveNumber = drive.driveNumber;
  // As the window's QR page: the profile a recorder's disk keeps its settings in has no place for
  // the code, so the next start would find the drive set to a page it may not use.
  if (IsVideoRecorderDisk(drive.fileSystemType)) {
    std::fprintf(stderr,
                 "kuvlcd update: drive %d is a video recorder's disk, which cannot show a QR "
                 "code\n",
                 driveNumber);
    return 1;
  }

  // The start's scan has just read this drive's settings.
  model.SelectDrive(slot, false);
  QrPage page(model.table, session.files, SystemLanguage(), TemporaryFolder());
  model.AttachQrPage(&page);
  page.LoadFromDrive(driveNumber);
  // The cell size chooses its level first, as the radio buttons do; --ecc then overrides it.
  if (options.cellPitch) page.SelectCellSize(*options.cellPitch == 2 ? 0 : 1);
  if (options.level) page.SelectLevel(*options.level);
  const std::u16string typed = EditBoxText(options.text);
  if (page.TextChanged(typed)) Warn("--qr: " + QrTextChange(typed, page.qrInput()));
  if (page.messageIsError()) {
    std::fprintf(stderr, "kuvlcd update: %s\n", Utf16ToUtf8(page.messageLine()).c_str());
    model.AttachQrPage(nullptr);
    return 1;
  }
  model.table.currentTab = kQrTab;
  const SaveOutcome outcome = model.UpdateLcd();
  model.AttachQrPage(nullptr);
  if (session.hooks.ReportPanelNotUpdated(outcome)) return 1;

  std::printf("drive %d: QR code sent (%s)\n", driveNumber,
              Utf16ToUtf8(page.messageLine()).c_str());
  const std::optional<std::string> folder = DriveFolderPath(drive);
  if (outcome.saved && folder) {
    std::printf("settings saved in %s and %s\n", JoinPath(*folder, kLcdDataFileName).c_str(),
                kQrDataFileName);
  } else {
    std::fprintf(stderr, "kuvlcd update: the settings could not be saved on the drive\n");
    return 1;
  }
  return 0;
}

}  // namespace kuv::cli
