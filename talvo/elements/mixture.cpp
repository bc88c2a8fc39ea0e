#include "talvo/elements/mixture.hpp"

#include <charconv>
#include <cmath>
#include <limits>

#include "talvo/text/format.hpp"
#include "talvo/text/quote.hpp"

namespace talvo {
namespace {

struct DensityEntry {
  const char* symbol;
  double density;
};

constexpr DensityEntry kDensities[] = {
#include "talvo/elements/element_density_table.inc"
};

enum class Amount { kNone, kVolumePercent, kMassPercent, kGrams, kMillilitres };

// A component as typed: its amount, formula text and density.
struct Part {
  MixtureComponent c;
  std::size_t index = 0;  // from 1
  Amount amount = Amount::kNone;
  double value = 0.0;            // percent, g or mL
  bool natural_density = false;  // "@1n"
  std::string_view formula_text;
  std::size_t formula_offset = 0;  // of the formula in the whole text, from 0
  std::string missing_mass;        // an atom without a mass in the caller's table
};

bool is_blank(char ch) { return ch == ' ' || ch == '\t'; }

std::string_view trim(std::string_view s, std::size_t& offset) {
  while (!s.empty() && is_blank(s.front())) {
    s.remove_prefix(1);
    ++offset;
  }
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// A leading decimal number: its value and length, or length 0.
std::size_t leading_number(std::string_view s, double& value) {
  std::size_t n = 0;
  while (n < s.size() && ((s[n] >= '0' && s[n] <= '9') || s[n] == '.')) ++n;
  if (n == 0) return 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + n, value);
  return ec == std::errc() && end == s.data() + n ? n : 0;
}

class MixtureParser {
 public:
  MixtureParser(std::string_view text, const MassOf& mass_of) : text_(text), mass_of_(mass_of) {}

  Result<Mixture> parse() {
    std::vector<Part> parts;
    std::size_t start = 0;
    for (;;) {
      const std::size_t bar = text_.find("//", start);
      const std::size_t end = bar == std::string_view::npos ? text_.size() : bar;
      Part p;
      if (Outcome e = split(text_.substr(start, end - start), start, parts.size() + 1, p); !e.ok()) return e.error();
      parts.push_back(std::move(p));
      if (bar == std::string_view::npos) break;
      start = bar + 2;
    }
    for (Part& p : parts)
      if (Outcome e = read_formula(p); !e.ok()) return e.error();
    if (parts.size() == 1 && parts[0].amount == Amount::kNone) return single(std::move(parts[0]));
    return mix(parts);
  }

 private:
  // Where a component is, for messages.
  std::string where(const Part& p) const {
    return "mixture " + quote_for_message(text_) + ": component " + free_int(static_cast<long long>(index_of(p))) +
           " (" + quote_for_message(p.c.text) + " at position " + free_int(static_cast<long long>(p.c.position)) + ")";
  }
  std::size_t index_of(const Part& p) const { return p.index; }

  // The error of component p, at its first character or, from 1 within
  // its formula, at `in_formula`.
  Error fail(ErrorKind kind, const Part& p, const std::string& what, std::size_t in_formula = 0) const {
    const std::size_t position = in_formula > 0 ? p.formula_offset + in_formula : p.c.position;
    if (parts_count_ == 1 && text_.find("//") == std::string_view::npos)
      return make_error(kind, "formula " + quote_for_message(text_) + ": " + what, position);
    return make_error(kind, where(p) + ": " + what, position);
  }

