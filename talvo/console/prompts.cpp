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

void say_why(Console& con, Explain explain, const std::string& reason) {
  if (explain == Explain::kSayWhy) line(con, " " + reason);
}

std::string not_a(const char* what, const std::string& reply) {
  const std::string shown = kept(reply);
  return shown.find_first_not_of(" \t") == std::string::npos ? std::string("Give ") + what
                                                             : std::string("Not ") + what + ": " + shown;
}

}  // namespace

Outcome get_intd(Console& con, int& value, std::string_view text, int iopt, Explain explain) {
  const std::string shown = fmt_i(value, int_columns(value));
  for (;;) {
    prompt(con, question(text, iopt == 1 ? &shown : nullptr));
    const Result<std::string> got = read_reply(con);
    if (!got.ok()) return got.error();
    const std::string& reply = *got;
    if (reply.empty()) {
      if (iopt == 1) return Done{};
      say_why(con, explain, "Give a whole number");
      continue;
    }
    int answer = value;
    const bool blank = reply.size() == 1 && (reply[0] == ' ' || reply[0] == '\t');
    if (!blank && reply[0] != 'f' && reply[0] != 'F' && read_free(kept(reply), {&answer})) {
      value = answer;
      return Done{};
    }
    say_why(con, explain, not_a("a whole number", reply));
  }
}

Outcome get_stringd(Console& con, std::string& string, std::string_view text, int& nchar, int iopt,
                    std::size_t capacity, Explain explain) {
  for (;;) {
    std::string shown;
    if (iopt == 1) shown = fixed(string, nchar > 0 ? static_cast<std::size_t>(nchar) : 0);
    prompt(con, question(text, iopt == 1 ? &shown : nullptr));
    const Result<std::string> got = read_reply(con);
    if (!got.ok()) return got.error();
    const std::string& reply = *got;
    if (!reply.empty()) {
      string = kept(reply).substr(0, capacity);
      nchar = static_cast<int>(reply.size());
      return Done{};
    }
    if (iopt == 1) return Done{};
    say_why(con, explain, "Give a name");
  }
}

Outcome get_param_dp(Console& con, double& value, std::string_view text, int& iopt, Explain explain) {
  for (;;) {
    const std::string shown = fmt_e(value, 14, 7);
    prompt(con, question(text, iopt == 1 ? &shown : nullptr));
    const Result<std::string> got = read_reply(con);
    if (!got.ok()) return got.error();
    const std::string& reply = *got;
    if (reply.empty()) {
      if (iopt == 1) return Done{};
      iopt = 0;
      say_why(con, explain, "Give a number");
      continue;
    }
    double answer = value;
    if (read_free(kept(reply), {&answer})) {
      value = answer;
      return Done{};
    }
    iopt = 0;
    say_why(con, explain, not_a("a number", reply));
  }
}

}  // namespace talvo
