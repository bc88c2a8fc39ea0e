// pdf: from measured powder patterns to S(Q), F(Q) and G(r), one or many in a run.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <numbers>
#include <optional>
#include <span>
#include <sstream>
#include <thread>

#include "talvo/files/files.hpp"
#include "talvo/pdf/neutron_reduce.hpp"
#include "talvo/pdf/optimize.hpp"
#include "talvo/pdf/options.hpp"
#include "talvo/pdf/pdf_files.hpp"
#include "talvo/pdf/plot.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/pdf/reduction_fields.hpp"
#include "talvo/pdf/zscan.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/grid.hpp"
#include "talvo/text/json.hpp"
#include "talvo/text/quote.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

namespace fs = std::filesystem;
using pdf::Spelling;

constexpr Spelling kSpelling = Spelling::kCommandLine;

// The command's own options, beside the reduction's.
constexpr OptionSpec kCommandOptions[] = {
    {.name = "output",
     .type = OptionType::kList,
     .doc = "the files written (default iq,sq,fq,gr and, with a density, gofr,rdf)",
     .metavar = "iq,sq,fq,gr,gofr,rdf"},
    {.name = "config",
     .type = OptionType::kPath,
     .doc = "settings from a header of these files or the reference program's",
     .metavar = "FILE"},
    {.name = "plot", .type = OptionType::kPath, .doc = "a four-panel picture of one pattern", .metavar = "FILE.svg"},
    {.name = "json", .type = OptionType::kFlag, .doc = "a summary, one JSON line a pattern"},
    {.name = "jobs",
     .type = OptionType::kWhole,
     .doc = "patterns reduced at a time (also -j N)",
     .default_text = "1",
     .metavar = "N"},
    {.name = "radiation",
     .type = OptionType::kChoice,
     .doc = "X-ray patterns, or constant-wavelength neutron runs (their options below)",
     .default_text = "xray",
     .choices = "xray|neutron"},
};

// The options that take a value: the reduction's, by the key their header line uses, and the command's own.
const std::vector<std::string> kValueOptions = [] {
  std::vector<std::string> names;
  for (const OptionSpec& o : pdf::reduction_option_table().options) names.push_back("--" + std::string(o.name));
  for (const OptionSpec& o : kCommandOptions)
    if (o.type != OptionType::kFlag) names.push_back("--" + std::string(o.name));
  for (const std::string& n : neutron_pdf_value_options())
    if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
  return names;
}();

// A file's whole text; the error says which file it was.
Result<std::string> read_text(const std::string& path, const char* what) {
  Result<std::string> text = read_whole_file(path);
  if (!text.ok()) return make_error(ErrorKind::kIoError, text.error().message + " (the " + what + ")");
  return text;
}

// A run's refusals: what the command line or the --config file's options ask wrongly is the request's
// fault, a file that cannot be used the data's; exit_status() tells how each ends talvo-tools.
Refusal wrong(std::string text) { return of_request(make_error(ErrorKind::kInvalidArgument, std::move(text))); }
// A file that cannot be used, `what` before the reason.
Refusal unusable(std::string text, ErrorKind kind = ErrorKind::kIoError) {
  return of_data(make_error(kind, std::move(text)));
}

// What every pattern of the run shares: read once.
struct Run {
  pdf::OptionValues options;
  std::optional<std::string> config;
  std::vector<std::string> inputs;
  std::vector<std::string> prefixes;  // of each input
  std::optional<std::vector<std::string>> outputs_asked;
  std::vector<std::string> outputs;
  std::optional<std::string> plot;
  bool json = false;
  unsigned jobs = 1;
  // Settings that hold for every pattern: none when a pattern's own wavelength (XRDML) may change them.
  std::optional<pdf::ReductionSettings> settings;
  // The background, read before any pattern; its error, when it could not be and no pattern may need it.
  std::optional<std::string> background_path;
  bool background_asked = false;
  std::optional<pdf::Pattern> background;
  std::optional<Error> background_error;
  std::vector<std::string> background_warnings;
  // The empty container's pattern and the capillary's z-scan, read once.
  std::optional<pdf::Pattern> container;
  std::optional<pdf::ZScan> zscan;
  std::vector<std::string> warnings;  // of the run as a whole
  // The folder -o DIR/ names where it is not there yet, and the folders made for it.
  std::optional<fs::path> folder_to_make;
  std::optional<FoldersMade> folders_made;
};

// A name's last part less its extension: "data/ni.chi" gives "ni".
std::string stem(const std::string& path) {
  std::string name = fs::path(path).filename().string();
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name.empty() ? std::string("pdf") : name;
}

// Each input's prefix. -o DIR/ names a folder that is made, with those above it, once the run is found
// sound (make_folder); -o PREFIX writes into a folder that is there.
Checked<Done> set_prefixes(Run& run, const std::optional<std::string>& prefix_arg, bool into_folder) {
  std::error_code ec;
  if (prefix_arg) {
    const fs::path folder = into_folder ? fs::path(*prefix_arg) : fs::path(*prefix_arg).parent_path();
    if (into_folder && !fs::exists(fs::symlink_status(folder, ec)))
      run.folder_to_make = folder;
    else if (!folder.empty() && !fs::is_directory(folder, ec))
      return unusable("-o " + escape_for_message(*prefix_arg) + ": there is no folder " +
                          escape_for_message(folder.string()) + " to write into",
                      ErrorKind::kNotFound);
  }
  for (const std::string& in : run.inputs) {
    if (!prefix_arg)
      run.prefixes.push_back(stem(in));
    else if (into_folder)
      run.prefixes.push_back((fs::path(*prefix_arg) / stem(in)).string());
    else
      run.prefixes.push_back(*prefix_arg);
  }
  return Done{};
}

