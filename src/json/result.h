// Result<T, E>: a value or an error, never both and never neither. Fallible functions of
// the JSON and columnar code return one instead of throwing.
#pragma once

#include <cassert>
#include <utility>
#include <variant>

namespace velmar::json {

// Wraps an error so that Result<T, E> can be built from it even when T and E coincide.
template <typename E>
struct Failure {
  E error;
};

template <typename E>
Failure<E> failure(E error) {
  return Failure<E>{std::move(error)};
}

template <typename T, typename E>
class [[nodiscard]] Result {
 public:
  Result(T value) : storage_(std::in_place_index<0>, std::move(value)) {}         // NOLINT
  Result(Failure<E> f) : storage_(std::in_place_index<1>, std::move(f.error)) {}  // NOLINT
  Result(E error)                                                                 // NOLINT
      requires(!std::is_same_v<T, E>)
      : storage_(std::in_place_index<1>, std::move(error)) {}

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
