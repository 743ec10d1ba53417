// Add New Text Item and Edit Selected Text Item As: what is stored, under which
// name, with which comment, and what the user is asked on the way.
#include <map>

#include "app_test_support.h"
#include "clipboard/text_payload.h"

namespace qbtest {
namespace {

using qb::MsgAnswer;

const std::string kNewText = Bytes("F1FCG3GC");

// --- Add New Text Item -----------------------------------------------------------------

TEST_F(MainFormTest, AddNewTextItemCreatesTheCabinetWithItsFirstItem) {
  const std::string fresh = dir_ / "Fresh.qvf";
  ui_.ChooseFile(fresh);
  form_->NewMiClick();
  ui_.ClearRecords();
  ui_.EditorOk({"first", "", "third"}).Input("NewItems\\Item0");
  form_->AddNewItemMiClick();
  ASSERT_EQ(ui_.Editors().size(), 1u);
  EXPECT_EQ(ui_.Editors()[0].Caption, "Add A New Text Item To The File Cabinet");
  EXPECT_EQ(ui_.Editors()[0].HighLighter, 0);
  EXPECT_TRUE(ui_.Editors()[0].Lines.empty());
  ASSERT_EQ(ui_.InputBoxes().size(), 1u);
  EXPECT_EQ(ui_.InputBoxes()[0].Describe(),
            "'Save New Item As' 'You can supply drawers to save to, ie: New\\item1' 'NewItems\\Item0'");
  EXPECT_EQ(Disk(fresh), (std::vector<DiskEntry>{{"NewItems\\Item0", kNewText, "first\r\n\r\nthird\r\n"}}));
  EXPECT_EQ(Dump(), "Fresh [13]\n  NewItems [1]\n    Item0 [3]\n");
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(form_->PayloadStream().Size(), 0u);
}

TEST_F(MainFormTest, AddNewTextItemProposesTheNextFreeName) {
  Put("NewItems\\Item0", "0", kNewText);
  Put("newitems\\item1", "1", kNewText);
  Put("NewItems\\Item3", "3", kNewText);
  OpenWork();
  ui_.EditorOk({"x"}).Input("NewItems\\Item2");
  form_->AddNewItemMiClick();
  EXPECT_EQ(ui_.InputBoxes()[0].InitialText, "NewItems\\Item2");
  EXPECT_EQ(Disk().size(), 4u);
}

TEST_F(MainFormTest, OverwriteAnsweredNoThenCancelStoresNothing) {
  Put("NewItems\\Item0", "old", Bytes("F1FCG9GCNnNC"));
  OpenWork();
  const std::vector<uint8_t> before = FileBytes();
  ui_.EditorOk({"new"}).Input("newitems\\ITEM0").Answer(MsgAnswer::No).CancelInput();
  form_->AddNewItemMiClick();
  EXPECT_EQ(ui_.InputBoxes()[0].InitialText, "NewItems\\Item1");
  EXPECT_EQ(
      ui_.BoxLog(),
      (std::vector<std::string>{
          "Warning 'Warning' [Yes/No]: newitems\\ITEM0\r\nalready exists, do you wish to overwrite ?"}));
  ASSERT_EQ(ui_.InputBoxes().size(), 2u);
  EXPECT_EQ(ui_.InputBoxes()[1].Describe(),
            "'Save New Item As' 'Supply a different path\\name to avoid overwriting' 'newitems\\ITEM0'");
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(form_->PayloadStream().Size(), 0u);
}

TEST_F(MainFormTest, OverwriteAnsweredNoThenANewNameStoresUnderIt) {
  Put("a", "old", kNewText);
  OpenWork();
  ui_.EditorOk({"new"}).Input("a").Answer(MsgAnswer::No).Input("D\\b");
  form_->AddNewItemMiClick();
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"a", kNewText, "old"}, {"D\\b", kNewText, "new\r\n"}}));
  EXPECT_EQ(Dump(), "Work [13]\n  a [3]\n  D [1]\n    b [3]\n");
}

TEST_F(MainFormTest, OverwriteAnsweredYesReplacesPayloadAndComment) {
  Put("a", "old", Bytes("F2FCG15GCNnoteNC"));
  OpenWork();
  EXPECT_EQ(Dump(), "Work [13]\n  a [15] note\n");
  ui_.EditorOk({"new"}).Input("A").Answer(MsgAnswer::Yes);
  form_->AddNewItemMiClick();
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"A", kNewText, "new\r\n"}}));
  // The node shows what the item now is: a text item without a note.
  EXPECT_EQ(Dump(), "Work [13]\n  a [3]\n");
}

