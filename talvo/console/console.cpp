#include "talvo/console/console.hpp"

#include <istream>
#include <ostream>

#include "talvo/files/files.hpp"
#include "talvo/text/words.hpp"

namespace talvo {

Result<std::string> read_reply(Console& con) {
  // Input already read ahead is a reply that does not wait.
  const bool buffered = con.in.rdbuf() != nullptr && con.in.rdbuf()->in_avail() > 0;
  if (!buffered && (!con.reply_ready || !con.reply_ready())) con.out.flush();
  std::string reply;
  const Result<bool> got = read_line(con.in, reply, kMaxReplyLine);
  if (got.ok() && *got) return reply;
  if (!got.ok() && got.kind() == ErrorKind::kOutOfRange)
    return make_error(ErrorKind::kOutOfRange,
                      "a reply is longer than " + std::to_string(kMaxReplyLine) + " characters");
  return make_error(ErrorKind::kNotFound, "the input ended before the question was answered");
}

void prompt(Console& con, const std::string& text) { con.out << text; }

void line(Console& con, const std::string& text) { con.out << text << '\n'; }

std::string DataPrefix::prefix() const { return path.substr(0, path_len > 0 ? static_cast<std::size_t>(path_len) : 0); }

DataPrefix setg_f(const char* value) {
  DataPrefix p;
  p.path = fixed(value ? value : "", kPathLength);
  const auto pair = p.path.find("  ");
  p.path_len = pair == std::string::npos ? -1 : static_cast<int>(pair);
  return p;
}

}  // namespace talvo
