// Open and New File Cabinet, the rebuilt tree, the settings they keep, expand and
// collapse all, the Edit menu's enablement, the legend and the top-level error box.
#include <filesystem>

#include "app_test_support.h"

namespace qbtest {
namespace {

using qb::MsgAnswer;

TEST_F(MainFormTest, OpenAsksWithTheCabinetDialogAndShowsTheCabinet) {
  Put("Pics\\Logo", "bmp", Bytes("F2FCG4GC"));
  Put("NewItems\\Item0", "t", Bytes("F1FCG3GCNnNC"));
  form_->Properties().OpenDialogInitialDir = "/somewhere";
  ui_.ChooseFile(cabinet_);
  form_->OpenMiClick();

  ASSERT_EQ(ui_.FileDialogs().size(), 1u);
  const qb::TFileDialogRequest& dialog = ui_.FileDialogs()[0];
  EXPECT_EQ(dialog.Kind, qb::TFileDialogKind::Open);
  EXPECT_EQ(dialog.Options,
            qb::ofHideReadOnly | qb::ofPathMustExist | qb::ofFileMustExist | qb::ofEnableSizing);
  EXPECT_EQ(dialog.Title, "Open A File Cabinet");
  EXPECT_EQ(dialog.Filter, "File Cabinet  (*.qvf)|*.qvf");
  EXPECT_EQ(dialog.DefaultExt, "qvf");
  EXPECT_EQ(dialog.InitialDir, "/somewhere");

  EXPECT_EQ(form_->Zip1().ZipName(), cabinet_);
  EXPECT_EQ(form_->Properties().PreviousCabinet, "");
  EXPECT_EQ(form_->Properties().OpenDialogInitialDir, dir_.Path().string());
  EXPECT_EQ(Dump(),
            "Work [13]\n"
            "  NewItems [1]\n"
            "    Item0 [3] note\n"
            "  Pics [1]\n"
            "    Logo [4]\n");
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(ui_.HourglassDepth(), 0);
}

TEST_F(MainFormTest, SwitchingCabinetsRemembersThePreviousOneAndClearsThePanes) {
  std::vector<std::string> shown;
  form_->OnCabinetShown = [&](const std::string& path) { shown.push_back(path); };
  Put("a", "1", Bytes("F1FCG3GC"));
  OpenWork();
  form_->NoteForm().SetMemo1Text("typed");
  form_->ViewerForm().ShowPicture("BM");
  const std::string other = dir_ / "Other.qvf";
  Put("b", "2", Bytes("F1FCG3GC"), other);
  Open(other);
  EXPECT_EQ(form_->Properties().PreviousCabinet, cabinet_);
  EXPECT_EQ(Dump(), "Other [13]\n  b [3]\n");
  EXPECT_EQ(form_->NoteForm().Memo1Text(), "");
  EXPECT_FALSE(form_->ViewerForm().Image1Visible());
  EXPECT_TRUE(form_->ViewerForm().Memo1Visible());
  EXPECT_EQ(shown, (std::vector<std::string>{cabinet_, other}));
}

// Start-up, the dialogs and Re-Open all open through OpenCabinet; they differ
// only in what they check and remember.
TEST_F(MainFormTest, EachWayOfOpeningRemembersWhatItsSourceSays) {
  using Opening = qb::TMainForm::TCabinetOpening;
  const std::string other = dir_ / "sub/Other.qvf";
  std::filesystem::create_directories(dir_ / "sub");
  Put("a", "1", Bytes("F1FCG3GC"));
  Put("b", "2", Bytes("F1FCG3GC"), other);
  form_->Properties().PreviousCabinet = "/stored/Previous.qvf";
  form_->Properties().OpenDialogInitialDir = "/stored";

  // Start-up: nothing was open, so the stored previous cabinet stays.
  form_->OpenCabinet(cabinet_, Opening::StartUp);
  EXPECT_EQ(Dump(), "Work [13]\n  a [3]\n");
  EXPECT_EQ(form_->Properties().PreviousCabinet, "/stored/Previous.qvf");
  EXPECT_EQ(form_->Properties().OpenDialogInitialDir, "/stored");

  // Re-Open: the old one becomes the previous one; the dialog's folder stays.
  form_->OpenCabinet(other, Opening::ReOpen);
  EXPECT_EQ(Dump(), "Other [13]\n  b [3]\n");
  EXPECT_EQ(form_->Properties().PreviousCabinet, cabinet_);
  EXPECT_EQ(form_->Properties().OpenDialogInitialDir, "/stored");

  // The dialogs: both.
  form_->OpenCabinet(cabinet_, Opening::Dialog);
  EXPECT_EQ(form_->Properties().PreviousCabinet, other);
  EXPECT_EQ(form_->Properties().OpenDialogInitialDir, dir_.Path().string());

  // A Re-Open of a file that is gone says so and changes nothing; the other
  // sources open a cabinet that does not exist yet (New) as an empty one.
  const std::string gone = dir_ / "Gone.qvf";
  form_->OpenCabinet(gone, Opening::ReOpen);
  EXPECT_EQ(ui_.BoxLog(), (std::vector<std::string>{"Error 'Error' [OK]: " + gone +
                                                    "\r\ndoes not exist! (probably deleted or moved)"}));
  EXPECT_EQ(form_->Zip1().ZipName(), cabinet_);
  EXPECT_EQ(form_->Properties().PreviousCabinet, other);
  EXPECT_EQ(Dump(), "Work [13]\n  a [3]\n");
  form_->OpenCabinet(gone, Opening::Dialog);
  EXPECT_EQ(Dump(), "Gone [13]\n");
}

TEST_F(MainFormTest, CancelledDialogChangesNothing) {
  OpenWork();
  const std::string before = Dump();
  ui_.CancelFile();
  form_->OpenMiClick();
  ui_.CancelFile();
  form_->NewMiClick();
  EXPECT_EQ(form_->Zip1().ZipName(), cabinet_);
  EXPECT_EQ(Dump(), before);
  EXPECT_EQ(form_->Properties().PreviousCabinet, "");
}

TEST_F(MainFormTest, NewWritesNoFileAndShowsTheRootAlone) {
  const std::string fresh = dir_ / "Fresh.qvf";
  ui_.ChooseFile(fresh);
  form_->NewMiClick();
  ASSERT_EQ(ui_.FileDialogs().size(), 1u);
  EXPECT_EQ(ui_.FileDialogs()[0].Title, "Create A File Cabinet");
  EXPECT_EQ(ui_.FileDialogs()[0].Kind, qb::TFileDialogKind::Save);
  EXPECT_EQ(ui_.FileDialogs()[0].Options,
            qb::ofOverwritePrompt | qb::ofHideReadOnly | qb::ofPathMustExist | qb::ofEnableSizing);
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_EQ(Dump(), "Fresh [13]\n");
  EXPECT_EQ(form_->Zip1().ZipName(), fresh);
}

TEST_F(MainFormTest, NewOnAnExistingFileOpensItUntouched) {
  Put("keep", "data", Bytes("F1FCG3GC"));
  const std::vector<uint8_t> before = FileBytes();
  ui_.ChooseFile(cabinet_);
  form_->NewMiClick();
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(Dump(), "Work [13]\n  keep [3]\n");
}

TEST_F(MainFormTest, AFileThatIsNoCabinetShowsTheRootAndRefusesWritesUnchanged) {
  WriteFileText(cabinet_, "this is not a zip archive at all");
  OpenWork();
  EXPECT_EQ(Dump(), "Work [13]\n");
  ui_.EditorOk({"x"}).Input("NewItems\\Item0");
  EXPECT_FALSE(qb::RunCommand(ui_, [&] { form_->AddNewItemMiClick(); }));
  EXPECT_EQ(ui_.BoxLog(), (std::vector<std::string>{"Error 'Error' [OK]: Incomplete Zip File"}));
  EXPECT_EQ(ReadFileText(cabinet_), "this is not a zip archive at all");
  EXPECT_EQ(Dump(), "Work [13]\n");
  EXPECT_EQ(form_->PayloadStream().Size(), 0u);
}

// A cabinet whose end record lost count of its entries: opened, it shows every
// item it holds, says it is damaged and offers a repair. Declined, the file stays
// as it is and a save is refused; accepted, the cabinet is rewritten and the
// damaged file kept beside it.
TEST_F(MainFormTest, ADamagedCabinetIsShownAndARepairOffered) {
  for (const char* name : {"A\\one", "A\\two", "B\\three"}) Put(name, "data", Bytes("F1FCG3GC"));
  auto bytes = qbtest::ReadFileBytes(cabinet_);
  bytes[bytes.size() - 22 + 8] = 1;
  bytes[bytes.size() - 22 + 10] = 1;
  qbtest::WriteFileBytes(cabinet_, bytes);
  const std::string shown = "Work [13]\n  A [1]\n    one [3]\n    two [3]\n  B [1]\n    three [3]\n";

  ui_.ChooseFile(cabinet_).Answer(MsgAnswer::No);
  form_->OpenMiClick();
  EXPECT_EQ(Dump(), shown);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_NE(
      ui_.Boxes()[0].Text.find("is damaged: the end record counts 1 entries, the central directory holds 3"),
      std::string::npos)
      << ui_.Boxes()[0].Text;
  EXPECT_EQ(ui_.Boxes()[0].Buttons, qb::MsgButtons::YesNo);
  ui_.ClearRecords();
  ui_.EditorOk({"x"}).Input("NewItems\\Item0");
  EXPECT_FALSE(qb::RunCommand(ui_, [&] { form_->AddNewItemMiClick(); }));
  EXPECT_EQ(qbtest::ReadFileBytes(cabinet_), bytes);

  ui_.ClearRecords();
  ui_.ChooseFile(dir_ / "Other.qvf");
  form_->NewMiClick();
  ui_.ChooseFile(cabinet_).Answer(MsgAnswer::Yes);
  form_->OpenMiClick();
  EXPECT_EQ(Dump(), shown);
  EXPECT_EQ(qbtest::ReadFileBytes(cabinet_ + ".damaged"), bytes);
  EXPECT_EQ(ui_.Boxes().back().Text,
            "The File Cabinet was repaired. The damaged file was kept as " + cabinet_ + ".damaged.");
  EXPECT_EQ(form_->Zip1().DirectoryDamage(), "");
  qb::zip::TZipReader fresh;
  fresh.SetZipName(cabinet_);
  fresh.ReadDirectory();
  EXPECT_EQ(fresh.EntryCount(), 3);
  EXPECT_EQ(fresh.DirectoryDamage(), "");
}

TEST_F(MainFormTest, ExpandAllAndCollapseAll) {
  Put("A\\B\\x", "1", Bytes("F1FCG3GC"));
  Put("C\\y", "1", Bytes("F1FCG3GC"));
  OpenWork();
  form_->DisplayAllMiClick();
  EXPECT_EQ(Tree().VisibleNodes().size(), 6u);
  form_->CollapseAllMiClick();
  EXPECT_EQ(Tree().VisibleNodes().size(), 1u);
}

TEST_F(MainFormTest, EditMenuEnablementFollowsTheSelectedItem) {
  Put("text", "t", Bytes("F1FCG3GC"));
  Put("oem", "t", Bytes("F7FCG7GCNnoteNC"));
  Put("pic", "b", Bytes("F2FCG4GC"));
  Put("bad", "b", Bytes("FxFCG4GC"));
  OpenWork();
  qb::TEditMenuState none = form_->EditMiClick();
  EXPECT_FALSE(none.AddNoteMi || none.RenameMi || none.DeleteMi || none.EditTextItemMi || none.DeleteNoteMi);
  Tree().SetSelected(Tree().Root());  // a container is no item
  EXPECT_FALSE(form_->EditMiClick().RenameMi);

  Select("text");
  qb::TEditMenuState text = form_->EditMiClick();
  EXPECT_TRUE(text.AddNoteMi && text.ChangeGlyphMi && text.RenameMi && text.DeleteMi && text.CopyMi &&
              text.MoveMi);
  EXPECT_TRUE(text.EditTextItemMi);
  EXPECT_FALSE(text.DeleteNoteMi);
  Select("oem");
  EXPECT_TRUE(form_->EditMiClick().EditTextItemMi);
  EXPECT_TRUE(form_->EditMiClick().DeleteNoteMi);
  Select("pic");
  EXPECT_FALSE(form_->EditMiClick().EditTextItemMi);
  Select("bad");  // a damaged format field disables, it does not throw
  EXPECT_FALSE(form_->EditMiClick().EditTextItemMi);
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(MainFormTest, LegendListsEveryGlyphWithASingleOkButton) {
  form_->UserGlyphNames() = {"Mine"};
  form_->DockableForm().SetGlyphImageCount(23);
  ui_.GlyphOk(-1);
  form_->LegendMiClick();
  ASSERT_EQ(ui_.GlyphDialogs().size(), 1u);
  const qb::TGlyphDialogRequest& legend = ui_.GlyphDialogs()[0];
  EXPECT_EQ(legend.Mode, qb::TGlyphDialogMode::Legend);
  EXPECT_EQ(legend.Caption, "Legend");
  EXPECT_FALSE(legend.CancelVisible);
  ASSERT_EQ(legend.Rows.size(), 23u);
  EXPECT_EQ(legend.Rows[22].Caption, "Mine");
}

}  // namespace
}  // namespace qbtest

namespace qbtest {
namespace {

TEST_F(MainFormTest, ACabinetThatCannotBeReadEndsTheRebuildCleanly) {
  // An end record whose directory lies beyond the file, and no local header.
  std::string eocd = "PK\x05\x06";
  eocd += std::string("\0\0\0\0\x01\0\x01\0\x2E\0\0\0\xE8\x03\0\0\0\0", 18);
  WriteFileText(cabinet_, eocd);
  std::vector<std::string> shown;
  form_->OnCabinetShown = [&](const std::string& path) { shown.push_back(path); };
  ui_.ChooseFile(cabinet_);
  const bool ok = qb::RunCommand(ui_, [&] { form_->OpenMiClick(); });
  EXPECT_EQ(ReadFileText(cabinet_), eocd);
  EXPECT_FALSE(Tree().Updating());
  EXPECT_EQ(ui_.HourglassDepth(), 0);
  EXPECT_EQ(shown.size(), 1u);
  EXPECT_FALSE(ok);
  EXPECT_EQ(ui_.BoxLog(), (std::vector<std::string>{"Error 'Error' [OK]: Not a valid zip file!"}));
  EXPECT_TRUE(Tree().Empty());
}

}  // namespace
}  // namespace qbtest
