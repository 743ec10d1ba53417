// Add Note, Delete Note, Change Glyph, Rename, Delete and Add New Drawer against a
// real cabinet: the bytes on disk, the tree and every box shown.
#include "app_test_support.h"

namespace qbtest {
namespace {

using qb::MsgAnswer;

const char* kNoItem = "Unable to locate this clip in the File Cabinet!";

// --- Add Note / Delete Note ------------------------------------------------------------

TEST_F(MainFormTest, AddNoteReplacesTheOldNote) {
  Put("NewItems\\Item0", "t", Bytes("F1FCG3GCNoldNC"));
  OpenWork();
  qb::TTreeNode* node = Select("newitems\\item0");
  node->SetStateIndex(-1);
  form_->NoteForm().SetMemo1Text("new\nline");
  form_->AddNoteMiClick();
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"NewItems\\Item0", Bytes("F1FCG3GCNnew\r\nlineNC"), "t"}}));
  EXPECT_EQ(node->StateIndex(), qb::kNoteStateIndex);
  EXPECT_EQ(form_->NoteForm().Memo1Text(), "new\nline");
}

TEST_F(MainFormTest, AddNoteRefusesWithoutItemOrText) {
  Put("a", "t", Bytes("F1FCG3GC"));
  OpenWork();
  const std::vector<uint8_t> before = FileBytes();
  form_->NoteForm().SetMemo1Text("n");
  form_->AddNoteMiClick();
  Select("a");
  form_->NoteForm().SetMemo1Text("");
  form_->AddNoteMiClick();
  form_->NoteForm().FormClose();
  form_->AddNoteMiClick();
  EXPECT_EQ(ui_.BoxLog(),
            (std::vector<std::string>{"Error 'Error' [OK]: There isn't an item selected to add a note to",
                                      "Error 'Error' [OK]: There is no note to add!\r\nAdd your required "
                                      "text to the note, then 'Add Note "
                                      "To Selected'",
                                      "Error 'Error' [OK]: There is no note to add!\r\nYou need to make the "
                                      "note editor visible first,\r\n"
                                      "add your required text to the note, then 'Add Note To Selected'"}));
  EXPECT_EQ(FileBytes(), before);
}

TEST_F(MainFormTest, NoteCommandsOnAnItemGoneFromTheCabinet) {
  Put("a", "t", Bytes("F1FCG3GC"));
  Put("b", "t", Bytes("F1FCG3GC"));
  OpenWork();
  // Another program removes "b" behind our back.
  {
    qb::zip::TZipWriter other;
    qb::store::ConfigureCabinetArchive(other);
    other.SetZipName(cabinet_);
    qb::store::DeleteItem(other, "b");
  }
  Select("b");
  form_->NoteForm().SetMemo1Text("n");
  form_->AddNoteMiClick();
  form_->DeleteNoteMiClick();
  EXPECT_EQ(ui_.BoxLog(), (std::vector<std::string>{std::string("Error 'Error' [OK]: ") + kNoItem,
                                                    std::string("Error 'Error' [OK]: ") + kNoItem}));
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"a", Bytes("F1FCG3GC"), "t"}}));
}

TEST_F(MainFormTest, DeleteNoteLeavesGlyphThenFormat) {
  Put("x", "t", Bytes("F1FCG15GCNnoteNC"));
  OpenWork();
  qb::TTreeNode* node = Select("x");
  form_->NoteForm().SetMemo1Text("pane text");
  form_->DeleteNoteMiClick();
  EXPECT_EQ(Disk()[0].Comment, Bytes("G15GCF1FC"));
  EXPECT_EQ(node->StateIndex(), -1);
  EXPECT_EQ(form_->NoteForm().Memo1Text(), "pane text");
  Tree().SetSelected(nullptr);
  form_->DeleteNoteMiClick();
  EXPECT_EQ(
      ui_.BoxLog(),
      (std::vector<std::string>{"Error 'Error' [OK]: There isn't an item selected to delete the note from"}));
}

// --- Change Glyph ----------------------------------------------------------------------