TEST_F(MainFormTest, AddNewTextItemNormalisesTypedPathsAndRefusesDrawers) {
  OpenWork();
  ui_.EditorOk({"x"}).Input("Docs\\").Input("").Input("C:\\Docs\\x");
  form_->AddNewItemMiClick();
  ASSERT_EQ(ui_.Boxes().size(), 2u);
  EXPECT_NE(ui_.Boxes()[0].Text.find("names a drawer"), std::string::npos) << ui_.Boxes()[0].Text;
  EXPECT_NE(ui_.Boxes()[1].Text.find("must not be empty"), std::string::npos) << ui_.Boxes()[1].Text;
  // Each refusal asks again, with what was typed.
  ASSERT_EQ(ui_.InputBoxes().size(), 3u);
  EXPECT_EQ(ui_.InputBoxes()[1].InitialText, "Docs\\");
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"Docs\\x", kNewText, "x\r\n"}}));
  EXPECT_EQ(Dump(), "Work [13]\n  Docs [1]\n    x [3]\n");
}

TEST_F(MainFormTest, AddNewTextItemCancelledInTheEditorOrTheNameBox) {
  OpenWork();
  ui_.EditorCancel();
  form_->AddNewItemMiClick();
  EXPECT_TRUE(ui_.InputBoxes().empty());
  ui_.EditorOk({"x"}).CancelInput();
  form_->AddNewItemMiClick();
  EXPECT_FALSE(std::filesystem::exists(cabinet_));
  EXPECT_EQ(form_->PayloadStream().Size(), 0u);
}

TEST_F(MainFormTest, AddNewTextItemWithoutACabinetSaysSoBeforeEditing) {
  form_->AddNewItemMiClick();
  EXPECT_EQ(
      ui_.BoxLog(),
      (std::vector<std::string>{"Error 'Error' [OK]: There is no File Cabinet loaded to add the item to"}));
  EXPECT_TRUE(ui_.Editors().empty());
}

// --- Edit Selected Text Item As ----------------------------------------------------------

TEST_F(MainFormTest, EditTextItemStoresTheLinesAndKeepsTheComment) {
  const std::string comment = Bytes("F1FCG17GCNmy noteNC");
  Put("Code\\Snippet", std::string("begin\r\nend.\r\n\0junk", 17), comment);
  Put("Code\\Other", "o", kNewText);
  OpenWork();
  Select("code\\snippet");
  ui_.EditorOk({"begin", "  x := 1;", "end."});
  form_->EditTextItemMiClick(1);
  ASSERT_EQ(ui_.Editors().size(), 1u);
  EXPECT_EQ(ui_.Editors()[0].Caption, "Editing Text Item : Code\\Snippet");
  EXPECT_EQ(ui_.Editors()[0].HighLighter, 1);
  EXPECT_EQ(ui_.Editors()[0].Lines, (std::vector<std::string>{"begin", "end."}));
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"Code\\Other", kNewText, "o"},
                                            {"Code\\Snippet", comment, "begin\r\n  x := 1;\r\nend.\r\n"}}));
  EXPECT_EQ(Dump(), "Work [13]\n  Code [1]\n    Other [3]\n    Snippet [17] note *\n");
  EXPECT_EQ(form_->PayloadStream().Size(), 0u);
}

// The editor hands back only lines: what the item held around them (LF breaks, a
// final break or none, one empty line, the zero byte and slack of a clipboard text)
// must not change unless the text was edited, and an edit keeps the text's breaks.
TEST_F(MainFormTest, EditTextItemChangesNoByteItDidNotEdit) {
  const std::string comment = Bytes("F1FCG3GC");
  const std::string payloads[] = {"one\ntwo\n",  "one\ntwo", "\r\n", "\n", "", std::string("lf\n\0slack", 10),
                                  "mac\rline\r", "a\n\n"};
  for (const std::string& payload : payloads)
    Put("T\\" + std::to_string(&payload - payloads), payload, comment);
  OpenWork();
  const std::vector<uint8_t> before = FileBytes();
  for (size_t i = 0; i < std::size(payloads); ++i) {
    Select("T\\" + std::to_string(i));
    ui_.EditorOk(qb::TextPayloadLines(payloads[i], 1));  // OK without an edit
    form_->EditTextItemMiClick(0);
  }
  EXPECT_EQ(FileBytes(), before);  // not even rewritten

  Select("T\\0");
  ui_.EditorOk({"one", "2"});
  form_->EditTextItemMiClick(0);
  Select("T\\1");
  ui_.EditorOk({"one", "2"});
  form_->EditTextItemMiClick(0);
  Select("T\\6");
  ui_.EditorOk({"mac", "line", "more"});
  form_->EditTextItemMiClick(0);
  std::map<std::string, std::string> data;
  for (const DiskEntry& entry : Disk()) data[entry.Name] = entry.Data;
  ASSERT_EQ(data.size(), std::size(payloads));
  EXPECT_EQ(data["T\\0"], "one\n2\n");
  EXPECT_EQ(data["T\\1"], "one\n2");
  EXPECT_EQ(data["T\\6"], "mac\rline\rmore\r");
}

