// What the classic file routines need of NewFile beyond its modern interface:
// the system's own error number, which their messages print. Internal: not
// installed.
#pragma once

#include <string>

#include "talvo/files/write.hpp"

namespace talvo::files_internal {

struct NewFileAccess {
  // NewFile::create; on a failure `system_error` is the system's error number.
  static Result<NewFile> create(const std::string& name, const NewFileOptions& options, int& system_error);
};

}  // namespace talvo::files_internal
