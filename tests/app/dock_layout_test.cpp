// The docking model: zones, drops that build hosts, panels opening and
// collapsing, closing and showing panes, and the layout file.
#include "app/dock_layout.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/dock_layout_file.h"
#include "platform/errors.h"
#include "support/test_support.h"

namespace qb {
namespace {

using P = TPane;
using C = TDockClient;

TEST(DockZoneAt, ZonesOfA209PaneAndTheirPreviews) {
  // W = 209: W div 5 = 41, so the left zone ends at 41 and the right begins at 164.
  const int w = 209, h = 345;
  EXPECT_EQ(DockZoneAt(w, h, 40, 100).Side, TDockSide::Left);
  EXPECT_EQ(DockZoneAt(w, h, 41, 100).Side, TDockSide::Client);
  EXPECT_EQ(DockZoneAt(w, h, 163, 100).Side, TDockSide::Client);
  EXPECT_EQ(DockZoneAt(w, h, 164, 100).Side, TDockSide::Right);
  EXPECT_EQ(DockZoneAt(w, h, 208, 344).Side, TDockSide::Right);
  // H = 345: H div 5 = 69, 4H/5 = 276.
  EXPECT_EQ(DockZoneAt(w, h, 100, 68).Side, TDockSide::Top);
  EXPECT_EQ(DockZoneAt(w, h, 100, 69).Side, TDockSide::Client);
  EXPECT_EQ(DockZoneAt(w, h, 100, 276).Side, TDockSide::Bottom);
  // The left zone is tested before the top one: the corner belongs to it.
  EXPECT_EQ(DockZoneAt(w, h, 0, 0).Side, TDockSide::Left);
  // Outside the pane: no zone, no preview.
  EXPECT_EQ(DockZoneAt(w, h, 209, 10).Side, TDockSide::None);
  EXPECT_EQ(DockZoneAt(w, h, -1, 10).Side, TDockSide::None);
  EXPECT_TRUE(DockZoneAt(w, h, 100, 345).Preview.Empty());

  EXPECT_EQ(DockZoneAt(w, h, 10, 10).Preview, (TDockRect{0, 0, 104, 345}));
  EXPECT_EQ(DockZoneAt(w, h, 100, 10).Preview, (TDockRect{0, 0, 209, 172}));
  EXPECT_EQ(DockZoneAt(w, h, 200, 10).Preview, (TDockRect{104, 0, 209, 345}));
  EXPECT_EQ(DockZoneAt(w, h, 100, 300).Preview, (TDockRect{0, 172, 209, 345}));
  EXPECT_EQ(DockZoneAt(w, h, 100, 100).Preview, (TDockRect{41, 69, 164, 276}));
  EXPECT_EQ(DockZoneAt(0, 10, 0, 0).Side, TDockSide::None);
}

// A layout with the first-run arrangement in a 600 x 450 window.
class DockLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    layout_.SetClientSize(600, 450);
    layout_.ApplyFirstRun();
  }
  void FloatAt(P pane, int left, int top, int width = 209, int height = 345) {
    layout_.Float(C::Of(pane), TDockRect::FromSize(left, top, width, height));
  }
  TDockLayout layout_;
};

TEST_F(DockLayoutTest, FirstRunDocksExplorerLeftAndNoteBottom) {
  EXPECT_EQ(layout_.Pane(P::Explorer).Place, TPlaceKind::Panel);
  EXPECT_EQ(layout_.Pane(P::Explorer).Panel, TDockPanel::Left);
  EXPECT_EQ(layout_.Pane(P::Note).Panel, TDockPanel::Bottom);
  EXPECT_EQ(layout_.Pane(P::Viewer).Place, TPlaceKind::Floating);
  EXPECT_FALSE(layout_.Pane(P::Viewer).Visible);
  EXPECT_EQ(layout_.Panel(TDockPanel::Left).Size, 200);
  EXPECT_EQ(layout_.Panel(TDockPanel::Bottom).Size, 150);
  EXPECT_TRUE(layout_.Panel(TDockPanel::Bottom).SplitterVisible);
  EXPECT_EQ(layout_.Panel(TDockPanel::Right).Size, 0);
  EXPECT_FALSE(layout_.Panel(TDockPanel::Right).SplitterVisible);
}

