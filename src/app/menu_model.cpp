#include "app/menu_model.h"

#include "app/main_form.h"

namespace qb {

namespace {

TMenuEntry Item(std::string name, std::string caption, std::string shortcut, int image, TCommand command,
                bool check = false, int tag = 0) {
  return TMenuEntry{std::move(name), std::move(caption), std::move(shortcut), image, command, check, tag, {}};
}
TMenuEntry Separator() {
  return TMenuEntry{};
}
TMenuEntry Languages(std::string name, std::string caption, int image, TCommand command) {
  TMenuEntry e = Item(std::move(name), std::move(caption), "", image, command);
  e.SubMenu = "Languages";
  return e;
}

}  // namespace

const std::vector<TTopMenu>& MainMenu() {
  static const std::vector<TTopMenu> menu = {
      {"FileMi",
       "&File",
       "",
       {Item("OpenMi", "&Open File Cabinet", "Ctrl+O", 0, TCommand::OpenMiClick),
        Item("NewMi", "&New File Cabinet", "Ctrl+N", 17, TCommand::NewMiClick),
        Item("ReOpenMi", "&Re-Open", "", -1, TCommand::None), Separator(),
        Item("ExitMi", "E&xit", "Alt+F4", 1, TCommand::ExitMiClick)}},
      {"EditMi",
       "&Edit",
       "EditMiClick",
       {Item("AddNoteMi", "&Add Note To Selected Item", "", 5, TCommand::AddNoteMiClick),
        Item("ChangeGlyphMi", "&Change Selected Glyph", "", 18, TCommand::ChangeGlyphMiClick),
        Item("RenameMi", "&Rename Selected Item", "", 14, TCommand::RenameMiClick),
        Languages("EditTextItemMi", "Edit Selected Text &Item As", 21, TCommand::EditTextItemMiClick),
        Item("CopyMi", "C&opy To Another File Cabinet", "", 32, TCommand::CopyMiClick, false, 0),
        Item("MoveMi", "Move To Another &File Cabinet", "", 33, TCommand::CopyMiClick, false, 1), Separator(),
        Item("AddNewItemMi", "Add New &Text Item", "Ctrl+A", 20, TCommand::AddNewItemMiClick),
        Item("NewDrawMi", "Add New Dra&wer", "", 25, TCommand::NewDrawMiClick),
        Item("AddUserGlyphsMi", "Add To &User Glyphs", "", 26, TCommand::AddUserGlyphsMiClick), Separator(),
        Item("RemoveUserGlyphsMi", "Delete User &Glyphs", "", 27, TCommand::RemoveUserGlyphsMiClick),
        Item("DeleteMi", "&Delete Selected Item", "", 3, TCommand::DeleteMiClick),
        Item("DeleteNoteMi", "Delete Selected &Note", "", 4, TCommand::DeleteNoteMiClick), Separator(),
        Item("ModToolbarMi", "&Modify Toolbar", "", 8, TCommand::ModToolbarMiClick)}},
      {"ClipboardMi",
       "&Clipboard",
       "ClipboardMiClick",
       {Item("SaveToFCMi", "&Save To File Cabinet", "Ctrl+S", 2, TCommand::SaveToFCMiClick),
        Item("CurrentDrawerMi", "Save Items To &Current Drawer", "", 30, TCommand::CurrentDrawerMiClick,
             true),
        Item("LoadSelectedMi", "&Load Selected Item To Clipboard", "", 13, TCommand::LoadSelectedMiClick),
        Item("ViewItemsMi", "&View File Cabinet Items", "Shift+Ctrl+V", 15, TCommand::ViewItemsMiClick, true),
        Languages("EditClipboardMi", "&Edit Clipboard As", 22, TCommand::EditClipboardMiClick), Separator(),
        Item("AutoSaveMi", "&Auto Save", "", 16, TCommand::AutoSaveMiClick, true),
        Item("AutoLoad1", "Aut&o Load", "", 31, TCommand::AutoLoad1Click, true)}},
      {"ViewMi",
       "&View",
       "ViewMiClick",
       {Item("ToolbarMi", "&Toolbar", "", 10, TCommand::ToolbarMiClick, true),
        Item("LegendMi", "&Legend...", "", 12, TCommand::LegendMiClick),
        Item("ExplorerMi", "&Explorer", "", 11, TCommand::ExplorerMiClick, true),
        Item("NoteMi", "&Note", "", 9, TCommand::NoteMiClick, true),
        Item("ViewerMi", "&Viewer", "", 29, TCommand::ViewerMiClick, true), Separator(),
        Item("DisplayAllMi", "&Display All Explorer's Entries", "", 23, TCommand::DisplayAllMiClick),
        Item("CollapseAllMi", "&Collapse All Explorer's Entries", "", 24, TCommand::CollapseAllMiClick)}},
      {"HelpMi",
       "&Help",
       "",
       {Item("HelpManualMi", "Help &Manual", "F1", 6, TCommand::HelpManualMiClick),
        Item("HelpOnHelpMi", "Help &On Help", "", 7, TCommand::HelpOnHelpMiClick),
        Item("AboutMi", "&About", "", 28, TCommand::AboutMiClick),
        Item("HowToMi", "How To...", "", 19, TCommand::HowToMiClick)}},
  };
  return menu;
}

std::vector<TMenuEntry> LanguageItems(TCommand command, bool popup) {
  const bool clipboard = command == TCommand::EditClipboardMiClick;
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
    items.push_back(Item(l.name, caption, "", -1, command, false, tag));
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
       "Open existing\r\nFile Cabinet|Open an existing File Cabinet", 0, true, TCommand::OpenMiClick},
      {"CreateFCMi", "File", "Create New File Cabinet",
       "Create a new\r\nFile Cabinet|Creat a new File Cabinet", 17, true, TCommand::NewMiClick},
      {"ExitSi", "File", "Exit", "Exit|Close the application", 1, false, TCommand::ExitMiClick},
      {"AddNoteSi", "Edit", "Add Note To Selected Item",
       "Add note to selected item|Add a note to the selected item", 5, true, TCommand::AddNoteMiClick},
      {"ChangeGlyphSi", "Edit", "Change Selected Glyph", "Change selected glyph|Change the selected glyph",
       18, false, TCommand::ChangeGlyphMiClick},
      {"RenameSi", "Edit", "Rename Selected Item", "Rename selected item|Rename the selected item", 14, true,
       TCommand::RenameMiClick},
      {"EditSelectedTextSi", "Edit", "Edit Selected Text Item As",
       "Edit selected text item|Edit a stored text item", 21, false, TCommand::PopupMenu1},
      {"CopySi", "Edit", "Copy To Another File Cabinet", "Copy|", 32, false, TCommand::CopyMiClick},
      {"MoveSi", "Edit", "Move To Another File Cabinet", "Move To Another File Cabinet|", 33, false,
       TCommand::CopyMiClick, 1},
      {"AddTextItemSi", "Edit", "Add New Text Item",
       "Add new text item|Add a new text item directly to the File Cabinet", 20, false,
       TCommand::AddNewItemMiClick},
      {"NewDrawerSi", "Edit", "Add New Drawer", "Add new drawer|Add a new drawer to the File Cabinet", 25,
       false, TCommand::NewDrawMiClick},
      {"AddUserGlypSi", "Edit", "Add To User Glyphs", "Add to user glyphs|Add to available user glyphs", 26,
       false, TCommand::AddUserGlyphsMiClick},
      {"DelUserGlyph", "Edit", "Delete User Glyphs",
       "Delete user glyphs|Delete glyphs from the available user defined glyphs", 27, false,
       TCommand::RemoveUserGlyphsMiClick},
      {"DeleteItemSi", "Edit", "Delete Selected Item", "Delete selected item|Delete selected item", 3, false,
       TCommand::DeleteMiClick},
      {"DeleteNoteSi", "Edit", "Delete Selected Note", "Delete selected note|", 4, false,
       TCommand::DeleteNoteMiClick},
      {"ModifyTBMi", "Edit", "Modify Toolbar", "Modify toolbar|Modify the toolbar", 8, true,
       TCommand::ModToolbarMiClick},
      {"SaveToFCSi", "Clipboard", "Save To File Cabinet",
       "Save to File Cabinet|Save clipboard to file cabinet", 2, true, TCommand::SaveToFCMiClick},
      {"LoadToCBSi", "Clipboard", "Load Selected Item To Clipboard",
       "Load selected item to clipboard|Load the selected item to clipboard", 13, false,
       TCommand::LoadSelectedMiClick},
      {"ViewFCSi", "Clipboard", "View File Cabinet Items",
       "View File Cabinet items|Show the item clicked in the explorer in the viewer", 15, false,
       TCommand::ViewItemsMiClick},
      {"EditClipboardSi", "Clipboard", "Edit Clipboard As", "Edit clipboard|Edit the clipboard", 22, false,
       TCommand::PopupMenu2},
      {"AutoSaveSi", "Clipboard", "AutoSave",
       "AutoSave|Automatically save new clipboard items to the File Cabinet", 16, true,
       TCommand::AutoSaveMiClick},
      {"AutoLoadSi", "Clipboard", "AutoLoad", "AutoLoad|", 31, false, TCommand::AutoLoad1Click},
      {"CurrentDrawerSi", "Clipboard", "Save To Current Drawer", "Save To Current Drawer|", 30, false,
       TCommand::CurrentDrawerMiClick},
      {"HideTBSi", "View", "Hide Toolbar", "Hide toolbar|Hide the toolbar", 10, true,
       TCommand::ToolbarMiClick},
      {"ViewLegendSi", "View", "View Legend", "View legend|View legend, displaying default glyphs", 12, true,
       TCommand::LegendMiClick},
      {"ViewExpSi", "View", "View Explorer", "View explorer|View explorer panel", 11, true,
       TCommand::ExplorerMiClick},
      {"ViewNoteSi", "View", "View Note", "View note|View note for selected item", 9, true,
       TCommand::NoteMiClick},
      {"SpeedItem1", "View", "Viewer", "Viewer|", 29, false, TCommand::ViewerMiClick},
      {"DisplayAllSi", "View", "Display All Explorers Entries",
       "Display all\r\nexplorers entries|Display all the entries within the File Cabinet explorer", 23, false,
       TCommand::DisplayAllMiClick},
      {"CollapseAllSi", "View", "Collapse All Explorers Entries",
       "Collapse all\r\nexplorers entries|Collapse all the visible entries within the File Cabinet explorer",
       24, false, TCommand::CollapseAllMiClick},
      {"HelpSi", "Help", "Help Manual", "Helpl|Fetch help manual for Quiverbox", 6, true,
       TCommand::HelpManualMiClick},
      {"HelpOnHelpSi", "Help", "Help On Help", "Help on help|How to use this help manual", 7, false,
       TCommand::HelpOnHelpMiClick},
      {"AboutSi", "Help", "About", "About|Display information about Quiverbox and Tarnock Software", 28,
       false, TCommand::AboutMiClick},
      {"HowToSi", "Help", "How To...", "How To...|", 19, false, TCommand::HowToMiClick},
  };
  return items;
}

