// Start-up and shut-down of the main window: the command line, the choice of the
// cabinet, the settings file with its placements and stored properties (also
// when it is damaged), the first-run layout and the close sequence.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <stdexcept>

#include "app/app_test_support.h"
#include "app/command_line.h"
#include "app/window_host.h"
#include "app/window_placement.h"
#include "platform/ini_file.h"

namespace qbtest {
namespace {

using qb::MsgAnswer;
using qb::TFormClass;
using qb::TWindowPlacement;

// The windowing layer as a recorder.
class RecordingHost : public qb::TMainWindowHost {
 public:
  std::optional<TWindowPlacement> GetPlacement(TFormClass form) override {
    log.push_back("get " + std::string(qb::FormSectionName(form)));
    auto it = current.find(form);
    if (it == current.end()) return std::nullopt;
    return it->second;
  }
  void SetPlacement(TFormClass form, const TWindowPlacement& placement) override {
    log.push_back("set " + std::string(qb::FormSectionName(form)));
    restored[form] = placement;
  }
  void RestoreToolbar(const qb::TIniFile& settings) override {
    log.push_back("toolbar " + settings.ReadString("Toolbar", "Items", "-"));
  }
  void SaveToolbar(qb::TIniFile& settings) override {
    log.push_back("save toolbar");
    settings.WriteString("Toolbar", "Items", "saved");
  }
  bool RestoreLayout(const std::string&) override {
    log.push_back("layout");
    return layout_ok;
  }
  void ApplyFirstRunLayout(const qb::TFirstRunLayout& layout) override {
    log.push_back("first run");
    first_run = layout;
  }
  void SaveLayout(const std::string&) override { log.push_back("save layout"); }

  std::vector<std::string> log;
  std::map<TFormClass, TWindowPlacement> current;
  std::map<TFormClass, TWindowPlacement> restored;
  std::optional<qb::TFirstRunLayout> first_run;
  bool layout_ok = true;
};

class StartupTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    form_->SetHost(&host_);
  }
  std::string Settings() const { return form_->Paths().SettingsFile(); }
  void WriteSettings(const std::string& text) {
    fs::create_directories(fs::path(Settings()).parent_path());
    WriteFileText(Settings(), text);
  }
  void Start(const std::vector<std::string>& args = {}) {
    ASSERT_TRUE(form_->FormCreate(args));
    form_->FormShow(args);
  }
  std::string Root() {
    qb::TTreeNode* root = Tree().Root();
    return root ? root->Caption() : "<none>";
  }
  std::string Other() { return dir_ / "Other.qvf"; }
  void MakeCabinets() {
    Put("a", "1", Bytes("F1FC"));
    Put("b", "2", Bytes("F1FC"), Other());
  }

  // The recent list's stored key goes; RecentListSaved says whether it came back.
  void ForgetRecentList() { fs::remove(form_->Paths().RegistryFile("CurrentUser")); }
  bool RecentListSaved() {
    return form_->Registry().KeyExists(qb::TRegistryRoot::CurrentUser, form_->RecentFiles1().HistoryKey());
  }

  RecordingHost host_;
};

// --- placements -------------------------------------------------------------------------

TEST(Placement, FourIntegersAreParsedStrictly) {
  EXPECT_EQ(qb::ParseFourInts("1,-2, 3 ,+4"), (std::vector<int>{1, -2, 3, 4}));
  EXPECT_EQ(qb::ParseFourInts("2147483647,-2147483648,0,0"),
            (std::vector<int>{2147483647, -2147483647 - 1, 0, 0}));
  for (const char* bad : {"", "1,2,3", "1,2,3,4,5", "1,2,3,", ",1,2,3", "1,,2,3", "1,2,3,4x", "0x10,1,2,3",
                          "2147483648,0,0,0", "99999999999999999999,0,0,0", "1;2;3;4", "- 1,2,3,4"})
    EXPECT_FALSE(qb::ParseFourInts(bad)) << bad;
  EXPECT_EQ(qb::FormatFourInts(-1, 0, 17, 2147483647), "-1,0,17,2147483647");
}

