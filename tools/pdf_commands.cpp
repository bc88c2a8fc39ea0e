// pdf: from a measured powder pattern to S(Q), F(Q) and G(r).
#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>
#include <numbers>
#include <set>
#include <filesystem>
#include <sstream>

#include "talvo/files/files.hpp"
#include "talvo/pdf/optimize.hpp"
#include "talvo/pdf/options.hpp"
#include "talvo/pdf/pdf_files.hpp"
#include "talvo/pdf/plot.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/pdf/zscan.hpp"
#include "talvo/text/format.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

using pdf::Parameters;
namespace fs = std::filesystem;

// The options that take a value: the reduction's, by the key their header line uses, and the command's own.
const std::vector<std::string> kValueOptions = [] {
  std::vector<std::string> names;
  for (const std::string_view n : pdf::kOptionNames) names.push_back("--" + std::string(n));
  for (const char* n : {"--output", "--config", "--plot"}) names.emplace_back(n);
  return names;
}();

// A file's whole text; the error says which file it was.
Result<std::string> read_text(const std::string& path, const char* what) {
  Result<std::string> text = read_whole_file(path);
  if (!text.ok()) return make_error(ErrorKind::kIoError, text.error().message + " (the " + what + ")");
  return text;
}

std::string json_string(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
      continue;
    }
    out += c;
  }
  return out + "\"";
}

std::string json_number(double v) { return std::isfinite(v) ? shortest(v) : "null"; }

