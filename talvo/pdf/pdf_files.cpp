#include "talvo/pdf/pdf_files.hpp"

#include "talvo/text/format.hpp"

namespace talvo::pdf {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool is_key(std::string_view k) {
  if (k.empty()) return false;
  for (char c : k)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  return true;
}

}  // namespace

void append_table_text(std::string& out, std::string_view title, const Parameters& parameters,
                       std::span<const std::string> notes, std::string_view columns,
                       std::span<const std::span<const double>> table) {
  const std::size_t rows = table.empty() ? 0 : table.front().size();
  out.reserve(out.size() + 1024 + 22 * table.size() * rows);  // a number is at most about 22 characters
  out += "# " + std::string(title) + "\n";
  for (const auto& [k, v] : parameters) out += "# " + k + " = " + v + "\n";
  for (const std::string& n : notes) out += "# " + n + "\n";
  out += "# " + std::string(columns) + "\n";
  for (std::size_t i = 0; i < rows; ++i) {
    for (std::size_t c = 0; c < table.size(); ++c) {
      if (c > 0) out += ' ';
      append_shortest(out, table[c][i]);
    }
    out += '\n';
  }
}

std::string table_text(std::string_view title, const Parameters& parameters, std::span<const std::string> notes,
                       std::string_view columns, std::span<const std::span<const double>> table) {
  std::string out;
  append_table_text(out, title, parameters, notes, columns, table);
  return out;
}

std::string curve_text(std::string_view title, const Parameters& parameters, std::span<const std::string> notes,
                       std::string_view columns, const Curve& c) {
  const std::span<const double> table[] = {c.x, c.y, c.sigma};
  return table_text(title, parameters, notes, columns, table);
}

Result<Parameters> parse_parameters(std::string_view text) {
  Parameters out;
  std::size_t start = 0;
  int line = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view t = trim(text.substr(start, end - start));
    start = end + 1;
    ++line;
    if (!t.empty() && t.front() == '#') t = trim(t.substr(1));
    const std::size_t eq = t.find(" = ");
    if (eq == std::string_view::npos) continue;
    const std::string_view key = trim(t.substr(0, eq));
    if (!is_key(key)) continue;
    const std::string value(trim(t.substr(eq + 3)));
    for (const auto& kv : out)
      if (kv.first == key)
        return make_error(ErrorKind::kParseError,
                          "line " + std::to_string(line) + ": \"" + std::string(key) + "\" is given twice");
    out.emplace_back(std::string(key), value);
  }
  return out;
}

}  // namespace talvo::pdf