TEST(Placement, RoundTripAndSaneFallbacks) {
  qb::TIniFile ini;
  TWindowPlacement p;
  p.ShowCmd = qb::kSwShowMaximized;
  p.PixelsPerInch = 144;
  p.MinX = -32000;
  p.MinY = -32000;
  p.Left = 10;
  p.Top = 20;
  p.Right = 535;
  p.Bottom = 396;
  p.FormVersion = 3;
  qb::WritePlacement(ini, "TMainForm", p);
  EXPECT_EQ(ini.ToText(),
            "[TMainForm]\nFlags=0\nShowCmd=3\nPixelsPerInch=144\nMinMaxPos=-32000,-32000,-1,-1\n"
            "NormPos=10,20,535,396\nFormVersion=3\n");
  EXPECT_EQ(qb::ReadPlacement(ini, "TMainForm"), p);
  EXPECT_FALSE(qb::ReadPlacement(ini, "TNoteForm"));

  // Junk in the other keys falls back key by key.
  ini.WriteString("TMainForm", "ShowCmd", "2");  // minimised: shown normally
  ini.WriteString("TMainForm", "PixelsPerInch", "0");
  ini.WriteString("TMainForm", "Flags", "lots");
  ini.WriteString("TMainForm", "MinMaxPos", "1,2");
  ini.WriteString("TMainForm", "FormVersion", "99999999999999");
  const std::optional<TWindowPlacement> read = qb::ReadPlacement(ini, "TMainForm");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->ShowCmd, qb::kSwShowNormal);
  EXPECT_EQ(read->PixelsPerInch, 96);
  EXPECT_EQ(read->Flags, 0);
  EXPECT_EQ(read->MinX, -1);
  EXPECT_EQ(read->FormVersion, 0);
  EXPECT_EQ(read->Width(), 525);

  // A frame that is no window is no placement.
  for (const char* norm : {"", "junk", "10,20,10,396", "10,396,535,20", "0,0,2000000000,2000000000",
                           "-2147483648,0,2147483647,10", "0,0,100001,10", "1,2,3,4,5"}) {
    ini.WriteString("TMainForm", "NormPos", norm);
    EXPECT_FALSE(qb::ReadPlacement(ini, "TMainForm")) << norm;
  }
}

// --- the command line -------------------------------------------------------------------

TEST(CommandLine, UninstallOnlyExactlyAndAlone) {
  EXPECT_TRUE(qb::IsUninstallCommandLine({"/UNINSTALL"}));
  EXPECT_FALSE(qb::IsUninstallCommandLine({"/uninstall"}));
  EXPECT_FALSE(qb::IsUninstallCommandLine({"/UNINSTALL", "x"}));
  EXPECT_FALSE(qb::IsUninstallCommandLine({}));
}

TEST(CommandLine, FirstArgumentEndingInQvfInAnyCase) {
  EXPECT_EQ(qb::CabinetFromCommandLine({"/data/Work.QVF", "x"}), "/data/Work.QVF");
  EXPECT_EQ(qb::CabinetFromCommandLine({"/data/./sub/../Work.qvf"}), "/data/Work.qvf");
  const std::string relative = *qb::CabinetFromCommandLine({"rel.Qvf"});
  EXPECT_TRUE(fs::path(relative).is_absolute());
  EXPECT_EQ(fs::path(relative).filename(), "rel.Qvf");
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {}, {"Work.qvfx"}, {"Work.qv"}, {"/dir.qvf/file"}, {"x", "Work.qvf"}, {"Work"}, {""}})
    EXPECT_FALSE(qb::CabinetFromCommandLine(args)) << ::testing::PrintToString(args);
}

// --- create and show ----------------------------------------------------------------------

