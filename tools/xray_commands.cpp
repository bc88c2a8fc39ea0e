// foq, element, xray-average, xray and compton: X-ray form factors (atoms
// and ions), the element table, the X-ray averages of a sample, an X-ray
// material at one energy and incoherent scattering. Values computed in single precision print
// as the shortest text of their single-precision value, double-precision
// ones as the shortest text of the double; the material of xray, as xs's, with
// 6 significant digits (--digits N) unless in JSON.
#include <algorithm>
#include <iostream>

#include "talvo/classic/formfactor.hpp"
#include "talvo/elements/elements.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xray/average_fields.hpp"
#include "talvo/xray/compton.hpp"
#include "talvo/xray/dispersion.hpp"
#include "talvo/xray/formfactor.hpp"
#include "talvo/xray/material_fields.hpp"
#include "talvo/xray/xray_average.hpp"
#include "talvo/xray/xray_material.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

// The Q values of --q, else of standard input's first column; the error
// ends the command as wrong usage or unusable input.
Result<std::vector<double>> q_values(const Args& a) {
  if (a.get("--q")) return grid(*a.get("--q"));
  Result<std::vector<std::vector<double>>> read = read_columns(1);
  if (!read.ok()) return read.error();
  return std::move((*read)[0]);
}
int q_failed(const Args& a, const Error& e) { return a.get("--q") ? usage(a, e) : input_error(a, e); }

Result<FormFactorTable> table_of(const Args& a) {
  const std::optional<FormFactorTable> table = form_factor_table_named(a.get("--table").value_or("wk"));
  if (!table) return make_error(ErrorKind::kInvalidArgument, "--table is wk or it");
  return *table;
}

// foq's numbered errors, where the routine names itself, as the command line
// says them: which element it lacks.
std::string foq_message(const classic::Status& s, const std::string& symbol, FormFactorTable table, bool from_file) {
  if (s.ierr == 6 && !from_file)
    return "no " + std::string(form_factor_table_title(table)) + " form factor for element " +
           escape_for_message(symbol);
  if (s.ierr == 3 && from_file)
    return "no form factor for element " + escape_for_message(symbol) + " in " + form_factor_table_file(table);
  if (s.ierr == 2) return "no element symbol in " + quote_for_message(symbol);
  return s.message;
}

// The X-ray source given: --energy E (keV), --wavelength L (Angstrom) or
// --anode NAME; exactly one of them when `required`, at most one otherwise.
// Wrong usage is the error.
struct Source {
  std::optional<double> energy, wavelength;
  std::optional<std::string> anode;
};
Result<Source> source_of(const Args& a, bool required) {
  const int given =
      int(a.get("--energy").has_value()) + int(a.get("--wavelength").has_value()) + int(a.get("--anode").has_value());
  if (given > 1) return make_error(ErrorKind::kInvalidArgument, "give one of --energy, --wavelength and --anode");
  if (given == 0 && required)
    return make_error(ErrorKind::kInvalidArgument, "give --energy E (keV), --wavelength L (Angstrom) or --anode NAME");
  Source s;
  for (const auto& [name, slot] : {std::pair{"--energy", &s.energy}, {"--wavelength", &s.wavelength}}) {
    if (!a.get(name)) continue;
    const Result<double> v = number(*a.get(name), name);
    if (!v.ok()) return v.error();
    *slot = *v;
  }
  s.anode = a.get("--anode");
  return s;
}

// The source's photon energy in keV (nothing when none is given); the
// library's error for a source it cannot use.
Result<std::optional<double>> energy_of(const Source& s) {
  if (!s.energy && !s.wavelength && !s.anode) return std::optional<double>();
  const Result<double> e = s.energy       ? Result<double>(*s.energy)
                           : s.wavelength ? energy_of_wavelength(*s.wavelength)
                                          : anode_energy(*s.anode);
  if (!e.ok()) return e.error();
  return std::optional<double>(*e);
}

