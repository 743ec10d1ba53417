// Copy and Move To Another File Cabinet through the main form: what the user is
// asked, what the summary says, what reaches each cabinet and what the tree shows.
#include <algorithm>
#include <filesystem>

#include "app/commands.h"
#include "app_test_support.h"

namespace qbtest {
namespace {

using qb::TCommand;
using qb::TReplaceChoice;

class CopyMoveCommandTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    target_ = dir_ / "Other.qvf";
    Put("Code\\a", "alpha", Bytes("F1FCG3GCNnote aNC"));
    Put("Code\\Deep\\b", "beta", Bytes("F1FCG3GC"));
    Put("Other", "other", Bytes("F7FC"));
  }
  // The entry names of a cabinet, read without decoding.
  static std::vector<std::string> Names(const std::string& cabinet) {
    qb::zip::TZipReader zip;
    zip.SetZipName(cabinet);
    zip.ReadDirectory();
    std::vector<std::string> out;
    for (int i = 0; i < zip.EntryCount(); ++i) out.push_back(zip.EntryFullName(i));
    return out;
  }
  bool Logged(const std::string& line) {
    return std::find(ui_.Log().begin(), ui_.Log().end(), line) != ui_.Log().end();
  }
  std::string target_;
};

TEST_F(CopyMoveCommandTest, MoveOfADrawerAsksAboutTheSameNameAndSummarises) {
  Put("code\\A", "old a", Bytes("F1FCNold noteNC"), target_);
  OpenWork();
  Select("Code");
  ui_.ChooseFile(target_).Replace(TReplaceChoice::No);
  form_->Command(TCommand::CopyMiClick, 1);
  const std::vector<std::string> log = ui_.Log();
  ASSERT_EQ(log.size(), 5u) << ::testing::PrintToString(log);
  EXPECT_EQ(log[0], "file: Move To Another File Cabinet");
  EXPECT_EQ(log[2],
            "replace: The File Cabinet " + target_ + " already holds an item \"Code\\a\".\r\nReplace it?");
  EXPECT_EQ(log[1], "progress: Moving Files " + cabinet_ + " -> " + target_);
  EXPECT_EQ(log[3], "progress closed");
  EXPECT_EQ(ui_.BoxLog().back(),
            "Information 'Information' [OK]: Moved 1 item to " + target_ + ".\r\nSkipped: 1 item.");
  // The kept item keeps its note; the moved one left the source and the tree,
  // and its drawer with it.
  EXPECT_EQ(Disk(target_), (std::vector<DiskEntry>{{"code\\A", Bytes("F1FCNold noteNC"), "old a"},
                                                   {"Code\\Deep\\b", Bytes("F1FCG3GC"), "beta"}}));
  EXPECT_EQ(Disk(), (std::vector<DiskEntry>{{"Code\\a", Bytes("F1FCG3GCNnote aNC"), "alpha"},
                                            {"Other", Bytes("F7FC"), "other"}}));
  EXPECT_EQ(qb::FindNodeByPath(Tree(), "Code\\Deep"), nullptr);
  EXPECT_NE(qb::FindNodeByPath(Tree(), "Code\\a"), nullptr);

  // Yes replaces the item with payload and note in one go.
  ui_.ClearRecords();
  Select("Code\\a");
  ui_.ChooseFile(target_).Replace(TReplaceChoice::Yes);
  form_->Command(TCommand::CopyMiClick, 0);
  EXPECT_EQ(ui_.BoxLog().back(), "Information 'Information' [OK]: Copied 1 item to " + target_ + ".");
  EXPECT_EQ(Disk(target_)[0], (DiskEntry{"Code\\a", Bytes("F1FCG3GCNnote aNC"), "alpha"}));
  EXPECT_EQ(Disk().size(), 2u);
}

TEST_F(CopyMoveCommandTest, EncryptedItemNeedsItsPasswordAndCancelStopsBeforeWriting) {
  {
    qb::zip::TZipWriter zip;
    qb::store::ConfigureCabinetArchive(zip);
    zip.SetZipName(cabinet_);
    zip.SetPassword("secret");
    qb::TMemoryStream stream(std::string("locked"));
    ASSERT_EQ(zip.AddFromStreamWithComment(&stream, "Locked", Bytes("F1FC")), 1);
  }
  OpenWork();
  Select("Locked");
  ui_.ChooseFile(target_).Password(std::nullopt);
  form_->Command(TCommand::CopyMiClick, 1);
  EXPECT_TRUE(Logged("password: &Enter old password...")) << ::testing::PrintToString(ui_.Log());
  EXPECT_EQ(ui_.BoxLog().back(), "Warning 'Warning' [OK]: Moved 0 items to " + target_ +
                                     ".\r\nNot moved (left in this File Cabinet):\r\nLocked: needs a "
                                     "password that was not given");
  EXPECT_EQ(Names(cabinet_).size(), 4u);
  EXPECT_NE(qb::FindNodeByPath(Tree(), "Locked"), nullptr);

  // The right password: it goes over, still encrypted under that password.
  ui_.ClearRecords();
  ui_.ChooseFile(target_).Password("wrong").Password("secret");
  form_->Command(TCommand::CopyMiClick, 1);
  EXPECT_EQ(ui_.BoxLog().back(), "Information 'Information' [OK]: Moved 1 item to " + target_ + ".");
  qb::zip::TZipReader other;
  other.SetZipName(target_);
  other.ReadDirectory();
  EXPECT_EQ(other.CheckEntry(other.FindEntry("Locked")), "is encrypted");
  EXPECT_EQ(qb::FindNodeByPath(Tree(), "Locked"), nullptr);
  EXPECT_EQ(Names(cabinet_), (std::vector<std::string>{"Code\\a", "Code\\Deep\\b", "Other"}));

  // Cancel in the progress window: nothing is written anywhere.
  ui_.ClearRecords();
  const auto source = FileBytes(), target = ReadFileBytes(target_);
  Select("Code");
  ui_.ChooseFile(target_);
  ui_.CancelTransferAt(2);
  form_->Command(TCommand::CopyMiClick, 1);
  EXPECT_EQ(ui_.BoxLog().back(),
            "Information 'Information' [OK]: Cancelled: nothing was moved.\r\nSkipped: 2 items.");
  EXPECT_EQ(FileBytes(), source);
  EXPECT_EQ(ReadFileBytes(target_), target);
}

TEST_F(CopyMoveCommandTest, RefusalsChangeNothing) {
  // No cabinet open.
  form_->Command(TCommand::CopyMiClick, 0);
  EXPECT_EQ(ui_.BoxLog(),
            std::vector<std::string>{"Error 'Error' [OK]: There isn't a File Cabinet open to copy from"});
  OpenWork();
  const auto source = FileBytes();
  // The open cabinet itself, by a link.
  std::filesystem::create_symlink(cabinet_, dir_ / "Link.qvf");
  Select("Other");
  ui_.ChooseFile(dir_ / "Link.qvf");
  form_->Command(TCommand::CopyMiClick, 1);
  // The dialog cancelled.
  ui_.CancelFile();
  form_->Command(TCommand::CopyMiClick, 1);
  EXPECT_EQ(
      ui_.BoxLog(),
      (std::vector<std::string>{
          "Error 'Error' [OK]: The items are in that File Cabinet already: choose another File Cabinet"}));
  EXPECT_EQ(FileBytes(), source);
  EXPECT_FALSE(std::filesystem::exists(target_));
}

}  // namespace
}  // namespace qbtest
