#include "talvo/pdf/pdf_files.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "talvo/pdf/same_values_internal.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/shortest.hpp"
#include "talvo/text/words.hpp"

namespace talvo::pdf {
namespace {

bool is_key(std::string_view k) {
  if (k.empty()) return false;
  for (char c : k)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  return true;
}

// A header value as written: as it is, or quoted with its escapes where it
// holds what would break the line or read back otherwise (a line end or
// another control character, bytes that are not UTF-8, a quote or a
// backslash, blanks at either end).
std::string header_value(std::string_view v) {
  const std::size_t all = std::numeric_limits<std::size_t>::max();
  const bool plain = escape_for_message(v, all) == v && (v.empty() || (v.front() != ' ' && v.back() != ' '));
  return plain ? std::string(v) : quote_for_message(v, all);
}

// The text of an abscissa column, kept for the next file: I(Q), S(Q) and F(Q)
// share their Q, and the patterns of a series their Q and r. A column is
// taken from here only when every value is bitwise the one it was made from.
class AbscissaTexts {
 public:
  struct Entry {
    std::vector<double> values;
    std::string text;               // the numbers one after another
    std::vector<std::uint32_t> end;  // where each number's text ends
  };

  const Entry& of(std::span<const double> column) {
    for (Entry& e : entries_)
      if (same_values(e.values, column)) {
        std::swap(e, entries_.front());  // the most recent first
        return entries_.front();
      }
    std::rotate(entries_.rbegin(), entries_.rbegin() + 1, entries_.rend());  // the oldest goes
    Entry& e = entries_.front();
    e.values.assign(column.begin(), column.end());
    e.text.resize(column.size() * kShortestChars + kShortestRoom);
    e.end.resize(column.size());
    char* at = e.text.data();
    for (std::size_t i = 0; i < column.size(); ++i) {
      at = write_shortest(at, column[i]);
      e.end[i] = static_cast<std::uint32_t>(at - e.text.data());
    }
    e.text.resize(static_cast<std::size_t>(at - e.text.data()));
    return e;
  }

 private:
  std::array<Entry, 3> entries_;
};

// Columns shorter than this are written directly; longer than kMostRows are
// not kept (a thread keeps some 7 MB at most).
constexpr std::size_t kFewestRows = 64;
constexpr std::size_t kMostRows = std::size_t{1} << 16;

}  // namespace

void append_table_text(std::string& out, std::string_view title, const Parameters& parameters,
                       std::span<const std::string> notes, std::string_view columns,
                       std::span<const std::span<const double>> table) {
  const std::size_t rows = table.empty() ? 0 : table.front().size();
  out.reserve(out.size() + 1024 + 22 * table.size() * rows);  // a number is at most about 22 characters
  out += "# " + std::string(title) + "\n";
  for (const auto& [k, v] : parameters) out += "# " + k + " = " + header_value(v) + "\n";
  for (const std::string& n : notes) out += "# " + n + "\n";
  out += "# " + std::string(columns) + "\n";
  const AbscissaTexts::Entry* abscissa = nullptr;
  if (rows >= kFewestRows && rows <= kMostRows) {
    thread_local AbscissaTexts texts;
    abscissa = &texts.of(table.front());
  }
  // A row at a time into a buffer of its own: the text grows once a row, not once a number.
  std::string row(table.size() * (kShortestChars + 1) + kShortestRoom, '\0');
  for (std::size_t i = 0; i < rows; ++i) {
    char* at = row.data();
    for (std::size_t c = 0; c < table.size(); ++c) {
      if (c > 0) *at++ = ' ';
      if (c == 0 && abscissa) {
        const std::uint32_t begin = i == 0 ? 0 : abscissa->end[i - 1];
        std::memcpy(at, abscissa->text.data() + begin, abscissa->end[i] - begin);
        at += abscissa->end[i] - begin;
        continue;
      }
      at = write_shortest(at, table[c][i]);
    }
    *at++ = '\n';
    out.append(row.data(), at);
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

bool append_output_text(std::string& out, std::string_view kind, const Parameters& p,
                        std::span<const std::string> notes, const Reduction& r) {
  const auto curve = [&](const char* title, const char* columns, const Curve& c) {
    const std::span<const double> table[] = {c.x, c.y, c.sigma};
    append_table_text(out, title, p, notes, columns, table);
    return true;
  };
  if (kind == "iq")
    return curve("talvo-tools pdf: I(Q), corrected, per atom in electron units", "columns: Q I sigma", r.iq);
  if (kind == "sq") return curve("talvo-tools pdf: S(Q)", "columns: Q S sigma", r.sq);
  if (kind == "fq") return curve("talvo-tools pdf: F(Q) = Q [S(Q) - 1]", "columns: Q F sigma", r.fq);
  if (kind == "gr") return curve("talvo-tools pdf: G(r)", "columns: r G sigma", r.gr);
  if (!r.number_density) return false;
  if (kind == "gofr") {
    const std::span<const double> table[] = {r.gr.x, r.g, r.sigma_g};
    append_table_text(out, "talvo-tools pdf: g(r) = 1 + G(r) / (4 pi r rho0)", p, notes, "columns: r g sigma", table);
    return true;
  }
  if (kind == "rdf") {
    const std::span<const double> table[] = {r.gr.x, r.rr, r.sigma_rr, r.rr_integral, r.sigma_rr_integral};
    append_table_text(out, "talvo-tools pdf: R(r) = 4 pi r^2 rho0 g(r) and N(r), its integral from rmin", p, notes,
                      "columns: r R sigma N sigma_N", table);
    return true;
  }
  return false;
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
    std::string value(trim(t.substr(eq + 3)));
    if (!value.empty() && value.front() == '"') {
      std::optional<std::string> unquoted = unquote(value);
      if (!unquoted)
        return make_error(ErrorKind::kParseError, "line " + std::to_string(line) + ": the value of \"" +
                                                      std::string(key) + "\" opens a quote it does not close");
      value = std::move(*unquoted);
    }
    for (const auto& kv : out)
      if (kv.first == key)
        return make_error(ErrorKind::kParseError,
                          "line " + std::to_string(line) + ": \"" + std::string(key) + "\" is given twice");
    out.emplace_back(std::string(key), value);
  }
  return out;
}

}  // namespace talvo::pdf
