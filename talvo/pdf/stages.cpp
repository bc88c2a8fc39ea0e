#include "talvo/pdf/stages.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "talvo/numeric/filon.hpp"
#include "talvo/numeric/interpolate.hpp"
#include "talvo/numeric/polynomial_fit.hpp"
#include "talvo/numeric/quadrature.hpp"
#include "talvo/numeric/statistics.hpp"
#include "talvo/pdf/corrections.hpp"
#include "talvo/pdf/running_integral.hpp"
#include "talvo/pdf/same_values_internal.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/grid.hpp"

namespace talvo::pdf {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDeg = kPi / 180.0;
// The most r values a reduction computes (3000 are usual).
constexpr double kMaxR = 1e6;
// The largest r (Angstrom).
constexpr double kLargestR = 1e6;
// Above this a standard deviation's square is not a double.
constexpr double kLargestSigma = 1e150;
// Below this an intensity's normalisation constant, about 1 / I, has a square that is not a double.
constexpr double kSmallestIntensity = 1e-100;

Error invalid(std::string text) { return make_error(ErrorKind::kInvalidArgument, std::move(text)); }

std::size_t negatives(std::span<const double> y) {
  return static_cast<std::size_t>(std::count_if(y.begin(), y.end(), [](double v) { return v < 0.0; }));
}

// The points of p that are finite, with errors whose squares are finite too.
Outcome check_values(const Pattern& p, const char* what) {
  for (std::size_t i = 0; i < p.y.size(); ++i) {
    if (!std::isfinite(p.y[i]) || !std::isfinite(p.sigma[i]))
      return invalid(std::string(what) + " holds a value that is not a number at x = " + shortest(p.x[i]));
    if (std::abs(p.sigma[i]) > kLargestSigma)
      return make_error(ErrorKind::kOutOfRange, std::string(what) + " gives sigma = " + shortest(p.sigma[i]) +
                                                    " at x = " + shortest(p.x[i]) +
                                                    ": too large for its square to be held; give errors in the "
                                                    "intensity's units");
  }
  return Done{};
}

// A sample whose intensities are all so small that their normalisation constant, about 1 / I, has a square
// that is not a double.
Outcome check_scale(const Pattern& p) {
  double largest = 0.0;
  for (const double y : p.y) largest = std::max(largest, std::abs(y));
  if (!p.y.empty() && largest < kSmallestIntensity)
    return make_error(ErrorKind::kOutOfRange, "the pattern's intensities are all below " +
                                                  shortest(kSmallestIntensity) + " (the largest is " +
                                                  shortest(largest) + "): too small to be normalised; scale it up");
  return Done{};
}

Pattern without_outliers(const Pattern& p, double threshold, std::vector<double>* removed) {
  const std::vector<std::size_t> bad = find_outliers(p.y, p.sigma, threshold);
  if (removed)
    for (std::size_t i : bad) removed->push_back(p.x[i]);
  return without_points(p, bad);
}

// A limit of the Q range: the data's last Q when not given; above it by less
// than the last step, the data's end with a warning; further, refused.
Result<double> q_limit(std::optional<double> asked, const char* name, std::span<const double> q,
                       std::vector<std::string>& warnings) {
  const double last = q.back();
  if (!asked) return last;
  const double v = *asked;
  if (!(v > 0.0) || !std::isfinite(v))
    return invalid(std::string(name) + " must be above 0 1/Angstrom, not " + shortest(v));
  if (v <= last * (1.0 + 1e-12)) return v;
  const double step = last - q[q.size() - 2];
  if (v - last < step) {
    warnings.push_back(std::string(name) + " " + shortest(v) + " lies above the data's last Q, " + shortest(last) +
                       " 1/A, by less than one step: the data's end is taken");
    return last;
  }
  return invalid(std::string(name) + " " + shortest(v) + " lies above the data, which end at Q = " + shortest(last) +
                 " 1/A: give a " + name + " up to that");
}

// F(Q) and its errors on the equally spaced grid of the transform.
struct EqualGrid {
  std::vector<double> q, f, sigma;
  double h = 0.0;
};

EqualGrid equal_grid(const Curve& fq) {
  EqualGrid g;
  const std::size_t n = fq.x.size();
  g.h = (fq.x.back() - fq.x.front()) / static_cast<double>(n - 1);
  g.q.resize(n);
  for (std::size_t k = 0; k < n; ++k) g.q[k] = fq.x.front() + static_cast<double>(k) * g.h;
  g.q.back() = fq.x.back();
  if (first_unequal_step(fq.x) == n) {
    g.f = fq.y;
    g.sigma = fq.sigma;
  } else {
    Interpolated in = interpolate_linear(fq.x, fq.y, fq.sigma, g.q);
    g.f = std::move(in.y);
    g.sigma = std::move(in.sigma);
  }
  if (g.sigma.size() != n) g.sigma.assign(n, 0.0);
  return g;
}

}  // namespace

