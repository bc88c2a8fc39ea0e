// density: converting a density between g/cm3 and atoms per cubic Angstrom.
#include <iostream>

#include "talvo/classic/density.hpp"
#include "talvo/text/quote.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

int run_density(const Args& a) {
  if (a.positional.size() < 3 || a.positional.size() % 2 == 0) return usage(a, "give DENSITY and SYMBOL AMOUNT pairs");
  const Result<double> d = number(a.positional[0], "DENSITY");
  if (!d.ok()) return usage(a, d.error());
  std::vector<std::string> symbols;
  std::vector<double> amounts;
  for (std::size_t i = 1; i < a.positional.size(); i += 2) {
    symbols.push_back(a.positional[i]);
    const Result<double> amount = number(a.positional[i + 1], "AMOUNT");
    if (!amount.ok()) return usage(a, amount.error());
    amounts.push_back(*amount);
  }
  double out = 0;
  // density prints the calculator's own conversion, with its single-precision
  // atomic mass unit, as its sample files hold densities:
  // the one classic call here (talvo.convert_density is the material's).
  std::ostream quiet(nullptr);
  const classic::Status s = classic::convert_density(*d, out, symbols, amounts, 0, quiet);
  if (!s.ok()) std::cerr << "talvo-tools density: " << escape_for_message(s.message, s.message.size() + 1) << '\n';
  if (s.failed()) return 1;
  row({out});
  return 0;
}

}  // namespace

const Subcommand kDensityCommand{
    "density",
    run_density,
    {},
    {},
    "g/cm3 <-> atoms per cubic Angstrom",
    "usage: talvo-tools density DENSITY SYMBOL AMOUNT [SYMBOL AMOUNT ...]\n"
    "A positive DENSITY in g/cm3 gives atoms per cubic Angstrom; a negative one, atoms per\n"
    "cubic Angstrom, gives g/cm3. Only the ratios of the amounts matter.\n"};

}  // namespace talvo::cli