  // One component's amount, formula and density.
  Outcome split(std::string_view raw, std::size_t offset, std::size_t index, Part& p) {
    std::string_view s = trim(raw, offset);
    p.index = index;
    p.c.text = std::string(s);
    p.c.position = offset + 1;
    parts_count_ = index;
    if (s.empty() && text_.find("//") == std::string_view::npos)
      return make_error(ErrorKind::kParseError, "empty formula");
    if (s.empty()) {
      p.c.text = "";
      return make_error(ErrorKind::kParseError, "mixture " + quote_for_message(text_) + ": component " +
                                                    free_int(static_cast<long long>(index)) + " at position " +
                                                    free_int(static_cast<long long>(offset + 1)) + " is empty",
                        offset + 1);
    }
    // An amount: a number followed by "%vol", "%wt" or a unit and a blank
    // (a number followed by a formula is the formula's own multiplier: 5H2O).
    double value = 0.0;
    if (const std::size_t n = leading_number(s, value); n > 0) {
      std::size_t k = n;
      while (k < s.size() && is_blank(s[k])) ++k;
      const std::string_view rest = s.substr(k);
      static constexpr struct {
        std::string_view word;
        Amount amount;
        double scale;  // to percent, g or mL
        bool needs_blank;
      } kUnits[] = {{"%vol", Amount::kVolumePercent, 1.0, false},
                    {"%wt", Amount::kMassPercent, 1.0, false},
                    {"mg", Amount::kGrams, 1e-3, true},
                    {"kg", Amount::kGrams, 1e3, true},
                    {"g", Amount::kGrams, 1.0, true},
                    {"mL", Amount::kMillilitres, 1.0, true},
                    {"uL", Amount::kMillilitres, 1e-3, true},
                    {"L", Amount::kMillilitres, 1e3, true}};
      for (const auto& u : kUnits) {
        if (rest.substr(0, u.word.size()) != u.word) continue;
        const std::size_t after = k + u.word.size();
        if (u.needs_blank && (after >= s.size() || !is_blank(s[after]))) continue;
        if (!(value > 0.0) || !std::isfinite(value * u.scale))
          return fail(ErrorKind::kInvalidArgument, p, "the amount must be above 0");
        p.amount = u.amount;
        p.value = value * u.scale;
        offset += after;
        s = trim(s.substr(after), offset);
        break;
      }
    }
    // A density: "@" and a number, "n" for the natural-isotope compound's.
    if (const std::size_t at = s.rfind('@'); at != std::string_view::npos) {
      std::string_view d = s.substr(at + 1);
      if (!d.empty() && d.back() == 'n') {
        p.natural_density = true;
        d.remove_suffix(1);
      }
      double rho = 0.0;
      if (d.empty() || leading_number(d, rho) != d.size())
        return fail(ErrorKind::kParseError, p,
                    quote_for_message(s.substr(at)) + " is no density (write @1.1 or @1.1n)");
      if (!(rho > 0.0) || !std::isfinite(rho))
        return fail(ErrorKind::kInvalidArgument, p, "the density must be above 0 g/cm3");
      p.c.density = rho;
      density_typed_ = true;
      std::size_t unused = 0;
      s = trim(s.substr(0, at), unused);
    }
    p.formula_text = s;
    p.formula_offset = offset;
    return Done{};
  }

  // The mass of a formula in amu; nothing, with the isotope's name in
  // `missing`, when the caller's table has no mass for one of its atoms.
  std::optional<double> formula_mass(const Formula& f, bool natural, std::string& missing) const {
    double m = 0.0;
    for (const FormulaElement& e : f.elements)
      for (const FormulaIsotope& iso : e.isotopes) {
        const int a = natural ? 0 : iso.a;
        const std::optional<double> one = mass_of_(e.symbol, a);
        if (!one) {
          missing = a == 0 ? "element " + e.symbol : "isotope " + free_int(a) + e.symbol;
          return std::nullopt;
        }
        m += iso.count * *one;
      }
    return m;
  }

  // The component's mass, needed for mixing and for "@...n".
  Outcome need_mass(const Part& p) const {
    if (!p.missing_mass.empty())
      return fail(ErrorKind::kNotFound, p, "the atomic mass of " + p.missing_mass + " is not known");
    return Done{};
  }

