// DoubleEndedArray: a contiguous array that grows at both ends in amortised
// constant time per element, with the footprint of one vector. Joined DXF
// chains grow at either end; a deque would cost a block of its own for each
// of a drawing's many small faces.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace zentrope {

template <typename T>
class DoubleEndedArray {
 public:
  std::size_t size() const { return end_ - head_; }
  bool empty() const { return end_ == head_; }
  T* begin() { return data_.data() + head_; }
  T* end() { return data_.data() + end_; }
  const T* begin() const { return data_.data() + head_; }
  const T* end() const { return data_.data() + end_; }
  T& operator[](std::size_t i) { return data_[head_ + i]; }
  const T& operator[](std::size_t i) const { return data_[head_ + i]; }
  T& front() { return data_[head_]; }
  T& back() { return data_[end_ - 1]; }
  const T& front() const { return data_[head_]; }
  const T& back() const { return data_[end_ - 1]; }

  template <typename It>
  void assign(It first, It last) {
    data_.assign(first, last);
    head_ = 0;
    end_ = data_.size();
  }
  void assign(std::size_t n, const T& value) {
    data_.assign(n, value);
    head_ = 0;
    end_ = n;
  }
  void clear() {
    data_.clear();
    data_.shrink_to_fit();
    head_ = end_ = 0;
  }
  void pop_back() { --end_; }
  void push_back(const T& value) { Append(&value, &value + 1); }

  // Appends [first, last), which must not lie in this array.
  template <typename It>
  void Append(It first, It last) {
    const auto n = static_cast<std::size_t>(std::distance(first, last));
    if (data_.size() - end_ < n) {
      Regrow(0, n);
    }
    std::copy(first, last, data_.begin() + static_cast<std::ptrdiff_t>(end_));
    end_ += n;
  }
  // Puts [first, last), which must not lie in this array, before the first
  // element.
  template <typename It>
  void Prepend(It first, It last) {
    const auto n = static_cast<std::size_t>(std::distance(first, last));
    if (head_ < n) {
      Regrow(n, 0);
    }
    head_ -= n;
    std::copy(first, last, data_.begin() + static_cast<std::ptrdiff_t>(head_));
  }

 private:
  // Moves the elements into storage with room for front more at the start
  // and back more at the end, and as much again spare at each end, so that
  // growing by repeated small steps copies each element O(1) times.
  void Regrow(std::size_t front, std::size_t back) {
    const std::size_t n = size();
    const std::size_t frontGap = front + (front ? n + front : 0);
    const std::size_t backGap = back + (back ? n + back : 0);
    std::vector<T> grown(frontGap + n + backGap);
    std::copy(begin(), end(), grown.begin() + static_cast<std::ptrdiff_t>(frontGap));
    data_ = std::move(grown);
    head_ = frontGap;
    end_ = frontGap + n;
  }

  std::vector<T> data_;
  std::size_t head_ = 0;
  std::size_t end_ = 0;
};

}  // namespace zentrope
