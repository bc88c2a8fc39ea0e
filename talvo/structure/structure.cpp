#include "talvo/structure/structure.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>
#include <string>

#include "talvo/elements/elements.hpp"
#include "talvo/text/quote.hpp"
#include <cstdio>

namespace talvo {
namespace {

// cos of an angle in degrees, exact where the cells' usual angles make it so.
double cos_degrees(double angle) {
  if (angle == 90.0) return 0.0;
  if (angle == 60.0) return 0.5;
  if (angle == 120.0) return -0.5;
  return std::cos(angle * std::numbers::pi / 180.0);
}

// A value for a message or a rule, to 10 significant digits.
std::string number_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

// Within this distance (Angstrom) two images of a site are the same atom.
constexpr double kSameAtom = 1e-3;
// Atoms of two sites closer than this overlap, unless they share the place
// (occupancies summing to at most 1).
constexpr double kOverlap = 0.5;

double cartesian_distance(const UnitCell& cell, const Vec3& a, const Vec3& b) {
  return norm(cell.cartesian(nearest_image(a, b)));
}

Mat3 diagonal(const Vec3& d) { return Mat3{Vec3{d[0], 0, 0}, Vec3{0, d[1], 0}, Vec3{0, 0, d[2]}}; }

Outcome check_operation(const UnitCell& cell, const SymmetryOperation& op) {
  const Mat3 rc = cell.A * op.r * cell.A_inverse;
  if (max_difference(transpose(rc) * rc, identity3()) > 1e-3)
    return make_error(ErrorKind::kInvalidArgument,
                      "symmetry operation \"" + op.text + "\" is not an isometry of the cell (a = " +
                          number_text(cell.a) + ", b = " + number_text(cell.b) + ", c = " + number_text(cell.c) +
                          ", alpha = " + number_text(cell.alpha) + ", beta = " + number_text(cell.beta) +
                          ", gamma = " + number_text(cell.gamma) + "): it changes lengths or angles");
  return Done{};
}

// Reduced row echelon form of the rows (in place, tolerance 1e-9); the
// non-zero rows that remain.
std::vector<std::vector<double>> row_echelon(std::vector<std::vector<double>> m) {
  const std::size_t rows = m.size(), cols = rows ? m[0].size() : 0;
  std::size_t r = 0;
  for (std::size_t c = 0; c < cols && r < rows; ++c) {
    std::size_t best = r;
    for (std::size_t i = r; i < rows; ++i)
      if (std::fabs(m[i][c]) > std::fabs(m[best][c])) best = i;
    if (std::fabs(m[best][c]) < 1e-9) continue;
    std::swap(m[r], m[best]);
    const double p = m[r][c];
    for (double& v : m[r]) v /= p;
    for (std::size_t i = 0; i < rows; ++i)
      if (i != r && m[i][c] != 0.0) {
        const double f = m[i][c];
        for (std::size_t k = 0; k < cols; ++k) m[i][k] -= f * m[r][k];
      }
    ++r;
  }
  m.resize(r);
  for (auto& row : m)
    for (double& v : row)
      if (std::fabs(v) < 1e-9) v = 0.0;
  return m;
}

// The constraint of the invariant subspace of the group average `p` (n x n):
// its column space, as rows each with a pivot 1.
SiteConstraint constraint_of(const std::vector<std::vector<double>>& p, const std::vector<std::string>& names,
                             bool positions) {
  const std::size_t n = names.size();
  std::vector<std::vector<double>> pt(n, std::vector<double>(n));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) pt[i][j] = p[j][i];
  SiteConstraint c;
  c.basis = row_echelon(pt);
  for (const auto& row : c.basis)
    for (std::size_t k = 0; k < n; ++k)
      if (row[k] == 1.0 || std::fabs(row[k] - 1.0) < 1e-12) {
        c.free.push_back(static_cast<int>(k));
        break;
      }
  for (std::size_t k = 0; k < n; ++k) {
    if (std::find(c.free.begin(), c.free.end(), static_cast<int>(k)) != c.free.end()) continue;
    std::string rule;
    for (std::size_t f = 0; f < c.free.size(); ++f) {
      const double v = c.basis[f][k];
      if (v == 0.0) continue;
      const std::string& name = names[static_cast<std::size_t>(c.free[f])];
      std::string term = v == 1.0 ? name : v == -1.0 ? "-" + name : number_text(v) + " " + name;
      rule += rule.empty() ? term : (term[0] == '-' ? " - " + term.substr(1) : " + " + term);
    }
    if (positions)
      c.rules.push_back(rule.empty() ? names[k] + " fixed" : names[k] + " moves as " + rule);
    else
      c.rules.push_back(names[k] + " = " + (rule.empty() ? "0" : rule));
  }
  return c;
}

}  // namespace