// Makes the folder -o DIR/ names, remembering each folder made.
Checked<Done> make_folder(Run& run, const std::string& prefix_arg) {
  if (!run.folder_to_make) return Done{};
  Result<FoldersMade> made = FoldersMade::make(run.folder_to_make->string());
  if (!made.ok())
    return unusable("-o " + escape_for_message(prefix_arg) + ": cannot make the folder " +
                    escape_for_message(run.folder_to_make->string()) + ": " + made.error().message);
  run.folders_made = std::move(*made);
  return Done{};
}

// Each file of the run has one writer, and none replaces an input, the background or the --config file.
Checked<Done> check_destinations(const Run& run) {
  std::error_code ec;
  std::vector<std::pair<std::string, std::string>> sources;
  for (const std::string& in : run.inputs) sources.emplace_back("the input", in);
  if (const auto it = run.options.values.find("background"); it != run.options.values.end())
    sources.emplace_back("the background", pdf::option_text(it->second));
  for (const auto& [name, what] : {std::pair{"container", "the container"}, {"zscan", "the z-scan"}})
    if (const auto it = run.options.values.find(name); it != run.options.values.end())
      sources.emplace_back(what, pdf::option_text(it->second));
  if (run.config) sources.emplace_back("the --config file", *run.config);
  std::vector<std::pair<std::string, std::size_t>> destinations;
  for (std::size_t i = 0; i < run.inputs.size(); ++i) {
    for (const std::string& kind : run.outputs) destinations.emplace_back(run.prefixes[i] + "." + kind, i);
    if (run.plot) destinations.emplace_back(*run.plot, i);
  }
  std::vector<FileKey> source_keys;
  for (const auto& [what, path] : sources) source_keys.emplace_back(path);
  std::map<std::string, std::size_t> written;  // a destination's resolved name -> its index
  for (std::size_t d = 0; d < destinations.size(); ++d) {
    const auto& [name, i] = destinations[d];
    const FileKey key(name);
    for (std::size_t k = 0; k < sources.size(); ++k)
      if (key.same(source_keys[k])) {
        const auto& [what, path] = sources[k];
        return unusable("the output " + escape_for_message(name) + " would replace " + what +
                        (what == "the input" && run.inputs.size() > 1 ? " " + escape_for_message(path) : "") +
                        ": give another -o PREFIX or --plot");
      }
    const auto [earlier, fresh] = written.emplace(key.canonical, d);
    if (!fresh && destinations[earlier->second].second != i)
      return wrong(escape_for_message(run.inputs[destinations[earlier->second].second]) + " and " +
                   escape_for_message(run.inputs[i]) + " would both write " + escape_for_message(name) +
                   ": give them other names or reduce them apart");
    const fs::file_status st = fs::status(name, ec);
    if (fs::exists(st) && !fs::is_regular_file(st))
      return unusable("cannot write " + escape_for_message(name) + ": " +
                      (fs::is_directory(st) ? "it is a folder" : "it is not a regular file"));
  }
  return Done{};
}

// -o PREFIX and -j N among the inputs, --jobs and --json.
Checked<Done> read_command_line(const Args& a, Run& run, std::optional<std::string>& prefix_arg) {
  std::optional<std::string> jobs_arg = a.get("--jobs");
  for (std::size_t i = 0; i < a.positional.size(); ++i) {
    const std::string& p = a.positional[i];
    const bool operand = i >= a.operands_from;
    if (!operand && (p == "-o" || p == "-j")) {
      if (i + 1 >= a.positional.size()) return wrong(p == "-o" ? "-o needs a PREFIX or DIR/" : "-j needs N");
      std::optional<std::string>& slot = p == "-o" ? prefix_arg : jobs_arg;
      if (slot) return wrong(p + " is given twice: give it once");
      slot = a.positional[++i];
      continue;
    }
    if (!operand && p.size() > 1 && p[0] == '-') return wrong("unknown option " + escape_for_message(p));
    run.inputs.push_back(p);
  }
  if (jobs_arg) {
    // Any number outside 1 to 256, however large, is the same mistake as 257.
    const Result<int> k = integer(*jobs_arg, "-j");
    if (!k.ok() && k.kind() != ErrorKind::kOutOfRange) return of_request(k.error());
    if (!k.ok() || *k < 1 || *k > 256) return wrong("-j must be 1 to 256 threads, not " + quote_for_message(*jobs_arg));
    const int j = *k;
    run.jobs = static_cast<unsigned>(j);
  }
  run.json = a.flag("--json");
  return Done{};
}

// The options in effect: the --config file's, then the command line's over them; the input the file names
// where the command line gives none.
Checked<pdf::SettingsFile> read_options(const Args& a, Run& run) {
  pdf::SettingsFile file;
  if (const auto config = a.get("--config")) {
    run.config = config;
    const Result<std::string> text = read_text(*config, "--config");
    if (!text.ok()) return of_data(text.error());
    const Result<pdf::SettingsFile> f = pdf::parse_settings(*text, *config);
    if (!f.ok()) return of_data(with_context(f, "--config "));
    file = *f;
    if (!file.unused.empty()) {
      std::string keys;
      for (const std::string& k : file.unused) keys += (keys.empty() ? "" : ", ") + escape_for_message(k);
      run.warnings.push_back("--config " + escape_for_message(*config) + ": not used by talvo-tools pdf: " + keys);
    }
  }
  pdf::OptionValues asked;
  for (const auto& [k, v] : a.options)
    if (pdf::is_reduction_option(k.substr(2))) asked.values[k.substr(2)] = v;
  run.options = pdf::merged_options(file.options, asked);
  if (run.inputs.empty() && file.input) run.inputs.push_back(*file.input);
  if (run.inputs.empty()) return wrong("give the INPUT pattern (or --config FILE naming it)");
  return file;
}

