// pdf --radiation neutron: constant-wavelength neutron runs (the sample in
// its can, the empty can, the instrument's background, a vanadium rod) to
// dsigma/dOmega, S(Q), F(Q) and G(r), one sample or several with the same
// runs beside them, the corrections' factors made once for a 2theta grid.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "talvo/files/read.hpp"
#include "talvo/files/write.hpp"
#include "talvo/neutron/neutron_table.hpp"
#include "talvo/pdf/neutron_optimize.hpp"
#include "talvo/pdf/neutron_reduce.hpp"
#include "talvo/pdf/options.hpp"
#include "talvo/pdf/pdf_files.hpp"
#include "talvo/pdf/reduction_fields.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/json.hpp"
#include "talvo/text/quote.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSuffixes[] = {"dcs", "sq", "fq", "gr"};

std::string stem_of(const std::string& path) {
  std::string name = fs::path(path).filename().string();
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name.empty() ? std::string("pdf") : name;
}

Result<pdf::NeutronRun> read_run(const std::string& path, const std::string& what) {
  Result<std::string> text = read_whole_file(path);
  if (!text.ok()) return make_error(text.kind(), text.error().message + " (" + what + ")");
  Result<pdf::NeutronRun> run = pdf::parse_neutron_run(*text, escape_for_message(path));
  if (!run.ok()) return make_error(run.kind(), what + ": " + run.error().message);
  return run;
}

// What a reduction's files say beside its settings: the factors' and stages' notes, then the self term and
// the self-checks.
std::vector<std::string> notes_of(const pdf::NeutronReduction& r, const Options& options) {
  std::vector<std::string> notes = r.notes;
  const pdf::Diagnostics& d = r.diagnostics;
  notes.push_back("self term (sigma_s/4pi)(1 + P) from " + shortest(r.self.front()) + " to " + shortest(r.self.back()) +
                  " b/sr, |<b>|^2 " + shortest(r.b_mean_sq) + " b");
  if (options.given("rmin-iterate"))
    notes.push_back("rmin iterations: " + std::to_string(r.iterations) + ", residual " + shortest(r.residual));
  notes.push_back("mean of S(Q) from Q = " + shortest(d.high_q_from) + ": " + shortest(d.high_q_mean) + " +- " +
                  shortest(d.high_q_sigma));
  notes.push_back("lowest smoothed S(Q): " + shortest(d.lowest_smoothed) + " at Q = " + shortest(d.lowest_at) +
                  ", where its floor 1 - (sigma_s/4pi)(1 + P)/|<b>|^2 is " + shortest(d.floor_there));
  if (d.low_r_rms)
    notes.push_back("rms of G(r) + 4 pi rho0 r from 0.5 to " + shortest(options.number("rmin-check")) +
                    " A: " + shortest(*d.low_r_rms) + " (warned above " + shortest(d.low_r_level) + ")");
  return notes;
}

// BASE.dcs .sq .fq .gr, written whole and put in place together: their names.
Result<std::vector<std::string>> write_files(const std::string& base, const pdf::Parameters& p,
                                             const std::vector<std::string>& notes, const pdf::NeutronReduction& r) {
  struct Kind {
    const char* suffix;
    const char* title;
    const char* columns;
    const pdf::Curve* curve;
  };
  const Kind kinds[] = {
      {"dcs", "talvo-tools pdf: dsigma/dOmega per atom, b/sr", "columns: Q dsigma/dOmega sigma", &r.dcs},
      {"sq", "talvo-tools pdf: S(Q)", "columns: Q S sigma", &r.sq},
      {"fq", "talvo-tools pdf: F(Q) = Q [S(Q) - 1]", "columns: Q F sigma", &r.fq},
      {"gr", "talvo-tools pdf: G(r)", "columns: r G sigma", &r.gr},
  };
  std::vector<NewFile> files;
  std::vector<std::string> names;
  std::string text;
  for (const Kind& k : kinds) {
    text.clear();
    const std::span<const double> cols[] = {k.curve->x, k.curve->y, k.curve->sigma};
    pdf::append_table_text(text, k.title, p, notes, k.columns, cols);
    const std::string name = base + "." + k.suffix;
    Result<NewFile> f = NewFile::create(name);
    if (!f.ok()) return f.error();
    f->write(text);
    files.push_back(std::move(*f));
    names.push_back(name);
  }
  TALVO_RETURN_IF_ERROR(commit_together(files));
  return names;
}

