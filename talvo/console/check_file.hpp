// Whether a file the dialogue names can be read, asking again for its name
// where the dialogue wants that.
#pragma once

#include <string>

#include "talvo/console/console.hpp"
#include "talvo/result.hpp"

namespace talvo {

// check_file options.
enum class CheckFile {
  kQuiet = 0,      // existence only, nothing printed (library callers)
  kMustExist = 1,  // prints " Failure locating file " when it is missing
  kAsk = 2,        // prints " File found : "; when missing asks for another name
  kNew = 3,        // a file about to be written: says whether one exists already
};

// Establishes that `name` is an existing regular file (or, for CheckFile::kNew,
// reports on it) and returns the name of the file to use. The caller gives
// up on an error, which the console has already shown: kNotFound when the
// file is missing or the user gave no other name, kInvalidArgument when it
// is not a regular file (the reason is printed after " Failure locating file
// ") or iopt is unknown ("Unexpected option in check_file: iopt ="), kIoError
// when it cannot be looked at, or read_reply's error when no other name can
// be read. `con` may be null for CheckFile::kQuiet.
Result<std::string> check_file(const std::string& name, CheckFile iopt, Console* con);

}  // namespace talvo