// The options alone, before any file is read.
Checked<Done> check_settings(Run& run) {
  bool any_xrdml = false;
  for (const std::string& in : run.inputs) {
    const Result<pdf::InputChoice> choice = pdf::input_choice(run.options, in, kSpelling);
    if (!choice.ok()) return of_request(choice.error());
    any_xrdml = any_xrdml || choice->format == pdf::InputFormat::kXrdml;
  }
  // Text patterns bring no wavelength: their settings are the same for all. An XRDML file's own wavelength
  // may settle what is missing, but never makes a wrong choice right.
  Result<pdf::ReductionSettings> settings = pdf::reduction_settings(run.options, std::nullopt, kSpelling);
  if (settings.ok() && !any_xrdml) run.settings = *settings;
  if (!settings.ok() &&
      (!any_xrdml || settings.kind() == ErrorKind::kInvalidArgument || settings.kind() == ErrorKind::kParseError))
    return of_request(settings.error());
  return Done{};
}

// Which files, and the plot.
Checked<Done> choose_outputs(const Args& a, const pdf::SettingsFile& file, Run& run) {
  if (const auto o = a.get("--output")) {
    Result<std::vector<std::string>> list = pdf::output_list(*o, kSpelling);
    if (!list.ok()) return of_request(list.error());
    run.outputs_asked = std::move(*list);
  } else if (file.outputs) {
    run.outputs_asked = file.outputs;
  }
  const bool dense = run.options.values.count("density") || run.options.values.count("number-density");
  // g(r) and R(r) need the number density: by default they are written where it is known.
  run.outputs = run.outputs_asked ? *run.outputs_asked : std::vector<std::string>{"iq", "sq", "fq", "gr"};
  if (!run.outputs_asked && dense) run.outputs.insert(run.outputs.end(), {"gofr", "rdf"});
  for (const std::string& kind : run.outputs)
    if ((kind == "gofr" || kind == "rdf") && !dense)
      return unusable("--output " + kind +
                      ": g(r) and R(r) need the number density: give --density G or "
                      "--number-density N");
  if (const auto plot = a.get("--plot")) {
    if (plot->size() < 5 || plot->compare(plot->size() - 4, 4, ".svg") != 0)
      return wrong("--plot writes an SVG picture: give a FILE.svg, not " + quote_for_message(*plot));
    if (run.inputs.size() > 1) return wrong("--plot FILE.svg draws one pattern: give one INPUT with it");
    run.plot = plot;
  }
  return Done{};
}

// Where the files go: each input's prefix, each file with one writer and none replacing what the run reads.
Checked<Done> place_outputs(Run& run, const std::optional<std::string>& prefix_arg) {
  if (prefix_arg && prefix_arg->empty()) return wrong("-o needs a PREFIX or DIR/, not an empty name");
  std::error_code ec;
  const bool into_folder = prefix_arg && (prefix_arg->back() == '/' || fs::is_directory(*prefix_arg, ec));
  if (prefix_arg && !into_folder && run.inputs.size() > 1)
    return wrong("-o " + escape_for_message(*prefix_arg) + " names the files of one pattern: with " +
                 std::to_string(run.inputs.size()) + " inputs give a folder, -o DIR/");
  if (Checked<Done> prefixes = set_prefixes(run, prefix_arg, into_folder); !ok(prefixes)) return refusal(prefixes);
  return check_destinations(run);
}

// The background: read once, unless asked at scale 0. One named by --config that is not there stops only
// the patterns that need it (the reference program's I(Q) has it subtracted already).
Checked<Done> read_background(Run& run) {
  const auto it = run.options.values.find("background");
  if (it == run.options.values.end()) return Done{};
  run.background_path = pdf::option_text(it->second);
  run.background_asked = !run.options.from_file.count("background");
  const bool zero = run.settings && run.settings->options.bg_scale == 0.0;
  if (zero) return Done{};
  const Result<pdf::InputChoice> choice = pdf::input_choice(run.options, *run.background_path, kSpelling);
  if (!choice.ok()) return of_request(choice.error());
  Result<pdf::Pattern> bg = pdf::read_input(*run.background_path, *choice, kSpelling);
  if (bg.ok()) {
    for (const std::string& w : bg.warnings()) run.background_warnings.push_back("--background: " + w);
    run.background = std::move(*bg);
  } else if (run.background_asked) {
    return of_data(with_context(bg, "--background: "));
  } else if (bg.kind() == ErrorKind::kNotFound) {
    run.background_error =
        make_error(ErrorKind::kNotFound, "--config " + escape_for_message(*run.config) + " names the background " +
                                             escape_for_message(*run.background_path) +
                                             ", which is not there: give --background FILE, or --bg-scale 0 to reduce "
                                             "without one");
  } else {
    run.background_error = with_context(bg, "--background: ");
  }
  return Done{};
}

// The empty container's pattern and the capillary's z-scan, read once.
Checked<Done> read_container_and_zscan(Run& run) {
  if (const auto it = run.options.values.find("container"); it != run.options.values.end()) {
    const std::string path = pdf::option_text(it->second);
    const Result<pdf::InputChoice> choice = pdf::input_choice(run.options, path, kSpelling);
    if (!choice.ok()) return of_request(choice.error());
    Result<pdf::Pattern> c = pdf::read_input(path, *choice, kSpelling);
    if (!c.ok()) return of_data(with_context(c, "--container: "));
    for (const std::string& w : c.warnings()) run.warnings.push_back("--container: " + w);
    run.container = std::move(*c);
  }
  if (const auto it = run.options.values.find("zscan"); it != run.options.values.end()) {
    Result<pdf::ZScan> rows = pdf::read_zscan(pdf::option_text(it->second));
    if (!rows.ok()) return of_data(with_context(rows, "--zscan: "));
    run.zscan = std::move(*rows);
  }
  return Done{};
}

