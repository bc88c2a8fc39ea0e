// foq and element: X-ray form factors and the element table.
#include <iostream>

#include "talvo/elements/elements.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xray/formfactor.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

int run_foq(const Args& a) {
  const bool by_z = a.get("--z").has_value();
  if (a.positional.size() != (by_z ? 0u : 1u)) throw UsageError{"give one SYMBOL or --z Z"};
  const std::string table = a.get("--table").value_or("wk");
  const std::string source = a.get("--source").value_or("builtin");
  if (table != "wk" && table != "it") throw UsageError{"--table is wk or it"};
  if (source != "builtin" && source != "file") throw UsageError{"--source is builtin or file"};
  const std::vector<double> q = a.get("--q") ? grid(*a.get("--q")) : read_columns(1)[0];
  std::vector<double> fq(q.size());
  FormFactorParams p;
  const FoqMode mode = table == "wk" ? FoqMode::kWaasmaierKirfel : FoqMode::kInternationalTables;
  const DataMode data = source == "builtin" ? DataMode::kTablesInProgram : DataMode::kDataFile;
  const DataFolder folder = tools_data_folder();
  Status s;
  if (by_z) {
    std::string symbol;
    double weight = 0;
    s = zfoq(fq, q, p, weight, symbol, integer(*a.get("--z"), "Z"), mode, data, 0, std::cout, folder);
  } else {
    s = foq(fq, q, p, a.positional[0], mode, data, 0, std::cout, folder);
  }
  if (!report(s)) return 1;
  for (std::size_t i = 0; i < q.size(); ++i) row({q[i], fq[i]});
  return 0;
}

int run_element(const Args& a) {
  std::string symbol;
  int z = 0;
  double weight = 0;
  Status s;
  if (a.get("--z")) {
    if (!a.positional.empty()) throw UsageError{"give SYMBOL or --z Z"};
    z = integer(*a.get("--z"), "Z");
    s = z2ele(symbol, z, weight, 0, std::cout);
  } else {
    if (a.positional.size() != 1) throw UsageError{"give one SYMBOL"};
    symbol = a.positional[0];
    s = ele2z(symbol, z, weight, 0, std::cout);
    if (s.ok()) symbol = element_table()[static_cast<std::size_t>(find_element(symbol))].symbol;
  }
  if (!report(s)) return 1;
  std::cout << trim_end(symbol) << ' ' << z << ' ' << num(weight) << '\n';
  return 0;
}

}  // namespace

const Subcommand kFoqCommand{
    "foq", run_foq, {}, "X-ray form factor f(Q) of a neutral atom",
    "usage: talvo-tools foq SYMBOL [--table wk|it] [--source builtin|file] [--q FROM:TO:STEP]\n"
    "       talvo-tools foq --z Z [same options]\n"
    "Prints \"Q f(Q)\" rows; without --q the Q values are the first column of standard input.\n"
    "Defaults: --table wk (Waasmaier-Kirfel), --source builtin (tables in the program).\n"};

const Subcommand kElementCommand{"element", run_element, {}, "symbol, atomic number and mean atomic weight",
                                 "usage: talvo-tools element SYMBOL | --z Z\nPrints \"symbol Z weight\".\n"};

}  // namespace talvo::cli
