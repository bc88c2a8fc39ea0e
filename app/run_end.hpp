// How a run of the calculator ends early. The dialogue's steps return a
// Result: read_reply's errors (kNotFound, the input ended; kOutOfRange, a
// reply too long) end the run with the driver's words for them; any other
// error (run_end()) ends it after the reason is already on the screen.
#pragma once

#include "talvo/result.hpp"

namespace talvo {

// Exit status of a run that ended on an error in the data, a file or the input.
inline constexpr int kFailureStatus = 1;

// The end of a run whose reason the dialogue has shown.
inline Error run_end() { return make_error(ErrorKind::kInvalidArgument, "the run ended"); }

}  // namespace talvo
