// The tray menu: the newest items of a real cabinet (dates, ties, drawers, texts
// cut in the middle of a character, a damaged item), and its entries run through
// the main form: loading an item, the switches and what they leave in the
// settings file for the next start.
#include "app/tray_menu.h"

#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "clipboard/clip_formats.h"
#include "finder/cabinet_index.h"
#include "platform/ini_file.h"
#include "zip/zip_reader.h"

namespace qbtest {
namespace {

using qb::TTrayCommand;
using qb::TTrayEntry;

// Written by Python's zipfile: the dates are chosen, not the writer's clock.
// F = 0x8C, G = 0xA5, N = 0xA7, C = 0xBF spell the comment markers.
constexpr const char* kMakeCabinet = R"(
import sys, zipfile
def comment(fmt, glyph):
    return b'\x8c' + str(fmt).encode() + b'\x8c\xbf\xa5' + str(glyph).encode() + b'\xa5\xbf'
items = [
    # name, date, data, format
    ('Old\\First', (2020, 1, 1, 0, 0, 0), b'the first clip\x00', 1),
    ('NewItems\\Item0', (2024, 5, 1, 10, 0, 0), b'tie one\x00', 1),
    ('NewItems\\Item1', (2024, 5, 1, 10, 0, 0), b'tie two\x00', 1),
    ('NewItems\\Item2', (2024, 5, 2, 9, 0, 0), ('\u00e9' * 3000).encode() + b'\x00', 1),
    ('NewItems\\Item3', (2024, 5, 3, 9, 0, 0), b'DAMAGEME' * 4, 1),
    ('NewItems\\Item4', (2024, 5, 4, 9, 0, 0), b'RIFF', 12),
    ('A\\Newest', (2025, 1, 1, 0, 0, 0), b'  newest\r\n  text \x00', 1),
]
for n in range(5, 10):
    items.append(('NewItems\\Item%d' % n, (2023, 1, n, 0, 0, 0), b'item %d\x00' % n, 1))
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr(zipfile.ZipInfo('Empty\\', (2030, 1, 1, 0, 0, 0)), b'')  # a drawer, newest of all
    for name, date, data, fmt in items:
        info = zipfile.ZipInfo(name, date)
        info.comment = comment(fmt, 3)
        z.writestr(info, data)
raw = open(sys.argv[1], 'rb').read()
open(sys.argv[1], 'wb').write(raw.replace(b'DAMAGEME', b'DAMAGEMF', 1))
)";

class TrayMenuTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    WriteFileText(dir_ / "make.py", kMakeCabinet);
    const auto made = RunCommand("python3 " + ShellQuote(dir_ / "make.py") + " " + ShellQuote(cabinet_));
    ASSERT_EQ(made.exit_code, 0) << made.errors;
  }

  std::vector<std::string> Captions(const std::vector<TTrayEntry>& entries) {
    std::vector<std::string> out;
    for (const TTrayEntry& e : entries)
      out.push_back(e.IsSeparator() ? "-" : (e.CheckItem ? (e.Checked ? "[x] " : "[ ] ") : "") + e.Caption);
    return out;
  }
  const TTrayEntry& Entry(const std::vector<TTrayEntry>& entries, TTrayCommand command) {
    for (const TTrayEntry& e : entries)
      if (e.Command == command) return e;
    static const TTrayEntry none;
    ADD_FAILURE() << "no such entry";
    return none;
  }
  std::string ClipText() {
    qb::TClipboardLock lock(form_->Clipboard());
    const auto block = form_->Clipboard().GetBlock(qb::CF_TEXT);
    return block ? std::string(block->begin(), block->end()) : std::string("<none>");
  }
};

