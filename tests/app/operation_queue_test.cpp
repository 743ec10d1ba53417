// One command at a time: the operation queue on its own, and the main form's
// commands with an archive engine whose message pump delivers clipboard changes
// (AutoSave on) in the middle of its work, as the window's event loop does.
#include "platform/operation_queue.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "app_test_support.h"
#include "platform/clipboard.h"

namespace qbtest {
namespace {

using qb::MsgAnswer;
using qb::TOperation;
using qb::TOperationQueue;

// --- the queue ---------------------------------------------------------------------------

TEST(OperationQueue, WorkSubmittedWhileOneRunsWaitsAndRunsInOrder) {
  TOperationQueue queue;
  std::vector<std::string> log;
  std::vector<size_t> waiting;
  queue.OnWaitingChanged = [&](size_t n) { waiting.push_back(n); };
  const bool ran =
      queue.Submit({"outer", [&] {
                      log.push_back("outer begins");
                      EXPECT_TRUE(queue.Busy());
                      // Submitted from inside, as a message handled during the work.
                      EXPECT_FALSE(queue.Submit({"a", [&] {
                                                   log.push_back("a");
                                                   queue.Submit({"c", [&] { log.push_back("c"); }});
                                                 }}));
                      EXPECT_FALSE(queue.Submit({"b", [&] { log.push_back("b"); }}));
                      EXPECT_EQ(queue.Waiting(), 2u);
                      log.push_back("outer ends");
                    }});
  EXPECT_TRUE(ran);
  EXPECT_EQ(log, (std::vector<std::string>{"outer begins", "outer ends", "a", "b", "c"}));
  EXPECT_FALSE(queue.Busy());
  EXPECT_EQ(queue.Waiting(), 0u);
  ASSERT_FALSE(waiting.empty());
  EXPECT_EQ(waiting.back(), 0u);  // the "Busy..." of the host goes away
}

TEST(OperationQueue, AFailedOperationIsReportedAndTheNextOneStillRuns) {
  TOperationQueue queue;
  std::vector<std::string> log;
  queue.ReportError = [&](const std::exception& e) { log.push_back(std::string("error: ") + e.what()); };
  queue.Submit({"outer", [&] {
                  queue.Submit({"fails", [] { throw std::runtime_error("disk full"); }});
                  queue.Submit({"throws anything", [] { throw 42; }});
                  queue.Submit({"next", [&] { log.push_back("next"); }});
                  throw std::runtime_error("outer failed");
                }});
  EXPECT_EQ(log, (std::vector<std::string>{"error: outer failed", "error: disk full",
                                           "error: An unexpected error occurred", "next"}));
  EXPECT_FALSE(queue.Busy());
  // Nothing jammed: the next one runs at once.
  EXPECT_TRUE(queue.Submit({"later", [&] { log.push_back("later"); }}));
  EXPECT_EQ(log.back(), "later");
}

struct ECabinetHeld : std::runtime_error {
  ECabinetHeld() : std::runtime_error("The File Cabinet is in use by another program") {}
};

TEST(OperationQueue, AStoreMeetingAHeldCabinetIsRetriedAndKeepsItsPlace) {
  TOperationQueue queue;
  std::vector<std::string> log;
  std::vector<std::function<void()>> timers;
  queue.ReportError = [&](const std::exception& e) { log.push_back(std::string("error: ") + e.what()); };
  queue.IsCabinetBusy = [](const std::exception& e) {
    return dynamic_cast<const ECabinetHeld*>(&e) != nullptr;
  };
  queue.ScheduleRetry = [&](int delay_ms, std::function<void()> resume) {
    EXPECT_EQ(delay_ms, TOperationQueue::kRetryDelayMs);
    timers.push_back(std::move(resume));
  };
  int held_for = 2;
  queue.Submit({"store",
                [&] {
                  if (held_for-- > 0) throw ECabinetHeld();
                  log.push_back("stored");
                },
                /*RetryWhenCabinetBusy=*/true});
  // Held: it waits for its retry, and what comes next waits behind it.
  EXPECT_TRUE(queue.Busy());
  EXPECT_FALSE(queue.Submit({"delete", [&] { log.push_back("deleted"); }}));
  ASSERT_EQ(timers.size(), 1u);
  auto fire = [&] {
    auto resume = std::move(timers.front());
    timers.erase(timers.begin());
    resume();
  };
  fire();
  ASSERT_EQ(timers.size(), 1u);  // still held
  EXPECT_TRUE(log.empty());
  fire();
  EXPECT_EQ(log, (std::vector<std::string>{"stored", "deleted"}));
  EXPECT_FALSE(queue.Busy());

  // An operation not marked for retry, and one held for too long, report the error.
  log.clear();
  queue.Submit({"rename", [] { throw ECabinetHeld(); }});
  EXPECT_TRUE(timers.empty());
  queue.Submit({"store", [] { throw ECabinetHeld(); }, true});
  for (int k = 0; k < TOperationQueue::kMaxRetries; ++k) fire();
  EXPECT_TRUE(timers.empty());
  EXPECT_EQ(log, (std::vector<std::string>{"error: The File Cabinet is in use by another program",
                                           "error: The File Cabinet is in use by another program"}));
  EXPECT_FALSE(queue.Busy());
}

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
