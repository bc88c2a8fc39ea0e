// foq, element and xray-average: X-ray form factors, the element table and
// the X-ray averages of a sample. Values computed in single precision print
// as the shortest text of their single-precision value, double-precision
// ones as the shortest text of the double.
#include <iostream>

#include "talvo/elements/elements.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xray/formfactor.hpp"
#include "talvo/xray/xray_average.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

std::vector<double> q_values(const Args& a) { return a.get("--q") ? grid(*a.get("--q")) : read_columns(1)[0]; }

FormFactorTable table_of(const Args& a) {
  const std::optional<FormFactorTable> table = form_factor_table_named(a.get("--table").value_or("wk"));
  if (!table) throw UsageError{"--table is wk or it"};
  return *table;
}

// The lookup's "element not found" errors say which routine failed; the
// command line says which element it lacks.
std::string foq_message(const Status& s, const std::string& symbol, FormFactorTable table, bool from_file) {
  if (s.ierr == 6 && !from_file)
    return "no " + std::string(form_factor_table_title(table)) + " form factor for element " + symbol;
  if (s.ierr == 3 && from_file) return "no form factor for element " + symbol + " in " + form_factor_table_file(table);
  if (s.ierr == 2) return "no element symbol in \"" + symbol + "\"";
  return s.message;
}

int run_foq(const Args& a) {
  const bool by_z = a.get("--z").has_value();
  if (a.positional.size() != (by_z ? 0u : 1u)) throw UsageError{"give one SYMBOL or --z Z"};
  const FormFactorTable table = table_of(a);
  const std::string source = a.get("--source").value_or("builtin");
  if (source != "builtin" && source != "file") throw UsageError{"--source is builtin or file"};
  const std::vector<double> q = q_values(a);
  std::vector<double> fq(q.size());
  FormFactorParams p;
  const FoqMode mode =
      table == FormFactorTable::kWaasmaierKirfel ? FoqMode::kWaasmaierKirfel : FoqMode::kInternationalTables;
  const DataMode data = source == "builtin" ? DataMode::kTablesInProgram : DataMode::kDataFile;
  const DataFolder folder = tools_data_folder();
  Status s;
  std::string symbol;
  if (by_z) {
    const int z = integer(*a.get("--z"), "Z");
    double weight = 0;
    s = zfoq(fq, q, p, weight, symbol, z, mode, data, 0, std::cout, folder);
    if (s.failed() && symbol.empty()) {
      std::cerr << "talvo-tools foq: no element with Z = " << z << '\n';
      return 1;
    }
    symbol = std::string(trim_end(symbol));
  } else {
    symbol = a.positional[0];
    // The routine reads two characters: "Fex" would be taken for Fe.
    s = symbol.size() > 2 ? Status::error(6, "") : foq(fq, q, p, symbol, mode, data, 0, std::cout, folder);
  }
  if (s.failed()) {
    std::cerr << "talvo-tools foq: " << foq_message(s, symbol, table, data == DataMode::kDataFile) << '\n';
    return 1;
  }
  if (s.warned()) std::cerr << s.message << '\n';
  // The International Tables fit stops well before the routine's own limit.
  if (table == FormFactorTable::kInternationalTables)
    if (auto warning = beyond_fit_warning(table, q)) std::cerr << "talvo-tools foq: " << *warning << '\n';
  std::string out;
  for (std::size_t i = 0; i < q.size(); ++i) {
    append_shortest(out, q[i]);
    out += ' ';
    append_shortest(out, static_cast<float>(fq[i]));
    out += '\n';
  }
  std::cout << out;
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
    if (symbol.size() > 2) {
      std::cerr << "talvo-tools element: unknown element " << symbol << '\n';
      return 1;
    }
    s = ele2z(symbol, z, weight, 0, std::cout);
    if (s.ok()) symbol = element_table()[static_cast<std::size_t>(find_element(symbol))].symbol;
  }
  if (!report(s)) return 1;
  // The table holds the weights in single precision.
  std::cout << trim_end(symbol) << ' ' << z << ' ' << shortest(static_cast<float>(weight)) << '\n';
  return 0;
}