Result<MeasuredQ> measure_q(const Inputs& in, const ReductionOptions& o) {
  if (!in.sample) return invalid("no sample pattern to reduce");
  if (!in.background && o.bg_scale != 1.0) return invalid("a background scale needs a background pattern");
  if (o.wavelength && !(*o.wavelength > 0.0 && std::isfinite(*o.wavelength)))
    return invalid("the wavelength must be above 0 Angstrom, not " + shortest(*o.wavelength));
  std::vector<std::string> warnings;
  MeasuredQ m;
  if (Outcome ok = check_values(*in.sample, "the pattern"); !ok.ok()) return ok.error();
  if (Outcome ok = check_scale(*in.sample); !ok.ok()) return ok.error();
  Pattern sample = without_outliers(*in.sample, o.outlier_threshold, &m.outliers);
  if (in.background) {
    if (Outcome ok = check_values(*in.background, "the background"); !ok.ok()) return ok.error();
    Result<Pattern> sub =
        subtract_background(sample, without_outliers(*in.background, o.outlier_threshold, nullptr), o.bg_scale);
    if (!sub.ok()) return sub.error();
    sample = std::move(*sub);
    m.background_subtracted = true;
    if (const std::size_t n = negatives(sample.y))
      warnings.push_back(std::to_string(n) + " of " + std::to_string(sample.y.size()) +
                         " points are below 0 once the background is subtracted: the background scale (" +
                         shortest(o.bg_scale) + ") may be too large");
  } else if (const std::size_t n = negatives(sample.y)) {
    warnings.push_back(std::to_string(n) + " of " + std::to_string(sample.y.size()) +
                       " points of the pattern are below 0: an intensity is not, before a background is "
                       "subtracted");
  }
  // S(Q) = 1 + F(Q) / Q has no value at Q = 0.
  std::vector<std::size_t> at_zero;
  for (std::size_t i = 0; i < sample.x.size() && sample.x[i] <= 0.0; ++i)
    if (sample.x[i] == 0.0) at_zero.push_back(i);
  if (!at_zero.empty()) {
    sample = without_points(sample, at_zero);
    warnings.emplace_back("the point at Q = 0 is left out: S(Q) is not defined there");
  }
  if (sample.x.size() < 3) return invalid("fewer than 3 points of the pattern are left to reduce");
  Result<std::vector<double>> q = q_of(sample, o.wavelength);
  if (!q.ok()) return q.error();
  for (std::size_t i = 1; i < q->size(); ++i)
    if (!((*q)[i] > (*q)[i - 1])) return invalid("Q does not increase at x = " + shortest(sample.x[i]));
  m.q = std::move(*q);
  if (o.wavelength) {
    m.two_theta.resize(m.q.size());
    for (std::size_t i = 0; i < m.q.size(); ++i) {
      if (sample.abscissa == Abscissa::kTwoTheta) {
        m.two_theta[i] = sample.x[i];
        continue;
      }
      const double s = m.q[i] * *o.wavelength / (4.0 * kPi);
      m.two_theta[i] = s < 1.0 ? 2.0 * std::asin(s) / kDeg : 180.0;
    }
  }
  if (in.container) {
    // The empty container, less the same background, on the sample's points.
    if (Outcome ok = check_values(*in.container, "the container"); !ok.ok()) return ok.error();
    if (in.container->abscissa != sample.abscissa)
      return invalid("the container's x is in other units than the sample's; give both in the same format");
    Pattern c = without_outliers(*in.container, o.outlier_threshold, nullptr);
    if (in.background) {
      Result<Pattern> sub =
          subtract_background(c, without_outliers(*in.background, o.outlier_threshold, nullptr), o.bg_scale);
      if (!sub.ok()) return with_context(sub, "the container: ");
      c = std::move(*sub);
    }
    const double half_step = 0.5 * (c.x.back() - c.x.front()) / static_cast<double>(c.x.size() - 1);
    if (sample.x.front() < c.x.front() - half_step || sample.x.back() > c.x.back() + half_step)
      return invalid("the container covers x = " + shortest(c.x.front()) + " to " + shortest(c.x.back()) +
                     " and the sample " + shortest(sample.x.front()) + " to " + shortest(sample.x.back()) +
                     ": measure the empty container over the sample's whole range");
    Interpolated ci = interpolate_linear(c.x, c.y, c.sigma, sample.x);
    m.container_y = std::move(ci.y);
    m.container_sigma = std::move(ci.sigma);
  }
  m.x = std::move(sample.x);
  m.y = std::move(sample.y);
  m.sigma = std::move(sample.sigma);
  return Result<MeasuredQ>(std::move(m), std::move(warnings));
}