// An ion ("Fe3+", "O2-", "Cval"): the double-precision form factor of the
// Waasmaier-Kirfel ion table, printed in single precision as foq prints atoms.
int run_foq_ion(const Args& a, const std::string& symbol) {
  const Result<FormFactorTable> table = table_of(a);
  if (!table.ok()) return usage(a, table.error());
  if (*table != FormFactorTable::kWaasmaierKirfel)
    return usage(a, "ions are in the Waasmaier-Kirfel table only (--table wk)");
  if (a.get("--source").value_or("builtin") != "builtin")
    return usage(a, "the ions' coefficients are held in the program only (--source builtin)");
  const Result<std::vector<double>> qs = q_values(a);
  if (!qs.ok()) return q_failed(a, qs.error());
  const std::vector<double>& q = *qs;
  const Result<std::vector<double>> r = form_factor(symbol, q);
  if (!report("foq", r)) return 1;
  std::string out;
  for (std::size_t i = 0; i < q.size(); ++i) {
    append_shortest(out, q[i]);
    out += ' ';
    append_shortest(out, static_cast<float>((*r)[i]));
    out += '\n';
  }
  std::cout << out;
  return 0;
}

int run_foq(const Args& a) {
  const bool by_z = a.get("--z").has_value();
  if (a.positional.size() != (by_z ? 0u : 1u)) return usage(a, "give one SYMBOL or --z Z");
  if (!by_z && (a.positional[0].size() > 2 || a.positional[0].find_first_of("+-{") != std::string::npos) &&
      (ion_named(a.positional[0]).value_or(IonName{}).charge != 0 || equal_case_blind(a.positional[0], "Cval") ||
       equal_case_blind(a.positional[0], "Siva")))
    return run_foq_ion(a, a.positional[0]);
  const Result<FormFactorTable> chosen = table_of(a);
  if (!chosen.ok()) return usage(a, chosen.error());
  const FormFactorTable table = *chosen;
  const std::string source = a.get("--source").value_or("builtin");
  if (source != "builtin" && source != "file") return usage(a, "--source is builtin or file");
  const Result<std::vector<double>> qs = q_values(a);
  if (!qs.ok()) return q_failed(a, qs.error());
  const std::vector<double>& q = *qs;
  std::vector<double> fq(q.size());
  FormFactorParams p;
  using classic::DataMode, classic::FoqMode;
  const FoqMode mode =
      table == FormFactorTable::kWaasmaierKirfel ? FoqMode::kWaasmaierKirfel : FoqMode::kInternationalTables;
  const DataMode data = source == "builtin" ? DataMode::kTablesInProgram : DataMode::kDataFile;
  std::string symbol;
  if (by_z) {
    const Result<int> z = integer(*a.get("--z"), "Z");
    if (!z.ok()) return usage(a, z.error());
    const Result<ElementEntry> e = element_of_z(*z);
    if (!report("foq", e)) return 1;
    symbol = e->symbol;
  } else {
    symbol = a.positional[0];
  }
  // foq prints the form factors of the calculator's foq, its own
  // single-precision coefficients and sums: the one classic call here. The
  // routine reads two characters: "Fex" would be taken for Fe.
  std::ostream quiet(nullptr);
  const classic::Status s = symbol.size() > 2
                                ? classic::Status::error(6, "")
                                : classic::foq(fq, q, p, symbol, mode, data, 0, quiet, tools_data_folder());
  if (s.failed()) {
    std::cerr << "talvo-tools foq: " << foq_message(s, symbol, table, data == DataMode::kDataFile) << '\n';
    return 1;
  }
  // Q beyond the fitted range of the table (the routine's Error 9 says only
  // that the last Q passes 24 pi, and the International Tables stop at 8 pi).
  if (auto warning = beyond_fit_warning(table, q)) report_messages("foq", {*warning}, nullptr);
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
  Result<ElementEntry> e = make_error(ErrorKind::kNotFound, "");
  if (a.get("--z")) {
    if (!a.positional.empty()) return usage(a, "give SYMBOL or --z Z");
    const Result<int> z = integer(*a.get("--z"), "Z");
    if (!z.ok()) return usage(a, z.error());
    e = element_of_z(*z);
  } else {
    if (a.positional.size() != 1) return usage(a, "give one SYMBOL");
    e = element_named(a.positional[0]);
  }
  if (!report("element", e)) return 1;
  // The table holds the weights in single precision.
  std::cout << e->symbol << ' ' << e->z << ' ' << shortest(e->weight) << '\n';
  return 0;
}

