// TSpeedBar: the main window's tool bar (SpeedBar1) as data, without widgets.
//
// The bar shows some of the speed items of SpeedItems() (menu_model.h) as buttons,
// in a row from the left, at the top or the bottom of the window. The model knows
// which items are on the bar and in which order, where the bar sits, and how that
// layout is written to and read from the settings file. The Qt tool bar draws it
// and forwards the user's drags to Insert and Remove; the customisation window
// lists the items of a section (ItemsOfSection) and drags from there.
//
// Stored layout. The settings file's section "TMainFormSpeedBar1" is erased and
// written as
//   Position=<1 top, 2 bottom>  Width=<bar height>  Version=<kVersion>
//   PixelsPerInch=<screen>  BtnWidth=24  BtnHeight=23
//   Button1=<item name>,<left>,<top>  ...  ButtonN=...  Count=<N>
// with one "Button" key per button, left to right, at the pixel position the
// button has in a bar of 24 x 23 buttons offset 3 pixels from the bar's edge.
//
// Reading it back (RestoreLayout) never fails and never loses the user's choice:
// - an older Version than kVersion is not read at all (the design layout stays);
// - a Position that is not top or bottom puts the bar at the top;
// - the buttons are the stored names that match an item, ordered by their stored
//   left (then top) positions; an unreadable position counts as where that item is
//   on the bar now (else at the bar's start). Unknown names and repeats are skipped.
//   When no stored name matches an item (a layout of another version), the design
//   layout stays rather than an empty bar;
// - the membership and order of the buttons do not depend on the screen: a layout
//   saved at another PixelsPerInch restores them all the same (the pixel positions
//   themselves are never applied; the bar lays its buttons out in a row);
// - a Count that is missing, not a number or not above 0 keeps the current layout;
//   at most kMaxStoredButtons keys are read.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/menu_model.h"
#include "platform/ini_file.h"

namespace qb {

namespace speedbar {
inline constexpr std::string_view kSection = "TMainFormSpeedBar1";
inline constexpr std::string_view kPosition = "Position";
inline constexpr std::string_view kWidth = "Width";
inline constexpr std::string_view kVersion = "Version";
inline constexpr std::string_view kPixelsPerInch = "PixelsPerInch";
inline constexpr std::string_view kBtnWidth = "BtnWidth";
inline constexpr std::string_view kBtnHeight = "BtnHeight";
inline constexpr std::string_view kButton = "Button";  // Button1, Button2, ...
inline constexpr std::string_view kCount = "Count";

// The layout version this program writes; a stored layout of a lower one is not read.
inline constexpr int kLayoutVersion = 1;
inline constexpr int kButtonWidth = 24, kButtonHeight = 23;
inline constexpr int kOffsetX = 3, kOffsetY = 3;
// The bar's height at the top or bottom: a button and its offsets.
inline constexpr int kBarHeight = kButtonHeight + 2 * kOffsetY;
// More "Button" keys than this are not read (the bar has only SpeedItems() to show).
inline constexpr int kMaxStoredButtons = 1000;
// The help context of the bar and its customisation window.
inline constexpr int kHelpContext = 38;

// The customisation window.
inline constexpr const char* kSetupCaption = "Customize Speedbar";
inline constexpr const char* kCategoriesLabel = "&Categories:";
inline constexpr const char* kButtonsLabel = "&Available buttons:";
inline constexpr const char* kSetupText =
    "To add command buttons, drag and drop buttons onto the SpeedBar. To remove command buttons, drag them "
    "off of the SpeedBar.";
inline constexpr const char* kCloseCaption = "&Close";
}  // namespace speedbar

// Where the bar sits; the numbers are those of the "Position" key.
enum class TSpeedBarAlign { Top = 1, Bottom = 2, Left = 3, Right = 4 };

// The section captions, in order: "File", "Edit", "Clipboard", "View", "Help".
const std::vector<std::string>& SpeedbarSections();
// The indexes into SpeedItems() of a section's items, in design order; empty for
// a caption that is no section.
std::vector<int> ItemsOfSection(std::string_view section);
// The index into SpeedItems() of the item of that name, or -1.
int FindSpeedItem(std::string_view name);
// The items on the bar at first, left to right (indexes into SpeedItems()).
const std::vector<int>& DesignButtons();

// A button's position in the stored layout.
struct TButtonPosition {
  int Left = 0;
  int Top = 0;
};

class TSpeedBar {
 public:
  // The design layout: the items shown at first, at the top.
  TSpeedBar();

  TSpeedBarAlign Align() const { return align_; }
  // SpeedBar1ApplyAlign: the bar may sit at the top or the bottom, never at a side.
  static bool ApplyAlign(TSpeedBarAlign align);
  // Moves the bar; false (and no move) when ApplyAlign refuses.
  bool SetAlign(TSpeedBarAlign align);

  // The items on the bar, left to right, as indexes into SpeedItems().
  const std::vector<int>& Buttons() const { return buttons_; }
  bool OnBar(int item) const;
  // Puts item on the bar before the button now at index (at the end when index
  // is beyond the last); an item already on the bar moves there. False when
  // nothing changed or item is no speed item.
  bool Insert(int item, size_t index);
  // Takes item off the bar; false when it was not on it.
  bool Remove(int item);
  // Back to the items shown at first, in their order (the alignment stays).
  void ResetToDesign();

  // Where the button at index sits on the bar, in pixels from the bar's corner.
  static TButtonPosition ButtonPosition(size_t index);

  // SaveTBLayoutClick: erases the section and writes the layout (see above).
  // bar_height is the drawn bar's height, written as "Width".
  void SaveLayout(TIniFile& ini, int pixels_per_inch, int bar_height = speedbar::kBarHeight) const;
  // RestoreTBLayoutClick: reads the layout back (see above). The stored
  // PixelsPerInch plays no part: only pixel positions would depend on it.
  void RestoreLayout(const TIniFile& ini);

  // Called after every change of the buttons or the alignment; may be empty.
  std::function<void()> OnChange;

 private:
  void Changed();

  TSpeedBarAlign align_ = TSpeedBarAlign::Top;
  std::vector<int> buttons_;
};

}  // namespace qb
