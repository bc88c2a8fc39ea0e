#include "talvo/pdf/optimize.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>

#include "talvo/numeric/least_squares.hpp"
#include "talvo/pdf/stages.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/number.hpp"
#include "talvo/text/quote.hpp"

namespace talvo::pdf {
namespace {

constexpr std::array<std::pair<Fitted, std::string_view>, 7> kNames{{
    {Fitted::kDensity, "density"},
    {Fitted::kBgScale, "bg-scale"},
    {Fitted::kContainerScale, "container-scale"},
    {Fitted::kMuR, "mu-r"},
    {Fitted::kBeamWidth, "beam-width"},
    {Fitted::kRuland, "ruland"},
    {Fitted::kFlat, "flat"},
}};

Error invalid(std::string text) { return make_error(ErrorKind::kInvalidArgument, std::move(text)); }

// The measured points with the background's share apart: y = y0 - s b, so that
// bg-scale s can change without measuring again.
struct Measured {
  MeasuredQ m;                           // at the options' own bg-scale
  std::vector<double> y0, v0, b, vb;     // the sample without any background, its variance; the background's
  std::vector<double> c0, cv0, cb, cvb;  // the same of the container
};

void split_background(const MeasuredQ& none, const MeasuredQ& whole, std::vector<double>& y0, std::vector<double>& v0,
                      std::vector<double>& b, std::vector<double>& vb, bool container) {
  const std::vector<double>& a = container ? none.container_y : none.y;
  const std::vector<double>& sa = container ? none.container_sigma : none.sigma;
  const std::vector<double>& w = container ? whole.container_y : whole.y;
  const std::vector<double>& sw = container ? whole.container_sigma : whole.sigma;
  const std::size_t n = a.size();
  y0 = a;
  v0.resize(n);
  b.resize(n);
  vb.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    v0[i] = sa[i] * sa[i];
    b[i] = a[i] - w[i];
    vb[i] = std::max(sw[i] * sw[i] - v0[i], 0.0);
  }
}

}  // namespace

std::optional<Fitted> fitted_named(std::string_view name) {
  for (const auto& [f, n] : kNames)
    if (n == name) return f;
  return std::nullopt;
}

std::string_view fitted_name(Fitted f) {
  for (const auto& [g, n] : kNames)
    if (g == f) return n;
  return "?";
}

Result<std::vector<BoundedName>> parse_bounded_list(std::string_view text, std::span<const std::string_view> names,
                                                    std::string_view option) {
  std::string all;
  for (std::size_t k = 0; k < names.size(); ++k)
    all += (k == 0 ? "" : k + 1 == names.size() ? " and " : ", ") + std::string(names[k]);
  std::vector<BoundedName> out;
  const std::string opt(option);
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string_view item = text.substr(start, comma - start);
    start = comma + 1;
    const std::size_t c1 = item.find(':');
    const auto at = std::find(names.begin(), names.end(), item.substr(0, c1));
    if (at == names.end())
      return invalid(opt + " takes a list of " + all + " (each NAME or NAME:LOW:HIGH), not " + quote_for_message(item));
    BoundedName spec{static_cast<std::size_t>(at - names.begin()), std::nullopt, std::nullopt};
    if (c1 != std::string_view::npos) {
      const std::size_t c2 = item.find(':', c1 + 1);
      if (c2 == std::string_view::npos)
        return invalid(opt + " " + quote_for_message(item) + ": the bounds are NAME:LOW:HIGH");
      const std::string name = opt + " " + std::string(*at);
      const Result<double> lo = read_number(item.substr(c1 + 1, c2 - c1 - 1), name + " LOW");
      if (!lo.ok()) return lo.error();
      const Result<double> hi = read_number(item.substr(c2 + 1), name + " HIGH");
      if (!hi.ok()) return hi.error();
      if (!(*lo < *hi))
        return invalid(opt + " " + quote_for_message(item) + ": the bounds are NAME:LOW:HIGH with LOW below HIGH");
      spec.lower = *lo;
      spec.upper = *hi;
    }
    for (const BoundedName& s : out)
      if (s.index == spec.index) return invalid(opt + " names " + std::string(*at) + " twice");
    out.push_back(spec);
  }
  return out;
}

