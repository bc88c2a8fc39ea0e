// xs: a material's neutron cross-sections from its chemical formula.
#include <cmath>
#include <iostream>
#include <limits>

#include "talvo/files/files.hpp"
#include "talvo/neutron/material.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

struct Line {
  std::string name;
  std::optional<double> value;
  const char* unit;
};

// The material's own values (per formula unit, per atom, with the density),
// in the order the plain output and the batch columns give them.
std::vector<Line> material_lines(const Material& m) {
  return {
      {"atoms", m.atoms, ""},
      {"mass", m.mass, "amu"},
      {"wavelength", m.wavelength, "A"},
      {"density", m.density, "g/cm3"},
      {"number_density", m.number_density, "atoms/A3"},
      {"b_coh", m.per_atom.b_coh, "fm"},
      {"b_coh_im", m.per_atom.b_coh_im, "fm"},
      {"b_free", m.per_atom.b_free, "fm"},
      {"sigma_coh", m.per_atom.sigma_coh, "barn"},
      {"sigma_inc", m.per_atom.sigma_inc, "barn"},
      {"sigma_scatt", m.per_atom.sigma_scatt, "barn"},
      {"sigma_free", m.per_atom.sigma_free, "barn"},
      {"sigma_abs_2200", m.per_atom.sigma_abs_2200, "barn"},
      {"sigma_abs", m.per_atom.sigma_abs, "barn"},
      {"sld", m.sld, "1e-6/A2"},
      {"sld_im", m.sld_im, "1e-6/A2"},
      {"mu_abs", m.mu_abs, "1/cm"},
      {"mu_scatt", m.mu_scatt, "1/cm"},
      {"mu_total", m.mu_total, "1/cm"},
      {"penetration_depth", m.penetration_depth, "cm"},
      {"transmission", m.transmission, ""},
  };
}

void print_plain(const Material& m) {
  std::vector<Line> lines = material_lines(m);
  for (const MaterialElement& e : m.elements) {
    lines.push_back({e.symbol + " count", e.count, ""});
    lines.push_back({e.symbol + " fraction", e.fraction, ""});
    lines.push_back({e.symbol + " b_coh", e.b_coh, "fm"});
    lines.push_back({e.symbol + " b_coh_im", e.b_coh_im, "fm"});
    lines.push_back({e.symbol + " sigma_coh", e.sigma_coh, "barn"});
    lines.push_back({e.symbol + " sigma_scatt", e.sigma_scatt, "barn"});
    lines.push_back({e.symbol + " sigma_abs_2200", e.sigma_abs_2200, "barn"});
  }
  for (const MaterialPartial& p : m.partials) {
    lines.push_back({p.pair + " weight", p.weight, "barn"});
    lines.push_back({p.pair + " faber_ziman", p.faber_ziman, ""});
  }
  std::size_t name_width = 7, value_width = 0;
  std::vector<std::string> values;
  for (const Line& l : lines) {
    values.push_back(l.value ? shortest(*l.value) : "-");
    name_width = std::max(name_width, l.name.size());
    value_width = std::max(value_width, values.back().size());
  }
  std::string out = fixed("formula", name_width) + "  " + m.formula + "\n";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string l = fixed(lines[i].name, name_width) + "  " + fixed(values[i], value_width) + "  " + lines[i].unit;
    out += std::string(trim_end(l)) + "\n";
  }
  std::cout << out;
}

MaterialOptions options_from(const Args& a) {
  MaterialOptions o;
  if (a.get("--density")) o.density = number(*a.get("--density"), "--density");
  if (a.get("--number-density")) o.number_density = number(*a.get("--number-density"), "--number-density");
  if (a.get("--wavelength")) o.wavelength = number(*a.get("--wavelength"), "--wavelength");
  if (a.get("--thickness")) o.thickness = number(*a.get("--thickness"), "--thickness");
  return o;
}

Status load_table(NeutronTable& table) {
  return read_neutron_table(tools_data_folder().file("neutron_sears92.tsv"), table);
}

// The batch columns after the formula: values of material_lines, by name.
constexpr const char* kBatchColumns[] = {
    "density",   "number_density",    "atoms",       "mass", "b_coh",  "b_coh_im", "sigma_coh",
    "sigma_inc", "sigma_scatt",       "sigma_abs",   "sld",  "sld_im", "mu_abs",   "mu_scatt",
    "mu_total",  "penetration_depth", "transmission"};

