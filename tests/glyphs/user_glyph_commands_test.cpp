// Add To User Glyphs, Delete User Glyphs and the loading at start-up, through the
// main form with a real library file, real cabinets and scripted answers.
#include "glyphs/user_glyph_commands.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/app_test_support.h"
#include "platform/picture.h"

namespace qbtest {
namespace {

using qb::MsgAnswer;

class UserGlyphTest : public MainFormTest {
 protected:
  std::string Library() { return form_->Paths().UserGlyphLibrary(); }

  // A BMP file of the given size whose first pixel carries colour.
  std::string BmpFile(const std::string& name, int width, int height, uint32_t colour = 0x00FF00) {
    qb::TDib dib(width, height, 24);
    dib.SetPixel(0, 0, colour);
    const std::string path = dir_ / name;
    const std::vector<uint8_t> bytes = dib.WriteBmp();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  // Adds a glyph through the command: picture, then the title box's answer.
  void Add(const std::string& title, uint32_t colour = 0x00FF00) {
    ui_.ChooseFile(BmpFile("pic.bmp", 16, 16, colour)).Input(title);
    form_->AddUserGlyphsMiClick();
  }

  // The library's entry names as a fresh reader finds them, in archive order.
  std::vector<std::string> LibraryNames() {
    qb::zip::TZipWriter zip;
    zip.SetSortMode(qb::zip::TZipSortMode::ByNone);
    zip.SetZipName(Library());
    zip.ReadDirectory();
    std::vector<std::string> names;
    for (int i = 0; i < zip.EntryCount(); ++i) names.push_back(zip.EntryFullName(i));
    return names;
  }

  // A library of five glyphs a..e (indexes 22..26), loaded as at start-up.
  void FiveGlyphs() {
    for (const char* title : {"a", "b", "c", "d", "e"}) Add(title);
    ui_.ClearRecords();
  }

  // Items with the glyphs 22..26, a fixed one, -1, and one with a note.
  void PutGlyphItems(const std::string& cabinet) {
    Put("G22", "x", Bytes("F1FCG22GC"), cabinet);
    Put("G23", "x", Bytes("F1FCG23GC"), cabinet);
    Put("G24", "x", Bytes("G24GCF2FC"), cabinet);
    Put("G25", "x", Bytes("F1FCG25GC"), cabinet);
    Put("G26", "x", Bytes("F1FCG26GCN\xC3\xBCNC"), cabinet);
    Put("Fixed", "x", Bytes("F1FCG21GC"), cabinet);
    Put("None", "x", Bytes("F1FCG-1GC"), cabinet);
  }
  std::vector<std::string> Comments(const std::string& cabinet) {
    std::vector<std::string> out;
    for (const DiskEntry& e : Disk(cabinet)) out.push_back(e.Name + "=" + e.Comment);
    return out;
  }
  std::vector<std::string> Reindexed() {
    return {"Fixed=" + Bytes("F1FCG21GC"), "G22=" + Bytes("F1FCG22GC"),
            "G23=" + Bytes("G-1GCF1FC"),   "G24=" + Bytes("G23GCF2FC"),
            "G25=" + Bytes("G-1GCF1FC"),   "G26=" + Bytes("G24GCF1FCN\xC3\xBCNC"),
            "None=" + Bytes("F1FCG-1GC")};
  }
};

TEST_F(UserGlyphTest, TheFirstGlyphCreatesTheLibraryAtIndex22) {
  Put("x", "t", Bytes("F1FCG3GC"));
  OpenWork();
  ui_.ChooseFile(BmpFile("pic.bmp", 16, 16)).Input("UserGlyph0");
  form_->AddUserGlyphsMiClick();

  ASSERT_EQ(ui_.FileDialogs().size(), 1u);
  EXPECT_EQ(ui_.FileDialogs()[0].Title, "Choose Glyph To Add To UserGlyph.dll");
  EXPECT_EQ(ui_.FileDialogs()[0].DefaultExt, "bmp");
  ASSERT_EQ(ui_.InputBoxes().size(), 1u);
  EXPECT_EQ(ui_.InputBoxes()[0].Describe(),
            "'Glyph Legend Title' 'Provide a title for your glyph' 'UserGlyph0'");
  EXPECT_EQ(LibraryNames(), (std::vector<std::string>{"UserGlyph0"}));
  EXPECT_EQ(form_->UserGlyphNames(), (std::vector<std::string>{"UserGlyph0"}));
  EXPECT_EQ(form_->DockableForm().GlyphImageCount(), 23);
  EXPECT_EQ(form_->Properties().PicDlgInitialDir, dir_.Path().string());
  // The open cabinet is back in the archive object, sorted by name, and the tree
  // was left alone.
  EXPECT_EQ(form_->Zip1().ZipName(), cabinet_);
  EXPECT_EQ(form_->Zip1().SortMode(), qb::zip::TZipSortMode::ByName);
  EXPECT_EQ(Dump(), "Work [13]\n  x [3]\n");
  EXPECT_TRUE(ui_.Boxes().empty());

  // The new glyph is offered at once, and can be given to an item.
  Select("x");
  ui_.GlyphOk(19);  // 11 rows for 2..12, 8 for 14..21, then glyph 22
  form_->ChangeGlyphMiClick();
  EXPECT_EQ(ui_.GlyphDialogs().back().Rows.back().Caption, "UserGlyph0");
  EXPECT_EQ(Disk()[0].Comment, Bytes("G22GCF1FC"));
}

TEST_F(UserGlyphTest, OnlyTheSizeIsChecked) {
  ui_.ChooseFile(BmpFile("wide.bmp", 17, 16));
  form_->AddUserGlyphsMiClick();
  ui_.ChooseFile(BmpFile("tall.bmp", 16, 17));
  form_->AddUserGlyphsMiClick();
  EXPECT_EQ(ui_.BoxLog(),
            (std::vector<std::string>(
                2,
                "Error 'Error' [OK]: Glyphs are required to be no bigger than 16 x 16,\r\nhave a "
                "maximum of 256 colours, and a background colour of clFuchsia")));
  EXPECT_FALSE(std::filesystem::exists(Library()));
  ui_.ClearRecords();

  ui_.ChooseFile(BmpFile("small.bmp", 3, 5)).Input("small");
  form_->AddUserGlyphsMiClick();
  EXPECT_EQ(LibraryNames(), (std::vector<std::string>{"small"}));

  // Not a picture: the reader's error, nothing stored.
  std::ofstream(dir_ / "junk.bmp") << "no picture";
  ui_.ChooseFile(dir_ / "junk.bmp");
  EXPECT_THROW(form_->AddUserGlyphsMiClick(), qb::EInvalidGraphic);
  ui_.CancelFile();
  form_->AddUserGlyphsMiClick();
  EXPECT_EQ(LibraryNames(), (std::vector<std::string>{"small"}));
}

TEST_F(UserGlyphTest, TitlesAreProposedAndCheckedWithCaseFolded) {
  OpenWork();
  Add("UserGlyph0");
  Add("usERglyph1");
  Add("UserGlyph3");
  ui_.ClearRecords();

  // The proposal skips the taken numbers; a title used with other letter case
  // asks again, pre-filled with what was typed; Cancel there stores nothing.
  ui_.ChooseFile(BmpFile("pic.bmp", 16, 16)).Input("USERGLYPH0").CancelInput();
  form_->AddUserGlyphsMiClick();
  ASSERT_EQ(ui_.InputBoxes().size(), 2u);
  EXPECT_EQ(ui_.InputBoxes()[0].InitialText, "UserGlyph2");
  EXPECT_EQ(ui_.InputBoxes()[1].Describe(),
            "'Glyph Name Already Exists!' 'Supply a different name for this glyph' 'USERGLYPH0'");
  EXPECT_EQ(LibraryNames().size(), 3u);
  EXPECT_EQ(form_->Zip1().ZipName(), cabinet_);
  ui_.ClearRecords();

  // A blank title is refused and asked for again; a new title is stored at once.
  ui_.ChooseFile(BmpFile("pic.bmp", 16, 16)).Input("   ").Input("\\UserGlyph1").Input("Fresh");
  form_->AddUserGlyphsMiClick();
  EXPECT_EQ(ui_.BoxLog(),
            (std::vector<std::string>{"Error 'Error' [OK]: A glyph needs a title: it may not be "
                                      "empty or only blanks."}));
  EXPECT_EQ(ui_.InputBoxes()[2].Caption, "Glyph Name Already Exists!");
  EXPECT_EQ(LibraryNames(), (std::vector<std::string>{"UserGlyph0", "usERglyph1", "UserGlyph3", "Fresh"}));
  EXPECT_EQ(form_->DockableForm().GlyphImageCount(), 26);
}

TEST_F(UserGlyphTest, GlyphsComeBackInTheOrderOfAddingAfterARestart) {
  Add("zeta", 0x0000FF);
  Add("Alpha", 0x00FF00);
  Add("mid", 0xFF0000);
  const auto glyphs = form_->UserGlyphs().Glyphs();

  form_ = std::make_unique<qb::TMainForm>(ui_, qb::TPaths::FromEnvironment());
  EXPECT_EQ(form_->DockableForm().GlyphImageCount(), 22);
  std::vector<qb::glyphs::TUserGlyph> told;
  form_->UserGlyphs().OnGlyphsChanged = [&](const std::vector<qb::glyphs::TUserGlyph>& g) { told = g; };
  ASSERT_TRUE(form_->FormCreate({}));
  form_->FormShow({});
  EXPECT_EQ(form_->UserGlyphNames(), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
  EXPECT_EQ(told, glyphs);
  EXPECT_EQ(qb::TDib::ReadBmp(told[2].Bitmap).PixelColor(0, 0), qb::Rgb(255, 0, 0));
  EXPECT_EQ(form_->DockableForm().GlyphImageCount(), 25);
  EXPECT_EQ(form_->Zip1().SortMode(), qb::zip::TZipSortMode::ByName);
  form_->FormClose();
}

TEST_F(UserGlyphTest, AnUnreadableLibraryIsReportedKeptAndOnlyReplacedWhenTheUserSaysSo) {
  std::filesystem::create_directories(home_);
  std::ofstream(Library()) << "this is not an archive";
  ASSERT_TRUE(form_->FormCreate({}));
  form_->FormShow({});
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].Kind, qb::MsgKind::Warning);
  EXPECT_NE(ui_.Boxes()[0].Text.find("cannot be read"), std::string::npos);
  EXPECT_EQ(form_->DockableForm().GlyphImageCount(), 22);
  ui_.ClearRecords();