TEST_F(DockLayoutTest, SitesAcceptWhatTheyShould) {
  EXPECT_FALSE(TDockLayout::PanelAccepts(TDockPanel::Bottom, C::Of(P::Explorer)));
  EXPECT_FALSE(TDockLayout::PanelAccepts(TDockPanel::Bottom, C::TabHost()));
  EXPECT_TRUE(TDockLayout::PanelAccepts(TDockPanel::Bottom, C::Of(P::Note)));
  EXPECT_TRUE(TDockLayout::PanelAccepts(TDockPanel::Right, C::TabHost()));
  // Dropping the explorer on the bottom panel changes nothing.
  layout_.DropOnPanel(TDockPanel::Bottom, C::Of(P::Explorer));
  EXPECT_EQ(layout_.Pane(P::Explorer).Panel, TDockPanel::Left);
  // Nor by way of the note pane docked there.
  EXPECT_FALSE(layout_.PaneAccepts(P::Note, C::Of(P::Explorer)));
  // A pane never takes itself or the tab host.
  EXPECT_FALSE(layout_.PaneAccepts(P::Viewer, C::Of(P::Viewer)));
  EXPECT_FALSE(layout_.PaneAccepts(P::Viewer, C::TabHost()));

  FloatAt(P::Explorer, 100, 100);
  layout_.DropOnPane(P::Explorer, P::Viewer, 100, 150, 209, 345);
  ASSERT_TRUE(layout_.TabHost());
  // A second tab of the same caption is refused; another pane is taken.
  EXPECT_FALSE(layout_.TabHostAccepts(C::Of(P::Viewer)));
  EXPECT_TRUE(layout_.TabHostAccepts(C::Of(P::Note)));
  layout_.DropOnTabHost(P::Viewer);
  EXPECT_EQ(layout_.TabHost()->Pages, (std::vector<P>{P::Explorer, P::Viewer}));
}

TEST_F(DockLayoutTest, CentreDropMakesACollectorAtTheReceiversBounds) {
  FloatAt(P::Explorer, 300, 200, 209, 345);
  FloatAt(P::Viewer, 50, 60, 150, 150);
  layout_.DropOnPane(P::Explorer, P::Viewer, 100, 150, 209, 345);
  ASSERT_TRUE(layout_.TabHost());
  EXPECT_EQ(layout_.TabHost()->Pages, (std::vector<P>{P::Explorer, P::Viewer}));
  EXPECT_EQ(layout_.TabHost()->Bounds, TDockRect::FromSize(300, 200, 209, 345));
  EXPECT_TRUE(layout_.TabHost()->Visible);
  EXPECT_FALSE(layout_.TabHost()->Panel);
  EXPECT_EQ(layout_.Pane(P::Viewer).Place, TPlaceKind::TabHost);
  // The dropped pane took the receiver's size as its own floating size.
  EXPECT_EQ(layout_.Pane(P::Viewer).UndockWidth, 209);

  // Dragging one of the two out destroys the host and floats the other there.
  FloatAt(P::Viewer, 10, 10, 150, 150);
  EXPECT_FALSE(layout_.TabHost());
  EXPECT_EQ(layout_.Pane(P::Explorer).Place, TPlaceKind::Floating);
  EXPECT_EQ(layout_.Pane(P::Explorer).Bounds, TDockRect::FromSize(300, 200, 209, 345));
  EXPECT_TRUE(layout_.Pane(P::Explorer).Visible);
}