// A sample's JSON line: its summary, files and warnings, or its error and warnings.
std::string json_line(const std::string& input, const pdf::NeutronReduction* r, const std::vector<std::string>& files,
                      const std::vector<std::string>& warnings, const Error* error, const std::string& fit_json = {}) {
  std::string line;
  {
    json::Object obj(line);
    obj.string("input", input);
    obj.string("radiation", "neutron");
    if (error) obj.string("error", error->message);
    if (r) {
      pdf::append_summary_json(obj, *r);
      json::Array f(obj.key("files"));
      for (const std::string& name : files) json::append_string(f.next(), name);
    }
    json::Array w(obj.key("warnings"));
    for (const std::string& t : warnings) json::append_string(w.next(), t);
  }
  line.insert(line.size() - 1, fit_json);
  return line;
}

// The reduction's options and factors with the parameters --optimize lists fitted, their notes and JSON.
struct Fitted {
  Options options;
  pdf::NeutronFactorSet factors;
  std::vector<std::string> notes;
  std::string json;
};

Result<Fitted> fitted(const pdf::NeutronRuns& runs, const pdf::NeutronFactorSet& factors, const Options& options,
                      const NeutronTable& table) {
  Result<pdf::NeutronOptimization> fit = pdf::optimize_neutron(runs, factors, options, table);
  if (!fit.ok()) return with_context(fit, "--optimize: ");
  std::vector<FitLine> lines;
  for (const pdf::NeutronFittedParameter& f : fit->parameters)
    lines.push_back({pdf::neutron_fitted_name(f.what), f.start, f.value, f.sigma, f.lower, f.upper, f.at_bound});
  Fitted out{std::move(fit->options), std::move(fit->factors), {}, {}};
  describe_fit(lines, fit->cost_before, fit->cost_after, fit->reductions, out.notes, out.json);
  out.notes.push_back("fit rounds: " + std::to_string(fit->rounds) +
                      (fit->rounds > 1 ? ", the factors made again about each fitted density" : ""));
  std::vector<std::string> warnings;
  for (const std::string& w : fit.warnings()) warnings.push_back("--optimize: " + w);
  return Result<Fitted>(std::move(out), std::move(warnings));
}

// A --config file's settings: a header of this reduction's files, or "key = value" lines; a header of
// another radiation's reduction is refused.
Result<pdf::SettingsFile> settings_of(const std::string& path) {
  Result<std::string> text = read_whole_file(path);
  if (!text.ok()) return make_error(text.kind(), text.error().message + " (--config)");
  constexpr std::string_view kAlso[] = {"radiation"};
  Result<pdf::SettingsFile> file = pdf::parse_table_settings(*text, path, pdf::neutron_reduction_options(), kAlso);
  if (!file.ok()) return with_context(file, "--config ");
  auto& values = file->options.values;
  if (const auto it = values.find("radiation"); it != values.end()) {
    if (option_text(it->second) != "neutron")
      return make_error(ErrorKind::kInvalidArgument, "--config " + escape_for_message(path) + " is of --radiation " +
                                                         escape_for_message(option_text(it->second)) +
                                                         ", not of the neutron reduction");
    values.erase(it);
    file->options.from_file.erase("radiation");
    file->options.origins.erase("radiation");
  }
  return file;
}

// True when `path` is the --config file itself.
bool is_config(const std::optional<std::string>& config, const std::string& path) {
  std::error_code ec;
  return config && fs::exists(path, ec) && fs::equivalent(path, *config, ec);
}

}  // namespace

bool names_neutron_settings(const std::string& path) {
  const Result<std::string> text = read_whole_file(path);
  if (!text.ok()) return false;
  for (std::string_view t : {std::string_view("# radiation = neutron\n"), std::string_view("radiation = neutron\n")})
    if (text->starts_with(t) || text->find("\n" + std::string(t)) != std::string::npos) return true;
  return false;
}

std::vector<std::string> neutron_pdf_value_options() {
  std::vector<std::string> names;
  for (const OptionSpec& o : pdf::neutron_reduction_options().options)
    if (o.type != OptionType::kFlag) names.push_back("--" + std::string(o.name));
  return names;
}

