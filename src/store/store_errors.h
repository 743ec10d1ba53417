// The cabinet store's exception classes.
#pragma once

#include <string>

#include "platform/errors.h"

namespace qb::store {

// A typed item path that cannot name an item (empty, or naming a drawer).
class EItemPathError : public Exception {
 public:
  using Exception::Exception;
};

// No item of the given path is in the cabinet.
class EItemNotFound : public Exception {
 public:
  explicit EItemNotFound(const std::string& path)
      : Exception("No item \"" + path + "\" in the File Cabinet"), path_(path) {}
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The target of a rename or an add is taken by another item.
class EItemExists : public Exception {
 public:
  explicit EItemExists(const std::string& path)
      : Exception("An item \"" + path + "\" already exists in the File Cabinet"), path_(path) {}
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace qb::store
