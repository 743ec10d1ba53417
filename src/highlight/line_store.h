// TLineStore: the lines of a text in a gap buffer of strings.
//
// A plain vector of lines moves every line below an inserted or removed one, which
// makes a line break typed into a big text cost the whole text. Here the free slots
// sit at the last edit point, so an edit moves only the lines between it and the
// previous edit: typing in one place costs the same in any text. The gap regrows
// by a fraction of the size when it runs out, so growing stays amortised O(1).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qb {

class TLineStore {
 public:
  size_t size() const { return slots_.size() - gap_len_; }
  std::string& operator[](size_t i) { return slots_[i < gap_at_ ? i : i + gap_len_]; }
  const std::string& operator[](size_t i) const { return slots_[i < gap_at_ ? i : i + gap_len_]; }

  void Assign(std::vector<std::string> lines);
  // Replaces the lines [at, at + removed) with fresh (whose strings are moved from).
  // Requires at + removed <= size().
  void Splice(size_t at, size_t removed, std::vector<std::string>& fresh);

 private:
  void MoveGapTo(size_t at);

  std::vector<std::string> slots_;
  size_t gap_at_ = 0;   // index of the first free slot
  size_t gap_len_ = 0;  // number of free slots
};

}  // namespace qb