Checked<Run> run_of(const Args& a) {
  Run run;
  std::optional<std::string> prefix_arg;
  if (Checked<Done> line = read_command_line(a, run, prefix_arg); !ok(line)) return refusal(line);
  Checked<pdf::SettingsFile> file = read_options(a, run);
  if (!ok(file)) return refusal(file);
  if (Checked<Done> settings = check_settings(run); !ok(settings)) return refusal(settings);
  if (Checked<Done> outputs = choose_outputs(a, std::get<pdf::SettingsFile>(file), run); !ok(outputs))
    return refusal(outputs);
  if (Checked<Done> placed = place_outputs(run, prefix_arg); !ok(placed)) return refusal(placed);
  if (Checked<Done> bg = read_background(run); !ok(bg)) return refusal(bg);
  if (Checked<Done> read = read_container_and_zscan(run); !ok(read)) return refusal(read);
  if (prefix_arg)
    if (Checked<Done> made = make_folder(run, *prefix_arg); !ok(made)) return refusal(made);
  return run;
}

// One pattern's reduction, the text of its files (written only when they go in place) and what the run prints
// of it.
struct Job {
  bool done = false;
  std::optional<Error> error;
  bool used_background = false;
  std::vector<std::string> warnings;
  std::vector<std::string> texts;  // of the files `names`
  std::vector<std::string> names;
  std::vector<std::string> notes;
  std::string json;  // its line less "files" and "warnings"
};

// A pattern read, with the settings it is reduced with.
struct Ready {
  std::optional<pdf::InputChoice> choice;
  std::optional<pdf::Pattern> sample;
  std::optional<pdf::ReductionSettings> settings;
  const pdf::Pattern* background = nullptr;
  std::vector<std::string> fit_notes;
  std::string fit_json;  // the same in the summary
};

// Reads pattern `index` and makes its settings (z-scan and fits included), its warnings into the job; the
// error when it cannot be reduced.
Outcome ready_one(const Run& run, std::size_t index, Job& job, Ready& ready) {
  const std::string& input = run.inputs[index];
  Result<pdf::InputChoice> choice = pdf::input_choice(run.options, input, kSpelling);
  if (!choice.ok()) return choice.error();
  ready.choice = *choice;
  Result<pdf::Pattern> read = pdf::read_input(input, *choice, kSpelling);
  if (!read.ok()) return read.error();
  job.warnings = read.warnings();
  ready.sample = std::move(*read);
  const std::optional<pdf::Pattern>& sample = ready.sample;
  std::optional<pdf::ReductionSettings> own;
  if (!run.settings) {
    Result<pdf::ReductionSettings> s = pdf::reduction_settings(run.options, sample->wavelength, kSpelling);
    if (!s.ok()) return s.error();
    for (const std::string& w : s.warnings()) job.warnings.push_back(w);
    own = std::move(*s);
  }
  ready.settings = run.settings ? *run.settings : *own;
  pdf::ReductionSettings& settings = *ready.settings;

  // The background: not subtracted a second time from the reference program's I(Q), unless asked now.
  const pdf::Pattern* background = nullptr;
  if (run.background_path && settings.options.bg_scale != 0.0) {
    if (sample->subtracted_background && !run.background_asked) {
      job.warnings.push_back(escape_for_message(input) + " is the reference program's I(Q), its background (" +
                             escape_for_message(*sample->subtracted_background) +
                             ") subtracted already: the background that --config names is not subtracted again");
    } else {
      if (run.background_error) return *run.background_error;
      if (sample->subtracted_background)
        job.warnings.push_back(escape_for_message(input) + " is the reference program's I(Q), its background (" +
                               escape_for_message(*sample->subtracted_background) +
                               ") subtracted already: --background is subtracted from it as asked");
      background = &*run.background;
      job.used_background = true;
    }
  }

  if (!background) settings.options.bg_scale = 1.0;  // a scale with nothing to scale

  // The z-scan's mu D and beam width, each where not given; then the parameters to fit.
  std::vector<std::string>& fit_notes = ready.fit_notes;
  std::string& fit_json = ready.fit_json;
  const auto json_value = [](double v, double sigma) {
    std::string out;
    json::Object obj(out);
    obj.number("value", v);
    obj.number("sigma", sigma);
    return out;
  };
  if (run.zscan) {
    const Result<pdf::ZScanFit> z = pdf::apply_zscan(*run.zscan, settings);
    if (!z.ok())
      return with_context(z, "--zscan " + escape_for_message(pdf::option_text(run.options.values.at("zscan"))) + ": ");
    for (const std::string& w : z.warnings()) job.warnings.push_back("--zscan: " + w);
    fit_notes.push_back("z-scan: mu D " + shortest(z->mu_d.value) + " +- " + shortest(z->mu_d.sigma) + ", beam width " +
                        shortest(z->width.value) + " +- " + shortest(z->width.sigma) + " mm (" +
                        std::string(pdf::beam_profile_name(settings.options.beam_profile)) + "), centre " +
                        shortest(z->centre.value) + " +- " + shortest(z->centre.sigma) + " mm, chi2 per point " +
                        shortest(z->residual_variance));
    fit_json += ", \"zscan\": {\"mu_d\": " + json_value(z->mu_d.value, z->mu_d.sigma) +
                ", \"beam_width\": " + json_value(z->width.value, z->width.sigma) +
                ", \"centre\": " + json_value(z->centre.value, z->centre.sigma) + ", \"chi2_per_point\": ";
    json::append_number(fit_json, z->residual_variance);
    fit_json += "}";
  }
  const pdf::Inputs inputs{&*sample, background, run.container ? &*run.container : nullptr};
  if (!settings.optimize.empty()) {
    const Result<pdf::Optimization> fit = pdf::optimize(inputs, settings.options, settings.optimize);
    if (!fit.ok()) return with_context(fit, "--optimize: ");
    for (const std::string& w : fit.warnings()) job.warnings.push_back("--optimize: " + w);
    std::vector<FitLine> lines;
    for (const pdf::FittedParameter& f : fit->parameters)
      lines.push_back({pdf::fitted_name(f.what), f.start, f.value, f.sigma, f.lower, f.upper, f.at_bound});
    describe_fit(lines, fit->cost_before, fit->cost_after, fit->reductions, fit_notes, fit_json);
    settings.options = fit->options;
  }
  ready.background = background;
  return Done{};
}

