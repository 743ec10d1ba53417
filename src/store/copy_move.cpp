#include "store/copy_move.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "store/cabinet_store.h"

namespace qb::store {

bool TZipCopyMove::SameCabinet(const std::string& a, const std::string& b) {
  if (SameFilePath(a, b)) return true;
  // A target not made yet is not the source, unless it is the same text.
  return false;
}

void TZipCopyMove::PasswordPrompt(int index, std::string& new_password) {
  std::string typed = new_password;
  if (OnPassword && OnPassword(*this, index, typed)) new_password = typed;
}

void TZipCopyMove::BeginTransfer(const std::string& file_name, bool& skip) {
  if (OnBeginTransfer) OnBeginTransfer(*this, file_name, skip);
}

void TZipCopyMove::Completion(int transferred, int deleted, int skipped,
                              const std::vector<std::string>& fail_list) {
  if (OnCompletion) OnCompletion(*this, transferred, deleted, skipped, fail_list);
}

void TZipCopyMove::Progress(int whole, int entry) {
  if (whole >= 0) last_whole_ = std::clamp(whole, 0, 100);
  if (OnProgress) OnProgress(*this, last_whole_, std::clamp(entry, 0, 100));
}

void TZipCopyMove::Fail(const std::string& name, const std::string& reason) {
  failures_.push_back({name, reason});
}

std::string TZipCopyMove::ReadEntry(const std::string& name, zip::TStoredEntry& stored,
                                    std::string& password) {
  for (;;) {
    uint64_t size = 0, done = 0;
    const int index = source_->FindEntry(name);
    if (index < source_->EntryCount()) size = source_->Entry(index).uncompressed_size;
    std::string problem;
    try {
      problem = source_->ReadStoredEntry(name, stored, [&](const uint8_t*, size_t count) {
        done += count;
        if (size) Progress(-1, static_cast<int>(std::min<uint64_t>(done, size) * 100 / size));
        return !cancel_;
      });
    } catch (const Exception& e) {
      return e.what();
    }
    if (problem.empty()) {
      password = source_->Password();
      return problem;
    }
    // A wrong password passes the one-byte check of the encryption header once in
    // 256 tries, and the entry then decodes to garbage: for an encrypted entry a
    // data fault may be the password's, so it is asked for again.
    const bool encrypted = index < source_->EntryCount() && source_->Entry(index).Encrypted();
    const bool maybe_password = problem == "is encrypted" ||
                                (encrypted && !cancel_ && problem != "uses an unknown compression method");
    if (!maybe_password) return problem;
    // A password that opens it, or none: the entry stays where it is.
    std::string typed = source_->Password();
    const std::string before = typed;
    PasswordPrompt(index, typed);
    if (typed == before) {
      // No other password: what it decoded to may be damage or a wrong password,
      // which cannot be told apart.
      if (problem != "is encrypted" && !before.empty()) return problem + ", or the password is wrong";
      return "needs a password that was not given";
    }
    source_->SetPassword(typed);
  }
}

void TZipCopyMove::Finish() {
  std::vector<std::string> fail_list;
  for (const TFailure& f : failures_) fail_list.push_back(f.name);
  running_ = false;
  Completion(transferred_, deleted_, skipped_, fail_list);
}

void TZipCopyMove::Transfer() {
  if (running_) throw ETransferRefused("A transfer is running already");
  if (!source_ || source_->ZipName().empty()) throw ETransferRefused("No File Cabinet is open to copy from");
  if (target_zip_.empty()) throw ETransferRefused("No target File Cabinet was given");
  if (SameCabinet(source_->ZipName(), target_zip_))
    throw ETransferRefused("The target File Cabinet is the open File Cabinet itself: choose another one");

  cancel_ = cancelled_ = false;
  failures_.clear();
  problem_.clear();
  transferred_ = deleted_ = skipped_ = 0;
  last_whole_ = 0;
  transferred_names_.clear();
  running_ = true;

  // The source's password is borrowed for the entries that need one.
  const std::string saved_password = source_->Password();
  struct Restore {
    zip::TZipWriter& zip;
    std::string password;
    bool& running;
    ~Restore() {
      zip.SetPassword(password);
      running = false;
    }
  } restore{*source_, saved_password, running_};

  const bool move = transfer_type_ == TTransferType::ttMove;
  const int total = static_cast<int>(files_list_.size());

  // The target, through an archive object of its own.
  zip::TZipWriter target;
  ConfigureCabinetArchive(target);
  target.SetDoProcessMessages(source_->DoProcessMessages());
  target.SetMessagePump(source_->MessagePump());
  try {
    target.SetZipName(target_zip_);
    if (RegularFileExists(target_zip_)) target.ReadDirectory();
    if (!target.DirectoryDamage().empty()) throw zip::EDamagedZip(target.DirectoryDamage());
  } catch (const Exception& e) {
    problem_ = std::string("The target File Cabinet cannot be read: ") + e.what();
    for (const std::string& name : files_list_) Fail(name, problem_);
    Finish();
    return;
  }

  // 1. Read and check each entry.
  std::vector<zip::TStoredEntry> incoming;
  std::vector<std::string> passwords;  // that each entry was checked with
  bool replace_all = false;
  int done = 0;
  try {
    source_->ReadDirectory();
  } catch (const Exception& e) {
    problem_ = std::string("The open File Cabinet cannot be read: ") + e.what();
    for (const std::string& name : files_list_) Fail(name, problem_);
    Finish();
    return;
  }
  for (const std::string& name : files_list_) {
    Progress(done * 100 / std::max(total, 1), 0);
    if (cancel_) break;
    ++done;
    bool skip = false;
    BeginTransfer(name, skip);
    if (skip) {
      ++skipped_;
      continue;
    }
    const int index = source_->FindEntry(name);
    if (index >= source_->EntryCount() || source_->EntryFileName(index).empty()) {
      Fail(name, "is not in the open File Cabinet");
      continue;
    }
    const std::string full = source_->EntryFullName(index);
    if (std::any_of(incoming.begin(), incoming.end(), [&](const zip::TStoredEntry& e) {
          return codepage::SameTextAscii(e.record.FullName(), full);
        })) {
      ++skipped_;  // named twice
      continue;
    }
    if (target.DirectoryLoaded() && target.FindEntry(full) < target.EntryCount() && !replace_all) {
      const TReplaceAnswer answer = OnReplaceQuery ? OnReplaceQuery(*this, full) : TReplaceAnswer::No;
      if (answer == TReplaceAnswer::Cancel) {
        cancel_ = true;
        --done;
        break;
      }
      if (answer == TReplaceAnswer::No) {
        ++skipped_;
        continue;
      }
      if (answer == TReplaceAnswer::YesToAll) replace_all = true;
    }
    zip::TStoredEntry entry;
    std::string password;
    const std::string problem = ReadEntry(full, entry, password);
    if (cancel_) {
      --done;
      break;
    }
    if (!problem.empty()) {
      Fail(full, problem);
      continue;
    }
    Progress(done * 100 / std::max(total, 1), 100);
    incoming.push_back(std::move(entry));
    passwords.push_back(password);
  }
  if (cancel_) {
    // Nothing is written: every entry not failed counts as skipped.
    cancelled_ = true;
    skipped_ = total - static_cast<int>(failures_.size());
    Finish();
    return;
  }

  // 2. All of them into the target in one update, as they are stored.
  if (!incoming.empty()) {
    try {
      target.AddStoredEntries(incoming);
    } catch (const Exception& e) {
      problem_ = std::string("The target File Cabinet could not be written: ") + e.what();
      for (const auto& entry : incoming) Fail(entry.record.FullName(), problem_);
      Finish();
      return;
    }
  }

  // 3. Read back: an entry counts as transferred only when the target holds it
  // intact, with its comment, CRC and data as the source stores them.
  std::vector<std::string> reached;
  if (!incoming.empty()) {
    zip::TZipReader check;
    check.SetDoProcessMessages(source_->DoProcessMessages());
    check.SetMessagePump(source_->MessagePump());
    try {
      check.SetZipName(target_zip_);
      check.ReadDirectory();
    } catch (const Exception& e) {
      problem_ = std::string("The target File Cabinet could not be read back: ") + e.what();
    }
    for (size_t k = 0; k < incoming.size(); ++k) {
      const zip::TStoredEntry& entry = incoming[k];
      const std::string name = entry.record.FullName();
      std::string why;
      try {
        if (!problem_.empty()) throw Exception(problem_);
        zip::TStoredEntry written;
        check.SetPassword(passwords[k]);
        why = check.ReadStoredEntry(name, written);
        if (why.empty() && (written.record.comment.value_or("") != entry.record.comment.value_or("") ||
                            written.record.crc != entry.record.crc || written.data != entry.data ||
                            written.record.uncompressed_size != entry.record.uncompressed_size))
          why = "is not the same in the target File Cabinet";
      } catch (const Exception& e) {
        why = e.what();
      }
      if (why.empty())
        reached.push_back(name);
      else
        Fail(name, why);
    }
  }
  transferred_ = static_cast<int>(reached.size());
  transferred_names_ = reached;

  // 4. A move removes exactly those from the source, in one update.
  if (move && !reached.empty()) {
    try {
      zip::TCabinetLockHold hold(*source_);
      source_->ReadDirectory();
      ClearSelection(*source_);
      source_->FilesList().clear();
      int marked = 0;
      for (const std::string& name : reached) {
        const int i = source_->FindEntry(name);
        if (i < source_->EntryCount()) {
          source_->SetEntrySelected(i, true);
          ++marked;
        }
      }
      deleted_ = marked ? source_->RemoveEntries() : 0;
    } catch (const Exception& e) {
      ClearSelection(*source_);
      problem_ = std::string("The items were copied, but could not be removed from the open File Cabinet: ") +
                 e.what();
    }
  }
  Progress(100, 100);
  Finish();
}

}  // namespace qb::store
