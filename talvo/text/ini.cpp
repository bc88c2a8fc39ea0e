#include "talvo/text/ini.hpp"

#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"

namespace talvo {

Result<std::vector<IniKey>> read_ini(std::string_view text, std::string_view source, const IniOptions& options) {
  std::vector<IniKey> keys;
  std::string section;
  std::size_t start = 0;
  int line = 0;
  const auto refused = [&](const std::string& what) {
    return make_error(ErrorKind::kParseError,
                      escape_for_message(source) + " line " + std::to_string(line) + ": " + what);
  };
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view t = trim(text.substr(start, end - start));
    start = end + 1;
    ++line;
    if (!options.stop_at.empty() && t == options.stop_at) break;
    if (t.empty() || t.front() == '#' || t.front() == ';') continue;
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
      section = lower_ascii(trim(t.substr(1, t.size() - 2)));
      continue;
    }
    const std::size_t eq = t.find_first_of("=:");
    if (eq == std::string_view::npos || section.empty()) {
      if (!options.strict) continue;
      return refused("not a \"key = value\" line of a [section]: " + quote_for_message(t));
    }
    const std::string key = lower_ascii(trim(t.substr(0, eq)));
    bool twice = false;
    for (const IniKey& k : keys) twice = twice || (k.section == section && k.key == key);
    if (twice) {
      if (!options.strict) continue;
      return refused(quote_for_message(key) + " is given twice in [" + escape_for_message(section) + "]");
    }
    keys.push_back({section, key, std::string(trim(t.substr(eq + 1))), line});
  }
  return keys;
}

}  // namespace talvo
