// The archive engine's exception classes, each with its fixed text.
#pragma once

#include <string>

#include "platform/errors.h"

namespace qb::zip {

// List misuse: an index out of range, a duplicate in a list that refuses them,
// a store into a sorted list, or a list grown past its limit.
class EListError : public Exception {
 public:
  using Exception::Exception;
  static EListError IndexOutOfRange(long long index) {
    return EListError("Index " + std::to_string(index) + " is out of range");
  }
};

class EZipError : public Exception {
 public:
  using Exception::Exception;
};

// No end-of-central-directory record (the file may be one part of a split archive).
class EIncompleteZip : public EZipError {
 public:
  EIncompleteZip() : EZipError("Incomplete Zip File") {}
};
// No end record, and the caller chose to treat that as "not an archive".
class ENotAZipFile : public EZipError {
 public:
  ENotAZipFile() : EZipError("Not a valid zip file!") {}
};
// The central directory is unreadable and no local header could be found either.
class EBadZipFile : public EZipError {
 public:
  EBadZipFile() : EZipError("Not a valid zip file!") {}
};
// The compressed data of an entry ends before its stream does.
class EFatalUnzipError : public EZipError {
 public:
  EFatalUnzipError() : EZipError("Premature end of file reached") {}
};
// The extraction target took fewer bytes than it was given.
class ECantWriteUCF : public EZipError {
 public:
  ECantWriteUCF() : EZipError("Cant write uncompressed file") {}
};
// The extracted data would run past the entry's uncompressed size.
class EBiggerThanUncompressed : public EZipError {
 public:
  EBiggerThanUncompressed() : EZipError("File is larger than uncompressed size!") {}
};
// An entry beyond the engine's size limit (sizes are signed 32-bit values).
class EEntryTooLarge : public EZipError {
 public:
  explicit EEntryTooLarge(unsigned long long size)
      : EZipError("Entry too large: " + std::to_string(size) + " bytes (2 GiB at most)") {}
};
// An update refused because the archive's directory could not be read completely:
// rewriting it would lose the entries it did not list.
class EDamagedZip : public EZipError {
 public:
  explicit EDamagedZip(const std::string& what)
      : EZipError("Damaged archive, not changed: " + what + ". A repair is needed first.") {}
};
// An archive update's output took fewer bytes than it was given.
class ENotEnoughRoom : public EZipError {
 public:
  ENotEnoughRoom() : EZipError("Not enough room to write archive") {}
};

// Another writer holds the cabinet's lock for longer than an update waits. Nothing
// was changed; the same update can be tried again later.
class ECabinetBusy : public EZipError {
 public:
  explicit ECabinetBusy(const std::string& path)
      : EZipError(
            "The File Cabinet \"" + path +
            "\" is busy: another program is writing to it. Nothing was changed; try again in a moment.") {}
};
// Changes made in memory to a directory that another writer has since replaced on
// disk: writing them would drop the other writer's work. Nothing was changed.
class ECabinetChanged : public EZipError {
 public:
  explicit ECabinetChanged(const std::string& path)
      : EZipError("The File Cabinet \"" + path +
                  "\" was changed by another program after it was read. The change was not written; "
                  "try again.") {}
};
// A cabinet file that an update must not replace: not a regular file, read-only, a
// link that leads nowhere, an owner that cannot be kept. Nothing was changed.
class ECabinetRefused : public EZipError {
 public:
  ECabinetRefused(const std::string& path, const std::string& reason)
      : EZipError("Cannot change the File Cabinet \"" + path + "\": " + reason) {}
};

}  // namespace qb::zip