int run_xray_average(const Args& a) {
  if (a.positional.size() != 1) return usage(a, "give one FORMULA");
  XrayAverageOptions options;
  const Result<FormFactorTable> table = table_of(a);
  if (!table.ok()) return usage(a, table.error());
  options.table = *table;
  for (const auto& [name, slot] :
       {std::pair{"--density", &options.density}, {"--number-density", &options.number_density}}) {
    if (!a.get(name)) continue;
    const Result<double> v = number(*a.get(name), name);
    if (!v.ok()) return usage(a, v.error());
    *slot = *v;
  }
  const Result<Source> given = source_of(a, false);
  if (!given.ok()) return usage(a, given.error());
  const Result<std::optional<double>> energy = energy_of(*given);
  if (!energy.ok()) return input_error(a, energy.error());
  options.energy = *energy;
  const Result<std::vector<double>> qs = q_values(a);
  if (!qs.ok()) return q_failed(a, qs.error());
  const std::vector<double>& q = *qs;
  const Result<XrayAverage> average = xray_average(a.positional[0], q, options);
  if (!report("xray-average", average)) return 1;
  const XrayAverage& r = *average;
  // The heads and units of the library's table of the averages' values.
  const auto head = [](std::string_view name) { return std::string(xray_average_symbol(name)); };
  const auto unit = [](std::string_view name) { return std::string(xray_average_unit(name)); };
  std::string out;
  if (r.energy) {
    out += "# at ";
    append_shortest(out, *r.energy);
    out += " " + unit("energy") + " (" + head("f_table") + " = " + std::string(dispersion_table_name(r.f_table)) +
           "), " + head("f_prime") + " " + head("f_double_prime") + ":";
    for (std::size_t i = 0; i < r.symbols.size(); ++i) {
      out += ' ' + r.symbols[i] + ' ';
      append_shortest(out, r.f_prime[i]);
      out += ' ';
      append_shortest(out, r.f_double_prime[i]);
    }
    out += '\n';
  }
  if (r.t0) {
    out += "# " + head("t0") + " ";
    append_shortest(out, *r.t0);
    out += " " + unit("t0") + " (4 pi <f(0)>^2 n with " + head("f0_mean") + " ";
    append_shortest(out, r.f0_mean);
    out += ", " + head("number_density") + " ";
    append_shortest(out, *r.number_density);
    out += " " + unit("number_density") + ")\n";
  }
  out += "# " + head("q") + " " + head("f2") + " " + head("f_mean_sq");
  for (const XrayPartial& w : r.weights) out += " " + head("weights") + w.pair;
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

// The plain output: the rows of the library's table of the material's
// values, those known from the formula and the energy first, then each
// element's, those per atom, and those known with a density (and a
// thickness), as far as the material has what they need; a value not known
// (the mass of an unlisted isotope, a critical angle with n above 1) is a "-".
void print_material(const XrayMaterial& m, int digits) {
  std::vector<NamedValue> rows;
  const auto add = [&](std::string name, const XrayField& f, std::size_t index) {
    std::string value =
        f.kind == XrayValueKind::kText ? xray_text(m, f, index) : digits_text(xray_value(m, f, index), digits);
    rows.push_back({std::move(name), std::move(value), xray_field_unit_shown(f)});
  };
  const auto rows_of = [&](XrayScope scope, bool needs_nothing) {
    for (const XrayField& f : xray_material_fields())
      if (f.in_table && f.scope == scope && (f.needs == XrayNeeds::kNothing) == needs_nothing && xray_field_known(m, f))
        add(std::string(f.name), f, 0);
  };
  rows_of(XrayScope::kMaterial, true);
  for (std::size_t i = 0; i < m.elements.size(); ++i)
    for (const XrayField& f : xray_material_fields())
      if (f.in_table && f.scope == XrayScope::kElement)
        add(m.elements[i].symbol + " " + std::string(xray_field_symbol(f)), f, i);
  rows_of(XrayScope::kPerAtom, true);
  rows_of(XrayScope::kMaterial, false);
  std::cout << named_value_table(m.formula, rows).text;
}

int run_xray(const Args& a) {
  if (a.positional.size() != 1) return usage(a, "give one FORMULA");
  const Result<Source> given = source_of(a, true);
  if (!given.ok()) return usage(a, given.error());
  const Result<std::optional<double>> energy = energy_of(*given);
  if (!energy.ok()) return input_error(a, energy.error());
  const Result<int> digits = digits_option(a);
  if (!digits.ok()) return usage(a, digits.error());
  XrayMaterialOptions o;
  for (const auto& [name, slot] : {std::pair{"--density", &o.density}, {"--thickness", &o.thickness}}) {
    if (!a.get(name)) continue;
    const Result<double> v = number(*a.get(name), name);
    if (!v.ok()) return usage(a, v.error());
    *slot = *v;
  }
  const Result<XrayMaterial> m = xray_material_from_formula(a.positional[0], **energy, o);
  if (!report("xray", m)) return 1;
  if (a.flag("--json"))
    std::cout << xray_material_json(*m) << '\n';
  else
    print_material(*m, *digits);
  return 0;
}

int run_compton(const Args& a) {
  if (a.positional.size() != 1) return usage(a, "give one FORMULA");
  ComptonOptions o;
  if (a.flag("--balyuzi")) o.model = IncoherentModel::kBalyuzi;
  if (a.get("--wavelength")) {
    const Result<double> w = number(*a.get("--wavelength"), "--wavelength");
    if (!w.ok()) return usage(a, w.error());
    o.wavelength = *w;
  }
  if (a.get("--breit-dirac")) {
    if (!o.wavelength) return usage(a, "--breit-dirac needs --wavelength");
    const Result<int> power = integer(*a.get("--breit-dirac"), "--breit-dirac");
    if (!power.ok()) return usage(a, power.error());
    o.breit_dirac_power = *power;
  }
  const Result<std::vector<double>> qs = q_values(a);
  if (!qs.ok()) return q_failed(a, qs.error());
  const std::vector<double>& q = *qs;
  const Result<std::vector<double>> c = compton(a.positional[0], q, o);
  if (!report("compton", c)) return 1;
  std::string out = o.model == IncoherentModel::kHubbell ? "# Hubbell et al. (1975) S(x), cubic spline in x\n"
                                                         : "# Balyuzi (1975) fit of S(x)\n";
  if (o.wavelength && o.breit_dirac_power == 0) {
    out += "# no Breit-Dirac factor (--breit-dirac 0) at lambda = ";
    append_shortest(out, *o.wavelength);
    out += " A\n";
  } else if (o.wavelength) {
    out += "# Breit-Dirac factor (lambda/lambda')^" + std::to_string(o.breit_dirac_power) + " at lambda = ";
    append_shortest(out, *o.wavelength);
    out += " A\n";
  }
  out += "# Q C (per atom, electron units)\n";
  for (std::size_t k = 0; k < q.size(); ++k) {
    append_shortest(out, q[k]);
    out += ' ';
    append_shortest(out, (*c)[k]);
    out += '\n';
  }
  std::cout << out;
  return 0;
}

}  // namespace

