// TZipReader: reads ZIP archives - the directory, entry names and comments, and
// entry data into memory streams.
//
// The reader works on whole files and never edits one. Every operation that needs
// the file runs the open step: open the file if it is not open, then read the
// directory again when none is loaded or the file's modification stamp differs from
// the one recorded at the last read or write; afterwards the file is closed again
// unless KeepZipOpen is set. Names are UTF-8 in memory with "\" as separator;
// comments are bytes as stored. Entry indexes are positions in the sorted view.
//
// Not thread-safe, and not re-entrant: the message pump it calls during long work
// must not start another operation on the same object.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/interaction.h"
#include "platform/memory_stream.h"
#include "zip/buffered_file.h"
#include "zip/prefaulted_memory.h"
#include "zip/zip_header.h"

namespace qb::zip {

enum class TIncompleteZipMode { izAssumeMulti, izAssumeBad, izAssumeNotAZip };

// An entry as its archive stores it, to be written into another archive without
// decoding (TZipWriter::AddStoredEntries): its record (name and the name's bytes,
// comment, date, CRC, sizes, method, flags, attributes, central extra field), its
// local extra field, and its data bytes as stored: compressed, and encrypted with
// the encryption header when the entry is, without a data descriptor.
struct TStoredEntry {
  TZipHeaderInfo record;
  std::string local_extra;
  std::vector<uint8_t> data;
};

// What an update needs to know of a central record to carry it over as it is.
struct TCentralFacts {
  uint64_t local_header_offset = 0;
  uint64_t name_hash = 0;  // FoldedNameHash of the full name
  // The record's 32-bit field (what an update that carries the directory over
  // reads: only records as written, below, have their sizes there).
  uint32_t compressed_size = 0;
  uint32_t crc = 0;
  uint16_t flags = 0;
  uint16_t disk = 0;
  // A rewrite would write the record's bytes as they are, its local header offset
  // given: no ZIP64 values, an extra field that is kept whole, a date that needs
  // no mending, disk 0.
  bool as_written = false;
};
using TCentralFactsList = std::vector<TCentralFacts, TPrefaultedAllocator<TCentralFacts>>;

class TZipReader {
 public:
  TZipReader();
  virtual ~TZipReader();
  TZipReader(const TZipReader&) = delete;
  TZipReader& operator=(const TZipReader&) = delete;

  // --- properties -------------------------------------------------------------
  const std::string& ZipName() const { return zip_name_; }
  // A path that names the current file (SameFilePath: the same text, or the same
  // file on disk) changes nothing; otherwise the loaded directory is dropped and
  // the file closed; nothing is read until needed.
  virtual void SetZipName(const std::string& path);
  TZipSortMode SortMode() const { return sort_mode_; }
  void SetSortMode(TZipSortMode mode) { sort_mode_ = mode; }
  std::vector<std::string>& FilesList() { return files_list_; }
  bool DoAll() const { return do_all_; }
  void SetDoAll(bool value) { do_all_ = value; }
  bool KeepZipOpen() const { return keep_zip_open_; }
  void SetKeepZipOpen(bool value);
  bool DoProcessMessages() const { return do_process_messages_; }
  void SetDoProcessMessages(bool value) { do_process_messages_ = value; }
  TIncompleteZipMode IncompleteZipMode() const { return incomplete_mode_; }
  void SetIncompleteZipMode(TIncompleteZipMode mode) { incomplete_mode_ = mode; }
  bool ReplaceReadOnly() const { return replace_read_only_; }
  void SetReplaceReadOnly(bool value) { replace_read_only_ = value; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& password) { password_ = password; }

  // Where message boxes go ("Unknown Compression Method"); may be null (none shown).
  void SetInteraction(IUserInteraction* interaction) { interaction_ = interaction; }
  // Called to dispatch pending window messages during long reads and writes.
  void SetMessagePump(std::function<void()> pump) { pump_ = std::move(pump); }
  const std::function<void()>& MessagePump() const { return pump_; }

  // Makes the directory read hold only the entries whose full name is one of
  // names (ASCII letters folded), for a reader after one item in a large archive:
  // the others are passed over as they are read, so look-ups among the names give
  // what they give over the whole directory. Empty (the default): every entry. Set
  // it before the directory is read. A reader that will write nothing passes
  // for_update false: the read then gathers nothing of the records it passes over
  // (what an update needs to carry the directory over).
  void SetNameFilter(std::vector<std::string> names, bool for_update = true) {
    name_filter_ = std::move(names);
    filter_for_update_ = for_update;
  }

