#include "talvo/pdf/reduce.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "talvo/numeric/filon.hpp"
#include "talvo/pdf/running_integral.hpp"
#include "talvo/text/format.hpp"

namespace talvo::pdf {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;
// The most r values a reduction computes (3000 are usual).
constexpr double kMaxR = 1e6;

Error invalid(std::string text) { return make_error(ErrorKind::kInvalidArgument, std::move(text)); }

// M(Q) of the window on q (the transform checked it already: 1 on failure).
std::vector<double> window_values(std::span<const double> q, Window window, double qmax) {
  Result<std::vector<double>> m = modification(q, window, qmax);
  if (!m.ok()) return std::vector<double>(q.size(), 1.0);
  return std::move(*m);
}

// Chebyshev polynomials T_0 .. T_n at t.
void chebyshev(double t, int n, std::vector<double>& out) {
  out.assign(static_cast<std::size_t>(n + 1), 1.0);
  if (n >= 1) out[1] = t;
  for (std::size_t k = 2; k < out.size(); ++k) out[k] = 2.0 * t * out[k - 1] - out[k - 2];
}

void basis(double q, double qtop, int degree, bool through_zero, std::vector<double>& t, std::vector<double>& row) {
  const double x = 2.0 * q / qtop - 1.0;
  if (through_zero) {
    chebyshev(x, degree - 1, t);
    row.resize(static_cast<std::size_t>(degree));
    for (std::size_t k = 0; k < row.size(); ++k) row[k] = q / qtop * t[k];
  } else {
    chebyshev(x, degree, row);
  }
}

// Linear interpolation of (x, y, sigma) at xi, the errors with the same
// weights; x ascending, xi within [x.front(), x.back()].
struct Interpolated {
  std::vector<double> y, sigma;
  std::vector<std::size_t> left;  // y[i] = (1 - t[i]) y_data[left[i]] + t[i] y_data[left[i] + 1]
  std::vector<double> t;
};
Interpolated interpolate(std::span<const double> x, std::span<const double> y, std::span<const double> s,
                         std::span<const double> xi) {
  Interpolated out;
  out.y.resize(xi.size());
  out.sigma.resize(xi.size());
  out.left.resize(xi.size());
  out.t.resize(xi.size());
  std::size_t j = 0;
  for (std::size_t i = 0; i < xi.size(); ++i) {
    const double v = std::clamp(xi[i], x.front(), x.back());
    while (j + 2 < x.size() && x[j + 1] < v) ++j;
    const double t = (v - x[j]) / (x[j + 1] - x[j]);
    out.y[i] = (1.0 - t) * y[j] + t * y[j + 1];
    out.sigma[i] = std::sqrt((1.0 - t) * (1.0 - t) * s[j] * s[j] + t * t * s[j + 1] * s[j + 1]);
    out.left[i] = j;
    out.t[i] = t;
  }
  return out;
}

// The standard deviation of sum_i a_i y_i for y interpolated from data of
// errors s: each datum's weight collected first, so that two grid points
// from one datum add their weights, not their variances.
double sigma_of_sum(const Interpolated& in, std::span<const double> a, std::span<const double> s) {
  std::vector<double> w(s.size(), 0.0);
  for (std::size_t i = 0; i < a.size(); ++i) {
    w[in.left[i]] += a[i] * (1.0 - in.t[i]);
    if (in.left[i] + 1 < w.size()) w[in.left[i] + 1] += a[i] * in.t[i];
  }
  double var = 0.0;
  for (std::size_t j = 0; j < s.size(); ++j) var += w[j] * w[j] * s[j] * s[j];
  return std::sqrt(var);
}

// The trapezoid rule's weights on x.
std::vector<double> trapezoid_weights(std::span<const double> x) {
  std::vector<double> w(x.size(), 0.0);
  for (std::size_t i = 1; i < x.size(); ++i) {
    w[i - 1] += 0.5 * (x[i] - x[i - 1]);
    w[i] += 0.5 * (x[i] - x[i - 1]);
  }
  return w;
}

// The trapezoidal integral of y over x.
double trapezoid(std::span<const double> x, std::span<const double> y) {
  double sum = 0.0;
  for (std::size_t i = 1; i < x.size(); ++i) sum += 0.5 * (x[i] - x[i - 1]) * (y[i] + y[i - 1]);
  return sum;
}

double median_step(std::span<const double> q) {
  std::vector<double> d;
  for (std::size_t i = 1; i < q.size(); ++i) d.push_back(q[i] - q[i - 1]);
  auto mid = d.begin() + static_cast<std::ptrdiff_t>(d.size() / 2);
  std::nth_element(d.begin(), mid, d.end());
  return *mid;
}

}  // namespace