Result<std::vector<FitSpec>> parse_fit_list(std::string_view text, std::string_view option) {
  std::array<std::string_view, kNames.size()> names{};
  for (std::size_t k = 0; k < kNames.size(); ++k) names[k] = kNames[k].second;
  Result<std::vector<BoundedName>> items = parse_bounded_list(text, names, option);
  if (!items.ok()) return items.error();
  std::vector<FitSpec> out;
  for (const BoundedName& b : *items) out.push_back({kNames[b.index].first, b.lower, b.upper});
  return out;
}

std::string fit_list_text(std::span<const FitSpec> fit) {
  std::string t;
  for (const FitSpec& s : fit) {
    if (!t.empty()) t += ',';
    t += fitted_name(s.what);
    if (s.lower && s.upper) t += ":" + shortest(*s.lower) + ":" + shortest(*s.upper);
  }
  return t;
}

namespace {

// The parameters' starting values, bounds and typical sizes: each from the option it fits (its bounds as
// asked, else a range about it), refused where the run gives nothing to start from.
struct Start {
  std::vector<double> start, lower, upper, typical;
};

Result<Start> start_of(std::span<const FitSpec> fit, const ReductionOptions& options, const Measured& base,
                       const Corrected& first, double density0) {
  double largest = 0.0;
  for (double y : base.m.y) largest = std::max(largest, std::abs(y));
  Start st;
  std::vector<double>&start = st.start, &lower = st.lower, &upper = st.upper, &typical = st.typical;
  for (const FitSpec& s : fit) {
    double p = 0.0, lo = 0.0, hi = 0.0;
    const std::string name(fitted_name(s.what));
    switch (s.what) {
      case Fitted::kDensity:
        if (!(density0 > 0.0)) return invalid("density is fitted from a density or number density given");
        p = density0, lo = 0.5 * p, hi = 1.5 * p;
        break;
      case Fitted::kBgScale:
        p = options.bg_scale, lo = 0.0, hi = std::max(2.0 * p, 2.0);
        break;
      case Fitted::kContainerScale:
        if (base.m.container_y.empty()) return invalid("container-scale is fitted only with an empty container");
        p = options.container_scale, lo = 0.0, hi = std::max(2.0 * p, 2.0);
        break;
      case Fitted::kMuR:
        if (options.absorption.geometry != Geometry::kCapillary || !first.mu_x)
          return invalid("mu-r is fitted for a capillary of known mu R (given, or from mu and its diameter)");
        p = *first.mu_x, lo = 0.5 * p, hi = 2.0 * p;
        break;
      case Fitted::kBeamWidth:
        if (!options.beam_width) return invalid("beam-width is fitted from a beam's width given");
        p = *options.beam_width, lo = 0.1 * p, hi = 3.0 * p;
        break;
      case Fitted::kRuland:
        if (!options.ruland) return invalid("ruland is fitted from a band pass given");
        p = *options.ruland, lo = 0.1 * p, hi = 10.0 * p;
        break;
      case Fitted::kFlat:
        p = options.flat, lo = -largest, hi = largest;
        break;
    }
    if (s.lower) lo = *s.lower;
    if (s.upper) hi = *s.upper;
    if (!(p >= lo && p <= hi))
      return invalid(name + " starts at " + shortest(p) + ", outside its bounds " + shortest(lo) + " to " +
                     shortest(hi));
    start.push_back(p);
    lower.push_back(lo);
    upper.push_back(hi);
    typical.push_back(s.what == Fitted::kFlat ? std::max(1e-3 * largest, 1e-300)
                      : s.what == Fitted::kBgScale || s.what == Fitted::kContainerScale
                          ? std::max(std::abs(p), 0.1)
                          : std::max(std::abs(p), 1e-300));
  }

  return st;
}

// The fitted parameters with their sigmas, and the warnings of those the fit could not settle.
Result<Optimization> optimization_of(std::span<const FitSpec> fit, const Start& begun, const LeastSquaresFit& f,
                                     int trials, double sigma_factor, std::vector<std::string> warnings) {
  const std::vector<double>&start = begun.start, &lower = begun.lower, &upper = begun.upper;
  Optimization out;
  out.cost_before = 2.0 * f.initial_cost;
  out.cost_after = 2.0 * f.cost;
  out.reductions = trials;
  for (std::size_t k = 0; k < fit.size(); ++k) {
    FittedParameter fp;
    fp.what = fit[k].what;
    fp.start = start[k];
    fp.value = f.p[k];
    fp.sigma = sigma_factor * f.sigma[k];
    fp.lower = lower[k];
    fp.upper = upper[k];
    fp.at_bound = f.at_bound[k];
    out.parameters.push_back(fp);
    append_fit_warnings(fitted_name(fp.what), fp.value, fp.sigma, fp.at_bound, warnings);
  }
  if (!f.converged) append_unconverged_warning(trials, warnings);
  return Result<Optimization>(std::move(out), std::move(warnings));
}

}  // namespace

