#include "talvo/model/pdf_model.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <new>
#include <numbers>
#include <optional>
#include <string>

#include "talvo/xray/formfactor.hpp"

namespace talvo {
namespace {

constexpr double kCut = 5.0;  // a Gaussian is cut at 5 sigma
// The finest step the peaks are summed on: a grid given coarser is refined
// to it, so that its Gaussians are sampled well for the termination.
constexpr double kFinestStep = 0.01;

std::string text_of(double v) {
  char t[32];
  std::snprintf(t, sizeof t, "%.10g", v);
  return t;
}

Error invalid(const std::string& m) { return make_error(ErrorKind::kInvalidArgument, m); }

Outcome check_options(const Structure& s, const ModelOptions& o) {
  struct Range {
    const char* name;
    double value;
    bool positive;  // above 0, else at least 0
  };
  const Range ranges[] = {{"rstep", o.rstep, true},    {"rmin", o.rmin, false},   {"qmax", o.qmax, false},
                          {"qmin", o.qmin, false},     {"qdamp", o.qdamp, false}, {"qbroad", o.qbroad, false},
                          {"sratio", o.sratio, false}, {"rcut", o.rcut, false},   {"spdiameter", o.spdiameter, false}};
  for (const Range& r : ranges)
    if (!std::isfinite(r.value) || (r.positive ? !(r.value > 0) : r.value < 0))
      return invalid(std::string(r.name) + " = " + text_of(r.value) +
                     (r.positive ? " must be above 0" : " must be 0 or above"));
  for (const double v : {o.rmax, o.scale, o.delta1, o.delta2})
    if (!std::isfinite(v)) return invalid("rmax, scale, delta1 and delta2 must be finite numbers");
  if (o.rmax < o.rmin) return invalid("rmax = " + text_of(o.rmax) + " lies below rmin = " + text_of(o.rmin));
  if ((o.rmax - o.rmin) / o.rstep > 1e7) return invalid("the r grid would have more than 10^7 points");
  if (o.qmin > 0 && !(o.qmax > o.qmin))
    return invalid("qmin = " + text_of(o.qmin) + " needs a qmax above it (qmax = " + text_of(o.qmax) + ")");
  if (o.uiso && !(std::isfinite(*o.uiso) && *o.uiso > 0))
    return invalid("uiso = " + text_of(*o.uiso) + " must be above 0");
  if (o.rho0 && !(std::isfinite(*o.rho0) && *o.rho0 >= 0)) return invalid("rho0 must be 0 or above");
  if (!s.periodic && o.spdiameter > 0)
    return invalid("spdiameter is the envelope of a particle cut from a crystal; a finite box has its own shape");
  return Done{};
}

// The scattering power of each atom and where it came from.
Result<std::vector<double>> powers(const Structure& s, const std::vector<Atom>& atoms, const ModelOptions& o,
                                   std::string& source) {
  std::vector<double> per_site(s.sites.size());
  bool given = false;
  for (std::size_t i = 0; i < s.sites.size(); ++i) {
    const Site& site = s.sites[i];
    if (o.radiation == ModelRadiation::kXray) {
      if (o.xray_weights == XrayWeights::kElectrons) {
        per_site[i] = site.z - site.charge;
      } else {
        const std::string name = ion_text(site.element, site.charge);
        Result<FormFactorParams> p = published_coefficients(name, FormFactorTable::kWaasmaierKirfel);
        if (!p.ok()) return p.error();
        double f0 = p->c;
        for (int k = 0; k < p->n; ++k) f0 += p->a[static_cast<std::size_t>(k)];
        per_site[i] = f0;
      }
      continue;
    }
    auto own = std::find_if(o.lengths.begin(), o.lengths.end(), [&](const auto& l) { return l.first == site.element; });
    if (own != o.lengths.end()) {
      per_site[i] = own->second;
      given = true;
      continue;
    }
    if (!o.neutron_table) return invalid("a neutron G(r) needs the table of neutron scattering lengths");
    const NeutronRow* row = o.neutron_table->find(site.element, 0);
    if (!row || !row->b_coh)
      return make_error(ErrorKind::kNotFound,
                        "no bound coherent scattering length for " + site.element + " in " + o.neutron_table->file);
    per_site[i] = *row->b_coh;
  }
  if (o.radiation == ModelRadiation::kXray)
    source = o.xray_weights == XrayWeights::kElectrons
                 ? "X-ray: f = Z - charge (the atom's electrons)"
                 : "X-ray: f = f0(Q = 0) = sum a + c of Waasmaier & Kirfel (1995)";
  else
    source = std::string("neutron: f = the real bound coherent length b of the Sears (1992) table") +
             (given ? ", with the lengths given in its place for some elements" : "");
  std::vector<double> f;
  for (const Atom& a : atoms) f.push_back(per_site[a.site]);
  return f;
}

// Atom pairs within `reach` (Angstrom) of each other, by a cell list: `visit`(i, j, d) for each ordered pair.
template <class Visit>
void box_pairs(const std::vector<Atom>& atoms, double reach, Visit visit) {
  Vec3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
  for (const Atom& a : atoms)
    for (std::size_t k = 0; k < 3; ++k)
      lo[k] = std::min(lo[k], a.cartesian[k]), hi[k] = std::max(hi[k], a.cartesian[k]);
  std::array<long, 3> n{};
  for (std::size_t k = 0; k < 3; ++k)
    n[k] = std::max(1L, std::min(200L, static_cast<long>((hi[k] - lo[k]) / reach) + 1));
  auto cell_of = [&](const Vec3& x) {
    std::array<long, 3> c{};
    for (std::size_t k = 0; k < 3; ++k) c[k] = std::min(n[k] - 1, static_cast<long>((x[k] - lo[k]) / reach));
    return c;
  };
  const std::size_t cells = static_cast<std::size_t>(n[0] * n[1] * n[2]);
  std::vector<std::vector<std::size_t>> members(cells);
  auto index = [&](long x, long y, long z) { return static_cast<std::size_t>((x * n[1] + y) * n[2] + z); };
  for (std::size_t i = 0; i < atoms.size(); ++i) {
    const auto c = cell_of(atoms[i].cartesian);
    members[index(c[0], c[1], c[2])].push_back(i);
  }
  for (std::size_t i = 0; i < atoms.size(); ++i) {
    const auto c = cell_of(atoms[i].cartesian);
    for (long x = std::max(0L, c[0] - 1); x <= std::min(n[0] - 1, c[0] + 1); ++x)
      for (long y = std::max(0L, c[1] - 1); y <= std::min(n[1] - 1, c[1] + 1); ++y)
        for (long z = std::max(0L, c[2] - 1); z <= std::min(n[2] - 1, c[2] + 1); ++z)
          for (std::size_t j : members[index(x, y, z)])
            if (j != i) visit(i, j, atoms[j].cartesian - atoms[i].cartesian);
  }
}

// sin(q x) / x, q at x = 0.
double sinc_q(double q, double x) { return x == 0.0 ? q : std::sin(q * x) / x; }

// The termination of a G(r) summed on an equal grid (r = rmin + k h, k from
// k_lo) at qmin to qmax: its convolution with the band's kernel, the image
// across r = 0 taken off; none where qmax is 0.
class Termination {
 public:
  Termination(const ModelOptions& o, double h, long k_lo, std::size_t n) : h_(h), n_(n), none_(!(o.qmax > 0)) {
    if (none_) return;
    diff_.resize(n);
    sum_.resize(2 * n);
    auto band = [&](double x) {
      return (sinc_q(o.qmax, x) - (o.qmin > 0 ? sinc_q(o.qmin, x) : 0.0)) / std::numbers::pi;
    };
    for (std::size_t d = 0; d < n; ++d) diff_[d] = band(static_cast<double>(d) * h);
    // r + r' = 2 rmin + (k + k') h, k + k' from 2 k_lo.
    const double r_low = o.rmin + static_cast<double>(k_lo) * h;
    for (std::size_t q = 0; q < 2 * n; ++q) sum_[q] = band(2.0 * r_low + static_cast<double>(q) * h);
  }
  // The terminated value at the grid's point k of `p`, given on the whole grid.
  double at(const std::vector<double>& p, std::size_t k) const {
    if (none_) return p[k];
    // The kernel's difference term read forwards (it is even in r - r'),
    // four sums at a time so that the loop runs side by side.
    double acc[4] = {0.0, 0.0, 0.0, 0.0};
    const double* mirror = sum_.data() + k;
    std::size_t j = 0;
    for (; j + 4 <= n_; j += 4)
      for (std::size_t q = 0; q < 4; ++q) {
        const std::size_t jj = j + q;
        acc[q] += (diff_[k > jj ? k - jj : jj - k] - mirror[jj]) * p[jj];
      }
    for (; j < n_; ++j) acc[0] += (diff_[k > j ? k - j : j - k] - mirror[j]) * p[j];
    return (acc[0] + acc[1] + acc[2] + acc[3]) * h_;
  }