TEST_F(StartupTest, UninstallEndsAtOnceAndWritesNothing) {
  EXPECT_FALSE(form_->FormCreate({"/UNINSTALL"}));
  EXPECT_TRUE(form_->Ending());
  form_->FormShow({"/UNINSTALL"});
  form_->FormClose();
  EXPECT_TRUE(host_.log.empty());
  EXPECT_FALSE(fs::exists(Settings()));
  EXPECT_FALSE(fs::exists(form_->Paths().LayoutFile()));
  EXPECT_TRUE(ui_.Log().empty());
}

TEST_F(StartupTest, LowerCaseUninstallStartsNormally) {
  EXPECT_TRUE(form_->FormCreate({"/uninstall"}));
  form_->FormShow({"/uninstall"});
  EXPECT_TRUE(form_->Registry().KeyExists(qb::TRegistryRoot::ClassesRoot, ".qvf"));
}

TEST_F(StartupTest, NoSettingsGivesDesignValuesAndTheFirstRunLayout) {
  form_->ClipboardCommands().SetAutoSave(true);
  Start();
  EXPECT_FALSE(form_->ClipboardCommands().AutoSave());
  EXPECT_EQ(host_.log, (std::vector<std::string>{"toolbar -", "first run"}));
  ASSERT_TRUE(host_.first_run);
  EXPECT_EQ(host_.first_run->Explorer.Site, qb::TDockSite::Left);
  EXPECT_TRUE(host_.first_run->Explorer.Visible);
  EXPECT_EQ(host_.first_run->Note.Site, qb::TDockSite::Bottom);
  EXPECT_TRUE(host_.first_run->Note.Visible);
  EXPECT_FALSE(host_.first_run->Viewer.Visible);
  EXPECT_FALSE(form_->ViewerForm().Visible());
  EXPECT_TRUE(host_.restored.empty());
  EXPECT_FALSE(form_->Properties().ViewItemsChecked);
  EXPECT_EQ(form_->Zip1().ZipName(), "");
  EXPECT_TRUE(Tree().Empty());
  EXPECT_TRUE(ui_.Log().empty());

  // The show handler works once.
  host_.log.clear();
  form_->FormShow({});
  EXPECT_TRUE(host_.log.empty());
}

TEST_F(StartupTest, SettingsNamingAnExistingCabinetOpenIt) {
  MakeCabinets();
  WriteSettings("[TMainForm]\nZip1_ZipName=" + cabinet_ + "\nLSplitter_Hint=" + Other() +
                "\nViewItemsMi_Checked=True\nCurrentDrawerMi_Checked=True\n"
                "NormPos=10,20,535,396\nShowCmd=3\n"
                "[TNoteForm]\nNormPos=1,2,387,251\n[Toolbar]\nItems=abc\n");
  std::filesystem::create_directories(fs::path(form_->Paths().LayoutFile()).parent_path());
  WriteFileText(form_->Paths().LayoutFile(), "LeftDockPanel.Width=100\n");
  Start();
  EXPECT_EQ(Root(), "Work");
  EXPECT_EQ(form_->Zip1().ZipName(), cabinet_);
  EXPECT_EQ(form_->Properties().PreviousCabinet, Other());
  EXPECT_TRUE(form_->Properties().ViewItemsChecked);
  EXPECT_TRUE(form_->ClipboardCommands().ViewItems());
  EXPECT_TRUE(form_->Properties().CurrentDrawerChecked);
  EXPECT_EQ(host_.log, (std::vector<std::string>{"toolbar abc", "set TMainForm", "set TNoteForm", "layout"}));
  EXPECT_EQ(host_.restored[TFormClass::MainForm].ShowCmd, qb::kSwShowMaximized);
  EXPECT_EQ(host_.restored[TFormClass::NoteForm].Width(), 386);
  EXPECT_FALSE(host_.first_run);
  EXPECT_TRUE(ui_.Log().empty());
}

