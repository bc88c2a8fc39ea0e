// How the library's modern API reports failure: one kind per error, a whole
// message, and warnings as a list beside a value that is there. Callers decide
// by kind, never by number; a message is meant for a person and may change.
//
//   talvo::Result<Material> m = talvo::material_from_formula("H2O", table, options);
//   if (!m.ok()) return report(m.error());        // m.error().kind, m.error().message
//   for (const std::string& w : m.warnings()) ...  // the value is good all the same
//   use(*m);
#pragma once

#include <cassert>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace talvo {

enum class ErrorKind {
  kInvalidArgument,  // a value the routine cannot use: NaN, out of its domain, a malformed option
  kParseError,       // text that does not follow its grammar (a formula, a number, a file's layout)
  kNotFound,         // a file, an element, an isotope, an ion or an axis that is not there
  kOutOfRange,       // a value past what a table covers or what double precision can hold
  kIoError,          // a file that cannot be read or written
  kUnsupported,      // a valid request the library does not do
  kOutOfMemory,      // the result would not fit in memory
  kCancelled,        // the caller asked the routine to stop (its StopCheck answered true)
};

// The kind's name for messages and bindings: "invalid argument", "not found", ...
constexpr std::string_view error_kind_name(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kInvalidArgument: return "invalid argument";
    case ErrorKind::kParseError: return "parse error";
    case ErrorKind::kNotFound: return "not found";
    case ErrorKind::kOutOfRange: return "out of range";
    case ErrorKind::kIoError: return "I/O error";
    case ErrorKind::kUnsupported: return "unsupported";
    case ErrorKind::kOutOfMemory: return "out of memory";
    case ErrorKind::kCancelled: return "cancelled";
  }
  return "error";
}

struct Error {
  ErrorKind kind = ErrorKind::kInvalidArgument;
  std::string message;  // whole: what was wrong, with the offending input quoted
  // Where the error lies in the text the routine was given (a formula, a
  // mixture): the character's position from 1; 0 when it points at none.
  std::size_t position = 0;
  // The system's error number (errno) of the call that failed, for an error
  // of a file; 0 for any other.
  int system_error = 0;
  // The option at fault, by its declared name ("mu-r"), for an error of an
  // option; empty for any other. Front ends spell it their way.
  std::string option;
};

namespace detail {

// The warnings of a result, held apart: most results have none, and then
// cost a pointer to make and to end.
class Warnings {
 public:
  Warnings() = default;
  explicit Warnings(std::vector<std::string> list)
      : list_(list.empty() ? nullptr : new std::vector<std::string>(std::move(list))) {}
  Warnings(const Warnings& other) : list_(other.list_ ? new std::vector<std::string>(*other.list_) : nullptr) {}
  Warnings(Warnings&& other) noexcept : list_(std::exchange(other.list_, nullptr)) {}
  Warnings& operator=(Warnings other) noexcept {
    std::swap(list_, other.list_);
    return *this;
  }
  ~Warnings() { delete list_; }

  const std::vector<std::string>& list() const {
    static const std::vector<std::string> none;
    return list_ ? *list_ : none;
  }
  void add(std::string text) {
    if (!list_) list_ = new std::vector<std::string>;
    list_->push_back(std::move(text));
  }

 private:
  std::vector<std::string>* list_ = nullptr;  // owned; null for none
};

}  // namespace detail

// A value or an error, with the warnings that came with the value.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}  // NOLINT: implicit, as with StatusOr
  Result(Error error) : state_(std::move(error)) {}  // NOLINT
  Result(T value, std::vector<std::string> warnings) : state_(std::move(value)), warnings_(std::move(warnings)) {}

  // No error: the value is there (there may be warnings all the same).
  bool ok() const { return std::holds_alternative<T>(state_); }
  explicit operator bool() const { return ok(); }

  const Error& error() const {
    assert(!ok());
    return std::get<Error>(state_);
  }
  ErrorKind kind() const { return error().kind; }

  T& value() & {
    assert(ok());
    return std::get<T>(state_);
  }
  const T& value() const& {
    assert(ok());
    return std::get<T>(state_);
  }
  T&& value() && {
    assert(ok());
    return std::get<T>(std::move(state_));
  }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const std::vector<std::string>& warnings() const { return warnings_.list(); }
  void add_warning(std::string text) { warnings_.add(std::move(text)); }

 private:
  std::variant<T, Error> state_;
  detail::Warnings warnings_;
};

// For routines that return nothing but may fail.
struct Done {};
using Outcome = Result<Done>;

inline Error make_error(ErrorKind kind, std::string message, std::size_t position = 0) {
  Error e;
  e.kind = kind;
  e.message = std::move(message);
  e.position = position;
  return e;
}

// The error with `prefix` before its message ("the background: "), keeping
// what it points at: the position, the system's error number and the option.
inline Error with_context(Error e, std::string_view prefix) {
  e.message.insert(0, prefix);
  return e;
}
template <class T>
Error with_context(const Result<T>& r, std::string_view prefix) {
  return with_context(r.error(), prefix);
}

// Propagation in the manner of Abseil's RETURN_IF_ERROR and ASSIGN_OR_RETURN:
//   TALVO_RETURN_IF_ERROR(check(x));            returns check's error, if any
//   TALVO_ASSIGN_OR_RETURN(double v, parse(t));  v the value, or returns the error
// The error is returned as it is: wrap it with with_context() by hand where
// the caller adds words.
#define TALVO_RESULT_CONCAT_INNER(a, b) a##b
#define TALVO_RESULT_CONCAT(a, b) TALVO_RESULT_CONCAT_INNER(a, b)
#define TALVO_RETURN_IF_ERROR(expr)                                                     \
  do {                                                                                  \
    if (auto talvo_result_ = (expr); !talvo_result_.ok()) return talvo_result_.error(); \
  } while (false)
#define TALVO_ASSIGN_OR_RETURN(lhs, expr) \
  TALVO_ASSIGN_OR_RETURN_IMPL(TALVO_RESULT_CONCAT(talvo_result_, __LINE__), lhs, expr)
#define TALVO_ASSIGN_OR_RETURN_IMPL(result, lhs, expr) \
  auto result = (expr);                                \
  if (!result.ok()) return result.error();             \
  lhs = std::move(result).value()

// A caller's way to stop a long routine early (Python looks for Ctrl-C in
// it): a routine whose options hold one asks it between pieces of work of a
// few milliseconds each and, once it answers true, stops and fails with
// kCancelled. Empty: the routine runs to its end.
using StopCheck = std::function<bool()>;

// Whether `stop` asks to stop now.
inline bool stop_asked(const StopCheck& stop) { return stop && stop(); }
inline Error cancelled() { return make_error(ErrorKind::kCancelled, "stopped at the caller's request"); }

}  // namespace talvo
