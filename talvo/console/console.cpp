#include "talvo/console/console.hpp"

#include <istream>
#include <ostream>

#include "talvo/files/files.hpp"
#include "talvo/text/words.hpp"

namespace talvo {

std::string read_reply(Console& con) {
  // Input already read ahead is a reply that does not wait.
  const bool buffered = con.in.rdbuf() != nullptr && con.in.rdbuf()->in_avail() > 0;
  if (!buffered && (!con.reply_ready || !con.reply_ready())) con.out.flush();
  std::string reply;
  switch (read_line(con.in, reply, kMaxReplyLine)) {
    case LineRead::kLine:
      return reply;
    case LineRead::kTooLong:
      throw ReplyTooLong();
    default:
      throw EndOfInput();
  }
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
