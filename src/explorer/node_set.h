// TNodeMap and TNodeSet: tree nodes by address, in one array (open addressing,
// linear probing, at most half full). The search's results hold tens of thousands
// of nodes and are built anew on every keystroke; a set that allocates a cell per
// node spends most of that time in the allocator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

namespace qb {

class TTreeNode;

template <class V>
class TNodeMap {
 public:
  struct TSlot {
    const TTreeNode* node = nullptr;
    V value{};
  };

  V* Find(const TTreeNode* node) { return const_cast<V*>(static_cast<const TNodeMap*>(this)->Find(node)); }
  const V* Find(const TTreeNode* node) const {
    if (!node || slots_.empty()) return nullptr;
    for (size_t k = Home(node);; k = (k + 1) & mask_) {
      const TSlot& slot = slots_[k];
      if (slot.node == node) return &slot.value;
      if (!slot.node) return nullptr;
    }
  }
  // The value of node, added (value-initialised) when missing; second tells
  // whether it was added. A null node is not kept (first is null).
  std::pair<V*, bool> Insert(const TTreeNode* node) {
    if (!node) return {nullptr, false};
    if ((size_ + 1) * 2 > slots_.size()) Grow(size_ + 1);
    for (size_t k = Home(node);; k = (k + 1) & mask_) {
      TSlot& slot = slots_[k];
      if (slot.node == node) return {&slot.value, false};
      if (!slot.node) {
        slot.node = node;
        ++size_;
        return {&slot.value, true};
      }
    }
  }
  size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  // Keeps the array (the next search is about as big).
  void Clear() {
    if (size_ == 0) return;
    for (TSlot& slot : slots_) slot = TSlot();
    size_ = 0;
  }
  void Reserve(size_t count) {
    if (count * 2 > slots_.size()) Grow(count);
  }
  // The slots, empty ones (a null node) among them, in no particular order.
  const std::vector<TSlot>& Slots() const { return slots_; }

 private:
  size_t Home(const TTreeNode* node) const {
    // Fibonacci hashing of the address: nodes are heap cells, their low bits alike.
    const uint64_t bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(node));
    return static_cast<size_t>((bits * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
  }
  void Grow(size_t count) {
    size_t capacity = 16;
    while (capacity < count * 2) capacity *= 2;
    std::vector<TSlot> old = std::move(slots_);
    slots_.assign(capacity, TSlot());
    mask_ = capacity - 1;
    size_ = 0;
    for (TSlot& slot : old)
      if (slot.node) *Insert(slot.node).first = std::move(slot.value);
  }

  std::vector<TSlot> slots_;
  size_t mask_ = 0;
  size_t size_ = 0;
};

class TNodeSet {
 public:
  // True when node was not in the set.
  bool insert(const TTreeNode* node) { return map_.Insert(node).second; }
  size_t count(const TTreeNode* node) const { return map_.Find(node) ? 1 : 0; }
  size_t size() const { return map_.Size(); }
  bool empty() const { return map_.Empty(); }
  void clear() { map_.Clear(); }
  void reserve(size_t count) { map_.Reserve(count); }

  // The nodes, in no particular order.
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = const TTreeNode*;
    using difference_type = std::ptrdiff_t;
    using pointer = const value_type*;
    using reference = value_type;
    using Slots = std::vector<TNodeMap<char>::TSlot>;
    const_iterator(const Slots& table, size_t at) : slots_(&table), at_(at) { Skip(); }
    const TTreeNode* operator*() const { return (*slots_)[at_].node; }
    const_iterator& operator++() {
      ++at_;
      Skip();
      return *this;
    }
    bool operator==(const const_iterator& other) const { return at_ == other.at_; }
    bool operator!=(const const_iterator& other) const { return at_ != other.at_; }

   private:
    void Skip() {
      while (at_ < slots_->size() && !(*slots_)[at_].node) ++at_;
    }
    const Slots* slots_;
    size_t at_;
  };
  const_iterator begin() const { return {map_.Slots(), 0}; }
  const_iterator end() const { return {map_.Slots(), map_.Slots().size()}; }

 private:
  TNodeMap<char> map_;
};

}  // namespace qb