TEST_F(TrayMenuTest, TheTenNewestItemsByStoredDateWithTheirPreviews) {
  const std::vector<qb::TRecentItem> items = qb::NewestItems(cabinet_, 10);
  std::vector<std::string> paths;
  for (const auto& item : items) paths.push_back(item.Path);
  // The drawer entry is no item; items of one date keep the cabinet's order; the
  // two oldest are left out.
  EXPECT_EQ(paths,
            (std::vector<std::string>{"A\\Newest", "NewItems\\Item4", "NewItems\\Item3", "NewItems\\Item2",
                                      "NewItems\\Item0", "NewItems\\Item1", "NewItems\\Item9",
                                      "NewItems\\Item8", "NewItems\\Item7", "NewItems\\Item6"}));
  ASSERT_EQ(items.size(), 10u);
  EXPECT_EQ(qb::TrayItemCaption(items[0]), "newest text");
  // A long text read in part is still UTF-8, cut to the caption's length.
  const std::string cut = qb::TrayItemCaption(items[3]);
  EXPECT_EQ(cut.rfind("\u00e9\u00e9\u00e9", 0), 0u) << cut;
  EXPECT_EQ(cut.find("\u00c3"), std::string::npos) << cut;  // not read as Windows-1252
  EXPECT_LE(cut.size(), 2 * qb::tray_menu::kCaptionChars + 3);
  // A damaged item is listed by its name.
  EXPECT_EQ(items[2].Preview.rfind("Cannot be read: it ", 0), 0u) << items[2].Preview;
  EXPECT_EQ(qb::TrayItemCaption(items[2]), "Item3");
  EXPECT_EQ(qb::TrayItemCaption(items[4]), "tie one");

  EXPECT_EQ(qb::NewestItems(cabinet_, 3).size(), 3u);
  EXPECT_TRUE(qb::NewestItems("", 10).empty());
  // A file that is no cabinet lists nothing (or says why).
  WriteFileText(dir_ / "junk.qvf", "not a cabinet at all");
  std::vector<qb::TRecentItem> junk;
  try {
    junk = qb::NewestItems(dir_ / "junk.qvf", 10);
  } catch (const std::exception&) {
  }
  EXPECT_TRUE(junk.empty());
}

TEST_F(TrayMenuTest, TheLoadedDirectoryAndTheSearchIndexGiveWhatAReaderOfItsOwnGives) {
  auto lines = [](const std::vector<qb::TRecentItem>& items) {
    std::vector<std::string> out;
    for (const auto& item : items)
      out.push_back(item.Path + " | " + qb::TrayItemCaption(item) + " | " + std::to_string(item.DosDateTime));
    return out;
  };
  const std::vector<std::string> own = lines(qb::NewestItems(cabinet_, 10));
  ASSERT_EQ(own.size(), 10u);
  qb::zip::TZipReader zip;
  zip.SetSortMode(qb::zip::TZipSortMode::ByName);
  zip.SetZipName(cabinet_);
  zip.ReadDirectory();
  EXPECT_EQ(lines(qb::NewestItems(zip, 10)), own);
  EXPECT_FALSE(zip.KeepZipOpen());  // lent and given back as it was
  EXPECT_TRUE(zip.DoProcessMessages());
  qb::finder::TCabinetIndex index = qb::finder::TCabinetIndex::Read(zip);
  EXPECT_EQ(lines(qb::NewestItems(index, 10)), own);

  // An index that followed changes: a removed item is not listed; an item added
  // since, of a date it shares, takes its place in the cabinet's order.
  const int newest = index.Find("A\\Newest");
  ASSERT_GE(newest, 0);
  index.Remove(newest);
  index.Rename(index.Find("NewItems\\Item1"), "NewItems\\Item0a");
  std::vector<std::string> paths;
  for (const auto& item : qb::NewestItems(index, 6)) paths.push_back(item.Path);
  EXPECT_EQ(paths, (std::vector<std::string>{"NewItems\\Item4", "NewItems\\Item3", "NewItems\\Item2",
                                             "NewItems\\Item0", "NewItems\\Item0a", "NewItems\\Item9"}));
  index.Rename(index.Find("NewItems\\Item0a"), "NewItems\\A");
  EXPECT_EQ(qb::NewestItems(index, 4).back().Path, "NewItems\\A");
}