TEST_F(DockLayoutTest, EdgeDropMakesASideBySideHostCaptionedInDockOrder) {
  FloatAt(P::Explorer, 300, 200);
  FloatAt(P::Viewer, 10, 10);
  layout_.DropOnPane(P::Explorer, P::Viewer, 20, 150, 209, 345);  // the left fifth
  ASSERT_TRUE(layout_.ConjoinHost());
  const TConjoinHostState& host = *layout_.ConjoinHost();
  EXPECT_EQ(host.Clients,
            (std::vector<TConjoinClient>{{P::Explorer, TDockSide::None}, {P::Viewer, TDockSide::Left}}));
  EXPECT_EQ(host.Caption, "[Filing Cabinet] [Viewer] ");
  EXPECT_EQ(host.Bounds, TDockRect::FromSize(300, 200, 209, 345));
  EXPECT_FALSE(layout_.Pane(P::Explorer).DockSite);
  EXPECT_FALSE(layout_.Pane(P::Viewer).DockSite);
  EXPECT_FALSE(layout_.PaneAccepts(P::Explorer, C::Of(P::Note)));

  // Closing the viewer: the caption leaves it out, the host stays (explorer shown).
  layout_.ClosePane(P::Viewer);
  EXPECT_EQ(layout_.ConjoinHost()->Caption, "[Filing Cabinet] ");
  EXPECT_TRUE(layout_.ConjoinHost()->Visible);
  // Closing the explorer too hides the host; the View command brings it back,
  // captioned with the pane shown.
  layout_.ClosePane(P::Explorer);
  EXPECT_FALSE(layout_.ConjoinHost()->Visible);
  layout_.ShowPane(P::Viewer);
  EXPECT_TRUE(layout_.ConjoinHost()->Visible);
  EXPECT_EQ(layout_.ConjoinHost()->Caption, "[Viewer] ");

  // The note joins the host; the explorer leaving keeps it (two remain).
  layout_.DropOnConjoinHost(P::Note, TDockSide::Bottom);
  FloatAt(P::Explorer, 0, 0);
  ASSERT_TRUE(layout_.ConjoinHost());
  EXPECT_TRUE(layout_.Pane(P::Explorer).DockSite);
  EXPECT_EQ(layout_.ConjoinHost()->Caption, "[Viewer] [Note] ");
  // The bottom panel lost its only client and collapsed.
  EXPECT_EQ(layout_.Panel(TDockPanel::Bottom).Size, 0);
  EXPECT_FALSE(layout_.Panel(TDockPanel::Bottom).SplitterVisible);
  // Closing the host with two panes only hides it.
  layout_.CloseConjoinHost();
  EXPECT_FALSE(layout_.ConjoinHost()->Visible);
}

TEST_F(DockLayoutTest, DropOnADockedPaneGoesIntoItsPanel) {
  FloatAt(P::Viewer, 10, 10);
  layout_.DropOnPane(P::Explorer, P::Viewer, 100, 10, 200, 300);  // the top zone
  EXPECT_FALSE(layout_.TabHost());
  EXPECT_FALSE(layout_.ConjoinHost());
  EXPECT_EQ(layout_.Panel(TDockPanel::Left).Clients, (std::vector<C>{C::Of(P::Viewer), C::Of(P::Explorer)}));
  EXPECT_EQ(layout_.Pane(P::Viewer).Panel, TDockPanel::Left);

  // Closing one of two visible panes leaves the panel open; closing the last
  // collapses it and hides its splitter.
  layout_.ClosePane(P::Viewer);
  EXPECT_EQ(layout_.Panel(TDockPanel::Left).Size, 200);
  layout_.ClosePane(P::Explorer);
  EXPECT_EQ(layout_.Panel(TDockPanel::Left).Size, 0);
  EXPECT_FALSE(layout_.Panel(TDockPanel::Left).SplitterVisible);
  // The View command opens the panel again with that pane.
  layout_.ShowPane(P::Explorer);
  EXPECT_EQ(layout_.Panel(TDockPanel::Left).Size, 200);
  EXPECT_TRUE(layout_.Pane(P::Explorer).Visible);
  EXPECT_FALSE(layout_.Pane(P::Viewer).Visible);

  // The note pane alone in the bottom panel: closing collapses it to 0.
  layout_.ClosePane(P::Note);
  EXPECT_EQ(layout_.Panel(TDockPanel::Bottom).Size, 0);
}