pdf::Inputs inputs_of(const Run& run, const Ready& ready) {
  return {&*ready.sample, ready.background, run.container ? &*run.container : nullptr};
}

// Pattern `index`'s files, formatted but not yet written, and its summary.
void write_one(const Run& run, std::size_t index, Job& job, const Ready& ready, const Result<pdf::Reduction>& red,
               std::string& text) {
  const std::string& input = run.inputs[index];
  const auto failed = [&job](const Error& e) { job.error = e; };
  if (!red.ok()) return failed(red.error());
  for (const std::string& w : red.warnings()) job.warnings.push_back(w);
  const pdf::Reduction& r = *red;
  const pdf::ReductionSettings& settings = *ready.settings;
  const pdf::ReductionOptions& o = settings.options;
  const pdf::Pattern* const background = ready.background;
  const std::string& fit_json = ready.fit_json;

  // The header names its files from its own folder: a rerun from it (--config) finds them from anywhere.
  const fs::path folder = fs::path(run.prefixes[index]).parent_path();
  const auto from_folder = [&folder](const std::string& path) { return path_from_folder(folder, path); };
  pdf::RunRecord record;
  record.input = from_folder(input);
  record.choice = pdf::as_read(*ready.choice, *ready.sample);
  record.settings = settings;
  if (background) record.background = from_folder(*run.background_path);
  if (run.container) record.container = from_folder(pdf::option_text(run.options.values.at("container")));
  if (run.zscan) record.zscan = from_folder(pdf::option_text(run.options.values.at("zscan")));
  record.qmax = r.qmax;
  record.outputs = run.outputs_asked;
  const pdf::Parameters p = pdf::header_parameters(record);

  std::vector<std::string>& notes = job.notes;
  notes = pdf::header_notes(settings, r, ready.fit_notes);

  // The files are written when the pattern's turn comes to put them in place (place_files): a pattern
  // reduced ahead holds no file open and no room on the disk.
  const std::string& prefix = run.prefixes[index];
  for (const std::string& kind : run.outputs) {
    text.clear();
    pdf::append_output_text(text, kind, p, notes, r);
    job.texts.push_back(text);
    job.names.push_back(prefix + "." + kind);
  }
  if (run.plot) {
    job.texts.push_back(pdf::plot_svg(r, o.mode, input));
    job.names.push_back(*run.plot);
  }

  std::string& j = job.json;
  json::Object obj(j);
  obj.string("input", input);
  pdf::append_summary_json(obj, r, o);
  if (!fit_json.empty()) j += fit_json;
  json::Array outliers(obj.key("outliers"));
  for (const double x : r.outliers) json::append_number(outliers.next(), x);
}

// Writes a pattern's files and puts them in place together, after the previous pattern's are: every file is
// written whole before any takes its name, the disk starting on each while the next is written.
Outcome place_files(Job& job) {
  std::vector<NewFile> files;
  for (std::size_t k = 0; k < job.names.size(); ++k) {
    Result<NewFile> f = NewFile::create(job.names[k]);
    if (!f.ok()) return f.error();
    f->write(job.texts[k]);
    std::string().swap(job.texts[k]);
    (void)f->start_writeback();
    files.push_back(std::move(*f));
  }
  return commit_together(files);
}

// A pattern that memory ran out for: nothing of it is kept.
void out_of_memory(Job& job) {
  job = Job{};
  job.error = make_error(ErrorKind::kOutOfMemory, "out of memory");
}

// Patterns first .. first + jobs.size() - 1: read, reduced together (a
// series shares the transform's sines; each result is the one it has alone)
// and written, each into its job.
void reduce_group(const Run& run, std::size_t first, std::span<Job> jobs, std::string& text) {
  std::vector<Ready> ready(jobs.size());
  std::vector<std::size_t> reducible;
  for (std::size_t k = 0; k < jobs.size(); ++k) {
    try {
      if (const Outcome r = ready_one(run, first + k, jobs[k], ready[k]); r.ok())
        reducible.push_back(k);
      else
        jobs[k].error = r.error();
    } catch (const std::bad_alloc&) {
      out_of_memory(jobs[k]);
    }
  }
  // The reductions of a group are held until they are written: patterns of
  // many points, or with a long r grid, share a pass with fewer others.
  constexpr double kPointsTogether = 1e6;
  const auto points = [&](std::size_t k) {
    const pdf::ReductionOptions& o = ready[k].settings->options;
    const double r = grid_count(o.rmin, o.rmax, o.rstep);
    return static_cast<double>(ready[k].sample->x.size()) + (std::isfinite(r) ? r : kPointsTogether);
  };
  for (std::size_t from = 0; from < reducible.size();) {
    std::size_t to = from + 1;
    for (double sum = points(reducible[from]); to < reducible.size(); ++to) {
      sum += points(reducible[to]);
      if (sum > kPointsTogether) break;
    }
    std::vector<pdf::Inputs> inputs;
    std::vector<pdf::ReductionOptions> options;
    for (std::size_t i = from; i < to; ++i) {
      inputs.push_back(inputs_of(run, ready[reducible[i]]));
      options.push_back(ready[reducible[i]].settings->options);
    }
    const std::vector<Result<pdf::Reduction>> reduced = pdf::reduce_together(inputs, options);
    for (std::size_t i = from; i < to; ++i) {
      Job& job = jobs[reducible[i]];
      try {
        write_one(run, first + reducible[i], job, ready[reducible[i]], reduced[i - from], text);
      } catch (const std::bad_alloc&) {
        out_of_memory(job);
      }
    }
    from = to;
  }
}