Result<Grids> make_grids(const MeasuredQ& m, const ReductionOptions& o) {
  std::vector<std::string> warnings;
  Grids g;
  const bool adhoc = o.mode == Mode::kAdhoc;
  const std::span<const double> q = m.q;
  if (q.size() < 3) return invalid("a pattern needs at least 3 points");
  if (adhoc) {
    Result<double> top = q_limit(o.qmaxinst, "qmaxinst", q, warnings);
    if (!top.ok()) return top.error();
    g.qtop_fit = *top;
    Result<double> qmax = q_limit(o.qmax.value_or(g.qtop_fit), "qmax", q, warnings);
    if (!qmax.ok()) return qmax.error();
    g.qmax = *qmax;
    if (g.qmax > g.qtop_fit * (1.0 + 1e-12))
      return invalid("qmax " + shortest(g.qmax) + " lies above qmaxinst " + shortest(g.qtop_fit) +
                     ": the ad hoc correction is fitted up to qmaxinst only; give a qmax up to it or raise qmaxinst");
  } else {
    Result<double> qmax = q_limit(o.qmax, "qmax", q, warnings);
    if (!qmax.ok()) return qmax.error();
    g.qmax = g.qtop_fit = *qmax;
  }
  g.qmin = o.qmin;
  if (!(o.qmin >= 0.0) || !(o.qmin < g.qmax))
    return invalid("qmin " + shortest(o.qmin) + " must lie between 0 and qmax (" + shortest(g.qmax) + ")");
  const auto at_or_below = [&q](double v) {
    return static_cast<std::size_t>(std::upper_bound(q.begin(), q.end(), v * (1.0 + 1e-12)) - q.begin());
  };
  g.first = static_cast<std::size_t>(std::lower_bound(q.begin(), q.end(), o.qmin) - q.begin());
  g.end = at_or_below(g.qmax);
  g.fit_end = at_or_below(g.qtop_fit);
  if (g.end < g.first + 3) return invalid("fewer than 3 points lie between qmin and qmax: widen the Q range");
  // G(r) resolves nothing finer than about pi / (Q range): below pi 1/A that is coarser than a bond.
  const double span = q[g.end - 1] - q[g.first];
  if (span < kPi)
    warnings.push_back("the transform uses Q from " + shortest(q[g.first]) + " to " + shortest(q[g.end - 1]) +
                       " 1/A only: G(r) cannot resolve distances finer than pi / " + shortest(span) + " = " +
                       shortest(kPi / span) + " A");

  if (!(o.rmin >= 0.0) || !(o.rstep > 0.0) || !(o.rmax > o.rmin) || !std::isfinite(o.rmax) || !std::isfinite(o.rstep))
    return invalid("the r grid needs 0 <= rmin < rmax and a step above 0");
  // Q r must stay where its sine has digits: beyond a micrometre no powder pattern says anything of G.
  if (!(o.rmax <= kLargestR))
    return invalid("the r grid ends at rmax = " + shortest(o.rmax) + " A; it may reach 1e6 A at most");
  const double count = grid_count(o.rmin, o.rmax, o.rstep);
  if (!(count <= kMaxR))
    return invalid("the r grid asks for " + (std::isfinite(count) ? shortest(std::floor(count)) : "too many") +
                   " r values; at most 1e6 are computed");
  g.r = grid_points(o.rmin, o.rmax, o.rstep, static_cast<std::size_t>(kMaxR));
  if (!grid_increasing(g.r))
    return invalid("the r grid's step " + shortest(o.rstep) + " is too small for its points near " + shortest(o.rmin) +
                   " to differ");
  if (o.rmin_iterate && !(*o.rmin_iterate > 0.0 && *o.rmin_iterate < o.rmax))
    return invalid(
        "the low-r iteration's rmin-iterate must lie between 0 and the r grid's end, rmax = " + shortest(o.rmax) +
        " Angstrom, not " + shortest(*o.rmin_iterate) + " (it is where G(r) starts: below the first peak)");
  return Result<Grids>(std::move(g), std::move(warnings));
}

namespace {

// mu (1/cm) of a composition at the wavelength, from its density.
Result<double> mu_of(const std::string& composition, double density, double wavelength) {
  SampleModelOptions so;
  so.composition = composition;
  so.density = density;
  so.wavelength = wavelength;
  const double q[] = {1.0};
  Result<SampleModel> model = sample_model(q, so);
  if (!model.ok()) return model.error();
  if (!model->mu) return invalid("the attenuation of " + composition + " is not known at this wavelength");
  return *model->mu;
}

}  // namespace

