// One command at a time: the main form's commands with an archive engine whose
// message pump delivers clipboard changes (AutoSave on) in the middle of its work,
// as the window's event loop does. The queue on its own is tested in
// tests/platform/operation_queue_test.cpp.
#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "app_test_support.h"
#include "platform/clipboard.h"
#include "platform/operation_queue.h"

namespace qbtest {
namespace {

using qb::MsgAnswer;

// --- the form's commands with clipboard changes in the middle of their work ------------------

class PumpedFormTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    // A few items so that every update copies old entries (and so pumps).
    Put("Keep\\One", std::string(40000, 'a'), Bytes("F1FCG3GC"));
    Put("Keep\\Two", std::string(40000, 'b'), Bytes("F1FCG3GC"));
    Put("Keep\\Three", "three", Bytes("F1FCG3GCNold noteNC"));
    OpenWork();
    form_->ClipboardCommands().ClipboardViewer1().JoinChain();
    form_->AutoSaveMiClick();
    // Each pump of the engine delivers the next copy until none is left.
    form_->Zip1().SetMessagePump([this] {
      ++pumps_;
      if (copies_.empty()) return;
      const std::string text = copies_.front();
      copies_.erase(copies_.begin());
      Clipboard().PutText(text);
    });
  }
  qb::TMemoryClipboard& Clipboard() { return dynamic_cast<qb::TMemoryClipboard&>(form_->Clipboard()); }

