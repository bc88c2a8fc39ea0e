// What the page's total-scattering view asks of the library, bound to
// JavaScript with embind: a measured pattern reduced to I(Q), S(Q), F(Q) and
// G(r) with the options of `talvo-tools pdf` given as their text, and the
// files talvo-tools writes for the same reduction. The view runs it in a Web
// Worker (web/pdf_worker.js), which puts the files the user opens into the
// module's file system: the library reads them as talvo-tools reads a file.
#include <emscripten/bind.h>
#include <emscripten/val.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "talvo/pdf/options.hpp"
#include "talvo/pdf/pattern.hpp"
#include "talvo/pdf/pdf_files.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/pdf/reduction_fields.hpp"

namespace {

using emscripten::val;
namespace pdf = talvo::pdf;

// The folders the worker writes the sample and the background into; each is
// read from inside its folder, so that messages and headers name the file as
// the user knows it, without a path.
constexpr const char* kSampleFolder = "/pdf/sample";
constexpr const char* kBackgroundFolder = "/pdf/background";

val doubles(const std::vector<double>& v) {
  return val::global("Float64Array").new_(val(emscripten::typed_memory_view(v.size(), v.data())));
}

val curve(const pdf::Curve& c) {
  val out = val::object();
  out.set("x", doubles(c.x));
  out.set("y", doubles(c.y));
  out.set("sigma", doubles(c.sigma));
  return out;
}

val strings(const std::vector<std::string>& items) {
  val a = val::array();
  for (const std::string& s : items) a.call<void>("push", s);
  return a;
}

// The reduction's summary from its table, in the table's order: [{name, unit, meaning, value}], value null
// for none; the self-checks only where the reduction made them.
val summary(const pdf::Reduction& r, const pdf::ReductionOptions& o) {
  val rows = val::array();
  for (const pdf::SummaryField& f : pdf::summary_fields()) {
    if (f.group == pdf::SummaryGroup::kDiagnostics && !r.diagnostics) continue;
    const pdf::SummaryValue v = f.value(r, o);
    val row = val::object();
    row.set("name", std::string(f.name));
    row.set("unit", std::string(f.unit));
    row.set("meaning", std::string(f.meaning));
    if (const double* x = std::get_if<double>(&v))
      row.set("value", *x);
    else if (const long long* n = std::get_if<long long>(&v))
      row.set("value", static_cast<double>(*n));
    else if (const bool* b = std::get_if<bool>(&v))
      row.set("value", *b);
    else if (const std::string* t = std::get_if<std::string>(&v))
      row.set("value", *t);
    else
      row.set("value", val::null());
    rows.call<void>("push", row);
  }
  return rows;
}

// A pattern read once for each version of its file: the view reduces it
// again on every change of an option, and reading is the same every time.
struct CachedPattern {
  std::string folder, name;
  int version = -1;
  pdf::InputChoice choice;
  std::optional<talvo::Result<pdf::Pattern>> pattern;
};

const talvo::Result<pdf::Pattern>& read_cached(CachedPattern& cache, const char* folder, const std::string& name,
                                               int version, const pdf::InputChoice& choice) {
  if (!cache.pattern || cache.folder != folder || cache.name != name || cache.version != version ||
      cache.choice.format != choice.format || cache.choice.scan != choice.scan ||
      cache.choice.format_asked != choice.format_asked || cache.choice.format_given != choice.format_given) {
    cache = CachedPattern{folder, name, version, choice, std::nullopt};
    // Read from inside its folder: the messages name the file as the user gave it.
    if (chdir(folder) != 0)
      cache.pattern.emplace(talvo::make_error(talvo::ErrorKind::kIoError, "no folder for " + name));
    else
      cache.pattern.emplace(pdf::read_input(name, choice, pdf::Spelling::kCommandLine));
  }
  return *cache.pattern;
}

CachedPattern sample_cache, background_cache;

// The last reduction, for its files: the view asks for them once the changes pause.
struct Last {
  pdf::RunRecord record;
  std::optional<pdf::ReductionSettings> settings;
  std::optional<pdf::Reduction> reduction;
};
Last last;

// request: {sample, sampleVersion, background, backgroundVersion, options}
// with options {name: text} by the names of talvo/pdf/options.hpp (a name
// left out is not given). The answer: {error} or the reduction's curves,
// warnings and summary.
val reduce(const val& request) {
  const auto start = std::chrono::steady_clock::now();
  val out = val::object();
  std::vector<std::string> warnings;
  const auto fail = [&](const std::string& message) {
    out.set("error", message);
    out.set("warnings", strings(warnings));
    return out;
  };
  pdf::OptionValues texts;
  const val options = request["options"];
  const val keys = val::global("Object").call<val>("keys", options);
  for (unsigned i = 0, n = keys["length"].as<unsigned>(); i < n; ++i) {
    const std::string key = keys[i].as<std::string>();
    texts.values.emplace(key, options[key].as<std::string>());
  }
  // What needs a file beside the pattern, or many reductions, is the command line's.
  for (const char* n : {"container", "zscan", "optimize"})
    if (texts.values.count(n))
      return fail("--" + std::string(n) + " is talvo-tools pdf's: the page takes a pattern and a background");
  // The background is the file opened beside the pattern, never a name the page cannot read.
  if (texts.values.count("background"))
    return fail("--background is the page's own: open the background's file with \"Open a background...\"");
  const std::string sample_name = request["sample"].as<std::string>();
  const std::string background_name = request["background"].as<std::string>();
  if (!background_name.empty()) texts.values.emplace("background", background_name);
  if (background_name.empty() && texts.values.count("bg-scale"))
    return fail("--bg-scale scales the background: open the background's file first");

  const talvo::Result<pdf::InputChoice> choice = pdf::input_choice(texts, sample_name, pdf::Spelling::kCommandLine);
  if (!choice.ok()) return fail(choice.error().message);
  const talvo::Result<pdf::Pattern>& sample =
      read_cached(sample_cache, kSampleFolder, sample_name, request["sampleVersion"].as<int>(), *choice);
  if (!sample.ok()) return fail(sample.error().message);
  warnings = sample.warnings();
  const pdf::Pattern* background = nullptr;
  if (!background_name.empty()) {
    const talvo::Result<pdf::Pattern>& bg = read_cached(background_cache, kBackgroundFolder, background_name,
                                                        request["backgroundVersion"].as<int>(), *choice);
    if (!bg.ok()) return fail("--background: " + bg.error().message);
    for (const std::string& w : bg.warnings()) warnings.push_back("--background: " + w);
    background = &*bg;
  }
  const talvo::Result<pdf::ReductionSettings> settings =
      pdf::reduction_settings(texts, sample->wavelength, pdf::Spelling::kCommandLine);
  if (!settings.ok()) return fail(settings.error().message);
  for (const std::string& w : settings.warnings()) warnings.push_back(w);
  last.reduction.reset();
  pdf::ReductionOptions options_used = settings->options;
  if (!background) options_used.bg_scale = 1.0;  // a scale with nothing to scale
  talvo::Result<pdf::Reduction> red = pdf::reduce(pdf::Inputs{&*sample, background, nullptr}, options_used);
  if (!red.ok()) return fail(red.error().message);
  for (const std::string& w : red.warnings()) warnings.push_back(w);
  const pdf::Reduction& r = *red;
  const pdf::ReductionOptions& o = settings->options;

  out.set("error", std::string());
  out.set("warnings", strings(warnings));
  out.set("summary", summary(r, o));
  out.set("format", std::string(pdf::input_format_name(choice->format)));
  out.set("patternWavelength", sample->wavelength ? val(*sample->wavelength) : val::null());
  out.set("iq", curve(r.iq));
  out.set("model", doubles(r.model));
  out.set("sq", curve(r.sq));
  out.set("fq", curve(r.fq));
  out.set("gr", curve(r.gr));
  // The data's last Q, whatever qmax: the end of the view's Q sliders.
  const talvo::Result<std::vector<double>> q = pdf::q_of(*sample, o.wavelength);
  out.set("qData", q.ok() && !q->empty() ? val(*std::max_element(q->begin(), q->end())) : val::null());
  // What the reduction found, in the words of its files' headers.
  out.set("notes", strings(pdf::header_notes(*settings, r)));
  out.set("reduceMs", std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  pdf::RunRecord record;
  record.input = sample_name;
  record.choice = pdf::as_read(*choice, *sample);
  record.settings = *settings;
  if (!background_name.empty()) record.background = background_name;
  record.qmax = r.qmax;
  last = Last{std::move(record), *settings, std::move(*red)};
  return out;
}

// {prefix, input, config, iq, sq, fq, gr[, gofr, rdf]} of the last reduction:
// the files `talvo-tools pdf` writes for it, byte for byte, under the names
// PREFIX.KIND, and its configuration alone (the header's settings), which
// `talvo-tools pdf --config` reads to make them again. Empty when the last
// reduction failed.
val files() {
  val out = val::object();
  if (!last.reduction) return out;
  const pdf::Parameters p = pdf::header_parameters(last.record);
  const std::vector<std::string> notes = pdf::header_notes(*last.settings, *last.reduction);
  const std::size_t dot = last.record.input.rfind('.');
  out.set("prefix", dot == std::string::npos ? last.record.input : last.record.input.substr(0, dot));
  out.set("input", last.record.input);
  std::string config =
      "# talvo-tools pdf settings of " + last.record.input + " (talvo-tools pdf --config FILE reruns them)\n";
  for (const auto& [key, value] : p) config += "# " + key + " = " + value + "\n";
  out.set("config", config);
  std::string text;
  for (const std::string_view kind : pdf::kOutputKinds) {
    text.clear();
    if (pdf::append_output_text(text, kind, p, notes, *last.reduction)) out.set(std::string(kind), text);
  }
  return out;
}

}  // namespace

EMSCRIPTEN_BINDINGS(talvo_pdf_web) {
  emscripten::function("pdfReduce", &reduce);
  emscripten::function("pdfFiles", &files);
}
