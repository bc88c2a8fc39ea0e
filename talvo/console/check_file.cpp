#include "talvo/console/check_file.hpp"

#include "talvo/files/read.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"

namespace talvo {

Result<std::string> check_file(const std::string& name, CheckFile iopt, Console* con) {
  std::string current = name;
  // Shows why a name cannot be read.
  const auto refuse = [&](const std::string& n, const Error& why) {
    if (con) {
      line(*con, " Failure locating file " + n);
      if (why.kind == ErrorKind::kInvalidArgument) line(*con, " " + why.message);
    }
  };
  switch (iopt) {
    case CheckFile::kQuiet:
    case CheckFile::kMustExist: {
      const Outcome found = check_regular_file(current);
      if (found.ok()) return current;
      if (iopt == CheckFile::kMustExist) refuse(current, found.error());
      return found.error();
    }
    case CheckFile::kAsk:
      for (;;) {
        const Outcome found = check_regular_file(current);
        if (found.ok()) {
          line(*con, " File found : " + current);
          return current;
        }
        refuse(current, found.error());
        prompt(*con, " Give file name or return to stop > ");
        const Result<std::string> reply = read_reply(*con);
        if (!reply.ok()) return reply.error();
        current = std::string(trim_end(*reply));
        if (current.empty()) return make_error(ErrorKind::kNotFound, "no file name given for " + name);
      }
    case CheckFile::kNew:
      if (file_exists(current))
        line(*con, " File found : " + current);
      else
        line(*con, " No pre-existing version of file exists");
      return current;
  }
  const int option = static_cast<int>(iopt);
  if (con) line(*con, " Unexpected option in check_file: iopt =" + fmt_i(option, int_columns(option)));
  return make_error(ErrorKind::kInvalidArgument, "unknown check_file option " + std::to_string(static_cast<int>(iopt)));
}

}  // namespace talvo