TEST_F(StartupTest, GoneCabinetFallsBackToThePreviousThenToNone) {
  MakeCabinets();
  WriteSettings("[TMainForm]\nZip1_ZipName=" + (dir_ / "Gone.qvf") + "\nLSplitter_Hint=" + Other() + "\n");
  Start();
  EXPECT_EQ(Root(), "Other");
  EXPECT_TRUE(ui_.Log().empty());
}

TEST_F(StartupTest, BothCabinetsGoneOpensNothingQuietly) {
  WriteSettings("[TMainForm]\nZip1_ZipName=" + (dir_ / "Gone.qvf") +
                "\nLSplitter_Hint=" + (dir_ / "Also.qvf") + "\n");
  Start();
  EXPECT_EQ(Root(), "<none>");
  EXPECT_EQ(form_->Zip1().ZipName(), "");
  EXPECT_TRUE(ui_.Log().empty());
}

TEST_F(StartupTest, QvfArgumentInAnyCaseWinsOverTheSettings) {
  MakeCabinets();
  const std::string upper = dir_ / "Upper.QVF";
  fs::copy_file(Other(), upper);
  WriteSettings("[TMainForm]\nZip1_ZipName=" + cabinet_ + "\n");
  Start({upper});
  EXPECT_EQ(form_->Zip1().ZipName(), upper);
  EXPECT_EQ(Root(), "Upper");
  EXPECT_EQ(Tree().Root()->Count(), 1);
  EXPECT_EQ(Tree().Root()->Item(0)->Caption(), "b");
}

TEST_F(StartupTest, ArgumentNotEndingInQvfIsIgnored) {
  MakeCabinets();
  WriteSettings("[TMainForm]\nZip1_ZipName=" + cabinet_ + "\n");
  Start({Other() + ".txt"});
  EXPECT_EQ(Root(), "Work");
}

TEST_F(StartupTest, MissingQvfArgumentFallsBackToThePreviousCabinet) {
  MakeCabinets();
  WriteSettings("[TMainForm]\nZip1_ZipName=" + cabinet_ + "\nLSplitter_Hint=" + Other() + "\n");
  Start({dir_ / "Missing.qvf"});
  EXPECT_EQ(Root(), "Other");
}

// --- damaged settings -----------------------------------------------------------------------

TEST_F(StartupTest, DamagedSettingsNeverStopTheStart) {
  MakeCabinets();
  std::string junk =
      "[TMainForm\n\x01\x02\xff\xfe=\n[TMainForm]\nZip1_ZipName=\nViewItemsMi_Checked=maybe\n"
      "NormPos=99999999999,1,2,3\nShowCmd=-7\n[TDockableForm]\nNormPos=5,5,1,1\n"
      "[TViewerForm]\nNormPos=0,0,100,100\nPixelsPerInch=123456789012\n"
      "[TNoteForm]\n=\n==\nNormPos\n";
  junk += std::string(5000, 'x') + "\n" + std::string(1, '\0') + "=1\n";
  WriteSettings(junk);
  Start();
  EXPECT_FALSE(form_->Properties().ViewItemsChecked);
  EXPECT_EQ(Root(), "<none>");
  ASSERT_EQ(host_.restored.size(), 1u);
  EXPECT_EQ(host_.restored[TFormClass::ViewerForm].PixelsPerInch, 96);
  EXPECT_TRUE(ui_.Log().empty());
}

