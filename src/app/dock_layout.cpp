#include "app/dock_layout.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "explorer/explorer_window.h"
#include "panes/note_pane.h"
#include "panes/viewer_pane.h"

namespace qb {

std::string_view PaneCaption(TPane pane) {
  switch (pane) {
    case TPane::Explorer:
      return dockable_form::kCaption;
    case TPane::Viewer:
      return viewer_form::kCaption;
    case TPane::Note:
      return note_form::kCaption;
  }
  return {};
}

std::string_view PaneComponentName(TPane pane) {
  switch (pane) {
    case TPane::Explorer:
      return "DockableForm";
    case TPane::Viewer:
      return "ViewerForm";
    case TPane::Note:
      return "NoteForm";
  }
  return {};
}

TDockZone DockZoneAt(int width, int height, int x, int y) {
  if (width <= 0 || height <= 0) return {};
  const int w5 = width / 5, w45 = w5 * 4;
  const int h5 = height / 5, h45 = h5 * 4;
  // Tested in this order; the first zone that holds the point wins.
  const struct {
    TDockRect Region;
    TDockSide Side;
    TDockRect Preview;
  } zones[] = {
      {{0, 0, w5, height}, TDockSide::Left, {0, 0, width / 2, height}},
      {{w5, 0, w45, h5}, TDockSide::Top, {0, 0, width, height / 2}},
      {{w45, 0, width, height}, TDockSide::Right, {width / 2, 0, width, height}},
      {{w5, h45, w45, height}, TDockSide::Bottom, {0, height / 2, width, height}},
      {{w5, h5, w45, h45}, TDockSide::Client, {w5, h5, w45, h45}},
  };
  for (const auto& zone : zones)
    if (zone.Region.Contains(x, y)) return {zone.Side, zone.Preview};
  return {};
}

namespace {

// A pane's size as designed, which it floats at until it has another.
std::pair<int, int> DesignSize(TPane pane) {
  switch (pane) {
    case TPane::Explorer:
      return {dockable_form::kDesignWidth, dockable_form::kDesignHeight};
    case TPane::Viewer:
      return {viewer_form::kDesignWidth, viewer_form::kDesignHeight};
    case TPane::Note:
      return {note_form::kDesignWidth, note_form::kDesignHeight};
  }
  return {0, 0};
}

}  // namespace

TDockLayout::TDockLayout() {
  for (TPane pane : kAllPanes) {
    TPaneState& s = State(pane);
    std::tie(s.UndockWidth, s.UndockHeight) = DesignSize(pane);
    s.Bounds = DefaultRect(s.UndockWidth, s.UndockHeight);
  }
}

// --- reports ---------------------------------------------------------------------------

void TDockLayout::SetPaneBounds(TPane pane, TDockRect bounds) {
  if (bounds.Empty()) return;
  State(pane).Bounds = bounds;
  positioned_[Index(pane)] = true;
}

void TDockLayout::SetDefaultOrigin(int x, int y) {
  default_x_ = x;
  default_y_ = y;
  for (TPane pane : kAllPanes) {
    TPaneState& s = State(pane);
    if (!positioned_[Index(pane)]) s.Bounds = DefaultRect(s.UndockWidth, s.UndockHeight);
  }
}

void TDockLayout::SetPanelSize(TDockPanel panel, int size) {
  TDockPanelState& p = PanelState(panel);
  p.Size = std::max(0, size);
  p.SplitterVisible = p.Size > 0;
}

void TDockLayout::SetTabHostBounds(TDockRect bounds) {
  if (tab_host_ && !bounds.Empty()) tab_host_->Bounds = bounds;
}

void TDockLayout::SetConjoinHostBounds(TDockRect bounds) {
  if (conjoin_ && !bounds.Empty()) conjoin_->Bounds = bounds;
}

void TDockLayout::RestorePanePlacement(TPane pane, TDockRect bounds) {
  if (bounds.Empty()) return;
  TPaneState& s = State(pane);
  s.Bounds = bounds;
  s.UndockWidth = bounds.Width();
  s.UndockHeight = bounds.Height();
  s.PlacementRestored = true;
  s.Placement = bounds;
  positioned_[Index(pane)] = true;
}

bool TDockLayout::ClientVisible(const TDockClient& client) const {
  if (client.IsTabHost) return tab_host_ && tab_host_->Visible;
  return Pane(client.Pane).Visible;
}

int TDockLayout::VisibleClients(TDockPanel panel) const {
  int count = 0;
  for (const TDockClient& client : Panel(panel).Clients) count += ClientVisible(client) ? 1 : 0;
  return count;
}

// --- acceptance ------------------------------------------------------------------------

bool TDockLayout::PanelAccepts(TDockPanel panel, const TDockClient& client) {
  if (panel == TDockPanel::Bottom) return !client.IsTabHost && client.Pane == TPane::Note;
  return true;
}

bool TDockLayout::PaneAccepts(TPane receiver, const TDockClient& dragged) const {
  if (dragged.IsTabHost || dragged.Pane == receiver) return false;
  const TPaneState& r = Pane(receiver);
  if (!r.DockSite) return false;
  // A tab is reached through its tab host.
  if (r.Place == TPlaceKind::TabHost) return false;
  // A drop on a docked pane lands in its panel, which must take the pane.
  if (r.Place == TPlaceKind::Panel && !PanelAccepts(r.Panel, dragged)) return false;
  return true;
}

bool TDockLayout::TabHostAccepts(const TDockClient& dragged) const {
  if (!tab_host_ || dragged.IsTabHost) return false;
  for (TPane page : tab_host_->Pages)
    if (PaneCaption(page) == PaneCaption(dragged.Pane)) return false;
  return true;
}

bool TDockLayout::ConjoinHostAccepts(const TDockClient& dragged) const {
  return conjoin_ && !dragged.IsTabHost;
}

TDockRect TDockLayout::PanelPreview(TDockPanel panel, TDockRect panel_rect, int toolbar_top) const {
  switch (panel) {
    case TDockPanel::Left:
      return {panel_rect.Left, panel_rect.Top, panel_rect.Left + client_width_ / 3, panel_rect.Bottom};
    case TDockPanel::Right:
      return {(client_width_ / 3) * 2, toolbar_top, client_width_, toolbar_top + panel_rect.Height()};
    case TDockPanel::Bottom:
      return {panel_rect.Left, panel_rect.Top - client_height_ / 3, panel_rect.Right, panel_rect.Bottom};
  }
  return {};
}

// --- leaving a place -------------------------------------------------------------------

void TDockLayout::RecordUndockSize(TPane pane) {
  TPaneState& s = State(pane);
  if (s.Bounds.Empty()) return;
  s.UndockWidth = s.Bounds.Width();
  s.UndockHeight = s.Bounds.Height();
}

void TDockLayout::FloatPaneAt(TPane pane, int left, int top) {
  TPaneState& s = State(pane);
  s.Place = TPlaceKind::Floating;
  s.DockSite = true;
  s.Bounds = TDockRect::FromSize(left, top, s.UndockWidth, s.UndockHeight);
  positioned_[Index(pane)] = true;
}

void TDockLayout::RemoveFromPanel(TDockPanel panel, const TDockClient& client) {
  TDockPanelState& p = PanelState(panel);
  auto it = std::find(p.Clients.begin(), p.Clients.end(), client);
  if (it == p.Clients.end()) return;
  // The last client leaving collapses the panel.
  if (p.Clients.size() == 1) SetDockPanelOpen(panel, false);
  p.Clients.erase(std::find(p.Clients.begin(), p.Clients.end(), client));
}

void TDockLayout::Undock(const TDockClient& client, TTarget target) {
  if (client.IsTabHost) {
    if (tab_host_ && tab_host_->Panel) RemoveFromPanel(*tab_host_->Panel, client);
    if (tab_host_) tab_host_->Panel.reset();
    return;
  }
  const TPane pane = client.Pane;
  TPaneState& s = State(pane);
  switch (s.Place) {
    case TPlaceKind::Floating:
      RecordUndockSize(pane);
      break;
    case TPlaceKind::Panel:
      RemoveFromPanel(s.Panel, client);
      break;
    case TPlaceKind::TabHost: {
      if (!tab_host_) break;
      std::vector<TPane>& pages = tab_host_->Pages;
      const bool had_two = pages.size() == 2;
      pages.erase(std::remove(pages.begin(), pages.end(), pane), pages.end());
      if (tab_host_->Current == pane)
        tab_host_->Current = pages.empty() ? std::nullopt : std::optional<TPane>(pages.front());
      s.Place = TPlaceKind::Floating;
      // The host's close request: its last pane floats and the host goes.
      if (had_two && target != TTarget::TabHost) CloseTabHost();
      if (tab_host_ && tab_host_->Pages.empty()) DestroyTabHost();
      break;
    }
    case TPlaceKind::ConjoinHost: {
      s.DockSite = true;
      if (!conjoin_) break;
      std::vector<TConjoinClient>& clients = conjoin_->Clients;
      const bool had_two = clients.size() == 2;
      clients.erase(std::remove_if(clients.begin(), clients.end(),
                                   [pane](const TConjoinClient& c) { return c.Pane == pane; }),
                    clients.end());
      s.Place = TPlaceKind::Floating;
      RebuildHostCaption(pane);
      if (had_two && target != TTarget::ConjoinHost) CloseConjoinHost();
      if (conjoin_ && conjoin_->Clients.empty()) DestroyConjoinHost();
      break;
    }
  }
  s.Place = TPlaceKind::Floating;
}

void TDockLayout::DestroyTabHost() {
  if (!tab_host_) return;
  if (tab_host_->Panel) {
    std::vector<TDockClient>& clients = PanelState(*tab_host_->Panel).Clients;
    clients.erase(std::remove(clients.begin(), clients.end(), TDockClient::TabHost()), clients.end());
  }
  for (TPane page : tab_host_->Pages) FloatPaneAt(page, tab_host_->Bounds.Left, tab_host_->Bounds.Top);
  tab_host_.reset();
}

void TDockLayout::DestroyConjoinHost() {
  if (!conjoin_) return;
  for (const TConjoinClient& c : conjoin_->Clients)
    FloatPaneAt(c.Pane, conjoin_->Bounds.Left, conjoin_->Bounds.Top);
  conjoin_.reset();
}

// --- drops -----------------------------------------------------------------------------

void TDockLayout::DropOnPanel(TDockPanel panel, const TDockClient& client, std::optional<TPane> beside,
                              TDockSide side) {
  if (!PanelAccepts(panel, client)) return;
  if (client.IsTabHost && !tab_host_) return;
  if (!client.IsTabHost && beside == client.Pane) return;
  Undock(client, TTarget::Elsewhere);
  TDockPanelState& p = PanelState(panel);
  auto at = p.Clients.end();
  if (beside) {
    auto it = std::find(p.Clients.begin(), p.Clients.end(), TDockClient::Of(*beside));
    if (it != p.Clients.end()) at = side == TDockSide::Left || side == TDockSide::Top ? it : it + 1;
  }
  p.Clients.insert(at, client);
  if (client.IsTabHost) {
    tab_host_->Panel = panel;
    tab_host_->Visible = true;
  } else {
    TPaneState& s = State(client.Pane);
    s.Place = TPlaceKind::Panel;
    s.Panel = panel;
    s.DockSite = true;
    s.Visible = true;
  }
  if (p.Clients.size() == 1) SetDockPanelOpen(panel, true);
}

void TDockLayout::DropOnPane(TPane receiver, TPane dropped, int x, int y, int width, int height) {
  if (!PaneAccepts(receiver, TDockClient::Of(dropped))) return;
  const TDockZone zone = DockZoneAt(width, height, x, y);
  const TPaneState& r = State(receiver);
  if (r.Place == TPlaceKind::Panel) {
    DropOnPanel(r.Panel, TDockClient::Of(dropped), receiver, zone.Side);
    return;
  }
  // The dropped pane leaves first, so a host it leaves with one pane is gone
  // before the new host comes.
  Undock(TDockClient::Of(dropped), TTarget::Elsewhere);
  const TDockRect bounds = State(receiver).Bounds;
  if (zone.Side == TDockSide::Client) {
    DestroyTabHost();
    CreateTabHost(bounds);
    Undock(TDockClient::Of(receiver), TTarget::TabHost);
    PlaceInTabHost(receiver);
    TPaneState& d = State(dropped);
    d.Bounds = bounds;
    positioned_[Index(dropped)] = true;
    RecordUndockSize(dropped);
    PlaceInTabHost(dropped);
    tab_host_->Current = dropped;
  } else {
    DestroyConjoinHost();
    CreateConjoinHost(bounds);
    Undock(TDockClient::Of(receiver), TTarget::ConjoinHost);
    PlaceInConjoinHost(receiver, TDockSide::None);
    PlaceInConjoinHost(dropped, zone.Side);
    RebuildHostCaption(std::nullopt);
  }
  State(receiver).Visible = true;
  State(dropped).Visible = true;
}

void TDockLayout::DropOnTabHost(TPane pane) {
  if (!TabHostAccepts(TDockClient::Of(pane))) return;
  Undock(TDockClient::Of(pane), TTarget::TabHost);
  if (!tab_host_) return;  // the pane's own leaving dissolved it
  PlaceInTabHost(pane);
  tab_host_->Current = pane;
  tab_host_->Visible = true;
  State(pane).Visible = true;
}

void TDockLayout::DropOnConjoinHost(TPane pane, TDockSide side) {
  if (!ConjoinHostAccepts(TDockClient::Of(pane))) return;
  Undock(TDockClient::Of(pane), TTarget::ConjoinHost);
  if (!conjoin_) return;
  PlaceInConjoinHost(pane, side);
  State(pane).Visible = true;
  conjoin_->Visible = true;
  RebuildHostCaption(std::nullopt);
}

void TDockLayout::Float(const TDockClient& client, TDockRect bounds) {
  if (bounds.Empty()) return;
  if (client.IsTabHost) {
    if (!tab_host_) return;
    Undock(client, TTarget::Elsewhere);
    tab_host_->Bounds = bounds;
    tab_host_->Visible = true;
    return;
  }
  Undock(client, TTarget::Elsewhere);
  TPaneState& s = State(client.Pane);
  s.Place = TPlaceKind::Floating;
  s.DockSite = true;
  s.Visible = true;
  s.Bounds = bounds;
  positioned_[Index(client.Pane)] = true;
  RecordUndockSize(client.Pane);
}

// --- panels, closing, showing ----------------------------------------------------------

void TDockLayout::SetDockPanelOpen(TDockPanel panel, bool open, std::optional<TDockClient> show) {
  TDockPanelState& p = PanelState(panel);
  if (!open && VisibleClients(panel) > 1) return;
  p.SplitterVisible = open;
  if (open)
    p.Size = panel == TDockPanel::Bottom ? client_height_ / 3 : client_width_ / 3;
  else
    p.Size = 0;
  if (open && show) {
    if (show->IsTabHost) {
      if (tab_host_) tab_host_->Visible = true;
    } else {
      State(show->Pane).Visible = true;
    }
  }
}

void TDockLayout::ClosePane(TPane pane) {
  TPaneState& s = State(pane);
  if (s.Place == TPlaceKind::ConjoinHost && conjoin_) {
    RebuildHostCaption(pane);
    int visible = 0;
    for (const TConjoinClient& c : conjoin_->Clients) visible += Pane(c.Pane).Visible ? 1 : 0;
    if (visible <= 1) conjoin_->Visible = false;
  } else if (s.Place == TPlaceKind::Panel) {
    SetDockPanelOpen(s.Panel, false);
  }
  s.Visible = false;
}

void TDockLayout::CloseTabHost() {
  if (!tab_host_) return;
  if (tab_host_->Panel) SetDockPanelOpen(*tab_host_->Panel, false);
  if (tab_host_->Pages.size() == 1) {
    const TPane last = tab_host_->Pages.front();
    const TPaneState& s = Pane(last);
    const TDockRect at = s.Bounds.Empty() ? tab_host_->Bounds : s.Bounds;
    tab_host_->Pages.clear();
    DestroyTabHost();
    FloatPaneAt(last, at.Left, at.Top);
  } else if (tab_host_->Pages.empty()) {
    DestroyTabHost();
  } else {
    tab_host_->Visible = false;
  }
}

void TDockLayout::CloseConjoinHost() {
  if (!conjoin_) return;
  if (conjoin_->Clients.size() == 1) {
    const TPane last = conjoin_->Clients.front().Pane;
    const TPaneState& s = Pane(last);
    const TDockRect at = s.Bounds.Empty() ? conjoin_->Bounds : s.Bounds;
    conjoin_->Clients.clear();
    DestroyConjoinHost();
    FloatPaneAt(last, at.Left, at.Top);
  } else if (conjoin_->Clients.empty()) {
    DestroyConjoinHost();
  } else {
    conjoin_->Visible = false;
  }
}

void TDockLayout::ShowPane(TPane pane) {
  TPaneState& s = State(pane);
  switch (s.Place) {
    case TPlaceKind::TabHost:
      if (!tab_host_) break;
      tab_host_->Visible = true;
      tab_host_->Current = pane;
      s.Visible = true;
      if (tab_host_->Panel && Panel(*tab_host_->Panel).Size == 0)
        SetDockPanelOpen(*tab_host_->Panel, true, TDockClient::TabHost());
      return;
    case TPlaceKind::ConjoinHost:
      if (!conjoin_) break;
      // The caption is rebuilt once the pane shows, so it names the pane too.
      conjoin_->Visible = true;
      s.Visible = true;
      RebuildHostCaption(std::nullopt);
      return;
    case TPlaceKind::Panel:
      if (Panel(s.Panel).Size == 0) {
        SetDockPanelOpen(s.Panel, true, TDockClient::Of(pane));
        return;
      }
      break;
    case TPlaceKind::Floating:
      break;
  }
  s.Visible = true;
}

std::string TDockLayout::RebuildHostCaption(std::optional<TPane> left_out) {
  if (!conjoin_) return {};
  std::string caption;
  for (const TConjoinClient& c : conjoin_->Clients) {
    if (!Pane(c.Pane).Visible || c.Pane == left_out) continue;
    caption += "[";
    caption += PaneCaption(c.Pane);
    caption += "] ";
  }
  conjoin_->Caption = caption;
  return caption;
}

// --- whole layouts ---------------------------------------------------------------------

void TDockLayout::ApplyFirstRunTo(TPane pane) {
  switch (pane) {
    case TPane::Explorer:
      DropOnPanel(TDockPanel::Left, TDockClient::Of(pane));
      break;
    case TPane::Note:
      DropOnPanel(TDockPanel::Bottom, TDockClient::Of(pane));
      break;
    case TPane::Viewer: {
      Undock(TDockClient::Of(pane), TTarget::Elsewhere);
      TPaneState& s = State(pane);
      s.Place = TPlaceKind::Floating;
      s.DockSite = true;
      s.Visible = false;
      break;
    }
  }
}

void TDockLayout::ApplyFirstRun() {
  for (TPane pane : kAllPanes) ApplyFirstRunTo(pane);
}

void TDockLayout::Clear() {
  tab_host_.reset();
  conjoin_.reset();
  for (TDockPanelState& p : panels_) p = TDockPanelState{};
  // Where a pane was docked says nothing about where it floats.
  for (TPane pane : kAllPanes) {
    TPaneState& s = State(pane);
    s.Place = TPlaceKind::Floating;
    s.DockSite = true;
    s.Visible = false;
    if (s.PlacementRestored) {
      s.Bounds = s.Placement;
    } else {
      const auto [width, height] = DesignSize(pane);
      s.Bounds = DefaultRect(width, height);
    }
    s.UndockWidth = s.Bounds.Width();
    s.UndockHeight = s.Bounds.Height();
  }
}

void TDockLayout::PlaceInPanel(TPane pane, TDockPanel panel) {
  TPaneState& s = State(pane);
  if (s.Place == TPlaceKind::Floating) RecordUndockSize(pane);
  s.Place = TPlaceKind::Panel;
  s.Panel = panel;
  s.DockSite = true;
  PanelState(panel).Clients.push_back(TDockClient::Of(pane));
}

void TDockLayout::PlaceTabHostInPanel(TDockPanel panel, size_t at) {
  if (!tab_host_ || tab_host_->Panel) return;
  tab_host_->Panel = panel;
  auto& clients = PanelState(panel).Clients;
  clients.insert(clients.begin() + static_cast<std::ptrdiff_t>(std::min(at, clients.size())),
                 TDockClient::TabHost());
}

void TDockLayout::CreateTabHost(TDockRect bounds) {
  tab_host_ = TTabHostState{};
  tab_host_->Bounds =
      bounds.Empty() ? DefaultRect(dock_names::kTabHostWidth, dock_names::kTabHostHeight) : bounds;
}

void TDockLayout::PlaceInTabHost(TPane pane) {
  if (!tab_host_) return;
  TPaneState& s = State(pane);
  if (s.Place == TPlaceKind::Floating) RecordUndockSize(pane);
  s.Place = TPlaceKind::TabHost;
  s.DockSite = true;
  tab_host_->Pages.push_back(pane);
  if (!tab_host_->Current) tab_host_->Current = pane;
}

void TDockLayout::CreateConjoinHost(TDockRect bounds) {
  conjoin_ = TConjoinHostState{};
  conjoin_->Bounds =
      bounds.Empty() ? DefaultRect(dock_names::kConjoinHostWidth, dock_names::kConjoinHostHeight) : bounds;
}

void TDockLayout::PlaceInConjoinHost(TPane pane, TDockSide side) {
  if (!conjoin_) return;
  TPaneState& s = State(pane);
  if (s.Place == TPlaceKind::Floating) RecordUndockSize(pane);
  s.Place = TPlaceKind::ConjoinHost;
  s.DockSite = false;
  conjoin_->Clients.push_back({pane, side});
}

void TDockLayout::SetTabHostVisible(bool visible) {
  if (tab_host_) tab_host_->Visible = visible;
}

void TDockLayout::SetConjoinHostVisible(bool visible) {
  if (conjoin_) conjoin_->Visible = visible;
}

void TDockLayout::SetPanelSplitter(TDockPanel panel, int size) {
  SetPanelSize(panel, size);
}

void TDockLayout::DissolveLoneHosts() {
  if (tab_host_ && tab_host_->Pages.size() < 2) {
    if (tab_host_->Panel) {
      std::vector<TDockClient>& clients = PanelState(*tab_host_->Panel).Clients;
      clients.erase(std::remove(clients.begin(), clients.end(), TDockClient::TabHost()), clients.end());
      tab_host_->Panel.reset();
    }
    DestroyTabHost();
  }
  if (conjoin_ && conjoin_->Clients.size() < 2) DestroyConjoinHost();
}

bool TDockLayout::Placed(TPane pane) const {
  return Pane(pane).Place != TPlaceKind::Floating;
}

TDockRect TDockLayout::DefaultRect(int width, int height) const {
  return TDockRect::FromSize(default_x_, default_y_, width, height);
}

// --- screens ---------------------------------------------------------------------------

TDockRect KeepOnScreens(TDockRect rect, const std::vector<TDockRect>& screens) {
  if (screens.empty() || rect.Empty()) return rect;
  // Reachable: enough of the top edge lies on a screen to grab the title bar.
  constexpr int kGrab = 48, kTitle = 16;
  const int need = std::min(kGrab, rect.Width());
  for (const TDockRect& s : screens) {
    const int overlap = std::min(rect.Right, s.Right) - std::max(rect.Left, s.Left);
    if (overlap >= need && rect.Top >= s.Top && rect.Top + kTitle <= s.Bottom) return rect;
  }
  const TDockRect& s = screens.front();
  const int width = std::min(rect.Width(), s.Width());
  const int height = std::min(rect.Height(), s.Height());
  const int left = std::clamp(rect.Left, s.Left, s.Right - width);
  const int top = std::clamp(rect.Top, s.Top, s.Bottom - height);
  return TDockRect::FromSize(left, top, width, height);
}

}  // namespace qb
