// TMenuNode: a menu item as the program's non-visual components see it - a
// caption (with "&" marking the accelerator, "&&" a plain "&"), an enabled flag,
// a click handler, and the sub-items it opens. The windowing layer draws a node
// and its sub-items as a menu and calls Click when the user chooses one;
// OnChanged tells it to draw again.
//
// A node does not own its sub-items: whoever inserts an item keeps it alive and
// takes it out before it goes.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qb {

class TMenuNode {
 public:
  explicit TMenuNode(std::string caption = {}) : caption_(std::move(caption)) {}
  TMenuNode(const TMenuNode&) = delete;
  TMenuNode& operator=(const TMenuNode&) = delete;

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool IsSeparator() const { return caption_ == "-"; }
  // What the item stands for, for its owner (the recent list keeps the path here).
  const std::string& Value() const { return value_; }
  void SetValue(std::string value) { value_ = std::move(value); }

  size_t Count() const { return items_.size(); }
  TMenuNode* Item(size_t index) const { return index < items_.size() ? items_[index] : nullptr; }
  // -1 when item is no sub-item of this node.
  int IndexOf(const TMenuNode* item) const;
  // index beyond the end appends.
  void Insert(size_t index, TMenuNode* item);
  void Add(TMenuNode* item) { Insert(items_.size(), item); }
  // Takes the item out (it is not destroyed); nothing happens for a stranger.
  void Remove(TMenuNode* item);

  std::function<void(TMenuNode& item)> OnClick;
  void Click();
  // Called after the caption, the enabled flag or the sub-items changed (on the
  // node whose sub-items changed, and on an item whose caption changed).
  std::function<void()> OnChanged;
  // Runs OnChanged (an owner that changed several sub-items says so once).
  void Changed();

 private:
  std::string caption_;
  std::string value_;
  bool enabled_ = true;
  std::vector<TMenuNode*> items_;
};

}  // namespace qb
