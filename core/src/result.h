// Value-or-error for every fallible operation of the core. Nothing is thrown
// between components: a function that can fail returns Result<T, E>.
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "ovra_error.h"

namespace ovra {

// Wraps an error so that Result<T, E> can be built from it even when T and E
// are the same type (e.g. both std::string).
template <class E>
struct Failure {
    E error;
};

template <class E>
Failure<std::decay_t<E>> fail(E&& error) {
    return {std::forward<E>(error)};
}

template <class T, class E = OvraError>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    template <class F>
    Result(Failure<F> failure) : state_(std::in_place_index<1>, E(std::move(failure.error))) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }

    E& error() & { return std::get<1>(state_); }
    const E& error() const& { return std::get<1>(state_); }
    E&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, E> state_;
};

// Success without a value.
struct Ok {};

}  // namespace ovra
