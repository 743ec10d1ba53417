#include "app/dock_layout_file.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "app/window_placement.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/paths.h"

namespace qb {

namespace fs = std::filesystem;

namespace {

using namespace layout_keys;

std::string_view PanelPrefix(TDockPanel panel) {
  switch (panel) {
    case TDockPanel::Left:
      return "LeftDockPanel";
    case TDockPanel::Right:
      return "RightDockPanel";
    case TDockPanel::Bottom:
      return "BottomDockPanel";
  }
  return {};
}

std::string_view VisibleKey(TPane pane) {
  switch (pane) {
    case TPane::Explorer:
      return kExplorerVisible;
    case TPane::Viewer:
      return kViewerVisible;
    case TPane::Note:
      return kNoteVisible;
  }
  return {};
}

const char* Flag(bool on) {
  return on ? "1" : "0";
}

// The name=value lines of a layout file; the first line of a name wins.
class TLayoutValues {
 public:
  explicit TLayoutValues(std::string_view text) {
    while (!text.empty()) {
      size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      const size_t eq = line.find('=');
      if (eq == std::string_view::npos) continue;
      lines_.emplace_back(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
    }
  }
  std::optional<std::string> Find(std::string_view name) const {
    for (const auto& [key, value] : lines_)
      if (codepage::SameTextAscii(key, name)) return value;
    return std::nullopt;
  }
  std::string Value(std::string_view name) const { return Find(name).value_or(""); }
  std::optional<int> Int(std::string_view name) const {
    const std::string text = Value(name);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
  }
  bool Visible(std::string_view name) const { return Value(name) == "1"; }

 private:
  std::vector<std::pair<std::string, std::string>> lines_;
};

// The names of a list: the text before each ";".
std::vector<std::string> SplitNames(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  for (size_t semi; (semi = list.find(';', start)) != std::string::npos; start = semi + 1)
    names.push_back(list.substr(start, semi - start));
  return names;
}

std::optional<TPane> PaneNamed(std::string_view name) {
  for (TPane pane : kAllPanes)
    if (codepage::SameTextAscii(name, PaneComponentName(pane))) return pane;
  return std::nullopt;
}

// A size read back: sizes beyond any screen are junk too.
std::optional<int> Size(const TLayoutValues& values, std::string_view name) {
  std::optional<int> size = values.Int(name);
  if (size && (*size < 0 || *size > kMaxCoordinate)) return std::nullopt;
  return size;
}

// A host's rectangle: the left edge from its placement, the rest from the file.
TDockRect HostBounds(const TLayoutValues& values, std::string_view group, std::optional<TDockRect> placement,
                     int design_width, int design_height) {
  const std::string prefix(group);
  const TDockRect base = placement ? *placement : TDockRect::FromSize(0, 0, design_width, design_height);
  const int top = values.Int(prefix + ".Top").value_or(base.Top);
  int width = values.Int(prefix + ".Width").value_or(base.Width());
  int height = values.Int(prefix + ".Height").value_or(base.Height());
  if (width <= 0 || width > kMaxCoordinate) width = design_width;
  if (height <= 0 || height > kMaxCoordinate) height = design_height;
  const int safe_top = top < -kMaxCoordinate || top > kMaxCoordinate ? base.Top : top;
  return TDockRect::FromSize(base.Left, safe_top, width, height);
}

}  // namespace

std::string LayoutFileText(const TDockLayout& layout) {
  std::ostringstream out;
  auto names = [&](const std::vector<TDockClient>& clients) {
    std::string list;
    for (const TDockClient& c : clients) {
      list += c.IsTabHost ? dock_names::kTabHostName : PaneComponentName(c.Pane);
      list += ';';
    }
    return list;
  };
  for (TDockPanel panel : {TDockPanel::Left, TDockPanel::Right}) {
    out << PanelPrefix(panel) << ".Width=" << layout.Panel(panel).Size << '\n';
    out << PanelPrefix(panel) << ".DockClients=" << names(layout.Panel(panel).Clients) << '\n';
  }
  const TDockPanelState& bottom = layout.Panel(TDockPanel::Bottom);
  out << kBottomClients << '=' << bottom.Clients.size() << '\n';
  out << kBottomHeight << '=' << bottom.Size << '\n';
  auto host = [&](std::string_view group, bool visible, TDockRect bounds, const std::string& clients) {
    out << group << ".Visible=" << Flag(visible) << '\n';
    out << group << ".Top=" << bounds.Top << '\n';
    out << group << ".Width=" << bounds.Width() << '\n';
    out << group << ".Height=" << bounds.Height() << '\n';
    out << group << ".DockClients=" << clients << '\n';
  };
  if (const auto& conjoin = layout.ConjoinHost()) {
    std::string clients;
    for (const TConjoinClient& c : conjoin->Clients) clients += std::string(PaneComponentName(c.Pane)) + ";";
    host("Conjoin", conjoin->Visible, conjoin->Bounds, clients);
  }
  if (const auto& tab = layout.TabHost()) {
    std::string clients;
    for (TPane page : tab->Pages) clients += std::string(PaneComponentName(page)) + ";";
    host("Container", tab->Visible, tab->Bounds, clients);
  }
  for (TPane pane : {TPane::Viewer, TPane::Note, TPane::Explorer})
    out << VisibleKey(pane) << '=' << Flag(layout.Pane(pane).Visible) << '\n';
  return out.str();
}

void RestoreLayoutText(TDockLayout& layout, std::string_view text, std::optional<TDockRect> tab_host,
                       std::optional<TDockRect> conjoin_host) {
  const TLayoutValues values(text);
  layout.Clear();
  std::optional<TDockPanel> tab_host_panel;
  size_t tab_host_at = 0;  // its place among the panel's clients, as listed
  bool mentioned[3] = {false, false, false};
  auto visible = [&](TPane pane) { return values.Visible(VisibleKey(pane)); };
  // A pane named a second time stays where it was named first.
  auto claim = [&](TPane pane) {
    if (mentioned[static_cast<size_t>(pane)]) return false;
    mentioned[static_cast<size_t>(pane)] = true;
    return true;
  };

  // 1.-3. The side panels.
  for (TDockPanel panel : {TDockPanel::Left, TDockPanel::Right}) {
    const std::string prefix(PanelPrefix(panel));
    for (const std::string& name : SplitNames(values.Value(prefix + ".DockClients"))) {
      if (codepage::SameTextAscii(name, dock_names::kTabHostName)) {
        if (!tab_host_panel) {
          tab_host_panel = panel;
          tab_host_at = layout.Panel(panel).Clients.size();
        }
      } else if (std::optional<TPane> pane = PaneNamed(name); pane && claim(*pane)) {
        layout.PlaceInPanel(*pane, panel);
        layout.SetPaneVisible(*pane, visible(*pane));
      }
    }
  }
  // 4. The bottom panel takes the note pane.
  if (values.Value(kBottomClients) != "0" && claim(TPane::Note)) {
    layout.PlaceInPanel(TPane::Note, TDockPanel::Bottom);
    layout.SetPaneVisible(TPane::Note, true);
  }
  // 5. The tab host.
  if (!values.Value("Container.Visible").empty()) {
    layout.CreateTabHost(
        HostBounds(values, "Container", tab_host, dock_names::kTabHostWidth, dock_names::kTabHostHeight));
    for (const std::string& name : SplitNames(values.Value("Container.DockClients"))) {
      if (std::optional<TPane> pane = PaneNamed(name); pane && claim(*pane)) {
        layout.PlaceInTabHost(*pane);
        layout.SetPaneVisible(*pane, visible(*pane));
      }
    }
    if (tab_host_panel) layout.PlaceTabHostInPanel(*tab_host_panel, tab_host_at);
    layout.SetTabHostVisible(values.Value("Container.Visible") == "1");
  }
  // 6. The side-by-side host: its panes side by side in their order.
  if (!values.Value("Conjoin.Visible").empty()) {
    layout.CreateConjoinHost(HostBounds(values, "Conjoin", conjoin_host, dock_names::kConjoinHostWidth,
                                        dock_names::kConjoinHostHeight));
    bool first = true;
    for (const std::string& name : SplitNames(values.Value("Conjoin.DockClients"))) {
      if (std::optional<TPane> pane = PaneNamed(name); pane && claim(*pane)) {
        layout.PlaceInConjoinHost(*pane, first ? TDockSide::None : TDockSide::Right);
        layout.SetPaneVisible(*pane, visible(*pane));
        first = false;
      }
    }
    layout.SetConjoinHostVisible(values.Value("Conjoin.Visible") == "1");
  }
  layout.DissolveLoneHosts();

  // 7. Visibility.
  for (TPane pane : kAllPanes) layout.SetPaneVisible(pane, visible(pane));
  // Panes no list names: floating where the settings put them, else where a first
  // run puts them (then with the visibility the file gives).
  for (TPane pane : kAllPanes) {
    if (mentioned[static_cast<size_t>(pane)] || layout.Pane(pane).PlacementRestored) continue;
    const bool shown = visible(pane);
    layout.ApplyFirstRunTo(pane);
    layout.SetPaneVisible(pane, shown);
  }
  layout.RebuildHostCaption(std::nullopt);

  // 2.-4. The panel sizes; a size that cannot be read opens a panel that shows a
  // pane and leaves the others closed.
  for (TDockPanel panel : kAllDockPanels) {
    const std::string prefix(PanelPrefix(panel));
    std::optional<int> size = Size(values, prefix + (panel == TDockPanel::Bottom ? ".Height" : ".Width"));
    if (!size) {
      const int open = panel == TDockPanel::Bottom ? layout.ClientHeight() / 3 : layout.ClientWidth() / 3;
      size = layout.VisibleClients(panel) > 0 ? open : 0;
    }
    layout.SetPanelSplitter(panel, *size);
  }
}

void WriteHostPlacements(const TDockLayout& layout, TIniFile& settings) {
  auto write = [&](std::string_view section, TDockRect bounds) {
    TWindowPlacement placement;
    placement.Left = bounds.Left;
    placement.Top = bounds.Top;
    placement.Right = bounds.Right;
    placement.Bottom = bounds.Bottom;
    WritePlacement(settings, section, placement);
  };
  if (layout.TabHost()) write(dock_names::kTabHostSection, layout.TabHost()->Bounds);
  if (layout.ConjoinHost()) write(dock_names::kConjoinHostSection, layout.ConjoinHost()->Bounds);
}

std::optional<TDockRect> ReadHostPlacement(const TIniFile& settings, std::string_view section) {
  const std::optional<TWindowPlacement> placement = ReadPlacement(settings, section);
  if (!placement) return std::nullopt;
  return TDockRect{placement->Left, placement->Top, placement->Right, placement->Bottom};
}

void WriteLayoutFile(const std::string& path, const TDockLayout& layout) {
  EnsureParentDir(path);
  WriteFileAtomicallyOrThrow(path, LayoutFileText(layout), "layout file");
}

bool ReadLayoutFile(const std::string& path, TDockLayout& layout, const TIniFile& settings) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  // A layout file is a few hundred bytes; anything huge is not one.
  constexpr std::uintmax_t kMaxLayoutFile = 1 << 20;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size > kMaxLayoutFile) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string text(static_cast<size_t>(size), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  RestoreLayoutText(layout, text, ReadHostPlacement(settings, dock_names::kTabHostSection),
                    ReadHostPlacement(settings, dock_names::kConjoinHostSection));
  return true;
}

}  // namespace qb