TEST_F(DockLayoutTest, TabHostDocksIntoAPanelAndClosesWithIt) {
  FloatAt(P::Explorer, 300, 200);
  layout_.DropOnPane(P::Explorer, P::Viewer, 100, 150, 209, 345);
  layout_.DropOnPanel(TDockPanel::Right, C::TabHost());
  EXPECT_EQ(layout_.TabHost()->Panel, TDockPanel::Right);
  EXPECT_EQ(layout_.Panel(TDockPanel::Right).Size, 200);
  // The left panel lost the explorer (its last client) when the host took it.
  EXPECT_EQ(layout_.Panel(TDockPanel::Left).Size, 0);

  layout_.CloseTabHost();
  EXPECT_FALSE(layout_.TabHost()->Visible);
  EXPECT_EQ(layout_.Panel(TDockPanel::Right).Size, 0);
  layout_.ShowPane(P::Viewer);
  EXPECT_TRUE(layout_.TabHost()->Visible);
  EXPECT_EQ(layout_.TabHost()->Current, P::Viewer);
  EXPECT_EQ(layout_.Panel(TDockPanel::Right).Size, 200);

  // A pane dragged out of the docked host: the host goes, the other pane floats,
  // and the right panel collapses.
  FloatAt(P::Explorer, 5, 5);
  EXPECT_FALSE(layout_.TabHost());
  EXPECT_EQ(layout_.Pane(P::Viewer).Place, TPlaceKind::Floating);
  EXPECT_TRUE(layout_.Panel(TDockPanel::Right).Clients.empty());
  EXPECT_EQ(layout_.Panel(TDockPanel::Right).Size, 0);
}

TEST_F(DockLayoutTest, LayoutFileRoundTrips) {
  // The explorer and the viewer in a tab host docked right, the note floating.
  FloatAt(P::Explorer, 300, 200);
  layout_.DropOnPane(P::Explorer, P::Viewer, 100, 150, 209, 345);
  layout_.DropOnPanel(TDockPanel::Right, C::TabHost());
  FloatAt(P::Note, 40, 50, 386, 249);
  const std::string text = LayoutFileText(layout_);
  EXPECT_EQ(text,
            "LeftDockPanel.Width=0\n"
            "LeftDockPanel.DockClients=\n"
            "RightDockPanel.Width=200\n"
            "RightDockPanel.DockClients=TabDockHost;\n"
            "BottomDockPanel.DockClients=0\n"
            "BottomDockPanel.Height=0\n"
            "Container.Visible=1\n"
            "Container.Top=200\n"
            "Container.Width=209\n"
            "Container.Height=345\n"
            "Container.DockClients=DockableForm;ViewerForm;\n"
            "Viewer.Visible=1\n"
            "Note.Visible=1\n"
            "Explorer.Visible=1\n");

  TDockLayout again;
  again.SetClientSize(600, 450);
  again.RestorePanePlacement(P::Note, TDockRect::FromSize(40, 50, 386, 249));
  // Docked at first, as the window is before the layout comes back.
  again.ApplyFirstRun();
  again.SetPaneBounds(P::Note, TDockRect::FromSize(181, 264, 344, 97));
  RestoreLayoutText(again, text, TDockRect::FromSize(300, 0, 10, 10), std::nullopt);
  EXPECT_EQ(LayoutFileText(again), text);
  EXPECT_EQ(again.TabHost()->Panel, TDockPanel::Right);
  EXPECT_EQ(again.TabHost()->Bounds, TDockRect::FromSize(300, 200, 209, 345));  // left from the settings
  EXPECT_EQ(again.Pane(P::Note).Place, TPlaceKind::Floating);
  EXPECT_EQ(again.Pane(P::Note).Bounds, TDockRect::FromSize(40, 50, 386, 249));

  // A side-by-side host round-trips too, and comes before the tab host.
  TDockLayout conjoin;
  conjoin.SetClientSize(600, 450);
  conjoin.ApplyFirstRun();
  conjoin.Float(C::Of(P::Explorer), TDockRect::FromSize(0, 0, 200, 200));
  conjoin.DropOnPane(P::Explorer, P::Viewer, 190, 100, 200, 200);
  conjoin.ClosePane(P::Viewer);
  const std::string text2 = LayoutFileText(conjoin);
  EXPECT_NE(text2.find("BottomDockPanel.DockClients=1\nBottomDockPanel.Height=150\nConjoin.Visible=1\n"
                       "Conjoin.Top=0\nConjoin.Width=200\nConjoin.Height=200\n"
                       "Conjoin.DockClients=DockableForm;ViewerForm;\nViewer.Visible=0\n"),
            std::string::npos)
      << text2;
  TDockLayout again2;
  again2.SetClientSize(600, 450);
  RestoreLayoutText(again2, text2, std::nullopt, std::nullopt);
  EXPECT_EQ(LayoutFileText(again2), text2);
  EXPECT_EQ(again2.ConjoinHost()->Caption, "[Filing Cabinet] ");
}

