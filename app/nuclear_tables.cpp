#include "app/nuclear_tables.hpp"

#include <fstream>
#include <optional>

#include "app/fields.hpp"
#include "app/run_end.hpp"
#include "talvo/console/print.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"
#include "talvo/elements/elements.hpp"

namespace talvo {
namespace {

[[noreturn]] void fail(Console& con, const std::string& text) {
  line(con, text);
  throw RunEnd(kFailureStatus);
}

[[noreturn]] void read_error(Console& con, const std::string& name) { fail(con, " Error reading file " + name); }

void check_room(Console& con, std::size_t count) {
  if (count >= static_cast<std::size_t>(kMaxEntries)) {
    pr_int(con.out, "The data file has more than the maximum allowed number of entries ", kMaxEntries);
    throw RunEnd(kFailureStatus);
  }
}

std::ifstream open_data(Console& con, const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) fail(con, " Failure locating file " + name);
  return in;
}

// A data line without its line end.
bool next_line(std::istream& in, std::string& text) {
  if (!std::getline(in, text)) return false;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return true;
}

// A fixed-column field (1-based first column, width): nothing when it is
// blank or not a number. Without a decimal point, d decimals are implied.
// The text of a fixed-column field (1-based first column) without its blanks.
std::string_view field(const std::string& text, int column, int width) {
  std::string_view f =
      std::string_view(text).substr(static_cast<std::size_t>(column - 1), static_cast<std::size_t>(width));
  while (!f.empty() && f.front() == ' ') f.remove_prefix(1);
  return trim_end(f);
}

std::optional<double> fixed_real(const std::string& text, int column, int width, int d) {
  const std::string_view f = field(text, column, width);
  if (f.empty()) return 0.0;
  auto v = parse_real(f);
  if (!v) return std::nullopt;
  if (f.find_first_of(".eEdD") == std::string_view::npos) {
    for (int i = 0; i < d; ++i) *v /= 10.0;
  }
  return v;
}

std::optional<int> fixed_int(const std::string& text, int column, int width) {
  const std::string_view f = field(text, column, width);
  if (f.empty()) return 0;
  return parse_int(f);
}

}  // namespace

std::vector<NuclearEntry> read_natural_file(Console& con, const std::string& name) {
  std::ifstream in = open_data(con, name);
  std::string text;
  int headers = 0;
  if (!next_line(in, text) || !read_free(text, {&headers}) || headers < 0) read_error(con, name);
  for (int i = 0; i < headers; ++i)
    if (!next_line(in, text)) read_error(con, name);
  // 1X,I3,2X,F10.6,2X,A2,2X,F10.5,2X,F9.5,2X,F11.5
  constexpr std::size_t kRecord = 56;
  std::vector<NuclearEntry> entries;
  while (next_line(in, text)) {
    if (text.size() < kRecord) break;  // the first line that does not fit ends the entries
    auto z = fixed_int(text, 2, 3);
    auto mass = fixed_real(text, 7, 10, 6);
    auto b = fixed_real(text, 23, 10, 5);
    auto s = fixed_real(text, 35, 9, 5);
    auto a = fixed_real(text, 46, 11, 5);
    if (!z || !mass || !b || !s || !a) read_error(con, name);
    check_room(con, entries.size());
    NuclearEntry e;
    e.z = *z;
    e.mass = *mass;
    e.symbol = text.substr(18, 2);
    e.b = static_cast<float>(*b);
    e.sig_scatt = static_cast<float>(*s);
    e.sig_abs = static_cast<float>(*a);
    entries.push_back(e);
  }
  if (in.bad()) read_error(con, name);
  return entries;
}