Result<std::vector<double>> polynomial_fit(std::span<const double> q, std::span<const double> y, double qtop,
                                           int degree, bool through_zero, std::span<const double> q_eval) {
  const std::size_t m = q.size();
  const auto n = static_cast<std::size_t>(through_zero ? degree : degree + 1);
  if (degree < (through_zero ? 1 : 0))
    return invalid("a polynomial degree of " + std::to_string(degree) + " cannot be fitted");
  if (m <= n)
    return invalid("a polynomial of degree " + std::to_string(degree) + " needs more than " + std::to_string(n) +
                   " points and the fit range holds " + std::to_string(m) +
                   ": lower rpoly or widen the range up to qmaxinst");
  // Householder QR of the m x n design matrix, column by column.
  std::vector<double> a(m * n), b(y.begin(), y.end()), t, row;
  for (std::size_t i = 0; i < m; ++i) {
    basis(q[i], qtop, degree, through_zero, t, row);
    for (std::size_t k = 0; k < n; ++k) a[k * m + i] = row[k];
  }
  std::vector<double> diag(n);
  for (std::size_t k = 0; k < n; ++k) {
    double* col = &a[k * m];
    double norm = 0.0;
    for (std::size_t i = k; i < m; ++i) norm += col[i] * col[i];
    norm = std::sqrt(norm);
    if (norm == 0.0) return invalid("the polynomial fit is singular: the fit range holds too few distinct Q");
    const double alpha = col[k] > 0.0 ? -norm : norm;
    col[k] -= alpha;
    double vv = 0.0;
    for (std::size_t i = k; i < m; ++i) vv += col[i] * col[i];
    for (std::size_t j = k + 1; j < n; ++j) {
      double* cj = &a[j * m];
      double dot = 0.0;
      for (std::size_t i = k; i < m; ++i) dot += col[i] * cj[i];
      const double f = 2.0 * dot / vv;
      for (std::size_t i = k; i < m; ++i) cj[i] -= f * col[i];
    }
    double dot = 0.0;
    for (std::size_t i = k; i < m; ++i) dot += col[i] * b[i];
    const double f = 2.0 * dot / vv;
    for (std::size_t i = k; i < m; ++i) b[i] -= f * col[i];
    diag[k] = alpha;
  }
  std::vector<double> c(n);
  for (std::size_t kk = n; kk-- > 0;) {
    double v = b[kk];
    for (std::size_t j = kk + 1; j < n; ++j) v -= a[j * m + kk] * c[j];
    c[kk] = v / diag[kk];
  }
  std::vector<double> out(q_eval.size());
  for (std::size_t i = 0; i < q_eval.size(); ++i) {
    basis(q_eval[i], qtop, degree, through_zero, t, row);
    double v = 0.0;
    for (std::size_t k = 0; k < n; ++k) v += c[k] * row[k];
    out[i] = v;
  }
  return out;
}

Result<Curve> transform(std::span<const double> q, std::span<const double> f, std::span<const double> sigma_f,
                        std::span<const double> r, Window window, double qmax) {
  const Result<std::vector<double>> m = modification(q, window, qmax);
  if (!m.ok()) return make_error(m.kind(), "the window: " + m.error().message);
  std::vector<double> fm(q.size()), sm(q.size());
  for (std::size_t i = 0; i < q.size(); ++i) {
    fm[i] = f[i] * (*m)[i];
    sm[i] = sigma_f[i] * (*m)[i];
  }
  FilonOptions fo;
  fo.sigma = sm;
  fo.single_precision = false;
  const Result<FilonTransform> fr = filon_ft(q, fm, r, fo);
  if (!fr.ok()) return make_error(fr.kind(), "the transform failed: " + fr.error().message);
  Curve g;
  g.x.assign(r.begin(), r.end());
  g.y.resize(r.size());
  g.sigma.resize(r.size());
  for (std::size_t j = 0; j < r.size(); ++j) {
    g.y[j] = 2.0 / std::numbers::pi * fr->integral[j];
    g.sigma[j] = 2.0 / std::numbers::pi * fr->sigma[j];
  }
  return g;
}

