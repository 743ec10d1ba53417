// The tray icon's menu as data: the newest items of the open cabinet (choosing
// one loads it onto the clipboard), the switches "Auto Save", "Auto Save At Start"
// and "Keep In Tray When Closed", then Show and Exit. The window draws the entries
// each time the menu opens and hands the chosen one back to TMainForm::TrayCommand.
//
// The newest items are those the History lists first: newest by the date stored
// with each entry, items of one date in the cabinet's order. They come from what
// the program already holds: the search's index of the cabinet when it is in step
// with the file, else the cabinet's loaded directory (a few kilobytes of each of
// the ten read for its preview). While a command runs, the open cabinet's reader is
// the command's: a reader of their own reads the directory then. Encrypted or
// damaged items are listed by name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

namespace zip {
class TZipReader;
}
namespace finder {
class TCabinetIndex;
}

namespace tray_menu {
inline constexpr int kNewestCount = 10;
// The longest preview an item's entry shows, in characters.
inline constexpr size_t kCaptionChars = 48;
inline constexpr std::string_view kNoCabinet = "No File Cabinet is open";
inline constexpr std::string_view kNoItems = "The File Cabinet holds no items";
inline constexpr std::string_view kAutoSave = "&Auto Save";
inline constexpr std::string_view kAutoSaveAtStart = "Auto Save At &Start";
inline constexpr std::string_view kKeepInTray = "&Keep In Tray When Closed";
inline constexpr std::string_view kShow = "S&how Quiverbox";
inline constexpr std::string_view kExit = "E&xit";
}  // namespace tray_menu

enum class TTrayCommand {
  None,             // a separator, or an entry that only says something
  LoadItem,         // loads ItemPath onto the clipboard
  AutoSave,         // the Clipboard menu's Auto Save
  AutoSaveAtStart,  // the stored switch
  KeepInTray,       // the stored switch
  Show,             // the window's: shows it in front
  Exit,             // the window's: File > Exit
};

struct TTrayEntry {
  TTrayCommand Command = TTrayCommand::None;
  std::string Caption;   // empty for a separator
  std::string Hint;      // the item's path and date, for its tool tip
  std::string ItemPath;  // LoadItem: the entry's full name
  bool CheckItem = false;
  bool Checked = false;
  bool Enabled = true;
  bool IsSeparator() const { return Caption.empty(); }
};

// One of the newest items.
struct TRecentItem {
  std::string Path;  // the entry's full name
  uint32_t DosDateTime = 0;
  std::string Preview;  // one line (finder::ItemPreview); "Cannot be read: ..." when so
  bool Text = false;    // a text item: its preview is the start of its text
};

// The count newest items of the cabinet file, newest first, read by a reader of
// their own. Errors reading the cabinet's directory are thrown; an item that cannot
// be read is still listed.
std::vector<TRecentItem> NewestItems(const std::string& cabinet, int count);
// The same from zip's directory (read first when none is loaded), the previews
// read through zip; zip's message pump does not run meanwhile.
std::vector<TRecentItem> NewestItems(zip::TZipReader& zip, int count);
// The same from an index of the cabinet, with the previews it holds.
std::vector<TRecentItem> NewestItems(const finder::TCabinetIndex& index, int count);

// An item's entry in the menu: a text item's preview cut to kCaptionChars
// characters; other items' name with their preview ("Shot (Picture 640 x 480)");
// the name alone when the item cannot be read.
std::string TrayItemCaption(const TRecentItem& item);

}  // namespace qb
