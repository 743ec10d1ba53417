#include "highlight/hl_engine.h"

#include <algorithm>

namespace qb {

namespace {

// Splits text at LF, CR LF and lone CR; n breaks give n + 1 lines.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\n' && c != '\r') continue;
    out.emplace_back(text.substr(start, i - start));
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  out.emplace_back(text.substr(start));
  return out;
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

THLEditor::THLEditor() : states_(1, lsNone) {
  lines_.Assign(std::vector<std::string>(1));
  scanner_.SetMode(mode_);
  colorer_.SetMode(mode_, parser_style_);
  InvalidateAllStates();
}

void THLEditor::Repaint() {
  if (on_repaint_) on_repaint_();
}

void THLEditor::SetHighLighter(THighLighter mode) {
  if (mode >= kHighLighterCount) mode = hlNone;
  if (mode == mode_) return;
  mode_ = mode;
  marks_.clear();
  if (const int style = ParserStyleFor(mode); style != 0) parser_style_ = style;
  scanner_.SetMode(mode_);
  colorer_.SetMode(mode_, parser_style_);
  InvalidateAllStates();
  Repaint();
}

void THLEditor::SetColors(const TColors& colors) {
  colorer_.SetColors(colors);
  Repaint();
}

void THLEditor::SetLongTokens(bool on) {
  if (on == long_tokens_) return;
  long_tokens_ = on;
  marks_.clear();
  InvalidateAllStates();
  Repaint();
}

void THLEditor::SetOnReservedWord(TOnReservedWord handler) {
  on_reserved_word_ = std::move(handler);
  marks_.clear();
  if (on_reserved_word_) {
    colorer_.SetReservedWordHook([this](std::string_view token) {
      bool reserved = false;
      on_reserved_word_(*this, token, reserved);
      return reserved;
    });
  } else {
    colorer_.SetReservedWordHook({});
  }
}

std::string_view THLEditor::Line(size_t line) const {
  return line < lines_.size() ? std::string_view(lines_[line]) : std::string_view();
}

void THLEditor::SetText(std::string_view text) {
  lines_.Assign(SplitLines(text));
  marks_.clear();
  InvalidateAllStates();
}

std::string THLEditor::Text(std::string_view line_break) const {
  size_t size = 0;
  for (size_t i = 0; i < lines_.size(); ++i) size += lines_[i].size() + line_break.size();
  std::string out;
  out.reserve(size);
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) out += line_break;
    out += lines_[i];
  }
  return out;
}

void THLEditor::InvalidateAllStates() {
  states_.assign(lines_.size(), lsNone);
  // With no carried states every state is 0 and stays right.
  dirty_ = HasStates() ? 1 : lines_.size();
  trust_ = lines_.size();
  if (dirty_ >= lines_.size()) dirty_ = lines_.size();
}

void THLEditor::ScanStep() {
  // A long line coloured in part resumes from its last mark.
  const TColorMark* resume = nullptr;
  if (!marks_.empty()) {
    const auto it = marks_.find(dirty_ - 1);
    if (it != marks_.end() && it->second.start_state == states_[dirty_ - 1] && !it->second.marks.empty())
      resume = &it->second.marks.back();
  }
  const uint8_t s = scanner_.EndState(lines_[dirty_ - 1], states_[dirty_ - 1], resume);
  ++lines_scanned_;
  if (dirty_ >= trust_ && s == states_[dirty_]) {
    dirty_ = lines_.size();  // the old chain takes over from here: all right
    return;
  }
  if (s != states_[dirty_]) {
    states_[dirty_] = s;
    last_changed_ = std::max(last_changed_, dirty_);
  }
  ++dirty_;
}

void THLEditor::EnsureStates(size_t line) {
  while (dirty_ < lines_.size() && dirty_ <= line) ScanStep();
}

uint8_t THLEditor::LineStartState(size_t line) {
  if (line >= lines_.size()) return lsNone;
  EnsureStates(line);
  return states_[line];
}

void THLEditor::Rescan() {
  InvalidateAllStates();
  EnsureStates(lines_.size() - 1);
}

