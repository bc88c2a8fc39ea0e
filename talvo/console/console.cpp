#include "talvo/console/console.hpp"

#include <istream>
#include <ostream>

#include "talvo/text/words.hpp"

namespace talvo {

std::string read_reply(Console& con) {
  con.out.flush();
  std::string reply;
  if (!std::getline(con.in, reply)) {
    if (reply.empty()) throw EndOfInput();
  }
  if (!reply.empty() && reply.back() == '\r') reply.pop_back();
  return reply;
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
