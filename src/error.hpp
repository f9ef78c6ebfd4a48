// src/error.hpp: the one error value of every core operation, and Result<T>.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace quarn {

/// Error kinds in tag order; the order is part of the contract.
enum class ErrorKind : std::uint8_t {
  EmptyInput, InvalidGeometry, InvalidArgument, Io, Parse, NotFound,
  Cancelled,  ///< stopped through the thread's cancel hook (cancel.hpp); no result
};

/// A kind and a detail message. The message starts with the raising operation's name.
struct CoreError {
  ErrorKind kind;
  std::string message;

  /// Kind prefix followed by the message, e.g. "empty input: stats: no data".
  [[nodiscard]] std::string display() const;
  /// Kind name and payload, e.g. InvalidArgument("percentile: p must be in [0, 100]").
  [[nodiscard]] std::string debug() const;
};

[[nodiscard]] inline CoreError empty_input(std::string m) { return {ErrorKind::EmptyInput, std::move(m)}; }
[[nodiscard]] inline CoreError invalid_geometry(std::string m) { return {ErrorKind::InvalidGeometry, std::move(m)}; }
[[nodiscard]] inline CoreError invalid_argument(std::string m) { return {ErrorKind::InvalidArgument, std::move(m)}; }
[[nodiscard]] inline CoreError parse_error(std::string m) { return {ErrorKind::Parse, std::move(m)}; }
[[nodiscard]] inline CoreError not_found(std::string m) { return {ErrorKind::NotFound, std::move(m)}; }

/// A value or a CoreError; C++20 has no std::expected.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}   // NOLINT: implicit by design
  Result(CoreError err) : v_(std::in_place_index<1>, std::move(err)) {}  // NOLINT

  [[nodiscard]] bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  [[nodiscard]] T& value() & { return std::get<0>(v_); }
  [[nodiscard]] const T& value() const& { return std::get<0>(v_); }
  [[nodiscard]] T&& value() && { return std::get<0>(std::move(v_)); }
  [[nodiscard]] const CoreError& error() const& { return std::get<1>(v_); }
  [[nodiscard]] CoreError&& error() && { return std::get<1>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

 private:
  std::variant<T, CoreError> v_;
};

/// Result of an operation that has no value on success.
struct Unit {};
using Status = Result<Unit>;
inline Status ok_status() { return Unit{}; }

}  // namespace quarn

/// Propagate the error of a Result expression, else bind its value.
#define QUARN_TRY(var, expr)                              \
  auto var##_result_ = (expr);                            \
  if (!var##_result_.ok()) return std::move(var##_result_).error(); \
  auto var = std::move(var##_result_).value()
