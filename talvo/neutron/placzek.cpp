#include "talvo/neutron/placzek.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>

#include "talvo/elements/constants.hpp"
#include "talvo/neutron/lengths.hpp"
#include "talvo/text/format.hpp"

namespace talvo {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

Error invalid(std::string message) { return make_error(ErrorKind::kInvalidArgument, std::move(message)); }

// 10-point Gauss-Legendre on [-1, 1].
constexpr std::array<double, 5> kX{0.1488743389816312, 0.4333953941292472, 0.6794095682990244, 0.8650633666889845,
                                   0.9739065285171717};
constexpr std::array<double, 5> kW{0.2955242247147529, 0.2692667193099963, 0.2190863625159820, 0.1494513491505806,
                                   0.0666713443086881};

// The integrand in s = k'/k (dE'/E = 2 s ds), energies in units of E, written
// in d = 1 - s so that the forward direction keeps its digits: there
// (Q / k)^2 = d^2 + 4 s sin^2 theta would be lost to 1 + s^2 - 2 s cos 2theta.
struct Integrand {
  double sin2, inv_mass, tau;  // sin^2 theta, m_n / M, kT / E
  std::optional<double> a;     // alpha / k
  // The exponent of the free gas's Gaussian in w = 1 - s^2.
  double exponent(double d) const {
    const double s = 1.0 - d, e_r = (d * d + 4.0 * s * sin2) * inv_mass, w = d * (2.0 - d);
    return (w - e_r) * (w - e_r) / (4.0 * e_r * tau);
  }
  double operator()(double d) const {
    const double s = 1.0 - d;
    if (!(s > 0.0)) return 0.0;
    const double e_r = (d * d + 4.0 * s * sin2) * inv_mass;
    if (!(e_r > 0.0)) return 0.0;
    const double w = d * (2.0 - d);
    const double g =
        std::exp(-(w - e_r) * (w - e_r) / (4.0 * e_r * tau)) / std::sqrt(4.0 * std::numbers::pi * e_r * tau);
    const double eta = a ? -std::expm1(-*a / s) / -std::expm1(-*a) : 1.0;
    return 2.0 * s * s * eta * g;
  }
};

template <class F>
double gauss10(const F& f, double lo, double hi) {
  const double h = 0.5 * (hi - lo), m = 0.5 * (hi + lo);
  double sum = 0.0;
  for (std::size_t i = 0; i < kX.size(); ++i) sum += kW[i] * (f(m - h * kX[i]) + f(m + h * kX[i]));
  return sum * h;
}

// Halves a piece until its two halves agree with it to its share of the tolerance.
template <class F>
bool adaptive(const F& f, double lo, double hi, double whole, double tol, int depth, double& sum) {
  const double mid = 0.5 * (lo + hi);
  const double left = gauss10(f, lo, mid), right = gauss10(f, mid, hi);
  if (std::abs(left + right - whole) <= tol) {
    sum += left + right;
    return true;
  }
  if (depth == 0) {
    sum += left + right;
    return false;
  }
  const bool a = adaptive(f, lo, mid, left, 0.5 * tol, depth - 1, sum);
  const bool b = adaptive(f, mid, hi, right, 0.5 * tol, depth - 1, sum);
  return a && b;
}

Outcome check(double mass_ratio, const PlaczekOptions& o) {
  if (!(mass_ratio > 0.0 && std::isfinite(mass_ratio)))
    return invalid("the mass ratio M/m_n must be above 0, not " + shortest(mass_ratio));
  if (!(o.wavelength > 0.0 && std::isfinite(o.wavelength)))
    return invalid("the wavelength must be above 0, not " + shortest(o.wavelength));
  if (!(o.temperature >= 0.0 && std::isfinite(o.temperature)))
    return invalid("the temperature must be 0 K or more, not " + shortest(o.temperature));
  if (o.detector_alpha && !(*o.detector_alpha > 0.0 && std::isfinite(*o.detector_alpha)))
    return invalid("the detector's alpha must be above 0, not " + shortest(*o.detector_alpha));
  if (!(o.tolerance > 0.0)) return invalid("the tolerance must be above 0");
  return Done{};
}

double k_of(double wavelength) { return 2.0 * std::numbers::pi / wavelength; }
double tau_of(const PlaczekOptions& o) { return kBoltzmannEv * o.temperature / neutron_energy(o.wavelength); }

}  // namespace

Result<double> detector_alpha(double efficiency, double wavelength) {
  if (!(efficiency > 0.0 && efficiency < 1.0))
    return invalid("the detector's efficiency must be within (0, 1), not " + shortest(efficiency));
  if (!(wavelength > 0.0 && std::isfinite(wavelength)))
    return invalid("the wavelength must be above 0, not " + shortest(wavelength));
  return -std::log1p(-efficiency) * k_of(wavelength);
}

