// TZipWriter: the reader plus the archive update, the one procedure that changes
// an archive.
//
// Every change - adding or replacing an entry from a memory stream, removing
// entries, writing changed names and comments - writes a complete new archive to
// a temporary file in the archive's own folder, forces it to the disk, and renames
// it over the old file, so a crash or a full disk at any moment leaves either the
// old archive or the new one, never a damaged one. A failed update leaves the file
// and the loaded directory exactly as they were. One writer at a time: an update
// holds the archive's writer lock from reading it to renaming the new file, and
// reads the directory again when another writer replaced the file since it was
// read (cabinet_file_replace.h has the whole procedure). There is no folder for
// temporary files to choose: one elsewhere could not be renamed over the archive,
// so an update could no longer be all or nothing.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zip/zip_reader.h"

namespace qb::zip {

class CabinetLock;

class TZipWriter : public TZipReader {
 public:
  TZipWriter();
  ~TZipWriter() override;

  // Writes pending name and comment changes to the current archive first.
  void SetZipName(const std::string& path) override;

  int PackLevel() const { return pack_level_; }
  void SetPackLevel(int level) { pack_level_ = level < 0 ? 0 : level > 9 ? 9 : level; }
  bool StorePaths() const { return store_paths_; }
  void SetStorePaths(bool value) { store_paths_ = value; }
  // File-name patterns whose entries are stored without compression.
  std::vector<std::string>& NoCompressList() { return no_compress_list_; }

  // Stores the whole stream as the entry name (normalised), replacing in place an
  // entry whose full name matches ignoring ASCII case (its comment is dropped).
  // Returns 1 when the entry was written, 0 when nothing was done.
  int AddFromStream(TMemoryStream* stream, const std::string& name);
  // The same, and the entry gets comment, in the same single update.
  int AddFromStreamWithComment(TMemoryStream* stream, const std::string& name, const std::string& comment);
  // Stores all of entries in one update, each as another archive stored it (a
  // TStoredEntry read by ReadStoredEntry): its data bytes unchanged, neither
  // decoded nor compressed again (an encrypted entry stays encrypted under its own
  // password), with its name, comment, date, method, CRC, attributes and extra
  // fields. Fields that describe the old archive's layout are left out: ZIP64
  // sizes (the header holds the real ones) and the data descriptor (kept only
  // where an encrypted entry's check byte depends on it). An entry whose full name
  // matches one of this archive, ignoring ASCII case, replaces it in place. Two
  // entries of one name are refused (EListError) with nothing written. Returns how
  // many were written.
  int AddStoredEntries(const std::vector<TStoredEntry>& entries);
  // Renames in memory; written by the next update (CommitChanges).
  void SetEntryPath(int index, const std::string& path);
  void SetEntryFileName(int index, const std::string& file_name);
  // Removes the selected entries, or, with none selected, those FilesList names.
  int RemoveEntries();
  // Writes pending name and comment changes; nothing when none is pending.
  void CommitChanges();
  // Sets the archive comment in memory (written by the next update).
  void SetArchiveComment(const std::string& comment);
  // Rewrites a damaged archive (DirectoryDamage() not empty) from what could be
  // read of it, after copying the damaged file beside it ("NAME.damaged", or
  // "NAME.damaged-2" and so on when that exists). Returns the copy's path; empty
  // when the directory is sound and nothing was done.
  std::string Repair();

  // How long an update waits for another writer to let go of the archive before
  // it fails with ECabinetBusy.
  std::chrono::milliseconds LockWait() const { return lock_wait_; }
  void SetLockWait(std::chrono::milliseconds wait) { lock_wait_ = wait; }
  // Takes the archive's writer lock now and keeps it until the matching
  // ReleaseCabinetLock (holds nest), so that reading the directory, changes in
  // memory and the update that writes them happen with no other writer in
  // between. Updates of this archive use the held lock. Throws as an update does
  // when the file cannot be replaced (ECabinetRefused) or the lock not be had
  // (ECabinetBusy). An empty ZipName takes no lock.
  void HoldCabinetLock();
  void ReleaseCabinetLock();

  // True while a part of an update runs on a worker thread - the checksum and
  // compression of a large new item, a long copy of old entries, the final sync -
  // and the calling thread dispatches the window's messages (the message pump)
  // meanwhile, every few milliseconds. The update still returns only when it is
  // done; without a message pump everything runs on the calling thread.
  bool WorkerRunning() const { return worker_running_; }

