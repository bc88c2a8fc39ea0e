// How the classic routines report, as they were specified: an error number
// (0 = success), its whole message, and whether it is an error or only a
// warning (the results are then still there). The modern API reports through
// talvo::Result (talvo/result.hpp) instead.
#pragma once

#include <string>
#include <utility>

namespace talvo::classic {

enum class Severity { kOk, kWarning, kError };

struct [[nodiscard]] Status {
  int ierr = 0;
  std::string message;
  Severity severity = Severity::kOk;

  // Nothing to report: neither an error nor a warning.
  bool ok() const { return severity == Severity::kOk; }
  // An error: the routine's results are not to be used.
  bool failed() const { return severity == Severity::kError; }
  // A warning: the results are there and usable.
  bool warned() const { return severity == Severity::kWarning; }

  static Status error(int ierr, std::string message) { return {ierr, std::move(message), Severity::kError}; }
  static Status warning(int ierr, std::string message) { return {ierr, std::move(message), Severity::kWarning}; }
};

}  // namespace talvo::classic
