// model: the G(r) of a structure (a CIF, a PDFfit .stru or an xyz box).
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "talvo/files/write.hpp"
#include "talvo/model/fit_plot.hpp"
#include "talvo/model/model_options.hpp"
#include "talvo/model/pdf_model.hpp"
#include "talvo/model/refine.hpp"
#include "talvo/neutron/neutron_table.hpp"
#include "talvo/structure/structure_files.hpp"
#include "talvo/text/json.hpp"
#include "talvo/text/quote.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

// Text from the user's files in a header line: its control bytes escaped, nothing cut.
std::string shown_text(const std::string& text) { return escape_for_message(text, text.size() + 1); }

std::vector<std::string> table_names(const OptionTable& table, bool flags, std::vector<std::string> own) {
  std::vector<std::string> out = std::move(own);
  for (const OptionSpec& o : table.options)
    if ((o.type == OptionType::kFlag) == flags) out.push_back("--" + std::string(o.name));
  return out;
}

Result<Options> table_values(const Args& a, const OptionTable& table) {
  OptionValues given;
  for (const auto& [name, value] : a.options)
    if (find_option(table, name.substr(2))) given.values[name.substr(2)] = value;
  return read_options(table, given, Spelling::kCommandLine);
}

// The header's "# key = value" lines.
void print_header(const OptionTable& table, const Options& values) {
  const std::string header = header_text(table, values);
  for (std::string_view text = header; !text.empty();) {
    const std::size_t end = text.find('\n');
    std::cout << "# " << text.substr(0, end) << '\n';
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
  }
}