  // Nothing can be deleted from it.
  form_->RemoveUserGlyphsMiClick();
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_NE(ui_.Boxes()[0].Text.find("No glyph can be deleted"), std::string::npos);
  ui_.ClearRecords();

  // Adding asks first; No leaves the file as it is.
  ui_.ChooseFile(BmpFile("pic.bmp", 16, 16)).Answer(MsgAnswer::No);
  form_->AddUserGlyphsMiClick();
  EXPECT_EQ(ReadFileText(Library()), "this is not an archive");
  ui_.ChooseFile(BmpFile("pic.bmp", 16, 16)).Answer(MsgAnswer::Yes).Input("first");
  form_->AddUserGlyphsMiClick();
  EXPECT_EQ(ui_.Boxes()[1].Buttons, qb::MsgButtons::YesNo);
  EXPECT_EQ(ReadFileText(Library() + ".damaged"), "this is not an archive");
  EXPECT_EQ(LibraryNames(), (std::vector<std::string>{"first"}));
  EXPECT_EQ(form_->UserGlyphs().LibraryProblem(), "");
  form_->FormClose();
}

TEST_F(UserGlyphTest, DeletionReindexesTheOpenAndTheReOpenCabinets) {
  const std::string other = dir_ / "Other.qvf", third = dir_ / "Third.qvf";
  PutGlyphItems(cabinet_);
  PutGlyphItems(other);
  PutGlyphItems(third);
  FiveGlyphs();
  // The Re-Open list names the open cabinet (done already) and the other one.
  form_->RecentFiles1().AddFile(other);
  OpenWork();
  ASSERT_EQ(form_->RecentFiles1().Paths().size(), 2u);

  // Rows 1 and 3 are the glyphs 23 and 25. The third cabinet is chosen in the
  // loop, after a cancelled dialog and a choice of the open cabinet (skipped).
  ui_.GlyphOk(3, {1, 3})
      .Answer(MsgAnswer::Yes)
      .Answer(MsgAnswer::Yes)
      .CancelFile()
      .Answer(MsgAnswer::Yes)
      .ChooseFile(cabinet_)
      .Answer(MsgAnswer::Yes)
      .ChooseFile(third)
      .Answer(MsgAnswer::No);
  form_->RemoveUserGlyphsMiClick();

  const qb::TGlyphDialogRequest& dialog = ui_.GlyphDialogs().at(0);
  EXPECT_EQ(dialog.Caption, "Select glyphs for deletion");
  EXPECT_EQ(dialog.ColumnCaption, "Glyphs Available For Deletion");
  EXPECT_TRUE(dialog.MultiSelect);
  ASSERT_EQ(dialog.Rows.size(), 5u);
  EXPECT_EQ(dialog.Rows[1].Caption, "b");
  EXPECT_EQ(dialog.Rows[1].ImageIndex, 23);

  EXPECT_EQ(Comments(cabinet_), Reindexed());
  EXPECT_EQ(Comments(other), Reindexed());
  EXPECT_EQ(Comments(third), Reindexed());
  EXPECT_EQ(LibraryNames(), (std::vector<std::string>{"a", "c", "e"}));
  EXPECT_EQ(form_->UserGlyphNames(), (std::vector<std::string>{"a", "c", "e"}));
  EXPECT_EQ(form_->DockableForm().GlyphImageCount(), 25);
  EXPECT_EQ(
      ui_.BoxLog(),
      (std::vector<std::string>{
          "Confirmation 'Confirm' [Yes/No]: Do you wish to update the image indexes within the\r\nFile "
          "Cabinets listed in your ReOpen menu ?",
          "Confirmation 'Confirm' [Yes/No]: Is there another File Cabinet you wish to amend the alocated "
          "glyphs for?",
          "Confirmation 'Confirm' [Yes/No]: Is there another File Cabinet you wish to amend the alocated "
          "glyphs for?",
          "Information 'Information' [OK]: " + cabinet_ +
              "\r\nhas already been updated in this deletion; it is not changed again.",
          "Confirmation 'Confirm' [Yes/No]: Is there another File Cabinet you wish to amend the alocated "
          "glyphs for?",
          "Confirmation 'Confirm' [Yes/No]: Is there another File Cabinet you wish to amend the alocated "
          "glyphs for?"}));
  EXPECT_EQ(ui_.FileDialogs().at(0).Title, "Open A File Cabinet For Glyph Resorting");
  // The open cabinet is back, and the tree shows the new indexes (-1: default 2).
  EXPECT_EQ(form_->Zip1().ZipName(), cabinet_);
  EXPECT_EQ(form_->Zip1().SortMode(), qb::zip::TZipSortMode::ByName);
  EXPECT_EQ(
      Dump(),
      "Work [13]\n  Fixed [21]\n  G22 [22]\n  G23 [2]\n  G24 [23]\n  G25 [2]\n  G26 [24] note\n  None [2]\n");
  EXPECT_EQ(ui_.HourglassDepth(), 0);
}

TEST_F(UserGlyphTest, CancelOrNoRowSelectedChangesNoFile) {
  PutGlyphItems(cabinet_);
  FiveGlyphs();
  OpenWork();
  const std::vector<uint8_t> cabinet_bytes = FileBytes(), library_bytes = ReadFileBytes(Library());
  ui_.GlyphCancel();
  form_->RemoveUserGlyphsMiClick();
  EXPECT_TRUE(ui_.BoxLog().empty());
  // OK with no row: the steps run and change nothing.
  ui_.GlyphOk(-1, {}).Answer(MsgAnswer::Yes).Answer(MsgAnswer::No);
  form_->RemoveUserGlyphsMiClick();
  EXPECT_EQ(ui_.BoxLog().size(), 2u);
  EXPECT_EQ(FileBytes(), cabinet_bytes);
  EXPECT_EQ(ReadFileBytes(Library()), library_bytes);
  EXPECT_EQ(form_->UserGlyphNames().size(), 5u);
}

TEST_F(UserGlyphTest, ACabinetThatCannotBeUpdatedDoesNotStopTheOthers) {
  const std::string locked = dir_ / "Locked.qvf", other = dir_ / "Other.qvf";
  PutGlyphItems(cabinet_);
  PutGlyphItems(locked);
  PutGlyphItems(other);
  ::chmod(locked.c_str(), 0444);
  FiveGlyphs();
  form_->RecentFiles1().AddFile(other);
  form_->RecentFiles1().AddFile(locked);
  OpenWork();
  ui_.GlyphOk(3, {1, 3}).Answer(MsgAnswer::Yes).Answer(MsgAnswer::No);
  form_->RemoveUserGlyphsMiClick();
  EXPECT_EQ(Comments(cabinet_), Reindexed());
  EXPECT_EQ(Comments(other), Reindexed());
  ASSERT_EQ(ui_.Boxes().size(), 3u);
  EXPECT_EQ(ui_.Boxes()[2].Kind, qb::MsgKind::Warning);
  EXPECT_EQ(ui_.Boxes()[2].Text.rfind("These File Cabinets could not be updated", 0), 0u);
  EXPECT_NE(ui_.Boxes()[2].Text.find(locked), std::string::npos);
  ::chmod(locked.c_str(), 0644);
}

TEST_F(UserGlyphTest, ALibraryChangedByAnotherProgramIsNotDeletedFrom) {
  FiveGlyphs();
  OpenWork();
  {
    // Another instance adds a glyph meanwhile.
    qb::zip::TZipWriter zip;
    zip.SetSortMode(qb::zip::TZipSortMode::ByNone);
    zip.SetZipName(Library());
    const auto bytes = qb::TDib(1, 1, 24).WriteBmp();
    qb::TMemoryStream bmp(std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(zip.AddFromStream(&bmp, "f"), 1);
  }
  ui_.GlyphOk(0, {0});
  form_->RemoveUserGlyphsMiClick();
  EXPECT_EQ(LibraryNames(), (std::vector<std::string>{"a", "b", "c", "d", "e", "f"}));
  EXPECT_EQ(form_->UserGlyphNames().size(), 6u);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].Text.rfind("The user glyph library has changed", 0), 0u);
  EXPECT_EQ(form_->Zip1().ZipName(), cabinet_);
}

}  // namespace
}  // namespace qbtest
