#include "talvo/console/prompts.hpp"

#include "talvo/text/format.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

std::string question(std::string_view text, const std::string* shown_default) {
  std::string q = " Give ";
  q += text;
  if (shown_default)
    q += " (" + *shown_default + ") > ";
  else
    q += " > ";
  return q;
}

std::string kept(const std::string& reply) { return reply.substr(0, kReplyLength); }

}  // namespace

void get_intd(Console& con, int& value, std::string_view text, int iopt) {
  const std::string shown = fmt_i(value, len_int(value));
  for (;;) {
    prompt(con, question(text, iopt == 1 ? &shown : nullptr));
    const std::string reply = read_reply(con);
    if (reply.empty()) {
      if (iopt == 1) return;
      continue;
    }
    if (reply.size() == 1 && (reply[0] == ' ' || reply[0] == '\t')) continue;
    if (reply[0] == 'f' || reply[0] == 'F') continue;
    int answer = value;
    if (read_free(kept(reply), {&answer})) {
      value = answer;
      return;
    }
  }
}

void get_stringd(Console& con, std::string& string, std::string_view text, int& nchar, int iopt, std::size_t capacity) {
  for (;;) {
    std::string shown;
    if (iopt == 1) shown = fixed(string, nchar > 0 ? static_cast<std::size_t>(nchar) : 0);
    prompt(con, question(text, iopt == 1 ? &shown : nullptr));
    const std::string reply = read_reply(con);
    if (!reply.empty()) {
      string = kept(reply).substr(0, capacity);
      nchar = static_cast<int>(reply.size());
      return;
    }
    if (iopt == 1) return;
  }
}

void get_param_dp(Console& con, double& value, std::string_view text, int& iopt) {
  for (;;) {
    const std::string shown = fmt_e(value, 14, 7);
    prompt(con, question(text, iopt == 1 ? &shown : nullptr));
    const std::string reply = read_reply(con);
    if (reply.empty()) {
      if (iopt == 1) return;
      iopt = 0;
      continue;
    }
    double answer = value;
    if (read_free(kept(reply), {&answer})) {
      value = answer;
      return;
    }
    iopt = 0;
  }
}

}  // namespace talvo
