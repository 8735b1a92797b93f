// Result: the outcome of reading or saving a document: a value, or the
// message the user sees plus a detail (path and line) for the error log.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace zentrope {

struct Failure {
  std::string message;  // the user's text, e.g. "Trouble Opening Segment"
  std::string detail;   // where and why, for the log
};

template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design
  Result(Failure failure) : failure_(std::move(failure)) {}

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  T& value() { return *value_; }
  const T& value() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() { return *value_; }
  const Failure& failure() const { return failure_; }

 private:
  std::optional<T> value_;
  Failure failure_;
};

}  // namespace zentrope
