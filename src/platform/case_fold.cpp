#include "platform/case_fold.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "platform/byte_search.h"
#include "platform/codepage.h"

namespace qb::text {

namespace {

struct FoldRow {
  char32_t code_point;
  const char* folded;  // UTF-8, NUL-terminated
};

constexpr FoldRow kFoldRows[] = {
#include "platform/case_fold_table.inc"
};

constexpr bool RowsAscend() {
  for (size_t i = 1; i < std::size(kFoldRows); ++i)
    if (kFoldRows[i - 1].code_point >= kFoldRows[i].code_point) return false;
  return true;
}
static_assert(RowsAscend(), "the folding table must be in code point order for the bisection");

constexpr std::array<char, 128> MakeAsciiFold() {
  std::array<char, 128> fold{};
  for (int c = 0; c < 128; ++c) fold[c] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  return fold;
}
constexpr std::array<char, 128> kAsciiFold = MakeAsciiFold();

const char* FoldedForm(char32_t code_point) {
  const FoldRow* end = std::end(kFoldRows);
  const FoldRow* row = std::lower_bound(std::begin(kFoldRows), end, code_point,
                                        [](const FoldRow& r, char32_t cp) { return r.code_point < cp; });
  return row != end && row->code_point == code_point ? row->folded : nullptr;
}

}  // namespace

void AppendCaseFolded(std::string& out, std::string_view utf8) {
  const size_t size = utf8.size();
  const size_t start = out.size();
  // Folding never makes ASCII longer, and rarely anything else: room for the whole
  // text up front, grown only past that.
  out.resize(start + size);
  char* dest = out.data() + start;
  size_t used = 0;
  size_t i = 0;
  while (i < size) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x80) {
      dest[used++] = kAsciiFold[byte];
      ++i;
      continue;
    }
    size_t next = i;
    const char32_t code_point = codepage::NextCodePoint(utf8, next);
    const char* folded = code_point == codepage::kNotUtf8 ? nullptr : FoldedForm(code_point);
    if (code_point == codepage::kNotUtf8) next = i + 1;
    const char* from = folded ? folded : utf8.data() + i;
    const size_t length = folded ? std::strlen(folded) : next - i;
    if (used + length + (size - next) > out.size() - start) {
      out.resize(start + used + length + (size - next) + 16);
      dest = out.data() + start;
    }
    std::memcpy(dest + used, from, length);
    used += length;
    i = next;
  }
  out.resize(start + used);
}

std::string CaseFolded(std::string_view utf8) {
  std::string out;
  AppendCaseFolded(out, utf8);
  return out;
}

bool TFoldedNeedle::FoundInFolded(std::string_view folded) const {
  if (folded_.empty()) return true;
  if (folded.size() < folded_.size()) return false;
  return ContainsBytes(folded, folded_);
}

bool TFoldedNeedle::FoundIn(std::string_view utf8, std::string& scratch) const {
  if (folded_.empty()) return true;
  scratch.clear();
  AppendCaseFolded(scratch, utf8);
  return FoundInFolded(scratch);
}

}  // namespace qb::text