  // --- directory ----------------------------------------------------------------
  // Runs the open step. A missing end record (izAssumeMulti) leaves no directory
  // loaded; any other error clears the component, empties ZipName and propagates.
  void ReadDirectory();
  int EntryCount() const;
  std::string EntryFileName(int index) const;
  std::string EntryPath(int index) const;
  std::string EntryFullName(int index) const;
  bool EntryHasComment(int index) const;
  // The comment's bytes; read from the file on first use and kept.
  std::string EntryComment(int index);
  // Replaces the in-memory comment (empty removes it) and sets the modified flag;
  // a text equal to the stored comment changes nothing.
  void SetEntryComment(int index, const std::string& comment);
  bool EntrySelected(int index) const;
  void SetEntrySelected(int index, bool selected);
  int SelectedCount() const { return selected_count_; }
  // The index of the first entry whose full name is name, ASCII letters folded
  // (as codepage::SameTextAscii compares them); EntryCount() when there is none.
  // A bisection in the view sorted by name, a pass over the entries otherwise.
  int FindEntry(std::string_view name) const;
  // The whole record of an entry (sizes, method, date, ...), read-only.
  const TZipHeaderInfo& Entry(int index) const;
  // Reads every comment not yet in memory in one pass over the central directory.
  void LoadAllComments();
  // The archive comment (bytes), read on first use.
  std::string ArchiveComment();
  bool Modified() const { return end_.modified; }
  bool DirectoryLoaded() const { return directory_loaded_; }
  // The cabinet file's stamp when the loaded directory was read or last written.
  const FileStamp& DirectoryStamp() const { return stamp_; }
  // What is wrong with the loaded directory, empty when it was read whole and
  // agrees with the end records. A damaged directory is read as far as it goes
  // (every record the directory holds, or the entries recovered from their local
  // headers), but no update is written over it unless a repair is asked for.
  const std::string& DirectoryDamage() const { return damage_; }
  // True when the directory was rebuilt from the local headers (the central
  // directory could not be read): the entries may lack their comments.
  bool DirectoryRecovered() const { return recovered_; }

  // --- extraction ---------------------------------------------------------------
  // Extracts the entries whose full names match name (a pattern, ASCII case folded)
  // into stream, appended at its position; returns how many came out with a good CRC.
  int ExtractToStream(TMemoryStream* stream, const std::string& name);
  // Extracts entry index (and any other entry whose selection mark is set).
  int ExtractIndexToStream(TMemoryStream* stream, int index);

  // Receives an entry's data piece by piece, in order; false stops the decoding.
  using TDataSink = std::function<bool(const uint8_t* data, size_t size)>;
  // Decodes entry index in bounded memory (whatever its size), handing its data to
  // sink when one is given, and checks it: its CRC, and that it makes exactly its
  // size. Returns why it is not intact ("has a bad CRC: the data is damaged", "is
  // encrypted", ...), empty when it is; a drawer entry is intact. Data that ends
  // before the file does (EFatalUnzipError), an entry beyond the engine's size
  // limit (EEntryTooLarge) and read errors are thrown. The legacy methods (1 to 6)
  // are decoded in memory, as large as the entry.
  std::string CheckEntry(int index, const TDataSink& sink = {});
  // Checks every entry in the view's order against one reading of the directory
  // (CheckEntry runs the open step for each): report gets each index with what
  // CheckEntry would give for it, or the message of the error it would throw for
  // that entry. Errors of the open step itself are thrown.
  void CheckAllEntries(const std::function<void(int index, const std::string& problem)>& report);
  // Checks the entry of full name name (ASCII letters folded) as CheckEntry does,
  // handing its decoded data to sink, and, when it is intact, reads it as stored
  // into stored from the same open file: what is read is what was checked, even
  // when another writer replaces the file meanwhile. Returns what CheckEntry
  // returns, or "is not in the File Cabinet" when no entry has that name; stored
  // is filled only when the result is empty. Throws as CheckEntry does.
  std::string ReadStoredEntry(std::string_view name, TStoredEntry& stored, const TDataSink& sink = {});

 protected:
  // The open step: opens the file and reads the directory when needed.
  void OpenStep();
  // Runs work after the open step; the file is closed again afterwards (unless
  // KeepZipOpen is set), however work ends.
  template <class Work>
  auto WithOpenFile(Work&& work) -> decltype(work()) {
    struct Closer {
      TZipReader& reader;
      ~Closer() { reader.CloseUnlessKept(); }
    } closer{*this};
    OpenStep();
    return work();
  }
  void CloseFile();
  void CloseUnlessKept();
  // Drops the directory, closes the file and resets the end record.
  void ClearDirectory();
  // Builds the sorted view for the current sort mode from the physical list.
  void RebuildSortedView();
  void ProcessMessages();
  // Whether the window's messages are dispatched during long work (a pump set,
  // and not turned off).
  bool Pumping() const { return do_process_messages_ && static_cast<bool>(pump_); }
  TZipHeaderInfo* Record(int index) const;
  // Reads the comment bytes of a record from its central header.
  std::string ReadCommentFromFile(const TZipHeaderInfo& record);
  // Reads every comment not yet in memory (the file is open).
  void ReadMissingComments();
  // Reads exactly count bytes at position from the open file, or throws EFatalUnzipError.
  void ReadExactAt(uint64_t position, void* buffer, size_t count);

  std::string zip_name_;
  TZipSortMode sort_mode_ = TZipSortMode::ByNone;
  std::vector<std::string> files_list_;
  bool do_all_ = false;
  bool keep_zip_open_ = false;
  bool do_process_messages_ = true;
  TIncompleteZipMode incomplete_mode_ = TIncompleteZipMode::izAssumeMulti;
  bool replace_read_only_ = false;
  std::string password_;
  IUserInteraction* interaction_ = nullptr;
  std::function<void()> pump_;