Result<Corrected> physical_intensity(const MeasuredQ& m, const SampleModel& model, const ReductionOptions& o) {
  if (!o.wavelength)
    return invalid("the physical corrections need the wavelength: give the wavelength (Angstrom) or the anode");
  if (!model.number_density)
    return invalid(
        "the physical mode needs the sample's density: give the density (g/cm3) or the number density "
        "(atoms/A^3), or use the ad hoc mode");
  if (o.polarization.monochromator_two_theta && o.polarization.normal_fraction != 0.5)
    return invalid(
        "a polarisation fraction is for a polarised source without a monochromator; a monochromator's source "
        "is taken as unpolarised");
  Corrected c;
  Absorption ab = o.absorption;
  const bool capillary = ab.geometry == Geometry::kCapillary;
  const std::optional<double> radius_cm =
      o.capillary_diameter ? std::optional<double>(0.05 * *o.capillary_diameter) : std::nullopt;
  std::string size;  // what mu was multiplied by, for a product past the doubles
  if (!ab.mu_x && ab.geometry != Geometry::kReflection) {
    if (model.mu && capillary && radius_cm) {
      ab.mu_x = *model.mu * *radius_cm;
      size = "the capillary's radius (its diameter " + shortest(*o.capillary_diameter) + " mm)";
    } else if (model.mu && o.thickness) {
      ab.mu_x = *model.mu * *o.thickness * (capillary ? 0.5 : 1.0);
      size = (capillary ? "half the thickness " : "the thickness ") + shortest(*o.thickness) + " cm";
    } else {
      return invalid(std::string("the ") + std::string(geometry_name(ab.geometry)) +
                     " geometry needs its absorption: give " + (capillary ? "mu R (mu-r)" : "mu t (mu-t)") +
                     (model.mu ? (capillary ? " or the capillary's diameter" : " or the thickness in cm") : ""));
    }
  } else if (!ab.mu_x && o.thickness && model.mu) {
    ab.mu_x = *model.mu * *o.thickness;
    size = "the thickness " + shortest(*o.thickness) + " cm";
  }
  if (ab.mu_x && !std::isfinite(*ab.mu_x) && model.mu)
    return make_error(ErrorKind::kOutOfRange, "mu " + shortest(*model.mu) + " /cm times " + size +
                                                  " is beyond the double range: nothing is transmitted; is the "
                                                  "size in its unit (the capillary's diameter in mm, the "
                                                  "thickness in cm)?");
  if ((o.beam_width || !m.container_y.empty()) && !(capillary && o.capillary_diameter))
    return invalid(std::string(o.beam_width ? "the beam's width" : "the empty container") +
                   " needs a capillary of known diameter: give the geometry capillary and the capillary's diameter");
  // A width past the doubles in units of the radius (1e308 mm) lights the whole cross-section, as none does.
  if (o.beam_width && std::isfinite(*o.beam_width / (0.5 * *o.capillary_diameter)))
    ab.beam = CapillaryBeam{*o.beam_width / (0.5 * *o.capillary_diameter), o.beam_profile, 0.0};
  c.mu_x = ab.mu_x;
  const std::size_t n = m.q.size();
  // The sample's own factor, and in a container the container's share of the pattern.
  std::vector<double> a_s, ratio;
  if (m.container_y.empty()) {
    Result<std::vector<double>> af = absorption_factors(m.two_theta, ab);
    if (!af.ok()) return af.error();
    a_s = std::move(*af);
  } else {
    if (o.container_composition.empty() || !o.container_density || !o.container_wall)
      return invalid("the empty container needs its composition, density and wall thickness");
    if (!(o.container_scale >= 0.0) || !std::isfinite(o.container_scale))
      return invalid("the container's scale must be 0 or more, not " + shortest(o.container_scale));
    const Result<double> mu_c = mu_of(o.container_composition, *o.container_density, *o.wavelength);
    if (!mu_c.ok()) return with_context(mu_c, "the container: ");
    const double r_mm = 0.5 * *o.capillary_diameter;
    const CapillaryWall wall{*o.container_wall / r_mm, *mu_c * 0.1 * r_mm};  // mu in 1/cm, R in cm
    Result<PaalmanPingsFactors> pp = paalman_pings_factors(m.two_theta, ab.mu_x.value_or(0.0), wall, ab.beam);
    if (!pp.ok()) return pp.error();
    a_s = std::move(pp->a_s_sc);
    ratio.resize(n);
    for (std::size_t k = 0; k < n; ++k) ratio[k] = o.container_scale * pp->a_c_sc[k] / pp->a_c_c[k];
  }
  c.absorption_min = *std::min_element(a_s.begin(), a_s.end());
  c.absorption_max = *std::max_element(a_s.begin(), a_s.end());
  if (!(c.absorption_min > 0.0))
    return invalid("the absorption factor falls to 0: mu R or mu t is too large for these angles");
  if (o.ruland && !(*o.ruland > 0.0 && std::isfinite(*o.ruland)))
    return invalid("Ruland's band pass must be above 0 Angstrom, not " + shortest(*o.ruland));
  c.i.resize(n);
  c.sigma.resize(n);
  c.model.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    const double p = polarization(m.two_theta[k], o.polarization);
    double y = m.y[k] - o.flat, var = m.sigma[k] * m.sigma[k];
    if (!ratio.empty()) {
      y -= ratio[k] * m.container_y[k];
      var += ratio[k] * ratio[k] * m.container_sigma[k] * m.container_sigma[k];
    }
    c.i[k] = y / (p * a_s[k]);
    c.sigma[k] = std::sqrt(var) / (p * a_s[k]);
    const double window = o.ruland ? ruland_window(m.two_theta[k], *o.wavelength, *o.ruland) : 1.0;
    c.model[k] = model.f2[k] + window * model.compton[k];
  }
  return c;
}