  Outcome read_formula(Part& p) {
    if (p.formula_text.empty()) return fail(ErrorKind::kParseError, p, "a formula expected");
    Result<Formula> f = parse_formula(p.formula_text);
    if (!f.ok()) {
      if (parts_count_ == 1 && p.formula_text.size() == text_.size()) return f.error();
      return fail(f.kind(), p, f.error().message, f.error().position);
    }
    p.c.formula = std::move(*f);
    // The masses where they are needed: mixing, "@...n", an element's density.
    const bool mixing = parts_count_ > 1 || p.amount != Amount::kNone;
    if (!mixing && !p.natural_density && (p.c.density || p.c.formula.elements.size() != 1)) return Done{};
    const std::optional<double> mass = formula_mass(p.c.formula, false, p.missing_mass);
    std::string unused;
    const std::optional<double> natural = formula_mass(p.c.formula, true, unused);
    if (mass && !std::isfinite(*mass)) return fail(ErrorKind::kOutOfRange, p, "the mass of the formula is not finite");
    p.c.mass = mass.value_or(std::numeric_limits<double>::quiet_NaN());
    const double ratio = mass && natural && *natural > 0.0 ? *mass / *natural : 1.0;
    if (p.natural_density) {
      if (Outcome e = need_mass(p); !e.ok()) return e;
      p.c.density = *p.c.density * ratio;
      if (!std::isfinite(*p.c.density)) return fail(ErrorKind::kOutOfRange, p, "the density is not finite");
    } else if (!p.c.density && p.c.formula.elements.size() == 1 && mass) {
      if (const std::optional<double> rho = element_density(p.c.formula.elements[0].symbol)) {
        p.c.density = *rho * ratio;
        notes_.push_back("density of " + p.c.text + ": " + significant(*p.c.density) +
                         " g/cm3 from the element table (CRC Handbook, 80th ed.)" +
                         (ratio != 1.0 ? ", scaled by the isotopes' mass" : ""));
      }
    }
    return Done{};
  }

  Result<Mixture> single(Part p) {
    Mixture m;
    m.formula = p.c.formula;
    m.formula.text = std::string(text_);
    m.density = p.c.density;
    p.c.units = 1.0;
    m.components.push_back(std::move(p.c));
    m.notes = std::move(notes_);
    m.density_typed = density_typed_;
    return m;
  }

