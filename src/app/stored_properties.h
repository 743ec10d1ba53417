// The main window's stored properties: the values the settings file keeps in the
// section TMainForm, each under the key made of the component name, "_" and the
// property name.
//
// The open cabinet itself (Zip1.ZipName) is the archive component's path and is
// read from it when the settings are saved.
#pragma once

#include <string>
#include <string_view>

#include "platform/ini_file.h"

namespace qb {

namespace stored_keys {
inline constexpr std::string_view kSection = "TMainForm";
inline constexpr std::string_view kZipName = "Zip1_ZipName";
inline constexpr std::string_view kPreviousCabinet = "LSplitter_Hint";
inline constexpr std::string_view kOpenDialogInitialDir = "OpenDialog1_InitialDir";
inline constexpr std::string_view kPicDlgInitialDir = "PicDlg_InitialDir";
inline constexpr std::string_view kCurrentDrawer = "CurrentDrawerMi_Checked";
inline constexpr std::string_view kViewItems = "ViewItemsMi_Checked";
inline constexpr std::string_view kLSplitterVisible = "LSplitter_Visible";
inline constexpr std::string_view kRSplitterVisible = "RSplitter_Visible";
inline constexpr std::string_view kBSplitterVisible = "BSplitter_Visible";
// The tray menu's switches and the global hotkey.
inline constexpr std::string_view kAutoSaveAtStart = "AutoSaveAtStartMi_Checked";
inline constexpr std::string_view kKeepInTray = "KeepInTrayMi_Checked";
inline constexpr std::string_view kGlobalHotkey = "GlobalHotkey_ShortCut";
}  // namespace stored_keys

struct TMainFormProperties {
  // LSplitter.Hint: the cabinet that was open before the last switch of cabinet.
  std::string PreviousCabinet;
  // OpenDialog1.InitialDir: the folder of the last cabinet opened or created.
  std::string OpenDialogInitialDir;
  // PicDlg.InitialDir: the last folder of the picture dialog.
  std::string PicDlgInitialDir;
  bool CurrentDrawerChecked = false;  // CurrentDrawerMi.Checked
  bool ViewItemsChecked = false;      // ViewItemsMi.Checked
  bool LSplitterVisible = false;
  bool RSplitterVisible = false;
  bool BSplitterVisible = false;
  // The tray menu's "Auto Save At Start": AutoSave is switched on at every start.
  bool AutoSaveAtStart = false;
  // The tray menu's "Keep In Tray When Closed": closing the window hides it.
  bool KeepInTray = false;
  // The global hotkey as the settings file spells it (hotkey.h reads it); empty
  // for none.
  std::string GlobalHotkey = "Ctrl+Shift+V";
};

// Reads the stored properties from the section TMainForm; a missing key keeps the
// value props already holds. zip_name receives Zip1.ZipName (empty when missing).
void ReadStoredProperties(const TIniFile& ini, TMainFormProperties& props, std::string& zip_name);
// Writes every stored property and Zip1.ZipName to the section TMainForm.
void WriteStoredProperties(TIniFile& ini, const TMainFormProperties& props, const std::string& zip_name);

}  // namespace qb
