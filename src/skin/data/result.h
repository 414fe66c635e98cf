// A small result type for the skin data core: expected failures (damaged
// input, a failing reader or writer) come back as values, never as throws.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace clip::skin {

enum class ErrorKind {
  bad_data,     // the input is damaged or outside the format
  io,           // a byte source or sink failed
  old_version,  // an archive whose version field is not the current one
  invalid,      // the caller asked for something the format cannot hold
};

struct Error {
  ErrorKind kind;
  std::string message;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(state_); }
  const T& value() const { return std::get<0>(state_); }
  const Error& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

struct Done {};
using Status = Result<Done>;

}  // namespace clip::skin