TEST_F(MainFormTest, ChangeGlyphWritesTheChosenGlyphAndKeepsFormatAndNote) {
  Put("x", "t", Bytes("F2FCG4GCNnNC"));
  OpenWork();
  qb::TTreeNode* node = Select("X");
  ui_.GlyphOk(1);  // row 1 is "Text", glyph 3
  form_->ChangeGlyphMiClick();
  ASSERT_EQ(ui_.GlyphDialogs().size(), 1u);
  EXPECT_EQ(ui_.GlyphDialogs()[0].Caption, "Change glyph for selected item");
  EXPECT_EQ(ui_.GlyphDialogs()[0].ColumnCaption, "Available Glyphs");
  EXPECT_EQ(ui_.GlyphDialogs()[0].Rows.size(), 19u);
  EXPECT_EQ(Disk()[0].Comment, Bytes("G3GCF2FCNnNC"));
  EXPECT_EQ(node->ImageIndex(), 3);
  EXPECT_EQ(node->SelectedIndex(), 3);
}

TEST_F(MainFormTest, ChangeGlyphWithoutAChoiceOrCancelledChangesNothing) {
  Put("x", "t", Bytes("F2FCG4GC"));
  OpenWork();
  Select("x");
  const std::vector<uint8_t> before = FileBytes();
  ui_.GlyphOk(-1);
  form_->ChangeGlyphMiClick();
  ui_.GlyphCancel(3);
  form_->ChangeGlyphMiClick();
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(Dump(), "Work [13]\n  x [4] *\n");
  Tree().SetSelected(nullptr);
  form_->ChangeGlyphMiClick();
  EXPECT_EQ(
      ui_.BoxLog(),
      (std::vector<std::string>{"Error 'Error' [OK]: There isn't an item selected to change a glyph for"}));
}

TEST_F(MainFormTest, ChangeGlyphOffersUserGlyphs) {
  Put("x", "t", Bytes("F1FCG3GC"));
  form_->UserGlyphNames() = {"Text", "Mine"};
  form_->DockableForm().SetGlyphImageCount(24);
  OpenWork();
  Select("x");
  ui_.GlyphOk(19);  // 11 rows for 2..12, 8 for 14..21, then user glyph 22 titled "Text"
  form_->ChangeGlyphMiClick();
  EXPECT_EQ(ui_.GlyphDialogs()[0].Rows.size(), 21u);
  EXPECT_EQ(Disk()[0].Comment, Bytes("G22GCF1FC"));
}

// --- Rename ----------------------------------------------------------------------------

TEST_F(MainFormTest, RenameWithinTheDrawerChangesTheCaption) {
  Put("NewItems\\Item0", "zero", Bytes("F1FCG3GCNnNC"));
  Put("NewItems\\Item1", "one", Bytes("F1FCG3GC"));
  OpenWork();
  qb::TTreeNode* node = Select("NewItems\\Item0");
  ui_.Input("Renamed");
  form_->RenameMiClick();
  ASSERT_EQ(ui_.InputBoxes().size(), 1u);
  EXPECT_EQ(ui_.InputBoxes()[0].Describe(), "'Rename Item' 'Rename the item to...' 'Item0'");
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"NewItems\\Item1", Bytes("F1FCG3GC"), "one"},
                                            {"NewItems\\Renamed", Bytes("F1FCG3GCNnNC"), "zero"}}));
  EXPECT_EQ(node->Caption(), "Renamed");
  EXPECT_EQ(Tree().Selected(), node);
}

TEST_F(MainFormTest, RenameWithBackslashesMovesBelowTheDrawerAndRebuildsExpanded) {
  Put("NewItems\\Item0", "zero", Bytes("F1FCG3GC"));
  Put("Other\\x", "x", Bytes("F1FCG3GC"));
  OpenWork();
  Select("NewItems\\Item0");
  ui_.Input("Code\\A");
  form_->RenameMiClick();
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"NewItems\\Code\\A", Bytes("F1FCG3GC"), "zero"},
                                            {"Other\\x", Bytes("F1FCG3GC"), "x"}}));
  EXPECT_EQ(Dump(),
            "Work [13] +\n"
            "  NewItems [1] +\n"
            "    Code [1] +\n"
            "      A [3] *\n"
            "  Other [1] +\n"
            "    x [3]\n");
}