TEST_F(TrayMenuTest, TheMenuAndItsEntriesThroughTheForm) {
  // No cabinet: said, and the switches are there.
  EXPECT_EQ(
      Captions(form_->TrayMenu()),
      (std::vector<std::string>{"No File Cabinet is open", "-", "[ ] &Auto Save", "[ ] Auto Save At &Start",
                                "[ ] &Keep In Tray When Closed", "-", "S&how Quiverbox", "E&xit"}));
  EXPECT_FALSE(form_->TrayMenu()[0].Enabled);

  OpenWork();
  std::vector<TTrayEntry> menu = form_->TrayMenu();
  ASSERT_EQ(menu.size(), 17u);
  EXPECT_EQ(menu[0].Caption, "newest text");
  EXPECT_EQ(menu[0].Hint, "A\\Newest\n2025-01-01 00:00:00");
  EXPECT_EQ(menu[10].Caption, "");

  // Choosing one loads it as Load does, whatever the tree has selected.
  EXPECT_TRUE(form_->TrayCommand(menu[4]));
  EXPECT_EQ(ClipText(), std::string("tie one\0", 8));
  EXPECT_TRUE(ui_.Log().empty());

  // An item gone meanwhile is said, and the clipboard stays.
  TTrayEntry gone = menu[0];
  Select("A\\Newest");
  ui_.Answer(qb::MsgAnswer::Yes);
  form_->DeleteMiClick();
  ui_.ClearRecords();
  EXPECT_TRUE(form_->TrayCommand(gone));
  EXPECT_EQ(ui_.BoxLog(), (std::vector<std::string>{
                              "Error 'Error' [OK]: Unable to locate A\\Newest\r\nwithin the File Cabinet!"}));
  EXPECT_EQ(ClipText(), std::string("tie one\0", 8));
  EXPECT_EQ(form_->TrayMenu()[0].Caption, "Item4 (Wave)");

  // Auto Save is the Clipboard menu's switch, both ways.
  EXPECT_TRUE(form_->TrayCommand(Entry(form_->TrayMenu(), TTrayCommand::AutoSave)));
  EXPECT_TRUE(form_->ClipboardCommands().AutoSave());
  form_->AutoSaveMiClick();
  EXPECT_FALSE(Entry(form_->TrayMenu(), TTrayCommand::AutoSave).Checked);

  // Show and Exit are the window's.
  EXPECT_FALSE(form_->TrayCommand(Entry(form_->TrayMenu(), TTrayCommand::Show)));
  EXPECT_FALSE(form_->TrayCommand(Entry(form_->TrayMenu(), TTrayCommand::Exit)));
}

TEST_F(TrayMenuTest, StoredSwitchesAreWrittenAtOnceAndAutoSaveAtStartStartsAutoSave) {
  const std::string settings = form_->Paths().SettingsFile();
  ASSERT_TRUE(form_->FormCreate({}));
  form_->FormShow({});
  EXPECT_FALSE(form_->ClipboardCommands().AutoSave());  // off by default

  EXPECT_TRUE(form_->TrayCommand(Entry(form_->TrayMenu(), TTrayCommand::AutoSaveAtStart)));
  EXPECT_TRUE(form_->TrayCommand(Entry(form_->TrayMenu(), TTrayCommand::KeepInTray)));
  // Switching it on does not switch AutoSave on now.
  EXPECT_FALSE(form_->ClipboardCommands().AutoSave());
  qb::TIniFile written(settings);
  EXPECT_EQ(written.ReadString("TMainForm", "AutoSaveAtStartMi_Checked", ""), "True");
  EXPECT_EQ(written.ReadString("TMainForm", "KeepInTrayMi_Checked", ""), "True");
  EXPECT_TRUE(Entry(form_->TrayMenu(), TTrayCommand::KeepInTray).Checked);
  form_->FormClose();
  EXPECT_EQ(qb::TIniFile(settings).ReadString("TMainForm", "AutoSaveAtStartMi_Checked", ""), "True");

  // The next start: AutoSave on, and the switch still checked.
  form_ = std::make_unique<qb::TMainForm>(ui_, qb::TPaths::FromEnvironment());
  ASSERT_TRUE(form_->FormCreate({}));
  EXPECT_FALSE(form_->ClipboardCommands().AutoSave());
  form_->FormShow({});
  EXPECT_TRUE(form_->ClipboardCommands().AutoSave());
  EXPECT_TRUE(Entry(form_->TrayMenu(), TTrayCommand::AutoSaveAtStart).Checked);
  // Shut-down switches AutoSave off as ever; the stored switch stays.
  form_->FormClose();
  EXPECT_FALSE(form_->ClipboardCommands().AutoSave());
  EXPECT_EQ(qb::TIniFile(settings).ReadString("TMainForm", "AutoSaveAtStartMi_Checked", ""), "True");

  // A settings file that cannot be written: the switch flips, the error is thrown
  // for the caller to show.
  form_ = std::make_unique<qb::TMainForm>(ui_, qb::TPaths::FromEnvironment());
  fs::remove(settings);
  fs::create_directories(settings);
  EXPECT_ANY_THROW(form_->TrayCommand(Entry(form_->TrayMenu(), TTrayCommand::KeepInTray)));
}

}  // namespace
}  // namespace qbtest