Mat3 UnitCell::u_cif_to_cartesian(const Mat3& u_cif) const {
  const Mat3 m = A * diagonal(reciprocal);
  return m * u_cif * transpose(m);
}

Mat3 UnitCell::u_cartesian_to_cif(const Mat3& u_cart) const {
  const Mat3 mi = inverse(A * diagonal(reciprocal));
  return mi * u_cart * transpose(mi);
}

Result<UnitCell> make_cell(double a, double b, double c, double alpha, double beta, double gamma) {
  const char* names[] = {"a", "b", "c", "alpha", "beta", "gamma"};
  const double values[] = {a, b, c, alpha, beta, gamma};
  for (std::size_t i = 0; i < 6; ++i) {
    const bool ok = i < 3 ? std::isfinite(values[i]) && values[i] > 0
                          : std::isfinite(values[i]) && values[i] > 0 && values[i] < 180;
    if (!ok)
      return make_error(ErrorKind::kInvalidArgument,
                        std::string("cell ") + names[i] + " = " + number_text(values[i]) +
                            (i < 3 ? " (a length must be above 0 Angstrom)" : " (an angle must lie within 0 to 180 degrees)"));
  }
  const double ca = cos_degrees(alpha), cb = cos_degrees(beta), cg = cos_degrees(gamma);
  const double sg = std::sqrt(1.0 - cg * cg);
  const double v2 = 1.0 - ca * ca - cb * cb - cg * cg + 2.0 * ca * cb * cg;
  if (!(v2 > 1e-12))
    return make_error(ErrorKind::kInvalidArgument, "cell angles alpha = " + number_text(alpha) + ", beta = " +
                                                       number_text(beta) + ", gamma = " + number_text(gamma) +
                                                       " make no cell (its volume would be 0)");
  UnitCell cell;
  cell.a = a, cell.b = b, cell.c = c, cell.alpha = alpha, cell.beta = beta, cell.gamma = gamma;
  const double cy = (ca - cb * cg) / sg;
  const double cz = std::sqrt(v2) / sg;
  cell.A = Mat3{Vec3{a, b * cg, c * cb}, Vec3{0, b * sg, c * cy}, Vec3{0, 0, c * cz}};
  cell.A_inverse = inverse(cell.A);
  cell.volume = a * b * c * std::sqrt(v2);
  for (std::size_t k = 0; k < 3; ++k) cell.reciprocal[k] = norm(cell.A_inverse[k]);
  return cell;
}

