// The exception classes of the platform layer.
//
// Below the command level every failure is an exception with a fixed text; the
// program's top level shows it in the default error box and keeps running.
#pragma once

#include <stdexcept>
#include <string>

namespace qb {

// Base of every exception the program raises on purpose; what() is the text shown.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A file could not be opened for reading: Cannot open file "<path>". <reason>
class EFOpenError : public Exception {
 public:
  EFOpenError(const std::string& path, const std::string& reason);
};

// A file could not be created: Cannot create file "<path>". <reason>
class EFCreateError : public Exception {
 public:
  EFCreateError(const std::string& path, const std::string& reason);
};

// Reading or writing an open file failed.
class EInOutError : public Exception {
 public:
  using Exception::Exception;
};

// A text that should be a number is not: '<text>' is not a valid integer value
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Parses a decimal integer the way the settings and comment readers need it:
// optional sign, digits, nothing else; throws EConvertError otherwise.
long long StrToInt(const std::string& text);

}  // namespace qb
