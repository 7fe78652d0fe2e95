// Result<T, E>: a value or an error, never both and never neither. Fallible functions of
// the JSON and columnar code return one instead of throwing.
#pragma once

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace velmar::json {

// T and E differ, so that a Result is built from either without a tag.
template <typename T, typename E>
class [[nodiscard]] Result {
  static_assert(!std::is_same_v<T, E>);

 public:
  Result(T value) : storage_(std::in_place_index<0>, std::move(value)) {}  // NOLINT
  Result(E error) : storage_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return storage_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & {
    assert(ok());
    return *std::get_if<0>(&storage_);
  }
  const T& value() const& {
    assert(ok());
    return *std::get_if<0>(&storage_);
  }
  T&& value() && {
    assert(ok());
    return std::move(*std::get_if<0>(&storage_));
  }
  E& error() & {
    assert(!ok());
    return *std::get_if<1>(&storage_);
  }
  const E& error() const& {
    assert(!ok());
    return *std::get_if<1>(&storage_);
  }
  E&& error() && {
    assert(!ok());
    return std::move(*std::get_if<1>(&storage_));
  }

  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

 private:
  std::variant<T, E> storage_;
};

}  // namespace velmar::json
