#include "highlight/hl_rules.h"

#include <algorithm>
#include <cstring>

#include "highlight/hl_chars.h"
#include "highlight/hl_keywords.h"

namespace qb {

using namespace hlchars;

namespace {

constexpr size_t npos = std::string_view::npos;
constexpr uint8_t kClassMask = 0x7F;
constexpr uint8_t kSegmentStart = 0x80;

constexpr bool IsCLike(THighLighter m) {
  return m == hlCBuilder || m == hlSql || m == hlJava;
}
constexpr bool IsHashComment(THighLighter m) {
  return m == hlPython || m == hlPerl;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
  return true;
}

// Digits only, "$" and hex digits only, or digits with at most one ".".
bool IsNumberToken(std::string_view s) {
  if (s.empty()) return false;
  if (s[0] == '$') {
    if (s.size() < 2) return false;
    for (char c : s.substr(1))
      if (!Is(c, kHexDigit)) return false;
    return true;
  }
  size_t digits = 0, dots = 0;
  for (char c : s) {
    if (Is(c, kDigit)) {
      ++digits;
    } else if (c == '.') {
      ++dots;
    } else {
      return false;
    }
  }
  return digits > 0 && dots <= 1;
}

}  // namespace

bool IsStateOfMode(THighLighter mode, uint8_t state) {
  switch (state) {
    case lsBraceComment:
      return mode == hlPascal;
    case lsStarComment:
      return mode == hlPascal || IsCLike(mode);
    case lsString:
      return IsHashComment(mode);
    case lsTag:
      return mode == hlHtml;
    default:
      return false;
  }
}

size_t FindCarriedClose(THighLighter mode, uint8_t state, std::string_view line) {
  if (!IsStateOfMode(mode, state) || state == lsTag) return 0;
  size_t at = npos, len = 0;
  switch (state) {
    case lsBraceComment:
      at = line.find('}'), len = 1;
      break;
    case lsStarComment:
      at = line.find(mode == hlPascal ? "*)" : "*/"), len = 2;
      break;
    case lsString:
      return DoubleQuotedStringEnd(line, 0, true);
    default:
      return 0;
  }
  return at == npos ? npos : at + len;
}

void TStateScanner::SetMode(THighLighter mode) {
  mode_ = mode;
  parser_.SetStyle(ParserStyleFor(mode));
  parser_.SetReturnComments(true);
}

uint8_t TStateScanner::EndState(std::string_view line, uint8_t start_state, const TColorMark* resume) {
  if (!ModeHasLineStates(mode_)) return lsNone;
  if (!IsStateOfMode(mode_, start_state)) start_state = lsNone;
  TToken t;
  if (mode_ == hlHtml) {
    bool in_tag = resume ? resume->in_tag : start_state == lsTag;
    parser_.Start(line, resume ? resume->pos : 0);
    while (parser_.Next(t)) {
      if (t.end - t.start != 1) continue;
      const char c = line[t.start];
      if (c == '<' && !in_tag)
        in_tag = true;
      else if (c == '>' && in_tag)
        in_tag = false;
    }
    return in_tag ? lsTag : lsNone;
  }
  size_t from = 0;
  if (resume) {
    from = resume->pos;  // past any carried construct: marks lie among the line's tokens
  } else if (start_state != lsNone) {
    from = FindCarriedClose(mode_, start_state, line);
    if (from == npos) return start_state;
  }
  parser_.Start(line, from);
  uint8_t end_state = lsNone;
  while (parser_.Next(t)) end_state = t.carries;
  return end_state;
}

std::string_view TriggerCharacters(THighLighter mode) {
  switch (mode) {
    case hlPascal:
      return "{}*()/'\r\n";
    case hlCBuilder:
    case hlSql:
    case hlJava:
      return "*/\"'\\\r\n";
    case hlPython:
    case hlPerl:
      return "#\"'\\\r\n";
    case hlVB:
      return "'\r\n";
    case hlHtml:
      return "<>\"\r\n";
    default:
      return "\r\n";
  }
}

bool ContainsTriggerCharacter(THighLighter mode, std::string_view text) {
  return text.find_first_of(TriggerCharacters(mode)) != npos;
}

// ---- colouring -------------------------------------------------------------------

void TLineColorer::SetMode(THighLighter mode, int parser_style) {
  mode_ = mode < kHighLighterCount ? mode : hlNone;
  parser_style_ = parser_style;
  const int style = mode_ == hlNone ? parser_style : ParserStyleFor(mode_);
  parser_.SetStyle(style);
  parser_.SetReturnComments(true);
}

void TLineColorer::Cover(size_t end) {
  end = std::min(end, line_size_);
  if (end > cell_base_ + cells_.size()) cells_.resize(end - cell_base_, static_cast<uint8_t>(line_color_));
}

void TLineColorer::Fill(size_t begin, size_t end, TColorClass cls) {
  if (begin >= end || begin < cell_base_ || end > cell_base_ + cells_.size()) return;
  begin -= cell_base_;
  end -= cell_base_;
  for (size_t i = begin; i < end; ++i) cells_[i] = static_cast<uint8_t>(cls);
  cells_[begin] |= kSegmentStart;
  if (end < cells_.size()) cells_[end] |= kSegmentStart;
}

TLineColorer::TLinePlan TLineColorer::PlanLine(std::string_view line, uint8_t start_state) const {
  TLinePlan plan;
  plan.start_state = IsStateOfMode(mode_, start_state) ? start_state : uint8_t{lsNone};
  const char first = line.empty() ? '\0' : line[0];
  const bool hash_line = plan.start_state == lsNone && first == '#';
  plan.tokenize = !(mode_ == hlNone && !hook_);
  if (!plan.tokenize) return plan;
  if (hash_line && (mode_ == hlCBuilder || mode_ == hlJava)) plan.line_color = TColorClass::Preproc;
  if (hash_line && IsHashComment(mode_)) plan.line_color = TColorClass::Comment;
  if (mode_ == hlIni && (first == '#' || first == ';')) plan.line_color = TColorClass::Comment;
  if (plan.start_state != lsNone && mode_ != hlHtml) {
    plan.line_color = plan.start_state == lsString ? TColorClass::Strings : TColorClass::Comment;
    plan.from = FindCarriedClose(mode_, plan.start_state, line);
    if (plan.from == npos) {
      plan.tokenize = false;
      plan.from = 0;
      return plan;
    }
  }
  plan.whole_line =
      (hash_line && (mode_ == hlCBuilder || mode_ == hlPython || mode_ == hlJava || mode_ == hlPerl)) ||
      mode_ == hlIni;
  return plan;
}

void TLineColorer::ColorLine(std::string_view line, uint8_t start_state, const THLSpanSink& sink) {
  const size_t n = line.size();
  const TLinePlan plan = PlanLine(line, start_state);
  line_size_ = n;
  line_color_ = plan.line_color;
  cell_base_ = 0;
  cells_.clear();
  Cover(n);
  if (n > 0) cells_[0] |= kSegmentStart;
  if (plan.tokenize && plan.from > 0 && plan.from < n) cells_[plan.from] |= kSegmentStart;

  if (plan.tokenize) {
    const bool comment_line = mode_ == hlIni && n > 0 && (line[0] == '#' || line[0] == ';');
    if (mode_ == hlIni) {
      if (!comment_line) ApplyIniRule(line);
    } else if (!plan.whole_line) {
      try {
        TokenizeAndClassify(line, {plan.from, 0, 0, false, mode_ == hlHtml && plan.start_state == lsTag},
                            npos, nullptr);
      } catch (...) {
        // A failing hook ends the colouring of this line only.
      }
    }
  }
  if (sink) EmitSpans(0, n, sink);
}

void TLineColorer::ColorLineIn(std::string_view line, uint8_t start_state, size_t from, size_t to,
                               std::vector<TColorMark>& marks, const THLSpanSink& sink) {
  const size_t n = line.size();
  to = std::min(to, n);
  if (from >= to || !sink) return;
  const TLinePlan plan = PlanLine(line, start_state);
  if (hook_ || mode_ == hlIni) {
    ColorLine(line, start_state, [&](const THLSpan& span) {
      if (span.end > from && span.begin < to) sink(span);
    });
    return;
  }
  if (!plan.tokenize || plan.whole_line) {  // one span: the line colour
    THLSpan span;
    span.end = n;
    span.color_class = plan.line_color;
    span.attributes = colors_.Of(plan.line_color);
    sink(span);
    return;
  }
  line_size_ = n;
  line_color_ = plan.line_color;
  cells_.clear();
  TColorMark start{plan.from, 0, 0, false, mode_ == hlHtml && plan.start_state == lsTag};
  for (const TColorMark& mark : marks) {
    if (mark.pos > from) break;
    if (mark.pos >= plan.from) start = mark;
  }
  // The carried construct up to its close is one span: from the line's start then.
  cell_base_ = from < plan.from ? 0 : start.pos;
  Cover(start.pos + 1);
  if (!cells_.empty()) cells_[0] |= kSegmentStart;
  if (plan.from > cell_base_ && plan.from < n) cells_[plan.from - cell_base_] |= kSegmentStart;
  const size_t end = TokenizeAndClassify(line, start, to, &marks);
  Cover(end);
  cells_.resize(end - cell_base_);
  EmitSpans(from, to, sink);
}

void TLineColorer::EmitSpans(size_t from, size_t to, const THLSpanSink& sink) const {
  const size_t n = cells_.size();
  size_t begin = 0;
  for (size_t i = 1; i <= n; ++i) {
    if (i < n && !(cells_[i] & kSegmentStart) && (cells_[i] & kClassMask) == (cells_[begin] & kClassMask))
      continue;
    THLSpan span;
    span.begin = cell_base_ + begin;
    span.end = cell_base_ + i;
    begin = i;
    if (span.end <= from || span.begin >= to) continue;
    span.color_class = static_cast<TColorClass>(cells_[span.begin - cell_base_] & kClassMask);
    span.attributes = colors_.Of(span.color_class);
    sink(span);
  }
}

std::vector<TColorClass> TLineColorer::LastClasses() const {
  std::vector<TColorClass> out;
  out.reserve(cells_.size());
  for (uint8_t c : cells_) out.push_back(static_cast<TColorClass>(c & kClassMask));
  return out;
}

void TLineColorer::ApplyIniRule(std::string_view line) {
  const size_t n = line.size();
  if (n > 0 && line.front() == '[' && line.back() == ']') {
    Fill(0, n, TColorClass::Declaration);
    return;
  }
  const size_t eq = line.find('=');
  if (eq == npos) return;
  Fill(0, eq, TColorClass::Identifer);
  Fill(eq, eq + 1, TColorClass::Symbol);
  Fill(eq + 1, n, TColorClass::Strings);
}

size_t TLineColorer::TokenizeAndClassify(std::string_view line, const TColorMark& mark, size_t stop,
                                         std::vector<TColorMark>* marks) {
  parser_.Start(line, mark.pos);
  prev_.clear();
  if (mark.prev_end > mark.prev_start) {
    TToken prev;
    prev.start = mark.prev_start;
    prev.end = mark.prev_end;
    prev.doubled_quotes = mark.prev_doubled_quotes;
    prev_.assign(parser_.TokenText(prev));
  }
  bool in_tag = mark.in_tag;
  size_t stopped = line.size();
  TToken t;
  while (parser_.Next(t)) {
    if (t.start >= stop) {
      stopped = t.start;
      break;
    }
    Cover(t.end + 1);
    const std::string_view text = parser_.TokenText(t);
    int next = -1;
    for (size_t i = t.end; i < line.size(); ++i) {
      if (!Is(line[i], kTokenGap)) {
        next = static_cast<unsigned char>(line[i]);
        break;
      }
    }
    TColorClass cls;
    if (hook_) {
      cls = hook_(text) ? TColorClass::Reserved : GenericClass(text, prev_);
    } else {
      cls = Classify(text, prev_, next, in_tag);
    }
    Fill(t.start, t.end, cls);
    if (mode_ == hlHtml) ColorEntities(line, t);
    prev_.assign(text);
    if (marks && t.end < line.size() && t.end >= (marks->empty() ? 0 : marks->back().pos) + kMarkSpacing)
      marks->push_back({t.end, t.start, t.end, t.doubled_quotes, in_tag});
  }
  bytes_tokenized_ += stopped - std::min(stopped, mark.pos);
  return stopped;
}

TColorClass TLineColorer::Classify(std::string_view text, std::string_view prev, int next,
                                   bool& in_tag) const {
  switch (mode_) {
    case hlPascal:
      if (IsWordInList(TWordList::Pascal, text)) return TColorClass::Reserved;
      break;
    case hlCBuilder:
      if (IsWordInList(TWordList::Cpp, text)) return TColorClass::Reserved;
      break;
    case hlSql:
      if (IsWordInList(TWordList::Sql, text)) return TColorClass::Reserved;
      break;
    case hlPython:
      if (IsWordInList(TWordList::Python, text)) return TColorClass::Reserved;
      if (text == "None") return TColorClass::Number;
      if (prev == "def" || prev == "class") return TColorClass::Declaration;
      if (next == '(' && IsIdentifier(text)) return TColorClass::FunctionCall;
      break;
    case hlJava:
      if (IsWordInList(TWordList::Java, text)) return TColorClass::Reserved;
      if (prev == "function") return TColorClass::Declaration;
      break;
    case hlVB:
      if (IsWordInList(TWordList::VbStatement, text)) return TColorClass::Reserved;
      if (IsWordInList(TWordList::VbFunction, text)) return TColorClass::Statement;
      if (EqualsIgnoringCase(prev, "function") || EqualsIgnoringCase(prev, "sub") ||
          EqualsIgnoringCase(prev, "class"))
        return TColorClass::Declaration;
      break;
    case hlHtml:
      if (!in_tag) {
        if (text == "<") {
          in_tag = true;
          return TColorClass::Reserved;
        }
        return TColorClass::PlainText;  // text outside tags keeps the line colour
      }
      if (text == ">") {
        in_tag = false;
        return TColorClass::Reserved;
      }
      if (text == "/" && prev == "<") return TColorClass::Reserved;
      if (next == '=' && IsIdentifier(text)) return TColorClass::Identifer;
      if (prev == "=") return TColorClass::Strings;
      if (IsWordInList(TWordList::HtmlTag, text)) return TColorClass::Reserved;
      break;
    case hlPerl:
      if (IsWordInList(TWordList::PerlKeyword, text)) return TColorClass::Reserved;
      if (IsWordInList(TWordList::PerlFunction, text)) return TColorClass::Statement;
      if (!text.empty() && (text[0] == '$' || text[0] == '%' || text[0] == '&' || text[0] == '@'))
        return TColorClass::FunctionCall;
      break;
    default:
      break;
  }
  return GenericClass(text, prev);
}

TColorClass TLineColorer::GenericClass(std::string_view text, std::string_view prev) const {
  const char c0 = text.empty() ? '\0' : text[0];
  bool comment = false;
  if (mode_ == hlPascal) comment = c0 == '{' || StartsWith(text, "(*") || StartsWith(text, "//");
  if (IsCLike(mode_)) comment = StartsWith(text, "/*") || StartsWith(text, "//");
  if (IsHashComment(mode_)) comment = c0 == '#';
  if (mode_ == hlVB) comment = c0 == '\'';
  if (comment) return TColorClass::Comment;

  const bool quoted_string = mode_ == hlPascal || IsCLike(mode_) || IsHashComment(mode_);
  if ((quoted_string && (c0 == '\'' || c0 == '"')) || (mode_ == hlVB && c0 == '"'))
    return TColorClass::Strings;
  if (text.size() == 1 && Is(c0, kSymbol)) return TColorClass::Symbol;
  if (IsNumberToken(text)) return TColorClass::Number;
  if ((mode_ == hlCBuilder || mode_ == hlPython || mode_ == hlJava) && (c0 == 'x' || c0 == 'X') &&
      prev == "0")
    return TColorClass::Number;
  return mode_ == hlHtml ? TColorClass::PlainText : TColorClass::Identifer;
}

void TLineColorer::ColorEntities(std::string_view line, const TToken& token) {
  const size_t end = token.end < line.size() ? token.end : line.size();
  size_t i = token.start;
  while (i < end) {
    const size_t amp = line.substr(0, end).find('&', i);
    if (amp == npos) return;
    const size_t semi = line.substr(0, end).find(';', amp + 1);
    if (semi == npos) return;  // no later "&" has a ";" after it either
    if (semi > amp + 1 && IsWordInList(TWordList::HtmlEntity, line.substr(amp + 1, semi - amp - 1))) {
      Fill(amp, semi + 1, TColorClass::Preproc);
      i = semi + 1;
    } else {
      i = amp + 1;
    }
  }
}

// ---- UTF-16 columns --------------------------------------------------------------

namespace {

// Length of a well-formed UTF-8 sequence at i, or 0.
size_t WellFormedLength(std::string_view s, size_t i) {
  auto at = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t b0 = at(i);
  if (b0 < 0x80) return 1;
  size_t len = 0;
  uint8_t lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  if (at(i + 1) < lo || at(i + 1) > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if ((at(i + k) & 0xC0) != 0x80) return 0;
  return len;
}

}  // namespace

// Bytes of plain ASCII from i on, up to stop, taken eight at a time: each is one
// code unit, so long ASCII stretches are skipped without decoding.
size_t AsciiRun(std::string_view s, size_t i, size_t stop) {
  const size_t start = i;
  while (i + 8 <= stop) {
    uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    if (word & 0x8080808080808080ull) break;
    i += 8;
  }
  while (i < stop && static_cast<uint8_t>(s[i]) < 0x80) ++i;
  return i - start;
}

size_t Utf16Offset(std::string_view line, size_t byte_offset) {
  const size_t stop = byte_offset < line.size() ? byte_offset : line.size();
  size_t units = 0;
  for (size_t i = 0; i < stop;) {
    if (const size_t run = AsciiRun(line, i, stop); run > 0) {
      units += run;
      i += run;
      continue;
    }
    const size_t len = WellFormedLength(line, i);
    units += len == 4 ? 2 : 1;
    i += len == 0 ? 1 : len;
  }
  return units;
}

void SpansToUtf16(std::string_view line, std::vector<THLSpan>& spans) {
  size_t byte = 0, units = 0;
  auto advance_to = [&](size_t target) {
    target = target < line.size() ? target : line.size();
    while (byte < target) {
      if (const size_t run = AsciiRun(line, byte, target); run > 0) {
        units += run;
        byte += run;
        continue;
      }
      const size_t len = WellFormedLength(line, byte);
      units += len == 4 ? 2 : 1;
      byte += len == 0 ? 1 : len;
    }
    return units;
  };
  for (THLSpan& s : spans) {
    if (s.begin < byte) byte = 0, units = 0;  // out of order: start over
    s.begin = advance_to(s.begin);
    s.end = advance_to(s.end);
  }
}

size_t Utf8OffsetOfUtf16(std::string_view line, size_t units) {
  size_t byte = 0, counted = 0;
  while (byte < line.size() && counted < units) {
    if (const size_t run = AsciiRun(line, byte, std::min(line.size(), byte + (units - counted))); run > 0) {
      counted += run;
      byte += run;
      continue;
    }
    const size_t len = WellFormedLength(line, byte);
    counted += len == 4 ? 2 : 1;
    byte += len == 0 ? 1 : len;
  }
  return byte;
}

}  // namespace qb