int run_xray_average(const Args& a) {
  if (a.positional.size() != 1) throw UsageError{"give one FORMULA"};
  XrayAverageOptions options;
  options.table = table_of(a);
  if (a.get("--density")) options.density = number(*a.get("--density"), "--density");
  if (a.get("--number-density")) options.number_density = number(*a.get("--number-density"), "--number-density");
  const std::vector<double> q = q_values(a);
  const XrayAverage r = xray_average(a.positional[0], q, options);
  if (r.status.failed()) {
    std::cerr << "talvo-tools xray-average: " << r.status.message << '\n';
    return 1;
  }
  if (r.status.warned()) std::cerr << "talvo-tools xray-average: " << r.status.message << '\n';
  std::string out;
  if (r.t0) {
    out += "# T0 ";
    append_shortest(out, *r.t0);
    out += " electrons^2/A^3 (4 pi <f(0)>^2 n with <f(0)> ";
    append_shortest(out, r.f0_mean);
    out += ", n ";
    append_shortest(out, *r.number_density);
    out += " atoms/A^3)\n";
  }
  out += "# Q <f2> <f>2";
  for (const XrayPartial& w : r.weights) out += " w_" + w.pair;
  out += '\n';
  for (std::size_t k = 0; k < r.q.size(); ++k) {
    append_shortest(out, r.q[k]);
    for (double v : {r.f2[k], r.f_mean_sq[k]}) {
      out += ' ';
      append_shortest(out, v);
    }
    for (const XrayPartial& w : r.weights) {
      out += ' ';
      append_shortest(out, w.weight[k]);
    }
    out += '\n';
    // Out a piece at a time: the whole text can be many times the result's size.
    if (out.size() >= (1u << 16)) {
      std::cout << out;
      out.clear();
    }
  }
  std::cout << out;
  return 0;
}

}  // namespace

const Subcommand kFoqCommand{
    "foq",
    run_foq,
    {},
    {"--q", "--source", "--table", "--z"},
    "X-ray form factor f(Q) of a neutral atom",
    "usage: talvo-tools foq SYMBOL [--table wk|it] [--source builtin|file] [--q FROM:TO:STEP]\n"
    "       talvo-tools foq --z Z [same options]\n"
    "Prints \"Q f(Q)\" rows, f in single precision; without --q the Q values are the first column of standard "
    "input.\n"
    "Defaults: --table wk (Waasmaier-Kirfel), --source builtin (tables in the program).\n"
    "Warns beyond Q = 24 pi (wk and it), and for it beyond Q = 8 pi, where its fit ends.\n"};

const Subcommand kElementCommand{"element",
                                 run_element,
                                 {},
                                 {"--z"},
                                 "symbol, atomic number and mean atomic weight",
                                 "usage: talvo-tools element SYMBOL | --z Z\nPrints \"symbol Z weight\".\n"};

const Subcommand kXrayAverageCommand{
    "xray-average",
    run_xray_average,
    {},
    {"--q", "--table", "--density", "--number-density"},
    "X-ray <f^2>, <f>^2, Faber-Ziman weights and T0 of a formula",
    "usage: talvo-tools xray-average FORMULA [--q FROM:TO:STEP] [--table wk|it] [--density G | --number-density N]\n"
    "Prints a comment line naming the columns, then \"Q <f2> <f>2 w...\" rows in double precision, the weights\n"
    "w_11, w_22, ..., then w_12, w_13, ... in the order of the formula; without --q the Q values are the first\n"
    "column of standard input. With a density (g/cm3) or number density (atoms/A^3), first a comment line with\n"
    "T0 = 4 pi <f(0)>^2 n in electrons^2 per cubic Angstrom. Default --table wk.\n"};

}  // namespace talvo::cli