  // The loaded directory: the physical list owns the records (file order); the
  // sorted view shares them (or is the physical list itself for ByNone).
  std::unique_ptr<TSortedZip> physical_;
  std::unique_ptr<TSortedZip> sorted_;
  TEndCentral end_;
  bool directory_loaded_ = false;
  FileStamp stamp_;
  int selected_count_ = 0;
  std::unique_ptr<TLFNFileStream> file_;
  uint64_t end_record_position_ = 0;
  // Where the ZIP64 end record begins, or the end record when there is none: the
  // central directory ends there.
  uint64_t zip64_end_position_ = 0;
  bool masked_end_record_ = false;
  std::string damage_;
  bool recovered_ = false;
  std::vector<std::string> name_filter_;
  bool filter_for_update_ = true;

  // Every central record of the file as it stands, in directory order - those the
  // name filter passed over too - for an update that adds an entry and carries the
  // directory over byte for byte instead of rewriting it (TZipWriter).
  TCentralFactsList central_facts_;
  // The directory lies at the end record's offset, agrees with the end records,
  // every record is as written, and the records list the local headers in file
  // order: an update may carry it over byte for byte.
  bool directory_copyable_ = false;

 private:
  // The central directory as read, in large pieces: records are decoded where they
  // lie in it. Empty when no directory is being read.
  struct TDirectoryBlock {
    std::vector<uint8_t, TPrefaultedAllocator<uint8_t>> bytes;
    uint64_t start = 0;
    size_t length = 0;
    // How much is read at a time, at least.
    size_t read_ahead = size_t{256} << 10;
  };
  TDirectoryBlock block_;
  // The open file's bytes, read whole for a pass over every entry; null otherwise.
  const std::vector<uint8_t>* whole_file_ = nullptr;
  // Whether the facts read are in file order and all as written, when the read
  // that took them noted it (known); else CheckCentralFacts looks.
  struct TFactsSummary {
    bool known = false;
    bool ordered = true;
    bool as_written = true;
  };
  TFactsSummary facts_summary_;
  // The count bytes at position, through the block; nullptr when the file ends first.
  const uint8_t* PeekDirectory(uint64_t position, size_t count);
  void ReadDirectoryFromFile();
  bool LocateEndRecord();
  void ReadZip64EndRecord();
  bool ReadCentralDirectory();
  bool ReadCentralRecordsFrom(uint64_t start);
  // The records from start read for their facts alone, and those the filter keeps
  // decoded, where the directory is a usual one; false, with what was read left
  // to be cleared, where it is not.
  bool ReadPlainDirectory(uint64_t start);
  void TakeInFileOrder(std::vector<std::unique_ptr<TZipHeaderInfo>>& records);
  // Reads the central record at offset; nullptr when there is none (short read or
  // no signature), or, with skipped given, when the name filter passes it over
  // (*skipped set). next is set to the position after it.
  // With facts given, appends the record's TCentralFacts, whether kept or passed over.
  std::unique_ptr<TZipHeaderInfo> ReadCentralRecord(uint64_t offset, uint64_t& next, bool* skipped = nullptr,
                                                    TCentralFactsList* facts = nullptr);
  // After the directory was read from its place: whether it can be carried over,
  // and, when the name filter left records out, the refusals a whole read gives
  // (more records than a list holds, two records for one local header).
  void CheckCentralFacts(bool in_place);
  bool NameInFilter(std::string_view name) const;
  void RecoverFromLocalHeaders();
  void NoteDamage(const std::string& what);
  int Extract(TMemoryStream* stream, bool selection_mode);
  bool ExtractOne(TZipHeaderInfo& record, TMemoryStream* stream);
  enum class TEntryResult {
    Intact,
    WrongPassword,
    UnknownMethod,
    BadData,
    TooLong,
    SizeMismatch,
    BadCrc,
    Stopped
  };
  // Decodes an entry into target (which may be empty); into_memory lets the output
  // window grow to the entry's size instead of sliding.
  TEntryResult DecodeEntry(const TZipHeaderInfo& record, const TDataSink& target, bool into_memory);
  static std::string EntryProblem(TEntryResult result);
  const TSortedZip& View() const;
};

// Clamps the fields of a DOS date and time to valid values; a valid value is kept
// bit for bit.
uint32_t SanitizeDosDateTime(uint32_t dos_date_time);

// Entry names as stored in the archive, with "/" as separator. Reading: UTF-8 when
// flag bit 11 is set; else the Unicode path extra field when its CRC matches the
// stored bytes; else UTF-8 when the host is Unix and the bytes are valid UTF-8;
// else code page 437. Writing: an ASCII name as it is, any other name as UTF-8
// (utf8_flag set: flag bit 11).
std::string NameFromArchive(std::string_view bytes, uint16_t flags, uint8_t host = format::kHostFat,
                            std::string_view extra = {});
std::string NameToArchive(const std::string& name, bool& utf8_flag);

}  // namespace qb::zip
