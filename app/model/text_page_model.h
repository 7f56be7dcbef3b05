#pragma once
// The rules of the text settings page ("LCD Setting"): what each control shows, when it is
// usable, and what a change of it does to the working copy. The page's widgets show `view` and
// forward their events to the handlers; nothing else decides anything.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/compose/fonts.h"
#include "app/compose/line_items.h"
#include "app/compose/text_page.h"
#include "common/drive_table.h"
#include "common/picture_io.h"
#include "common/strings.h"

namespace kuv {

// The two forms of the page: five lines beside a bar, or four lines over a graph.
enum class LineForm { kBar = 0, kFourLine = 1 };

// The controls of one line: its item list, edit box and reverse box.
struct LineControls {
  std::vector<std::u16string> items;
  int selectedItem = -1;  // -1: no entry selected
  std::u16string text;    // what the edit box shows
  bool editEnabled = true;
  bool reverse = false;
  bool visible = true;  // list, edit, reverse box and the line's labels shown
  bool usable = true;   // list, edit and reverse box usable (line 5 of a turned bar screen)
};

struct TextPageView {
  std::array<LineControls, kLineCount> lines;
  bool controlsEnabled = true;  // lists, row labels, reverse boxes, rotation, status, preview group
  bool rowLabel5Visible = true;
  bool numberLabelsEnabled = true;  // the "1".."5" beside the preview
  bool reverseAll = false;
  std::vector<std::u16string> rotationItems;
  int rotationIndex = 0;
  bool rotatePreview = false;
  bool rotatePreviewEnabled = false;
  bool showHddStatus = false;
};

// Which of the preview's three tooltips a pointer position feeds.
inline constexpr int kPreviewTip = 1800;
inline constexpr int kGraphTip = 1801;
inline constexpr int kCapacityTip = 1802;

class TextPageModel {
 public:
  TextPageModel(DriveTable& table, Language language);

  // The page's creation: label texts, rotation and item lists, controls off when no drive.
  void Initialise();

  // A line's edit box changed (line 1 to 5): limit, store in the working copy, redraw.
  void LineEdited(int line, std::u16string_view text);
  // A line's list selection changed to position.
  void LineItemChosen(int line, int position);
  void ReverseAllClicked(bool checked);
  void LineReverseClicked(int line, bool checked);
  void RotatePreviewClicked(bool checked);
  void ShowHddStatusClicked(bool checked);
  void RotationChosen(int position);

  // Re-runs the five edit handlers (the byte limit may have changed) and redraws.
  void RefreshTextPage();
  void EnableLineControls(bool enable, LineForm form);
  // Shows the configuration of the drive with this number; the working copy holds it already.
  void LoadTextPage(std::int32_t driveNumber);

  // The tooltip for a pointer at (dx, dy) relative to the preview's top-left corner, of a
  // preview width pixels wide; 0 when the pointer is left of it or below it.
  int PreviewTooltip(int dx, int dy, int width, int height) const;

  // The 98x98 preview of the selected drive; nullopt while another tab is current. Drawn again
  // only when what it is drawn from changed.
  std::optional<Picture> Preview();
  // Draw the preview with these fonts (the panel renderer's) instead of loading a set of its own.
  void UseFonts(const Fonts& fonts) { fonts_ = &fonts; }

  // The attribute name that the S.M.A.R.T. pair of the line lists shows, when one is chosen.
  std::optional<std::u16string> smartAttribute;

  TextPageView view;
  TextPage page;    // what the renderer reads: line texts, capacity text, reverse, rotation
  int redraws = 0;  // incremented each time the preview is drawn

 private:
  const DriveRecord* SelectedDrive() const;
  LineItemSource SourceFor(const DriveRecord& drive) const;
  LineForm FormOf(const DriveRecord* drive) const;
  void AfterItemChange();

  // Everything the preview is drawn from.
  struct PreviewInputs {
    int currentTab = 0;
    int driveCount = 0;
    int selectedDrive = -1;
    DriveRecord drive{};
    ScreenConfig working{};
    TextPage page;
    bool operator==(const PreviewInputs& other) const;
  };
  PreviewInputs CurrentPreviewInputs() const;

  DriveTable& table_;
  Language language_;
  std::optional<PreviewInputs> previewInputs_;  // of the preview last drawn
  std::optional<Picture> preview_;
  const Fonts* fonts_ = nullptr;
  std::unique_ptr<Fonts> ownedFonts_;
};

// The preview's dot row that line (1 to 5) stands at: the middle of its text band, where the
// line's number beside the preview belongs.
int PreviewLineMiddle(int line);

// The rotation list's position of an angle in degrees (any other value selects 0), and back.
int RotationIndexOf(std::int32_t degrees);
std::int32_t RotationOfIndex(int index);

}  // namespace kuv