// The tab host keeps its place among a panel's panes: above the explorer, it was
// put back below it at the next start.
TEST(DockLayoutFile, TheTabHostComesBackWhereItWasInItsPanel) {
  const std::string text =
      "LeftDockPanel.Width=200\n"
      "LeftDockPanel.DockClients=TabDockHost;DockableForm;\n"
      "RightDockPanel.Width=0\n"
      "RightDockPanel.DockClients=\n"
      "BottomDockPanel.DockClients=0\n"
      "BottomDockPanel.Height=0\n"
      "Container.Visible=1\n"
      "Container.Top=200\n"
      "Container.Width=209\n"
      "Container.Height=345\n"
      "Container.DockClients=ViewerForm;NoteForm;\n"
      "Viewer.Visible=1\n"
      "Note.Visible=1\n"
      "Explorer.Visible=1\n";
  TDockLayout layout;
  layout.SetClientSize(600, 450);
  layout.ApplyFirstRun();
  RestoreLayoutText(layout, text, std::nullopt, std::nullopt);
  EXPECT_EQ(layout.Panel(TDockPanel::Left).Clients, (std::vector<C>{C::TabHost(), C::Of(P::Explorer)}));
  EXPECT_EQ(LayoutFileText(layout), text);
}

TEST(DockLayoutFile, DamagedFilesLoseNothing) {
  TDockLayout layout;
  layout.SetClientSize(600, 450);
  // Junk sizes, names in odd case, a pane named twice, an unknown name, text
  // after the last ";", a host that lists one pane, lines without "=".
  RestoreLayoutText(layout,
                    "garbage line\r\n"
                    "LeftDockPanel.Width=12abc\r\n"
                    "leftdockpanel.dockclients=dockableFORM;Nobody;NoteForm;ViewerForm\r\n"
                    "RightDockPanel.DockClients=NoteForm;\r\n"
                    "BottomDockPanel.DockClients=1\r\n"
                    "Container.Visible=1\r\n"
                    "Container.Width=-5\r\n"
                    "Container.DockClients=ViewerForm;\r\n"
                    "Explorer.Visible=1\r\nNote.Visible=yes\r\nViewer.Visible=1\r\n",
                    std::nullopt, std::nullopt);
  // The note stays where it was named first (left), hidden ("yes" is not "1").
  EXPECT_EQ(layout.Panel(TDockPanel::Left).Clients, (std::vector<C>{C::Of(P::Explorer), C::Of(P::Note)}));
  EXPECT_TRUE(layout.Panel(TDockPanel::Right).Clients.empty());
  EXPECT_TRUE(layout.Panel(TDockPanel::Bottom).Clients.empty());
  EXPECT_FALSE(layout.Pane(P::Note).Visible);
  // The unreadable width opens the panel, which shows the explorer.
  EXPECT_EQ(layout.Panel(TDockPanel::Left).Size, 200);
  // The missing bottom height leaves the empty bottom panel closed.
  EXPECT_EQ(layout.Panel(TDockPanel::Bottom).Size, 0);
  // The tab host with one pane is dissolved: the viewer floats, shown, in the
  // host's design size.
  EXPECT_FALSE(layout.TabHost());
  EXPECT_EQ(layout.Pane(P::Viewer).Place, TPlaceKind::Floating);
  EXPECT_TRUE(layout.Pane(P::Viewer).Visible);
  EXPECT_EQ(layout.Pane(P::Viewer).Bounds.Width(), 209);

  // An empty file: every pane goes where a first run puts it.
  TDockLayout empty;
  empty.SetClientSize(600, 450);
  RestoreLayoutText(empty, "", std::nullopt, std::nullopt);
  EXPECT_EQ(empty.Pane(P::Explorer).Panel, TDockPanel::Left);
  EXPECT_EQ(empty.Pane(P::Note).Panel, TDockPanel::Bottom);  // "" is not "0"
  EXPECT_EQ(empty.Panel(TDockPanel::Left).Size, 0);          // the explorer is hidden (no "1")
  // A binary blob parses as nothing and never throws.
  std::string blob;
  for (int i = 0; i < 4096; ++i) blob += static_cast<char>((i * 37) & 0xFF);
  EXPECT_NO_THROW(RestoreLayoutText(empty, blob, std::nullopt, std::nullopt));
}

