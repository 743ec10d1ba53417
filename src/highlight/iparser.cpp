#include "highlight/iparser.h"

#include <cstring>

#include "highlight/hl_chars.h"

namespace qb {

using namespace hlchars;

namespace {

constexpr size_t npos = std::string_view::npos;

// Offset just past the closing quote of a single-quoted string whose body starts at
// from (doubled quotes belong to the string), or npos; sets doubled when it met one.
size_t SingleQuotedStringEnd(std::string_view s, size_t from, bool& doubled) {
  for (size_t i = from; i < s.size();) {
    const size_t q = s.find('\'', i);
    if (q == npos) return npos;
    if (q + 1 < s.size() && s[q + 1] == '\'') {
      doubled = true;
      i = q + 2;
      continue;
    }
    return q + 1;
  }
  return npos;
}

}  // namespace

size_t DoubleQuotedStringEnd(std::string_view s, size_t from, bool escapes) {
  if (!escapes) {
    const size_t q = from < s.size() ? s.find('"', from) : npos;
    return q == npos ? npos : q + 1;
  }
  for (size_t i = from; i < s.size(); ++i) {
    if (s[i] == '\\') {
      ++i;  // the escaped byte, whatever it is
    } else if (s[i] == '"') {
      return i + 1;
    }
  }
  return npos;
}

bool TIParser::Next(TToken& token) {
  const size_t n = line_.size();
  for (;;) {
    while (pos_ < n && Is(line_[pos_], kBlank)) ++pos_;
    token = TToken{};
    token.start = token.end = pos_;
    if (pos_ >= n) return false;
    if (style_ == psHtml) {
      HtmlToken(token);
    } else if (LongToken(token)) {
      pos_ = token.end;
      if (token.comment && !return_comments_) continue;
      return true;
    } else {
      ShortToken(token);
    }
    pos_ = token.end;
    return true;
  }
}

bool TIParser::LongToken(TToken& t) const {
  const std::string_view s = line_;
  const size_t p = t.start, n = s.size();
  const char c = s[p];
  const char c1 = p + 1 < n ? s[p + 1] : '\0';
  auto to_line_end = [&](uint8_t carries, bool comment) {
    t.end = n;
    t.carries = carries;
    t.comment = comment;
    t.long_token = true;
    return true;
  };
  auto delimited = [&](size_t close, size_t close_len, uint8_t carries) {
    if (close == npos) return to_line_end(carries, true);
    t.end = close + close_len;
    t.comment = t.long_token = true;
    return true;
  };
  switch (style_) {
    case psPascal:
      if (c == '{') return delimited(s.find('}', p + 1), 1, lsBraceComment);
      if (c == '(' && c1 == '*') return delimited(s.find("*)", p + 2), 2, lsStarComment);
      if (c == '/' && c1 == '/') return to_line_end(lsNone, true);
      if (c == '}' || (c == '*' && c1 == ')')) return to_line_end(lsNone, false);
      return false;
    case psCLike:
      if (c == '/' && c1 == '/') return to_line_end(lsNone, true);
      if (c == '/' && c1 == '*') return delimited(s.find("*/", p + 2), 2, lsStarComment);
      if (c == '*' && c1 == '/') return to_line_end(lsNone, false);
      return false;
    case psPython:
    case psPerl:
      if (c == '#') return to_line_end(lsNone, true);
      return false;
    case psVisualBasic:
      if (c == '\'') return to_line_end(lsNone, true);
      return false;
    default:
      return false;
  }
}

void TIParser::HtmlToken(TToken& t) const {
  const std::string_view s = line_;
  const size_t p = t.start, n = s.size();
  const char c = s[p];
  if (c == '<' || c == '=' || c == '>' || (c == '/' && p > 0 && s[p - 1] == '<')) {
    t.end = p + 1;
  } else if (c == '"') {
    const size_t q = s.find('"', p + 1);
    t.end = q == npos ? n : q + 1;
  } else {
    size_t i = p + 1;
    while (i < n && !Is(s[i], kBlank) && s[i] != '<' && s[i] != '=' && s[i] != '>') ++i;
    t.end = i;
  }
}

void TIParser::ShortToken(TToken& t) const {
  const std::string_view s = line_;
  const size_t p = t.start, n = s.size();
  const char c = s[p];
  size_t i = p + 1;
  if (Is(c, kIdentStart)) {
    while (i < n && Is(s[i], kIdentChar)) ++i;
  } else if (Is(c, kDigit)) {
    while (i < n && (Is(s[i], kDigit) || s[i] == '.')) ++i;
  } else if (style_ == psPascal && c == '$' && i < n && Is(s[i], kHexDigit)) {
    while (i < n && Is(s[i], kHexDigit)) ++i;
  } else if (style_ == psPerl && (c == '$' || c == '%' || c == '&' || c == '@')) {
    while (i < n && Is(s[i], kIdentChar)) ++i;
  } else if (c == '\'') {
    bool doubled = false;
    const size_t e = SingleQuotedStringEnd(s, p + 1, doubled);
    i = e == npos ? n : e;
    t.doubled_quotes = doubled;
  } else if (c == '"' && style_ >= psCLike) {
    const bool escapes = style_ != psVisualBasic;
    const size_t e = DoubleQuotedStringEnd(s, p + 1, escapes);
    if (e == npos) {
      i = n;
      if (style_ == psPython || style_ == psPerl) t.carries = lsString;
    } else {
      i = e;
    }
  } else {
    i = p + CharLength(s, p);
  }
  t.end = i;
}

std::string_view TIParser::TokenText(const TToken& token) {
  const size_t start = token.start < line_.size() ? token.start : line_.size();
  const size_t end = token.end < line_.size() ? token.end : line_.size();
  const std::string_view raw = line_.substr(start, end > start ? end - start : 0);
  if (!token.doubled_quotes) return raw;
  text_.clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    text_.push_back(raw[i]);
    if (i > 0 && raw[i] == '\'' && i + 1 < raw.size() && raw[i + 1] == '\'') ++i;
  }
  return text_;
}

}  // namespace qb
