// model: the G(r) of a structure (a CIF, a PDFfit .stru or an xyz box).
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "talvo/model/model_options.hpp"
#include "talvo/model/pdf_model.hpp"
#include "talvo/neutron/neutron_table.hpp"
#include "talvo/structure/structure_files.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

std::vector<std::string> table_names(bool flags) {
  std::vector<std::string> out;
  for (const OptionSpec& o : model_option_table().options)
    if ((o.type == OptionType::kFlag) == flags) out.push_back("--" + std::string(o.name));
  if (!flags) out.push_back("--digits");
  return out;
}

std::string model_help() {
  return "usage: talvo-tools model STRUCTURE [options]\n"
         "STRUCTURE is a .cif, a PDFfit .stru or an .xyz box (no periodicity); prints \"r G\" rows (and each\n"
         "element pair's share of G with --partials) under a header of \"# key = value\" lines that rerun it\n"
         "and say which weights, peak normalisation and line made it. A .stru file's own scale and sharp\n"
         "line are not read: give them as options.\n"
         "options:\n" +
         usage_text(model_option_table()) + "  --digits N  significant digits of the numbers (default 6)\n";
}

int run_model(const Args& a) {
  if (a.positional.size() != 1) return usage(a, "give one structure file");
  OptionValues given;
  for (const auto& [name, value] : a.options)
    if (find_option(model_option_table(), name.substr(2))) given.values[name.substr(2)] = value;
  Result<Options> values = read_options(model_option_table(), given, Spelling::kCommandLine);
  if (!values.ok()) return usage(a, values.error());
  const Result<int> digits = digits_option(a);
  if (!digits.ok()) return usage(a, digits.error());
  Result<StruFile> file = read_structure(a.positional[0]);
  if (!report("model", file)) return 1;
  Result<NeutronTable> table = make_error(ErrorKind::kNotFound, "");
  if (values->text("radiation") == "neutron") {
    table = read_neutron_table(tools_data_folder().file("neutron_sears92.tsv"));
    if (!report("model", table)) return 1;
  }
  const ModelOptions options = model_options_from(*values, table.ok() ? &*table : nullptr);
  Result<ModelResult> m = pdf_model(file->structure, options);
  if (!report("model", m)) return 1;
  std::cout << "# talvo-tools model\n# structure = " << a.positional[0] << '\n';
  const std::string header = header_text(model_option_table(), *values);
  for (std::string_view text = header; !text.empty();) {
    const std::size_t end = text.find('\n');
    std::cout << "# " << text.substr(0, end) << '\n';
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
  }
  std::cout << "# weights: " << m->weights_source << '\n';
  for (const ModelWeight& w : m->weights)
    std::cout << "#   " << w.species << ": f = " << digits_text(w.f, 8) << ", c = " << digits_text(w.concentration, 8)
              << '\n';
  std::cout << "# peaks divided by " << (options.peak_norm == PeakNorm::kGridR ? "the grid's r" : "r_ij")
            << "; the line -4 pi rho0 r " << (options.line_terminated ? "terminated with them" : "added after their termination")
            << "; rho0 = " << digits_text(m->rho0, 8) << " atoms/A^3; N = " << digits_text(m->atoms, 8)
            << " atoms; " << m->pairs << " pair Gaussians\n";
  std::cout << "#L r G";
  for (const ModelPartial& p : m->partials) std::cout << " G_" << p.pair;
  std::cout << '\n';
  std::string line;
  for (std::size_t i = 0; i < m->r.size(); ++i) {
    line = digits_text(m->r[i], 10) + ' ' + digits_text(m->g[i], *digits);
    for (const ModelPartial& p : m->partials) line += ' ' + digits_text(p.g[i], *digits);
    line += '\n';
    std::cout << line;
  }
  return 0;
}

const std::string kModelHelp = model_help();

}  // namespace

const Subcommand kModelCommand{
    "model", run_model, table_names(true), table_names(false), "G(r) of a crystal structure or a box",
    kModelHelp.c_str()};

}  // namespace talvo::cli
