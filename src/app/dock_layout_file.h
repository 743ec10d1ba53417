// The layout file: the docking arrangement kept between runs (quiverbox.dat in
// the config folder), and the host placements kept in the settings file.
//
// A text file of name=value lines, written fresh each time in this order:
//   LeftDockPanel.Width=<int>        LeftDockPanel.DockClients=<name>;<name>;...
//   RightDockPanel.Width=<int>       RightDockPanel.DockClients=...
//   BottomDockPanel.DockClients=<count>   BottomDockPanel.Height=<int>
//   Conjoin.Visible=1|0  Conjoin.Top  Conjoin.Width  Conjoin.Height  Conjoin.DockClients
//                                           (only while a side-by-side host exists)
//   Container.Visible ... Container.DockClients   (the same for the tab host)
//   Viewer.Visible=1|0  Note.Visible=1|0  Explorer.Visible=1|0
// Window names are "DockableForm", "ViewerForm", "NoteForm" and "TabDockHost". A
// host's left edge (and the rest of its placement) lives in the settings file,
// sections "TTabDockHost" and "TConjoinDockHost".
//
// Reading: a name's value is that of its first line (names compare without
// regard to letter case); a name list is the text before each ";" (text after the
// last one is ignored; names compare without regard to letter case; unknown names
// are skipped); a visibility shows the window when it is exactly "1".
//
// A damaged file never stops the start: a size that is missing or not a decimal
// number reads as the panel's opening size when the panel holds a visible pane,
// else 0; a pane named in two lists is docked where it is named first; a host
// left with fewer than two panes is dissolved; a pane no list names floats where
// the settings file put it, or, when it has no placement there, goes where a
// first run puts it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/dock_layout.h"
#include "platform/ini_file.h"

namespace qb {

namespace layout_keys {
inline constexpr std::string_view kLeftWidth = "LeftDockPanel.Width";
inline constexpr std::string_view kLeftClients = "LeftDockPanel.DockClients";
inline constexpr std::string_view kRightWidth = "RightDockPanel.Width";
inline constexpr std::string_view kRightClients = "RightDockPanel.DockClients";
inline constexpr std::string_view kBottomClients = "BottomDockPanel.DockClients";
inline constexpr std::string_view kBottomHeight = "BottomDockPanel.Height";
inline constexpr std::string_view kViewerVisible = "Viewer.Visible";
inline constexpr std::string_view kNoteVisible = "Note.Visible";
inline constexpr std::string_view kExplorerVisible = "Explorer.Visible";
}  // namespace layout_keys

// The text of the layout file for layout.
std::string LayoutFileText(const TDockLayout& layout);

// Rebuilds layout from the text of a layout file. layout holds the panes' floating
// placements restored from the settings file; tab_host and conjoin_host are the
// hosts' placements from there, if any.
void RestoreLayoutText(TDockLayout& layout, std::string_view text, std::optional<TDockRect> tab_host,
                       std::optional<TDockRect> conjoin_host);

// Writes the hosts' placements into settings (sections TTabDockHost and
// TConjoinDockHost; a section whose host does not exist is left alone).
void WriteHostPlacements(const TDockLayout& layout, TIniFile& settings);
std::optional<TDockRect> ReadHostPlacement(const TIniFile& settings, std::string_view section);

// Writes the layout file whole or not at all (WriteFileAtomically). Throws
// EFCreateError / EInOutError.
void WriteLayoutFile(const std::string& path, const TDockLayout& layout);
// Restores layout from the file at path; false (and layout untouched) when
// there is no such file or it cannot be read.
bool ReadLayoutFile(const std::string& path, TDockLayout& layout, const TIniFile& settings);

}  // namespace qb