namespace {

// How many of the values are below 0.
std::size_t negatives(std::span<const double> y) {
  return static_cast<std::size_t>(std::count_if(y.begin(), y.end(), [](double v) { return v < 0.0; }));
}

Result<Reduction> reduce_pattern(const Pattern& sample_in, const Pattern* background, double bg_scale,
                                 const ReductionOptions& o) {
  std::vector<std::string> warnings;
  Reduction red;
  const bool physical = o.mode == Mode::kPhysical;
  if (!background && bg_scale != 1.0) return invalid("a background scale needs a background pattern");
  if (o.polarization.monochromator_two_theta && o.polarization.normal_fraction != 0.5)
    return invalid(
        "a polarisation fraction is for a polarised source without a monochromator; a monochromator's source "
        "is taken as unpolarised");
  if (o.rmin_iterate && !(*o.rmin_iterate > 0.0 && *o.rmin_iterate < o.rmax))
    return invalid("the low-r iteration's rmin-iterate must lie between 0 and the r grid's end, rmax = " +
                   shortest(o.rmax) + " Angstrom, not " + shortest(*o.rmin_iterate) +
                   " (it is where G(r) starts: below the first peak)");
  if (!physical && o.qmaxinst && !(*o.qmaxinst > 0.0))
    return invalid("qmaxinst must be above 0 1/Angstrom, not " + shortest(*o.qmaxinst));

  // The r grid.
  if (!(o.rmin >= 0.0) || !(o.rstep > 0.0) || !(o.rmax > o.rmin) || !std::isfinite(o.rmax))
    return invalid("the r grid needs 0 <= rmin < rmax and a step above 0");
  const double nr_real = std::floor((o.rmax - o.rmin) / o.rstep * (1.0 + 1e-12)) + 1.0;
  if (nr_real > kMaxR) return invalid("the r grid asks for " + shortest(nr_real) + " r values; at most 1e6 are computed");
  std::vector<double> r(static_cast<std::size_t>(nr_real));
  // A step of 1/N A (0.01) gives r = (RMIN N + j) / N, the decimal values as written, not j 0.01 (0.8300000000000001).
  const double per_a = 1.0 / o.rstep;
  const bool whole = std::abs(per_a - std::round(per_a)) < 1e-9 * per_a &&
                     std::abs(o.rmin * per_a - std::round(o.rmin * per_a)) < 1e-6;
  for (std::size_t j = 0; j < r.size(); ++j)
    r[j] = whole ? (std::round(o.rmin * per_a) + static_cast<double>(j)) / std::round(per_a)
                 : o.rmin + static_cast<double>(j) * o.rstep;

  if (o.wavelength && !(*o.wavelength > 0.0 && std::isfinite(*o.wavelength)))
    return invalid("the wavelength must be above 0 Angstrom, not " + shortest(*o.wavelength));
  if (physical && !o.wavelength)
    return invalid("the physical corrections need the wavelength: give the wavelength (Angstrom) or the anode");

  // Outliers go before anything is fitted or subtracted.
  for (std::size_t i = 0; i < sample_in.y.size(); ++i)
    if (!std::isfinite(sample_in.y[i]) || !std::isfinite(sample_in.sigma[i]))
      return invalid("the pattern holds a value that is not a number at x = " + shortest(sample_in.x[i]));
  const std::vector<std::size_t> bad = find_outliers(sample_in.y, sample_in.sigma, o.outlier_threshold);
  for (std::size_t i : bad) red.outliers.push_back(sample_in.x[i]);
  Pattern sample = without_points(sample_in, bad);
  if (background) {
    const std::vector<std::size_t> bad_bg = find_outliers(background->y, background->sigma, o.outlier_threshold);
    const Pattern bg = without_points(*background, bad_bg);
    Result<Pattern> sub = subtract_background(sample, bg, bg_scale);
    if (!sub.ok()) return sub.error();
    sample = std::move(*sub);
    if (const std::size_t n = negatives(sample.y))
      warnings.push_back(std::to_string(n) + " of " + std::to_string(sample.y.size()) +
                         " points are below 0 once the background is subtracted: the background scale (" +
                         shortest(bg_scale) + ") may be too large");
  } else if (const std::size_t n = negatives(sample.y)) {
    warnings.push_back(std::to_string(n) + " of " + std::to_string(sample.y.size()) +
                       " points of the pattern are below 0: an intensity is not, before a background is "
                       "subtracted");
  }

  Result<std::vector<double>> qr = q_of(sample, o.wavelength);
  if (!qr.ok()) return qr.error();
  const std::vector<double>& qd = *qr;
  for (std::size_t i = 1; i < qd.size(); ++i)
    if (!(qd[i] > qd[i - 1])) return invalid("Q does not increase at x = " + shortest(sample.x[i]));

  // The equally spaced grid Q_k = k h of the transform.
  const double qlast = qd.back();
  const double qmax = o.qmax.value_or(qlast);
  if (!(qmax > 0.0) || qmax > qlast * (1.0 + 1e-9))
    return invalid("qmax " + shortest(qmax) + " lies above the data, which end at Q = " + shortest(qlast) +
                   " 1/A: give a qmax up to that");
  if (!(o.qmin >= 0.0) || !(o.qmin < qmax))
    return invalid("qmin " + shortest(o.qmin) + " must lie between 0 and qmax (" + shortest(qmax) + ")");
  const double qtop_fit = physical ? qmax : o.qmaxinst.value_or(qlast);
  if (!physical && (!(qtop_fit > 0.0) || qtop_fit > qlast * (1.0 + 1e-9)))
    return invalid("qmaxinst " + shortest(qtop_fit) + " lies above the data, which end at Q = " + shortest(qlast));
  const double qtop = std::max(qmax, qtop_fit);
  const double step = median_step(qd);
  const auto ntop = static_cast<std::size_t>(std::max(2.0, std::round(qtop / step)));
  const double h = qtop / static_cast<double>(ntop);
  const double q0 = std::max(o.qmin, qd.front());
  const auto k0 = static_cast<std::size_t>(std::ceil(q0 / h - 1e-9));
  if (ntop < k0 + 3) return invalid("fewer than 3 points lie between qmin and qmax: widen the Q range");
  // G(r) resolves nothing finer than about pi / (Q range): below pi 1/A that is coarser than a bond.
  if (qmax - q0 < std::numbers::pi)
    warnings.push_back("the transform uses Q from " + shortest(q0) + " to " + shortest(qmax) +
                       " 1/A only: G(r) cannot resolve distances finer than pi / " + shortest(qmax - q0) + " = " +
                       shortest(std::numbers::pi / (qmax - q0)) + " A");
  std::vector<double> q(ntop - k0 + 1);
  for (std::size_t k = 0; k < q.size(); ++k) q[k] = static_cast<double>(k0 + k) * h;
  q.back() = std::min(q.back(), qlast);
  red.qmin = q.front();
  red.qmax = qmax;
  red.qstep = h;
  const Interpolated in = interpolate(qd, sample.y, sample.sigma, q);

  // The sample at every grid Q.
  SampleModelOptions so = o.sample;
  so.wavelength = o.wavelength.value_or(0.0);
  so.breit_dirac = o.breit_dirac;
  Result<SampleModel> model = sample_model(q, so);
  if (!model.ok()) return model.error();
  for (const std::string& w : model.warnings()) warnings.push_back(w);
  red.number_density = model->number_density;
  red.mu = model->mu;
  const std::size_t n = q.size();
  std::vector<double> ic(n), sc(n), cq(n, 0.0);
  std::vector<double> two_theta(n);
  if (o.wavelength)
    for (std::size_t i = 0; i < n; ++i) {
      const double s = q[i] * *o.wavelength / (4.0 * std::numbers::pi);
      two_theta[i] = s < 1.0 ? 2.0 * std::asin(s) / kDeg : 180.0;
    }

  std::vector<double> s_q(n), f_q(n), sf(n);
  if (physical) {
    if (!red.number_density)
      return invalid(
          "the physical mode needs the sample's density: give the density (g/cm3) or the number density "
          "(atoms/A^3), or use the ad hoc mode");
    Absorption ab = o.absorption;
    if (!ab.mu_x && ab.geometry != Geometry::kReflection) {
      if (red.mu && o.thickness)
        ab.mu_x = *red.mu * *o.thickness * (ab.geometry == Geometry::kCapillary ? 0.5 : 1.0);
      else
        return invalid(
            std::string("the ") + std::string(geometry_name(ab.geometry)) + " geometry needs its absorption: give " +
            (ab.geometry == Geometry::kCapillary ? "mu R (mu-r)" : "mu t (mu-t)") +
            (red.mu ? " or the thickness in cm" : ""));
    } else if (!ab.mu_x && o.thickness && red.mu) {
      ab.mu_x = *red.mu * *o.thickness;
    }
    red.mu_x = ab.mu_x;
    Result<std::vector<double>> af = absorption_factors(two_theta, ab);
    if (!af.ok()) return af.error();
    red.absorption_min = *std::min_element(af->begin(), af->end());
    red.absorption_max = *std::max_element(af->begin(), af->end());
    if (!(red.absorption_min > 0.0))
      return invalid("the absorption factor falls to 0: mu R or mu t is too large for these angles");
    cq = model->compton;
    red.compton_subtracted = true;
    std::vector<double> pa(n);
    for (std::size_t i = 0; i < n; ++i) {
      pa[i] = polarization(two_theta[i], o.polarization) * (*af)[i];
      ic[i] = in.y[i] / pa[i];
      sc[i] = in.sigma[i] / pa[i];
    }
    // Normalisation.
    const std::vector<double>& f2 = model->f2;
    const std::vector<double>& fm2 = model->f_mean_sq;
    std::vector<double> qq, a1, a2;
    for (std::size_t i = 0; i < n && q[i] <= qmax * (1.0 + 1e-12); ++i) {
      qq.push_back(q[i]);
      a1.push_back(q[i] * q[i] * (f2[i] + cq[i]) / fm2[i]);
      a2.push_back(q[i] * q[i] * ic[i] / fm2[i]);
    }
    const double rho0 = *red.number_density;
    // d(denominator)/d(interpolated count) at every grid point, for sigma_alpha.
    std::vector<double> dden(qq.size(), 0.0);
    double den = 0.0;
    if (o.normalization == Normalization::kKroghMoeNorman) {
      den = trapezoid(qq, a2);
      red.alpha = (-2.0 * std::numbers::pi * std::numbers::pi * rho0 + trapezoid(qq, a1)) / den;
      const std::vector<double> w = trapezoid_weights(qq);
      for (std::size_t i = 0; i < qq.size(); ++i) dden[i] = w[i] * q[i] * q[i] / (fm2[i] * pa[i]);
    } else {
      // The top fifth of the range, where S(Q) oscillates about 1.
      const auto first = static_cast<std::size_t>(0.8 * static_cast<double>(qq.size()));
      double num = 0.0;
      for (std::size_t i = first; i < qq.size(); ++i) {
        num += f2[i] + cq[i];
        den += ic[i];
        dden[i] = 1.0 / pa[i];
      }
      red.alpha = num / den;
    }
    red.alpha_sigma = std::abs(red.alpha) * sigma_of_sum(in, dden, sample.sigma) / std::abs(den);
    if (!(red.alpha > 0.0) || !std::isfinite(red.alpha))
      return invalid("the normalisation constant comes out as " + shortest(red.alpha) +
                     ": the pattern, the background scale or the density do not fit together");
    for (std::size_t i = 0; i < n; ++i) {
      ic[i] *= red.alpha;
      sc[i] *= red.alpha;
      s_q[i] = 1.0 + (ic[i] - f2[i] - cq[i]) / fm2[i];
      f_q[i] = q[i] * (s_q[i] - 1.0);
      sf[i] = q[i] * sc[i] / fm2[i];
    }
    red.model.resize(n);
    for (std::size_t i = 0; i < n; ++i) red.model[i] = f2[i] + cq[i];
    std::size_t iq_max = 0;
    while (iq_max + 1 < n && q[iq_max + 1] <= qmax * (1.0 + 1e-12)) ++iq_max;
    red.compton_fraction_at_qmax = cq[iq_max] / (f2[iq_max] + cq[iq_max]);
  } else {
    // Ad hoc: the envelope e(Q) of I / <f^2>, then a polynomial through 0 off F.
    const std::vector<double>& f2 = model->f2;
    const std::vector<double>& fm2 = model->f_mean_sq;
    if (!(o.rpoly > 0.0)) return invalid("rpoly must be above 0 Angstrom, not " + shortest(o.rpoly));
    const double wanted = std::round(o.rpoly * qtop_fit / std::numbers::pi);
    // A smooth correction has a few tens of terms at most; thousands would
    // fit the data's own structure, and their QR alone would take minutes.
    constexpr double kMostDegree = 100;
    if (!(wanted <= kMostDegree))
      return invalid("rpoly " + shortest(o.rpoly) + " asks for a polynomial of degree " + shortest(wanted) +
                     ", above the " + shortest(kMostDegree) + " a smooth correction may have: lower rpoly");
    const int degree = std::max(1, static_cast<int>(wanted));
    red.poly_degree = degree;
    std::vector<double> qf, yf;
    for (std::size_t i = 0; i < n && q[i] <= qtop_fit * (1.0 + 1e-12); ++i) {
      qf.push_back(q[i]);
      yf.push_back(in.y[i] / f2[i]);
    }
    Result<std::vector<double>> env = polynomial_fit(qf, yf, qtop_fit, degree, false, q);
    if (!env.ok()) return env.error();
    for (std::size_t i = 0; i < n; ++i) {
      const double e = (*env)[i];
      if (!(e > 0.0))
        return invalid("the smooth envelope of the pattern reaches 0 at Q = " + shortest(q[i]) +
                       ": subtract less background (bg-scale) or lower rpoly");
      ic[i] = in.y[i] / e;
      sc[i] = in.sigma[i] / e;
      f_q[i] = q[i] * (ic[i] - f2[i]) / fm2[i];
      sf[i] = q[i] * sc[i] / fm2[i];
    }
    std::vector<double> ff(f_q.begin(), f_q.begin() + static_cast<std::ptrdiff_t>(qf.size()));
    Result<std::vector<double>> poly = polynomial_fit(qf, ff, qtop_fit, degree, true, q);
    if (!poly.ok()) return poly.error();
    for (std::size_t i = 0; i < n; ++i) {
      f_q[i] -= (*poly)[i];
      s_q[i] = 1.0 + f_q[i] / q[i];
    }
    red.model = f2;
    red.alpha = 1.0;
  }
  red.iq = Curve{q, ic, sc};

  // Outputs on the grid up to qmax; the transform from Q = 0 with F = 0 below the data.
  std::size_t nq = 0;
  while (nq < n && q[nq] <= qmax * (1.0 + 1e-12)) ++nq;
  red.sq.x.assign(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(nq));
  red.fq.x = red.sq.x;
  red.sq.y.assign(s_q.begin(), s_q.begin() + static_cast<std::ptrdiff_t>(nq));
  red.fq.y.assign(f_q.begin(), f_q.begin() + static_cast<std::ptrdiff_t>(nq));
  red.fq.sigma.assign(sf.begin(), sf.begin() + static_cast<std::ptrdiff_t>(nq));
  red.sq.sigma.resize(nq);
  for (std::size_t i = 0; i < nq; ++i) red.sq.sigma[i] = q[i] > 0.0 ? sf[i] / q[i] : 0.0;

  std::vector<double> qt(k0 + nq), ft(k0 + nq, 0.0), st(k0 + nq, 0.0);
  for (std::size_t k = 0; k < qt.size(); ++k) qt[k] = static_cast<double>(k) * h;
  for (std::size_t i = 0; i < nq; ++i) {
    qt[k0 + i] = q[i];
    ft[k0 + i] = red.fq.y[i];
    st[k0 + i] = red.fq.sigma[i];
  }
  // A window's Qmax is where the data end.
  Result<Curve> g = transform(qt, ft, st, r, o.window, qt.back());
  if (!g.ok()) return g.error();

  if (o.rmin_iterate) {
    if (!red.number_density)
      return invalid("the low-r iteration needs the number density: give the density or the number density");
    const double rcut = *o.rmin_iterate;
    if (!(rcut > 0.0)) return invalid("rmin-iterate must be above 0 Angstrom");
    const double rho0 = *red.number_density;
    // G below rcut on its own fine grid, from 0.
    const auto nlow = static_cast<std::size_t>(std::ceil(rcut / 0.005)) + 1;
    std::vector<double> rl(nlow % 2 ? nlow : nlow + 1);
    const double hr = rcut / static_cast<double>(rl.size() - 1);
    for (std::size_t j = 0; j < rl.size(); ++j) rl[j] = static_cast<double>(j) * hr;
    std::vector<double> zero(qt.size(), 0.0);
    double last = 0.0;
    // Each step removes from F the sine transform of G's departure from
    // -4 pi rho0 r below rcut (Eggert et al., Phys. Rev. B 65 (2002) 174105).
    for (int it = 0; it < 30; ++it) {
      Result<Curve> gl = transform(qt, ft, zero, rl, o.window, qt.back());
      if (!gl.ok()) return gl.error();
      std::vector<double> dg(rl.size());
      double rms = 0.0;
      for (std::size_t j = 0; j < rl.size(); ++j) {
        dg[j] = gl->y[j] + 4.0 * std::numbers::pi * rho0 * rl[j];
        rms += dg[j] * dg[j];
      }
      rms = std::sqrt(rms / static_cast<double>(rl.size()));
      red.residual = rms;
      if (it > 0 && rms > 0.99 * last) break;
      last = rms;
      FilonOptions fo;
      fo.single_precision = false;
      std::vector<double> qk(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(nq));
      const Result<FilonTransform> df = filon_ft(rl, dg, qk, fo);
      if (!df.ok()) return make_error(df.kind(), "the low-r iteration: " + df.error().message);
      for (std::size_t i = 0; i < nq; ++i) ft[k0 + i] -= df->integral[i];
      red.iterations = it + 1;
    }
    for (std::size_t i = 0; i < nq; ++i) {
      red.fq.y[i] = ft[k0 + i];
      red.sq.y[i] = 1.0 + ft[k0 + i] / q[i];
    }
    g = transform(qt, ft, st, r, o.window, qt.back());
    if (!g.ok()) return g.error();
  }
  red.gr = std::move(*g);

  if (red.number_density) {
    const double rho0 = *red.number_density;
    const std::size_t m = r.size();
    red.g.assign(m, 0.0);
    red.sigma_g.assign(m, 0.0);
    red.rr.assign(m, 0.0);
    red.sigma_rr.assign(m, 0.0);
    red.rr_integral.assign(m, 0.0);
    red.sigma_rr_integral.assign(m, 0.0);
    for (std::size_t j = 0; j < m; ++j) {
      if (r[j] > 0.0) {
        red.g[j] = 1.0 + red.gr.y[j] / (4.0 * std::numbers::pi * r[j] * rho0);
        red.sigma_g[j] = red.gr.sigma[j] / (4.0 * std::numbers::pi * r[j] * rho0);
      }
      red.rr[j] = 4.0 * std::numbers::pi * r[j] * r[j] * rho0 + r[j] * red.gr.y[j];
      red.sigma_rr[j] = r[j] * red.gr.sigma[j];
      if (j > 0) red.rr_integral[j] = red.rr_integral[j - 1] + 0.5 * o.rstep * (red.rr[j] + red.rr[j - 1]);
    }
    // N(r)'s error through the Q-space kernel of the integral, with the weights Filon's rule gives each
    // F(Q_k) while h r is small: Simpson's h/3 (1, 4, 2, ..., 4, 1), an even count ending on a 4.
    const std::vector<double> m_of_q = window_values(qt, o.window, qt.back());
    std::vector<double> c(qt.size());
    for (std::size_t k = 0; k < qt.size(); ++k) {
      const bool end = k == 0 || (k + 1 == qt.size() && k % 2 == 0);
      const double w = (end ? 1.0 : k % 2 ? 4.0 : 2.0) * h / 3.0;
      c[k] = 2.0 / std::numbers::pi * w * m_of_q[k] * st[k];
    }
    red.sigma_rr_integral = running_integral_sigma(qt, h, c, r, r.front());
  }
  return Result<Reduction>(std::move(red), std::move(warnings));
}

}  // namespace

Result<Reduction> reduce(const Pattern& sample, const Pattern* background, double bg_scale,
                         const ReductionOptions& options) {
  try {
    return reduce_pattern(sample, background, bg_scale, options);
  } catch (const std::bad_alloc&) {
    return make_error(ErrorKind::kOutOfMemory,
                      "out of memory: the reduction needs more memory than there is; give fewer points, a shorter "
                      "r grid or a smaller rmin-iterate");
  }
}

}  // namespace talvo::pdf