 private:
  std::vector<double> diff_, sum_;
  double h_;
  std::size_t n_;
  bool none_;
};

// The elements of a structure's atoms, in the order of their first atoms, and
// their pairs as the row-major upper triangle.
struct ElementPairs {
  std::vector<std::string> names;
  std::vector<std::size_t> of_atom;

  ElementPairs(const Structure& s, const std::vector<Atom>& atoms) : of_atom(atoms.size()) {
    for (std::size_t i = 0; i < atoms.size(); ++i) {
      const std::string& e = s.sites[atoms[i].site].element;
      auto it = std::find(names.begin(), names.end(), e);
      of_atom[i] = static_cast<std::size_t>(it - names.begin());
      if (it == names.end()) names.push_back(e);
    }
  }
  std::size_t pair(std::size_t a, std::size_t b) const {
    if (a > b) std::swap(a, b);
    return a * names.size() - a * (a - 1) / 2 + (b - a);
  }
  // Each pair's weight c_i f_i c_j f_j / (N <f>)^2 over N atoms, doubled for unlike pairs: the product of
  // the two elements' sums of c f (one pass over the atoms, a box's many too).
  std::vector<double> weights(const std::vector<Atom>& atoms, const std::vector<double>& f, double n,
                              double mean_f) const {
    const std::size_t ne = names.size();
    std::vector<double> power(ne, 0.0);
    for (std::size_t i = 0; i < atoms.size(); ++i) power[of_atom[i]] += atoms[i].occupancy * f[i];
    std::vector<double> w(ne * (ne + 1) / 2, 0.0);
    for (std::size_t a = 0; a < ne; ++a)
      for (std::size_t b = a; b < ne; ++b)
        w[pair(a, b)] = (a == b ? 1.0 : 2.0) * power[a] * power[b] / (n * n * mean_f * mean_f);
    return w;
  }
};

// Each species' scattering power and concentration, in the order of their first sites.
std::vector<ModelWeight> species_weights(const Structure& s, const std::vector<Atom>& atoms,
                                         const std::vector<double>& f, double n_atoms) {
  // One pass over the atoms (a box has as many sites as atoms): each site's concentration and first atom.
  std::vector<double> concentration(s.sites.size(), 0.0);
  std::vector<std::size_t> first(s.sites.size(), atoms.size());
  for (std::size_t k = 0; k < atoms.size(); ++k) {
    concentration[atoms[k].site] += atoms[k].occupancy / n_atoms;
    if (first[atoms[k].site] == atoms.size()) first[atoms[k].site] = k;
  }
  std::vector<ModelWeight> weights;
  std::map<std::string, std::size_t, std::less<>> index;
  for (std::size_t i = 0; i < s.sites.size(); ++i) {
    const std::string& species = s.sites[i].species;
    const double fi = first[i] < atoms.size() ? f[first[i]] : 0.0;
    const auto [it, added] = index.emplace(species, weights.size());
    if (added)
      weights.push_back({species, fi, concentration[i]});
    else
      weights[it->second].concentration += concentration[i];
  }
  return weights;
}

// The scale, the resolution's damping exp(-(qdamp r)^2 / 2) and a sphere's shape factor, at r = rmin + k h
// for k from k_lo.
std::vector<double> envelope_of(const ModelOptions& o, double h, long k_lo, std::size_t n) {
  std::vector<double> envelope(n);
  for (std::size_t k = 0; k < n; ++k) {
    const double r = o.rmin + static_cast<double>(k_lo + static_cast<long>(k)) * h;
    double e = o.scale * std::exp(-0.5 * (o.qdamp * r) * (o.qdamp * r));
    if (o.spdiameter > 0) {
      const double x = r / o.spdiameter;
      e *= x < 1 ? 1.0 - 1.5 * x + 0.5 * x * x * x : 0.0;
    }
    envelope[k] = e;
  }
  return envelope;
}

// The fine grid the peaks are summed on, and a Gaussian added to it.
struct PeakGrid {
  double rmin = 0.0, h = 0.0;
  long k_lo = 0, k_hi = 0;
  bool grid_norm = false;         // peaks divided by the grid's r (else by `divisor`)
  std::vector<double> inverse_r;  // 1/r of its points, 0 at r = 0 (where a peak over r adds nothing)