std::vector<NuclearEntry> read_isotope_file(Console& con, const std::string& name) {
  std::ifstream in = open_data(con, name);
  constexpr int kHeaderLines = 38;
  constexpr int kFields = 8;
  std::string text;
  for (int i = 0; i < kHeaderLines; ++i)
    if (!next_line(in, text)) read_error(con, name);
  std::vector<NuclearEntry> entries;
  while (next_line(in, text)) {
    std::string rec = text.substr(0, kLineLength);
    for (char& c : rec)
      if (static_cast<unsigned char>(c) == 208) c = '-';
    if (trim_end(rec).empty()) continue;
    // Columns of the TABs; tab[k] ends field k+1.
    std::vector<int> tab;
    for (std::size_t i = 0; i < rec.size(); ++i)
      if (rec[i] == '\t') tab.push_back(static_cast<int>(i) + 1);
    if (static_cast<int>(tab.size()) < kFields - 1) read_error(con, name);
    tab.push_back(static_cast<int>(rec.size()) + 1);

    std::string_view label = trim_end(std::string_view(rec).substr(0, static_cast<std::size_t>(tab[0] - 1)));
    while (!label.empty() && label.front() == ' ') label.remove_prefix(1);
    std::size_t digits = 0;
    while (digits < label.size() && label[digits] >= '0' && label[digits] <= '9') ++digits;
    const std::string_view symbol = label.substr(digits);
    if (symbol.empty() || symbol.size() > 2) read_error(con, name);
    NuclearEntry e;
    e.symbol = fixed(symbol, 2);
    if (digits > 0) {
      auto a = parse_int(label.substr(0, digits));
      if (!a) read_error(con, name);
      e.a = *a;
    }
    const int elem = find_element(e.symbol);
    if (elem < 0) read_error(con, name);
    e.z = element_table()[static_cast<std::size_t>(elem)].z;
    // Fields 3 (b_coh), 7 (sig_scatt) and 8 (sig_abs) lie between tab[k-2] and tab[k-1].
    if (!strip_real(rec, tab[1], tab[2], e.b) || !strip_real(rec, tab[5], tab[6], e.sig_scatt) ||
        !strip_real(rec, tab[6], tab[7], e.sig_abs))
      read_error(con, name);
    check_room(con, entries.size());
    entries.push_back(e);
  }
  if (in.bad()) read_error(con, name);
  return entries;
}

std::vector<AtomicWeight> read_atomic_weights(Console& con, const std::string& name) {
  std::ifstream in = open_data(con, name);
  // 1X,A2,1X,I3,1X,I3,1X,F10.6
  constexpr std::size_t kRecord = 22;
  std::vector<AtomicWeight> weights;
  std::string text;
  while (next_line(in, text)) {
    if (trim_end(text).empty()) continue;
    if (text.size() < kRecord) read_error(con, name);
    auto z = fixed_int(text, 5, 3);
    auto a = fixed_int(text, 9, 3);
    auto mass = fixed_real(text, 13, 10, 6);
    if (!z || !a || !mass) read_error(con, name);
    check_room(con, weights.size());
    weights.push_back({text.substr(1, 2), *z, *a, *mass});
  }
  if (in.bad()) read_error(con, name);
  return weights;
}

void attach_masses(Console& con, std::vector<NuclearEntry>& entries, const std::vector<AtomicWeight>& weights) {
  for (NuclearEntry& e : entries) {
    const AtomicWeight* found = nullptr;
    for (const AtomicWeight& w : weights)
      if (w.z == e.z && w.a == e.a) found = &w;
    if (found) {
      e.mass = found->mass;
      continue;
    }
    line(con, " An atomic mass value has not been found for " + fmt_i(e.z, 3) + fixed(e.symbol, 2));
    e.mass = static_cast<float>(e.a);
    line(con, " A value " + fmt_e(static_cast<float>(e.a), 10, 3) + " will be assumed");
  }
}

const NuclearEntry* find_entry(const std::vector<NuclearEntry>& entries, const std::string& symbol, int a) {
  const std::string key = fixed(symbol, 2);
  for (const NuclearEntry& e : entries)
    if (e.a == a && ach_case_blind_compare(fixed(e.symbol, 2), key) == 0) return &e;
  return nullptr;
}

void report_loaded(Console& con, const std::string& name, std::size_t count) {
  line(con, " File " + std::string(trim_end(name)) + "read successfully");
  line(con, " Number of entries in file =" + fmt_i(static_cast<long long>(count), 4));
}

}  // namespace talvo
