// TObjectList and TSortedObjectList: the archive engine's own pointer lists.
//
// TObjectList keeps a logical capacity that grows by 4 below 5, by 8 below 9 and by
// 16 beyond, and refuses to grow past 65534 items (EListError); it may own its
// objects. TSortedObjectList keeps its items in the order of Compare(), finding
// places by bisection, with a duplicates mode: ignore (an equal item is not
// inserted), accept (inserted before the first equal item) or error
// ("Duplicate Object index").
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "zip/zip_errors.h"

namespace qb::zip {

constexpr int kMaxListSize = 65534;

template <class T>
class TObjectList {
 public:
  explicit TObjectList(bool owns_objects) : owns_(owns_objects) {}
  virtual ~TObjectList() { Clear(); }
  TObjectList(const TObjectList&) = delete;
  TObjectList& operator=(const TObjectList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  int Capacity() const { return capacity_; }
  bool OwnsObjects() const { return owns_; }

  T* Get(int index) const {
    CheckIndex(index);
    return items_[static_cast<size_t>(index)];
  }
  T* operator[](int index) const { return Get(index); }

  // Appends without regard to order (used by the plain list only).
  int AppendItem(T* item) {
    Grow();
    items_.push_back(item);
    return Count() - 1;
  }
  void InsertAt(int index, T* item) {
    if (index < 0 || index > Count()) throw EListError::IndexOutOfRange(index);
    Grow();
    items_.insert(items_.begin() + index, item);
  }
  // Removes the item at index, freeing it when the list owns its objects.
  void Delete(int index) {
    CheckIndex(index);
    T* item = items_[static_cast<size_t>(index)];
    items_.erase(items_.begin() + index);
    if (owns_) delete item;
  }
  // Removes the item at index without freeing it.
  T* Extract(int index) {
    CheckIndex(index);
    T* item = items_[static_cast<size_t>(index)];
    items_.erase(items_.begin() + index);
    return item;
  }
  // Empties the list without freeing anything; the caller takes the items.
  std::vector<T*> ReleaseAll() {
    std::vector<T*> items;
    items.swap(items_);
    capacity_ = 0;
    return items;
  }
  void Clear() {
    if (owns_)
      for (T* item : items_) delete item;
    items_.clear();
    capacity_ = 0;
  }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 protected:
  void CheckIndex(int index) const {
    if (index < 0 || index >= Count()) throw EListError::IndexOutOfRange(index);
  }

 private:
  void Grow() {
    if (Count() < capacity_) return;
    if (capacity_ >= kMaxListSize)
      throw EListError("List capacity out of bounds (" + std::to_string(capacity_ + 1) + ")");
    int delta = capacity_ < 5 ? 4 : capacity_ < 9 ? 8 : 16;
    capacity_ = capacity_ + delta > kMaxListSize ? kMaxListSize : capacity_ + delta;
    if (items_.capacity() < static_cast<size_t>(capacity_))
      items_.reserve(std::max<size_t>(capacity_, items_.capacity() * 2));
  }

  bool owns_;
  std::vector<T*> items_;
  int capacity_ = 0;
};

enum class TDuplicates { dupIgnore, dupAccept, dupError };

template <class T>
class TSortedObjectList : public TObjectList<T> {
 public:
  TSortedObjectList(bool owns_objects, TDuplicates duplicates)
      : TObjectList<T>(owns_objects), duplicates_(duplicates) {}

  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates d) { duplicates_ = d; }

  // Storing at a given index would break the order: always refused.
  void Put(int, T*) { throw EListError("Cannot <Put> an Object in a sorted list!"); }

  // Inserts item at its place; returns the index, or -1 when an equal item was
  // ignored (the caller keeps ownership of an ignored item).
  int Add(T* item) {
    int index;
    if (Find(item, index)) {
      if (duplicates_ == TDuplicates::dupIgnore) return -1;
      if (duplicates_ == TDuplicates::dupError) throw EListError("Duplicate Object index");
    }
    this->InsertAt(index, item);
    return index;
  }

  // Replaces the contents with items, put in order in one sort instead of one
  // insertion each: the same order and the same duplicate handling as adding them
  // one by one in the given order (accept: a later equal item goes before the
  // earlier ones; ignore: the first stays, the others are left out, and are not
  // freed; error: EListError "Duplicate Object index", the list left empty).
  void AssignSorted(std::vector<T*> items) {
    this->Clear();
    std::stable_sort(items.begin(), items.end(),
                     [this](const T* a, const T* b) { return Compare(a, b) < 0; });
    std::vector<T*> result;
    result.reserve(items.size());
    for (size_t i = 0; i < items.size();) {
      size_t j = i + 1;
      while (j < items.size() && Compare(items[i], items[j]) == 0) ++j;
      if (j - i > 1 && duplicates_ == TDuplicates::dupError) throw EListError("Duplicate Object index");
      if (duplicates_ == TDuplicates::dupIgnore)
        result.push_back(items[i]);  // stable: the first given of the equal run
      else
        for (size_t k = j; k-- > i;) result.push_back(items[k]);
      i = j;
    }
    for (T* item : result) this->AppendItem(item);
  }

  // Index of the first item equal to key, or -1.
  int IndexOf(const T* key) const {
    int index;
    return Find(key, index) ? index : -1;
  }

  // Bisection: index := the first position whose item is not less than key;
  // returns whether that item equals key.
  bool Find(const T* key, int& index) const {
    int lo = 0, hi = this->Count();
    while (lo < hi) {
      int mid = lo + (hi - lo) / 2;
      if (Compare(this->Get(mid), key) < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    index = lo;
    return lo < this->Count() && Compare(this->Get(lo), key) == 0;
  }

  virtual int Compare(const T* a, const T* b) const = 0;

 private:
  TDuplicates duplicates_;
};

}  // namespace qb::zip
