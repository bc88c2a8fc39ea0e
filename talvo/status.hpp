// How library routines report: an error number (0 = success) and its message.
#pragma once

#include <string>

namespace talvo {

// Messages are at most this long; longer texts are cut.
inline constexpr std::size_t kMessageLength = 80;

struct Status {
  int ierr = 0;
  std::string message;
  bool ok() const { return ierr == 0; }
};

inline Status make_status(int ierr, std::string message) {
  if (message.size() > kMessageLength) message.resize(kMessageLength);
  return Status{ierr, std::move(message)};
}

}  // namespace talvo
