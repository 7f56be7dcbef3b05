#pragma once
// The rules of the main window: its start-up order, the drive list, what a selection or a tab
// change does, and which of Update LCD and the pages are usable. The Qt window shows this state
// and forwards its events here; it decides nothing itself.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/model/bitmap_page.h"
#include "app/model/lcd_model.h"
#include "app/model/list_rows.h"
#include "app/model/qr_page.h"
#include "app/model/service_status.h"
#include "app/model/smart_page.h"
#include "app/model/text_page_model.h"
#include "common/strings.h"

namespace kuv {

inline constexpr int kTabText = 0;
inline constexpr int kTabBitmap = 1;
inline constexpr int kTabQr = 2;
inline constexpr int kTabSmart = 3;
inline constexpr int kTabCount = 4;

// Usable or not: Update LCD and the four pages.
struct PageStates {
  bool updateEnabled = false;
  bool textPageEnabled = false;
  bool bitmapPageEnabled = false;
  bool qrPageEnabled = false;
  bool smartPageEnabled = false;
  bool bitmapSettingsEnabled = true;  // the bitmap page's area and rotation controls
};

enum class InitOutcome { kRunning, kServiceUnreachable, kPagesFailed };

// What only the window can do: message boxes, the system's restart, the panel wait timers.
class WindowView {
 public:
  virtual ~WindowView() = default;
  // The model changed: re-read rows, selection, tab, page states and preview.
  virtual void ShowState() {}
  virtual void StartPanelWait() {}
  virtual bool AskRestart() { return false; }
  virtual void EndProgram() {}
  virtual void RequestRestart() {}
  virtual void ShowError(const std::u16string& message) { (void)message; }
  // A scan report was applied: the S.M.A.R.T. page and the temperature check follow it.
  virtual void AfterScanReport() {}
};

// An Update LCD that the window confirms with a brief "panel updated": the picture reached the
// panel and the settings were stored. A failure has a notice of its own, which this one must not
// cover or contradict.
bool ConfirmsPanelUpdate(const SaveOutcome& outcome);

// The confirmation's text.
std::u16string PanelUpdatedText(Language language);

class MainWindowModel : public ShellHooks {
 public:
  explicit MainWindowModel(Language language) : language_(language) {}

  // The model and the text page the window works on; both outlive this object.
  void Attach(LcdModel& model, TextPageModel& textPage);
  void SetView(WindowView* view) { view_ = view; }
  // The bitmap page, once it exists; it follows the selection and the tab.
  void AttachBitmapPage(BitmapPage* page) { bitmap_ = page; }
  void AttachQrPage(QrPage* page) { qr_ = page; }
  void AttachSmartPage(SmartPage* page) { smart_ = page; }
  // The pages that exist are the first count tabs; a drive whose data type selects a later tab
  // shows the text page instead.
  void SetAvailableTabs(int count) { availableTabs_ = count; }

  // The window's initialisation: clock, first scan, pages (createPages makes them and answers
  // whether it could), list with the selection of row 0, start-up refresh of every panel,
  // settings, and the tab of the selected drive.
  InitOutcome Initialise(const std::function<bool()>& createPages);

  // The list's row gained the selection: its drive's settings are read and shown.
  void SelectRow(int row);
  // The tab control's selection changed.
  void ChangeTab(int tab);
  // The Update LCD button.
  void UpdateLcdClicked();
  // Files dropped on the window: each goes to the bitmap page in turn, the last one wins.
  void DropFiles(const std::vector<std::string>& paths);
  // The "Enable on startup" box: the service writes or removes the autostart entry. The box
  // keeps the state the user gave it even when the service cannot be reached.
  void AutostartClicked(bool checked);
  // The tray menu's entries, read afresh at each opening: "LCD Manager", "Help", "About LCD
  // Manager", "Exit".
  std::vector<std::u16string> TrayMenuTexts() const;

  // Hooks of the model.
  void RefreshPageState() override;
  void RedrawPreview() override;
  void TextPageChanged() override;
  void StartPanelWait() override;
  void FillList() override;
  void AfterScanReport() override;
  bool AskRestart() override;
  void EndProgram() override;
  void RequestRestart() override;
  void ReportError(int number, const std::string& systemText) override;

  // Row texts again for the rows there are, then the selection of selectedDrive.
  void RefreshRowTexts();

  // The last Update LCD, counted so the window notices each one, and whether it updated the
  // panel, which the window then says for a moment.
  struct UpdateReport {
    int count = 0;
    bool panelUpdated = false;
  };
  UpdateReport lastUpdate;

  std::vector<ListRow> rows;
  std::vector<std::u16string> rowTooltips;  // the full mount point of each row
  int selectedRow = -1;
  PageStates pages;
  bool autostartChecked = false;
  // What the window says about the panel service; the runtime tells it when the service goes
  // and comes back and when a minute has passed.
  ServiceStatus serviceStatus;

 private:
  void Changed();
  // Selects the row; reload reads its drive's settings first.
  void ShowRow(int row, bool reload);
  ListRow RowOf(const DriveRecord& drive) const;
  const DriveRecord* Selected() const;
  void TabOfDataType(std::int32_t lcdDataType);
  void ShowBitmapSettings();
  void ShowOnOtherPages(int row);
  void ShowSmartLineLists();

  Language language_;
  LcdModel* model_ = nullptr;
  TextPageModel* text_ = nullptr;
  BitmapPage* bitmap_ = nullptr;
  QrPage* qr_ = nullptr;
  SmartPage* smart_ = nullptr;
  WindowView* view_ = nullptr;
  int availableTabs_ = kTabCount;
};

}  // namespace kuv