// A line of progress on standard error, where it is a terminal: done/total, patterns a second, time left.
class Progress {
 public:
  explicit Progress(std::size_t total)
      : total_(total), shown_(total > 1 && isatty(STDERR_FILENO)), start_(std::chrono::steady_clock::now()) {}
  void update(std::size_t done) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    // Redrawn at most ten times a second, and whenever a message took it off.
    if (done < total_ && width_ != 0 && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    char line[160];
    std::snprintf(line, sizeof line, "\rtalvo-tools pdf: %zu/%zu patterns, %.1f patterns/s, %.0f s left ", done, total_,
                  rate, rate > 0 ? static_cast<double>(total_ - done) / rate : 0.0);
    std::cerr << line << std::flush;
    width_ = std::string_view(line).size();
  }
  // Takes the line off before a message, or at the end.
  void clear() {
    if (!shown_ || width_ == 0) return;
    std::cerr << '\r' << std::string(width_, ' ') << '\r' << std::flush;
    width_ = 0;
  }

 private:
  std::size_t total_;
  bool shown_;
  std::chrono::steady_clock::time_point start_, last_{};
  std::size_t width_ = 0;
};

// How many patterns may be read and reduced ahead of the one being put in place: a few groups per thread.
// Only that one's files are open (and take room on the disk) at a time; the threads reading ahead open their
// inputs beside them. Where the limit on open files leaves no room for those, no pattern is read ahead: the run
// holds open what one pattern alone does.
std::size_t patterns_ahead(const Run& run) {
  std::size_t ahead = 2 * pdf::kReducedTogether * static_cast<std::size_t>(run.jobs);
  if (rlimit open{}; getrlimit(RLIMIT_NOFILE, &open) == 0 && open.rlim_cur != RLIM_INFINITY) {
    const std::size_t per_pattern = run.outputs.size() + (run.plot ? 1 : 0);
    // Standard streams, the folders and list of a set, clean-up and tables read on first use.
    constexpr std::size_t kAlone = 16;
    const std::size_t readers = 2 * static_cast<std::size_t>(run.jobs);
    if (open.rlim_cur < kAlone + per_pattern + readers) ahead = 1;
  }
  return ahead;
}

// What the run prints of pattern i once its files are in place (or it failed): its warnings and error on
// standard error, its JSON line or its notes and the files written on standard output; the background's
// warnings before the first pattern that used it.
void print_job(const Run& run, std::size_t i, const Job& job, bool& background_told) {
  const std::size_t n = run.inputs.size();
  std::vector<std::string> warnings = job.warnings;
  if (job.used_background)
    warnings.insert(warnings.begin(), run.background_warnings.begin(), run.background_warnings.end());
  if (job.used_background && !background_told) {
    for (const std::string& w : run.background_warnings) std::cerr << "talvo-tools pdf: warning: " << w << '\n';
    background_told = true;
  }
  // In a batch each message names its pattern, unless it does already.
  const std::string input = escape_for_message(run.inputs[i], 4096);
  const auto named = [&](const std::string& message) {
    return n == 1 || message.starts_with(run.inputs[i]) || message.starts_with(escape_for_message(run.inputs[i]))
               ? message
               : input + ": " + message;
  };
  for (const std::string& w : job.warnings) std::cerr << "talvo-tools pdf: warning: " << named(w) << '\n';
  if (job.error) {
    std::cerr << "talvo-tools pdf: " << named(job.error->message) << '\n';
  }
  if (run.json) {
    std::string line;
    if (job.error) {
      json::Object obj(line);
      obj.string("input", run.inputs[i]);
      obj.string("error", job.error->message);
      json::Array w(obj.key("warnings"));
      for (const std::string& s : warnings) json::append_string(w.next(), s);
    } else {
      line = job.json;
      line.pop_back();  // the closing brace: files and warnings follow
      line += ", \"files\": [";
      for (std::size_t k = 0; k < job.names.size(); ++k) json::append_string(line += k ? ", " : "", job.names[k]);
      line += "], \"warnings\": [";
      for (std::size_t k = 0; k < warnings.size(); ++k) json::append_string(line += k ? ", " : "", warnings[k]);
      line += "]}";
    }
    std::cout << line << '\n';
  } else if (!job.error) {
    for (const std::string& note : job.notes) std::cout << "# " << note << '\n';
    for (const std::string& name : job.names) std::cout << "# wrote " << escape_for_message(name, 4096) << '\n';
  }
}