  // The items AutoSave stored, in the order of their numbers, with their data.
  std::vector<std::string> SavedClips() {
    std::vector<std::string> out;
    for (int n = 0;; ++n) {
      bool found = false;
      for (const DiskEntry& e : Disk())
        if (e.Name == "NewItems\\Item" + std::to_string(n)) {
          out.push_back(e.Data.substr(0, e.Data.find('\0')));
          EXPECT_EQ(e.Comment, Bytes("F1FCG3GC")) << e.Name;
          found = true;
        }
      if (!found) return out;
    }
  }
  // Files beside the cabinet (the home folder and the writers' lock file aside):
  // no temporary file is left behind.
  std::vector<std::string> FilesBeside() {
    std::vector<std::string> names;
    for (const auto& f : std::filesystem::directory_iterator(dir_.Path()))
      if (f.path().filename() != "home" && f.path().filename() != ".Work.qvf.lock")
        names.push_back(f.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  void ExpectClipsStoredInOrder() {
    EXPECT_TRUE(copies_.empty()) << "the engine pumped " << pumps_ << " times";
    EXPECT_EQ(SavedClips(), (std::vector<std::string>{"first copy", "second copy", "third copy"}));
    for (const std::string& box : ui_.BoxLog()) EXPECT_EQ(box.rfind("Confirmation", 0), 0u) << box;
    EXPECT_EQ(FilesBeside(), (std::vector<std::string>{"Work.qvf"}));
    EXPECT_FALSE(form_->Operations().Busy());
    // The tree shows every stored clip.
    for (int n = 0; n < 3; ++n)
      EXPECT_NE(qb::FindNodeByPath(Tree(), "NewItems\\Item" + std::to_string(n)), nullptr) << n;
  }

  std::vector<std::string> copies_{"first copy", "second copy", "third copy"};
  int pumps_ = 0;
};

TEST_F(PumpedFormTest, CopiesDuringAnAutoSaveAreStoredAfterItInOrder) {
  // The first copy's own save pumps and so delivers the next copies.
  copies_.erase(copies_.begin());
  Clipboard().PutText("first copy");
  ExpectClipsStoredInOrder();
}

TEST_F(PumpedFormTest, CopiesDuringADeleteAreStoredAfterIt) {
  Select("Keep\\One");
  ui_.Answer(MsgAnswer::Yes);
  EXPECT_TRUE(form_->Command(qb::TCommand::DeleteMiClick));
  ExpectClipsStoredInOrder();
  for (const DiskEntry& e : Disk()) EXPECT_NE(e.Name, "Keep\\One");
  EXPECT_EQ(qb::FindNodeByPath(Tree(), "Keep\\One"), nullptr);
}

TEST_F(PumpedFormTest, CopiesDuringARenameAreStoredAfterIt) {
  Select("Keep\\Two");
  ui_.Input("Renamed");
  form_->Command(qb::TCommand::RenameMiClick);
  ExpectClipsStoredInOrder();
  int renamed = 0;
  for (const DiskEntry& e : Disk()) renamed += e.Name == "Keep\\Renamed" && e.Data == std::string(40000, 'b');
  EXPECT_EQ(renamed, 1);
}

TEST_F(PumpedFormTest, CopiesDuringAddNoteAreStoredAfterIt) {
  Select("Keep\\Three");
  form_->NoteForm().SetMemo1Text("new note");
  form_->Command(qb::TCommand::AddNoteMiClick);
  ExpectClipsStoredInOrder();
  for (const DiskEntry& e : Disk()) {
    if (e.Name == "Keep\\Three") {
      EXPECT_EQ(e.Comment, Bytes("F1FCG3GCNnew noteNC"));
    }
  }
}

TEST_F(PumpedFormTest, CopiesDuringAMoveToAnotherCabinetAreStoredAfterIt) {
  const std::string target = dir_ / "Other.qvf";
  Select("Keep");
  ui_.ChooseFile(target);
  form_->Command(qb::TCommand::CopyMiClick, 1);
  EXPECT_TRUE(copies_.empty()) << "the engine pumped " << pumps_ << " times";
  EXPECT_EQ(ui_.BoxLog(),
            std::vector<std::string>{"Information 'Information' [OK]: Moved 3 items to " + target + "."});
  EXPECT_EQ(SavedClips(), (std::vector<std::string>{"first copy", "second copy", "third copy"}));
  EXPECT_EQ(Disk().size(), 3u);  // the clips only
  EXPECT_EQ(Disk(target).size(), 3u);
  EXPECT_EQ(qb::FindNodeByPath(Tree(), "Keep"), nullptr);
  EXPECT_NE(qb::FindNodeByPath(Tree(), "NewItems\\Item2"), nullptr);
  EXPECT_FALSE(form_->Operations().Busy());
}

TEST_F(PumpedFormTest, ASaveByCommandAndTheCopiesDuringItAreStoredInOrder) {
  form_->AutoSaveMiClick();  // off: Save asks for the name
  Clipboard().PutText("asked for");
  form_->AutoSaveMiClick();  // on again after the copy: the next copies are stored by themselves
  // Save runs as the command it is, with AutoSave on it asks nothing; one pump in
  // its work delivers the three copies in turn.
  form_->Command(qb::TCommand::SaveToFCMiClick);
  EXPECT_TRUE(copies_.empty());
  EXPECT_EQ(SavedClips(), (std::vector<std::string>{"asked for", "first copy", "second copy", "third copy"}));
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(PumpedFormTest, TheMessagesOfAQueuedSaveAppearWhenItsTurnComes) {
  // Copies that cannot be stored say so in order, after the running command.
  copies_.clear();
  form_->Zip1().SetMessagePump([this] {
    if (pumps_++ > 0) return;
    {
      qb::TClipboardLock lock(Clipboard());
      Clipboard().Empty();  // "The clipboard is empty, nothing to save"
    }
    Clipboard().PutText("after the empty one");
  });
  Select("Keep\\One");
  ui_.Answer(MsgAnswer::Yes);
  form_->Command(qb::TCommand::DeleteMiClick);
  EXPECT_EQ(ui_.BoxLog(),
            (std::vector<std::string>{
                "Confirmation 'Confirm' [Yes/Cancel]: Are you sure you want to delete the selected item?",
                "Error 'Error' [OK]: The clipboard is empty, nothing to save"}));
  EXPECT_EQ(SavedClips(), (std::vector<std::string>{"after the empty one"}));
}

TEST_F(PumpedFormTest, AnAutoSaveFindingTheCabinetHeldByAnotherWriterIsStoredLater) {
  copies_.clear();
  std::vector<std::function<void()>> timers;
  form_->Operations().ScheduleRetry = [&](int, std::function<void()> resume) { timers.push_back(resume); };
  form_->Zip1().SetLockWait(std::chrono::milliseconds(20));
  auto other = std::make_unique<qb::zip::TZipWriter>();
  qb::store::ConfigureCabinetArchive(*other);
  other->SetZipName(cabinet_);
  other->HoldCabinetLock();
  Clipboard().PutText("while held");
  Clipboard().PutText("and another");  // waits behind the first
  ASSERT_EQ(timers.size(), 1u);
  EXPECT_TRUE(form_->Operations().Busy());
  EXPECT_TRUE(SavedClips().empty());
  EXPECT_TRUE(ui_.Boxes().empty());
  // Still held at the first retry, free at the second.
  auto fire = [&] {
    auto resume = timers.front();
    timers.erase(timers.begin());
    resume();
  };
  fire();
  ASSERT_EQ(timers.size(), 1u);
  other->ReleaseCabinetLock();
  fire();
  EXPECT_TRUE(timers.empty());
  EXPECT_EQ(SavedClips(), (std::vector<std::string>{"while held", "and another"}));
  EXPECT_TRUE(ui_.Boxes().empty()) << ui_.BoxLog()[0];
  EXPECT_FALSE(form_->Operations().Busy());
}

}  // namespace
}  // namespace qbtest
