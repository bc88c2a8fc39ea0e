// xs: a material's neutron cross-sections from its chemical formula, at one
// wavelength or a sweep of them, one formula or a batch.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <limits>

#include "talvo/elements/constants.hpp"
#include "talvo/files/files.hpp"
#include "talvo/neutron/material.hpp"
#include "talvo/neutron/material_fields.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/number.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

// How numbers are printed: plain and CSV with `digits` significant digits,
// the columns a batch reads back (density, wavelength, thickness) and JSON as
// the shortest text that reads back to the same double.
struct Output {
  enum Kind { kPlain, kCsv, kJson } kind = kPlain;
  int digits = 6;
};

void append_number(std::string& out, double v, int digits) {
  char buffer[40];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, digits);
  out.append(buffer, r.ptr);
}

std::string number_text(std::optional<double> v, int digits) {
  if (!v || !std::isfinite(*v)) return "-";
  std::string s;
  append_number(s, *v, digits);
  return s;
}

// The material's values in the order of the field table, each with the unit
// a reader sees beside it; those per formula unit named with "_fu", each
// element's and pair's after its symbol or pair.
void print_plain(const Material& m, int digits) {
  std::vector<NamedValue> rows;
  const auto add = [&](std::string name, std::optional<double> v, const MaterialField& f) {
    rows.push_back({std::move(name), number_text(v, digits), material_field_unit_shown(f)});
  };
  for (const MaterialField& f : material_fields()) {
    const std::string name(f.name);
    switch (f.scope) {
      case MaterialScope::kElement:
      case MaterialScope::kPartial:
        break;
      case MaterialScope::kPerFormulaUnit:
        add(name + "_fu", material_value(m, f), f);
        break;
      default:
        add(name, material_value(m, f), f);
    }
  }
  for (const auto scope : {MaterialScope::kElement, MaterialScope::kPartial}) {
    const std::size_t n = scope == MaterialScope::kElement ? m.elements.size() : m.partials.size();
    for (std::size_t i = 0; i < n; ++i)
      for (const MaterialField& f : material_fields())
        if (f.scope == scope && f.in_json)
          add((scope == MaterialScope::kElement ? m.elements[i].symbol : m.partials[i].pair) + " " +
                  std::string(f.name),
              material_value(m, f, i), f);
  }
  const NamedValueTable table = named_value_table(m.formula, rows);
  const std::size_t name_width = table.name_width;
  std::string out = table.text;
  for (const MaterialElement& e : m.elements)
    if (e.source == LengthSource::kEnergyDependent)
      out += fixed(e.symbol + " source", name_width) + "  " + std::string(length_source_name(e.source)) + "\n";
  for (const std::string& n : m.notes) out += "note: " + n + "\n";
  std::cout << out;
}

// A CSV row: the inputs a batch reads back, then these values of the table
// (those per formula unit named with "_fu").
constexpr std::pair<MaterialScope, std::string_view> kCsvResults[] = {{MaterialScope::kMaterial, "number_density"},
                                                                      {MaterialScope::kMaterial, "atoms"},
                                                                      {MaterialScope::kMaterial, "mass"},
                                                                      {MaterialScope::kPerAtom, "b_coh"},
                                                                      {MaterialScope::kPerAtom, "b_coh_im"},
                                                                      {MaterialScope::kPerAtom, "sigma_coh"},
                                                                      {MaterialScope::kPerAtom, "sigma_inc"},
                                                                      {MaterialScope::kPerAtom, "sigma_scatt"},
                                                                      {MaterialScope::kPerAtom, "sigma_abs"},
                                                                      {MaterialScope::kPerFormulaUnit, "sigma_coh"},
                                                                      {MaterialScope::kPerFormulaUnit, "sigma_inc"},
                                                                      {MaterialScope::kPerFormulaUnit, "sigma_scatt"},
                                                                      {MaterialScope::kPerFormulaUnit, "sigma_abs"},
                                                                      {MaterialScope::kPerVolume, "sld"},
                                                                      {MaterialScope::kPerVolume, "sld_im"},
                                                                      {MaterialScope::kPerVolume, "sld_inc"},
                                                                      {MaterialScope::kPerVolume, "mu_abs"},
                                                                      {MaterialScope::kPerVolume, "mu_scatt"},
                                                                      {MaterialScope::kPerVolume, "mu_total"},
                                                                      {MaterialScope::kPerVolume, "absorption_length"},
                                                                      {MaterialScope::kPerVolume, "penetration_depth"},
                                                                      {MaterialScope::kPerVolume, "transmission"}};

