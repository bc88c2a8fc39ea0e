#include "talvo/pdf/neutron_optimize.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <utility>

#include "talvo/numeric/least_squares.hpp"
#include "talvo/pdf/neutron_reduce_internal.hpp"
#include "talvo/pdf/optimize.hpp"
#include "talvo/text/format.hpp"

namespace talvo::pdf {
namespace {

constexpr std::array<std::string_view, 4> kNames{"density", "sample-scale", "can-scale", "flat"};
constexpr double kStep = 0.05;  // the second factor set's density above the first's, relative
constexpr int kMostRounds = 5;

Error invalid(std::string text) { return make_error(ErrorKind::kInvalidArgument, std::move(text)); }

// The sample's factors at density p: the atoms lit and rho0 in proportion, the
// attenuation log-linear and delta linear in p between `a` (made at `at`) and
// `b` (made at at (1 + kStep)).
struct FactorLine {
  const NeutronFactorSet* a = nullptr;
  std::optional<NeutronFactorSet> b;
  double at = 0.0;

  void at_density(double p, NeutronFactorSet& out) const {
    const double ratio = p / at, t = (ratio - 1.0) / kStep;
    out.number_density = a->number_density * ratio;
    out.sample_atoms = a->sample_atoms * ratio;
    if (!b) return;
    const auto log_line = [t](const std::vector<double>& x, const std::vector<double>& y, std::vector<double>& into) {
      for (std::size_t i = 0; i < x.size(); ++i) into[i] = x[i] * std::pow(y[i] / x[i], t);
    };
    log_line(a->a_s_sc, b->a_s_sc, out.a_s_sc);
    log_line(a->a_c_sc, b->a_c_sc, out.a_c_sc);
    for (std::size_t i = 0; i < a->delta_sc.size(); ++i)
      out.delta_sc[i] = a->delta_sc[i] + t * (b->delta_sc[i] - a->delta_sc[i]);
  }
};

// What is fitted: each parameter's start, bounds and typical size, and the option the density is.
struct Setup {
  std::vector<NeutronFitSpec> fit;
  std::vector<double> start, lower, upper, typical;
  std::string density_option;     // "number-density" or "density"; empty when the density is not fitted
  std::size_t density_index = 0;  // its place in the parameters
};

Result<Setup> setup_of(std::vector<NeutronFitSpec> fit, const Options& o, const NeutronRuns& runs,
                       const NeutronReduction& first) {
  double largest = 0.0;
  for (double y : first.dcs.y) largest = std::max(largest, std::abs(y));
  Setup st;
  for (std::size_t k = 0; k < fit.size(); ++k) {
    const NeutronFitSpec& s = fit[k];
    double p = 0.0, lo = 0.0, hi = 0.0, typical = 0.0;
    switch (s.what) {
      case NeutronFitted::kDensity:
        st.density_option = o.given("number-density") ? "number-density" : o.given("density") ? "density" : "";
        if (st.density_option.empty()) return invalid("density is fitted from a density or number density given");
        st.density_index = k;
        p = o.number(st.density_option), lo = 0.5 * p, hi = 1.5 * p, typical = p;
        break;
      case NeutronFitted::kSampleScale:
        p = o.number("sample-scale"), lo = 0.5 * p, hi = 2.0 * p, typical = p;
        break;
      case NeutronFitted::kCanScale:
        if (!runs.can) return invalid("can-scale is fitted only with an empty can's run");
        p = o.number("can-scale"), lo = 0.0, hi = std::max(2.0 * p, 2.0), typical = std::max(p, 0.1);
        break;
      case NeutronFitted::kFlat:
        p = o.number("flat"), lo = -largest, hi = largest, typical = std::max(1e-3 * largest, 1e-300);
        break;
    }
    if (s.lower) lo = *s.lower;
    if (s.upper) hi = *s.upper;
    const std::string name(neutron_fitted_name(s.what));
    if (!(p >= lo && p <= hi))
      return invalid(name + " starts at " + shortest(p) + ", outside its bounds " + shortest(lo) + " to " +
                     shortest(hi));
    st.start.push_back(p);
    st.lower.push_back(lo);
    st.upper.push_back(hi);
    st.typical.push_back(typical);
  }
  st.fit = std::move(fit);
  return st;
}

// One trial: the reduction at the parameters p, its G at the cost's r.
struct Trials {
  const NeutronRuns& runs;
  const Options& options;
  const Setup& setup;
  const FactorLine& line;
  NeutronFactorSet work;
  std::vector<double> rc;
  int count = 0;

