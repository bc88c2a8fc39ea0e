// The pair distribution function G(r) of a structure: a crystal (every
// image of every atom within reach), a spherical particle cut from it, or a
// finite box without periodicity, for X-rays and neutrons; the model of
// PDFfit2 (Farrow et al., J. Phys.: Condens. Matter 19 (2007) 335219) and
// diffpy.srreal.
//
//   G0(r) = (1/N) sum_i sum_j w_ij exp(-(r - r_ij)^2 / (2 s_ij^2)) / (sqrt(2 pi) s_ij n_ij) - 4 pi rho0 r
//   w_ij  = c_i f_i c_j f_j / <f>^2,   <f> = sum_k c_k f_k / N,   N = sum_k c_k,   rho0 = N / V
//   s'_ij^2 = u^T (U_i + U_j) u  (u the pair's unit vector)
//   s_ij  = s'_ij sqrt(1 - delta1/r_ij - delta2/r_ij^2 + Qbroad^2 r_ij^2)   (Jeong et al., PRB 67 (2003) 104301),
//           times sratio below rcut; a pair whose bracket is <= 0 adds nothing
//   n_ij  = r_ij (PeakNorm::kPairDistance, the exact radial density of a Gaussian pair) or the grid's r
//           (PeakNorm::kGridR, as PDFfit2 writes it: its maxima sit s^2/r_ij lower)
//   G(r)  = the peaks times scale exp(-(Qdamp r)^2 / 2) gamma(r), terminated at Qmax (and Qmin) by
//           the convolution (1/pi) [sin(Q(r - r'))/(r - r') - sin(Q(r + r'))/(r + r')] over a range
//           extended by 6 ripples (6 2pi/Qmax) each side and cut back, then the line -4 pi rho0 r
//           times the same envelope (or the line terminated with them, line_terminated); gamma(r) = 1 - 1.5 x + 0.5
//           x^3, x = r / spdiameter < 1, 0 beyond.
// Each Gaussian is cut at 5 s; each unordered pair counts twice.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "talvo/neutron/neutron_table.hpp"
#include "talvo/result.hpp"
#include "talvo/structure/structure.hpp"

namespace talvo {

enum class ModelRadiation { kXray, kNeutron };

// The X-ray scattering power f of an atom at Q = 0.
enum class XrayWeights {
  kElectrons,        // Z - charge, the atom's electrons (PDFfit2's Z for neutral atoms)
  kWaasmaierKirfel,  // f0(0) = sum a_j + c of Waasmaier & Kirfel 1995 (diffpy.srreal's), ions included
};

enum class PeakNorm { kPairDistance, kGridR };

std::string_view peak_norm_name(PeakNorm norm);  // "rij", "r"

struct ModelOptions {
  ModelRadiation radiation = ModelRadiation::kXray;
  XrayWeights xray_weights = XrayWeights::kWaasmaierKirfel;
  // The neutron lengths: b_coh (real part) of each element's natural row;
  // needed for neutrons.
  const NeutronTable* neutron_table = nullptr;
  // Lengths (fm) given by element symbol, in place of the table's.
  std::vector<std::pair<std::string, double>> lengths;
  // The output grid: rmin, rmin + rstep, ... up to rmax (within rstep/1000).
  double rmin = 0.0, rmax = 20.0, rstep = 0.01;  // Angstrom
  double qmax = 0.0;                             // 1/Angstrom; 0: no termination
  double qmin = 0.0;                             // 1/Angstrom; 0: none
  double qdamp = 0.0;                            // 1/Angstrom
  double scale = 1.0;
  double delta1 = 0.0;  // Angstrom
  double delta2 = 0.0;  // square Angstrom
  double qbroad = 0.0;  // 1/Angstrom
  double sratio = 1.0;
  double rcut = 0.0;        // Angstrom
  double spdiameter = 0.0;  // Angstrom; 0: no particle envelope (a crystal's only)
  PeakNorm peak_norm = PeakNorm::kPairDistance;
  // The line -4 pi rho0 r terminated with the peaks (PDFfit2), or added
  // after the peaks' termination (diffpy.srreal): the two differ only near
  // the range's ends.
  bool line_terminated = false;
  // Every atom's Uiso (square Angstrom), in place of the structure's displacements.
  std::optional<double> uiso;
  // The density of the line -4 pi rho0 r: a crystal's is N/V unless given; a
  // box has none unless given.
  std::optional<double> rho0;
  bool partials = false;
  StopCheck stop{};
};

struct ModelWeight {
  std::string species;         // "Ti", "O2-"
  double f = 0.0;              // electrons, or fm for neutrons
  double concentration = 0.0;  // c: its share of N
};

struct ModelPartial {
  std::string pair;       // "Cd-Se", elements in the order of their first atoms
  double weight = 0.0;    // sum over the pair's species of c_a f_a c_b f_b / <f>^2, twice for unlike ones
  std::vector<double> g;  // its share of G, the line included: the partials sum to G
};

struct ModelResult {
  std::vector<double> r, g;
  std::vector<ModelPartial> partials;  // with options.partials
  std::vector<ModelWeight> weights;
  std::string weights_source;  // which table or rule made f
  double atoms = 0.0;          // N = sum of occupancies of the cell's (or box's) atoms
  double rho0 = 0.0;           // the line's density (0: none)
  std::size_t pairs = 0;       // the pair Gaussians summed
  // A large box's pairs binned by distance (Angstrom) before their Gaussians (isotropic U of a few values);
  // 0 where each pair has its own.
  double pair_bin = 0.0;
};

// G(r) of the structure. Errors: kInvalidArgument for a grid of no points,
// an option out of its domain (a negative width, qmin not below qmax, a
// particle envelope for a box), an atom without a displacement (give uiso)
// and what expand() refuses; kNotFound for an element without a length or
// X-ray coefficients; kOutOfMemory; kCancelled.
Result<ModelResult> pdf_model(const Structure& structure, const ModelOptions& options);

}  // namespace talvo