Result<Normalised> normalise(const MeasuredQ& m, const Corrected& c, const SampleModel& model, const Grids& g,
                             const ReductionOptions& o) {
  const std::span<const double> q = std::span<const double>(m.q).subspan(g.first, g.end - g.first);
  const std::vector<double>& fm2 = model.f_mean_sq;
  // d(denominator)/d(corrected intensity) at each point, for sigma_alpha.
  std::vector<double> dden(q.size(), 0.0);
  double den = 0.0, num = 0.0;
  if (o.normalization == Normalization::kKroghMoeNorman) {
    // alpha = [-2 pi^2 rho0 + int Q^2 model / <f>^2 dQ] / int Q^2 i / <f>^2 dQ
    std::vector<double> a1(q.size()), a2(q.size());
    for (std::size_t k = 0; k < q.size(); ++k) {
      const std::size_t i = g.first + k;
      a1[k] = q[k] * q[k] * c.model[i] / fm2[i];
      a2[k] = q[k] * q[k] * c.i[i] / fm2[i];
    }
    den = trapezoid(q, a2);
    num = -2.0 * kPi * kPi * *model.number_density + trapezoid(q, a1);
    const std::vector<double> w = trapezoid_weights(q);
    for (std::size_t k = 0; k < q.size(); ++k) dden[k] = w[k] * q[k] * q[k] / fm2[g.first + k];
  } else {
    // The top fifth of the range, where S(Q) oscillates about 1.
    const double from = q.front() + 0.8 * (q.back() - q.front());
    for (std::size_t k = 0; k < q.size(); ++k) {
      if (q[k] < from) continue;
      num += c.model[g.first + k];
      den += c.i[g.first + k];
      dden[k] = 1.0;
    }
  }
  Normalised out;
  out.alpha = num / den;
  double var = 0.0;
  for (std::size_t k = 0; k < q.size(); ++k) var += std::pow(dden[k] * c.sigma[g.first + k], 2);
  out.alpha_sigma = std::abs(out.alpha) * std::sqrt(var) / std::abs(den);
  if (!(out.alpha > 0.0) || !std::isfinite(out.alpha))
    return invalid("the normalisation constant comes out as " + shortest(out.alpha) +
                   ": the pattern, the background scale or the density do not fit together");
  return out;
}

Structure physical_structure(const MeasuredQ& m, const Corrected& c, const Normalised& n, const SampleModel& model,
                             const Grids& g) {
  Structure s;
  const std::size_t count = m.q.size();
  s.iq.resize(count);
  s.iq_sigma.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    s.iq[i] = n.alpha * c.i[i];
    s.iq_sigma[i] = n.alpha * c.sigma[i];
  }
  s.model = c.model;
  for (std::size_t i = g.first; i < g.end; ++i) {
    const double q = m.q[i], fm2 = model.f_mean_sq[i];
    const double sq = 1.0 + (s.iq[i] - c.model[i]) / fm2;
    s.sq.x.push_back(q);
    s.sq.y.push_back(sq);
    s.sq.sigma.push_back(s.iq_sigma[i] / fm2);
    s.fq.x.push_back(q);
    s.fq.y.push_back(q * (sq - 1.0));
    s.fq.sigma.push_back(q * s.iq_sigma[i] / fm2);
  }
  return s;
}

Result<AdhocStructure> adhoc_structure(const MeasuredQ& m, const SampleModel& model, const Grids& g,
                                       const ReductionOptions& o) {
  if (!(o.rpoly > 0.0) || !std::isfinite(o.rpoly))
    return invalid("rpoly must be above 0 Angstrom, not " + shortest(o.rpoly));
  const double wanted = std::round(o.rpoly * g.qtop_fit / kPi);
  // A smooth correction has a few tens of terms at most; thousands would
  // fit the data's own structure, and their QR alone would take minutes.
  constexpr double kMostDegree = 100;
  if (!(wanted <= kMostDegree))
    return invalid("rpoly " + shortest(o.rpoly) + " asks for a polynomial of degree " + shortest(wanted) +
                   ", above the " + shortest(kMostDegree) + " a smooth correction may have: lower rpoly");
  AdhocStructure out;
  out.degree = std::max(1, static_cast<int>(wanted));
  const std::vector<double>& f2 = model.f2;
  const std::vector<double>& fm2 = model.f_mean_sq;
  const std::size_t n = m.q.size();

  // The scale: c I = <f^2> at high Q, where the atoms scatter independently.
  std::vector<double> ratio;
  const double high = 2.0 / 3.0 * g.qtop_fit;
  for (std::size_t i = g.first; i < g.fit_end; ++i)
    if (m.q[i] >= high) ratio.push_back(m.y[i] / f2[i]);
  if (ratio.empty())
    for (std::size_t i = g.first; i < g.fit_end; ++i) ratio.push_back(m.y[i] / f2[i]);
  const double level = median(ratio);
  if (!(level > 0.0) || !std::isfinite(level))
    return invalid("the intensity at high Q (" + shortest(high) + " to " + shortest(g.qtop_fit) +
                   " 1/A) is not above 0, so the ad hoc mode cannot scale it" +
                   (m.background_subtracted ? ": subtract less background (bg-scale)" : ""));
  out.scale = 1.0 / level;

  Structure& s = out.structure;
  s.iq.resize(n);
  s.iq_sigma.resize(n);
  std::vector<double> fm(n);
  for (std::size_t i = 0; i < n; ++i) {
    s.iq[i] = out.scale * m.y[i];
    s.iq_sigma[i] = out.scale * m.sigma[i];
    fm[i] = m.q[i] * (s.iq[i] - f2[i]) / fm2[i];
  }
  const std::span<const double> qf = std::span<const double>(m.q).subspan(g.first, g.fit_end - g.first);
  const std::span<const double> yf = std::span<const double>(fm).subspan(g.first, g.fit_end - g.first);
  PolynomialBasis basis;
  basis.top = g.qtop_fit;
  basis.degree = out.degree;
  basis.through_zero = true;
  Result<std::vector<double>> p = polynomial_fit(qf, yf, basis, m.q);
  if (!p.ok())
    return make_error(p.kind(), "the ad hoc correction: " + p.error().message +
                                    ": lower rpoly or widen the range from qmin to qmaxinst");
  s.model.resize(n);
  for (std::size_t i = 0; i < n; ++i) s.model[i] = f2[i] + (*p)[i] * fm2[i] / m.q[i];
  for (std::size_t i = g.first; i < g.end; ++i) {
    const double q = m.q[i], f = fm[i] - (*p)[i];
    s.fq.x.push_back(q);
    s.fq.y.push_back(f);
    s.fq.sigma.push_back(q * s.iq_sigma[i] / fm2[i]);
    s.sq.x.push_back(q);
    s.sq.y.push_back(1.0 + f / q);
    s.sq.sigma.push_back(s.iq_sigma[i] / fm2[i]);
  }
  return out;
}