std::vector<double> fit_cost_r(double rmin_check) {
  std::vector<double> rc;
  for (std::size_t j = 1;; ++j) {
    const double v = 0.01 * static_cast<double>(j);
    if (v > rmin_check * (1.0 + 1e-12)) break;
    rc.push_back(v);
  }
  return rc;
}

void append_fit_warnings(std::string_view name, double value, double sigma, bool at_bound,
                         std::vector<std::string>& warnings) {
  const std::string n(name);
  if (std::isinf(sigma))
    warnings.push_back("the fit cannot tell " + n + " apart from the other parameters: its sigma is infinite");
  if (at_bound)
    warnings.push_back(n + " stopped at its bound " + shortest(value) + ": widen its bounds (" + n +
                       ":LOW:HIGH) or leave it out");
}

void append_unconverged_warning(int reductions, std::vector<std::string>& warnings) {
  warnings.push_back("the fit stopped after " + std::to_string(reductions) + " reductions without converging");
}

double correlated_sigma_factor(std::size_t nr, double rmin_check, double qmax) {
  const double independent = std::clamp(rmin_check * qmax / std::numbers::pi, 1.0, static_cast<double>(nr));
  return std::sqrt(static_cast<double>(nr) / independent);
}

void fit_residuals(const Curve& g, double rho0, const Curve& sq, std::span<double> r) {
  const std::size_t nr = g.x.size();
  const double scale = 1.0 / std::sqrt(static_cast<double>(nr));
  for (std::size_t j = 0; j < nr; ++j) {
    const double sigma = std::max(g.sigma[j], 1e-300);
    r[j] = scale * (g.y[j] + 4.0 * std::numbers::pi * rho0 * g.x[j]) / sigma;
  }
  const std::vector<double>& q = sq.x;
  const double from = q.back() - 0.2 * (q.back() - q.front());
  double sum = 0.0, var = 0.0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < q.size(); ++i)
    if (q[i] >= from) {
      sum += sq.y[i];
      var += sq.sigma[i] * sq.sigma[i];
      ++count;
    }
  const double mean = sum / static_cast<double>(count);
  r[nr] = (mean - 1.0) / std::max(std::sqrt(var) / static_cast<double>(count), 1e-300);
}

