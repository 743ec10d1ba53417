#include "zip/wildcard.h"

namespace qb::zip {
namespace {

// Matches one pattern element at pattern[p] against c; sets next to the index after
// the element. A set without its closing '>' is taken literally.
bool MatchOne(std::string_view pattern, size_t p, char c, size_t& next) {
  if (pattern[p] == '?') {
    next = p + 1;
    return true;
  }
  if (pattern[p] == '<') {
    size_t close = pattern.find('>', p + 1);
    if (close != std::string_view::npos) {
      size_t i = p + 1;
      bool negate = i < close && (pattern[i] == '!' || pattern[i] == '^');
      if (negate) ++i;
      bool in_set = false;
      for (; i < close; ++i) {
        if (i + 2 < close && pattern[i + 1] == '-') {
          if (c >= pattern[i] && c <= pattern[i + 2]) in_set = true;
          i += 2;
        } else if (pattern[i] == c) {
          in_set = true;
        }
      }
      next = close + 1;
      return in_set != negate;
    }
  }
  next = p + 1;
  return pattern[p] == c;
}

}  // namespace

bool HasPatternChars(std::string_view text) {
  return text.find_first_of("*?<>|") != std::string_view::npos;
}

// Greedy matching with one backtrack point: the last star seen. Each star only ever
// moves forward, so the work is bounded by pattern length times text length.
bool WildcardMatch(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0;
  size_t star_p = std::string_view::npos, star_t = 0;
  while (t < text.size()) {
    size_t next;
    if (p < pattern.size() && pattern[p] == '*') {
      star_p = ++p;
      star_t = t;
    } else if (p < pattern.size() && MatchOne(pattern, p, text[t], next)) {
      p = next;
      ++t;
    } else if (star_p != std::string_view::npos) {
      p = star_p;
      t = ++star_t;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace qb::zip
