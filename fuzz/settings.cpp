// The readers of the files the program keeps between runs, each given text anyone
// could have written there. Input: a registry file, a zero byte, a settings file, a
// zero byte, then a layout file. Nothing read may crash, and what is read, written
// back and read again is what was read: a damaged file is tidied once, then stays.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/dock_layout.h"
#include "app/dock_layout_file.h"
#include "app/hotkey.h"
#include "app/menu_model.h"
#include "app/speedbar.h"
#include "app/stored_properties.h"
#include "app/window_placement.h"
#include "fuzz_support.h"
#include "platform/ini_file.h"
#include "platform/registry.h"

using namespace qb;

namespace {

bool SameKeys(const std::vector<TRegistryKeyData>& a, const std::vector<TRegistryKeyData>& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    if (a[k].Path != b[k].Path || a[k].Values.size() != b[k].Values.size()) return false;
    for (size_t v = 0; v < a[k].Values.size(); ++v)
      if (a[k].Values[v].Name != b[k].Values[v].Name || a[k].Values[v].Data != b[k].Values[v].Data)
        return false;
  }
  return true;
}

void Registry(std::string_view text) {
  const std::vector<TRegistryKeyData> keys = ParseRegistryText(text);
  for (const TRegistryKeyData& key : keys) QB_FUZZ_CHECK(!key.Path.empty());
  // Written whole, the file reads back as it was read, with no line left out.
  const std::string written = RegistryText(keys, "CurrentUser");
  size_t skipped = 1;
  QB_FUZZ_CHECK(SameKeys(ParseRegistryText(written, &skipped), keys));
  QB_FUZZ_CHECK(skipped == 0);
}

bool SameProperties(const TMainFormProperties& a, const TMainFormProperties& b) {
  return a.PreviousCabinet == b.PreviousCabinet && a.OpenDialogInitialDir == b.OpenDialogInitialDir &&
         a.PicDlgInitialDir == b.PicDlgInitialDir && a.CurrentDrawerChecked == b.CurrentDrawerChecked &&
         a.ViewItemsChecked == b.ViewItemsChecked && a.LSplitterVisible == b.LSplitterVisible &&
         a.RSplitterVisible == b.RSplitterVisible && a.BSplitterVisible == b.BSplitterVisible &&
         a.AutoSaveAtStart == b.AutoSaveAtStart && a.KeepInTray == b.KeepInTray &&
         a.GlobalHotkey == b.GlobalHotkey;
}

void Settings(const TIniFile& ini) {
  TIniFile again;
  again.LoadFromText(ini.ToText());
  QB_FUZZ_CHECK(again.ToText() == ini.ToText());

  // The main window's properties and each window's placement survive a save.
  TMainFormProperties props;
  std::string zip_name;
  ReadStoredProperties(ini, props, zip_name);
  TIniFile saved;
  WriteStoredProperties(saved, props, zip_name);
  for (TFormClass form : kAllFormClasses) {
    const std::optional<TWindowPlacement> placement = ReadPlacement(ini, FormSectionName(form));
    if (!placement) continue;
    QB_FUZZ_CHECK(placement->Width() > 0 && placement->Height() > 0);
    WritePlacement(saved, FormSectionName(form), *placement);
  }
  TIniFile reread;
  reread.LoadFromText(saved.ToText());
  TMainFormProperties props_again;
  std::string zip_name_again;
  ReadStoredProperties(reread, props_again, zip_name_again);
  QB_FUZZ_CHECK(SameProperties(props_again, props) && zip_name_again == zip_name);
  for (TFormClass form : kAllFormClasses)
    QB_FUZZ_CHECK(ReadPlacement(reread, FormSectionName(form)) == ReadPlacement(ini, FormSectionName(form)));

  // A hotkey understood reads back from its own spelling.
  const THotkeySetting hotkey = ParseHotkeySetting(props.GlobalHotkey);
  if (hotkey.Key) {
    QB_FUZZ_CHECK(hotkey.Problem.empty());
    const THotkeySetting respelled = ParseHotkeySetting(hotkey.Key->Text);
    QB_FUZZ_CHECK(respelled.Key && *respelled.Key == *hotkey.Key && respelled.Key->Text == hotkey.Key->Text);
  }

  // The tool bar: every button a speed item, none twice, and the same bar after a
  // save.
  TSpeedBar bar;
  bar.RestoreLayout(ini);
  std::vector<int> buttons = bar.Buttons();
  QB_FUZZ_CHECK(!buttons.empty());
  for (int item : buttons) QB_FUZZ_CHECK(item >= 0 && static_cast<size_t>(item) < SpeedItems().size());
  std::sort(buttons.begin(), buttons.end());
  QB_FUZZ_CHECK(std::adjacent_find(buttons.begin(), buttons.end()) == buttons.end());
  TIniFile bar_file;
  bar.SaveLayout(bar_file, kDefaultPixelsPerInch);
  TSpeedBar bar_again;
  bar_again.RestoreLayout(bar_file);
  QB_FUZZ_CHECK(bar_again.Buttons() == bar.Buttons() && bar_again.Align() == bar.Align());
}

