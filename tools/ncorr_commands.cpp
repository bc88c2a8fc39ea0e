// ncorr: a neutron sample's corrections (attenuation, multiple scattering,
// Placzek) from a described sample, container and instrument.
#include <iostream>
#include <string>
#include <vector>

#include "talvo/neutron/neutron_table.hpp"
#include "talvo/pdf/neutron_corrections.hpp"
#include "talvo/text/json.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

std::vector<std::string> table_options(bool flags) {
  std::vector<std::string> out;
  out.push_back(flags ? "--json" : "--digits");
  for (const OptionSpec& o : pdf::neutron_correction_options().options)
    if ((o.type == OptionType::kFlag) == flags) out.push_back("--" + std::string(o.name));
  return out;
}

const std::string& help_text() {
  static const std::string text =
      "usage: talvo-tools ncorr attenuation|multiple-scattering|placzek --sample FORMULA\n"
      "                         (--number-density N | --density G) --wavelength A [OPTIONS] [--json]\n"
      "Rows: twotheta A_s,sc A_c,sc A_c,c (twotheta A_s,s without a container); twotheta delta delta2\n"
      "(all orders beyond the first over the single, both attenuated, sample and can together; the\n"
      "double scattering alone); twotheta P (the self scattering's departure from sigma_s/4pi, as a\n"
      "fraction of it). Comment lines name the settings, tables and methods; --json writes them with\n"
      "the rows (and each row's sigma for the multiple scattering), each number the shortest text that\n"
      "reads back; plain rows have 6 significant digits (--digits N for others). Lengths in mm unless a\n"
      "unit is given.\n"
      "options:\n" +
      usage_text(pdf::neutron_correction_options());
  return text;
}

int run_ncorr(const Args& a) {
  if (a.positional.size() != 1) return usage(a, "give one correction: attenuation, multiple-scattering or placzek");
  const std::optional<pdf::NeutronCorrection> which = pdf::neutron_correction_named(a.positional[0]);
  if (!which)
    return usage(a, "no correction is called \"" + a.positional[0] + "\": attenuation, multiple-scattering or placzek");
  OptionValues given;
  for (const auto& [name, value] : a.options)
    if (find_option(pdf::neutron_correction_options(), name.substr(2))) given.values[name.substr(2)] = value;
  const Result<Options> options = read_options(pdf::neutron_correction_options(), given, Spelling::kCommandLine);
  if (!options.ok()) return usage(a, options.error());
  const Result<NeutronTable> table = read_neutron_table(tools_data_folder().file("neutron_sears92.tsv"));
  if (!table.ok()) return input_error(a, table.error());
  const Result<int> digits = digits_option(a);
  if (!digits.ok()) return usage(a, digits.error());
  const Result<pdf::NeutronCorrectionRun> run = pdf::run_neutron_correction(*which, *options, *table);
  if (!report("ncorr", run)) return run.kind() == ErrorKind::kInvalidArgument ? kUsage : 1;
  if (a.flag("--json")) {
    std::string out;
    {
      json::Object o(out);
      o.string("correction", a.positional[0]);
      {
        json::Object s(o.key("settings"));
        for (const auto& [name, value] : options->in_effect())
          if (run->settings.find(name + " = ") != std::string::npos) s.string(name, value);
      }
      {
        json::Array n(o.key("notes"));
        for (const std::string& line : run->notes) json::append_string(n.next(), line);
      }
      {
        json::Array c(o.key("columns"));
        for (const std::string& name : run->columns) json::append_string(c.next(), name);
      }
      for (const auto& [key, rows] : {std::pair{"rows", &run->rows}, std::pair{"sigma", &run->sigmas}}) {
        if (rows->empty()) continue;
        json::Array r(o.key(key));
        for (const std::vector<double>& values : *rows) {
          json::Array v(r.next());
          for (double x : values) json::append_number(v.next(), x);
        }
      }
      json::Array w(o.key("warnings"));
      for (const std::string& line : run.warnings()) json::append_string(w.next(), line);
    }
    std::cout << out << '\n';
    return 0;
  }
  std::string out = "# talvo-tools ncorr " + a.positional[0] + "\n";
  std::size_t from = 0;
  while (from < run->settings.size()) {
    const std::size_t end = run->settings.find('\n', from);
    out += "# " + run->settings.substr(from, end - from) + "\n";
    from = end == std::string::npos ? run->settings.size() : end + 1;
  }
  for (const std::string& line : run->notes) out += "# " + line + "\n";
  out += "#";
  for (const std::string& name : run->columns) out += " " + name;
  out += "\n";
  for (const std::vector<double>& values : run->rows) {
    for (std::size_t i = 0; i < values.size(); ++i) out += (i ? " " + digits_text(values[i], *digits) : num(values[i]));
    out += "\n";
  }
  std::cout << out;
  return 0;
}

}  // namespace

const Subcommand kNcorrCommand{"ncorr",
                               run_ncorr,
                               table_options(true),
                               table_options(false),
                               "a neutron sample's attenuation, multiple scattering and Placzek correction",
                               help_text().c_str()};

}  // namespace talvo::cli