TEST(DockLayoutFile, WrittenAtomicallyAndReadBack) {
  qbtest::TempDir dir;
  const std::string path = dir / "cfg/quiverbox.dat";
  TDockLayout layout;
  layout.SetClientSize(600, 450);
  TIniFile settings;
  EXPECT_FALSE(ReadLayoutFile(path, layout, settings));
  layout.ApplyFirstRun();
  WriteLayoutFile(path, layout);
  EXPECT_EQ(qbtest::ReadFileText(path), LayoutFileText(layout));
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  // A folder where the file would go: the error says so and the folder stays
  // (the old file kept whole by a failed write: tests/platform/atomic_file_test.cpp).
  const std::string taken = dir / "cfg/taken.dat";
  std::filesystem::create_directories(taken);
  EXPECT_THROW(WriteLayoutFile(taken, layout), qb::EInOutError);
  EXPECT_TRUE(std::filesystem::is_directory(taken));
  EXPECT_EQ(qbtest::ReadFileText(path), LayoutFileText(layout));

  TDockLayout back;
  back.SetClientSize(600, 450);
  ASSERT_TRUE(ReadLayoutFile(path, back, settings));
  EXPECT_EQ(LayoutFileText(back), LayoutFileText(layout));
}

TEST(KeepOnScreens, MovesWindowsFromScreensThatAreGone) {
  const std::vector<TDockRect> screens{{0, 0, 1920, 1080}};
  const TDockRect on = TDockRect::FromSize(100, 100, 300, 200);
  EXPECT_EQ(KeepOnScreens(on, screens), on);
  // Left on a second monitor that is gone.
  EXPECT_EQ(KeepOnScreens(TDockRect::FromSize(2500, 300, 300, 200), screens),
            TDockRect::FromSize(1620, 300, 300, 200));
  // Above the screen, and bigger than it.
  EXPECT_EQ(KeepOnScreens(TDockRect::FromSize(-50, -400, 4000, 300), screens),
            TDockRect::FromSize(0, 0, 1920, 300));
  // On the second of two screens: kept.
  const std::vector<TDockRect> two{{0, 0, 1920, 1080}, {1920, 0, 3840, 1080}};
  EXPECT_EQ(KeepOnScreens(TDockRect::FromSize(2500, 300, 300, 200), two),
            TDockRect::FromSize(2500, 300, 300, 200));
}

}  // namespace
}  // namespace qb
