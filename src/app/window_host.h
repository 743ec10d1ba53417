// TMainWindowHost: what TMainForm's start-up and shut-down (FormShow, FormClose)
// ask of the windowing layer - placements, the tool bar, the docking layout - and
// the docking layout of a first run.
#pragma once

#include <optional>
#include <string>

#include "app/window_placement.h"
#include "platform/ini_file.h"

namespace qb {

// --- the docking layout of a first run -------------------------------------------------

enum class TDockSite { Floating, Left, Right, Bottom };
struct TPaneLayout {
  TDockSite Site = TDockSite::Floating;
  bool Visible = false;
};
// No layout file: the explorer docked left and shown, the note pane docked at the
// bottom and shown, the viewer hidden. Each dock opens its panel to a third of the
// main window's client width (left) or height (bottom).
struct TFirstRunLayout {
  TPaneLayout Explorer{TDockSite::Left, true};
  TPaneLayout Note{TDockSite::Bottom, true};
  TPaneLayout Viewer{TDockSite::Floating, false};
  int PanelDivisor = 3;
};

// --- the windowing layer's part ----------------------------------------------------------

// What start-up and shut-down ask of the windowing layer and of the parts that
// come later. Every member has a default that does nothing, so a program (or a
// test) implements only what it has. Errors thrown here are shown in an error box
// and the sequence goes on with its next step.
class TMainWindowHost {
 public:
  virtual ~TMainWindowHost() = default;
  // The window's current placement, to be saved; nothing keeps the stored one.
  virtual std::optional<TWindowPlacement> GetPlacement(TFormClass /*form*/) { return std::nullopt; }
  // Called only with a placement read back from the settings file.
  virtual void SetPlacement(TFormClass /*form*/, const TWindowPlacement& /*placement*/) {}
  virtual void RestoreToolbar(const TIniFile& /*settings*/) {}
  virtual void SaveToolbar(TIniFile& /*settings*/) {}
  // Restores the docking layout from the layout file; false when there is none
  // (then ApplyFirstRunLayout follows).
  virtual bool RestoreLayout(const std::string& /*layout_file*/) { return false; }
  virtual void ApplyFirstRunLayout(const TFirstRunLayout& /*layout*/) {}
  virtual void SaveLayout(const std::string& /*layout_file*/) {}
};

}  // namespace qb