TEST_F(StartupTest, SettingsNamingSomethingThatIsNoCabinet) {
  // A folder, a device and a file that is no archive: none opens, none hangs.
  const std::string folder = dir_ / "Folder.qvf";
  fs::create_directories(folder);
  WriteSettings("[TMainForm]\nZip1_ZipName=" + folder + "\nLSplitter_Hint=/dev/zero\n");
  Start();
  EXPECT_EQ(Root(), "<none>");
  EXPECT_TRUE(ui_.Log().empty());

  // A file that is not an archive is reported; the program goes on without it.
  qbtest::TempDir other_home;
  ::setenv("QUIVERBOX_HOME", other_home.Path().c_str(), 1);
  ScriptedInteraction ui;
  qb::TMainForm form(ui, qb::TPaths::FromEnvironment());
  std::vector<uint8_t> bytes(100 + 22, 0);
  const uint8_t end[22] = {'P', 'K', 5, 6, 0, 0, 0, 0, 5, 0, 5, 0, 46, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::copy(end, end + 22, bytes.begin() + 100);
  WriteFileBytes(cabinet_, bytes);
  WriteFileText(form.Paths().SettingsFile(), "[TMainForm]\nZip1_ZipName=" + cabinet_ + "\n");
  ASSERT_TRUE(form.FormCreate({}));
  form.FormShow({});
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_EQ(ui.Boxes()[0].Kind, qb::MsgKind::Error);
  EXPECT_EQ(form.Zip1().ZipName(), "");
  // Nothing of the user's file was touched.
  EXPECT_EQ(FileBytes(), bytes);
}

TEST_F(StartupTest, HostFailuresAreReportedAndTheStartGoesOn) {
  struct FailingHost : RecordingHost {
    void RestoreToolbar(const qb::TIniFile&) override { throw std::runtime_error("toolbar broke"); }
    bool RestoreLayout(const std::string&) override { throw std::runtime_error("layout broke"); }
  } host;
  form_->SetHost(&host);
  MakeCabinets();
  WriteSettings("[TMainForm]\nZip1_ZipName=" + cabinet_ + "\n");
  WriteFileText(form_->Paths().LayoutFile(), "x=1\n");
  Start();
  EXPECT_EQ(Root(), "Work");
  ASSERT_EQ(ui_.Boxes().size(), 2u);
  EXPECT_EQ(ui_.Boxes()[0].Text, "toolbar broke");
  EXPECT_EQ(ui_.Boxes()[1].Text, "layout broke");
}

// --- close -------------------------------------------------------------------------------

TEST_F(StartupTest, CloseWritesSettingsPlacementsAndKeepsForeignSections) {
  MakeCabinets();
  WriteSettings("[TTabDockHost]\nNormPos=1,1,201,278\n[TMainForm]\nZip1_ZipName=" + cabinet_ + "\n");
  Start();
  form_->OpenCabinet(Other(), qb::TMainForm::TCabinetOpening::Dialog);
  form_->ViewItemsMiClick();
  TWindowPlacement main;
  main.Left = 5;
  main.Top = 6;
  main.Right = 530;
  main.Bottom = 382;
  host_.current[TFormClass::MainForm] = main;
  host_.current[TFormClass::NoteForm] = main;
  host_.log.clear();
  form_->FormClose();
  EXPECT_EQ(host_.log, (std::vector<std::string>{"get TMainForm", "get TDockableForm", "save toolbar",
                                                 "get TViewerForm", "get TNoteForm", "save layout"}));
  qb::TIniFile ini(Settings());
  EXPECT_EQ(ini.ReadString("TMainForm", "Zip1_ZipName", ""), Other());
  EXPECT_EQ(ini.ReadString("TMainForm", "LSplitter_Hint", ""), cabinet_);
  EXPECT_EQ(ini.ReadString("TMainForm", "OpenDialog1_InitialDir", ""), dir_.Path().string());
  EXPECT_EQ(ini.ReadString("TMainForm", "ViewItemsMi_Checked", ""), "True");
  EXPECT_EQ(ini.ReadString("TMainForm", "CurrentDrawerMi_Checked", ""), "False");
  EXPECT_EQ(ini.ReadString("TMainForm", "NormPos", ""), "5,6,530,382");
  EXPECT_EQ(ini.ReadString("TNoteForm", "NormPos", ""), "5,6,530,382");
  EXPECT_FALSE(ini.SectionExists("TDockableForm"));
  EXPECT_EQ(ini.ReadString("TTabDockHost", "NormPos", ""), "1,1,201,278");
  EXPECT_EQ(ini.ReadString("Toolbar", "Items", ""), "saved");
  EXPECT_TRUE(ui_.Log().empty());  // no backup: no question

  // The next start comes back to the same state.
  ScriptedInteraction ui;
  qb::TMainForm again(ui, qb::TPaths::FromEnvironment());
  RecordingHost host;
  again.SetHost(&host);
  ASSERT_TRUE(again.FormCreate({}));
  again.FormShow({});
  EXPECT_EQ(again.Zip1().ZipName(), Other());
  EXPECT_TRUE(again.Properties().ViewItemsChecked);
  EXPECT_EQ(host.restored[TFormClass::MainForm], main);
}

TEST_F(StartupTest, CloseOffersTheBackupAndSavesTheRecentListWhateverTheAnswer) {
  Start();
  qb::TClipboardBackup& backup = form_->ClipboardCommands().Backup();
  const std::string text = std::string("before") + '\0';
  backup.Stream.Write(text.data(), text.size());
  backup.Format = 1;
  form_->ClipboardCommands().SetAutoSave(true);
  ui_.Answer(MsgAnswer::Cancel);
  host_.log.clear();
  ForgetRecentList();
  form_->FormClose();
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].Describe(),
            "Confirmation 'Confirm' [OK/Cancel]: Do you wish to restore the original stored clip?");
  EXPECT_TRUE(RecentListSaved());
  EXPECT_FALSE(form_->ClipboardCommands().AutoSave());
  EXPECT_TRUE(fs::exists(Settings()));

  // OK puts the clip back on the clipboard and empties the backup.
  ui_.ClearRecords();
  ui_.Answer(MsgAnswer::Ok);
  form_->FormClose();
  EXPECT_EQ(backup.Format, 0u);
  EXPECT_EQ(backup.Stream.Size(), 0u);
  EXPECT_TRUE(form_->Clipboard().HasFormat(1));
}