TEST_F(MainFormTest, RenameOntoAnotherItemAsksAndCancelKeepsEverything) {
  Put("D\\a", "A", Bytes("F1FCG3GC"));
  Put("D\\b", "B", Bytes("F2FCG4GC"));
  OpenWork();
  Select("D\\a");
  const std::vector<uint8_t> before = FileBytes();
  ui_.Input("B").Answer(MsgAnswer::Cancel);
  form_->RenameMiClick();
  EXPECT_EQ(
      ui_.BoxLog(),
      (std::vector<std::string>{
          "Warning 'Warning' [OK/Cancel]: D\\B already exist!\r\nDo you wish to replace this entry ?"}));
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(Dump(), "Work [13]\n  D [1]\n    a [3] *\n    b [4]\n");
}

TEST_F(MainFormTest, ConfirmedReplaceRemovesTheOtherItemAndItsNode) {
  Put("D\\a", "A", Bytes("F1FCG3GC"));
  Put("D\\b", "B", Bytes("F2FCG4GC"));
  OpenWork();
  Select("D\\a");
  ui_.Input("b").Answer(MsgAnswer::Ok);
  form_->RenameMiClick();
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"D\\b", Bytes("F1FCG3GC"), "A"}}));
  EXPECT_EQ(Dump(), "Work [13]\n  D [1]\n    b [3] *\n");
}

TEST_F(MainFormTest, RenameDifferingOnlyInCaseAsksAboutTheItemItself) {
  Put("NewItems\\Item0", "zero", Bytes("F1FCG3GC"));
  OpenWork();
  Select("NewItems\\Item0");
  ui_.Input("item0").Answer(MsgAnswer::Ok);
  form_->RenameMiClick();
  EXPECT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"NewItems\\item0", Bytes("F1FCG3GC"), "zero"}}));
  EXPECT_EQ(Dump(), "Work [13]\n  NewItems [1]\n    item0 [3] *\n");
}

TEST_F(MainFormTest, RenameRefusesNamesThatNameNoItem) {
  Put("D\\a", "A", Bytes("F1FCG3GC"));
  OpenWork();
  Select("D\\a");
  const std::vector<uint8_t> before = FileBytes();
  ui_.Input("").Input("sub\\").Input("a").CancelInput();
  form_->RenameMiClick();
  form_->RenameMiClick();
  form_->RenameMiClick();  // the same name: nothing to do, nothing asked
  form_->RenameMiClick();  // Cancel
  ASSERT_EQ(ui_.Boxes().size(), 2u);
  EXPECT_EQ(ui_.Boxes()[0].Kind, qb::MsgKind::Error);
  EXPECT_NE(ui_.Boxes()[0].Text.find("names a drawer"), std::string::npos) << ui_.Boxes()[0].Text;
  EXPECT_NE(ui_.Boxes()[1].Text.find("names a drawer"), std::string::npos) << ui_.Boxes()[1].Text;
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(Dump(), "Work [13]\n  D [1]\n    a [3] *\n");
}

TEST_F(MainFormTest, RenameNormalisesATypedLeadingBackslash) {
  Put("D\\a", "A", Bytes("F1FCG3GC"));
  OpenWork();
  qb::TTreeNode* node = Select("D\\a");
  ui_.Input("\\z");
  form_->RenameMiClick();
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"D\\z", Bytes("F1FCG3GC"), "A"}}));
  EXPECT_EQ(node->Caption(), "z");
  Tree().SetSelected(nullptr);
  form_->RenameMiClick();
  EXPECT_EQ(ui_.BoxLog(),
            (std::vector<std::string>{"Error 'Error' [OK]: There isn't an item selected to rename"}));
}

// --- Delete ----------------------------------------------------------------------------

TEST_F(MainFormTest, DeleteAsksYesCancelAndCancelKeepsTheItem) {
  Put("a", "A", Bytes("F1FCG3GC"));
  OpenWork();
  Select("a");
  const std::vector<uint8_t> before = FileBytes();
  ui_.Answer(MsgAnswer::Cancel);
  form_->DeleteMiClick();
  EXPECT_EQ(ui_.BoxLog(),
            (std::vector<std::string>{
                "Confirmation 'Confirm' [Yes/Cancel]: Are you sure you want to delete the selected item?"}));
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(Dump(), "Work [13]\n  a [3] *\n");
}

TEST_F(MainFormTest, DeletingTheOnlyItemOfANestedDrawerPrunesUpToTheRoot) {
  Put("A\\B\\x", "X", Bytes("F1FCG3GC"));
  Put("top", "T", Bytes("F1FCG3GC"));
  OpenWork();
  Select("a\\b\\X");
  ui_.Answer(MsgAnswer::Yes);
  form_->DeleteMiClick();
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"top", Bytes("F1FCG3GC"), "T"}}));
  EXPECT_EQ(Dump(), "Work [13]\n  top [3]\n");
  Select("top");
  ui_.Answer(MsgAnswer::Yes);
  form_->DeleteMiClick();
  EXPECT_EQ(Dump(), "Work [13]\n");
  EXPECT_TRUE(Disk().empty());
}