void csv_row(std::string& out, const Material& m) {
  // A formula holds no comma or quote, so it needs no quoting.
  out += m.formula;
  const std::vector<Line> lines = material_lines(m);
  for (const char* column : kBatchColumns) {
    out += ',';
    for (const Line& l : lines)
      if (l.name == column && l.value && std::isfinite(*l.value)) append_shortest(out, *l.value);
  }
  out += '\n';
}

// One "formula [density]" a line; one CSV row a line, the bad ones named on
// standard error. Exit status 1 when any line failed.
int run_batch(const std::string& file, const MaterialOptions& common, const NeutronTable& table) {
  InputFile in(file);
  if (!in.is_open()) {
    std::cerr << "talvo-tools xs: cannot open " << file << " (" << in.status().message << ")\n";
    return 1;
  }
  // Each row goes out as it is made: memory does not grow with the batch.
  std::string out = "formula";
  for (const char* column : kBatchColumns) out += std::string(",") + column;
  out += '\n';
  std::cout << out;
  std::string text;
  long long line_number = 0;
  int status = 0;
  bool rest_pending = false;
  for (LineRead got; (got = read_line(in.stream(), text, kMaxLineLength, &rest_pending)) != LineRead::kEnd;) {
    ++line_number;
    if (got == LineRead::kError) {
      std::cerr << file << ", line " << line_number << ": cannot be read\n";
      return 1;
    }
    if (got == LineRead::kTooLong) {
      // Named and left out like a bad formula; the rest of it is no line of its own.
      std::cerr << file << ", line " << line_number << ": longer than " << kMaxLineLength << " characters\n";
      if (rest_pending) in.stream().ignore(std::numeric_limits<std::streamsize>::max(), '\n');
      status = 1;
      continue;
    }
    const WordPositions w = count_word(text);
    if (w.count == 0 || text[static_cast<std::size_t>(w.ipos[0] - 1)] == '#') continue;
    MaterialOptions o = common;
    const std::string formula(trim_end(word_text(text, w, 1)));
    std::string problem;
    if (w.count > 2) problem = "give a formula and at most a density";
    if (w.count == 2) {
      const auto d = parse_real(trim_end(word_text(text, w, 2)));
      if (!d) problem = "the density is not a number";
      o.density = d;
      o.number_density.reset();
    }
    Material m;
    if (problem.empty())
      if (Status s = material_from_formula(formula, table, o, m); s.failed()) problem = s.message;
    if (!problem.empty()) {
      std::cerr << file << ", line " << line_number << ": " << problem << '\n';
      status = 1;
      continue;
    }
    out.clear();
    csv_row(out, m);
    std::cout << out;
  }
  return status;
}

int run_xs(const Args& a) {
  const MaterialOptions options = options_from(a);
  if (a.get("--batch")) {
    if (!a.positional.empty()) throw UsageError{"give a FORMULA or --batch FILE, not both"};
  } else if (a.positional.size() != 1) {
    throw UsageError{"give one FORMULA"};
  }
  NeutronTable table;
  if (Status s = load_table(table); s.failed()) {
    std::cerr << "talvo-tools xs: " << s.message << '\n';
    return 1;
  }
  if (a.get("--batch")) return run_batch(*a.get("--batch"), options, table);
  Material m;
  if (Status s = material_from_formula(a.positional[0], table, options, m); s.failed()) {
    std::cerr << "talvo-tools xs: " << s.message << '\n';
    return 1;
  }
  if (a.flag("--json"))
    std::cout << material_json(m) << '\n';
  else
    print_plain(m);
  return 0;
}

}  // namespace

const Subcommand kXsCommand{
    "xs",
    run_xs,
    {"--json"},
    {"--batch", "--density", "--number-density", "--thickness", "--wavelength"},
    "neutron cross-sections of a material from its formula",
    "usage: talvo-tools xs FORMULA [--density G | --number-density N] [--wavelength L] [--thickness T] [--json]\n"
    "       talvo-tools xs --batch FILE [--wavelength L] [--thickness T]\n"
    "FORMULA: element symbols with counts (Ni0.3Ti0.7), groups (Ca(OH)2), isotopes (Li[6], D, T),\n"
    "hydrates (CuSO4+5H2O). --density in g/cm3 or --number-density in atoms per cubic Angstrom gives\n"
    "the scattering-length density, attenuation and penetration depth; --thickness in cm the\n"
    "transmission; --wavelength in Angstrom (default 1.798) scales the absorption. Prints\n"
    "\"name value unit\" lines, or with --json one object (per_atom, elements, partials).\n"
    "--batch FILE reads one \"formula [density]\" a line and prints CSV with a header.\n"
    "Values come from the published table (Sears 1992), complex lengths included.\n"};

}  // namespace talvo::cli
