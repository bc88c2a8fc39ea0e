#include "app/composition_dialogue.hpp"

#include <cmath>

#include "app/run_end.hpp"
#include "talvo/classic/averages.hpp"
#include "talvo/classic/fields.hpp"
#include "talvo/classic/words.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"

namespace talvo {

// The dialogue is built on the classic routines: the report, its averages, the sample files.
using namespace classic;

namespace {

constexpr float kFractionTolerance = 0.00101f;

// Says why a reply is asked again.
void why(Console& con, const std::string& reason) { line(con, " " + reason); }

// The first word of a reply, for naming it in a reason.
std::string first_word(std::string_view text) {
  const classic::WordPositions w = classic::count_word(text);
  return w.count == 0 ? std::string() : std::string(trim_end(classic::word_text(text, w, 1)));
}

std::string word(std::string_view text, int k) {
  const classic::WordPositions w = classic::count_word(text);
  std::string_view t = trim_end(classic::word_text(text, w, k));
  while (!t.empty() && t.back() == ',') t.remove_suffix(1);
  return std::string(t);
}

// Keeps the number of atoms N a single-precision number: 3e38 + 3e38 is not one.
class AtomCount {
 public:
  bool can_add(float x) const { return std::isfinite(n_ + x); }
  void add(float x) { n_ += x; }