TEST_F(MainFormTest, EditTextItemKeepsOemTextInItsCodePage) {
  // Code page 437: 0x82 is e acute, 0x9C the pound sign.
  Put("oem",
      "caf\x82 \x9C"
      "5\r\n",
      Bytes("F7FCG7GC"));
  OpenWork();
  Select("oem");
  ui_.EditorOk(
      {"caf\xC3\xA9 \xC2\xA3"
       "6 \xE2\x82\xAC"});  // "café £6 €": no euro sign in 437
  form_->EditTextItemMiClick(0);
  EXPECT_EQ(ui_.Editors()[0].Lines, (std::vector<std::string>{"caf\xC3\xA9 \xC2\xA3"
                                                              "5"}));
  EXPECT_EQ(Disk()[0].Data,
            "caf\x82 \x9C"
            "6 ?\r\n");
}

TEST_F(MainFormTest, EditTextItemRefusesWhatItCannotEdit) {
  Put("pic", "BM..", Bytes("F2FCG4GC"));
  Put("plain", "no comment", "");
  OpenWork();
  const std::vector<uint8_t> before = FileBytes();
  form_->EditTextItemMiClick(0);
  Select("pic");
  form_->EditTextItemMiClick(0);
  Select("plain");
  form_->EditTextItemMiClick(0);
  qb::InsertItemPath(Tree(), Tree().Root(), "D\\ghost", 3, -1);
  Select("D\\ghost");
  form_->EditTextItemMiClick(0);
  EXPECT_EQ(ui_.BoxLog(), (std::vector<std::string>{
                              "Error 'Error' [OK]: No item within the File Cabinet is selected!",
                              "Error 'Error' [OK]: Cannot edit a none text item!",
                              "Error 'Error' [OK]: Cannot edit a none text item!",
                              "Error 'Error' [OK]: Unable to locate D\\ghost\r\nwithin the File Cabinet!"}));
  EXPECT_TRUE(ui_.Editors().empty());
  EXPECT_EQ(FileBytes(), before);
}

TEST_F(MainFormTest, EditTextItemCancelledOrDamagedChangesNothing) {
  Put("t", "text", kNewText);
  Put("bad", "text", Bytes("F1xFCG3GC"));
  OpenWork();
  const std::vector<uint8_t> before = FileBytes();
  Select("t");
  ui_.EditorCancel();
  form_->EditTextItemMiClick(3);
  Select("bad");
  EXPECT_FALSE(qb::RunCommand(ui_, [&] { form_->EditTextItemMiClick(3); }));
  EXPECT_EQ(ui_.BoxLog(),
            (std::vector<std::string>{"Error 'Error' [OK]: '1x' is not a valid integer value"}));
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(form_->PayloadStream().Size(), 0u);
}

// --- text payloads as lines --------------------------------------------------------------

TEST(TextPayload, LinesSplitAtEveryKindOfBreakAndStopAtZero) {
  EXPECT_EQ(qb::TextPayloadLines("a\r\nb\nc\rd", 1), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(qb::TextPayloadLines("a\r\n\r\n", 1), (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(qb::TextPayloadLines(std::string("a\0b\r\nc", 6), 1), (std::vector<std::string>{"a"}));
  EXPECT_TRUE(qb::TextPayloadLines("", 1).empty());
  // Windows-1252 bytes that are not UTF-8 keep their letters.
  EXPECT_EQ(qb::TextPayloadLines("caf\xE9", 1), (std::vector<std::string>{"caf\xC3\xA9"}));
  EXPECT_EQ(qb::TextPayloadFromLines({"a", ""}, 1), "a\r\n\r\n");
  EXPECT_EQ(qb::TextPayloadFromLines({}, 1), "");
}

TEST(TextPayload, LinesGoBackInTheLayoutTheTextCameWith) {
  // Every text with one kind of line break comes back byte for byte.
  for (const std::string text :
       {"a\nb\n", "a\nb", "a\r\nb\r\n", "a\rb", "\r\n", "\n", "\n\n", "x", "a\n\n\nb"}) {
    const qb::TTextLayout layout = qb::TextPayloadLayout(text);
    EXPECT_EQ(qb::TextPayloadFromLines(qb::TextPayloadLines(text, 1), 1, layout), text) << text;
  }
  EXPECT_EQ(qb::TextPayloadLayout(std::string("a\nb\0\r\n", 6)), (qb::TTextLayout{"\n", false}));
  EXPECT_EQ(qb::TextPayloadLayout("a\r\nb\nc"), (qb::TTextLayout{"\r\n", false}));  // the first break
  // Empty text, like new text: each line followed by CR LF.
  EXPECT_EQ(qb::TextPayloadLayout(""), qb::TTextLayout{});
  EXPECT_EQ(qb::TextPayloadFromLines({"abc"}, 1, qb::TextPayloadLayout("")), "abc\r\n");
}

}  // namespace
}  // namespace qbtest
