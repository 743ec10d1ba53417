#include "clipboard/clipboard_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "clipboard/clip_formats.h"
#include "clipboard/payload.h"
#include "explorer/cabinet_tree.h"
#include "store/cabinet_store.h"
#include "store/item_paths.h"
#include "support/scripted_interaction.h"
#include "support/test_support.h"
#include "zip/system_calls.h"

namespace qb {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace clipboard_text;
Bytes B(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

// The comment of a saved item: format field, glyph field, then an optional note.
std::string Comment(long long format, long long glyph, std::string_view note = {}) {
  std::string c = "\x8C" + std::to_string(format) + "\x8C\xBF\xA5" + std::to_string(glyph) + "\xA5\xBF";
  if (!note.empty()) c += "\xA7" + std::string(note) + "\xA7\xBF";
  return c;
}

// The scripted interaction, with a hook run as an input box opens.
class HookedInteraction : public qbtest::ScriptedInteraction {
 public:
  std::function<void()> OnInputBox;
  std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                      const std::string& initial_text) override {
    if (OnInputBox) OnInputBox();
    return ScriptedInteraction::InputBox(caption, prompt, initial_text);
  }
};

class ClipboardCommandsTest : public ::testing::Test {
 protected:
  ClipboardCommandsTest() {
    RegisterProgramFormats();
    store::ConfigureCabinetArchive(zip);
    zip.SetZipName(cabinet);
    commands = std::make_unique<TClipboardCommands>(
        TClipboardContext{clip, ui, zip, explorer, viewer, payload, properties.ViewItemsChecked,
                          properties.CurrentDrawerChecked, dir / "cache/[@@]"});
    commands->ClipboardViewer1().JoinChain();
  }

  void Store(const std::string& path, const Bytes& bytes, const std::string& comment) {
    TMemoryStream stream(bytes);
    store::StoreItemWithComment(zip, stream, path, comment);
  }
  static void Store(zip::TZipWriter& writer, const std::string& path, const Bytes& bytes) {
    TMemoryStream stream(bytes);
    store::StoreItemWithComment(writer, stream, path, Comment(1, 3));
  }
  void ShowTree() {
    explorer.TreeView1().Clear();
    FillCabinetTree(explorer.TreeView1(), zip, explorer.GlyphImageCount());
  }
  void Select(const std::string& path) {
    TTreeNode* node = FindNodeByPath(explorer.TreeView1(), path);
    ASSERT_NE(node, nullptr) << path;
    explorer.TreeView1().SetSelected(node);
  }
  std::vector<std::string> Items() {
    store::RefreshDirectory(zip);
    std::vector<std::string> names;
    for (int i = 0; i < zip.EntryCount(); ++i) names.push_back(zip.EntryFullName(i));
    return names;
  }
  std::string ItemPayload(const std::string& path) {
    TMemoryStream out;
    zip.ExtractIndexToStream(&out, store::LocateItem(zip, path));
    return out.ToString();
  }
  std::string ItemComment(const std::string& path) { return zip.EntryComment(store::LocateItem(zip, path)); }
  Bytes ClipText() {
    TClipboardLock lock(clip);
    return clip.GetBlock(CF_TEXT).value_or(Bytes{});
  }