  // How a name given to AddFromStream is stored, and the one normaliser of typed
  // names: bytes that are not UTF-8 read as Windows-1252, "/" taken as "\\", drive
  // prefixes ("C:"), a server and share and leading backslashes removed from the
  // start; then the file name is the text after the last backslash and the path the
  // text up to it, ending in one backslash (empty without StorePaths). A colon
  // elsewhere is an ordinary character. Normalising the result again changes
  // nothing, and it is the name a reader of the written archive sees.
  static void NormalizeName(const std::string& name, bool store_paths, std::string& path,
                            std::string& file_name);

 private:
  enum class UpdateMode { Stream, Removal, Commit, Batch };
  struct PlannedEntry;
  struct UpdatePlan;
  class HeaderReader;
  class CopyAhead;
  int ArchiveUpdate(UpdateMode mode, TMemoryStream* stream, const std::string* comment);
  // Planning: what the new archive holds, decided before anything is written.
  int PlanEntries(UpdateMode mode, TMemoryStream* stream, const std::string* comment, UpdatePlan& plan);
  void PlanCopy(TZipHeaderInfo& old, PlannedEntry& entry, HeaderReader& headers);
  bool PlanNewEntry(const std::string& item, TMemoryStream* stream, const std::string* comment,
                    const TZipHeaderInfo* replaced, UpdatePlan& plan);
  void PlanStoredEntry(const std::string& item, const TStoredEntry& stored, UpdatePlan& plan);
  // The entries AddStoredEntries stores, while its update runs.
  const std::vector<TStoredEntry>* batch_ = nullptr;
  // Writing, as planned.
  void WriteEntries(TLFNFileStream& out, UpdatePlan& plan);
  void WriteNewEntry(TLFNFileStream& out, PlannedEntry& entry);
  void CopyOldEntry(TLFNFileStream& out, PlannedEntry& entry);
  void CopyOldBytes(TLFNFileStream& out, uint64_t position, uint64_t length);
  void WriteDirectory(TLFNFileStream& out, UpdatePlan& plan);
  void WriteCentralRecord(TLFNFileStream& out, PlannedEntry& entry);
  void WriteEndRecord(TLFNFileStream& out, TEndCentral& end, uint64_t directory_offset);
  // Adding one entry of a new name to an archive whose directory can be carried
  // over (TZipReader::directory_copyable_): the old entries and directory are
  // copied byte for byte, the new entry's local part goes in between and its
  // central record after them. MayAppend tells at once whether an append may be
  // possible; CanAppend then checks what the whole rewrite would check - the same
  // errors thrown - and says whether the result is the one the rewrite would
  // write; then AppendEntry does the update (up to the commit). Meanwhile the old
  // local parts may be copied ahead (see CopyAhead).
  bool MayAppend(const std::string& item);
  bool CanAppend(const std::string& item);
  bool LocalPartsInPlace();
  std::unique_ptr<CopyAhead> StartCopyAhead(TLFNFileStream& out, const TMemoryStream* stream);
  int AppendEntry(TLFNFileStream& out, TMemoryStream* stream, const std::string* comment, UpdatePlan& plan,
                  CopyAhead* ahead);
  void ApplyAppend(UpdatePlan& plan);
  // Makes the loaded directory the whole one, when the name filter left some out:
  // an update that rewrites the directory needs every record.
  void ReadWholeDirectory();
  // The central facts of the loaded records, after they were written anew.
  void FactsFromRecords();
  // Runs work on a worker thread, dispatching the window's messages until it has
  // ended (at least once); rethrows what it threw. Without a pump, runs it here.
  void OffTheWindowThread(const std::function<void()>& work);
  // Dispatches the window's messages when kPassPumpInterval has passed since the
  // last time: called as a pass over the old file reads on, on the calling thread.
  void PumpWhenDue();
  // After the new archive replaced the old one: it is the loaded directory now.
  void ApplyPlan(UpdatePlan& plan);

  std::vector<uint8_t> central_scratch_;  // a central record being written
  bool repairing_ = false;                // an update over a damaged directory is allowed
  bool worker_running_ = false;
  std::chrono::steady_clock::time_point last_pump_;  // see PumpWhenDue

  int pack_level_ = 6;
  bool store_paths_ = false;
  std::vector<std::string> no_compress_list_;
  std::chrono::milliseconds lock_wait_{3000};
  std::unique_ptr<CabinetLock> held_lock_;
  int lock_holds_ = 0;
};

// Holds the writer lock of zip's archive for its own lifetime.
class TCabinetLockHold {
 public:
  explicit TCabinetLockHold(TZipWriter& zip) : zip_(zip) { zip_.HoldCabinetLock(); }
  ~TCabinetLockHold() { zip_.ReleaseCabinetLock(); }
  TCabinetLockHold(const TCabinetLockHold&) = delete;
  TCabinetLockHold& operator=(const TCabinetLockHold&) = delete;

 private:
  TZipWriter& zip_;
};

}  // namespace qb::zip