Outcome assign_species(Site& site, std::string_view species) {
  std::size_t letters = 0;
  while (letters < species.size() && letters < 2 && std::isalpha(static_cast<unsigned char>(species[letters])))
    ++letters;
  std::optional<ElementEntry> entry;
  std::size_t used = 0;
  // A second letter in lower case belongs to the symbol ("Cf" is no carbon); one in upper case may be a
  // label's ("OW": the oxygen of a water), as may any after the symbol.
  const bool two_letters = letters == 2 && std::islower(static_cast<unsigned char>(species[1]));
  for (std::size_t n = letters; n >= (two_letters ? 2 : 1) && !entry; --n) {
    Result<ElementEntry> e = element_named(species.substr(0, n));
    if (e.ok()) entry = *e, used = n;
  }
  if (!entry)
    return make_error(ErrorKind::kNotFound, "unknown element in the atom " + quote_for_message(std::string(species)) +
                                                (site.label.empty() ? "" : " (site " + escape_for_message(site.label) + ")") +
                                                (two_letters ? ": no element of the table is called " +
                                                                   quote_for_message(std::string(species.substr(0, 2)))
                                                             : ""));
  std::string_view rest = species.substr(used);
  int charge = 0;
  // "2-", "3+", "+", "-": an ion; digits alone (a label's number) or other text: the neutral atom.
  if (!rest.empty() && (rest.back() == '+' || rest.back() == '-')) {
    const std::string_view digits = rest.substr(0, rest.size() - 1);
    if (std::all_of(digits.begin(), digits.end(), [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)); })) {
      charge = digits.empty() ? 1 : std::stoi(std::string(digits));
      if (rest.back() == '-') charge = -charge;
    }
  }
  site.species = std::string(species);
  site.element = entry->symbol;
  site.z = entry->z;
  site.charge = charge;
  return Done{};
}

Outcome check_displacement(const Mat3& u, std::string_view what) {
  bool zero = true;
  for (const Vec3& row : u)
    for (double v : row) {
      if (!std::isfinite(v)) return make_error(ErrorKind::kInvalidArgument, "the displacement U of " + std::string(what) + " is not finite");
      zero = zero && v == 0.0;
    }
  if (zero) return Done{};
  if (max_difference(u, transpose(u)) > 1e-12)
    return make_error(ErrorKind::kInvalidArgument, "the displacement U of " + std::string(what) + " is not symmetric");
  // Positive definite: the leading minors are all above 0 (Sylvester).
  const double m1 = u[0][0], m2 = u[0][0] * u[1][1] - u[0][1] * u[1][0], m3 = determinant(u);
  if (!(m1 > 0 && m2 > 0 && m3 > 0))
    return make_error(ErrorKind::kInvalidArgument,
                      "the displacement U of " + std::string(what) +
                          " is not positive definite (some direction would have a mean-square displacement of 0 or below)");
  return Done{};
}

Result<std::vector<Atom>> expand(const Structure& s) {
  std::vector<Atom> atoms;
  for (std::size_t i = 0; i < s.sites.size(); ++i) {
    const Site& site = s.sites[i];
    if (Outcome c = check_displacement(site.u, "site " + site.label); !c.ok()) return c.error();
    if (!(site.occupancy >= 0.0 && site.occupancy <= 1.0 + 1e-9))
      return make_error(ErrorKind::kInvalidArgument, "the occupancy of site " + site.label + " is " +
                                                         number_text(site.occupancy) + ", not within 0 to 1");
  }
  if (!s.periodic) {
    for (std::size_t i = 0; i < s.sites.size(); ++i) {
      Atom a;
      a.site = i;
      a.xyz = a.cartesian = s.cartesian[i];
      a.u = s.sites[i].u;
      a.occupancy = s.sites[i].occupancy;
      atoms.push_back(a);
    }
    return atoms;
  }
  std::vector<Mat3> rotations;
  for (const SymmetryOperation& op : s.operations) {
    if (Outcome c = check_operation(s.cell, op); !c.ok()) return c.error();
    rotations.push_back(s.cell.A * op.r * s.cell.A_inverse);
  }
  for (std::size_t i = 0; i < s.sites.size(); ++i) {
    const Site& site = s.sites[i];
    const std::size_t first = atoms.size();
    for (std::size_t k = 0; k < s.operations.size(); ++k) {
      const Vec3 x = wrap_unit(apply(s.operations[k], site.xyz));
      bool seen = false;
      for (std::size_t j = first; j < atoms.size() && !seen; ++j)
        seen = cartesian_distance(s.cell, atoms[j].xyz, x) < kSameAtom;
      if (seen) continue;
      Atom a;
      a.site = i;
      a.xyz = x;
      a.cartesian = s.cell.cartesian(x);
      a.u = rotations[k] * site.u * transpose(rotations[k]);
      a.occupancy = site.occupancy;
      atoms.push_back(a);
    }
  }
  for (std::size_t i = 0; i < atoms.size(); ++i)
    for (std::size_t j = i + 1; j < atoms.size(); ++j) {
      const double d = cartesian_distance(s.cell, atoms[i].xyz, atoms[j].xyz);
      // Two images of one site that nearly coincide: a special position written with too few digits.
      if (atoms[i].site == atoms[j].site) {
        if (d < kOverlap && 2.0 * atoms[i].occupancy > 1.0 + 1e-6)
          return make_error(ErrorKind::kInvalidArgument,
                            "the symmetry operations put two atoms of site " +
                                escape_for_message(s.sites[atoms[i].site].label) + " " + number_text(d) +
                                " Angstrom apart: its position is a special one written with too few digits (0.333 "
                                "for 1/3?); give it as the exact fraction's decimals (0.333333)");
        continue;
      }
      if (d < kOverlap && atoms[i].occupancy + atoms[j].occupancy > 1.0 + 1e-6)
        return make_error(ErrorKind::kInvalidArgument,
                          "atoms of sites " + s.sites[atoms[i].site].label + " and " + s.sites[atoms[j].site].label +
                              " overlap: " + number_text(d) + " Angstrom apart, and their occupancies sum to " +
                              number_text(atoms[i].occupancy + atoms[j].occupancy) + ", above 1");
    }
  return atoms;
}