Result<Curve> transform_fq(const Curve& fq, std::span<const double> r, Window window, const StopCheck& stop) {
  const Curve* one[] = {&fq};
  return std::move(transform_fq_many(one, r, window, stop).front());
}

std::vector<Result<Curve>> transform_fq_many(std::span<const Curve* const> fqs, std::span<const double> r,
                                             Window window, const StopCheck& stop) {
  std::vector<Result<Curve>> out(fqs.size(), Result<Curve>(Curve{}));
  std::vector<EqualGrid> grids(fqs.size());
  std::vector<std::size_t> todo;
  for (std::size_t p = 0; p < fqs.size(); ++p) {
    const Curve& fq = *fqs[p];
    if (fq.x.size() < 3) {
      out[p] = invalid("the transform needs at least 3 points of F(Q)");
      continue;
    }
    EqualGrid& grid = grids[p];
    grid = equal_grid(fq);
    const Result<std::vector<double>> mq = modification(grid.q, window, grid.q.back());
    if (!mq.ok()) {
      out[p] = with_context(mq, "the window: ");
      continue;
    }
    for (std::size_t k = 0; k < grid.q.size(); ++k) {
      grid.f[k] *= (*mq)[k];
      grid.sigma[k] *= (*mq)[k];
    }
    todo.push_back(p);
  }
  // Curves on one Q grid are transformed together.
  std::vector<std::vector<std::size_t>> groups =
      groups_of(std::move(todo), [&](std::size_t a, std::size_t b) { return same_values(grids[a].q, grids[b].q); });
  for (std::size_t gi = 0; gi < groups.size(); ++gi) {
    const std::vector<std::size_t> group = groups[gi];  // groups may grow below
    const std::vector<double>& q = grids[group.front()].q;
    std::vector<std::span<const double>> fs, sigmas;
    for (std::size_t p : group) {
      fs.push_back(grids[p].f);
      sigmas.push_back(grids[p].sigma);
    }
    FilonOptions fo;
    fo.single_precision = false;
    fo.stop = stop;
    Result<std::vector<FilonTransform>> ft = filon_ft_many(q, fs, sigmas, r, fo);
    if (!ft.ok() && ft.kind() != ErrorKind::kCancelled && group.size() > 1) {
      // One curve whose integral passes the largest double fails the pass:
      // each is transformed alone, so that only it fails.
      for (std::size_t p : group) groups.push_back({p});
      continue;
    }
    for (std::size_t g = 0; g < group.size(); ++g) {
      const std::size_t p = group[g];
      if (!ft.ok()) {
        out[p] = ft.kind() == ErrorKind::kCancelled ? ft.error() : with_context(ft, "the transform failed: ");
        continue;
      }
      const FilonTransform& t = (*ft)[g];
      Curve gr;
      gr.x.assign(r.begin(), r.end());
      gr.y.resize(r.size());
      gr.sigma.resize(r.size());
      for (std::size_t j = 0; j < r.size(); ++j) {
        gr.y[j] = 2.0 / kPi * t.integral[j];
        gr.sigma[j] = 2.0 / kPi * t.sigma[j];
      }
      out[p] = std::move(gr);
    }
  }
  return out;
}