  Outcome residuals(std::span<const double> p, std::span<double> r) {
    ++count;
    NeutronKnobs knobs = knobs_of(options);
    for (std::size_t k = 0; k < setup.fit.size(); ++k) {
      switch (setup.fit[k].what) {
        case NeutronFitted::kDensity:
          line.at_density(p[k], work);
          break;
        case NeutronFitted::kSampleScale:
          knobs.sample_scale = p[k];
          break;
        case NeutronFitted::kCanScale:
          knobs.can_scale = p[k];
          break;
        case NeutronFitted::kFlat:
          knobs.flat = p[k];
          break;
      }
    }
    Result<NeutronReduction> red = reduce_neutron_with(runs, work, options, knobs, rc);
    if (!red.ok()) return red.error();
    fit_residuals(red->gr, work.number_density, red->sq, r);
    return Done{};
  }
};

Result<NeutronFactorSet> factors_at(const NeutronFactorSet& like, const Options& o, const Setup& st, double p,
                                    const NeutronTable& table) {
  OptionValues changed;
  changed.values[st.density_option] = p;
  Result<Options> at = with_values(neutron_reduction_options(), o, changed);
  if (!at.ok()) return at.error();
  return neutron_factors(like.two_theta, *at, table);
}

// The options with the fitted values in.
Result<Options> fitted_options(const Options& o, const Setup& st, std::span<const double> p) {
  OptionValues changed;
  for (std::size_t k = 0; k < st.fit.size(); ++k)
    changed.values[st.fit[k].what == NeutronFitted::kDensity ? st.density_option
                                                             : std::string(neutron_fitted_name(st.fit[k].what))] = p[k];
  return with_values(neutron_reduction_options(), o, changed);
}

}  // namespace

std::string_view neutron_fitted_name(NeutronFitted f) { return kNames[static_cast<std::size_t>(f)]; }

Result<std::vector<NeutronFitSpec>> parse_neutron_fit_list(std::string_view text, std::string_view option) {
  Result<std::vector<BoundedName>> items = parse_bounded_list(text, kNames, option);
  if (!items.ok()) return items.error();
  std::vector<NeutronFitSpec> out;
  for (const BoundedName& b : *items) out.push_back({static_cast<NeutronFitted>(b.index), b.lower, b.upper});
  return out;
}

Result<NeutronOptimization> optimize_neutron(const NeutronRuns& runs, const NeutronFactorSet& factors,
                                             const Options& options, const NeutronTable& table) {
  if (!options.given("optimize")) return invalid("nothing to fit: name the parameters to fit with --optimize");
  Result<std::vector<NeutronFitSpec>> fit = parse_neutron_fit_list(options.text("optimize"), "--optimize");
  if (!fit.ok()) return fit.error();
  Result<NeutronReduction> first = reduce_neutron(runs, factors, options);
  if (!first.ok()) return first.error();
  Result<Setup> made = setup_of(std::move(*fit), options, runs, *first);
  if (!made.ok()) return made.error();
  const Setup& st = *made;
  const bool density = !st.density_option.empty();
  const std::vector<double> rc = fit_cost_r(options.number("rmin-check"));

  FactorLine line{&factors, std::nullopt, density ? st.start[st.density_index] : 1.0};
  std::optional<NeutronFactorSet> about;  // the factors made about the last fitted density
  std::vector<double> p = st.start;
  std::vector<std::string> warnings;
  NeutronOptimization out;
  std::optional<LeastSquaresFit> f;
  Trials trials{runs, options, st, line, factors, rc};
  const double factor = correlated_sigma_factor(rc.size(), options.number("rmin-check"), first->qmax);
  LeastSquaresOptions lso;
  lso.lower = st.lower;
  lso.upper = st.upper;
  lso.typical = st.typical;
  lso.tolerance = 1e-6;
  for (out.rounds = 1;; ++out.rounds) {
    if (density) {
      Result<NeutronFactorSet> b = factors_at(factors, options, st, line.at * (1.0 + kStep), table);
      if (!b.ok()) return b.error();
      line.b = std::move(*b);
    }
    Result<LeastSquaresFit> round = least_squares(
        [&](std::span<const double> q, std::span<double> r) { return trials.residuals(q, r); }, p, rc.size() + 1, lso);
    if (!round.ok()) return round.error();
    f = std::move(*round);
    if (out.rounds == 1) out.cost_before = 2.0 * f->initial_cost;
    p = f->p;
    if (!density) break;
    const double now = p[st.density_index], moved = std::abs(now - line.at);
    Result<NeutronFactorSet> a = factors_at(factors, options, st, now, table);
    if (!a.ok()) return a.error();
    about = std::move(*a);
    line.a = &*about;
    line.at = now;
    trials.work = *about;
    if (moved <= std::max(0.1 * factor * f->sigma[st.density_index], 1e-4 * now)) break;
    if (out.rounds == kMostRounds) {
      warnings.push_back("the density moved by " + shortest(moved) + " in the fit's last round of " +
                         std::to_string(kMostRounds) + ": the factors of its neighbourhood may not be straight enough");
      break;
    }
  }
  out.cost_after = 2.0 * f->cost;
  out.reductions = trials.count;
  for (std::size_t k = 0; k < st.fit.size(); ++k)
    out.parameters.push_back(
        {st.fit[k].what, st.start[k], f->p[k], factor * f->sigma[k], st.lower[k], st.upper[k], f->at_bound[k]});
  for (const NeutronFittedParameter& fp : out.parameters)
    append_fit_warnings(neutron_fitted_name(fp.what), fp.value, fp.sigma, fp.at_bound, warnings);
  if (!f->converged) append_unconverged_warning(out.reductions, warnings);
  Result<Options> o = fitted_options(options, st, f->p);
  if (!o.ok()) return o.error();
  out.options = std::move(*o);
  out.factors = about ? std::move(*about) : factors;
  return Result<NeutronOptimization>(std::move(out), std::move(warnings));
}

}  // namespace talvo::pdf