constexpr std::pair<TPane, TFormClass> kPaneForms[] = {{TPane::Explorer, TFormClass::DockableForm},
                                                       {TPane::Viewer, TFormClass::ViewerForm},
                                                       {TPane::Note, TFormClass::NoteForm}};

// The layout as the window builds it at start: first-run places, the panes'
// floating placements from the settings file, then the layout file.
TDockLayout RestoredLayout(std::string_view text, const TIniFile& settings) {
  TDockLayout layout;
  layout.SetClientSize(600, 450);
  layout.ApplyFirstRun();
  for (const auto& [pane, form] : kPaneForms)
    if (const std::optional<TWindowPlacement> p = ReadPlacement(settings, FormSectionName(form)))
      layout.RestorePanePlacement(pane, {p->Left, p->Top, p->Right, p->Bottom});
  RestoreLayoutText(layout, text, ReadHostPlacement(settings, dock_names::kTabHostSection),
                    ReadHostPlacement(settings, dock_names::kConjoinHostSection));
  return layout;
}

// Every pane sits in one place, and that place holds it once.
void CheckPanesPlaced(const TDockLayout& layout) {
  for (TPane pane : {TPane::Explorer, TPane::Viewer, TPane::Note}) {
    int found = 0;
    for (TDockPanel panel : {TDockPanel::Left, TDockPanel::Right, TDockPanel::Bottom}) {
      QB_FUZZ_CHECK(layout.Panel(panel).Size >= 0);
      found += static_cast<int>(std::count(layout.Panel(panel).Clients.begin(),
                                           layout.Panel(panel).Clients.end(), TDockClient::Of(pane)));
    }
    if (const auto& tabs = layout.TabHost())
      found += static_cast<int>(std::count(tabs->Pages.begin(), tabs->Pages.end(), pane));
    if (const auto& conjoin = layout.ConjoinHost())
      for (const TConjoinClient& client : conjoin->Clients) found += client.Pane == pane;
    QB_FUZZ_CHECK(found == (layout.Pane(pane).Place == TPlaceKind::Floating ? 0 : 1));
  }
  if (layout.TabHost()) QB_FUZZ_CHECK(layout.TabHost()->Pages.size() >= 2);
  if (layout.ConjoinHost()) QB_FUZZ_CHECK(layout.ConjoinHost()->Clients.size() >= 2);
}

void Layout(std::string_view text, const TIniFile& settings) {
  const TDockLayout layout = RestoredLayout(text, settings);
  CheckPanesPlaced(layout);
  // Saved at closing and read at the next start, the layout stays as it is.
  const std::string saved = LayoutFileText(layout);
  TIniFile next_settings;
  next_settings.LoadFromText(settings.ToText());
  WriteHostPlacements(layout, next_settings);
  // A floating pane's placement is saved where it floats; a docked one keeps its own.
  for (const auto& [pane, form] : kPaneForms) {
    const TPaneState& state = layout.Pane(pane);
    if (state.Place != TPlaceKind::Floating) continue;
    TWindowPlacement placement;
    placement.Left = state.Bounds.Left;
    placement.Top = state.Bounds.Top;
    placement.Right = state.Bounds.Right;
    placement.Bottom = state.Bounds.Bottom;
    WritePlacement(next_settings, FormSectionName(form), placement);
  }
  const TDockLayout next = RestoredLayout(saved, next_settings);
  CheckPanesPlaced(next);
  QB_FUZZ_CHECK(LayoutFileText(next) == saved);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qbfuzz::Input input(data, size);
  Registry(input.Until(0));
  TIniFile settings;
  settings.LoadFromText(input.Until(0));
  Settings(settings);
  Layout(input.Text(size), settings);
  return 0;
}
