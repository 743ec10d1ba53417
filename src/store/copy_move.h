// TZipCopyMove: copies or moves items of one cabinet into another, losing none.
//
// Transfer works in four steps, and no step starts before the one before it has
// succeeded:
//   1. each named entry of the source is decoded and checked (its CRC, its
//      password) and read as stored from the same open file; one that does not
//      decode whole goes to the fail list and is left alone, so damaged data is
//      never carried under a CRC of its own;
//   2. every entry read goes into the target in one update, as the source stores
//      it: compressed data unchanged (an encrypted entry stays encrypted under its
//      own password), comment (the item's metadata), name, date, attributes and
//      extra fields; the target file is replaced whole, so it holds either none or
//      all of them;
//   3. the target is read back and each entry checked against what was written;
//   4. for a move, one update removes from the source exactly the entries found
//      intact in the target.
// A failure or a kill at any moment therefore leaves every item in at least one
// cabinet, each file valid. The target must not be the source (by file identity:
// a link or another spelling of its path counts): that is refused before anything
// is read. The source's own archive object is used for reading and removing only;
// the target is written through an archive object of its own.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "zip/zip_writer.h"

namespace qb::store {

enum class TTransferType { ttCopy, ttMove };

// The answer to "replace the item of that name in the target?".
enum class TReplaceAnswer { Yes, No, YesToAll, Cancel };

// A transfer that cannot start (no source, no target, the target is the source).
class ETransferRefused : public Exception {
 public:
  using Exception::Exception;
};

class TZipCopyMove {
 public:
  using TBeginTransferEvent =
      std::function<void(TZipCopyMove& sender, const std::string& file_name, bool& skip)>;
  using TCompletionEvent = std::function<void(TZipCopyMove& sender, int transferred, int deleted, int skipped,
                                              const std::vector<std::string>& fail_list)>;
  // Asked for each entry whose name the target holds already.
  using TReplaceQueryEvent =
      std::function<TReplaceAnswer(TZipCopyMove& sender, const std::string& file_name)>;
  // Asked for a password for source entry index; true with password set when one
  // was typed, false when the user cancelled.
  using TPasswordEvent = std::function<bool(TZipCopyMove& sender, int index, std::string& password)>;
  // The whole transfer's percent, and the current entry's (a negative whole in
  // Progress keeps the last one).
  using TProgressEvent = std::function<void(TZipCopyMove& sender, int whole, int entry)>;

  struct TFailure {
    std::string name;
    std::string reason;
  };

  TZipCopyMove() = default;
  virtual ~TZipCopyMove() = default;
  TZipCopyMove(const TZipCopyMove&) = delete;
  TZipCopyMove& operator=(const TZipCopyMove&) = delete;

  TBeginTransferEvent OnBeginTransfer;
  TCompletionEvent OnCompletion;
  TReplaceQueryEvent OnReplaceQuery;
  TPasswordEvent OnPassword;
  TProgressEvent OnProgress;

  std::vector<std::string>& FilesList() { return files_list_; }
  const std::string& TargetZip() const { return target_zip_; }
  void SetTargetZip(const std::string& path) { target_zip_ = path; }
  TTransferType TransferType() const { return transfer_type_; }
  void SetTransferType(TTransferType type) { transfer_type_ = type; }
  zip::TZipWriter* ZipReader() const { return source_; }
  void SetZipReader(zip::TZipWriter* source) { source_ = source; }

  // Runs the transfer of FilesList from ZipReader to TargetZip (see above). Throws
  // ETransferRefused, changing nothing, when it cannot start; every other problem
  // is reported through the completion notification, the fail list and Problem().
  void Transfer();
  // Asks a running transfer to stop at the next entry: nothing not yet written is
  // written; entries already in the target stay there and in the source.
  void Cancel() { cancel_ = true; }
  bool Cancelled() const { return cancelled_; }
  bool Running() const { return running_; }

  // Of the last transfer: each failed entry with why, and a problem of the whole
  // transfer (the target or the source could not be written), empty when none.
  const std::vector<TFailure>& Failures() const { return failures_; }
  const std::string& Problem() const { return problem_; }
  int TransferredCount() const { return transferred_; }
  int DeletedCount() const { return deleted_; }
  int SkippedCount() const { return skipped_; }
  // The names (as stored in the target) of the entries that reached the target.
  const std::vector<std::string>& TransferredNames() const { return transferred_names_; }

  // Whether path names the source file itself (the same file on disk).
  static bool SameCabinet(const std::string& a, const std::string& b);

 protected:
  // Asks for a new password for source entry index; leaves password as it was
  // when none is given.
  virtual void PasswordPrompt(int index, std::string& new_password);
  virtual void BeginTransfer(const std::string& file_name, bool& skip);
  virtual void Completion(int transferred, int deleted, int skipped,
                          const std::vector<std::string>& fail_list);
  virtual void Progress(int whole, int entry);

 private:
  void Fail(const std::string& name, const std::string& reason);
  // Checks the source's entry of full name name and reads it as stored, asking
  // for a password while it needs one; password is the one it opened with. Empty
  // when intact, else why not.
  std::string ReadEntry(const std::string& name, zip::TStoredEntry& stored, std::string& password);
  void Finish();

  std::vector<std::string> files_list_;
  std::string target_zip_;
  TTransferType transfer_type_ = TTransferType::ttCopy;
  zip::TZipWriter* source_ = nullptr;

  bool cancel_ = false;
  bool cancelled_ = false;
  bool running_ = false;
  std::vector<TFailure> failures_;
  std::string problem_;
  int transferred_ = 0;
  int deleted_ = 0;
  int skipped_ = 0;
  int last_whole_ = 0;
  std::vector<std::string> transferred_names_;
};

}  // namespace qb::store
