// The inelasticity of a neutron diffractometer's self scattering: a free-gas
// nucleus at temperature T seen at fixed incident wavelength by a detector
// that integrates over final energies with efficiency
// eps(k) = 1 - exp(-alpha / k) (a 1/v detector of depth alpha; none: eps = 1).
// The self scattering measured at 2theta is (sigma_s / 4 pi) (1 + P), with
//   1 + P = int dE' (k'/k) [eps(k') / eps(k)] S_free(Q, E - E'),
//   S_free(Q, w) = exp(-(w - E_R)^2 / (4 E_R kT)) / sqrt(4 pi E_R kT),
// E_R = hbar^2 Q^2 / (2 M) the recoil, M / m_n the mass ratio: P is the
// fraction of sigma_s / 4 pi by which it differs from the static value. The
// efficiency is relative to the elastic one, which the vanadium's
// normalisation holds.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "talvo/neutron/material.hpp"
#include "talvo/result.hpp"

namespace talvo {

struct PlaczekOptions {
  double wavelength = 0.0;               // Angstrom, incident
  double temperature = 293.15;           // K
  std::optional<double> detector_alpha;  // 1/Angstrom; nothing: eps = 1 at every energy
  double tolerance = 1e-10;              // of the exact integral, absolute
};

// The detector's alpha from its efficiency at a wavelength:
// alpha = -ln(1 - efficiency) 2 pi / lambda. kInvalidArgument unless the
// efficiency is within (0, 1) and the wavelength above 0.
Result<double> detector_alpha(double efficiency, double wavelength);

// P for one nucleus of mass ratio M / m_n at 2theta (degrees, 0 to 180): the
// exact free-gas integral, by adaptive Gauss-Legendre quadrature in
// t = asinh((k'/k - centre) / width) about the quasi-elastic line, whose width
// falls as 2theta forward. There the nuclei moving with the neutron add
// 2 A ln(1 / 2theta), A = sqrt(M E / (pi kT)) exp(-M E / kT): P is infinite at
// 2theta 0 exactly. 2theta 0 gives the limit, the value at 1e-12 rad, where
// 2 A ln(1e12) is below the tolerance (A is 1e-143 for V at 300 K and 0.7 A),
// and kOutOfRange where it is not (hydrogen: A about 2e-3).
// kInvalidArgument for a mass ratio, wavelength or alpha not above 0, a
// temperature below 0 or 2theta outside [0, 180]; kOutOfRange when the
// quadrature misses its tolerance.
Result<double> placzek_exact(double two_theta, double mass_ratio, const PlaczekOptions& options);

// The first-order expansion in m_n / M (Placzek, Phys. Rev. 86 (1952) 377),
// for the detector's f = k eps'/eps and f2 = k^2 eps''/eps at the incident k:
//   P1 = (m_n / M) [-2 (2 + f) sin^2 theta + (kT/E) ((1 + 3 f + f2) sin^2 theta + cos(2 theta) / 2)].
Result<double> placzek_first_order(double two_theta, double mass_ratio, const PlaczekOptions& options);

// A material's P: each element's weighted by its atomic fraction times its
// bound sigma_s, its mass ratio its mass in u over the neutron's.
struct PlaczekElement {
  std::string symbol;
  double mass_ratio = 0.0, weight = 0.0;  // weight: c sigma_s / sum c sigma_s
};
struct PlaczekTable {
  std::vector<PlaczekElement> elements;
  std::vector<double> exact, first_order;  // at each 2theta
};
Result<PlaczekTable> placzek(std::span<const double> two_theta, const Material& material,
                             const PlaczekOptions& options);

}  // namespace talvo
