// The outcome of reading an input that may be malformed: a value, or the
// reason in words.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace clip::report {

template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  static Result failure(std::string error) {
    Result r;
    r.error_ = std::move(error);
    return r;
  }

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const T& value() const& { return *value_; }
  T& value() & { return *value_; }
  T&& value() && { return std::move(*value_); }
  const T* operator->() const { return &*value_; }
  const std::string& error() const { return error_; }

 private:
  Result() = default;
  std::optional<T> value_;
  std::string error_;
};

}  // namespace clip::report