  double r_at(long k) const { return rmin + static_cast<double>(k) * h; }
  // amplitude exp(-(r - centre)^2 / (2 sigma^2)), divided by the grid's r or by `divisor`, within kCut sigma;
  // false where that leaves no point of the grid.
  bool add(std::vector<double>& p, double centre, double sigma, double amplitude, double divisor) const {
    const long first = std::max(k_lo, static_cast<long>(std::ceil((centre - kCut * sigma - rmin) / h)));
    const long last = std::min(k_hi, static_cast<long>(std::floor((centre + kCut * sigma - rmin) / h)));
    if (first > last) return false;
    const double inv2s2 = 1.0 / (2.0 * sigma * sigma);
    // The Gaussian on the equal grid by its exact recurrence: g(k+1) = g(k) A(k),
    // A(k+1) = A(k) C, so that three exponentials serve the whole peak.
    const double x0 = r_at(first) - centre;
    double g = std::exp(-x0 * x0 * inv2s2);
    double ratio = std::exp(-(2.0 * x0 * h + h * h) * inv2s2);
    const double step_ratio = std::exp(-2.0 * h * h * inv2s2);
    double* out_p = p.data() + (first - k_lo);
    const double* inv_n = grid_norm ? inverse_r.data() + (first - k_lo) : nullptr;
    const double scale = amplitude / divisor;
    const std::size_t count = static_cast<std::size_t>(last - first + 1);
    for (std::size_t q = 0; q < count; ++q) {
      out_p[q] += (grid_norm ? amplitude * inv_n[q] : scale) * g;
      g *= ratio;
      ratio *= step_ratio;
    }
    return true;
  }
};

// The width a large box's pair distances are binned by, per step of the fine grid.
constexpr double kBinsPerStep = 32.0;
// A box with fewer atoms has each pair's Gaussian on its own.
constexpr std::size_t kBinnedFromAtoms = 2000;
// The most values of an isotropic U the binned sum takes (their pairs make the histograms).
constexpr std::size_t kMostUValues = 4;
// The most histogram points it holds (32 MB).
constexpr std::size_t kMostBins = std::size_t{4} << 20;

// A large box's pairs binned by distance before their Gaussians. Where every atom's U is isotropic and takes
// few values, a pair's width depends on its distance and its two U alone (sigma'^2 = U_i + U_j), so the pairs of
// one partial and one pair of U values near one distance make one Gaussian. Each pair's weight is shared
// between the two bin nodes about its distance so that its weight and mean distance are kept; what that leaves
// is at most (b / sigma)^2 / 8 of a peak, 1.2e-6 for b = 0.01/32 A and sigma 0.1 A. Each unordered pair is
// found once and counted twice. The bin width, or nothing (and nothing added) where the atoms do not allow it.
std::optional<double> binned_box(const std::vector<Atom>& atoms, const std::vector<double>& f, double mean_f,
                                 const ElementPairs& el, const ModelOptions& o, const PeakGrid& grid, double reach,
                                 double norm_gauss, std::vector<std::vector<double>>& peaks, std::size_t& pairs) {
  if (atoms.size() < kBinnedFromAtoms) return std::nullopt;
  std::vector<double> u_values;
  std::vector<std::size_t> u_of(atoms.size());
  for (std::size_t i = 0; i < atoms.size(); ++i) {
    const Mat3& u = atoms[i].u;
    if (u[0][1] != 0 || u[0][2] != 0 || u[1][2] != 0 || u[1][0] != 0 || u[2][0] != 0 || u[2][1] != 0 ||
        u[0][0] != u[1][1] || u[0][0] != u[2][2])
      return std::nullopt;
    const auto it = std::find(u_values.begin(), u_values.end(), u[0][0]);
    if (it == u_values.end() && u_values.size() == kMostUValues) return std::nullopt;
    u_of[i] = static_cast<std::size_t>(it - u_values.begin());
    if (it == u_values.end()) u_values.push_back(u[0][0]);
  }
  const std::size_t nu = u_values.size(), u_pairs = nu * (nu + 1) / 2;
  const std::size_t sides = o.rcut > 0 && o.sratio != 1.0 ? 2 : 1;  // below rcut (sratio) and above
  const double b = grid.h / kBinsPerStep;
  const std::size_t nb = static_cast<std::size_t>(std::ceil(reach / b)) + 2;
  const std::size_t histograms = peaks.size() * u_pairs * sides;
  if (histograms * nb > kMostBins) return std::nullopt;
  const auto u_pair = [nu](std::size_t a, std::size_t c) {
    if (a > c) std::swap(a, c);
    return a * nu - a * (a - 1) / 2 + (c - a);
  };
  std::vector<double> hist(histograms * nb, 0.0);
  const double r_top = grid.r_at(grid.k_hi), r_bottom = grid.r_at(grid.k_lo);
  const double inv_mean2 = 1.0 / (mean_f * mean_f);
  std::size_t found = 0;
  box_pairs(atoms, reach, [&](std::size_t i, std::size_t j, const Vec3& d) {
    if (j < i) return;
    const double rij = norm(d);
    if (rij < 1e-8 || rij > reach) return;
    const double bracket = 1.0 - o.delta1 / rij - o.delta2 / (rij * rij) + o.qbroad * o.qbroad * rij * rij;
    if (!(bracket > 0)) return;
    const std::size_t partial = o.partials ? el.pair(el.of_atom[i], el.of_atom[j]) : 0;
    const std::size_t side = sides == 2 && rij < o.rcut ? 1 : 0;
    // Counted as the pair-by-pair sum counts: where its Gaussian reaches the grid.
    const double sigma = std::sqrt((u_values[u_of[i]] + u_values[u_of[j]]) * bracket) * (rij < o.rcut ? o.sratio : 1.0);
    if (!(sigma > 0) || rij - kCut * sigma > r_top || rij + kCut * sigma < r_bottom) return;
    double* h = hist.data() + ((partial * u_pairs + u_pair(u_of[i], u_of[j])) * sides + side) * nb;
    // Twice: the pair (i, j) and the pair (j, i).
    double w = 2.0 * atoms[i].occupancy * f[i] * atoms[j].occupancy * f[j] * inv_mean2;
    if (!grid.grid_norm) w /= rij;
    const double t = rij / b;
    const auto k = static_cast<std::size_t>(t);
    const double frac = t - static_cast<double>(k);
    h[k] += w * (1.0 - frac);
    h[k + 1] += w * frac;
    ++found;
  });
  pairs = 2 * found;
  for (std::size_t partial = 0; partial < peaks.size(); ++partial)
    for (std::size_t a = 0; a < nu; ++a)
      for (std::size_t c = a; c < nu; ++c)
        for (std::size_t side = 0; side < sides; ++side) {
          const double s2 = u_values[a] + u_values[c];
          const double* h = hist.data() + ((partial * u_pairs + u_pair(a, c)) * sides + side) * nb;
          for (std::size_t k = 1; k < nb; ++k) {
            if (h[k] == 0.0) continue;
            const double r = static_cast<double>(k) * b;
            const double bracket = 1.0 - o.delta1 / r - o.delta2 / (r * r) + o.qbroad * o.qbroad * r * r;
            if (!(bracket > 0)) continue;
            const double sigma = std::sqrt(s2 * bracket) * (side == 1 ? o.sratio : 1.0);
            if (!(sigma > 0)) continue;
            (void)grid.add(peaks[partial], r, sigma, h[k] * norm_gauss / sigma, 1.0);
          }
        }
  return b;
}

// The structure's atoms with their displacements (uiso in place of their own where given), and the largest
// trace of U among them.
Result<std::vector<Atom>> displaced_atoms(const Structure& s, const ModelOptions& o, double& max_trace) {
  Result<std::vector<Atom>> expanded = expand(s);
  if (!expanded.ok()) return expanded.error();
  std::vector<Atom>& atoms = *expanded;
  if (atoms.empty()) return invalid("the structure has no atoms");
  max_trace = 0.0;
  for (Atom& a : atoms) {
    if (o.uiso) a.u = isotropic_u(*o.uiso);
    if (a.u[0][0] == 0.0 && a.u[1][1] == 0.0 && a.u[2][2] == 0.0)
      return invalid("site " + s.sites[a.site].label +
                     " has no displacement U, so its peaks would have no width: give uiso (or U in the file)");
    max_trace = std::max(max_trace, a.u[0][0] + a.u[1][1] + a.u[2][2]);
  }
  return expanded;
}

// The grids: the output's (n_out points), and the finer, extended one the peaks are summed on (n_int points,
// m of its steps to one of the output's).
struct Grids {
  std::size_t n_out = 0, n_int = 0;
  long m = 1;
  PeakGrid fine;
};

Grids grids_of(const ModelOptions& o) {
  Grids g;
  g.n_out = static_cast<std::size_t>(std::floor((o.rmax - o.rmin) / o.rstep + 1e-3)) + 1;
  g.m = std::max(1L, static_cast<long>(std::ceil(o.rstep / kFinestStep - 1e-9)));
  const double h = o.rstep / static_cast<double>(g.m);
  const double ext = o.qmax > 0 ? 6.0 * 2.0 * std::numbers::pi / o.qmax : 0.0;
  const long pad = static_cast<long>(std::ceil(ext / h));
  const long k_lo = -std::min(pad, static_cast<long>(std::floor(o.rmin / h + 1e-9)));
  const long k_hi = static_cast<long>(g.n_out - 1) * g.m + pad;
  g.n_int = static_cast<std::size_t>(k_hi - k_lo + 1);
  PeakGrid& grid = g.fine;
  grid.rmin = o.rmin, grid.h = h, grid.k_lo = k_lo, grid.k_hi = k_hi;
  grid.grid_norm = o.peak_norm == PeakNorm::kGridR;
  grid.inverse_r.resize(g.n_int);
  for (std::size_t k = 0; k < g.n_int; ++k) {
    const double r = grid.r_at(k_lo + static_cast<long>(k));
    grid.inverse_r[k] = r > 0 ? 1.0 / r : 0.0;
  }
  return g;
}

// The scattering powers the pairs are weighted by: each atom's f, their mean <f> and N.
struct Powers {
  std::vector<double> f;
  double mean_f = 0.0, n_atoms = 0.0;
};

// Every pair's Gaussian within reach onto peaks (one a partial, by the elements of the two atoms): a crystal's
// over the images of its cell, a box's over its pairs, binned by distance where it is large. Sets the pairs
// summed and the bin.
Outcome sum_pairs(const Structure& s, const std::vector<Atom>& atoms, const Powers& pw, const ElementPairs& el,
                  const ModelOptions& o, const PeakGrid& grid, double reach, double norm_gauss,
                  std::vector<std::vector<double>>& peaks, ModelResult& out) {
  const std::vector<double>& f = pw.f;
  const double mean_f = pw.mean_f;
  const double r_bottom = grid.r_at(grid.k_lo), r_top = grid.r_at(grid.k_hi);
  std::size_t pairs = 0;
  auto add_pair = [&](std::size_t i, std::size_t j, const Vec3& d) {
    const double rij = norm(d);
    if (rij < 1e-8 || rij > reach) return;
    const Vec3 u = (1.0 / rij) * d;
    const Mat3 uu = atoms[i].u + atoms[j].u;
    const double s2 = dot(u, uu * u);
    const double bracket = 1.0 - o.delta1 / rij - o.delta2 / (rij * rij) + o.qbroad * o.qbroad * rij * rij;
    if (!(bracket > 0) || !(s2 > 0)) return;
    double sigma = std::sqrt(s2 * bracket);
    if (rij < o.rcut) sigma *= o.sratio;
    if (!(sigma > 0) || rij - kCut * sigma > r_top || rij + kCut * sigma < r_bottom) return;
    const double w = atoms[i].occupancy * f[i] * atoms[j].occupancy * f[j] / (mean_f * mean_f);
    if (grid.add(peaks[o.partials ? el.pair(el.of_atom[i], el.of_atom[j]) : 0], rij, sigma, w * norm_gauss / sigma,
                 rij))
      ++pairs;
  };
  if (s.periodic) {
    std::array<long, 3> nt{};
    for (std::size_t k = 0; k < 3; ++k) nt[k] = static_cast<long>(std::ceil(reach * s.cell.reciprocal[k])) + 1;
    for (std::size_t i = 0; i < atoms.size(); ++i) {
      if (stop_asked(o.stop)) return cancelled();
      for (std::size_t j = 0; j < atoms.size(); ++j) {
        const Vec3 dx = atoms[j].xyz - atoms[i].xyz;
        for (long a = -nt[0]; a <= nt[0]; ++a)
          for (long b = -nt[1]; b <= nt[1]; ++b)
            for (long c = -nt[2]; c <= nt[2]; ++c) {
              const Vec3 t{dx[0] + static_cast<double>(a), dx[1] + static_cast<double>(b),
                           dx[2] + static_cast<double>(c)};
              add_pair(i, j, s.cell.cartesian(t));
            }
      }
    }
  } else if (const std::optional<double> bin =
                 binned_box(atoms, f, mean_f, el, o, grid, reach, norm_gauss, peaks, pairs)) {
    out.pair_bin = *bin;
  } else {
    box_pairs(atoms, reach, add_pair);
  }
  out.pairs = pairs;
  return Done{};
}

// The peaks times the envelope, with the line, terminated onto the output grid as G and (with partials) each
// element pair's share of it.
Outcome terminated_output(const ModelOptions& o, const Grids& grids, const ElementPairs& el,
                          const std::vector<double>& pair_weight, std::vector<std::vector<double>>& peaks,
                          ModelResult& out) {
  const double h = grids.fine.h;
  const long k_lo = grids.fine.k_lo, m = grids.m;
  const std::size_t n_int = grids.n_int, n_out = grids.n_out;
  const std::vector<std::string>& elements = el.names;
  const std::size_t ne = elements.size();
  const std::vector<double> envelope = envelope_of(o, h, k_lo, n_int);
  for (auto& p : peaks)
    for (std::size_t k = 0; k < n_int; ++k) p[k] *= envelope[k];
  // PDFfit2 terminates the line with the peaks; over the extended range that
  // changes only the ends, where a line cut off rings.
  auto line_at = [&](long k) {
    return -4.0 * std::numbers::pi * out.rho0 * grids.fine.r_at(k) * envelope[static_cast<std::size_t>(k - k_lo)];
  };
  const bool line_inside = o.line_terminated && o.qmax > 0;
  if (line_inside)
    for (auto& p : peaks) {
      const double share = o.partials ? pair_weight[static_cast<std::size_t>(&p - peaks.data())] : 1.0;
      for (std::size_t k = 0; k < n_int; ++k) p[k] += share * line_at(k_lo + static_cast<long>(k));
    }
  const Termination termination(o, h, k_lo, n_int);
  auto terminated = [&](const std::vector<double>& p, std::size_t out_index) {
    return termination.at(p, static_cast<std::size_t>(static_cast<long>(out_index) * m - k_lo));
  };
  out.r.resize(n_out);
  out.g.assign(n_out, 0.0);
  if (o.partials)
    for (std::size_t a = 0; a < ne; ++a)
      for (std::size_t b = a; b < ne; ++b)
        out.partials.push_back(
            {elements[a] + "-" + elements[b], pair_weight[el.pair(a, b)], std::vector<double>(n_out)});
  for (std::size_t i = 0; i < n_out; ++i) {
    if (i % 256 == 0 && stop_asked(o.stop)) return cancelled();
    const double r = o.rmin + static_cast<double>(i) * o.rstep;
    out.r[i] = r;
    const double line = line_inside ? 0.0 : line_at(static_cast<long>(i) * m);
    for (std::size_t p = 0; p < peaks.size(); ++p) {
      const double v = terminated(peaks[p], i);
      out.g[i] += v;
      if (o.partials) out.partials[p].g[i] = v + line * out.partials[p].weight;
    }
    out.g[i] += line;
  }
  return Done{};
}

Result<ModelResult> model(const Structure& s, const ModelOptions& o) {
  if (Outcome c = check_options(s, o); !c.ok()) return c.error();
  double max_trace = 0.0;
  Result<std::vector<Atom>> displaced = displaced_atoms(s, o, max_trace);
  if (!displaced.ok()) return displaced.error();
  const std::vector<Atom>& atoms = *displaced;
  ModelResult out;
  Result<std::vector<double>> f = powers(s, atoms, o, out.weights_source);
  if (!f.ok()) return f.error();
  Powers pw;
  pw.f = std::move(*f);
  double sum_f = 0.0;
  for (std::size_t i = 0; i < atoms.size(); ++i)
    pw.n_atoms += atoms[i].occupancy, sum_f += atoms[i].occupancy * pw.f[i];
  if (!(pw.n_atoms > 0)) return invalid("the atoms' occupancies sum to 0");
  pw.mean_f = sum_f / pw.n_atoms;
  if (pw.mean_f == 0.0) return invalid("the mean scattering power <f> of the structure is 0: its G(r) is not defined");
  out.atoms = pw.n_atoms;
  out.weights = species_weights(s, atoms, pw.f, pw.n_atoms);
  out.rho0 = o.rho0 ? *o.rho0 : s.periodic ? pw.n_atoms / s.cell.volume : 0.0;

  const Grids grids = grids_of(o);
  // The partials: by the elements of the two atoms, in the order of their first atoms.
  const ElementPairs el(s, atoms);
  const std::size_t ne = el.names.size();
  const std::size_t n_partials = o.partials ? ne * (ne + 1) / 2 : 1;
  std::vector<std::vector<double>> peaks(n_partials, std::vector<double>(grids.n_int, 0.0));
  const std::vector<double> pair_weight = el.weights(atoms, pw.f, pw.n_atoms, pw.mean_f);

  const double r_top = grids.fine.r_at(grids.fine.k_hi);
  const double width_bound = std::sqrt(2.0 * max_trace) * std::max(1.0, o.sratio) *
                             std::sqrt(1.0 + o.qbroad * o.qbroad * (r_top + 1) * (r_top + 1));
  const double reach = r_top + 1.5 * kCut * width_bound + 0.1;
  const double norm_gauss = 1.0 / (std::sqrt(2.0 * std::numbers::pi) * pw.n_atoms);
  TALVO_RETURN_IF_ERROR(sum_pairs(s, atoms, pw, el, o, grids.fine, reach, norm_gauss, peaks, out));
  TALVO_RETURN_IF_ERROR(terminated_output(o, grids, el, pair_weight, peaks, out));
  return out;
}

}  // namespace

std::string_view peak_norm_name(PeakNorm norm) { return norm == PeakNorm::kGridR ? "r" : "rij"; }

Result<ModelResult> pdf_model(const Structure& structure, const ModelOptions& options) {
  try {
    return model(structure, options);
  } catch (const std::bad_alloc&) {
    return make_error(ErrorKind::kOutOfMemory, "the model's grids or atoms do not fit in memory");
  }
}

}  // namespace talvo
