// Ends a run of the calculator: thrown after the reason has been printed, and
// turned into the program's exit status by the driver.
#pragma once

#include <stdexcept>

namespace talvo {

class RunEnd : public std::runtime_error {
 public:
  explicit RunEnd(int status) : std::runtime_error("run ended"), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

// Exit status of a run that ended on an error in the data, a file or the input.
inline constexpr int kFailureStatus = 1;

}  // namespace talvo