Result<double> placzek_exact(double two_theta, double mass_ratio, const PlaczekOptions& o) {
  if (Outcome c = check(mass_ratio, o); !c.ok()) return c.error();
  if (!(two_theta >= 0.0 && two_theta <= 180.0))
    return invalid("2theta must be within [0, 180] degrees, not " + shortest(two_theta));
  Integrand f{0.0, 1.0 / mass_ratio, tau_of(o), std::nullopt};
  if (o.detector_alpha) f.a = *o.detector_alpha / k_of(o.wavelength);
  // Near T = 0 the line is narrower than any energy here: kT of 1e-6 E
  // changes P by about 1e-6 m_n / M.
  f.tau = std::max(f.tau, 1e-6);
  // Forward, Q -> |k - k'| and S(Q, w) -> (1/Q) times the nuclei's velocity
  // distribution at w/Q: the nuclei moving with the neutron give k' near k a
  // weight A / |k - k'|, A = sqrt(M E / (pi kT)) exp(-M E / kT), so that
  // P grows as 2 A ln(1 / 2theta) and is infinite at 0. Where 2 A ln of
  // 1e12 is below the tolerance (M E / kT above about 30), 2theta 0
  // is taken as 1e-12 rad, which no other angle's P tells apart.
  double half = 0.5 * two_theta * kDeg;
  if (two_theta == 0.0) {
    const double x = mass_ratio / f.tau;
    const double big_a = std::sqrt(x / std::numbers::pi) * std::exp(-x);
    if (2.0 * big_a * std::log(1e12) > o.tolerance)
      return make_error(ErrorKind::kOutOfRange,
                        "P is infinite at 2theta 0 for M/m_n " + shortest(mass_ratio) + ": it grows as " +
                            shortest(2.0 * big_a) +
                            " ln(1/2theta), from the nuclei moving with the neutron: give angles above 0");
    half = 0.5e-12;
  }
  f.sin2 = std::pow(std::sin(half), 2);
  // The quasi-elastic peak's centre (in d = 1 - s) and width h; the
  // integral runs in t, s = centre + h sinh t, so the peak spans a few units
  // of t at every angle and the forward 1/|k - k'| tail is flat in t.
  const double q1 = 4.0 * f.sin2 * f.inv_mass;  // E_R / E at s = 1
  const double c = q1 < 1.0 ? q1 / (1.0 + std::sqrt(1.0 - q1)) : 1.0;
  const double centre = 1.0 - c;
  const double h =
      std::max(std::sqrt(2.0 * q1 * f.tau) / std::max(2.0 * centre, 0.5), std::numeric_limits<double>::min());
  auto d_of = [&](double t) { return c - h * std::sinh(t); };
  auto g = [&](double t) { return f(d_of(t)) * h * std::cosh(t); };
  constexpr double kStep = 0.5;
  const double t_low = std::asinh(-centre / h);  // s = 0
  std::vector<double> cuts{t_low};
  for (double t = -kStep; t > t_low; t -= kStep) cuts.push_back(t);
  for (double t = 0.0;; t += kStep) {
    cuts.push_back(t);
    if ((t > 0.0 && f.exponent(d_of(t)) > 80.0) || cuts.size() > 20000) break;
  }
  std::sort(cuts.begin(), cuts.end());
  double sum = 0.0;
  bool ok = true;
  const double tol = o.tolerance / static_cast<double>(cuts.size());
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
    ok = adaptive(g, cuts[i], cuts[i + 1], gauss10(g, cuts[i], cuts[i + 1]), tol, 30, sum) && ok;
  if (!ok)
    return make_error(ErrorKind::kOutOfRange, "the free-gas integral did not reach " + shortest(o.tolerance) +
                                                  " at 2theta " + shortest(two_theta));
  return sum - 1.0;
}

Result<double> placzek_first_order(double two_theta, double mass_ratio, const PlaczekOptions& o) {
  if (Outcome c = check(mass_ratio, o); !c.ok()) return c.error();
  double f = 0.0, f2 = 0.0;
  if (o.detector_alpha) {
    // eps = 1 - exp(-a), a = alpha / k: k eps'/eps = -a / (e^a - 1), k^2 eps''/eps = (2a - a^2) / (e^a - 1).
    const double a = *o.detector_alpha / k_of(o.wavelength), em1 = std::expm1(a);
    f = -a / em1;
    f2 = (2.0 * a - a * a) / em1;
  }
  const double s2 = std::pow(std::sin(0.5 * two_theta * kDeg), 2), tau = tau_of(o);
  return (-2.0 * (2.0 + f) * s2 + tau * ((1.0 + 3.0 * f + f2) * s2 + 0.5 * std::cos(two_theta * kDeg))) / mass_ratio;
}

Result<PlaczekTable> placzek(std::span<const double> two_theta, const Material& material, const PlaczekOptions& o) {
  PlaczekTable t;
  double total = 0.0;
  for (const MaterialElement& e : material.elements) total += e.fraction * e.sigma_scatt;
  if (!(total > 0.0)) return invalid("the material " + material.formula + " does not scatter: no sigma_s to weight by");
  for (const MaterialElement& e : material.elements)
    t.elements.push_back({e.symbol, e.mass / kNeutronMass, e.fraction * e.sigma_scatt / total});
  for (double tt : two_theta) {
    double exact = 0.0, first = 0.0;
    for (const PlaczekElement& e : t.elements) {
      const Result<double> x = placzek_exact(tt, e.mass_ratio, o);
      if (!x.ok()) return x.error();
      const Result<double> p1 = placzek_first_order(tt, e.mass_ratio, o);
      if (!p1.ok()) return p1.error();
      exact += e.weight * *x;
      first += e.weight * *p1;
    }
    t.exact.push_back(exact);
    t.first_order.push_back(first);
  }
  return t;
}

}  // namespace talvo