int run_neutron_pdf(const Args& a) {
  const OptionTable& table = pdf::neutron_reduction_options();
  std::vector<std::string> inputs;
  std::optional<std::string> prefix;
  for (std::size_t i = 0; i < a.positional.size(); ++i) {
    const std::string& p = a.positional[i];
    const bool operand = i >= a.operands_from;
    if (!operand && p == "-o") {
      if (i + 1 >= a.positional.size()) return usage(a, "-o needs a PREFIX or DIR/");
      if (prefix) return usage(a, "-o is given twice: give it once");
      prefix = a.positional[++i];
      continue;
    }
    if (!operand && p.size() > 1 && p[0] == '-')
      return usage(a, escape_for_message(p) + " is not an option of --radiation neutron");
    inputs.push_back(p);
  }
  OptionValues given;
  for (const auto& [name, value] : a.options) {
    const std::string key = name.substr(2);
    if (key == "radiation" || key == "json" || key == "config") continue;
    if (!find_option(table, key)) return usage(a, name + " is not an option of --radiation neutron");
    given.values[key] = value;
  }
  // The options in effect: the --config file's (a header of these files reruns its reduction), then the
  // command line's over them.
  const std::optional<std::string> config = a.get("--config");
  if (config) {
    Result<pdf::SettingsFile> file = settings_of(*config);
    if (!file.ok())
      return file.kind() == ErrorKind::kParseError || file.kind() == ErrorKind::kInvalidArgument
                 ? usage(a, file.error())
                 : input_error(a, file.error());
    if (inputs.empty() && file->input) inputs.push_back(*file->input);
    given = pdf::merged_options(file->options, given);
  }
  if (inputs.empty()) return usage(a, "give the SAMPLE run (the sample in its can, or --config FILE naming it)");
  const bool json = a.flag("--json");
  const Result<Options> options = read_options(table, given, Spelling::kCommandLine);
  if (!options.ok()) return usage(a, options.error());
  if (options->given("optimize")) {
    const auto fit = pdf::parse_neutron_fit_list(options->text("optimize"), "--optimize");
    if (!fit.ok()) return usage(a, fit.error());
    for (const pdf::NeutronFitSpec& f : *fit) {
      if (f.what == pdf::NeutronFitted::kCanScale && !options->given("can"))
        return usage(a, "--optimize can-scale needs --can");
      if (f.what == pdf::NeutronFitted::kDensity && !options->given("number-density") && !options->given("density"))
        return usage(a, "--optimize density needs --number-density or --density");
    }
  }
  for (const char* needed : {"background", "vanadium"})
    if (!options->given(needed)) return usage(a, std::string("the neutron reduction needs --") + needed + " FILE");
  if (prefix && inputs.size() > 1 && prefix->back() != '/')
    return usage(a, "-o " + escape_for_message(*prefix) + " names the files of one run: with several give -o DIR/");

  const auto base_of = [&](const std::string& input) {
    return !prefix ? stem_of(input) : prefix->back() == '/' ? (fs::path(*prefix) / stem_of(input)).string() : *prefix;
  };
  // A rerun from a header does not write over it.
  for (const std::string& input : inputs)
    for (const char* k : kSuffixes)
      if (is_config(config, base_of(input) + "." + k))
        return usage(a, escape_for_message(base_of(input) + "." + k) +
                            " is the --config file: give -o PREFIX or -o DIR/ to write the rerun elsewhere");

  // The runs beside the sample's, read once.
  std::map<std::string, pdf::NeutronRun> beside;
  for (const auto& [name, what] : {std::pair{"can", "--can"},
                                   {"background", "--background"},
                                   {"vanadium", "--vanadium"},
                                   {"vanadium-background", "--vanadium-background"}}) {
    if (!options->given(name)) continue;
    Result<pdf::NeutronRun> r = read_run(options->text(name), what);
    if (!r.ok()) return input_error(a, r.error());
    beside.emplace(name, std::move(*r));
  }
  const auto run_of = [&](const char* name) -> const pdf::NeutronRun* {
    const auto it = beside.find(name);
    return it == beside.end() ? nullptr : &it->second;
  };
  const Result<NeutronTable> neutrons = read_neutron_table(tools_data_folder().file("neutron_sears92.tsv"));
  if (!neutrons.ok()) return input_error(a, neutrons.error());

  // -o DIR/ makes its folder once the runs beside the sample's are read, and takes it away when nothing was
  // written into it.
  std::optional<FoldersMade> folders;
  if (prefix && prefix->back() == '/') {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(*prefix, ec))) {
      Result<FoldersMade> made = FoldersMade::make(*prefix);
      if (!made.ok())
        return input_error(a, "-o " + escape_for_message(*prefix) + ": cannot make the folder " +
                                  escape_for_message(*prefix) + ": " + made.error().message);
      folders = std::move(*made);
    }
  }
  std::optional<pdf::NeutronFactorSet> factors;
  int failures = 0;
  for (const std::string& input : inputs) {
    std::vector<std::string> warnings;
    const auto warn = [&](const std::string& w) {
      std::cerr << "talvo-tools pdf: warning: " << w << '\n';
      warnings.push_back(w);
    };
    const auto fail = [&](const Error& e) {
      ++failures;
      std::cerr << "talvo-tools pdf: " << (inputs.size() > 1 ? escape_for_message(input) + ": " : "") << e.message
                << '\n';
      if (json) std::cout << json_line(input, nullptr, {}, warnings, &e) << '\n' << std::flush;
    };
    Result<pdf::NeutronRun> sample = read_run(input, "the sample");
    if (!sample.ok()) {
      fail(sample.error());
      continue;
    }
    // The factors depend on the 2theta grid alone: a series on one grid makes them once.
    if (!factors || factors->two_theta != sample->two_theta) {
      Result<pdf::NeutronFactorSet> f = pdf::neutron_factors(sample->two_theta, *options, *neutrons);
      for (const std::string& w : f.warnings()) warn(w);
      if (!f.ok()) {
        if (f.kind() == ErrorKind::kInvalidArgument) return usage(a, f.error());
        fail(f.error());
        continue;
      }
      factors = std::move(*f);
    }
    const pdf::NeutronRuns runs{&*sample, run_of("can"), run_of("background"), run_of("vanadium"),
                                run_of("vanadium-background")};
    std::optional<Fitted> fit;
    if (options->given("optimize")) {
      Result<Fitted> f = fitted(runs, *factors, *options, *neutrons);
      for (const std::string& w : f.warnings()) warn(w);
      if (!f.ok()) {
        fail(f.error());
        continue;
      }
      fit = std::move(*f);
    }
    const Options& used = fit ? fit->options : *options;
    const Result<pdf::NeutronReduction> red = pdf::reduce_neutron(runs, fit ? fit->factors : *factors, used);
    if (!red.ok()) {
      fail(red.error());
      continue;
    }
    for (const std::string& w : red.warnings()) warn(w);
    const pdf::NeutronReduction& r = *red;

    const std::string base = base_of(input);
    // The header names its runs from its own folder: a rerun from it (--config) finds them from anywhere.
    const fs::path folder = fs::path(base).parent_path();
    pdf::Parameters p;
    p.emplace_back("input", path_from_folder(folder, input));
    p.emplace_back("radiation", "neutron");
    for (const auto& [name, value] : used.in_effect()) {
      const OptionSpec* spec = find_option(table, name);
      p.emplace_back(name, spec && spec->type == OptionType::kPath ? path_from_folder(folder, value) : value);
    }
    std::vector<std::string> notes = notes_of(r, used);
    if (fit) notes.insert(notes.end(), fit->notes.begin(), fit->notes.end());

    const Result<std::vector<std::string>> names = write_files(base, p, notes, r);
    if (!names.ok()) {
      fail(names.error());
      continue;
    }
    if (json) {
      std::cout << json_line(input, &r, *names, warnings, nullptr, fit ? fit->json : std::string()) << '\n';
    } else {
      for (const std::string& note : notes) std::cout << "# " << note << '\n';
      for (const std::string& name : *names) std::cout << "# wrote " << escape_for_message(name, 4096) << '\n';
    }
    std::cout << std::flush;
  }
  if (folders && failures == static_cast<int>(inputs.size())) folders->remove_if_empty();
  return failures > 0 ? 1 : 0;
}

}  // namespace talvo::cli