// The options in effect: the config file's, then the command line's over them.
struct Settings {
  std::map<std::string, std::string> v;  // key without dashes -> value
  std::set<std::string> from_file;       // keys whose value is the --config file's
  std::string input;
  std::string prefix;
  bool has(const std::string& k) const { return v.count(k) > 0; }
  std::optional<std::string> get(const std::string& k) const {
    auto it = v.find(k);
    return it == v.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
};

// The settings; an error of kInvalidArgument is wrong usage, any other the input's.
Result<Settings> settings_of(const Args& a) {
  const auto wrong = [](std::string text) { return make_error(ErrorKind::kInvalidArgument, std::move(text)); };
  const auto unusable = [](std::string text) { return make_error(ErrorKind::kIoError, std::move(text)); };
  Settings s;
  std::vector<std::string> pos = a.positional;
  for (std::size_t i = 0; i < pos.size(); ++i)
    if (pos[i] == "-o") {
      if (i + 1 >= pos.size()) return wrong("-o needs a PREFIX");
      s.prefix = pos[i + 1];
      pos.erase(pos.begin() + static_cast<std::ptrdiff_t>(i), pos.begin() + static_cast<std::ptrdiff_t>(i + 2));
      break;
    }
  if (pos.size() > 1) return wrong("give one INPUT pattern");
  if (a.get("--config")) {
    const Result<std::string> text = read_text(*a.get("--config"), "--config");
    if (!text.ok()) return text.error();
    const Result<Parameters> p = pdf::parse_parameters(*text);
    if (!p.ok()) return unusable("--config " + *a.get("--config") + ": " + p.error().message);
    for (const auto& [k, v] : *p) {
      if (k == "input") {
        s.input = v;
        continue;
      }
      const std::string opt = "--" + k;
      if (std::find(kValueOptions.begin(), kValueOptions.end(), opt) == kValueOptions.end() || opt == "--config")
        return unusable("--config " + *a.get("--config") + ": unknown key \"" + k + "\"");
      s.v[k] = v;
      s.from_file.insert(k);
    }
  }
  for (const auto& [k, v] : a.options)
    if (k != "--config" && k != "--json" && k != "--help") {
      s.v[k.substr(2)] = v;
      s.from_file.erase(k.substr(2));
    }
  // A value given on the command line replaces its alternative from the file.
  const std::pair<const char*, const char*> alternatives[] = {
      {"density", "number-density"}, {"mu-r", "mu-t"}, {"wavelength", "anode"}};
  for (const auto& [x, y] : alternatives) {
    if (a.get(std::string("--") + x) && !a.get(std::string("--") + y)) s.v.erase(y);
    if (a.get(std::string("--") + y) && !a.get(std::string("--") + x)) s.v.erase(x);
  }
  if (!pos.empty()) s.input = pos[0];
  if (s.input.empty()) return wrong("give the INPUT pattern (or --config FILE naming it)");
  return s;
}

// The reduction's options in effect, as the library reads them.
pdf::OptionTexts option_texts(const Settings& s) {
  pdf::OptionTexts t;
  for (const std::string_view n : pdf::kOptionNames)
    if (const auto v = s.get(std::string(n))) {
      t.values.emplace(n, *v);
      if (s.from_file.count(std::string(n))) t.from_file.emplace(n);
    }
  return t;
}

// A refused option: a wrong choice, a contradiction or text that is no number is wrong usage (exit 2); a value
// beyond its range, a missing one or what is not available is the input's (exit 1).
int refused(const Args& a, const Error& e) {
  if (e.kind == ErrorKind::kInvalidArgument || e.kind == ErrorKind::kParseError) return usage(a, e);
  return input_error(a, e);
}

int run_pdf(const Args& a) {
  const Result<Settings> given = settings_of(a);
  if (!given.ok())
    return given.kind() == ErrorKind::kInvalidArgument ? usage(a, given.error()) : input_error(a, given.error());
  const Settings& s = *given;
  const pdf::OptionTexts texts = option_texts(s);

  // Input.
  const auto choice = pdf::input_choice(texts, s.input, pdf::Spelling::kCommandLine);
  if (!choice.ok()) return refused(a, choice.error());
  const auto [format, scan] = *choice;
  Result<pdf::Pattern> sample = pdf::read_pattern(s.input, format, scan);
  if (!sample.ok()) return input_error(a, sample.error());
  std::vector<std::string> warnings = sample.warnings();
  std::optional<pdf::Pattern> background;
  if (s.has("background")) {
    Result<pdf::Pattern> bg = pdf::read_pattern(*s.get("background"), format, scan);
    if (!bg.ok()) return input_error(a, "--background: " + bg.error().message);
    for (const std::string& w : bg.warnings()) warnings.push_back("--background: " + w);
    background = std::move(*bg);
  }

  std::optional<pdf::Pattern> container;
  if (s.has("container")) {
    Result<pdf::Pattern> c = pdf::read_pattern(*s.get("container"), format, scan);
    if (!c.ok()) return input_error(a, "--container: " + c.error().message);
    for (const std::string& w : c.warnings()) warnings.push_back("--container: " + w);
    container = std::move(*c);
  }

  Result<pdf::ReductionSettings> read_settings =
      pdf::reduction_settings(texts, sample->wavelength, pdf::Spelling::kCommandLine);
  if (!read_settings.ok()) return refused(a, read_settings.error());
  pdf::ReductionSettings& settings = *read_settings;
  // The z-scan's mu D and beam width, each where not given.
  std::vector<std::string> fit_notes;
  std::string fit_json;  // the same for --json
  const auto json_value = [](double v, double sigma) {
    return "{\"value\": " + json_number(v) + ", \"sigma\": " + json_number(sigma) + "}";
  };
  if (s.has("zscan")) {
    const Result<pdf::ZScan> scan_rows = pdf::read_zscan(*s.get("zscan"));
    if (!scan_rows.ok()) return input_error(a, "--zscan: " + scan_rows.error().message);
    const Result<pdf::ZScanFit> z = pdf::apply_zscan(*scan_rows, settings);
    if (!z.ok()) return input_error(a, "--zscan " + *s.get("zscan") + ": " + z.error().message);
    for (const std::string& w : z.warnings()) warnings.push_back("--zscan: " + w);
    fit_notes.push_back("z-scan: mu D " + shortest(z->mu_d.value) + " +- " + shortest(z->mu_d.sigma) +
                        ", beam width " + shortest(z->width.value) + " +- " + shortest(z->width.sigma) + " mm (" +
                        std::string(pdf::beam_profile_name(settings.options.beam_profile)) + "), centre " +
                        shortest(z->centre.value) + " +- " + shortest(z->centre.sigma) + " mm, chi2 per point " +
                        shortest(z->residual_variance));
    fit_json += ", \"zscan\": {\"mu_d\": " + json_value(z->mu_d.value, z->mu_d.sigma) +
                ", \"beam_width\": " + json_value(z->width.value, z->width.sigma) +
                ", \"centre\": " + json_value(z->centre.value, z->centre.sigma) +
                ", \"chi2_per_point\": " + json_number(z->residual_variance) + "}";
  }
  const pdf::Inputs inputs_of_reduction{&*sample, background ? &*background : nullptr,
                                        container ? &*container : nullptr};
  settings.options.bg_scale = settings.bg_scale;
  if (!settings.optimize.empty()) {
    const Result<pdf::Optimization> fit = pdf::optimize(inputs_of_reduction, settings.options, settings.optimize);
    if (!fit.ok()) return input_error(a, "--optimize: " + fit.error().message);
    for (const std::string& w : fit.warnings()) warnings.push_back("--optimize: " + w);
    for (const pdf::FittedParameter& f : fit->parameters)
      fit_notes.push_back("fitted " + std::string(pdf::fitted_name(f.what)) + ": " + shortest(f.value) + " +- " +
                          shortest(f.sigma) + (f.at_bound ? " (at its bound)" : "") + " (from " + shortest(f.start) +
                          ", bounds " + shortest(f.lower) + " to " + shortest(f.upper) + ")");
    fit_notes.push_back("fit cost: " + shortest(fit->cost_before) + " before, " + shortest(fit->cost_after) +
                        " after, " + std::to_string(fit->reductions) + " reductions");
    fit_json += ", \"fitted\": {";
    for (std::size_t i = 0; i < fit->parameters.size(); ++i) {
      const pdf::FittedParameter& f = fit->parameters[i];
      fit_json += (i ? ", " : "") + json_string(pdf::fitted_name(f.what)) + ": {\"value\": " + json_number(f.value) +
                  ", \"sigma\": " + json_number(f.sigma) + ", \"start\": " + json_number(f.start) +
                  ", \"at_bound\": " + (f.at_bound ? "true" : "false") + "}";
    }
    fit_json += "}, \"fit_cost_before\": " + json_number(fit->cost_before) +
                ", \"fit_cost_after\": " + json_number(fit->cost_after) +
                ", \"fit_reductions\": " + std::to_string(fit->reductions);
    settings.options = fit->options;
    settings.bg_scale = fit->options.bg_scale;
  }
  const pdf::ReductionOptions& o = settings.options;
  const std::optional<double> wavelength = o.wavelength;
  const std::string& mono = settings.monochromator;
  const double bg_scale = settings.bg_scale;
  const bool dense = o.sample.density || o.sample.number_density;

  // Which files.
  // g(r) and R(r) need the number density: by default they are written where it is known.
  std::vector<std::string> outputs = {"iq", "sq", "fq", "gr"};
  if (s.has("output")) {
    outputs.clear();
    std::stringstream list(*s.get("output"));
    for (std::string item; std::getline(list, item, ',');) {
      if (item != "iq" && item != "sq" && item != "fq" && item != "gr" && item != "gofr" && item != "rdf")
        return usage(a, "--output takes a list of iq, sq, fq, gr, gofr and rdf, not " + item);
      outputs.push_back(item);
    }
  }

  if (!s.has("output") && dense) {
    outputs.emplace_back("gofr");
    outputs.emplace_back("rdf");
  }
  std::string prefix = s.prefix;
  if (prefix.empty()) {
    const std::size_t slash = s.input.rfind('/');
    const std::size_t dot = s.input.rfind('.');
    prefix = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? s.input.substr(0, dot) : s.input;
  }
  // The files to write: none may be an input, and each name must be free for a
  // file, so that a run either writes every one or fails before it replaces any.
  std::vector<std::string> destinations;
  for (const std::string& kind : outputs) destinations.push_back(prefix + "." + kind);
  if (s.has("plot")) {
    const std::string plot = *s.get("plot");
    if (plot.size() < 5 || plot.compare(plot.size() - 4, 4, ".svg") != 0)
      return usage(a, "--plot writes an SVG picture: give a FILE.svg, not " + plot);
    destinations.push_back(plot);
  }
  std::vector<std::pair<std::string, std::string>> inputs = {{"the input", s.input}};
  if (s.has("background")) inputs.emplace_back("the background", *s.get("background"));
  if (s.has("container")) inputs.emplace_back("the container", *s.get("container"));
  if (s.has("zscan")) inputs.emplace_back("the z-scan", *s.get("zscan"));
  if (a.get("--config")) inputs.emplace_back("the --config file", *a.get("--config"));
  const auto same_file = [](const std::string& x, const std::string& y) {
    std::error_code e1, e2;
    if (fs::equivalent(x, y, e1)) return true;
    return fs::weakly_canonical(x, e1) == fs::weakly_canonical(y, e2) && !e1 && !e2;
  };
  for (const std::string& d : destinations) {
    for (const auto& [what, path] : inputs)
      if (same_file(d, path))
        return input_error(a, "the output " + d + " would replace " + what + ": give another -o PREFIX or --plot");
    std::error_code ec;
    const fs::file_status st = fs::status(d, ec);
    if (fs::exists(st) && !fs::is_regular_file(st))
      return input_error(a, "cannot write " + d + ": " +
                                (fs::is_directory(st) ? "it is a folder" : "it is not a regular file"));
  }

  const Result<pdf::Reduction> red = pdf::reduce(inputs_of_reduction, o);
  if (!red.ok()) return input_error(a, red.error());
  for (const std::string& w : red.warnings()) warnings.push_back(w);
  const pdf::Reduction& r = *red;
  for (const std::string& kind : outputs)
    if ((kind == "gofr" || kind == "rdf") && !r.number_density)
      return input_error(a, "--output " + kind +
                                ": g(r) and R(r) need the number density: give --density G or "
                                "--number-density N");

  // The header: every parameter the reduction used, as an option would give it.
  Parameters p;
  p.emplace_back("input", s.input);
  p.emplace_back("format", std::string(pdf::input_format_name(format)));
  if (format == pdf::InputFormat::kXrdml) p.emplace_back("scan", std::to_string(scan));
  if (wavelength) p.emplace_back("wavelength", shortest(*wavelength));
  p.emplace_back("composition", o.sample.composition);
  if (o.sample.density) p.emplace_back("density", shortest(*o.sample.density));
  if (o.sample.number_density) p.emplace_back("number-density", shortest(*o.sample.number_density));
  p.emplace_back("packing", shortest(o.sample.packing));
  if (background) {
    p.emplace_back("background", *s.get("background"));
    p.emplace_back("bg-scale", shortest(bg_scale));
  }
  p.emplace_back("mode", o.mode == pdf::Mode::kPhysical ? "physical" : "adhoc");
  if (o.mode == pdf::Mode::kPhysical) {
    p.emplace_back("geometry", std::string(pdf::geometry_name(o.absorption.geometry)));
    if (o.absorption.mu_x) p.emplace_back(s.has("mu-t") ? "mu-t" : "mu-r", shortest(*o.absorption.mu_x));
    if (o.thickness) p.emplace_back("thickness", shortest(*o.thickness));
    if (o.capillary_diameter) p.emplace_back("capillary-diameter", shortest(*o.capillary_diameter));
    if (o.beam_width) {
      p.emplace_back("beam-width", shortest(*o.beam_width));
      p.emplace_back("beam-profile", std::string(pdf::beam_profile_name(o.beam_profile)));
    }
    if (s.has("zscan")) p.emplace_back("zscan", *s.get("zscan"));
    if (container) {
      p.emplace_back("container", *s.get("container"));
      p.emplace_back("container-composition", o.container_composition);
      p.emplace_back("container-density", shortest(*o.container_density));
      p.emplace_back("container-wall", shortest(*o.container_wall));
      p.emplace_back("container-scale", shortest(o.container_scale));
    }
    if (o.flat != 0.0) p.emplace_back("flat", shortest(o.flat));
    if (o.ruland) p.emplace_back("ruland", shortest(*o.ruland));
    p.emplace_back("rmin-check", shortest(o.rmin_check));
    // The fitted values stand in the header as the options used, so that --config reruns this reduction
    // (the fit itself is in the notes): "optimize" is not written.
    p.emplace_back("monochromator", mono);
    if (mono != "none") {
      p.emplace_back("mono-beam", settings.mono_beam);
      p.emplace_back("mono-crystal", o.polarization.perfect_crystal ? "perfect" : "mosaic");
    } else {
      p.emplace_back("polarization", shortest(o.polarization.normal_fraction));
    }
    p.emplace_back("compton", std::string(incoherent_model_name(o.sample.compton)));
    p.emplace_back("breit-dirac", std::to_string(o.breit_dirac));
    p.emplace_back("normalize", o.normalization == pdf::Normalization::kKroghMoeNorman ? "kmn" : "highq");
    if (o.rmin_iterate) p.emplace_back("rmin-iterate", shortest(*o.rmin_iterate));
  } else {
    p.emplace_back("rpoly", shortest(o.rpoly));
    if (o.qmaxinst) p.emplace_back("qmaxinst", shortest(*o.qmaxinst));
  }
  p.emplace_back("qmin", shortest(o.qmin));
  p.emplace_back("qmax", shortest(r.qmax));
  p.emplace_back("window", std::string(window_name(o.window)));
  p.emplace_back("r", shortest(o.rmin) + ":" + shortest(o.rmax) + ":" + shortest(o.rstep));
  if (s.has("output")) p.emplace_back("output", *s.get("output"));

  std::vector<std::string> notes;
  if (o.mode == pdf::Mode::kPhysical) {
    notes.push_back("normalisation constant alpha: " + shortest(r.alpha) + " +- " + shortest(r.alpha_sigma) +
                    " (counting errors; common to every point, not in the sigma column)");
    if (r.mu_x) notes.push_back("absorption mu x: " + shortest(*r.mu_x));
    notes.push_back("absorption factor from " + shortest(r.absorption_min) + " to " + shortest(r.absorption_max));
    notes.push_back(r.compton_subtracted ? "Compton fraction at qmax: " + shortest(r.compton_fraction_at_qmax)
                                         : "Compton scattering: not subtracted");
    if (o.rmin_iterate)
      notes.push_back("rmin iterations: " + std::to_string(r.iterations) + ", residual " + shortest(r.residual));
    notes.insert(notes.end(), fit_notes.begin(), fit_notes.end());
    if (const auto& d = r.diagnostics) {
      notes.push_back("mean of S(Q) from Q = " + shortest(d->high_q_from) + ": " + shortest(d->high_q_mean) +
                      " +- " + shortest(d->high_q_sigma));
      notes.push_back("lowest smoothed S(Q): " + shortest(d->lowest_smoothed) + " at Q = " + shortest(d->lowest_at) +
                      ", where its floor 1 - <f^2>/<f>^2 is " + shortest(d->floor_there));
      if (d->low_r_rms)
        notes.push_back("rms of G(r) + 4 pi rho0 r from 0.5 to " + shortest(o.rmin_check) +
                        " A: " + shortest(*d->low_r_rms) + " (warned above " + shortest(d->low_r_level) + ")");
    }
  } else {
    notes.push_back("ad hoc polynomial degree: " + std::to_string(r.poly_degree));
  }
  if (r.number_density) notes.push_back("number density (atoms/A^3): " + shortest(*r.number_density));
  std::string removed;
  for (double x : r.outliers) removed += (removed.empty() ? "" : " ") + shortest(x);
  notes.push_back("outliers removed at x: " + (removed.empty() ? std::string("none") : removed));

  // Every file is complete before any takes its name. One buffer holds each file's text in turn: fresh
  // memory for each would cost more in page faults than the formatting.
  std::vector<std::string> written;
  std::vector<NewFile> pending;
  std::string text;
  const auto write = [&](const std::string& name) -> Outcome {
    Result<NewFile> f = NewFile::create(name);
    if (!f.ok()) return f.error();
    f->write(text);
    // The disk's writes start now, under the next file's formatting, instead of in each commit's fsync.
    if (!f->good() || !f->start_writeback()) return make_error(ErrorKind::kIoError, "cannot write " + name);
    pending.push_back(std::move(*f));
    written.push_back(name);
    return Done{};
  };
  const auto curve = [&](const char* title, const char* columns, const pdf::Curve& c) {
    const std::span<const double> table[] = {c.x, c.y, c.sigma};
    pdf::append_table_text(text, title, p, notes, columns, table);
  };
  for (const std::string& kind : outputs) {
    text.clear();
    if (kind == "iq") curve("talvo-tools pdf: I(Q), corrected, per atom in electron units", "columns: Q I sigma", r.iq);
    if (kind == "sq") curve("talvo-tools pdf: S(Q)", "columns: Q S sigma", r.sq);
    if (kind == "fq") curve("talvo-tools pdf: F(Q) = Q [S(Q) - 1]", "columns: Q F sigma", r.fq);
    if (kind == "gr") curve("talvo-tools pdf: G(r)", "columns: r G sigma", r.gr);
    if (kind == "gofr") {
      const std::span<const double> table[] = {r.gr.x, r.g, r.sigma_g};
      pdf::append_table_text(text, "talvo-tools pdf: g(r) = 1 + G(r) / (4 pi r rho0)", p, notes, "columns: r g sigma",
                             table);
    }
    if (kind == "rdf") {
      const std::span<const double> table[] = {r.gr.x, r.rr, r.sigma_rr, r.rr_integral, r.sigma_rr_integral};
      pdf::append_table_text(text, "talvo-tools pdf: R(r) = 4 pi r^2 rho0 g(r) and N(r), its integral from rmin", p,
                             notes, "columns: r R sigma N sigma_N", table);
    }
    if (const Outcome done = write(prefix + "." + kind); !done.ok()) return input_error(a, done.error());
  }
  if (s.has("plot")) {
    text = pdf::plot_svg(r, o.mode, s.input);
    if (const Outcome done = write(*s.get("plot")); !done.ok()) return input_error(a, done.error());
  }
  for (NewFile& f : pending)
    if (const Outcome done = f.commit(); !done.ok()) return input_error(a, done.error());

  for (const std::string& w : warnings) std::cerr << "talvo-tools pdf: warning: " << w << '\n';
  if (a.flag("--json")) {
    std::string j = "{\"input\": " + json_string(s.input) +
                    ", \"mode\": " + json_string(o.mode == pdf::Mode::kPhysical ? "physical" : "adhoc");
    if (wavelength) j += ", \"wavelength\": " + json_number(*wavelength);
    j += ", \"normalization_constant\": " + json_number(r.alpha);
    j += ", \"normalization_constant_sigma\": " + json_number(r.alpha_sigma);
    j += ", \"number_density\": " + (r.number_density ? json_number(*r.number_density) : std::string("null"));
    j += ", \"mu\": " + (r.mu ? json_number(*r.mu) : std::string("null"));
    j += ", \"mu_x\": " + (r.mu_x ? json_number(*r.mu_x) : std::string("null"));
    j += ", \"absorption_min\": " + json_number(r.absorption_min) +
         ", \"absorption_max\": " + json_number(r.absorption_max);
    j += ", \"compton_subtracted\": " + std::string(r.compton_subtracted ? "true" : "false");
    j += ", \"compton_fraction_at_qmax\": " + json_number(r.compton_fraction_at_qmax);
    j += ", \"qmin\": " + json_number(r.qmin) + ", \"qmax\": " + json_number(r.qmax) +
         ", \"qstep\": " + json_number(r.qstep);
    j += ", \"poly_degree\": " + std::to_string(r.poly_degree);
    j += ", \"iterations\": " + std::to_string(r.iterations) + ", \"residual\": " + json_number(r.residual);
    if (const auto& d = r.diagnostics) {
      j += ", \"high_q_mean\": " + json_number(d->high_q_mean) +
           ", \"high_q_mean_sigma\": " + json_number(d->high_q_sigma) +
           ", \"lowest_smoothed_s\": " + json_number(d->lowest_smoothed) +
           ", \"lowest_smoothed_s_at\": " + json_number(d->lowest_at) +
           ", \"floor_there\": " + json_number(d->floor_there) +
           ", \"low_r_rms\": " + (d->low_r_rms ? json_number(*d->low_r_rms) : std::string("null"));
    }
    j += fit_json;
    j += ", \"outliers\": [";
    for (std::size_t i = 0; i < r.outliers.size(); ++i) j += (i ? ", " : "") + json_number(r.outliers[i]);
    j += "], \"files\": [";
    for (std::size_t i = 0; i < written.size(); ++i) j += (i ? ", " : "") + json_string(written[i]);
    j += "], \"warnings\": [";
    for (std::size_t i = 0; i < warnings.size(); ++i) j += (i ? ", " : "") + json_string(warnings[i]);
    j += "]}\n";
    std::cout << j;
  } else {
    for (const std::string& n : notes) std::cout << "# " << n << '\n';
    for (const std::string& name : written) std::cout << "# wrote " << name << '\n';
  }
  return 0;
}

}  // namespace