const Subcommand kXrayCommand{
    "xray",
    run_xray,
    {"--json"},
    {"--energy", "--wavelength", "--anode", "--density", "--thickness", "--digits"},
    "an X-ray material at one energy: f1, f2, SLD, attenuation",
    "usage: talvo-tools xray FORMULA (--energy E | --wavelength L | --anode NAME) [--density G] [--thickness T]\n"
    "                          [--json] [--digits N]\n"
    "--energy in keV, --wavelength in Angstrom, --anode Cr, Fe, Co, Cu, Mo, Ag or W (K alpha 1; CuKa2 K alpha 2,\n"
    "CuKa the 2:1 mean of both; Bearden 1967). Energies from 10 eV to 432.9 keV, H to U: f1, f2 from the\n"
    "Henke table to 30 keV, Chantler's FFAST above (f_table = henke93 or chantler-ffast).\n"
    "FORMULA as for xs; ions (Fe{3+}) and isotopes scatter as their element, isotopes weighing their own mass\n"
    "(NIST; D 2.014102). Prints each element's f1, f2\n"
    "and f' = f1 - Z*, the electron count and the cross-sections per atom (photoabsorption 2 r_e lambda f2,\n"
    "Rayleigh from the form factors, Compton from S(x) with Klein-Nishina); with --density (g/cm3) the\n"
    "number density, X-ray SLD and its imaginary part (1e-6/A^2), delta, beta, critical angle (degrees),\n"
    "mu_photo, mu_coh, mu_incoh and mu_total (1/cm) and the attenuation lengths (cm); with --thickness (cm)\n"
    "the transmissions.\n"
    "Plain numbers have 6 significant digits (--digits N, 1 to 17).\n"
    "--json prints one object: energy, wavelength, ..., sld, sld_im, mu_photo, mu_coh, mu_incoh, mu_total,\n"
    "transmission, per_atom, elements; its numbers are the shortest text that reads back to the same double.\n"
    "Example: talvo-tools xray Gd2O3 --anode Cu --density 7.41 --json\n"};

