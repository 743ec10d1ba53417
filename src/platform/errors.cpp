#include "platform/errors.h"

#include <charconv>

namespace qb {

EFOpenError::EFOpenError(const std::string& path, const std::string& reason)
    : Exception("Cannot open file \"" + path + "\". " + reason) {}

EFCreateError::EFCreateError(const std::string& path, const std::string& reason)
    : Exception("Cannot create file \"" + path + "\". " + reason) {}

long long StrToInt(const std::string& text) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  long long value = 0;
  auto [end, ec] = std::from_chars(first, last, value);
  if (first == last || ec != std::errc() || end != last || (first < last && *first == '+'))
    throw EConvertError("'" + text + "' is not a valid integer value");
  return value;
}

}  // namespace qb