Result<Optimization> optimize(const Inputs& in, const ReductionOptions& options, std::span<const FitSpec> fit) {
  if (options.mode != Mode::kPhysical)
    return invalid("the parameters are fitted in the physical mode; ad hoc mode fits the corrections away");
  if (fit.empty()) return invalid("nothing to fit: name the parameters to fit");
  const bool bg_fitted =
      std::any_of(fit.begin(), fit.end(), [](const FitSpec& s) { return s.what == Fitted::kBgScale; });
  std::vector<std::string> warnings;

  // The stages that do not change with the parameters, once.
  Result<MeasuredQ> measured = measure_q(in, options);
  if (!measured.ok()) return measured.error();
  warnings = measured.warnings();
  Measured base{std::move(*measured), {}, {}, {}, {}, {}, {}, {}, {}};
  if (bg_fitted) {
    if (!in.background) return invalid("bg-scale is fitted only with a background");
    ReductionOptions at0 = options, at1 = options;
    at0.bg_scale = 0.0;
    at1.bg_scale = 1.0;
    Result<MeasuredQ> m0 = measure_q(in, at0);
    Result<MeasuredQ> m1 = measure_q(in, at1);
    if (!m0.ok()) return m0.error();
    if (!m1.ok()) return m1.error();
    split_background(*m0, *m1, base.y0, base.v0, base.b, base.vb, false);
    if (!base.m.container_y.empty()) split_background(*m0, *m1, base.c0, base.cv0, base.cb, base.cvb, true);
  }
  Result<Grids> grids = make_grids(base.m, options);
  if (!grids.ok()) return grids.error();
  SampleModelOptions so = options.sample;
  so.wavelength = options.wavelength.value_or(0.0);
  so.breit_dirac = options.breit_dirac;
  Result<SampleModel> model0 = sample_model(base.m.q, so);
  if (!model0.ok()) return model0.error();
  Result<Corrected> first = physical_intensity(base.m, *model0, options);
  if (!first.ok()) return first.error();
  if (!(options.rmin_check > 0.0) || !std::isfinite(options.rmin_check))
    return invalid("rmin-check must be above 0 Angstrom, not " + shortest(options.rmin_check));

  // Starting values and bounds.
  const double density0 =
      options.sample.density ? *options.sample.density : options.sample.number_density.value_or(0.0);
  Result<Start> begun = start_of(fit, options, base, *first, density0);
  if (!begun.ok()) return begun.error();
  const std::vector<double>&start = begun->start, &lower = begun->lower, &upper = begun->upper,
        &typical = begun->typical;

  const std::vector<double> rc = fit_cost_r(options.rmin_check);
  if (rc.empty()) return invalid("rmin-check must reach 0.01 Angstrom at least");
  const std::size_t nr = rc.size();

  Measured work = base;
  SampleModel model = *model0;
  ReductionOptions o = options;
  int trials = 0;
  double qmax = 0.0;
  auto apply = [&](std::span<const double> p) {
    for (std::size_t k = 0; k < fit.size(); ++k) {
      switch (fit[k].what) {
        case Fitted::kDensity: {
          const double f = p[k] / density0;
          model.number_density = *model0->number_density * f;
          if (model0->mu) model.mu = *model0->mu * f;
          (options.sample.density ? o.sample.density : o.sample.number_density) = p[k];
          break;
        }
        case Fitted::kBgScale: {
          const double s = p[k];
          o.bg_scale = s;
          for (std::size_t i = 0; i < work.m.y.size(); ++i) {
            work.m.y[i] = base.y0[i] - s * base.b[i];
            work.m.sigma[i] = std::sqrt(base.v0[i] + s * s * base.vb[i]);
          }
          for (std::size_t i = 0; i < work.m.container_y.size(); ++i) {
            work.m.container_y[i] = base.c0[i] - s * base.cb[i];
            work.m.container_sigma[i] = std::sqrt(base.cv0[i] + s * s * base.cvb[i]);
          }
          break;
        }
        case Fitted::kContainerScale:
          o.container_scale = p[k];
          break;
        case Fitted::kMuR:
          o.absorption.mu_x = p[k];
          break;
        case Fitted::kBeamWidth:
          o.beam_width = p[k];
          break;
        case Fitted::kRuland:
          o.ruland = p[k];
          break;
        case Fitted::kFlat:
          o.flat = p[k];
          break;
      }
    }
  };
  const ResidualFunction residuals = [&](std::span<const double> p, std::span<double> r) -> Outcome {
    ++trials;
    apply(p);
    Result<Corrected> c = physical_intensity(work.m, model, o);
    if (!c.ok()) return c.error();
    Result<Normalised> n = normalise(work.m, *c, model, *grids, o);
    if (!n.ok()) return n.error();
    Structure st = physical_structure(work.m, *c, *n, model, *grids);
    const Result<std::size_t> added = extrapolate_low_q(st.sq, st.fq, o.extrapolate, o.s0);
    if (!added.ok()) return added.error();
    if (o.rmin_iterate) {
      Result<LowR> low =
          iterate_low_r(st.fq, *model.number_density, *o.rmin_iterate, o.window, o.stop, {*added, o.extrapolate, o.s0});
      if (!low.ok()) return low.error();
      for (std::size_t i = 0; i < st.fq.x.size(); ++i) st.sq.y[i] = 1.0 + st.fq.y[i] / st.fq.x[i];
    }
    Result<Curve> g = transform_fq(st.fq, rc, o.window, o.stop);
    if (!g.ok()) return g.error();
    fit_residuals(*g, *model.number_density, st.sq, r);
    qmax = st.fq.x.back();
    return Done{};
  };

  LeastSquaresOptions lso;
  lso.lower = lower;
  lso.upper = upper;
  lso.typical = typical;
  lso.tolerance = 1e-6;
  Result<LeastSquaresFit> f = least_squares(residuals, start, nr + 1, lso);
  if (!f.ok()) return f.error();

  Result<Optimization> out = optimization_of(
      fit, *begun, *f, trials, correlated_sigma_factor(nr, options.rmin_check, qmax), std::move(warnings));
  apply(f->p);
  out->options = o;
  return out;
}

}  // namespace talvo::pdf