TEST_F(MainFormTest, DeleteKeepsADrawerThatHoldsMore) {
  Put("A\\B\\x", "X", Bytes("F1FCG3GC"));
  Put("A\\y", "Y", Bytes("F1FCG3GC"));
  OpenWork();
  Select("A\\B\\x");
  ui_.Answer(MsgAnswer::Yes);
  form_->DeleteMiClick();
  EXPECT_EQ(Dump(), "Work [13]\n  A [1]\n    y [3]\n");
}

TEST_F(MainFormTest, DeleteOfAnItemNoLongerInTheCabinetSaysSo) {
  Put("a", "A", Bytes("F1FCG3GC"));
  OpenWork();
  qb::InsertItemPath(Tree(), Tree().Root(), "ghost", 3, -1);
  Select("ghost");
  const std::vector<uint8_t> before = FileBytes();
  ui_.Answer(MsgAnswer::Yes);
  form_->DeleteMiClick();
  EXPECT_EQ(ui_.BoxLog().back(),
            "Error 'Error' [OK]: Unable to remove the selected item from the File Cabinet");
  EXPECT_EQ(FileBytes(), before);
  EXPECT_NE(qb::FindNodeByPath(Tree(), "ghost"), nullptr);
  Tree().SetSelected(nullptr);
  form_->DeleteMiClick();
  EXPECT_EQ(ui_.BoxLog().back(), "Error 'Error' [OK]: There isn't an item selected to delete");
}

// --- Add New Drawer --------------------------------------------------------------------

TEST_F(MainFormTest, NewDrawerAddsNodesOnlyAndRefusesADrawerWithItems) {
  Put("Work\\a", "A", Bytes("F1FCG3GC"));
  Put("Deep\\Inner\\b", "B", Bytes("F1FCG3GC"));
  OpenWork();
  const std::vector<uint8_t> before = FileBytes();
  ui_.Input("Projects");
  form_->NewDrawMiClick();
  ASSERT_EQ(ui_.InputBoxes().size(), 1u);
  EXPECT_EQ(ui_.InputBoxes()[0].Describe(),
            "'Add New Drawer' 'State full path for new drawer eg: NewItems\\Newest\\Today\\' 'NewDrawer\\'");
  ui_.Input("WORK\\");
  form_->NewDrawMiClick();
  EXPECT_EQ(ui_.BoxLog(), (std::vector<std::string>{"Error 'Error' [OK]: Drawer already exists!"}));
  ui_.Input("deep");  // holds only a drawer: passes, and the node is reused
  form_->NewDrawMiClick();
  ui_.Input("").Input("   ").CancelInput();
  form_->NewDrawMiClick();
  form_->NewDrawMiClick();
  form_->NewDrawMiClick();
  EXPECT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(FileBytes(), before);
  // The root was opened to show the new drawer.
  EXPECT_EQ(Dump(),
            "Work [13] +\n"
            "  Deep [1]\n"
            "    Inner [1]\n"
            "      b [3]\n"
            "  Work [1]\n"
            "    a [3]\n"
            "  Projects [1]\n");
}

TEST_F(MainFormTest, NewDrawerNormalisesAndRefusesEmptyLevels) {
  OpenWork();
  ui_.Input("\\Top\\Sub").Input("a\\\\b");
  form_->NewDrawMiClick();
  form_->NewDrawMiClick();
  EXPECT_EQ(ui_.BoxLog(),
            (std::vector<std::string>{"Error 'Error' [OK]: \"a\\\\b\" has an empty drawer name"}));
  EXPECT_EQ(Dump(), "Work [13] +\n  Top [1] +\n    Sub [1]\n");
}

TEST_F(MainFormTest, NewDrawerWithoutACabinetSaysSo) {
  form_->NewDrawMiClick();
  EXPECT_EQ(
      ui_.BoxLog(),
      (std::vector<std::string>{"Error 'Error' [OK]: There is no File Cabinet loaded to add a drawer to"}));
}

}  // namespace
}  // namespace qbtest