std::string csv_header() {
  std::string h = "formula,density,wavelength,thickness";
  for (const auto& [scope, name] : kCsvResults)
    h += "," + std::string(name) + (scope == MaterialScope::kPerFormulaUnit ? "_fu" : "");
  return h + "\n";
}

void csv_text(std::string& out, std::string_view s) {
  if (s.find_first_of(",\"\r\n") == std::string_view::npos && (s.empty() || (s.front() != ' ' && s.back() != ' '))) {
    out += s;
    return;
  }
  out += '"';
  for (const char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void csv_row(std::string& out, const Material& m, std::optional<double> thickness, int digits) {
  csv_text(out, m.formula);
  // The inputs a batch reads back first, exactly.
  for (const std::optional<double>& v : {m.density, std::optional<double>(m.wavelength), thickness}) {
    out += ',';
    if (v && std::isfinite(*v)) append_shortest(out, *v);
  }
  for (const auto& [scope, name] : kCsvResults) {
    const std::optional<double> v = material_value(m, *find_material_field(scope, name));
    out += ',';
    if (v && std::isfinite(*v)) append_number(out, *v, digits);
  }
  out += '\n';
}

// A sweep as a table, a row per wavelength: these values per atom and per
// volume of the field table.
constexpr std::pair<MaterialScope, std::string_view> kSweepColumns[] = {
    {MaterialScope::kMaterial, "wavelength"},
    {MaterialScope::kPerAtom, "b_coh"},
    {MaterialScope::kPerAtom, "b_coh_im"},
    {MaterialScope::kPerAtom, "sigma_coh"},
    {MaterialScope::kPerAtom, "sigma_inc"},
    {MaterialScope::kPerAtom, "sigma_scatt"},
    {MaterialScope::kPerAtom, "sigma_abs"},
    {MaterialScope::kPerVolume, "sld"},
    {MaterialScope::kPerVolume, "sld_im"},
    {MaterialScope::kPerVolume, "sld_inc"},
    {MaterialScope::kPerVolume, "mu_abs"},
    {MaterialScope::kPerVolume, "mu_total"},
    {MaterialScope::kPerVolume, "absorption_length"},
    {MaterialScope::kPerVolume, "penetration_depth"},
    {MaterialScope::kPerVolume, "transmission"}};

void print_sweep_plain(const MaterialSweep& s, int digits) {
  std::vector<std::vector<std::string>> cells;
  std::vector<std::size_t> widths;
  for (const auto& [scope, name] : kSweepColumns) {
    const std::vector<double> column = material_column(s, *find_material_field(scope, name));
    std::vector<std::string> c{std::string(name)};
    for (std::size_t i = 0; i < s.size(); ++i) c.push_back(i < column.size() ? number_text(column[i], digits) : "-");
    std::size_t w = 0;
    for (const std::string& t : c) w = std::max(w, t.size());
    widths.push_back(w);
    cells.push_back(std::move(c));
  }
  std::string out =
      "# formula " + s.material.formula + "; units: A, fm, barn/atom, " + std::string(kSldUnit) + ", 1/cm, cm\n";
  for (std::size_t r = 0; r <= s.size(); ++r) {
    std::string line = r == 0 ? "#" : " ";
    for (std::size_t c = 0; c < cells.size(); ++c)
      line += " " + std::string(widths[c] - cells[c][r].size(), ' ') + cells[c][r];
    out += line + "\n";
  }
  for (const std::string& n : s.material.notes) out += "note: " + n + "\n";
  std::cout << out;
}

// Each wavelength takes about 40 numbers: a sweep is bounded well below the
// memory of a small machine.
constexpr std::size_t kMaxWavelengths = 1'000'000;

// --wavelength: one value, a list "1,2,5" or a range FROM:TO:STEP (TO included).
Result<std::vector<double>> wavelengths_of(const std::string& spec) {
  const auto wrong = [](std::string text) { return make_error(ErrorKind::kInvalidArgument, std::move(text)); };
  if (spec.find(':') != std::string::npos) {
    // The wavelengths' own limit, before any is made (not the 10^7 points of other grids).
    Result<std::vector<double>> g = grid(spec, static_cast<double>(kMaxWavelengths), Quantity::kWavelength);
    if (g.ok() && g->empty())
      return wrong("--wavelength " + spec + " holds no wavelength (FROM:TO:STEP needs TO >= FROM)");
    return g;
  }
  std::vector<double> list;
  if (static_cast<std::size_t>(std::count(spec.begin(), spec.end(), ',')) >= kMaxWavelengths)
    return wrong("--wavelength: at most " + std::to_string(kMaxWavelengths) + " wavelengths");
  NumberOptions o;
  o.quantity = Quantity::kWavelength;
  o.range = true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = spec.find(',', start);
    const Result<double> v =
        number(spec.substr(start, comma == std::string::npos ? std::string::npos : comma - start), "--wavelength", o);
    if (!v.ok()) return v.error();
    list.push_back(*v);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return list;
}

Result<MaterialOptions> options_from(const Args& a) {
  MaterialOptions o;
  for (const auto& [name, slot] :
       {std::pair{"--density", &o.density}, {"--number-density", &o.number_density}, {"--thickness", &o.thickness}}) {
    if (!a.get(name)) continue;
    const Result<double> v = number(*a.get(name), name);
    if (!v.ok()) return v.error();
    *slot = *v;
  }
  return o;
}

Result<NeutronTable> load_table() { return read_neutron_table(tools_data_folder().file("neutron_sears92.tsv")); }

// The fields of a CSV record (RFC 4180): commas separate, a field in double
// quotes holds commas, line ends and quotes (a doubled one stands for
// itself). False when a quote is not closed: the record goes on in the next
// line.
bool csv_fields(std::string_view record, std::vector<std::string>& fields) {
  fields.assign(1, "");
  bool quoted = false;
  for (std::size_t i = 0; i < record.size(); ++i) {
    const char c = record[i];
    if (quoted) {
      if (c != '"')
        fields.back() += c;
      else if (i + 1 < record.size() && record[i + 1] == '"')
        fields.back() += record[++i];
      else
        quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return !quoted;
}

std::string trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return std::string(s);
}

struct BatchColumns {
  int formula = -1, density = -1, number_density = -1, wavelength = -1, thickness = -1;
};

// Writes one row (or one per wavelength) of a batch.
Outcome batch_row(const std::string& formula, const MaterialOptions& o, const std::vector<double>& wavelengths,
                  const NeutronTable& table, const Output& output, std::string& out,
                  std::vector<std::string>& warnings) {
  Result<MaterialSweep> s = material_sweep(formula, table, o, wavelengths);
  if (!s.ok()) return s.error();
  for (std::size_t i = 0; i < s->size(); ++i) {
    const Material row = i == 0 ? Material{} : s->at(i);
    const Material& m = i == 0 ? s->material : row;
    if (output.kind == Output::kJson)
      out += material_json(m, s.warnings()) + "\n";
    else
      csv_row(out, m, o.thickness, output.digits);
  }
  warnings = s.warnings();
  return Done{};
}

// A batch: CSV with a header naming its columns (formula, and any of density,
// number_density, wavelength, thickness; other columns are ignored, so that
// the CSV this writes reads back), or the older "formula [density]" lines.
// Rows go out as they are made; a bad line is named on standard error and
// the others kept. Exit status 1 when any line failed.
int run_batch(const std::string& file, const MaterialOptions& common, const std::vector<double>& wavelengths,
              const NeutronTable& table, const Output& output) {
  Result<InputFile> in = InputFile::open(file);
  if (!in.ok()) {
    std::cerr << "talvo-tools xs: " << in.error().message << "\n";
    return 1;
  }
  if (output.kind != Output::kJson) std::cout << csv_header();
  std::string text, out;
  std::vector<std::string> fields, warnings;
  std::optional<BatchColumns> columns;  // set by a CSV header
  bool first = true;
  long long line_number = 0, record_line = 0;
  int status = 0;
  const std::string name = escape_for_message(file);
  const auto problem_at = [&](const std::string& what) {
    std::cerr << "talvo-tools xs: " << name << ", line " << record_line << ": " << what << '\n';
    status = 1;
  };
  bool rest_pending = false;
  std::string record;  // a CSV record: one line, or more where a quoted field holds line ends
  for (;;) {
    const Result<bool> got = read_line(in->stream(), text, kMaxLineLength, &rest_pending);
    if (got.ok() && !*got) break;
    ++line_number;
    if (record.empty()) record_line = line_number;
    if (!got.ok() && got.kind() == ErrorKind::kIoError) {
      problem_at("cannot be read");
      break;
    }
    if (!got.ok() || record.size() + text.size() > kMaxLineLength) {
      // Named and left out like a bad formula; the rest of it is no line of its own.
      if (!got.ok() && rest_pending) in->stream().ignore(std::numeric_limits<std::streamsize>::max(), '\n');
      problem_at("longer than " + std::to_string(kMaxLineLength) + " characters");
      record.clear();
      continue;
    }
    // A byte-order mark, as spreadsheets write it, is no part of the first field.
    if (line_number == 1 && text.rfind("\xef\xbb\xbf", 0) == 0) text.erase(0, 3);
    if (!record.empty()) record += '\n';
    record += text;
    // A quoted field still open: its record goes on in the next line.
    if ((columns || record.find('"') != std::string::npos) && !csv_fields(record, fields)) continue;
    const std::string line = trimmed(record);
    record.clear();
    if (line.empty() || line[0] == '#') continue;
    MaterialOptions o = common;
    std::vector<double> row_wavelengths = wavelengths;
    std::string formula;
    Outcome problem = Done{};
    const auto refuse = [&](std::string why) { problem = make_error(ErrorKind::kInvalidArgument, std::move(why)); };
    if (first && csv_fields(line, fields) && trimmed(fields[0]) == "formula") {
      BatchColumns c;
      for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string column = trimmed(fields[i]);
        int* slot = column == "formula"          ? &c.formula
                    : column == "density"        ? &c.density
                    : column == "number_density" ? &c.number_density
                    : column == "wavelength"     ? &c.wavelength
                    : column == "thickness"      ? &c.thickness
                                                 : nullptr;
        if (slot) *slot = static_cast<int>(i);
      }
      columns = c;
      first = false;
      continue;
    }
    first = false;
    const auto read = [&](const std::string& f, const char* what, Quantity quantity, std::optional<double>& into) {
      if (f.empty() || !problem.ok()) return;
      NumberOptions number;
      number.quantity = quantity;
      const Result<double> v = read_number(f, what, number);
      if (!v.ok()) problem = v.error();
      if (v.ok()) into = *v;
    };
    if (columns) {
      csv_fields(line, fields);
      const auto field = [&](int at) -> std::string {
        return at >= 0 && static_cast<std::size_t>(at) < fields.size() ? trimmed(fields[static_cast<std::size_t>(at)])
                                                                       : std::string();
      };
      formula = field(columns->formula);
      std::optional<double> density, number_density, wavelength;
      read(field(columns->density), "the density", Quantity::kDensity, density);
      read(field(columns->number_density), "the number density", Quantity::kNumber, number_density);
      read(field(columns->wavelength), "the wavelength", Quantity::kWavelength, wavelength);
      read(field(columns->thickness), "the thickness", Quantity::kLength, o.thickness);
      // A row's density, given either way, replaces the command line's.
      if (density) {
        o.density = density;
        o.number_density.reset();
        // Both columns as this program writes them: the density is the one given.
        number_density.reset();
      }
      if (number_density) {
        o.number_density = number_density;
        o.density.reset();
      }
      if (wavelength) row_wavelengths.assign(1, *wavelength);
    } else {
      // "formula [density]": as CSV where the line has commas or quotes ("H2O",1), else words.
      std::vector<std::string> w;
      if (line.find_first_of(",\"") != std::string::npos) {
        csv_fields(line, fields);
        for (const std::string& f : fields) w.push_back(trimmed(f));
        while (!w.empty() && w.back().empty()) w.pop_back();
      } else {
        for (const std::string_view word : split_words(line)) w.emplace_back(word);
      }
      formula = w.empty() ? std::string() : w[0];
      if (w.size() > 2) refuse("give a formula and at most a density");
      if (w.size() == 2) {
        std::optional<double> d;
        read(w[1], "the density", Quantity::kDensity, d);
        o.density = d;
        o.number_density.reset();
      }
    }
    if (formula.empty() && problem.ok()) refuse("no formula");
    if (problem.ok()) problem = batch_row(formula, o, row_wavelengths, table, output, out, warnings);
    if (!problem.ok()) {
      problem_at(problem.error().message);
      continue;
    }
    for (const std::string& w : warnings)
      std::cerr << "talvo-tools xs: " << name << ", line " << record_line << ": warning: " << w << '\n';
    if (out.size() > 1 << 16) {
      std::cout << out;
      out.clear();
    }
  }
  if (!record.empty()) problem_at("a quoted field is not closed");
  std::cout << out << std::flush;
  if (!std::cout) {
    std::cerr << "talvo-tools xs: the output cannot be written\n";
    return 1;
  }
  return status;
}

int run_xs(const Args& a) {
  const Result<MaterialOptions> given = options_from(a);
  if (!given.ok()) return usage(a, given.error());
  MaterialOptions options = *given;
  Output output;
  if (a.flag("--json") && a.flag("--csv")) return usage(a, "give --json or --csv, not both");
  if (a.flag("--json")) output.kind = Output::kJson;
  if (a.flag("--csv")) output.kind = Output::kCsv;
  const Result<int> digits = digits_option(a);
  if (!digits.ok()) return usage(a, digits.error());
  output.digits = *digits;
  const Result<std::vector<double>> listed =
      a.get("--wavelength") ? wavelengths_of(*a.get("--wavelength")) : std::vector<double>{kThermalWavelength};
  if (!listed.ok()) return usage(a, listed.error());
  const std::vector<double>& wavelengths = *listed;
  options.wavelength = wavelengths[0];
  // A list or a range gives arrays, even of one wavelength.
  const bool sweep = a.get("--wavelength") && a.get("--wavelength")->find_first_of(":,") != std::string::npos;
  if (a.get("--batch")) {
    if (!a.positional.empty()) return usage(a, "give a FORMULA or --batch FILE, not both");
  } else if (a.positional.size() != 1) {
    return usage(a, "give one FORMULA");
  }
  const Result<NeutronTable> read = load_table();
  if (!cli::report("xs", read)) return 1;
  const NeutronTable& table = *read;
  if (a.get("--batch")) return run_batch(*a.get("--batch"), options, wavelengths, table, output);
  Result<MaterialSweep> s = material_sweep(a.positional[0], table, options, wavelengths);
  if (!cli::report("xs", s)) return 1;
  std::string out;
  if (output.kind == Output::kJson) {
    out = (sweep ? material_sweep_json(*s, s.warnings()) : material_json(s->material, s.warnings())) + "\n";
  } else if (output.kind == Output::kCsv) {
    out = csv_header();
    for (std::size_t i = 0; i < s->size(); ++i) csv_row(out, s->at(i), options.thickness, output.digits);
  } else if (sweep) {
    print_sweep_plain(*s, output.digits);
  } else {
    print_plain(s->material, output.digits);
  }
  std::cout << out << std::flush;
  if (!std::cout) {
    std::cerr << "talvo-tools xs: the output cannot be written\n";
    return 1;
  }
  return 0;
}

}  // namespace

const Subcommand kXsCommand{
    "xs",
    run_xs,
    {"--json", "--csv"},
    {"--batch", "--density", "--number-density", "--thickness", "--wavelength", "--digits"},
    "neutron cross-sections of a material from its formula",
    "usage: talvo-tools xs FORMULA [--density G | --number-density N] [--wavelength L] [--thickness T]\n"
    "                      [--json | --csv] [--digits N]\n"
    "       talvo-tools xs --batch FILE [--density G] [--wavelength L] [--thickness T] [--json] [--digits N]\n"
    "FORMULA: element symbols with counts (Ni0.3Ti0.7), groups (Ca(OH)2), isotopes (Li[6], D, T),\n"
    "hydrates (CuSO4+5H2O); a density after @ in g/cm3 (D2O@1.107), or @1n for the natural-isotope\n"
    "compound's density scaled by mass (D2O@1n); mixtures joined by //, by volume or mass fraction\n"
    "(50%vol H2O@1 // D2O@1n, 20%wt NaCl@2.16 // H2O@1; the last takes the rest), by amount\n"
    "(5 mL H2O@1 // 3 mL D2O@1n, 3 g NaCl // 97 g H2O) or one formula unit each (H2O@1 // D2O@1.107).\n"
    "A pure element without a density takes the element table's (and says so).\n"
    "--density in g/cm3 or --number-density in atoms per cubic Angstrom gives the scattering-length\n"
    "densities (coherent, absorption, incoherent), attenuation, 1/e lengths; --thickness in cm the\n"
    "transmission. --wavelength in Angstrom (default 1.798): one value, a list (1,2,5) or a range\n"
    "FROM:TO:STEP (TO included), one row per wavelength. Resonant rare earths (Sm, Eu, Gd, Dy, Er,\n"
    "Yb, Lu isotopes) follow the energy-dependent lengths of Lynn & Seeger (1990), at 1.798 A too;\n"
    "their incoherent cross-sections stay the thermal values; the output names each length's source.\n"
    "Prints \"name value unit\" lines (a table for several wavelengths), CSV with --csv, or with\n"
    "--json one object (arrays for several wavelengths). Plain and CSV numbers have 6 significant\n"
    "digits (--digits N, 1 to 17); JSON numbers, and the density, wavelength and thickness columns\n"
    "of CSV, are the shortest text that reads back to the same double.\n"
    "--batch FILE reads CSV with a header (formula,density,wavelength,thickness; other columns are\n"
    "ignored, missing ones take the command line's values; quoted fields), or \"formula [density]\"\n"
    "lines; it prints CSV rows as they are made (one JSON object a line with --json). The CSV it\n"
    "writes reads back to the same numbers. A bad line is named on standard error, the others kept.\n"
    "Lengths and cross-sections: Sears (1992), complex lengths included.\n"};

}  // namespace talvo::cli