 private:
  float n_ = 0.0f;
};

const std::string kTooMany = "x is too large: the atoms of one scattering unit must add to less than 3.4E+38";

bool holds_element(const NuclearTable& table, std::string_view symbol) {
  for (const NuclearEntry& e : table.entries)
    if (same_symbol(e.symbol, symbol)) return true;
  return false;
}

Result<int> ask_element_count(Console& con) {
  for (;;) {
    prompt(con, " How many elements in the sample? ");
    const Result<std::string> got = read_reply(con);
    if (!got.ok()) return got.error();
    const std::string& reply = *got;
    int n = 0;
    if (!read_free(reply, {&n})) {
      why(con, "Not a whole number: " + first_word(reply));
      continue;
    }
    if (n < 1) {
      why(con, "The sample needs at least one element");
      continue;
    }
    if (n > kMaxElements) {
      line(con, " Program can only cope with" + fmt_i(kMaxElements, 3) + " elements!");
      continue;
    }
    return n;
  }
}

std::string element_prompt(int i) { return " Element" + fmt_i(i, 2) + " > "; }

Result<Element> ask_natural_element(Console& con, int i, const NuclearTable& table, AtomCount& atoms) {
  for (;;) {
    prompt(con, element_prompt(i));
    const Result<std::string> reply = read_reply(con);
    if (!reply.ok()) return reply.error();
    const std::string text = fixed(*reply, kLineLength);
    const classic::WordPositions words = classic::count_word(text);
    if (words.count != 2) {
      why(con, "Give the chemical symbol and x, as in: Fe 2");
      continue;
    }
    const SymbolAt sym = getnam(text);
    if (sym.position < 0) {
      why(con, "Not an element symbol: " + word(text, 1));
      continue;
    }
    float x = -1.0f;
    if (!strip_real(text, words.ipos[1] - 1, static_cast<int>(kLineLength), x)) {
      why(con, "x is not a number: " + word(text, 2));
      continue;
    }
    if (!(x >= kSmall)) {
      why(con, "x must be at least 1.0E-06");
      continue;
    }
    if (!atoms.can_add(x)) {
      why(con, kTooMany);
      continue;
    }
    if (!find_entry(table, sym.symbol, 0)) {
      why(con, not_in_table(table, sym.symbol, 0));
      continue;
    }
    atoms.add(x);
    return Element{sym.symbol, x, {Isotope{0, 1.0}}};
  }
}

Result<Element> ask_isotope_element(Console& con, int i, const NuclearTable& table, AtomCount& atoms) {
  for (;;) {
    prompt(con, element_prompt(i));
    const Result<std::string> reply = read_reply(con);
    if (!reply.ok()) return reply.error();
    const std::string text = fixed(*reply, kLineLength);
    const SymbolAt sym = getnam(text);
    if (sym.position < 0) {
      why(con, "Not an element symbol: " + word(text, 1));
      continue;
    }
    int n = 0;
    float x = -1.0f;
    const std::string rest = text.substr(static_cast<std::size_t>(std::min<int>(sym.position - 1, kLineLength)));
    if (!read_free(rest, {&n, &x})) {
      why(con, "Give the chemical symbol, the number of isotopes and x, as in: Li 1 0.5");
      continue;
    }
    if (n <= 0) {
      why(con, "The number of isotopes must be at least 1");
      continue;
    }
    if (!(x >= kSmall)) {
      why(con, "x must be at least 1.0E-06");
      continue;
    }
    if (n > kMaxIsotopes) {
      line(con, " The maximum allowed number of isotopes is" + fmt_i(kMaxIsotopes, 3));
      return run_end();
    }
    if (!atoms.can_add(x)) {
      why(con, kTooMany);
      continue;
    }
    if (!holds_element(table, sym.symbol)) {
      why(con, not_in_table(table, sym.symbol, 0));
      continue;
    }
    atoms.add(x);
    return Element{sym.symbol, x, std::vector<Isotope>(static_cast<std::size_t>(n))};
  }
}

Outcome ask_isotopes(Console& con, Element& element, int i, const NuclearTable& table) {
  for (;;) {
    float sum = 0.0f;
    for (std::size_t j = 0; j < element.isotopes.size(); ++j) {
      Isotope& iso = element.isotopes[j];
      for (;;) {
        prompt(con, " Element" + fmt_i(i, 2) + " (" + fixed(element.symbol, 2) + "), isotope" +
                        fmt_i(static_cast<long long>(j + 1), 2) + " > ");
        int a = 0;
        float y = 0.0f;
        const Result<std::string> reply = read_reply(con);
        if (!reply.ok()) return reply.error();
        if (!read_free(*reply, {&a, &y})) {
          why(con, "Give the mass number A and the fraction y, as in: 7 0.925");
          continue;
        }
        if (!(y >= 0.0f)) {
          why(con, "y must not be negative");
          continue;
        }
        if (!find_entry(table, element.symbol, a)) {
          why(con, not_in_table(table, element.symbol, a));
          continue;
        }
        iso = Isotope{a, y};
        sum += y;
        break;
      }
    }
    if (std::fabs(sum - 1.0f) > kFractionTolerance) {
      line(con, " Composition of element must add to ONE");
      continue;
    }
    line(con, "");
    return Done{};
  }
}

Result<float> ask_density(Console& con) {
  for (;;) {
    line(con, " Give density in gcm**-3, 0 if not known or");
    prompt(con, " a negative value if in atoms per cubic Angstrom > ");
    const Result<std::string> got = read_reply(con);
    if (!got.ok()) return got.error();
    const std::string& reply = *got;
    float d = 0.0f;
    if (read_free(reply, {&d})) return d;
    why(con, "The density is not a number: " + first_word(reply));
  }
}

}  // namespace

Result<Composition> enter_composition(Console& con, SampleKind kind, const NuclearTable& table) {
  Composition c;
  c.kind = kind;
  const Result<int> count = ask_element_count(con);
  if (!count.ok()) return count.error();
  const int n = *count;
  AtomCount atoms;
  line(con, "");
  if (kind == SampleKind::kNaturalElements) {
    line(con, " For each element in turn give chemical symbol and x where");
    line(con, " x = number of atoms of element in one scattering unit");
    line(con, " (x need not be an integer)");
    line(con, "");
    for (int i = 1; i <= n; ++i) {
      Result<Element> e = ask_natural_element(con, i, table, atoms);
      if (!e.ok()) return e.error();
      c.elements.push_back(std::move(*e));
    }
    line(con, "");
  } else {
    line(con, " For each element in turn give chemical symbol, number of isotopes and x where");
    line(con, " x=number of atoms of element in one scattering unit (x need not be an integer).");
    line(con, " A natural element should be counted as one isotope.");
    line(con, "  eg Li 1 0.5");
    line(con, "");
    for (int i = 1; i <= n; ++i) {
      Result<Element> e = ask_isotope_element(con, i, table, atoms);
      if (!e.ok()) return e.error();
      c.elements.push_back(std::move(*e));
    }
    line(con, "");
    line(con, " For each isotope give mass number A and y where y=fraction of the");
    line(con, " element which is this isotope. Give A=0 for a natural element.");
    for (int i = 1; i <= n; ++i)
      if (Outcome asked = ask_isotopes(con, c.elements[static_cast<std::size_t>(i - 1)], i, table); !asked.ok())
        return asked.error();
  }
  const Result<float> density = ask_density(con);
  if (!density.ok()) return density.error();
  c.density = *density;
  return c;
}

}  // namespace talvo