Outcome check_structure(const Structure& structure) {
  Result<std::vector<Atom>> atoms = expand(structure);
  if (!atoms.ok()) return atoms.error();
  return Done{};
}

std::vector<SymmetryOperation> site_symmetry(const Structure& s, std::size_t site) {
  std::vector<SymmetryOperation> ops;
  if (!s.periodic) return {SymmetryOperation{}};
  const Vec3 x = s.sites[site].xyz;
  for (const SymmetryOperation& op : s.operations)
    if (cartesian_distance(s.cell, apply(op, x), x) < kSameAtom) ops.push_back(op);
  return ops;
}

SiteConstraint position_constraint(const Structure& s, std::size_t site) {
  const std::vector<SymmetryOperation> ops = site_symmetry(s, site);
  std::vector<std::vector<double>> p(3, std::vector<double>(3, 0.0));
  for (const SymmetryOperation& op : ops)
    for (std::size_t i = 0; i < 3; ++i)
      for (std::size_t j = 0; j < 3; ++j) p[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] += op.r[i][j] / static_cast<double>(ops.size());
  return constraint_of(p, {"x", "y", "z"}, true);
}

SiteConstraint displacement_constraint(const Structure& s, std::size_t site) {
  const std::vector<SymmetryOperation> ops = site_symmetry(s, site);
  static const std::size_t kI[6] = {0, 1, 2, 0, 0, 1}, kJ[6] = {0, 1, 2, 1, 2, 2};
  const Mat3 n = diagonal(s.cell.reciprocal);
  const Mat3 n_inv = diagonal(Vec3{1 / s.cell.reciprocal[0], 1 / s.cell.reciprocal[1], 1 / s.cell.reciprocal[2]});
  std::vector<std::vector<double>> p(6, std::vector<double>(6, 0.0));
  for (const SymmetryOperation& op : ops) {
    const Mat3 q = n_inv * op.r * n;
    for (std::size_t k = 0; k < 6; ++k) {
      Mat3 e{};
      e[kI[k]][kJ[k]] = e[kJ[k]][kI[k]] = 1.0;
      const Mat3 t = q * e * transpose(q);
      for (std::size_t m = 0; m < 6; ++m) p[m][k] += t[kI[m]][kJ[m]] / static_cast<double>(ops.size());
    }
  }
  return constraint_of(p, {"U11", "U22", "U33", "U12", "U13", "U23"}, false);
}

}  // namespace talvo
