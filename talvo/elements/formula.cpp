#include "talvo/elements/formula.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

#include "talvo/elements/elements.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/quote.hpp"

namespace talvo {
namespace {

constexpr int kMaxMassNumber = 300;
constexpr int kMaxCharge = 99;
constexpr int kMaxDepth = 64;  // groups in groups: enough for any real formula, and no stack exhaustion
// The range of an atom's count in one formula unit, products of groups'
// counts included: far beyond any real formula, and far enough from the
// range of numbers that sums and fractions of the counts stay in it.
constexpr double kSmallestCount = 1e-100, kLargestCount = 1e100;

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A step of the parser: done, or the error that stops it.
using Step = Outcome;

// A flat list of (symbol, mass number, count, charge) terms, merged into elements at the end.
struct Term {
  std::string symbol;
  int a;
  double count;
  int charge = 0;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Step parse(std::vector<Term>& terms) {
    skip_blanks();
    if (pos_ == text_.size()) return make_error(ErrorKind::kParseError, "empty formula");
    for (;;) {
      // Each part of a sum may begin with its multiplier: the 5 of +5H2O.
      double multiplier = 1.0;
      const std::size_t at = pos_;
      if (pos_ < text_.size() && (is_digit(text_[pos_]) || text_[pos_] == '.')) {
        if (Step s = number(multiplier); !s.ok()) return s;
      }
      std::vector<Term> part;
      if (Step s = sequence(part, 0); !s.ok()) return s;
      if (part.empty()) return syntax("an element or \"(\" expected");
      if (Step s = scale(part, multiplier, at); !s.ok()) return s;
      terms.insert(terms.end(), part.begin(), part.end());
      skip_blanks();
      if (pos_ == text_.size()) return Done{};
      if (text_[pos_] != '+') return syntax(text_[pos_] == ')' ? "\")\" without \"(\"" : "unexpected character");
      ++pos_;
      skip_blanks();
    }
  }

 private:
  Step sequence(std::vector<Term>& terms, int depth) {
    for (;;) {
      skip_blanks();
      if (pos_ == text_.size()) return Done{};
      const char c = text_[pos_];
      if (c == '(') {
        if (depth >= kMaxDepth) return syntax("groups nested too deeply");
        const std::size_t open = pos_++;
        std::vector<Term> group;
        if (Step s = sequence(group, depth + 1); !s.ok()) return s;
        skip_blanks();
        if (pos_ == text_.size() || text_[pos_] != ')') return error_at(ErrorKind::kParseError, "missing \")\"", open);
        if (group.empty()) return error_at(ErrorKind::kParseError, "empty group", open);
        ++pos_;
        const std::size_t at = pos_;
        double count = 1.0;
        if (Step s = optional_count(count); !s.ok()) return s;
        if (Step s = scale(group, count, at); !s.ok()) return s;
        terms.insert(terms.end(), group.begin(), group.end());
      } else if (is_upper(c)) {
        Term t;
        if (Step s = element(t); !s.ok()) return s;
        if (Step s = optional_count(t.count); !s.ok()) return s;
        terms.push_back(std::move(t));
      } else {
        return Done{};  // the caller decides what may follow
      }
    }
  }

  Step element(Term& t) {
    const std::size_t start = pos_;
    ++pos_;
    while (pos_ < text_.size() && is_lower(text_[pos_])) ++pos_;
    std::string symbol(text_.substr(start, pos_ - start));
    int a = 0;
    if (symbol == "D" || symbol == "T") {
      a = symbol == "D" ? 2 : 3;
      symbol = "H";
    } else if (symbol.size() > 2 || !find_element(symbol) || symbol == "D") {
      return error_at(ErrorKind::kNotFound, "unknown element " + quote_for_message(symbol), start);
    }
    if (pos_ < text_.size() && text_[pos_] == '[') {
      if (a != 0) return syntax("D and T are isotopes already");
      const std::size_t open = pos_++;
      const std::size_t first = pos_;
      while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
      if (pos_ == first || pos_ == text_.size() || text_[pos_] != ']')
        return error_at(ErrorKind::kParseError, "a mass number in \"[ ]\" expected", open);
      const auto [end, ec] = std::from_chars(text_.data() + first, text_.data() + pos_, a);
      if (ec != std::errc() || a < 1 || a > kMaxMassNumber)
        return error_at(ErrorKind::kOutOfRange, "mass number out of range", first);
      ++pos_;
    }
    int charge = 0;
    if (pos_ < text_.size() && text_[pos_] == '{') {
      const std::size_t open = pos_;
      if (Step s = ion_charge(charge); !s.ok()) return s;
      // An atom has Z electrons to lose, no more.
      const Result<ElementEntry> e = element_named(symbol);
      if (e.ok() && charge > e->z)
        return error_at(ErrorKind::kOutOfRange,
                        "an ion of " + symbol + " (Z = " + std::to_string(e->z) + ") has a charge of at most " +
                            std::to_string(e->z) + "+, not " + std::to_string(charge) + "+",
                        open);
    }
    t = Term{symbol, a, 1.0, charge};
    return Done{};
  }

