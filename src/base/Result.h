#pragma once

#include <optional>
#include <string>
#include <utility>

// Why an operation failed, as words for the person who asked for it ("cannot read 'a.journal':
// it is a named pipe").
struct Failure {
    std::string error;
};

// The outcome of an operation that can fail: its value, or the reason it failed. A function
// returns its value as it is, or `Failure{reason}`; the caller tests the result like a bool and
// then takes value() or error(). Result<> is the outcome of an operation without a value.
template <typename T = void>
class [[nodiscard]] Result {
public:
    Result(const T& value) : value_(value) {}
    Result(T&& value) : value_(std::move(value)) {}
    Result(Failure failure) : error_(std::move(failure.error)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }

    // The value; only when ok().
    T& value() & { return *value_; }
    const T& value() const& { return *value_; }
    T&& value() && { return std::move(*value_); }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }

    // The reason; empty when ok().
    const std::string& error() const { return error_; }

private:
    std::optional<T> value_;
    std::string error_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : failed_(true), error_(std::move(failure.error)) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }

    // The reason; empty when ok().
    const std::string& error() const { return error_; }

private:
    bool failed_ = false;
    std::string error_;
};
