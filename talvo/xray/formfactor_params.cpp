#include <cctype>
#include <optional>

#include "talvo/elements/elements.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xray/formfactor.hpp"

namespace talvo {
namespace {

// The coefficients as published; the classic routines hand them out rounded
// to single precision, the precision they hold them in.
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
  std::span<const TableRow> table;
  int terms;
  const char* file;
  const char* title;
};
const Parameterisation kWkSet{kWk, 5, "wk_neutral.foqdat", "Waasmaier-Kirfel"};
const Parameterisation kItSet{kIt, 4, "it_neutral.foqdat", "International Tables"};

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

std::optional<std::size_t> element_entry_of(std::string_view name) {
  if (equal_case_blind(name, "Cval")) return find_element("C");
  if (equal_case_blind(name, "Siva")) return find_element("Si");
  const std::optional<IonName> ion = ion_named(name);
  if (!ion || ion->element.size() > 2) return std::nullopt;
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

namespace {

// "no Waasmaier-Kirfel form-factor coefficients for the ion Fe5+ (the table has Fe2+, Fe3+)".
std::string no_coefficients(std::string_view symbol, FormFactorTable table) {
  const std::optional<IonName> ion = ion_named(symbol);
  std::string text = "no " + std::string(form_factor_table_title(table)) + " form-factor coefficients for ";
  if (!ion || ion->charge == 0) return text + "element " + std::string(symbol);
  text += "the ion " + std::string(symbol);
  if (table != FormFactorTable::kWaasmaierKirfel) return text + " (ions are in the Waasmaier-Kirfel table only)";
  const std::vector<std::string> ions = wk_ions_of(ion->element);
  if (ions.empty()) return text + " (the table has no ion of " + ion->element + ")";
  text += " (the table has";
  for (std::size_t i = 0; i < ions.size(); ++i) text += (i ? ", " : " ") + ions[i];
  return text + ")";
}

std::optional<FormFactorParams> coefficients_of(std::string_view symbol, FormFactorTable table) {
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

}  // namespace

Result<FormFactorParams> published_coefficients(std::string_view symbol, FormFactorTable table) {
  std::optional<FormFactorParams> p = coefficients_of(symbol, table);
  if (!p) return make_error(ErrorKind::kNotFound, no_coefficients(symbol, table));
  return *p;
}

}  // namespace talvo