bool RunHandler(TMainForm& form, TCommand command, int tag) {
  switch (command) {
    case TCommand::OpenMiClick:
      form.OpenMiClick();
      return true;
    case TCommand::NewMiClick:
      form.NewMiClick();
      return true;
    case TCommand::AddNoteMiClick:
      form.AddNoteMiClick();
      return true;
    case TCommand::DeleteNoteMiClick:
      form.DeleteNoteMiClick();
      return true;
    case TCommand::RenameMiClick:
      form.RenameMiClick();
      return true;
    case TCommand::DeleteMiClick:
      form.DeleteMiClick();
      return true;
    case TCommand::ChangeGlyphMiClick:
      form.ChangeGlyphMiClick();
      return true;
    case TCommand::AddNewItemMiClick:
      form.AddNewItemMiClick();
      return true;
    case TCommand::EditTextItemMiClick:
      form.EditTextItemMiClick(tag);
      return true;
    case TCommand::NewDrawMiClick:
      form.NewDrawMiClick();
      return true;
    case TCommand::LegendMiClick:
      form.LegendMiClick();
      return true;
    case TCommand::DisplayAllMiClick:
      form.DisplayAllMiClick();
      return true;
    case TCommand::CollapseAllMiClick:
      form.CollapseAllMiClick();
      return true;
    case TCommand::SaveToFCMiClick:
      form.SaveToFCMiClick();
      return true;
    case TCommand::AutoSaveMiClick:
      form.AutoSaveMiClick();
      return true;
    case TCommand::ViewItemsMiClick:
      form.ViewItemsMiClick();
      return true;
    case TCommand::AutoLoad1Click:
      form.AutoLoad1Click();
      return true;
    case TCommand::CurrentDrawerMiClick:
      form.CurrentDrawerMiClick();
      return true;
    case TCommand::LoadSelectedMiClick:
      form.LoadSelectedMiClick();
      return true;
    case TCommand::EditClipboardMiClick:
      form.EditClipboardMiClick(tag);
      return true;
    case TCommand::AddUserGlyphsMiClick:
      form.AddUserGlyphsMiClick();
      return true;
    case TCommand::RemoveUserGlyphsMiClick:
      form.RemoveUserGlyphsMiClick();
      return true;
    case TCommand::CopyMiClick:
      form.CopyMiClick(tag);
      return true;
    // The window's own.
    case TCommand::None:
    case TCommand::ExitMiClick:
    case TCommand::ModToolbarMiClick:
    case TCommand::ToolbarMiClick:
    case TCommand::ExplorerMiClick:
    case TCommand::NoteMiClick:
    case TCommand::ViewerMiClick:
    case TCommand::HelpManualMiClick:
    case TCommand::HelpOnHelpMiClick:
    case TCommand::AboutMiClick:
    case TCommand::HowToMiClick:
    case TCommand::PopupMenu1:
    case TCommand::PopupMenu2:
      return false;
  }
  return false;
}

}  // namespace qb
