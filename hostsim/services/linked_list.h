// A list threaded through its members: each member carries its own two
// links, so that adding one allocates nothing and taking one out, wherever it
// is, costs the same however long the list. For the host's records that come
// and go in any order while the rest keep theirs (a network's nodes, a
// group's groups, the inputs an output feeds). A member is in one list at a
// time through one Links; the list does not own its members.
#pragma once

#include <cstddef>
#include <iterator>
#include <stdexcept>

namespace hostsim {

template <class T>
struct Links {
  T *previous = nullptr, *next = nullptr;
};

template <class T, Links<T> T::*L>
class LinkedList {
public:
  // Walks the members first to last; each step reads the member it leaves,
  // so a member may be taken out once the walk has passed it.
  class Iterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T *;
    using difference_type = std::ptrdiff_t;
    using pointer = T *const *;
    using reference = T *;

    Iterator() = default;
    explicit Iterator(T *at) : at_(at) {}
    T *operator*() const { return at_; }
    T *operator->() const { return at_; }
    Iterator &operator++() {
      at_ = (at_->*L).next;
      return *this;
    }
    Iterator operator++(int) {
      Iterator old = *this;
      ++*this;
      return old;
    }
    bool operator==(const Iterator &) const = default;

  private:
    T *at_ = nullptr;
  };

  LinkedList() = default;
  LinkedList(const LinkedList &) = delete;
  LinkedList &operator=(const LinkedList &) = delete;

  Iterator begin() const { return Iterator(first_); }
  Iterator end() const { return Iterator(); }
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  T *front() const { return first_; }
  T *back() const { return last_; }
  // The i-th member, counted from the first: for lists read by position,
  // which are short.
  T *at(std::size_t i) const {
    for (T *t = first_; t; t = (t->*L).next)
      if (i-- == 0) return t;
    throw std::out_of_range("no member at that position");
  }
  T *operator[](std::size_t i) const { return at(i); }

  void pushBack(T *t) {
    Links<T> &l = t->*L;
    l.previous = last_;
    l.next = nullptr;
    (last_ ? (last_->*L).next : first_) = t;
    last_ = t;
    ++size_;
  }
  // t must be a member of this list.
  void erase(T *t) {
    Links<T> &l = t->*L;
    (l.previous ? (l.previous->*L).next : first_) = l.next;
    (l.next ? (l.next->*L).previous : last_) = l.previous;
    l = Links<T>{};
    --size_;
  }

private:
  T *first_ = nullptr, *last_ = nullptr;
  std::size_t size_ = 0;
};

} // namespace hostsim