namespace {

// S below the measured points (x, s, from their first, q1): step, line or
// cubic from s0 (extrapolate_low_q), at each of q.
std::vector<double> low_q_values(std::span<const double> x, std::span<const double> s, LowQExtrapolation how,
                                 double s0, std::span<const double> q) {
  const std::size_t n = x.size();
  const double q1 = x.front();
  // The straight line through the first points, by least squares about their mean Q.
  std::size_t m = 0;
  while (m < n && (m < 3 || x[m] <= q1 + 0.5)) ++m;
  double qm = 0.0, sm = 0.0;
  for (std::size_t i = 0; i < m; ++i) {
    qm += x[i];
    sm += s[i];
  }
  qm /= static_cast<double>(m);
  sm /= static_cast<double>(m);
  double sqq = 0.0, sqs = 0.0;
  for (std::size_t i = 0; i < m; ++i) {
    sqq += (x[i] - qm) * (x[i] - qm);
    sqs += (x[i] - qm) * (s[i] - sm);
  }
  const double slope = sqq > 0.0 ? sqs / sqq : 0.0;
  const double rise = sm + slope * (q1 - qm) - s0;
  const double a = (3.0 * rise - slope * q1) / (q1 * q1), b = (slope * q1 - 2.0 * rise) / (q1 * q1 * q1);
  std::vector<double> out(q.size(), s0);
  for (std::size_t k = 0; k < q.size(); ++k) {
    if (how == LowQExtrapolation::kLinear) out[k] = s0 + rise * q[k] / q1;
    if (how == LowQExtrapolation::kPoly) out[k] = s0 + q[k] * q[k] * (a + b * q[k]);
  }
  return out;
}

}  // namespace

Result<std::size_t> extrapolate_low_q(Curve& sq, Curve& fq, LowQExtrapolation how, double s0) {
  if (how == LowQExtrapolation::kNone) return std::size_t{0};
  if (!std::isfinite(s0)) return invalid("s0, S(Q) at Q = 0, must be a finite number, not " + shortest(s0));
  const std::size_t n = sq.x.size();
  if (n < 3 || fq.x.size() != n) return invalid("the extrapolation to Q = 0 needs at least 3 points of S(Q)");
  const double q1 = sq.x.front();
  if (!(q1 > 0.0)) return std::size_t{0};
  std::size_t m = 0;
  while (m < n && (m < 3 || sq.x[m] <= q1 + 0.5)) ++m;
  const double h = (sq.x[m - 1] - q1) / static_cast<double>(m - 1);
  if (!(h > 0.0)) return std::size_t{0};
  // The points q1 - k h above 0, k from the most down to 1.
  const auto count = static_cast<std::size_t>(std::ceil(q1 / h * (1.0 - 1e-9))) - 1;
  std::vector<double> q(count);
  for (std::size_t k = 0; k < count; ++k) q[k] = q1 - static_cast<double>(count - k) * h;
  const std::vector<double> s = low_q_values(sq.x, sq.y, how, s0, q);
  std::vector<double> f(count);
  for (std::size_t k = 0; k < count; ++k) f[k] = q[k] * (s[k] - 1.0);
  const std::vector<double> zero(count, 0.0);
  for (Curve* c : {&sq, &fq}) {
    c->x.insert(c->x.begin(), q.begin(), q.end());
    c->y.insert(c->y.begin(), c == &sq ? s.begin() : f.begin(), c == &sq ? s.end() : f.end());
    c->sigma.insert(c->sigma.begin(), zero.begin(), zero.end());
  }
  return count;
}

Result<LowR> iterate_low_r(Curve& fq, double rho0, double rcut, Window window, const StopCheck& stop,
                           const LowQBelow& below) {
  if (!(rcut > 0.0) || !std::isfinite(rcut)) return invalid("rmin-iterate must be above 0 Angstrom");
  // G below rcut on its own fine grid, from 0.
  const auto nlow = static_cast<std::size_t>(std::ceil(rcut / 0.005)) + 1;
  std::vector<double> rl(nlow % 2 ? nlow : nlow + 1);
  const double hr = rcut / static_cast<double>(rl.size() - 1);
  for (std::size_t j = 0; j < rl.size(); ++j) rl[j] = static_cast<double>(j) * hr;
  Curve plain{fq.x, fq.y, std::vector<double>(fq.x.size(), 0.0)};
  LowR out;
  double last = 0.0;
  // Each step removes from F the sine transform of G's departure from
  // -4 pi rho0 r below rcut (Eggert et al., Phys. Rev. B 65 (2002) 174105).
  for (int it = 0; it < 30; ++it) {
    Result<Curve> gl = transform_fq(plain, rl, window, stop);
    if (!gl.ok()) return gl.error();
    std::vector<double> dg(rl.size());
    double rms = 0.0;
    for (std::size_t j = 0; j < rl.size(); ++j) {
      dg[j] = gl->y[j] + 4.0 * kPi * rho0 * rl[j];
      rms += dg[j] * dg[j];
    }
    rms = std::sqrt(rms / static_cast<double>(rl.size()));
    out.residual = rms;
    if (it > 0 && rms > 0.99 * last) break;
    last = rms;
    FilonOptions fo;
    fo.single_precision = false;
    fo.stop = stop;
    const Result<FilonTransform> df = filon_ft(rl, dg, plain.x, fo);
    if (!df.ok() && df.kind() == ErrorKind::kCancelled) return df.error();
    if (!df.ok()) return with_context(df, "the low-r iteration: ");
    for (std::size_t i = 0; i < plain.y.size(); ++i) plain.y[i] -= df->integral[i];
    if (below.points > 0 && below.points + 3 <= plain.x.size()) {
      // The points below the data stay the extrapolation of the measured ones, from S(0) = s0.
      const std::span<const double> x = std::span<const double>(plain.x).subspan(below.points);
      std::vector<double> s(x.size());
      for (std::size_t i = 0; i < x.size(); ++i) s[i] = 1.0 + plain.y[below.points + i] / x[i];
      const std::span<const double> q = std::span<const double>(plain.x).first(below.points);
      const std::vector<double> low = low_q_values(x, s, below.how, below.s0, q);
      for (std::size_t k = 0; k < below.points; ++k) plain.y[k] = q[k] * (low[k] - 1.0);
    }
    out.iterations = it + 1;
  }
  fq.y = std::move(plain.y);
  return out;
}