  // "{3+}", "{2-}", "{+}": the charge as periodictable writes it.
  Step ion_charge(int& charge) {
    const std::size_t open = pos_++;
    const std::size_t first = pos_;
    while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
    int size = 1;
    if (pos_ > first) {
      const auto [end, ec] = std::from_chars(text_.data() + first, text_.data() + pos_, size);
      if (ec != std::errc() || size < 1 || size > kMaxCharge)
        return error_at(ErrorKind::kOutOfRange, "charge out of range", first);
    }
    if (pos_ + 1 >= text_.size() || (text_[pos_] != '+' && text_[pos_] != '-') || text_[pos_ + 1] != '}')
      return error_at(ErrorKind::kParseError, "a charge such as {2+} or {-} expected", open);
    charge = text_[pos_] == '+' ? size : -size;
    pos_ += 2;
    return Done{};
  }

  // Multiplies the counts of a group or part by the count written at `at`:
  // groups in groups can take a product beyond the range of numbers, either way.
  Step scale(std::vector<Term>& terms, double count, std::size_t at) {
    for (Term& t : terms) {
      t.count *= count;
      if (!(t.count >= kSmallestCount && t.count <= kLargestCount)) {
        char product[32];
        std::snprintf(product, sizeof product, "%.3g", t.count);
        return error_at(ErrorKind::kOutOfRange,
                        "the count of " + t.symbol + " comes to " + product + ", beyond 1e-100 to 1e100", at);
      }
    }
    return Done{};
  }

  Step optional_count(double& count) {
    if (pos_ < text_.size() && (is_digit(text_[pos_]) || text_[pos_] == '.')) return number(count);
    count = 1.0;
    return Done{};
  }

  Step number(double& value) {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
    }
    const std::string_view digits = text_.substr(start, pos_ - start);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec == std::errc::result_out_of_range)
      return error_at(ErrorKind::kOutOfRange,
                      "count " + quote_for_message(digits) + " is out of range (above 0, at most 1e9)", start);
    if (ec != std::errc() || end != digits.data() + digits.size())
      return error_at(ErrorKind::kParseError, quote_for_message(digits) + " is not a number", start);
    if (!(value > 0.0))
      return error_at(ErrorKind::kOutOfRange, "count " + quote_for_message(digits) + " must be above 0", start);
    if (!std::isfinite(value) || value > 1e9)
      return error_at(ErrorKind::kOutOfRange, "count " + quote_for_message(digits) + " is above 1e9", start);
    if (value < kSmallestCount)
      return error_at(ErrorKind::kOutOfRange, "count " + quote_for_message(digits) + " is below 1e-100", start);
    return Done{};
  }

  void skip_blanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }

  Step syntax(const std::string& what) { return error_at(ErrorKind::kParseError, what, pos_); }

  Step error_at(ErrorKind kind, const std::string& what, std::size_t at) const {
    std::string where = "at position " + free_int(static_cast<long long>(at + 1));
    if (at < text_.size()) {
      // The whole character that starts there (é is two bytes), as any text from the input is shown.
      const auto lead = static_cast<unsigned char>(text_[at]);
      const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      std::size_t n = 1;
      while (n < length && at + n < text_.size() && (static_cast<unsigned char>(text_[at + n]) & 0xC0) == 0x80) ++n;
      where = quote_for_message(text_.substr(at, n)) + " " + where;
    }
    return make_error(kind, "formula " + quote_for_message(text_) + ": " + what + " (" + where + ")", at + 1);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

double Formula::atoms() const {
  double n = 0.0;
  for (const FormulaElement& e : elements) n += e.count;
  return n;
}

Result<double> atom_mass(const FormulaElement& element) {
  const std::optional<std::size_t> index = find_element(element.symbol);
  if (!index) return make_error(ErrorKind::kNotFound, "unknown element " + quote_for_message(element.symbol));
  const ElementEntry& entry = element_table()[*index];
  double mass = 0.0, count = 0.0;
  for (const FormulaIsotope& iso : element.isotopes) {
    const std::optional<double> m = iso.a == 0 ? published_weight(entry) : isotope_mass(entry.z, iso.a);
    if (!m)
      return make_error(ErrorKind::kNotFound,
                        "no mass is listed for the isotope " + element.symbol + "[" + std::to_string(iso.a) + "]");
    mass += iso.count * *m;
    count += iso.count;
  }
  return mass / count;
}

Result<Formula> parse_formula(std::string_view text) {
  std::vector<Term> terms;
  Parser parser(text);
  if (Step s = parser.parse(terms); !s.ok()) return s.error();
  Formula f;
  f.text = std::string(text);
  for (const Term& t : terms) {
    FormulaElement* e = nullptr;
    for (FormulaElement& have : f.elements)
      if (have.symbol == t.symbol) e = &have;
    if (!e) {
      f.elements.push_back(FormulaElement{t.symbol, 0.0, {}, {}});
      e = &f.elements.back();
    }
    e->count += t.count;
    FormulaIsotope* iso = nullptr;
    for (FormulaIsotope& have : e->isotopes)
      if (have.a == t.a) iso = &have;
    if (iso)
      iso->count += t.count;
    else
      e->isotopes.push_back(FormulaIsotope{t.a, t.count});
    FormulaCharge* ion = nullptr;
    for (FormulaCharge& have : e->charges)
      if (have.charge == t.charge) ion = &have;
    if (ion)
      ion->count += t.count;
    else
      e->charges.push_back(FormulaCharge{t.charge, t.count});
  }
  // Counts of nested groups multiply: refuse a total that double precision cannot hold.
  if (!std::isfinite(f.atoms()))
    return make_error(ErrorKind::kOutOfRange,
                      "formula " + quote_for_message(text) + ": the counts multiply past the range of double precision");
  return f;
}

}  // namespace talvo
