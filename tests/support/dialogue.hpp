// A whole calculator dialogue run in-process on the test data: the exit
// status, and everything it showed in `screen`.
#pragma once

#include <sstream>
#include <string>

#include "app/driver.hpp"

namespace talvo::test_support {

inline int run_dialogue(const std::string& input, std::string& screen) {
  std::istringstream in(input);
  std::ostringstream out;
  Console con{in, out};
  const int status = run_talvo(con, DataFolder::named(TALVO_TEST_DATA_DIR));
  screen = out.str();
  return status;
}

}  // namespace talvo::test_support
