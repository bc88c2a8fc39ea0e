#include <cctype>
#include <cstdio>
#include <optional>
#include <ostream>

#include "talvo/classic/words.hpp"
#include "talvo/elements/elements.hpp"
#include "talvo/files/files.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xray/formfactor.hpp"

namespace talvo {
namespace {

// The coefficients as published; the routines of the library hand them out
// rounded to single precision, the precision they have always been held in.
struct TableRow {
  const char* symbol;
  double a[5];
  double b[5];
  double c;
};

constexpr TableRow kWk[] = {
#include "talvo/xray/wk_table.inc"
};
constexpr TableRow kIt[] = {
#include "talvo/xray/it_table.inc"
};
static_assert(std::size(kWk) == 98 && std::size(kIt) == 98);

// The ions of the same Waasmaier-Kirfel fit, named as published ("Fe3+",
// "O2-", "Li1+", and "Cval", "Siva" for valence-bonded C and Si).
struct IonRow {
  const char* symbol;
  int z;
  double a[5];
  double b[5];
  double c;
};
constexpr IonRow kWkIons[] = {
#include "talvo/xray/wk_ion_table.inc"
};
static_assert(std::size(kWkIons) == 113);

template <std::size_t N>
constexpr std::array<const char*, N> symbols_of(const TableRow (&rows)[N]) {
  std::array<const char*, N> s{};
  for (std::size_t i = 0; i < N; ++i) s[i] = rows[i].symbol;
  return s;
}
constexpr auto kWkSymbols = symbols_of(kWk);
constexpr auto kItSymbols = symbols_of(kIt);

// What differs between the two parameterisations.
struct Parameterisation {
  const char* name;  // "get_wkpar_neut"
  std::span<const TableRow> table;
  int terms;
  const char* file;
  bool symbol_in_error2;
  const char* title;
};
const Parameterisation kWkSet{"get_wkpar_neut", kWk, 5, "wk_neutral.foqdat", true, "Waasmaier-Kirfel"};
const Parameterisation kItSet{"get_itpar_neut", kIt, 4, "it_neutral.foqdat", false, "International Tables"};

std::string error(const Parameterisation& set, int n, const char* text) {
  return "**" + std::string(set.name) + " Error " + std::to_string(n) + ": " + text;
}

// The symbol as 2 characters, a TAB after a one-letter symbol read as a blank.
std::string two_chars(std::string_view symbol) {
  std::string s = fixed(symbol, 2);
  if (s[1] == '\t') s[1] = ' ';
  return s;
}

Status table_lookup(const Parameterisation& set, std::string_view symbol, FormFactorParams& p, int iprint,
                    std::ostream& out) {
  const std::string sym = two_chars(symbol);
  if (iprint != 0) {
    out << ' ' << set.name << "_data: symbol=" << trim_end(sym) << '\n';
    out << ' ' << set.name << "_data: TEST ele(13)=" << set.table[12].symbol << '\n';
  }
  const int n = std::min(std::max(p.n, 0), set.terms);
  for (const TableRow& row : set.table) {
    if (classic::ach_case_blind_compare(sym, fixed(row.symbol, 2)) != 0) continue;
    for (int j = 0; j < n; ++j) {
      p.a[static_cast<std::size_t>(j)] = static_cast<float>(row.a[j]);
      p.b[static_cast<std::size_t>(j)] = static_cast<float>(row.b[j]);
    }
    p.c = static_cast<float>(row.c);
    return {};
  }
  return Status::error(6, error(set, 6, "Data not found for this element"));
}

std::string fixed6(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", v);
  return buf;
}

Status file_lookup(const Parameterisation& set, const std::string& sym, int len, FormFactorParams& p, int iprint,
                   std::ostream& out, const DataFolder& folder) {
  constexpr std::size_t kRecordLength = 200;
  const std::string name = folder.file(set.file);
  // Only a regular file is read: a FIFO or a device is as good as missing.
  InputFile in(name);
  if (!in.is_open()) return Status::error(1, error(set, 1, "Problem finding datafile"));
  std::string rec;
  // A line beyond the line limit is a read error, which ends the search.
  const auto next = [&] { return read_line(in.stream(), rec) == LineRead::kLine; };
  const std::size_t min_words = static_cast<std::size_t>(2 * set.terms + 3);
  const bool header = next();  // never a record
  while (header && next()) {
    if (rec.size() > kRecordLength) rec.resize(kRecordLength);
    const classic::WordPositions w = classic::count_word(rec);
    if (w.count == 0) continue;
    std::string rsym = two_chars(classic::word_text(rec, w, 1));
    for (char& ch : rsym)
      if (ch == ',') ch = ' ';
    if (classic::len_string(rsym) != len || classic::ach_case_blind_compare(rsym, sym) != 0) continue;
    if (iprint == 1) out << " file closed\n";
    if (static_cast<std::size_t>(w.count) < min_words)
      return Status::error(4, error(set, 4, "File has insufficient data for requested element"));
    const auto number = [&](int k, double& v) { return read_free(classic::word_text(rec, w, k).substr(0, 20), {&v}); };
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

const Parameterisation& parameterisation(FormFactorTable table) {
  return table == FormFactorTable::kWaasmaierKirfel ? kWkSet : kItSet;
}

}  // namespace

std::span<const char* const> wk_table_symbols() { return kWkSymbols; }
std::span<const char* const> it_table_symbols() { return kItSymbols; }

std::optional<FormFactorTable> form_factor_table_named(std::string_view name) {
  if (equal_case_blind(name, "wk")) return FormFactorTable::kWaasmaierKirfel;
  if (equal_case_blind(name, "it")) return FormFactorTable::kInternationalTables;
  return std::nullopt;
}

const char* form_factor_table_title(FormFactorTable table) { return parameterisation(table).title; }
const char* form_factor_table_file(FormFactorTable table) { return parameterisation(table).file; }

std::optional<IonName> ion_named(std::string_view text) {
  const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
  const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0;
  if (text.empty() || !(upper(text[0]) || lower(text[0]))) return std::nullopt;
  ++i;
  while (i < text.size() && (lower(text[i]) || upper(text[i])) && i < 3) ++i;
  // Symbols compare case-blind: "li+" is Li+.
  IonName ion{std::string(text.substr(0, i)), 0};
  for (std::size_t k = 0; k < ion.element.size(); ++k)
    ion.element[k] = k == 0 ? static_cast<char>(std::toupper(static_cast<unsigned char>(ion.element[k])))
                            : static_cast<char>(std::tolower(static_cast<unsigned char>(ion.element[k])));
  if (i == text.size()) return ion;
  const bool braces = text[i] == '{';
  if (braces) {
    if (text.back() != '}') return std::nullopt;
    text.remove_suffix(1);
    ++i;
  }
  // The size and the sign in either order: "3+" or "+3".
  const auto sign = [&](std::size_t k) { return k < text.size() && (text[k] == '+' || text[k] == '-'); };
  const bool sign_first = sign(i);
  const std::size_t sign_at = sign_first ? i++ : 0;
  int size = 0;
  const std::size_t first = i;
  while (i < text.size() && digit(text[i]) && i - first < 2) size = 10 * size + (text[i++] - '0');
  if (i == first) size = 1;
  if (size == 0) return std::nullopt;
  if (sign_first) {
    if (i != text.size()) return std::nullopt;
    ion.charge = text[sign_at] == '+' ? size : -size;
    return ion;
  }
  if (i + 1 != text.size() || !sign(i)) return std::nullopt;
  ion.charge = text[i] == '+' ? size : -size;
  return ion;
}

int element_entry_of(std::string_view name) {
  if (equal_case_blind(name, "Cval")) return find_element("C");
  if (equal_case_blind(name, "Siva")) return find_element("Si");
  const std::optional<IonName> ion = ion_named(name);
  if (!ion || ion->element.size() > 2) return -1;
  return find_element(ion->element == "T" ? std::string_view("H") : std::string_view(ion->element));
}

std::string ion_text(std::string_view element, int charge) {
  std::string s(element);
  if (charge == 0) return s;
  const int size = charge < 0 ? -charge : charge;
  if (size != 1) s += std::to_string(size);
  return s + (charge < 0 ? '-' : '+');
}

namespace {

// The published name of an ion with the table's "1" dropped ("Li1+" is "Li+").
std::string ion_row_text(const IonRow& row) {
  const std::optional<IonName> ion = ion_named(row.symbol);
  return ion ? ion_text(ion->element, ion->charge) : std::string(row.symbol);
}

const IonRow* find_ion(std::string_view text) {
  for (const IonRow& row : kWkIons)
    if (equal_case_blind(text, row.symbol)) return &row;  // "Cval", "Siva", "O2-"
  const std::optional<IonName> ion = ion_named(text);
  if (!ion || ion->charge == 0) return nullptr;
  const std::string want = ion_text(ion->element, ion->charge);
  for (const IonRow& row : kWkIons)
    if (equal_case_blind(want, ion_row_text(row))) return &row;
  return nullptr;
}

}  // namespace

std::vector<std::string> wk_ions_of(std::string_view element) {
  std::vector<std::string> names;
  for (const IonRow& row : kWkIons) {
    const std::optional<IonName> ion = ion_named(row.symbol);
    if (ion && ion->charge != 0 && equal_case_blind(ion->element, element)) names.push_back(ion_row_text(row));
  }
  return names;
}

std::optional<FormFactorParams> published_coefficients(std::string_view symbol, FormFactorTable table) {
  const Parameterisation& set = parameterisation(table);
  if (symbol.size() > 2 || symbol.find_first_of("+-{0123456789") != std::string_view::npos) {
    if (table != FormFactorTable::kWaasmaierKirfel) return std::nullopt;
    const IonRow* row = find_ion(symbol);
    if (!row) return std::nullopt;
    FormFactorParams p;
    p.n = 5;
    for (std::size_t j = 0; j < 5; ++j) {
      p.a[j] = row->a[j];
      p.b[j] = row->b[j];
    }
    p.c = row->c;
    return p;
  }
  if (symbol.empty()) return std::nullopt;
  for (const TableRow& row : set.table) {
    if (!equal_case_blind(symbol, row.symbol)) continue;
    FormFactorParams p;
    p.n = set.terms;
    for (std::size_t j = 0; j < static_cast<std::size_t>(set.terms); ++j) {
      p.a[j] = row.a[j];
      p.b[j] = row.b[j];
    }
    p.c = row.c;
    return p;
  }
  return std::nullopt;
}

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

}  // namespace talvo