  Result<Mixture> mix(std::vector<Part>& parts) {
    const Amount first = parts[0].amount;
    const bool percent = first == Amount::kVolumePercent || first == Amount::kMassPercent;
    const bool absolute = first == Amount::kGrams || first == Amount::kMillilitres;
    double total_percent = 0.0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      Part& p = parts[i];
      const bool last = i + 1 == parts.size();
      if (percent) {
        if (p.amount == Amount::kNone && last) continue;
        if (p.amount != first)
          return fail(ErrorKind::kInvalidArgument, p,
                      std::string("every component but the last needs its fraction in ") +
                          (first == Amount::kVolumePercent ? "%vol" : "%wt"));
        total_percent += p.value;
      } else if (absolute) {
        if (p.amount != Amount::kGrams && p.amount != Amount::kMillilitres)
          return fail(ErrorKind::kInvalidArgument, p, "give an amount (g or mL) for every component, or for none");
      } else if (p.amount != Amount::kNone) {
        return fail(ErrorKind::kInvalidArgument, p, "give an amount for every component, or for none");
      }
    }
    if (percent) {
      Part& last = parts.back();
      if (total_percent > 100.0 * (1.0 + 1e-12))
        return fail(ErrorKind::kInvalidArgument, last,
                    "the fractions add up to " + shortest(total_percent) + " %, more than 100 %");
      if (last.amount == Amount::kNone) {
        if (!(100.0 - total_percent > 1e-9))
          return fail(ErrorKind::kInvalidArgument, last, "the fractions before it leave nothing for it");
        last.amount = first;
        last.value = 100.0 - total_percent;
      } else if (std::fabs(total_percent - 100.0) > 1e-9) {
        return fail(ErrorKind::kInvalidArgument, last,
                    "the fractions add up to " + shortest(total_percent) + " %, not 100 %");
      }
    }
    // Mass and volume of each component (g and cm3, or relative), then its formula units.
    double total_mass = 0.0, total_volume = 0.0, total_units = 0.0;
    bool volume_known = true;
    std::vector<double> units(parts.size());
    for (std::size_t i = 0; i < parts.size(); ++i) {
      Part& p = parts[i];
      if (Outcome e = need_mass(p); !e.ok()) return e.error();
      const bool by_volume = p.amount == Amount::kVolumePercent || p.amount == Amount::kMillilitres;
      if (by_volume && !p.c.density)
        return fail(ErrorKind::kInvalidArgument, p,
                    std::string("a fraction by volume needs the component's density (write ") + p.c.text + "@DENSITY)");
      double mass = 0.0, volume = 0.0;
      if (by_volume) {
        volume = p.value;
        mass = volume * *p.c.density;
      } else {
        mass = p.amount == Amount::kNone ? p.c.mass : p.value;
        if (p.c.density)
          volume = mass / *p.c.density;
        else
          volume_known = false;
      }
      units[i] = mass / p.c.mass;
      total_mass += mass;
      total_volume += volume;
      total_units += units[i];
    }
    if (!std::isfinite(total_mass) || !std::isfinite(total_volume) || !(total_units > 0.0) ||
        !std::isfinite(total_units))
      return make_error(ErrorKind::kOutOfRange,
                        "mixture " + quote_for_message(text_) + ": its total mass or volume is not finite");
    Mixture m;
    m.formula.text = std::string(text_);
    for (std::size_t i = 0; i < parts.size(); ++i) {
      MixtureComponent& c = parts[i].c;
      c.units = units[i] / total_units;
      for (const FormulaElement& e : c.formula.elements) {
        FormulaElement* have = nullptr;
        for (FormulaElement& h : m.formula.elements)
          if (h.symbol == e.symbol) have = &h;
        if (!have) have = &m.formula.elements.emplace_back(FormulaElement{e.symbol, 0.0, {}, {}});
        have->count += e.count * c.units;
        for (const FormulaIsotope& iso : e.isotopes) {
          FormulaIsotope* hi = nullptr;
          for (FormulaIsotope& h : have->isotopes)
            if (h.a == iso.a) hi = &h;
          if (!hi) hi = &have->isotopes.emplace_back(FormulaIsotope{iso.a, 0.0});
          hi->count += iso.count * c.units;
        }
        // Each charge's share too, for the X-ray averages of a mixture of ionic compounds.
        for (const FormulaCharge& ion : e.charges) {
          FormulaCharge* hc = nullptr;
          for (FormulaCharge& h : have->charges)
            if (h.charge == ion.charge) hc = &h;
          if (!hc) hc = &have->charges.emplace_back(FormulaCharge{ion.charge, 0.0});
          hc->count += ion.count * c.units;
        }
      }
      m.components.push_back(std::move(c));
    }
    if (volume_known && total_volume > 0.0) m.density = total_mass / total_volume;
    m.notes = std::move(notes_);
    m.density_typed = density_typed_;
    return m;
  }

  std::string_view text_;
  const MassOf& mass_of_;
  std::size_t parts_count_ = 0;
  std::vector<std::string> notes_;
  bool density_typed_ = false;
};

}  // namespace

std::optional<double> element_density(std::string_view symbol) {
  for (const DensityEntry& d : kDensities)
    if (symbol == d.symbol) return d.density;
  return std::nullopt;
}

Result<Mixture> parse_mixture(std::string_view text, const MassOf& mass_of) {
  return MixtureParser(text, mass_of).parse();
}

}  // namespace talvo
