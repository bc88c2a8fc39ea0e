#include "app/composition_dialogue.hpp"

#include <cmath>

#include "app/run_end.hpp"
#include "talvo/neutron/averages.hpp"
#include "talvo/neutron/fields.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

constexpr float kFractionTolerance = 0.00101f;

int ask_element_count(Console& con) {
  for (;;) {
    prompt(con, " How many elements in the sample? ");
    int n = 0;
    if (!read_free(read_reply(con), {&n}) || n < 1) continue;
    if (n > kMaxElements) {
      line(con, " Program can only cope with" + fmt_i(kMaxElements, 3) + " elements!");
      continue;
    }
    return n;
  }
}

std::string element_prompt(int i) { return " Element" + fmt_i(i, 2) + " > "; }

Element ask_natural_element(Console& con, int i) {
  for (;;) {
    prompt(con, element_prompt(i));
    const std::string text = fixed(read_reply(con), kLineLength);
    const WordPositions words = count_word(text);
    if (words.count != 2) continue;
    const SymbolAt sym = getnam(text);
    if (sym.position < 0) continue;
    float x = -1.0f;
    if (!strip_real(text, words.ipos[1] - 1, static_cast<int>(kLineLength), x) || !(x >= kSmall)) continue;
    return Element{sym.symbol, x, {Isotope{0, 1.0f}}};
  }
}

Element ask_isotope_element(Console& con, int i) {
  for (;;) {
    prompt(con, element_prompt(i));
    const std::string text = fixed(read_reply(con), kLineLength);
    const SymbolAt sym = getnam(text);
    if (sym.position < 0) continue;
    int n = 0;
    float x = -1.0f;
    const std::string rest = text.substr(static_cast<std::size_t>(std::min<int>(sym.position - 1, kLineLength)));
    if (!read_free(rest, {&n, &x}) || n <= 0 || !(x >= kSmall)) continue;
    if (n > kMaxIsotopes) {
      line(con, " The maximum allowed number of isotopes is" + fmt_i(kMaxIsotopes, 3));
      throw RunEnd(kFailureStatus);
    }
    return Element{sym.symbol, x, std::vector<Isotope>(static_cast<std::size_t>(n))};
  }
}

void ask_isotopes(Console& con, Element& element, int i) {
  for (;;) {
    float sum = 0.0f;
    for (std::size_t j = 0; j < element.isotopes.size(); ++j) {
      Isotope& iso = element.isotopes[j];
      for (;;) {
        prompt(con, " Element" + fmt_i(i, 2) + " (" + fixed(element.symbol, 2) + "), isotope" +
                        fmt_i(static_cast<long long>(j + 1), 2) + " > ");
        int a = 0;
        float y = 0.0f;
        if (read_free(read_reply(con), {&a, &y})) {
          iso = Isotope{a, y};
          sum += y;
          break;
        }
      }
    }
    if (std::fabs(sum - 1.0f) > kFractionTolerance) {
      line(con, " Composition of element must add to ONE");
      continue;
    }
    line(con, "");
    return;
  }
}

float ask_density(Console& con) {
  for (;;) {
    line(con, " Give density in gcm**-3, 0 if not known or");
    prompt(con, " a negative value if in atoms per cubic Angstrom > ");
    float d = 0.0f;
    if (read_free(read_reply(con), {&d})) return d;
  }
}

}  // namespace

Composition enter_composition(Console& con, SampleKind kind) {
  Composition c;
  c.kind = kind;
  const int n = ask_element_count(con);
  line(con, "");
  if (kind == SampleKind::kNaturalElements) {
    line(con, " For each element in turn give chemical symbol and x where");
    line(con, " x = number of atoms of element in one scattering unit");
    line(con, " (x need not be an integer)");
    line(con, "");
    for (int i = 1; i <= n; ++i) c.elements.push_back(ask_natural_element(con, i));
    line(con, "");
  } else {
    line(con, " For each element in turn give chemical symbol, number of isotopes and x where");
    line(con, " x=number of atoms of element in one scattering unit (x need not be an integer).");
    line(con, " A natural element should be counted as one isotope.");
    line(con, "  eg Li 1 0.5");
    line(con, "");
    for (int i = 1; i <= n; ++i) c.elements.push_back(ask_isotope_element(con, i));
    line(con, "");
    line(con, " For each isotope give mass number A and y where y=fraction of the");
    line(con, " element which is this isotope. Give A=0 for a natural element.");
    for (int i = 1; i <= n; ++i) ask_isotopes(con, c.elements[static_cast<std::size_t>(i - 1)], i);
  }
  c.density = ask_density(con);
  return c;
}

}  // namespace talvo
