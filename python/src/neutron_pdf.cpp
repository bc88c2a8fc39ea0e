// talvo.pdf(..., radiation="neutron"): constant-wavelength neutron runs (the
// sample in its can, the empty can, the instrument's background, a vanadium
// rod) to dsigma/dOmega, S(Q), F(Q) and G(r), as talvo-tools pdf --radiation
// neutron makes them, with the keywords of the neutron reduction's option
// table.
#include <pybind11/stl.h>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "python/src/core.hpp"
#include "python/src/results.hpp"
#include "talvo/files/read.hpp"
#include "talvo/pdf/neutron_optimize.hpp"
#include "talvo/pdf/neutron_reduce.hpp"
#include "talvo/pdf/reduction_fields.hpp"
#include "talvo/text/quote.hpp"

namespace talvo::python {
namespace {

struct NeutronPdfTag {};

constexpr Field kNeutronPdfFields[] = {
    {"input", Kind::kText},  // the sample's run, as given
    {"q", Kind::kArray},     // of dcs
    {"dcs", Kind::kArray},   // dsigma/dOmega per atom, b/sr
    {"dcs_sigma", Kind::kArray},
    {"twotheta", Kind::kArray},  // of each dcs point, degrees
    {"self", Kind::kArray},      // (sigma_s / 4 pi)(1 + P) on q, b/sr
    {"sq_q", Kind::kArray},      // the transform's Q of sq and fq
    {"sq", Kind::kArray},
    {"sq_sigma", Kind::kArray},
    {"fq", Kind::kArray},
    {"fq_sigma", Kind::kArray},
    {"r", Kind::kArray},
    {"gr", Kind::kArray},
    {"gr_sigma", Kind::kArray},
    {"number_density", Kind::kFloat},
    {"b_mean_sq", Kind::kFloat},    // |<b>|^2, barn
    {"self_static", Kind::kFloat},  // sigma_s / 4 pi, barn
    {"qmin", Kind::kFloat},
    {"qmax", Kind::kFloat},
    {"iterations", Kind::kInt},
    {"residual", Kind::kFloat},
    {"diagnostics",
     Kind::kFloatDict},            // high_q_mean (and _sigma, _from), lowest_smoothed_s (_at), floor_there, low_r_rms
    {"fitted", Kind::kFloatDict},  // each parameter optimize fitted: its value
    {"fitted_sigma", Kind::kFloatDict},  // and its standard deviation
    {"fit_cost", Kind::kFloatDict},      // before, after, reductions, rounds
    {"settings", Kind::kTexts},          // "key = value" lines that rerun it, the fitted values in
    {"notes", Kind::kTexts},             // the factors' and the stages' notes
    {"warnings", Kind::kTexts},
};

// A run read from its file, named by `what` in messages.
pdf::NeutronRun read_run(const std::string& path, const std::string& what) {
  Result<std::string> text = read_whole_file(path);
  if (!text.ok()) raise(with_context(text.error(), what + ": "), About::kFile);
  Result<pdf::NeutronRun> run = pdf::parse_neutron_run(*text, escape_for_message(path));
  if (!run.ok()) raise(with_context(run.error(), what + ": "), About::kValue);
  return std::move(*run);
}

// What every sample of a call shares: the options, the runs beside the samples', and the factors once made.
struct NeutronCall {
  Options options;
  std::map<std::string, pdf::NeutronRun> beside;
  std::optional<pdf::NeutronFactorSet> factors;
  const pdf::NeutronRun* run(const char* name) const {
    const auto it = beside.find(name);
    return it == beside.end() ? nullptr : &it->second;
  }
};

NeutronCall call_of(const std::string& composition, const py::kwargs& kw) {
  const OptionTable& table = pdf::neutron_reduction_options();
  if (kw.contains("sample")) throw py::type_error("pdf() takes the sample's formula as composition, not as sample=");
  OptionValues values = keyword_values(table, kw, "pdf");
  values.values["sample"] = composition;
  NeutronCall call{take(read_options(table, values, Spelling::kKeyword)), {}, std::nullopt};
  for (const char* needed : {"background", "vanadium"})
    if (!call.options.given(needed))
      raise_invalid(std::string("the neutron reduction needs ") + needed + " (the " +
                    (std::string(needed) == "vanadium" ? "vanadium rod's run" : "empty instrument's run") + ")");
  for (const char* name : {"can", "background", "vanadium", "vanadium-background"})
    if (call.options.given(name))
      call.beside.emplace(name, read_run(call.options.text(name), spelled(name, Spelling::kKeyword)));
  return call;
}

py::object reduce_sample(NeutronCall& call, const py::handle& input) {
  const std::string path = path_arg(input, "input");
  const pdf::NeutronRun sample = read_run(path, "the sample");
  std::vector<std::string> warnings;
  // The factors depend on the 2theta grid alone: samples on one grid share them.
  if (!call.factors || call.factors->two_theta != sample.two_theta) {
    Result<pdf::NeutronFactorSet> f = [&] {
      py::gil_scoped_release unlocked;
      return pdf::neutron_factors(sample.two_theta, call.options, neutron_table());
    }();
    for (const std::string& w : f.warnings()) warnings.push_back(w);
    if (!f.ok()) raise(f.error());
    call.factors = std::move(*f);
  }
  const pdf::NeutronRuns runs{&sample, call.run("can"), call.run("background"), call.run("vanadium"),
                              call.run("vanadium-background")};
  py::dict fitted, fitted_sigma, fit_cost;
  std::optional<pdf::NeutronOptimization> fit;
  if (call.options.given("optimize")) {
    Result<pdf::NeutronOptimization> f = [&] {
      py::gil_scoped_release unlocked;
      return pdf::optimize_neutron(runs, *call.factors, call.options, neutron_table());
    }();
    for (const std::string& w : f.warnings()) warnings.push_back("optimize: " + w);
    if (!f.ok()) {
      for (const std::string& w : warnings) warn(w);
      raise(with_context(f.error(), "optimize: "));
    }
    for (const pdf::NeutronFittedParameter& p : f->parameters) {
      const std::string name = spelled(pdf::neutron_fitted_name(p.what), Spelling::kKeyword);
      fitted[py::str(name)] = p.value;
      fitted_sigma[py::str(name)] = p.sigma;
    }
    fit_cost["before"] = f->cost_before;
    fit_cost["after"] = f->cost_after;
    fit_cost["reductions"] = static_cast<double>(f->reductions);
    fit_cost["rounds"] = static_cast<double>(f->rounds);
    fit = std::move(*f);
  }
  Result<pdf::NeutronReduction> red = [&] {
    py::gil_scoped_release unlocked;
    return fit ? pdf::reduce_neutron(runs, fit->factors, fit->options)
               : pdf::reduce_neutron(runs, *call.factors, call.options);
  }();
  if (!red.ok()) {
    for (const std::string& w : warnings) warn(w);
    raise(red.error());
  }
  for (const std::string& w : red.warnings()) warnings.push_back(w);
  for (const std::string& w : warnings) warn(w);
  pdf::NeutronReduction& r = *red;
  // The summary from its table: the values by name, the self-checks in one dict.
  std::map<std::string_view, py::object> summary;
  py::dict diagnostics;
  for (const pdf::NeutronSummaryField& f : pdf::neutron_summary_fields()) {
    const pdf::SummaryValue v = f.value(r);
    if (f.group == pdf::SummaryGroup::kDiagnostics) {
      if (!std::holds_alternative<std::monostate>(v)) diagnostics[py::str(std::string(f.name))] = summary_value(v);
    } else {
      summary[f.name] = summary_value(v);
    }
  }
  Typed<NeutronPdfTag> out;
  out.v = {py::module_::import("os").attr("fsdecode")(input),
           to_numpy(std::move(r.dcs.x)),
           to_numpy(std::move(r.dcs.y)),
           to_numpy(std::move(r.dcs.sigma)),
           to_numpy(std::move(r.two_theta)),
           to_numpy(std::move(r.self)),
           to_numpy(std::move(r.sq.x)),
           to_numpy(std::move(r.sq.y)),
           to_numpy(std::move(r.sq.sigma)),
           to_numpy(std::move(r.fq.y)),
           to_numpy(std::move(r.fq.sigma)),
           to_numpy(std::move(r.gr.x)),
           to_numpy(std::move(r.gr.y)),
           to_numpy(std::move(r.gr.sigma)),
           summary.at("number_density"),
           summary.at("b_mean_sq"),
           summary.at("self_static"),
           summary.at("qmin"),
           summary.at("qmax"),
           summary.at("iterations"),
           summary.at("residual"),
           diagnostics,
           fitted,
           fitted_sigma,
           fit_cost,
           lines_of(r.settings),
           py::list(py::cast(r.notes)),
           py::list(py::cast(warnings))};
  return make_result(std::move(out));
}

}  // namespace

py::object neutron_pdf(const py::object& input, const std::string& composition, const py::kwargs& kw) {
  NeutronCall call = call_of(composition, kw);
  if (!py::isinstance<py::list>(input) && !py::isinstance<py::tuple>(input)) return reduce_sample(call, input);
  py::list out;
  for (const py::handle item : input) out.append(reduce_sample(call, item));
  return out;
}

void init_neutron_pdf(py::module_& m) {
  define<NeutronPdfTag>(m, "NeutronPdf",
                        "A neutron total-scattering reduction (see pdf(..., radiation=\"neutron\")): dsigma/dOmega, "
                        "S(Q), F(Q), G(r) with their standard deviations, the self term and a summary.",
                        kNeutronPdfFields);
}

}  // namespace talvo::python
