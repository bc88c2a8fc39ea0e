#include "talvo/console/check_file.hpp"

#include "talvo/files/files.hpp"
#include "talvo/text/print.hpp"
#include "talvo/text/words.hpp"

namespace talvo {

std::optional<std::string> check_file(const std::string& name, CheckFile iopt, Console* con) {
  std::string current = name;
  // Says why a name cannot be read; false when it can.
  const auto refused = [&](const std::string& n) {
    const Status s = check_regular_file(n);
    if (s.ok()) return false;
    if (con) {
      line(*con, " Failure locating file " + n);
      if (s.ierr == 2) line(*con, " " + s.message);
    }
    return true;
  };
  switch (iopt) {
    case CheckFile::kQuiet:
      if (check_regular_file(current).ok()) return current;
      return std::nullopt;
    case CheckFile::kMustExist:
      if (refused(current)) return std::nullopt;
      return current;
    case CheckFile::kAsk:
      for (;;) {
        if (!refused(current)) {
          line(*con, " File found : " + current);
          return current;
        }
        prompt(*con, " Give file name or return to stop > ");
        current = std::string(trim_end(read_reply(*con)));
        if (current.empty()) return std::nullopt;
      }
    case CheckFile::kNew:
      if (file_exists(current))
        line(*con, " File found : " + current);
      else
        line(*con, " No pre-existing version of file exists");
      return current;
    default:
      if (con) pr_int(con->out, "Unexpected option in check_file: iopt =", static_cast<int>(iopt));
      return std::nullopt;
  }
}

}  // namespace talvo