int run_pdf(const Args& a) {
  if (const auto radiation = a.get("--radiation"); radiation && *radiation != "xray") {
    if (*radiation == "neutron") return run_neutron_pdf(a);
    return usage(a, "--radiation is xray or neutron, not " + quote_for_message(*radiation));
  }
  // A neutron reduction's header reruns it without --radiation neutron.
  if (const auto config = a.get("--config"); config && !a.get("--radiation") && names_neutron_settings(*config))
    return run_neutron_pdf(a);
  for (const auto& [name, value] : a.options)
    if (!pdf::is_reduction_option(name.substr(2)) &&
        !find_option(OptionTable{"talvo-tools pdf", kCommandOptions}, name.substr(2)))
      return usage(a, name + " is an option of --radiation neutron");
  Checked<Run> ran = run_of(a);
  if (!ok(ran)) return refuse(a, refusal(ran));
  Run& run = std::get<Run>(ran);
  const std::size_t n = run.inputs.size();
  for (const std::string& w : run.warnings) std::cerr << "talvo-tools pdf: warning: " << w << '\n';

  std::vector<Job> jobs(n);
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t committed = 0;  // patterns whose files are in place and whose lines are printed
  // Patterns go in groups reduced together, a few groups per thread ahead of the one being put in place.
  const std::size_t group = pdf::kReducedTogether;
  const std::size_t ahead = patterns_ahead(run);
  const auto group_at = [&](std::size_t first, std::vector<Job>& into, std::string& text) {
    into.clear();
    into.resize(std::min(group, n - first));
    try {
      reduce_group(run, first, into, text);
    } catch (const std::bad_alloc&) {  // none of the group's files is in place yet
      for (Job& job : into) out_of_memory(job);
    }
    for (Job& job : into) job.done = true;
  };
  // The text of the files reduced ahead is held in memory: past a budget, no further group is started until
  // the patterns before it are in place (the one next in turn always goes on).
  constexpr std::size_t kHeldBudget = std::size_t{256} << 20;
  std::size_t held = 0;  // bytes of text in patterns reduced and not yet in place
  const auto text_size = [](const Job& job) {
    std::size_t bytes = 0;
    for (const std::string& t : job.texts) bytes += t.size();
    return bytes;
  };
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    std::string text;
    std::vector<Job> done;
    for (std::size_t i; (i = next.fetch_add(group)) < n;) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return i <= committed || (i < committed + ahead && held < kHeldBudget); });
      }
      group_at(i, done, text);
      std::lock_guard lock(mutex);
      for (const Job& job : done) held += text_size(job);
      std::move(done.begin(), done.end(), jobs.begin() + static_cast<std::ptrdiff_t>(i));
      changed.notify_all();
    }
  };
  // Only this thread takes the signals that end a run: it holds them while a pattern's files change names.
  std::vector<std::thread> threads;
  if (run.jobs > 1) {
    sigset_t ending, old;
    sigemptyset(&ending);
    for (int sig : {SIGHUP, SIGINT, SIGTERM, SIGQUIT}) sigaddset(&ending, sig);
    pthread_sigmask(SIG_BLOCK, &ending, &old);
    for (unsigned t = 0; t < run.jobs; ++t) threads.emplace_back(work);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }

  Progress progress(n);
  std::string text;  // one buffer for every file of the run, on one thread
  std::size_t failures = 0;
  bool background_told = false;
  for (std::size_t i = 0; i < n; ++i) {
    Job job;
    if (run.jobs > 1) {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return jobs[i].done; });
      job = std::move(jobs[i]);
      held -= text_size(job);
    } else {
      if (i % group == 0) {
        std::vector<Job> done;
        group_at(i, done, text);
        std::move(done.begin(), done.end(), jobs.begin() + static_cast<std::ptrdiff_t>(i));
      }
      job = std::move(jobs[i]);
    }
    if (!job.error) {
      if (const Outcome placed = place_files(job); !placed.ok()) job.error = placed.error();
    }
    job.texts.clear();
    progress.clear();
    if (job.error) ++failures;
    print_job(run, i, job, background_told);
    // A pattern's lines are out once its files are in place: a run stopped later keeps them.
    std::cout << std::flush;
    {
      std::lock_guard lock(mutex);
      committed = i + 1;
      changed.notify_all();
    }
    progress.update(i + 1);
  }
  progress.clear();
  for (std::thread& t : threads) t.join();
  if (failures == n && run.folders_made) run.folders_made->remove_if_empty();
  if (n > 1 && failures > 0) std::cerr << "talvo-tools pdf: " << failures << " of " << n << " patterns failed\n";
  return failures > 0 ? 1 : 0;
}

