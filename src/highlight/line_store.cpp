#include "highlight/line_store.h"

#include <algorithm>
#include <utility>

namespace qb {

void TLineStore::Assign(std::vector<std::string> lines) {
  slots_ = std::move(lines);
  gap_at_ = slots_.size();
  gap_len_ = 0;
}

void TLineStore::MoveGapTo(size_t at) {
  if (gap_len_ == 0) {
    gap_at_ = at;
    return;
  }
  while (gap_at_ > at) {  // lines [at, gap) move behind the gap
    --gap_at_;
    slots_[gap_at_ + gap_len_] = std::move(slots_[gap_at_]);
  }
  while (gap_at_ < at) {  // lines behind the gap move in front of it
    slots_[gap_at_] = std::move(slots_[gap_at_ + gap_len_]);
    ++gap_at_;
  }
}

void TLineStore::Splice(size_t at, size_t removed, std::vector<std::string>& fresh) {
  MoveGapTo(at + removed);
  // The removed lines join the gap.
  for (size_t i = 0; i < removed; ++i) slots_[gap_at_ - 1 - i] = std::string();
  gap_at_ -= removed;
  gap_len_ += removed;
  if (fresh.size() > gap_len_) {
    // Rebuild with a gap of an eighth of the text (at least what is needed) here.
    const size_t grow = std::max(fresh.size() - gap_len_, size() / 8 + 64);
    slots_.insert(slots_.begin() + static_cast<std::ptrdiff_t>(gap_at_ + gap_len_), grow, std::string());
    gap_len_ += grow;
  }
  for (std::string& line : fresh) slots_[gap_at_++] = std::move(line);
  gap_len_ -= fresh.size();
}

}  // namespace qb