const Subcommand kComptonCommand{
    "compton",
    run_compton,
    {"--balyuzi"},
    {"--q", "--wavelength", "--breit-dirac"},
    "incoherent (Compton) X-ray scattering per atom of a formula",
    "usage: talvo-tools compton FORMULA [--q FROM:TO:STEP] [--wavelength L] [--balyuzi] [--breit-dirac N]\n"
    "Prints comment lines starting with #, then \"Q C\" rows: C = sum c_i S(Q/4pi, Z_i), per atom in electron\n"
    "units, c_i the atomic fractions. S from the Hubbell et al. (1975) table (cubic spline in x), or with\n"
    "--balyuzi from the Balyuzi (1975) fit (warns past sin(theta)/lambda = 1.4). With --wavelength L\n"
    "(Angstrom) each S is multiplied by the Breit-Dirac factor (lambda/lambda')^N, N = 3 (default) or 2;\n"
    "N = 0 applies none.\n"
    "Without --q the Q values are the first column of standard input.\n"};

const Subcommand kFoqCommand{
    "foq",
    run_foq,
    {},
    {"--q", "--source", "--table", "--z"},
    "X-ray form factor f(Q) of a neutral atom or an ion",
    "usage: talvo-tools foq SYMBOL [--table wk|it] [--source builtin|file] [--q FROM:TO:STEP]\n"
    "       talvo-tools foq ION [--q FROM:TO:STEP]   (Fe3+, O2-, Li+, Cval, Siva: Waasmaier-Kirfel, built in)\n"
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
    {"--q", "--table", "--density", "--number-density", "--energy", "--wavelength", "--anode"},
    "X-ray <f^2>, <f>^2, Faber-Ziman weights and T0 of a formula",
    "usage: talvo-tools xray-average FORMULA [--q FROM:TO:STEP] [--table wk|it] [--density G | --number-density N]\n"
    "                                  [--energy E | --wavelength L | --anode NAME]\n"
    "FORMULA may hold ions as Al{3+}2O{2-}3 (Waasmaier-Kirfel ion table). With an energy (keV), wavelength\n"
    "(Angstrom) or anode (as for xray), f = f0(Q) + f' + i f'' (Henke to 30 keV, Chantler's FFAST above),\n"
    "the columns are <|f|^2> and |<f>|^2, and a first comment line names the table (f_table) and gives f'\n"
    "and f'' of each species.\n"
    "Prints a comment line naming the columns, then \"Q <f2> <f>2 w...\" rows in double precision, the weights\n"
    "w_11, w_22, ..., then w_12, w_13, ... in the order of the formula; without --q the Q values are the first\n"
    "column of standard input. With a density (g/cm3) or number density (atoms/A^3), first a comment line with\n"
    "T0 = 4 pi <f(0)>^2 n in electrons^2 per cubic Angstrom. Default --table wk.\n"};

}  // namespace talvo::cli