const Subcommand kPdfCommand{
    "pdf",
    run_pdf,
    {"--json"},
    kValueOptions,
    "X-ray total-scattering reduction of a pattern to S(Q), F(Q) and G(r)",
    "usage: talvo-tools pdf INPUT [--format xrdml|twotheta|qa|qnm] [--scan K] [--wavelength L | --anode NAME]\n"
    "    --composition FORMULA [--density G | --number-density N] [--packing F]\n"
    "    [--background FILE] [--bg-scale S] [--mode physical|adhoc]\n"
    "    [--geometry reflection|transmission|capillary] [--mu-r X | --mu-t X] [--thickness CM]\n"
    "    [--monochromator none|HOPG|Si111|Ge111|LiF200|ANGLE] [--mono-beam diffracted|incident]\n"
    "    [--mono-crystal mosaic|perfect] [--polarization P] [--compton hubbell|balyuzi] [--breit-dirac N]\n"
    "    [--ruland B] [--normalize kmn|highq] [--rmin-iterate R] [--rpoly R] [--qmaxinst Q] [--qmin Q] [--qmax Q]\n"
    "    [--capillary-diameter MM] [--beam-width MM] [--beam-profile tophat|gaussian] [--zscan FILE]\n"
    "    [--container FILE --container-composition F --container-density G --container-wall MM]\n"
    "    [--container-scale S] [--flat C] [--rmin-check R] [--optimize LIST]\n"
    "    [--window NAME] [--r RMIN:RMAX:STEP] [-o PREFIX] [--output iq,sq,fq,gr,gofr,rdf] [--config FILE]\n"
    "    [--plot FILE.svg] [--json]\n"
    "INPUT: an XRDML file (scans summed, or --scan K; the wavelength from the file, Kalpha1 when it\n"
    "intends \"K-Alpha 1\") or text rows \"x I [sigma]\" (x: 2theta in degrees, Q in 1/A or 1/nm; lines\n"
    "beginning with #, ' or ! and a .chi header skipped). Without sigma: sqrt(counts) for whole counts,\n"
    "else sqrt(I) scaled to the scatter between neighbouring points (with a warning).\n"
    "--mode physical (the default with a density): background, polarisation (P = fraction polarised\n"
    "normal to the scattering plane, 0.5 unpolarised; a monochromator at its Bragg angle), absorption\n"
    "(flat plate in reflection: infinitely thick, or --mu-t; plate in transmission --mu-t; capillary\n"
    "--mu-r, integrated over its cross-section; or mu from the composition with --thickness CM),\n"
    "Compton (Hubbell or Balyuzi) with the Breit-Dirac factor, f' and f'' at the wavelength,\n"
    "Krogh-Moe/Norman normalisation (or highq), S(Q) = 1 + [alpha I - <|f|^2> - C] / |<f>|^2.\n"
    "The counting errors give sigma_alpha, printed beside alpha: it scales every point alike, so it is\n"
    "not added into the per-point sigmas. --rmin-iterate R: G(r) made to follow -4 pi rho0 r below R.\n"
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
    "each with its sigma, the cost before and after and the number of reductions.\n"
    "--mode adhoc (the default without a density): the smooth distortions fitted by polynomials of\n"
    "degree about rpoly qmaxinst / pi (default rpoly 0.9 A) and removed.\n"
    "Isolated outliers (one or two points far above their neighbours) are removed first and listed.\n"
    "G(r) = (2/pi) int F(Q) M(Q) sin(Qr) dQ from qmin (default 0) to qmax (default the data's end),\n"
    "window none (default), lorch, step or quadratic, r 0:30:0.01 by default.\n"
    "Writes PREFIX.iq .sq .fq .gr (\"x value sigma\" rows; PREFIX the input's name less its extension)\n"
    "and, with a density, .gofr (r, g(r), sigma) and .rdf (r, R(r) = 4 pi r^2 rho0 g(r), sigma, N(r) its\n"
    "integral from rmin, sigma), whose \"# key = value\" header lines --config reads back: a rerun gives\n"
    "the same files. Nothing is written when the reduction fails. --json prints a summary; --plot\n"
    "writes a four-panel SVG.\n"};

}  // namespace talvo::cli
