// kuvlcd update --qr TEXT: types the text into the QR page of the drive, as the program would
// after selecting it, and runs Update LCD on that tab: the code goes to the panel, the text to
// QR_DATA.TXT and the cell pitch and level to LCD_DATA.TXT.

#include <cstdio>

#include "app/model/headless_session.h"
#include "app/model/lcd_data_file.h"
#include "app/model/qr_data_file.h"
#include "app/model/qr_page.h"
#include "common/service_client.h"
#include "common/utf16.h"
#include "tools/kuvlcd/qr_update.h"
#include "tools/kuvlcd/screen_options.h"

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

}  // namespace

int RunQrUpdate(const Args& args) {
  std::vector<std::string> known = QrUpdateOptionNames();
  for (const char* name : {"drive", "verbose"}) known.push_back(name);
  args.RejectUnknown(known);
  const auto driveNumber = args.GetInt("drive");
  if (!driveNumber) throw UsageError("--drive N is required");
  const std::string text = *args.Get("qr");
  const std::int64_t cellPitch = IntInRange(args, "cell-pitch", 2, 1, 2);
  const std::int64_t ecc = IntInRange(args, "ecc", 1, 0, 3);

  HeadlessSession session(args.Has("verbose"));
  if (session.Start() < 0) {
    std::fprintf(stderr, "kuvlcd update: the panel service cannot be reached at %s\n",
                 ServiceSocketPath().c_str());
    return 1;
  }
  LcdModel& model = session.model;
  const int slot = model.table.SlotOfDrive(static_cast<std::int32_t>(*driveNumber));
  if (slot < 0 || *driveNumber < 0) {
    std::fprintf(stderr, "kuvlcd update: drive %lld has no memory LCD\n",
                 static_cast<long long>(*driveNumber));
    return 1;
  }
  const DriveRecord drive = model.table.driveRecords[static_cast<std::size_t>(slot)];
  if (!IsVideoRecorderDisk(drive.fileSystemType) && drive.connectionState == kBridgeLocked) {
    std::fprintf(stderr, "kuvlcd update: drive %lld is a locked encrypted disk\n",
                 static_cast<long long>(*driveNumber));
    return 1;
  }
  if (drive.fileSystemType == kFsUnknown) {
    std::fprintf(stderr, "kuvlcd update: drive %lld has no file system the panel can show\n",
                 static_cast<long long>(*driveNumber));
    return 1;
  }
  // As the window's QR page: the profile a recorder's disk keeps its settings in has no place for
  // the code, so the next start would find the drive set to a page it may not use.
  if (IsVideoRecorderDisk(drive.fileSystemType)) {
    std::fprintf(stderr,
                 "kuvlcd update: drive %lld is a video recorder's disk, which cannot show a QR "
                 "code\n",
                 static_cast<long long>(*driveNumber));
    return 1;
  }

  // The start's scan has just read this drive's settings.
  model.SelectDrive(slot, false);
  QrPage page(model.table, session.files, SystemLanguage(), TemporaryFolder());
  model.AttachQrPage(&page);
  page.LoadFromDrive(static_cast<std::int32_t>(*driveNumber));
  // The cell size chooses its level first, as the radio buttons do; --ecc then overrides it.
  if (args.Has("cell-pitch")) page.SelectCellSize(cellPitch == 2 ? 0 : 1);
  if (args.Has("ecc")) page.SelectLevel(static_cast<int>(ecc));
  const std::u16string typed = EditBoxText(text);
  if (page.TextChanged(typed)) {
    std::fprintf(stderr, "kuvlcd update: the text was changed to fit the page: %s\n",
                 Utf16ToUtf8(page.qrInput()).c_str());
  }
  if (page.messageIsError()) {
    std::fprintf(stderr, "kuvlcd update: %s\n", Utf16ToUtf8(page.messageLine()).c_str());
    model.AttachQrPage(nullptr);
    return 1;
  }
  model.table.currentTab = kQrTab;
  const SaveOutcome outcome = model.UpdateLcd();
  model.AttachQrPage(nullptr);

  std::printf("drive %lld: QR code sent (%s)\n", static_cast<long long>(*driveNumber),
              Utf16ToUtf8(page.messageLine()).c_str());
  const std::optional<std::string> folder = DriveFolderPath(drive);
  if (outcome.saved && folder) {
    std::printf("settings saved in %s/%s and %s\n", folder->c_str(), kLcdDataFileName,
                kQrDataFileName);
  } else {
    std::fprintf(stderr, "kuvlcd update: the settings could not be saved on the drive\n");
    return 1;
  }
  return 0;
}

}  // namespace kuv::cli