Result<NeutronTable> table_for(const Options& values) {
  if (values.text("radiation") != "neutron") return NeutronTable{};
  return read_neutron_table(tools_data_folder().file("neutron_sears92.tsv"));
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
  Result<Options> values = table_values(a, model_option_table());
  if (!values.ok()) return usage(a, values.error());
  const Result<int> digits = digits_option(a);
  if (!digits.ok()) return usage(a, digits.error());
  Result<StruFile> file = read_structure(a.positional[0]);
  if (!report("model", file)) return 1;
  Result<NeutronTable> table = table_for(*values);
  if (!report("model", table)) return 1;
  const ModelOptions options = model_options_from(*values, &*table);
  Result<ModelResult> m = pdf_model(file->structure, options);
  if (!report("model", m)) return 1;
  std::cout << "# talvo-tools model\n# structure = " << shown_text(a.positional[0]) << '\n';
  print_header(model_option_table(), *values);
  std::cout << "# weights: " << m->weights_source << '\n';
  for (const ModelWeight& w : m->weights)
    std::cout << "#   " << shown_text(w.species) << ": f = " << digits_text(w.f, 8)
              << ", c = " << digits_text(w.concentration, 8) << '\n';
  std::cout << "# peaks divided by " << (options.peak_norm == PeakNorm::kGridR ? "the grid's r" : "r_ij")
            << "; the line -4 pi rho0 r "
            << (options.line_terminated ? "terminated with them" : "added after their termination")
            << "; rho0 = " << digits_text(m->rho0, 8) << " atoms/A^3; N = " << digits_text(m->atoms, 8) << " atoms; "
            << m->pairs << " pair Gaussians"
            << (m->pair_bin > 0 ? "; pairs binned by " + digits_text(m->pair_bin, 6) + " A before their Gaussians" : "")
            << '\n';
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

std::string refine_help() {
  return "usage: talvo-tools refine DATA STRUCTURE --refine LIST [options]\n"
         "DATA is a G(r) file (r G, r G dG, or PDFgetX2/N's r G dr dG after its header); STRUCTURE a .cif,\n"
         ".stru or .xyz. Fits the structure's G(r) to the data over --r FROM:TO by Levenberg-Marquardt with\n"
         "weights 1/dG^2 (1 where the file has no dG, which the output then says), and prints each\n"
         "parameter's value with two sigma: sigma from (J^T W J)^-1 at the minimum (as PDFfit2 prints it)\n"
         "and sigma_scaled, that times sqrt(reduced chi2); then Rw, chi2, reduced chi2, the iterations and\n"
         "the correlations above 0.9. A parameter that ends at its bound (occ at 1, qdamp at 0) has no\n"
         "sigma: both print as at-bound (null in JSON, beside \"at_bound\": true), with a warning.\n"
         "--json prints the same as JSON; --fit FILE writes r Gobs Gcalc diff, --cif FILE the refined\n"
         "structure with its uncertainties (the scaled sigma) in parentheses.\n"
         "options:\n" +
         usage_text(refine_option_table()) +
         "  --json      the result as JSON\n  --fit FILE  the fitted curve's rows\n  --cif FILE  the refined "
         "structure\n"
         "  --digits N  significant digits of the numbers (default 6)\n";
}

int run_refine(const Args& a) {
  if (a.positional.size() != 2) return usage(a, "give the G(r) file and the structure file");
  Result<Options> values = table_values(a, refine_option_table());
  if (!values.ok()) return usage(a, values.error());
  if (!values->given("refine")) return usage(a, "--refine names the parameters to fit");
  const Result<int> digits = digits_option(a);
  if (!digits.ok()) return usage(a, digits.error());
  RefineOptions o;
  const std::string range = values->text("r");
  const std::size_t colon = range.find(':');
  const Result<double> from = number(range.substr(0, colon), "--r FROM");
  const Result<double> to = colon == std::string::npos
                                ? Result<double>(make_error(ErrorKind::kParseError, "--r needs FROM:TO"))
                                : number(range.substr(colon + 1), "--r TO");
  if (!from.ok()) return usage(a, from.error());
  if (!to.ok()) return usage(a, to.error());
  o.rmin = *from, o.rmax = *to;
  std::string list;
  for (const std::string& item : values->list("refine")) list += (list.empty() ? "" : ",") + item;
  Result<std::vector<RefineParameter>> parameters = parse_refine_list(list);
  if (!parameters.ok()) return usage(a, parameters.error());
  o.parameters = *parameters;
  // --uiso sets every atom's U for good: a U that is also fitted would not move.
  if (values->given("uiso"))
    for (const RefineParameter& p : o.parameters)
      if (p.name == "uiso" || p.name.starts_with("uiso:") || p.name.starts_with("u11:") || p.name.starts_with("u22:") ||
          p.name.starts_with("u33:") || p.name.starts_with("u12:") || p.name.starts_with("u13:") ||
          p.name.starts_with("u23:"))
        return usage(a, "--uiso fixes every atom's U, so " + p.name + " cannot be fitted with it: give its start as " +
                            p.name + "=U instead");
  // The files it writes never replace what it reads.
  for (const char* option : {"--fit", "--cif", "--plot"})
    if (const auto path = a.get(option))
      for (const std::string& input : {a.positional[0], a.positional[1]})
        if (same_file(*path, input))
          return usage(a, std::string(option) + " " + escape_for_message(*path) + " would replace the input " +
                              escape_for_message(input) + ": give another name");
  Result<MeasuredPdf> data = read_measured_pdf(a.positional[0]);
  if (!report("refine", data)) return 1;
  Result<StruFile> file = read_structure(a.positional[1]);
  if (!report("refine", file)) return 1;
  Result<NeutronTable> table = table_for(*values);
  if (!report("refine", table)) return 1;
  o.model = model_options_from(*values, &*table);
  Result<RefineResult> fit = refine(file->structure, *data, o);
  if (!report("refine", fit)) return 1;
  const RefineResult& f = *fit;
  if (const auto path = a.get("--fit")) {
    Result<NewFile> out = NewFile::create(*path);
    if (!report("refine", out)) return 1;
    std::string text = "# r Gobs Gcalc diff: the fit of " + a.positional[1] + " to " + a.positional[0] + "\n";
    for (std::size_t i = 0; i < f.r.size(); ++i)
      text += digits_text(f.r[i], 10) + ' ' + digits_text(f.g_obs[i], *digits) + ' ' +
              digits_text(f.g_calc[i], *digits) + ' ' + digits_text(f.g_obs[i] - f.g_calc[i], *digits) + '\n';
    out->write(text);
    if (!report("refine", out->commit())) return 1;
  }
  if (const auto path = a.get("--plot")) {
    Result<NewFile> out = NewFile::create(*path);
    if (!report("refine", out)) return 1;
    out->write(fit_plot_svg(f, a.positional[1] + " fitted to " + a.positional[0]));
    if (!report("refine", out->commit())) return 1;
  }
  if (const auto path = a.get("--cif")) {
    Result<std::string> cif = cif_text(f.structure, f.uncertainties);
    if (!report("refine", cif)) return 1;
    Result<NewFile> out = NewFile::create(*path);
    if (!report("refine", out)) return 1;
    out->write("# refined by talvo-tools refine against " + a.positional[0] +
               "; uncertainties: sigma sqrt(reduced chi2)\n" + *cif);
    if (!report("refine", out->commit())) return 1;
  }
  if (a.flag("--json")) {
    std::string j = "{\"params\": {";
    for (std::size_t k = 0; k < f.parameters.size(); ++k) {
      const RefinedParameter& p = f.parameters[k];
      if (k) j += ", ";
      json::append_string(j, p.name);
      j += ": {\"value\": ";
      json::append_number(j, p.value);
      j += ", \"sigma\": ";
      json::append_number(j, p.sigma);
      j += ", \"sigma_scaled\": ";
      json::append_number(j, p.sigma_scaled);  // null with the sigma of one at its bound
      if (p.at_bound) j += ", \"at_bound\": true";
      j += "}";
    }
    j += "}, \"Rw\": ";
    json::append_number(j, f.rw);
    j += ", \"chi2\": ";
    json::append_number(j, f.chi2);
    j += ", \"chi2_reduced\": ";
    json::append_number(j, f.chi2_reduced);
    j += ", \"points\": " + std::to_string(f.points) + ", \"iterations\": " + std::to_string(f.iterations) +
         ", \"converged\": " + (f.converged ? "true" : "false") +
         ", \"unit_weights\": " + (f.unit_weights ? "true" : "false") + "}\n";
    std::cout << j;
    return 0;
  }
  std::cout << "# talvo-tools refine\n# data = " << shown_text(a.positional[0])
            << "\n# structure = " << shown_text(a.positional[1]) << '\n';
  print_header(refine_option_table(), *values);
  std::cout << "# weights: "
            << (f.unit_weights ? "1 for every point (the data have no dG)" : "1/dG^2 from the data's dG")
            << "\n# sigma: sqrt(diag((J^T W J)^-1)) at the minimum; sigma_scaled: sigma sqrt(reduced chi2)\n"
            << "#L name value sigma sigma_scaled\n";
  for (const RefinedParameter& p : f.parameters)
    std::cout << p.name << ' ' << digits_text(p.value, std::max(*digits, 8)) << ' '
              << (p.at_bound ? "at-bound at-bound" : digits_text(p.sigma, 3) + ' ' + digits_text(p.sigma_scaled, 3))
              << '\n';
  std::cout << "# Rw = " << digits_text(f.rw, *digits) << "\n# chi2 = " << digits_text(f.chi2, *digits)
            << "\n# chi2_reduced = " << digits_text(f.chi2_reduced, *digits) << "\n# points = " << f.points
            << "\n# iterations = " << f.iterations
            << (f.converged ? " (converged)" : " (not converged: the evaluation limit ended it)") << '\n';
  for (const std::string& c : f.correlated) std::cout << "# correlated above 0.9: " << c << '\n';
  return 0;
}

const std::string kModelHelp = model_help();
const std::string kRefineHelp = refine_help();

}  // namespace

const Subcommand kModelCommand{"model",
                               run_model,
                               table_names(model_option_table(), true, {}),
                               table_names(model_option_table(), false, {"--digits"}),
                               "G(r) of a crystal structure or a box",
                               kModelHelp.c_str()};
const Subcommand kRefineCommand{"refine",
                                run_refine,
                                table_names(refine_option_table(), true, {"--json"}),
                                table_names(refine_option_table(), false, {"--digits", "--fit", "--cif", "--plot"}),
                                "a structure refined against a measured G(r)",
                                kRefineHelp.c_str()};

}  // namespace talvo::cli