TChangedLines THLEditor::Replace(TTextPos from, TTextPos to, std::string_view text) {
  const size_t old_count = lines_.size();
  auto clamp = [&](TTextPos& p) {
    p.Line = std::min(p.Line, old_count - 1);
    p.Column = std::min(p.Column, lines_[p.Line].size());
  };
  clamp(from);
  clamp(to);
  if (to.Line < from.Line || (to.Line == from.Line && to.Column < from.Column)) std::swap(from, to);
  const size_t a = from.Line, b = to.Line;
  if (!marks_.empty()) DropMarks(a, from.Column, a != b || HasLineBreak(text));

  // Could the edit change the end state of line a? Only through a line break, a
  // trigger character inserted or removed, or one right beside the edit.
  const bool structural = a != b || HasLineBreak(text);
  bool may_change = structural || ContainsTriggerCharacter(mode_, text);
  if (!may_change) {
    const std::string& line = lines_[a];
    const std::string_view removed = std::string_view(line).substr(from.Column, to.Column - from.Column);
    may_change = ContainsTriggerCharacter(mode_, removed);
    const std::string_view triggers = TriggerCharacters(mode_);
    if (from.Column > 0 && triggers.find(line[from.Column - 1]) != std::string_view::npos) may_change = true;
    if (to.Column < line.size() && triggers.find(line[to.Column]) != std::string_view::npos)
      may_change = true;
  }

  size_t k = 1;  // lines that replace lines a..b
  if (!structural) {
    lines_[a].replace(from.Column, to.Column - from.Column, text);
  } else {
    std::string joined;
    joined.reserve(from.Column + text.size() + (lines_[b].size() - to.Column));
    joined.append(lines_[a], 0, from.Column);
    joined.append(text);
    joined.append(lines_[b], to.Column, std::string::npos);
    std::vector<std::string> fresh = SplitLines(joined);
    k = fresh.size();
    const size_t removed = b - a + 1;
    lines_.Splice(a, removed, fresh);
    if (k > removed) {
      states_.insert(states_.begin() + static_cast<std::ptrdiff_t>(a + removed), k - removed, lsNone);
    } else if (k < removed) {
      states_.erase(states_.begin() + static_cast<std::ptrdiff_t>(a + k),
                    states_.begin() + static_cast<std::ptrdiff_t>(a + removed));
    }
    // states_[a + 1 .. a + k - 1] now stand for new lines; their values are stale
    // and lie inside the untrusted stretch set below.
  }
  const size_t count = lines_.size();
  const TChangedLines edited{a, a + k};
  if (!HasStates()) {
    // Every state is 0 and stays so; the marks must cover the new line count, or a
    // later query would scan the added lines as if constructs were carried.
    dirty_ = trust_ = count;
    return edited;
  }
  if (!may_change) return edited;

  // Map a line index of the old text to the new one (lines inside a..b go to a + k).
  auto shift = [&](size_t x) -> size_t {
    if (x <= a) return x;
    if (x <= b) return a + k;
    return x - (b - a + 1) + k;
  };
  const bool was_clean = dirty_ >= old_count;
  if (was_clean || dirty_ > a) {
    size_t trust = a + k;
    // A stretch below the edit that was still pending keeps its broken links.
    if (!was_clean) trust = std::max({trust, shift(dirty_), shift(trust_)});
    dirty_ = a + 1;
    trust_ = trust;
  } else {
    trust_ = std::max(shift(trust_), a + k);
  }
  if (dirty_ >= count) {
    dirty_ = count;
    return edited;
  }
  if (dirty_ != a + 1) return {a, count};  // states above the edit are pending: unknown

  last_changed_ = a;
  size_t budget = 0;
  while (dirty_ < count && budget < kEagerScanBytes) {
    budget += lines_[dirty_ - 1].size() + 1;
    ScanStep();
  }
  if (dirty_ < count) return {a, count};
  return {a, std::max(a + k, last_changed_ + 1)};
}

void THLEditor::LineAttributes(size_t line, const THLSpanSink& sink) {
  if (line >= lines_.size()) return;
  const uint8_t state = LineStartState(line);
  colorer_.ColorLine(lines_[line], state, sink);
}

void THLEditor::LineAttributesIn(size_t line, size_t from, size_t to, const THLSpanSink& sink) {
  if (line >= lines_.size()) return;
  const uint8_t state = LineStartState(line);
  const std::string& text = lines_[line];
  if (text.size() < kMarkedLine) {
    colorer_.ColorLine(text, state, [&](const THLSpan& span) {
      if (span.end > from && span.begin < to) sink(span);
    });
    return;
  }
  if (marks_.size() >= kMarkedLines && marks_.find(line) == marks_.end()) marks_.clear();
  TLineMarks& marks = marks_[line];
  if (marks.start_state != state) {
    marks.marks.clear();
    marks.start_state = state;
  }
  colorer_.ColorLineIn(text, state, from, to, marks.marks, sink);
}

void THLEditor::DropMarks(size_t line, size_t column, bool below) {
  if (below) std::erase_if(marks_, [&](const auto& entry) { return entry.first > line; });
  const auto it = marks_.find(line);
  if (it == marks_.end()) return;
  std::vector<TColorMark>& marks = it->second.marks;
  marks.erase(std::find_if(marks.begin(), marks.end(), [&](const TColorMark& m) { return m.pos >= column; }),
              marks.end());
}

std::vector<THLSpan> THLEditor::LineSpans(size_t line) {
  std::vector<THLSpan> spans;
  LineAttributes(line, [&](const THLSpan& s) { spans.push_back(s); });
  return spans;
}

}  // namespace qb
