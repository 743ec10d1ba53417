#include "app/stored_properties.h"

namespace qb {

void ReadStoredProperties(const TIniFile& ini, TMainFormProperties& props, std::string& zip_name) {
  using namespace stored_keys;
  zip_name = ini.ReadString(kSection, kZipName, "");
  props.PreviousCabinet = ini.ReadString(kSection, kPreviousCabinet, props.PreviousCabinet);
  props.OpenDialogInitialDir = ini.ReadString(kSection, kOpenDialogInitialDir, props.OpenDialogInitialDir);
  props.PicDlgInitialDir = ini.ReadString(kSection, kPicDlgInitialDir, props.PicDlgInitialDir);
  props.CurrentDrawerChecked = ini.ReadBool(kSection, kCurrentDrawer, props.CurrentDrawerChecked);
  props.ViewItemsChecked = ini.ReadBool(kSection, kViewItems, props.ViewItemsChecked);
  props.LSplitterVisible = ini.ReadBool(kSection, kLSplitterVisible, props.LSplitterVisible);
  props.RSplitterVisible = ini.ReadBool(kSection, kRSplitterVisible, props.RSplitterVisible);
  props.BSplitterVisible = ini.ReadBool(kSection, kBSplitterVisible, props.BSplitterVisible);
  props.AutoSaveAtStart = ini.ReadBool(kSection, kAutoSaveAtStart, props.AutoSaveAtStart);
  props.KeepInTray = ini.ReadBool(kSection, kKeepInTray, props.KeepInTray);
  props.GlobalHotkey = ini.ReadString(kSection, kGlobalHotkey, props.GlobalHotkey);
}

void WriteStoredProperties(TIniFile& ini, const TMainFormProperties& props, const std::string& zip_name) {
  using namespace stored_keys;
  ini.WriteString(kSection, kZipName, zip_name);
  ini.WriteString(kSection, kPreviousCabinet, props.PreviousCabinet);
  ini.WriteString(kSection, kOpenDialogInitialDir, props.OpenDialogInitialDir);
  ini.WriteString(kSection, kPicDlgInitialDir, props.PicDlgInitialDir);
  ini.WriteBool(kSection, kCurrentDrawer, props.CurrentDrawerChecked);
  ini.WriteBool(kSection, kViewItems, props.ViewItemsChecked);
  ini.WriteBool(kSection, kLSplitterVisible, props.LSplitterVisible);
  ini.WriteBool(kSection, kRSplitterVisible, props.RSplitterVisible);
  ini.WriteBool(kSection, kBSplitterVisible, props.BSplitterVisible);
  ini.WriteBool(kSection, kAutoSaveAtStart, props.AutoSaveAtStart);
  ini.WriteBool(kSection, kKeepInTray, props.KeepInTray);
  ini.WriteString(kSection, kGlobalHotkey, props.GlobalHotkey);
}

}  // namespace qb