// The help: the options from the reduction's table and the command's, then how the reduction reads and corrects.
const std::string kPdfHelp =
    "usage: talvo-tools pdf INPUT... --composition FORMULA [OPTIONS] [-o PREFIX | -o DIR/]\n"
    "       talvo-tools pdf --radiation neutron SAMPLE... --sample FORMULA --background FILE --vanadium FILE\n"
    "                       [--can FILE --container FORMULA ...] [NEUTRON OPTIONS] [-o PREFIX | -o DIR/]\n"
    "options of the reduction (their names also the keys of --config's \"key = value\" lines):\n" +
    usage_text(pdf::reduction_option_table()) + "options of the command:\n" +
    usage_text(OptionTable{"talvo-tools pdf", kCommandOptions}) +
    "options of --radiation neutron (SAMPLE runs: rows \"2theta counts [sigma]\", a \"# monitor N\" line,\n"
    "and \"# wavelength L\" where known; writes NAME.dcs .sq .fq .gr; --config FILE takes the options and\n"
    "the SAMPLE from a header of those files, so that pdf --config NAME.gr -o DIR/ reruns it; --optimize\n"
    "fits its parameters with their sigmas; -o, --json as the X-ray reduction's):\n" +
    usage_text(pdf::neutron_reduction_options()) +
    std::string(
        "INPUT: an XRDML file (scans summed, or --scan K; the wavelength from the file, Kalpha1 when it\n"
        "intends \"K-Alpha 1\", Kalpha2 or Kbeta for \"K-Alpha 2\" or \"K-Beta\") or text rows \"x I [sigma]\"\n"
        "(x: 2theta in degrees, Q in 1/A or 1/nm; lines beginning with #, ' or ! skipped). A Fit2D .chi\n"
        "header (title, x name, y name, point count), pyFAI's column line (\"#  q_A^-1  I\") and the\n"
        "reference program's (PDFgetX3) I(Q) output (its [PDF] block, #### start data, #S, #L names)\n"
        "are read too, the x unit from their x name where it says (\"Q (Inverse Nanometres)\",\n"
        "\"Q($\\AA^{-1}$)\", \"2th_deg\"), else from --format; an x that is neither (\"Radial distance (mm)\",\n"
        "\"r_mm\") is refused unless --format says what it holds. Without sigma: sqrt(counts) for whole counts,\n"
        "else sqrt(I) scaled to the scatter between neighbouring points (with a warning).\n"
        "--mode physical (the default with a density): background, polarisation (P = fraction polarised\n"
        "normal to the scattering plane, 0.5 unpolarised; a monochromator at its Bragg angle), absorption\n"
        "(flat plate in reflection: infinitely thick, or --mu-t; plate in transmission --mu-t; capillary\n"
        "--mu-r, integrated over its cross-section; or mu from the composition with --thickness CM),\n"
        "Compton (Hubbell or Balyuzi) with the Breit-Dirac factor, f' and f'' at the wavelength,\n"
        "Krogh-Moe/Norman normalisation (or highq), S(Q) = 1 + [alpha I - <|f|^2> - C] / |<f>|^2.\n"
        "The counting errors give sigma_alpha, printed beside alpha: it scales every point alike, so it is\n"
        "not added into the per-point sigmas. --rmin-iterate R: G(r) made to follow -4 pi rho0 r below R.\n"
        "--extrapolate (default none: F = 0 below the first point): S(Q) below it, before the iteration\n"
        "and the transform, = --s0 S (step), a line from S0 at Q = 0 (linear) or S0 + a Q^2 + b Q^3 meeting\n"
        "the first points' value and slope (poly); S0 default 0, the incompressible limit (a liquid's is\n"
        "rho0 k_B T kappa_T). The .sq and .fq hold those points too (sigma 0), drawn in their own colour\n"
        "in --plot; the low-r iteration keeps them the extrapolation of the corrected points.\n"
        "A monochromator's plane is taken as the sample's, so the polarisation factor is the same in the\n"
        "incident and the diffracted beam (--mono-beam). Only a diffracted-beam monochromator cuts the\n"
        "Compton scattering: --ruland B, its band pass in A, applies Ruland's window to it.\n"
        "A capillary of --capillary-diameter MM (mu R from mu unless --mu-r) lit by a beam --beam-width MM\n"
        "wide (a top hat, or the FWHM of a Gaussian): absorption over the lit band. --zscan FILE (height mm,\n"
        "intensity) is fitted for mu D, the beam's width and the capillary's centre, with their sigmas, used\n"
        "where not given. --container FILE, the empty capillary measured alike: removed with the\n"
        "Paalman-Pings factors of its wall (--container-composition, -density, -wall MM), scaled by\n"
        "--container-scale. --flat C: a constant taken from the pattern first.\n"
        "Every physical reduction reports the mean of S over the top fifth of Q, S smoothed against its\n"
        "floor 1 - <f^2>/<f>^2, and the rms of G + 4 pi rho0 r from 0.5 A to --rmin-check R (default 1),\n"
        "with a warning past each level. --optimize LIST (density, bg-scale, container-scale, mu-r,\n"
        "beam-width, ruland, flat; NAME:LOW:HIGH for bounds) fits them first, minimising\n"
        "(1/N) sum [(G + 4 pi rho0 r)/sigma_G]^2 below rmin-check + [(<S>_top - 1)/sigma]^2, and prints\n"
        "each with its sigma, the cost before and after and the number of reductions; the header holds\n"
        "the fitted values, so --config reruns the fitted reduction.\n"
        "--mode adhoc (the default without a density): the smooth distortions fitted by polynomials of\n"
        "degree about rpoly qmaxinst / pi (default rpoly 0.9 A) and removed.\n"
        "Isolated outliers (one or two points far above their neighbours) are removed first and listed.\n"
        "G(r) = (2/pi) int F(Q) M(Q) sin(Qr) dQ from qmin (default 0) to qmax (default the data's end),\n"
        "window none (default), lorch, step or quadratic, r 0:30:0.01 by default.\n"
        "Writes NAME.iq .sq .fq .gr in the current folder, NAME the input's name less its extension (-o PREFIX\n"
        "for one input, -o DIR/ for DIR/NAME.*, DIR made where it is not there; \"x value sigma\" rows) and,\n"
        "with a density, .gofr (r, g(r), sigma) and .rdf (r, R(r) = 4 pi r^2 rho0 g(r), sigma, N(r) its\n"
        "integral from rmin, sigma). The files\n"
        "of a pattern replace the previous ones together, whatever stops the run. Their \"# key = value\"\n"
        "headers (values with control characters quoted, with escapes) --config reads back: a rerun gives\n"
        "the same files. --config also reads the reference program's configuration files and output\n"
        "headers ([DEFAULT] or [PDF]: dataformat, inputfile, backgroundfile, bgscale, composition,\n"
        "wavelength, qmaxinst, qmin, qmax, rmin, rmax, rstep, rpoly, outputtype, mode = xray), their paths\n"
        "from the file's folder; a warning names the keys it does not use, and options given on the command\n"
        "line replace the file's. A background that such a file names is not subtracted again from the\n"
        "reference program's I(Q), whose background is subtracted already; one that is not there stops the\n"
        "run unless --bg-scale 0 (no background) or --background FILE is given.\n"
        "Several INPUTs are reduced with the same options, each into its own files; a pattern that fails is\n"
        "named with its reason and the others go on (exit 1 when any failed). -j N reduces on N threads,\n"
        "with the same output as one. On a terminal a progress line shows on standard error. Nothing is\n"
        "written for a pattern whose reduction fails. --json prints a summary, one JSON line a pattern;\n"
        "--plot writes a four-panel SVG of one pattern.\n");

}  // namespace

const Subcommand kPdfCommand{"pdf",
                             run_pdf,
                             {"--json"},
                             kValueOptions,
                             "X-ray (or neutron) total-scattering reduction of patterns to S(Q), F(Q) and G(r)",
                             kPdfHelp.c_str()};

}  // namespace talvo::cli