  qbtest::TempDir dir;
  std::string cabinet = dir / "test.qvf";
  TMemoryClipboard clip;
  HookedInteraction ui;
  zip::TZipWriter zip;
  TDockableForm explorer;
  TViewerForm viewer;
  TMemoryStream payload;
  struct {
    bool ViewItemsChecked = false;
    bool CurrentDrawerChecked = false;
  } properties;  // the main form's stored check marks
  std::unique_ptr<TClipboardCommands> commands;
};

// --- Save To File Cabinet ---------------------------------------------------------------

TEST_F(ClipboardCommandsTest, AutoSaveStoresEachNewClipUnderTheNextNameWithoutAsking) {
  ShowTree();
  commands->AutoSaveMiClick();
  clip.PutText("one");
  clip.PutText("two", 3);
  EXPECT_TRUE(ui.Log().empty());
  EXPECT_EQ(Items(), (std::vector<std::string>{"NewItems\\Item0", "NewItems\\Item1"}));
  EXPECT_EQ(ItemPayload("NewItems\\Item0"), std::string("one\0", 4));
  EXPECT_EQ(ItemPayload("NewItems\\Item1"), std::string("two\0\0\0\0", 7));
  EXPECT_EQ(ItemComment("NewItems\\Item1"),
            "\x8C"
            "1\x8C\xBF\xA5"
            "3\xA5\xBF");
  EXPECT_NE(FindNodeByPath(explorer.TreeView1(), "NewItems\\Item1"), nullptr);
  EXPECT_EQ(FindNodeByPath(explorer.TreeView1(), "NewItems\\Item1")->ImageIndex(), 3);
  EXPECT_TRUE(payload.Size() == 0);
}

// Another writer (qvf add, say) takes the cabinet's lock just before the save
// takes it: whatever name the save found before then must not be trusted.
TEST_F(ClipboardCommandsTest, NoOtherWriterTakesTheNameASaveFound) {
  Store("NewItems\\Item0", B("old"), Comment(1, 3));
  std::string their_name;  // armed when not empty
  bool inside = false;
  zip::sys::SetFailureHook([&](const char* call) {
    // Only flock, on this thread, looks at the state: an update asks the hook on
    // threads of its own too.
    if (std::string(call) != "flock" || their_name.empty() || inside) return 0;
    inside = true;
    zip::TZipWriter other;
    store::ConfigureCabinetArchive(other);
    other.SetZipName(cabinet);
    Store(other, their_name, B("theirs"));
    their_name.clear();
    inside = false;
    return 0;
  });
  struct Unhook {
    ~Unhook() { zip::sys::SetFailureHook({}); }
  } unhook;

  // AutoSave: the next free name is looked up under the lock.
  commands->AutoSaveMiClick();
  their_name = "NewItems\\Item1";
  clip.PutText("mine");
  EXPECT_EQ(Items(), (std::vector<std::string>{"NewItems\\Item0", "NewItems\\Item1", "NewItems\\Item2"}));
  EXPECT_EQ(ItemPayload("NewItems\\Item1"), "theirs");
  EXPECT_EQ(ItemPayload("NewItems\\Item2"), std::string("mine\0", 5));
  EXPECT_TRUE(ui.Log().empty());

  // By command: a typed name that has just been taken is asked about.
  commands->AutoSaveMiClick();
  ui.OnInputBox = [&] { their_name = "Typed"; };
  ui.Input("Typed").Answer(MsgAnswer::Cancel);
  commands->SaveToFCMiClick();
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_EQ(ui.Boxes()[0].Describe(),
            "Warning 'Warning' [OK/Cancel]: Typed\r\nalready exists, continuing will overwrite");
  EXPECT_EQ(ItemPayload("Typed"), "theirs");
}

TEST_F(ClipboardCommandsTest, ByCommandTheNameIsAskedAndCancelStoresNothing) {
  clip.PutText("abc");
  ui.CancelInput();
  commands->SaveToFCMiClick();
  ASSERT_EQ(ui.InputBoxes().size(), 1u);
  EXPECT_EQ(ui.InputBoxes()[0].Caption, "Save Clipboard As");
  EXPECT_EQ(ui.InputBoxes()[0].Prompt, "You can supply drawers to save to, ie: New\\item1");
  EXPECT_EQ(ui.InputBoxes()[0].InitialText, "NewItems\\Item0");
  EXPECT_FALSE(std::filesystem::exists(cabinet));

  ui.Input("Work\\Note");
  commands->SaveToFCMiClick();
  EXPECT_EQ(Items(), (std::vector<std::string>{"Work\\Note"}));
}

TEST_F(ClipboardCommandsTest, OverwriteAsksThenKeepsGlyphAndNote) {
  Store("Pics\\Shot", TDib(2, 2, 24).WriteBmp(), Comment(2, 15, "x"));
  ShowTree();
  const int nodes = explorer.TreeView1().NodeCount();
  clip.PutText("abc");

  ui.Input("pics\\shot").Answer(MsgAnswer::Cancel);
  commands->SaveToFCMiClick();
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_EQ(ui.Boxes()[0].Describe(),
            "Warning 'Warning' [OK/Cancel]: pics\\shot\r\nalready exists, continuing will overwrite");
  EXPECT_EQ(ItemPayload("Pics\\Shot").substr(0, 2), "BM");

  ui.Input("pics\\shot").Answer(MsgAnswer::Ok);
  commands->SaveToFCMiClick();
  EXPECT_EQ(Items(), (std::vector<std::string>{"Pics\\Shot"}));
  EXPECT_EQ(ItemPayload("Pics\\Shot"), std::string("abc\0", 4));
  EXPECT_EQ(ItemComment("Pics\\Shot"), Comment(1, 15, "x"));
  EXPECT_EQ(explorer.TreeView1().NodeCount(), nodes);
}

TEST_F(ClipboardCommandsTest, TextBesideAPictureIsStoredAsText) {
  commands->AutoSaveMiClick();
  {
    TClipboardLock lock(clip);
    clip.Empty();
    clip.SetBitmap(TDib(4, 4, 24));
    clip.SetBlock(CF_TEXT, B(std::string_view("caption\0", 8)));
  }
  ASSERT_EQ(Items().size(), 1u);
  EXPECT_EQ(ItemComment("NewItems\\Item0"), Comment(1, 3));
  {
    TClipboardLock lock(clip);
    clip.Empty();
    clip.SetBitmap(TDib(4, 4, 24));
  }
  EXPECT_EQ(ItemComment("NewItems\\Item1"), Comment(2, 4));
  EXPECT_EQ(ItemPayload("NewItems\\Item1").substr(0, 2), "BM");
}

TEST_F(ClipboardCommandsTest, PreconditionsAreReportedAndNothingIsStored) {
  commands->SaveToFCMiClick();  // the clipboard is empty
  {
    TClipboardLock lock(clip);
    clip.SetBlock(clip.Registry().Register("application/x-unheard-of"), B("?"));
  }
  commands->SaveToFCMiClick();
  clip.PutText("text");
  zip.SetZipName("");
  commands->SaveToFCMiClick();
  EXPECT_EQ(ui.BoxLog(),
            (std::vector<std::string>{
                "Error 'Error' [OK]: The clipboard is empty, nothing to save",
                "Error 'Error' [OK]: The clipboard contains an unknown type of data,\r\nUnable to save to "
                "File Cabinet",
                "Error 'Error' [OK]: There is no File Cabinet loaded to save the clipboard to"}));
  EXPECT_FALSE(std::filesystem::exists(cabinet));
}

TEST_F(ClipboardCommandsTest, CurrentDrawerNamesNewItemsBesideTheSelectedItem) {
  Store("Work\\X", B("x"), Comment(1, 3));
  ShowTree();
  commands->CurrentDrawerMiClick();
  commands->AutoSaveMiClick();
  Select("Work\\X");
  clip.PutText("a");
  explorer.TreeView1().SetSelected(nullptr);
  clip.PutText("b");
  EXPECT_EQ(Items(), (std::vector<std::string>{"NewItems\\Item0", "Work\\Item0", "Work\\X"}));
}

TEST_F(ClipboardCommandsTest, TemporaryFileFailureStopsTheSave) {
  qbtest::WriteFileText(dir / "blocker", "x");
  TClipboardCommands blocked(TClipboardContext{clip, ui, zip, explorer, viewer, payload,
                                               properties.ViewItemsChecked, properties.CurrentDrawerChecked,
                                               dir / "blocker/[@@]"});
  {
    TClipboardLock lock(clip);
    clip.SetBlock(DelphiPictureFormat(clip), B("GIF89a\x01\x00\x01\x00"));
  }
  blocked.SaveToFCMiClick();  // the payload is encoded before the name is asked for
  EXPECT_EQ(ui.Log(), (std::vector<std::string>{
                          "box: Error 'Error' [OK]: Unable to save to File Cabinet, tmpFileStream Error"}));
  ui.CancelInput();
  commands->SaveToFCMiClick();  // with a usable temporary file the name is asked for
  EXPECT_EQ(ui.InputBoxes().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(cabinet));
}

// --- privacy -----------------------------------------------------------------------------

TEST_F(ClipboardCommandsTest, SecretsFromAPasswordManagerAreNeverAutoSaved) {
  commands->AutoSaveMiClick();
  clip.PutSecretText("hunter2");
  {
    TClipboardLock lock(clip);
    clip.Empty();  // the manager clears the clipboard after a while
  }
  EXPECT_TRUE(ui.Log().empty());
  EXPECT_FALSE(std::filesystem::exists(cabinet));
  clip.PutText("ordinary");
  EXPECT_EQ(Items().size(), 1u);
  {
    TClipboardLock lock(clip);
    clip.Empty();  // an ordinary emptying is still reported
  }
  EXPECT_EQ(ui.BoxLog(),
            (std::vector<std::string>{"Error 'Error' [OK]: The clipboard is empty, nothing to save"}));
}

// --- Load, View and the switches ----------------------------------------------------------

TEST_F(ClipboardCommandsTest, LoadPutsTheItemAloneOnTheClipboard) {
  Store("Editor", B("abc\r\n"), Comment(1, 3));
  Store("Shot", TDib(3, 3, 24).WriteBmp(), Comment(2, 4));
  Store("Sound", B("RIFF wave"), Comment(CF_WAVE, 7));
  ShowTree();
  const uint32_t html = clip.Registry().Register("text/html");
  {
    TClipboardLock lock(clip);
    clip.SetBitmap(TDib(1, 1, 24));
    clip.SetBlock(html, B("<b>old clip</b>"));
  }
  Select("Editor");
  commands->LoadSelectedMiClick();
  // Nothing of the old clip stays for another program to paste.
  EXPECT_EQ(clip.RealFormats(), (std::vector<uint32_t>{CF_TEXT}));
  EXPECT_EQ(ClipText(), B("abc\r\n"));

  Select("Sound");
  commands->LoadSelectedMiClick();
  EXPECT_EQ(clip.RealFormats(), (std::vector<uint32_t>{CF_WAVE}));

  Select("Shot");
  commands->LoadSelectedMiClick();
  EXPECT_EQ(clip.RealFormats(), (std::vector<uint32_t>{CF_BITMAP}));
  TClipboardLock lock(clip);
  EXPECT_EQ(clip.GetBitmap()->Width(), 3);
  EXPECT_TRUE(ui.Log().empty());
  EXPECT_EQ(payload.Size(), 0u);
}

TEST_F(ClipboardCommandsTest, LoadWithAutoSaveStoresTheLoadedFormat) {
  Store("Sound", B("RIFF wave"), Comment(CF_WAVE, 7));
  ShowTree();
  clip.PutText("text copied before");
  Select("Sound");
  commands->AutoSaveMiClick();
  commands->LoadSelectedMiClick();
  EXPECT_EQ(Items(), (std::vector<std::string>{"NewItems\\Item0", "Sound"}));
  EXPECT_EQ(ItemPayload("NewItems\\Item0"), "RIFF wave");
  EXPECT_TRUE(ui.Log().empty());
}

TEST_F(ClipboardCommandsTest, LoadWithAutoSaveStoresExactlyOneNewItem) {
  Store("Editor", B("abc\r\n"), Comment(1, 3));
  ShowTree();
  Select("Editor");
  commands->AutoSaveMiClick();
  commands->LoadSelectedMiClick();
  EXPECT_EQ(Items(), (std::vector<std::string>{"Editor", "NewItems\\Item0"}));
  EXPECT_EQ(ItemPayload("NewItems\\Item0"), "abc\r\n");
}

TEST_F(ClipboardCommandsTest, LoadReportsMissingSelectionEntryAndFormat) {
  Store("Bare", B("data"), "");
  Store("Gone", B("x"), Comment(1, 3));
  ShowTree();
  commands->AutoLoad1Click();  // nothing selected: the message, and AutoLoad stays on
  EXPECT_TRUE(commands->AutoLoad());
  Select("Gone");
  store::DeleteItem(zip, "Gone");
  commands->LoadSelectedMiClick();
  Select("Bare");
  commands->LoadSelectedMiClick();
  EXPECT_EQ(ui.BoxLog(),
            (std::vector<std::string>{"Error 'Error' [OK]: No item within the File Cabinet is selected!",
                                      "Error 'Error' [OK]: Unable to locate Gone\r\nwithin the File Cabinet!",
                                      std::string("Error 'Error' [OK]: ") + kNoFormatLoadText}));
  EXPECT_EQ(clip.FormatCount(), 0u);
}

TEST_F(ClipboardCommandsTest, ViewShowsItemsAndTheSwitchClearsThePane) {
  Store("Clip", B(std::string_view("hello\r\nworld\0slack", 18)), Comment(1, 3));
  Store("Shot", TDib(3, 3, 24).WriteBmp(), Comment(2, 4));
  Store("Sound", B("RIFF....WAVE"), Comment(12, 12));
  ShowTree();
  commands->ViewItemsMiClick();  // on, nothing selected: nothing shown
  EXPECT_EQ(viewer.Memo1Text(), "");
  Select("Clip");
  commands->ExplorerItemClicked();
  EXPECT_EQ(viewer.Memo1Text(), "hello\r\nworld");
  Select("Shot");
  commands->ViewSelected();
  EXPECT_TRUE(viewer.Image1Visible());
  EXPECT_EQ(viewer.Picture().substr(0, 2), "BM");
  Select("Sound");
  commands->ViewSelected();
  EXPECT_TRUE(viewer.Memo1Visible());
  EXPECT_EQ(viewer.Memo1Text(), "");
  Select("Clip");
  commands->ViewSelected();
  commands->ViewItemsMiClick();  // off: the pane is cleared
  EXPECT_EQ(viewer.Memo1Text(), "");
  EXPECT_FALSE(properties.ViewItemsChecked);
  EXPECT_EQ(clip.FormatCount(), 0u);  // viewing never touches the clipboard
}

TEST_F(ClipboardCommandsTest, AutoLoadLoadsEachClickedItem) {
  Store("A", B(std::string_view("a\0", 2)), Comment(1, 3));
  Store("B", B(std::string_view("b\0", 2)), Comment(1, 3));
  ShowTree();
  Select("A");
  commands->AutoLoad1Click();
  EXPECT_EQ(ClipText(), B(std::string_view("a\0", 2)));
  Select("B");
  commands->ExplorerItemClicked();
  EXPECT_EQ(ClipText(), B(std::string_view("b\0", 2)));
}

TEST_F(ClipboardCommandsTest, MenuStateFollowsClipboardCabinetAndSelection) {
  TClipboardMenuState menu = commands->ClipboardMiClick();
  EXPECT_FALSE(menu.EditClipboardMiEnabled);
  EXPECT_FALSE(menu.SaveToFCMiEnabled);
  EXPECT_FALSE(menu.LoadSelectedMiEnabled);
  Store("A", B("a"), Comment(1, 3));
  ShowTree();
  Select("A");
  clip.PutText("t");
  commands->AutoSaveMiClick();
  commands->AutoSaveMiClick();
  commands->AutoSaveMiClick();
  menu = commands->ClipboardMiClick();
  EXPECT_TRUE(menu.EditClipboardMiEnabled);
  EXPECT_TRUE(menu.SaveToFCMiEnabled);
  EXPECT_TRUE(menu.LoadSelectedMiEnabled);
  EXPECT_TRUE(menu.AutoSaveMiChecked);
  EXPECT_FALSE(menu.AutoLoad1Checked);
  zip.SetZipName("");
  {
    TClipboardLock lock(clip);
    clip.Empty();
    clip.SetBitmap(TDib(1, 1, 24));
  }
  menu = commands->ClipboardMiClick();
  EXPECT_FALSE(menu.EditClipboardMiEnabled);
  EXPECT_FALSE(menu.SaveToFCMiEnabled);
}

// --- Edit Clipboard As ----------------------------------------------------------------------

TEST_F(ClipboardCommandsTest, EditClipboardPutsTheEditedLinesBackAndCancelKeepsTheClip) {
  clip.PutText("a\r\nb", 4);
  ui.EditorCancel();
  commands->EditClipboardMiClick(2);
  ASSERT_EQ(ui.Editors().size(), 1u);
  EXPECT_EQ(ui.Editors()[0].Caption, "Editing Text Within Clipboard");
  EXPECT_EQ(ui.Editors()[0].HighLighter, 2);
  EXPECT_EQ(ui.Editors()[0].Lines, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(ClipText(), B(std::string_view("a\r\nb\0\0\0\0\0", 9)));
  EXPECT_EQ(commands->Backup().Format, 0u);

  {
    TClipboardLock lock(clip);
    clip.SetBlock(CF_WAVE, B("w"));
  }
  // OK without an edit leaves the clipboard as it was, other formats and all.
  ui.EditorOk({"a", "b"});
  commands->EditClipboardMiClick(0);
  EXPECT_EQ(clip.RealFormats(), (std::vector<uint32_t>{CF_TEXT, CF_WAVE}));
  EXPECT_EQ(ClipText(), B(std::string_view("a\r\nb\0\0\0\0\0", 9)));
  EXPECT_EQ(commands->Backup().Format, 0u);

  // Edited lines keep the text's line breaks, with no break after the last line
  // when the text had none.
  ui.EditorOk({"x", "y"});
  commands->EditClipboardMiClick(0);
  EXPECT_EQ(clip.RealFormats(), (std::vector<uint32_t>{CF_TEXT}));
  EXPECT_EQ(ClipText(), B(std::string_view("x\r\ny\0", 5)));
  EXPECT_EQ(commands->Backup().Format, CF_TEXT);  // the clip before the first replacement
  clip.PutText("one\ntwo\n");
  ui.EditorOk({"one", "2"});
  commands->EditClipboardMiClick(0);
  EXPECT_EQ(ClipText(), B(std::string_view("one\n2\n\0", 7)));

  {
    TClipboardLock lock(clip);
    clip.Empty();
    clip.SetBitmap(TDib(1, 1, 24));
  }
  commands->EditClipboardMiClick(0);
  EXPECT_EQ(ui.BoxLog().back(), "Error 'Error' [OK]: The clipboard does not contain text, Unable to edit!");
}

TEST_F(ClipboardCommandsTest, EditClipboardAsksAboutAutoSave) {
  clip.PutText("text");
  commands->AutoSaveMiClick();
  ui.Answer(MsgAnswer::Yes).EditorOk({"quiet"});
  commands->EditClipboardMiClick(0);
  EXPECT_FALSE(commands->AutoSave());
  EXPECT_FALSE(std::filesystem::exists(cabinet));
  EXPECT_EQ(ui.Boxes()[0].Describe(),
            "Warning 'Warning' [Yes/No]: AutoSave is currently ON, Do you want it switched off ?\r\n"
            "Otherwise the edited version will automatically be saved to the File Cabinet.");

  commands->AutoSaveMiClick();
  ui.Answer(MsgAnswer::No).EditorOk({"stored"});
  commands->EditClipboardMiClick(0);
  EXPECT_TRUE(commands->AutoSave());
  EXPECT_EQ(Items(), (std::vector<std::string>{"NewItems\\Item0"}));
  EXPECT_EQ(ItemPayload("NewItems\\Item0"), std::string("stored\0", 7));
}

// --- the backup --------------------------------------------------------------------------------

TEST_F(ClipboardCommandsTest, TheClipBeforeTheFirstLoadIsOfferedBackAtShutDown) {
  Store("A", B(std::string_view("a\0", 2)), Comment(1, 3));
  Store("Shot", TDib(2, 2, 24).WriteBmp(), Comment(2, 4));
  ShowTree();
  clip.PutText("original");
  Select("A");
  commands->LoadSelectedMiClick();
  Select("Shot");
  commands->LoadSelectedMiClick();  // the second replacement does not touch the backup
  EXPECT_EQ(commands->Backup().Format, CF_TEXT);
  EXPECT_EQ(commands->Backup().Stream.ToString(), std::string("original\0", 9));

  commands->AutoSaveMiClick();
  ui.Answer(MsgAnswer::Ok);
  commands->RestoreClipboardBackup();
  EXPECT_EQ(ui.BoxLog(),
            (std::vector<std::string>{
                "Confirmation 'Confirm' [OK/Cancel]: Do you wish to restore the original stored clip?"}));
  EXPECT_FALSE(commands->AutoSave());
  EXPECT_EQ(clip.RealFormats(), (std::vector<uint32_t>{CF_TEXT}));
  EXPECT_EQ(ClipText(), B(std::string_view("original\0", 9)));
  EXPECT_EQ(Items().size(), 2u);  // the restore is not stored
  EXPECT_EQ(commands->Backup().Format, 0u);
  commands->RestoreClipboardBackup();  // emptied: no second question
  EXPECT_EQ(ui.Boxes().size(), 1u);
}

TEST_F(ClipboardCommandsTest, NoBackupNoQuestionAndCancelLeavesTheClipboard) {
  commands->RestoreClipboardBackup();
  EXPECT_TRUE(ui.Log().empty());

  Store("A", TDib(2, 2, 24).WriteBmp(), Comment(2, 4));
  ShowTree();
  clip.PutText("original");
  Select("A");
  commands->LoadSelectedMiClick();
  ui.Answer(MsgAnswer::Cancel);
  commands->RestoreClipboardBackup();
  EXPECT_EQ(clip.RealFormats(), (std::vector<uint32_t>{CF_BITMAP}));
}

TEST_F(ClipboardCommandsTest, ASecretIsNeverKeptInTheBackup) {
  Store("A", B(std::string_view("a\0", 2)), Comment(1, 3));
  ShowTree();
  clip.PutSecretText("hunter2");
  Select("A");
  commands->LoadSelectedMiClick();
  EXPECT_EQ(commands->Backup().Format, 0u);
  EXPECT_EQ(commands->Backup().Stream.Size(), 0u);
}

}  // namespace
}  // namespace qb