TEST_F(StartupTest, CloseBeforeShowWritesNoSettings) {
  WriteSettings("[TMainForm]\nZip1_ZipName=/keep/me.qvf\n");
  ASSERT_TRUE(form_->FormCreate({}));
  form_->FormClose();
  EXPECT_EQ(ReadFileText(Settings()), "[TMainForm]\nZip1_ZipName=/keep/me.qvf\n");
  EXPECT_TRUE(host_.log.empty());
}

TEST_F(StartupTest, UnwritableSettingsAreReportedAndTheCloseGoesOn) {
  Start();
  fs::create_directories(Settings());  // a folder where the file should be
  ForgetRecentList();
  form_->FormClose();
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].Kind, qb::MsgKind::Error);
  EXPECT_TRUE(RecentListSaved());
}

// --- Exit and the View menu ---------------------------------------------------------------

TEST_F(StartupTest, ExitAsksAndViewMenuMirrorsVisibility) {
  ui_.Answer(MsgAnswer::Cancel).Answer(MsgAnswer::Ok);
  EXPECT_FALSE(form_->ExitMiClick());
  EXPECT_TRUE(form_->ExitMiClick());
  ASSERT_EQ(ui_.Boxes().size(), 2u);
  EXPECT_EQ(ui_.Boxes()[0].Describe(), "Confirmation 'Confirm' [OK/Cancel]: Are you sure you wish to quit?");

  Start();
  qb::TViewMenuState view = form_->ViewMiClick(true);
  EXPECT_TRUE(view.ToolbarMi);
  EXPECT_TRUE(view.ExplorerMi);
  EXPECT_TRUE(view.NoteMi);
  EXPECT_FALSE(view.ViewerMi);
  form_->DockableForm().FormClose();
  view = form_->ViewMiClick(false);
  EXPECT_FALSE(view.ToolbarMi);
  EXPECT_FALSE(view.ExplorerMi);
}

}  // namespace
}  // namespace qbtest
