#include "app/menu_model.h"

#include <functional>
#include <map>

#include "app/main_form.h"

namespace qb {

namespace {

TMenuEntry Item(std::string name, std::string caption, std::string shortcut, int image, std::string handler,
                bool check = false, int tag = 0) {
  return TMenuEntry{
      std::move(name), std::move(caption), std::move(shortcut), image, std::move(handler), check, tag, {}};
}
TMenuEntry Separator() {
  return TMenuEntry{};
}
TMenuEntry Languages(std::string name, std::string caption, int image, std::string handler) {
  TMenuEntry e = Item(std::move(name), std::move(caption), "", image, std::move(handler));
  e.SubMenu = "Languages";
  return e;
}

}  // namespace

const std::vector<TTopMenu>& MainMenu() {
  static const std::vector<TTopMenu> menu = {
      {"FileMi",
       "&File",
       "",
       {Item("OpenMi", "&Open File Cabinet", "Ctrl+O", 0, "OpenMiClick"),
        Item("NewMi", "&New File Cabinet", "Ctrl+N", 17, "NewMiClick"),
        Item("ReOpenMi", "&Re-Open", "", -1, ""), Separator(),
        Item("ExitMi", "E&xit", "Alt+F4", 1, "ExitMiClick")}},
      {"EditMi",
       "&Edit",
       "EditMiClick",
       {Item("AddNoteMi", "&Add Note To Selected Item", "", 5, "AddNoteMiClick"),
        Item("ChangeGlyphMi", "&Change Selected Glyph", "", 18, "ChangeGlyphMiClick"),
        Item("RenameMi", "&Rename Selected Item", "", 14, "RenameMiClick"),
        Languages("EditTextItemMi", "Edit Selected Text &Item As", 21, "EditTextItemMiClick"),
        Item("CopyMi", "C&opy To Another File Cabinet", "", 32, "CopyMiClick", false, 0),
        Item("MoveMi", "Move To Another &File Cabinet", "", 33, "CopyMiClick", false, 1), Separator(),
        Item("AddNewItemMi", "Add New &Text Item", "Ctrl+A", 20, "AddNewItemMiClick"),
        Item("NewDrawMi", "Add New Dra&wer", "", 25, "NewDrawMiClick"),
        Item("AddUserGlyphsMi", "Add To &User Glyphs", "", 26, "AddUserGlyphsMiClick"), Separator(),
        Item("RemoveUserGlyphsMi", "Delete User &Glyphs", "", 27, "RemoveUserGlyphsMiClick"),
        Item("DeleteMi", "&Delete Selected Item", "", 3, "DeleteMiClick"),
        Item("DeleteNoteMi", "Delete Selected &Note", "", 4, "DeleteNoteMiClick"), Separator(),
        Item("ModToolbarMi", "&Modify Toolbar", "", 8, "ModToolbarMiClick")}},
      {"ClipboardMi",
       "&Clipboard",
       "ClipboardMiClick",
       {Item("SaveToFCMi", "&Save To File Cabinet", "Ctrl+S", 2, "SaveToFCMiClick"),
        Item("CurrentDrawerMi", "Save Items To &Current Drawer", "", 30, "CurrentDrawerMiClick", true),
        Item("LoadSelectedMi", "&Load Selected Item To Clipboard", "", 13, "LoadSelectedMiClick"),
        Item("ViewItemsMi", "&View File Cabinet Items", "Shift+Ctrl+V", 15, "ViewItemsMiClick", true),
        Languages("EditClipboardMi", "&Edit Clipboard As", 22, "EditClipboardMiClick"), Separator(),
        Item("AutoSaveMi", "&Auto Save", "", 16, "AutoSaveMiClick", true),
        Item("AutoLoad1", "Aut&o Load", "", 31, "AutoLoad1Click", true)}},
      {"ViewMi",
       "&View",
       "ViewMiClick",
       {Item("ToolbarMi", "&Toolbar", "", 10, "ToolbarMiClick", true),
        Item("LegendMi", "&Legend...", "", 12, "LegendMiClick"),
        Item("ExplorerMi", "&Explorer", "", 11, "ExplorerMiClick", true),
        Item("NoteMi", "&Note", "", 9, "NoteMiClick", true),
        Item("ViewerMi", "&Viewer", "", 29, "ViewerMiClick", true), Separator(),
        Item("DisplayAllMi", "&Display All Explorer's Entries", "", 23, "DisplayAllMiClick"),
        Item("CollapseAllMi", "&Collapse All Explorer's Entries", "", 24, "CollapseAllMiClick")}},
      {"HelpMi",
       "&Help",
       "",
       {Item("HelpManualMi", "Help &Manual", "F1", 6, "HelpManualMiClick"),
        Item("HelpOnHelpMi", "Help &On Help", "", 7, "HelpOnHelpMiClick"),
        Item("AboutMi", "&About", "", 28, "AboutMiClick"),
        Item("HowToMi", "How To...", "", 19, "HowToMiClick")}},
  };
  return menu;
}

std::vector<TMenuEntry> LanguageItems(std::string_view handler, bool clipboard, bool popup) {
  struct Language {
    const char* name;
    const char* caption;
    const char* clipboard_caption;
    int tag;
  };
  static const Language kLanguages[] = {
      {"PlainText", "Plain &Text", "&Plain Text", 0},
      {"CBuilder", "&CBuilder   (C++)", nullptr, 2},
      {"HTML", "&HTML", nullptr, 7},
      {"INI", "I&NI", "&INI", 9},
      {"Java", "&Java", nullptr, 5},
      {"Delphi", "&Delphi   (Pascal)", "&Delphi  (Pascal)", 1},
      {"Perl", "&Perl", nullptr, 8},
      {"Python", "P&ython", nullptr, 4},
      {"SQL", "&SQL", nullptr, 3},
      {"VisualBasic", "&Visual Basic", nullptr, 6},
  };
  std::vector<TMenuEntry> items;
  for (const Language& l : kLanguages) {
    std::string caption = clipboard && l.clipboard_caption ? l.clipboard_caption : l.caption;
    int tag = popup && (l.tag == 5 || l.tag == 8) ? 0 : l.tag;
    items.push_back(Item(l.name, caption, "", -1, std::string(handler), false, tag));
  }
  return items;
}

std::string TSpeedItem::ShortHint() const {
  return Hint.substr(0, Hint.find('|'));
}
std::string TSpeedItem::LongHint() const {
  size_t bar = Hint.find('|');
  return bar == std::string::npos ? Hint : Hint.substr(bar + 1);
}

const std::vector<TSpeedItem>& SpeedItems() {
  static const std::vector<TSpeedItem> items = {
      {"OpenSi", "File", "Open Existing File Cabinet",
       "Open existing\r\nFile Cabinet|Open an existing File Cabinet", 0, true, "OpenMiClick"},
      {"CreateFCMi", "File", "Create New File Cabinet",
       "Create a new\r\nFile Cabinet|Creat a new File Cabinet", 17, true, "NewMiClick"},
      {"ExitSi", "File", "Exit", "Exit|Close the application", 1, false, "ExitMiClick"},
      {"AddNoteSi", "Edit", "Add Note To Selected Item",
       "Add note to selected item|Add a note to the selected item", 5, true, "AddNoteMiClick"},
      {"ChangeGlyphSi", "Edit", "Change Selected Glyph", "Change selected glyph|Change the selected glyph",
       18, false, "ChangeGlyphMiClick"},
      {"RenameSi", "Edit", "Rename Selected Item", "Rename selected item|Rename the selected item", 14, true,
       "RenameMiClick"},
      {"EditSelectedTextSi", "Edit", "Edit Selected Text Item As",
       "Edit selected text item|Edit a stored text item", 21, false, "PopupMenu1"},
      {"CopySi", "Edit", "Copy To Another File Cabinet", "Copy|", 32, false, "CopyMiClick"},
      {"MoveSi", "Edit", "Move To Another File Cabinet", "Move To Another File Cabinet|", 33, false,
       "CopyMiClick"},
      {"AddTextItemSi", "Edit", "Add New Text Item",
       "Add new text item|Add a new text item directly to the File Cabinet", 20, false, "AddNewItemMiClick"},
      {"NewDrawerSi", "Edit", "Add New Drawer", "Add new drawer|Add a new drawer to the File Cabinet", 25,
       false, "NewDrawMiClick"},
      {"AddUserGlypSi", "Edit", "Add To User Glyphs", "Add to user glyphs|Add to available user glyphs", 26,
       false, "AddUserGlyphsMiClick"},
      {"DelUserGlyph", "Edit", "Delete User Glyphs",
       "Delete user glyphs|Delete glyphs from the available user defined glyphs", 27, false, ""},
      {"DeleteItemSi", "Edit", "Delete Selected Item", "Delete selected item|Delete selected item", 3, false,
       "DeleteMiClick"},
      {"DeleteNoteSi", "Edit", "Delete Selected Note", "Delete selected note|", 4, false,
       "DeleteNoteMiClick"},
      {"ModifyTBMi", "Edit", "Modify Toolbar", "Modify toolbar|Modify the toolbar", 8, true,
       "ModToolbarMiClick"},
      {"SaveToFCSi", "Clipboard", "Save To File Cabinet",
       "Save to File Cabinet|Save clipboard to file cabinet", 2, true, "SaveToFCMiClick"},
      {"LoadToCBSi", "Clipboard", "Load Selected Item To Clipboard",
       "Load selected item to clipboard|Load the selected item to clipboard", 13, false,
       "LoadSelectedMiClick"},
      {"ViewFCSi", "Clipboard", "View File Cabinet Items",
       "View File Cabinet items|View File Cabinet items (switches AutoSave OFF)", 15, false,
       "ViewItemsMiClick"},
      {"EditClipboardSi", "Clipboard", "Edit Clipboard As", "Edit clipboard|Edit the clipboard", 22, false,
       "PopupMenu2"},
      {"AutoSaveSi", "Clipboard", "AutoSave",
       "AutoSave|Automatically save new clipboard items to the File Cabinet (Switches OFF View File Cabinet)",
       16, true, "AutoSaveMiClick"},
      {"AutoLoadSi", "Clipboard", "AutoLoad", "AutoLoad|", 31, false, "AutoLoad1Click"},
      {"CurrentDrawerSi", "Clipboard", "Save To Current Drawer", "Save To Current Drawer|", 30, false,
       "CurrentDrawerMiClick"},
      {"HideTBSi", "View", "Hide Toolbar", "Hide toolbar|Hide the toolbar", 10, true, "ToolbarMiClick"},
      {"ViewLegendSi", "View", "View Legend", "View legend|View legend, displaying default glyphs", 12, true,
       "LegendMiClick"},
      {"ViewExpSi", "View", "View Explorer", "View explorer|View explorer panel", 11, true,
       "ExplorerMiClick"},
      {"ViewNoteSi", "View", "View Note", "View note|View note for selected item", 9, true, "NoteMiClick"},
      {"SpeedItem1", "View", "Viewer", "Viewer|", 29, false, "ViewerMiClick"},
      {"DisplayAllSi", "View", "Display All Explorers Entries",
       "Display all\r\nexplorers entries|Display all the entries within the File Cabinet explorer", 23, false,
       "DisplayAllMiClick"},
      {"CollapseAllSi", "View", "Collapse All Explorers Entries",
       "Collapse all\r\nexplorers entries|Collapse all the visible entries within the File Cabinet explorer",
       24, false, "CollapseAllMiClick"},
      {"HelpSi", "Help", "Help Manual", "Helpl|Fetch help manual for Quiverbox", 6, true,
       "HelpManualMiClick"},
      {"HelpOnHelpSi", "Help", "Help On Help", "Help on help|How to use Microsoft's help system", 7, false,
       "HelpOnHelpMiClick"},
      {"AboutSi", "Help", "About", "About|Display information about Quiverbox and Tarnock Software", 28,
       false, "AboutMiClick"},
      {"HowToSi", "Help", "How To...", "How To...|", 19, false, "HowToMiClick"},
  };
  return items;
}

bool HandlerAvailable(std::string_view handler) {
  // Copying between cabinets, user glyphs and the tool bar editor come later.
  return handler != "CopyMiClick" && handler != "AddUserGlyphsMiClick" &&
         handler != "RemoveUserGlyphsMiClick" && handler != "ModToolbarMiClick";
}

bool RunHandler(TMainForm& form, std::string_view handler, int tag) {
  using Command = std::function<void(TMainForm&, int)>;
  static const std::map<std::string, Command, std::less<>> kCommands = {
      {"OpenMiClick", [](TMainForm& f, int) { f.OpenMiClick(); }},
      {"NewMiClick", [](TMainForm& f, int) { f.NewMiClick(); }},
      {"AddNoteMiClick", [](TMainForm& f, int) { f.AddNoteMiClick(); }},
      {"DeleteNoteMiClick", [](TMainForm& f, int) { f.DeleteNoteMiClick(); }},
      {"RenameMiClick", [](TMainForm& f, int) { f.RenameMiClick(); }},
      {"DeleteMiClick", [](TMainForm& f, int) { f.DeleteMiClick(); }},
      {"ChangeGlyphMiClick", [](TMainForm& f, int) { f.ChangeGlyphMiClick(); }},
      {"AddNewItemMiClick", [](TMainForm& f, int) { f.AddNewItemMiClick(); }},
      {"EditTextItemMiClick", [](TMainForm& f, int t) { f.EditTextItemMiClick(t); }},
      {"NewDrawMiClick", [](TMainForm& f, int) { f.NewDrawMiClick(); }},
      {"LegendMiClick", [](TMainForm& f, int) { f.LegendMiClick(); }},
      {"DisplayAllMiClick", [](TMainForm& f, int) { f.DisplayAllMiClick(); }},
      {"CollapseAllMiClick", [](TMainForm& f, int) { f.CollapseAllMiClick(); }},
      {"SaveToFCMiClick", [](TMainForm& f, int) { f.SaveToFCMiClick(); }},
      {"AutoSaveMiClick", [](TMainForm& f, int) { f.AutoSaveMiClick(); }},
      {"ViewItemsMiClick", [](TMainForm& f, int) { f.ViewItemsMiClick(); }},
      {"AutoLoad1Click", [](TMainForm& f, int) { f.AutoLoad1Click(); }},
      {"CurrentDrawerMiClick", [](TMainForm& f, int) { f.CurrentDrawerMiClick(); }},
      {"LoadSelectedMiClick", [](TMainForm& f, int) { f.LoadSelectedMiClick(); }},
      {"EditClipboardMiClick", [](TMainForm& f, int t) { f.EditClipboardMiClick(t); }},
  };
  auto it = kCommands.find(handler);
  if (it == kCommands.end()) return false;
  it->second(form, tag);
  return true;
}

}  // namespace qb