Result<Diagnostics> diagnose_reduction(const Curve& sq, const Curve& fq, const SampleModel& model, const Grids& g,
                                       const ReductionOptions& o) {
  const std::size_t n = g.end - g.first;
  if (sq.x.size() < n || fq.x.size() != sq.x.size())
    return invalid("the diagnostics need S(Q) and F(Q) on the grid's points");
  // Points extrapolated below the data come first: S is checked on the measured ones, G on all.
  const std::size_t lead = sq.x.size() - n;
  if (!(o.rmin_check > 0.5) || !std::isfinite(o.rmin_check))
    return invalid("rmin-check must be above 0.5 Angstrom, not " + shortest(o.rmin_check));
  std::vector<double> r;
  for (std::size_t j = 0;; ++j) {
    const double v = 0.5 + 0.01 * static_cast<double>(j);
    if (v > o.rmin_check * (1.0 + 1e-12)) break;
    r.push_back(v);
  }
  Result<Curve> low = transform_fq(fq, r, o.window, o.stop);
  if (!low.ok()) return low.error();
  const std::span<const double> f2 = std::span<const double>(model.f2).subspan(g.first, n);
  const std::span<const double> fm2 = std::span<const double>(model.f_mean_sq).subspan(g.first, n);
  DiagnosticOptions d;
  d.rmin_check = o.rmin_check;
  const auto measured = [&](const std::vector<double>& v) { return std::span<const double>(v).subspan(lead); };
  return diagnose(measured(sq.x), measured(sq.y), measured(sq.sigma), f2, fm2, low->x, low->y, model.number_density,
                  d);
}

RealSpace real_space(const Curve& gr, const Curve& fq, double rho0, Window window, const StopCheck& stop) {
  RealSpace s;
  const std::vector<double>& r = gr.x;
  const std::size_t m = r.size();
  s.g.assign(m, 0.0);
  s.sigma_g.assign(m, 0.0);
  s.rr.assign(m, 0.0);
  s.sigma_rr.assign(m, 0.0);
  s.rr_integral.assign(m, 0.0);
  for (std::size_t j = 0; j < m; ++j) {
    if (r[j] > 0.0) {
      s.g[j] = 1.0 + gr.y[j] / (4.0 * kPi * r[j] * rho0);
      s.sigma_g[j] = gr.sigma[j] / (4.0 * kPi * r[j] * rho0);
    }
    s.rr[j] = 4.0 * kPi * r[j] * r[j] * rho0 + r[j] * gr.y[j];
    s.sigma_rr[j] = r[j] * gr.sigma[j];
    if (j > 0) s.rr_integral[j] = s.rr_integral[j - 1] + 0.5 * (r[j] - r[j - 1]) * (s.rr[j] + s.rr[j - 1]);
  }
  // N(r)'s error through the Q-space kernel of the integral, with the weights Filon's rule gives each F(Q_k)
  // while h r is small: Simpson's h/3 (1, 4, 2, ..., 4, 1), and h/2 at both ends of a last straight step.
  const EqualGrid grid = equal_grid(fq);
  const std::size_t n = grid.q.size();
  const std::size_t nf = n % 2 ? n : n - 1;
  const Result<std::vector<double>> mq = modification(grid.q, window, grid.q.back());
  std::vector<double> c(n, 0.0);
  for (std::size_t k = 0; k < nf; ++k) {
    const bool end = k == 0 || k + 1 == nf;
    c[k] = (end ? 1.0 : k % 2 ? 4.0 : 2.0) * grid.h / 3.0;
  }
  if (nf < n) {
    c[nf - 1] += 0.5 * grid.h;
    c[nf] += 0.5 * grid.h;
  }
  for (std::size_t k = 0; k < n; ++k) c[k] *= 2.0 / kPi * (mq.ok() ? (*mq)[k] : 1.0) * grid.sigma[k];
  s.sigma_rr_integral = running_integral_sigma(grid.q, grid.h, c, r, r.front(), stop);
  return s;
}

}  // namespace talvo::pdf
