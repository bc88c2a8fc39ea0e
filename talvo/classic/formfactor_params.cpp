#include <algorithm>
#include <cstdio>
#include <optional>
#include <ostream>

#include "talvo/classic/formfactor.hpp"
#include "talvo/classic/words.hpp"
#include "talvo/files/files.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"

namespace talvo::classic {
namespace {

// What differs between the two lookups.
struct Parameterisation {
  const char* name;  // "get_wkpar_neut"
  FormFactorTable table;
  int terms;
  bool symbol_in_error2;
};
const Parameterisation kWkSet{"get_wkpar_neut", FormFactorTable::kWaasmaierKirfel, 5, true};
const Parameterisation kItSet{"get_itpar_neut", FormFactorTable::kInternationalTables, 4, false};

std::string error(const Parameterisation& set, int n, const char* text) {
  return "**" + std::string(set.name) + " Error " + std::to_string(n) + ": " + text;
}

// The symbol as 2 characters, a TAB after a one-letter symbol read as a blank.
std::string two_chars(std::string_view symbol) {
  std::string s = fixed(symbol, 2);
  if (s[1] == '\t') s[1] = ' ';
  return s;
}

std::span<const char* const> symbols_of(const Parameterisation& set) {
  return set.table == FormFactorTable::kWaasmaierKirfel ? wk_table_symbols() : it_table_symbols();
}

// The neutral atoms' rows only: a symbol of 1 or 2 letters (the 2
// characters read, blanks after it dropped), compared case-blind.
std::optional<FormFactorParams> neutral_row(const Parameterisation& set, const std::string& sym) {
  const std::string_view name = trim_end(sym);
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (name.empty() || !std::all_of(name.begin(), name.end(), letter)) return std::nullopt;
  Result<FormFactorParams> p = published_coefficients(name, set.table);
  if (!p.ok()) return std::nullopt;
  return *p;
}

Status table_lookup(const Parameterisation& set, std::string_view symbol, FormFactorParams& p, int iprint,
                    std::ostream& out) {
  const std::string sym = two_chars(symbol);
  if (iprint != 0) {
    out << ' ' << set.name << "_data: symbol=" << trim_end(sym) << '\n';
    out << ' ' << set.name << "_data: TEST ele(13)=" << symbols_of(set)[12] << '\n';
  }
  const std::optional<FormFactorParams> row = neutral_row(set, sym);
  if (!row) return Status::error(6, error(set, 6, "Data not found for this element"));
  // The classic routines hold the coefficients in single precision.
  const int n = std::min(std::max(p.n, 0), set.terms);
  for (std::size_t j = 0; j < static_cast<std::size_t>(n); ++j) {
    p.a[j] = static_cast<float>(row->a[j]);
    p.b[j] = static_cast<float>(row->b[j]);
  }
  p.c = static_cast<float>(row->c);
  return {};
}

std::string fixed6(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", v);
  return buf;
}

Status file_lookup(const Parameterisation& set, const std::string& sym, int len, FormFactorParams& p, int iprint,
                   std::ostream& out, const DataFolder& folder) {
  constexpr std::size_t kRecordLength = 200;
  const std::string name = folder.file(form_factor_table_file(set.table));
  // Only a regular file is read: a FIFO or a device is as good as missing.
  Result<InputFile> in = InputFile::open(name);
  if (!in.ok()) return Status::error(1, error(set, 1, "Problem finding datafile"));
  std::string rec;
  // A line beyond the line limit is a read error, which ends the search.
  const auto next = [&] {
    const Result<bool> got = read_line(in->stream(), rec);
    return got.ok() && *got;
  };
  const std::size_t min_words = static_cast<std::size_t>(2 * set.terms + 3);
  const bool header = next();  // never a record
  while (header && next()) {
    if (rec.size() > kRecordLength) rec.resize(kRecordLength);
    const WordPositions w = count_word(rec);
    if (w.count == 0) continue;
    std::string rsym = two_chars(word_text(rec, w, 1));
    for (char& ch : rsym)
      if (ch == ',') ch = ' ';
    if (len_string(rsym) != len || ach_case_blind_compare(rsym, sym) != 0) continue;
    if (iprint == 1) out << " file closed\n";
    if (static_cast<std::size_t>(w.count) < min_words)
      return Status::error(4, error(set, 4, "File has insufficient data for requested element"));
    const auto number = [&](int k, double& v) { return read_free(word_text(rec, w, k).substr(0, 20), {&v}); };
    for (int j = 1; j <= set.terms; ++j) {
      const auto k = static_cast<std::size_t>(j - 1);
      if (!number(2 * j + 1, p.a[k]) || !number(2 * j + 2, p.b[k]))
        return Status::error(5, error(set, 5, "Problem reading data for requested element"));
    }
    if (!number(2 * set.terms + 3, p.c))
      return Status::error(5, error(set, 5, "Problem reading data for requested element"));
    if (iprint == 1) {
      out << ' ' << set.name << " found the following parameters for element " << trim_end(sym) << '\n';
      for (int j = 1; j <= set.terms; ++j) {
        const auto k = static_cast<std::size_t>(j - 1);
        out << " a" << j << "=" << fixed6(p.a[k]) << "  b" << j << "=" << fixed6(p.b[k]) << '\n';
      }
      out << " c=" << fixed6(p.c) << '\n';
    }
    return {};
  }
  return Status::error(3, error(set, 3, "Requested element not found in datafile"));
}

Status get_par(const Parameterisation& set, std::string_view symbol, FormFactorParams& p, int iprint,
               DataMode data_mode, std::ostream& out, const DataFolder& folder) {
  const std::string sym = two_chars(symbol);
  if (iprint != 0) out << ' ' << set.name << ": symbol=" << trim_end(sym) << '\n';
  p.n = set.terms;
  const int len = sym[1] == ' ' ? 1 : 2;
  if (sym[0] == ' ' || sym[0] == '\t') {
    std::string text = error(set, 2, "Problem with element symbol");
    if (set.symbol_in_error2) text += " (" + sym + ")";
    return Status::error(2, text);
  }
  if (data_mode == DataMode::kTablesInProgram) {
    return table_lookup(set, sym, p, iprint, out);
  }
  if (data_mode == DataMode::kDataFile) {
    return file_lookup(set, sym, len, p, iprint, out, folder);
  }
  return Status::error(7, error(set, 7, "Unrecognised data mode"));
}

}  // namespace

Status get_wkpar_neut(std::string_view symbol, FormFactorParams& p, int iprint, DataMode data_mode, std::ostream& out,
                      const DataFolder& folder) {
  return get_par(kWkSet, symbol, p, iprint, data_mode, out, folder);
}
Status get_itpar_neut(std::string_view symbol, FormFactorParams& p, int iprint, DataMode data_mode, std::ostream& out,
                      const DataFolder& folder) {
  return get_par(kItSet, symbol, p, iprint, data_mode, out, folder);
}
Status get_wkpar_neut_data(std::string_view symbol, FormFactorParams& p, int iprint, std::ostream& out) {
  return table_lookup(kWkSet, symbol, p, iprint, out);
}
Status get_itpar_neut_data(std::string_view symbol, FormFactorParams& p, int iprint, std::ostream& out) {
  return table_lookup(kItSet, symbol, p, iprint, out);
}

}  // namespace talvo::classic
