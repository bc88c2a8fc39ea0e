// G(r) of structures against the files PDFfit2 and diffpy.srreal wrote, and
// against sums worked by hand for boxes of a few atoms.
#include "talvo/model/pdf_model.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "talvo/structure/cif.hpp"
#include "talvo/structure/structure_files.hpp"

namespace talvo {
namespace {

std::string data(const std::string& name) { return std::string(TALVO_TEST_FILES_DIR) + "pdf_model/" + name; }

struct Curve {
  std::vector<double> r, g;
};

// The "r G" rows of a .fgr file, "#" lines and those that are no numbers skipped.
Curve read_fgr(const std::string& file) {
  Curve c;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    double r = 0, g = 0;
    if (s >> r >> g) c.r.push_back(r), c.g.push_back(g);
  }
  return c;
}

// max |G - G_ref| over from <= r <= to, as a share of max |G_ref| there.
double worst_share(const ModelResult& m, const Curve& ref, double from, double to = 1e9) {
  double worst = 0, top = 0;
  for (std::size_t i = 0; i < ref.r.size(); ++i) {
    if (ref.r[i] < from - 1e-9 || ref.r[i] > to + 1e-9) continue;
    top = std::max(top, std::fabs(ref.g[i]));
  }
  for (std::size_t i = 0; i < ref.r.size(); ++i) {
    if (ref.r[i] < from - 1e-9 || ref.r[i] > to + 1e-9) continue;
    std::size_t k = 0;
    while (k < m.r.size() && std::fabs(m.r[k] - ref.r[i]) > 1e-6) ++k;
    EXPECT_LT(k, m.r.size()) << "no model point at r = " << ref.r[i];
    if (k == m.r.size()) return 1.0;
    worst = std::max(worst, std::fabs(m.g[k] - ref.g[i]));
  }
  return worst / top;
}

const NeutronTable& neutron_table() {
  static const NeutronTable t = *read_neutron_table(std::string(TALVO_TEST_DATA_DIR) + "neutron_sears92.tsv");
  return t;
}

TEST(PdfModelReference, ReproducesPdffitAndSrrealFiles) {
  struct Case {
    const char* name;
    const char* structure;
    const char* reference;
    ModelOptions options;
    double from, to;  // compared over this range of r
    double within;    // as a share of max |G_ref|
  };
  ModelOptions ni;  // PDFfit2: peaks over the grid's r, weights from Z, no termination
  ni.peak_norm = PeakNorm::kGridR, ni.xray_weights = XrayWeights::kElectrons, ni.rmin = 0, ni.rmax = 10;
  ModelOptions rutile = ni;
  rutile.rmin = 1, rutile.rmax = 30, rutile.qmax = 26, rutile.qdamp = 0.0665649, rutile.scale = 0.655857;
  rutile.delta2 = 2.309118, rutile.line_terminated = true;
  ModelOptions cdse_x;  // srreal: peaks over r_ij, Waasmaier-Kirfel f0(0), Biso 0.5
  cdse_x.rmin = 0.1, cdse_x.rmax = 20, cdse_x.rstep = 0.05, cdse_x.qmax = 40,
  cdse_x.uiso = 0.5 / (8 * std::numbers::pi * std::numbers::pi);
  ModelOptions cdse_n = cdse_x;
  cdse_n.radiation = ModelRadiation::kNeutron, cdse_n.rmax = 10, cdse_n.neutron_table = &neutron_table();
  cdse_n.lengths = {{"Cd", 4.83}, {"Se", 7.97}};  // srreal's own table
  // srreal's files agree within 0.4 % but in their last 2 Angstrom, where a
  // ripple of period 2 pi/Qmax grows towards the end of each file's range (to
  // 1.2 % for X-rays, 0.8 % for neutrons). It is the edge of the terminated
  // range, not the structure: the peaks are cut off 6 ripples past rmax, and
  // the cut rings back by about 1/(pi Qmax 6 ripples) of the local peaks
  // (here too: moving rmax by one 0.05 step moves G at the end by 1.9 %, and
  // with no termination at all it differs from the terminated G by 1 % there,
  // where exact termination would change it by 1e-4). Each program rings
  // its own way, so the last 2 Angstrom compare the programs' edges.
  const Case cases[] = {
      {"Ni", "Ni.stru", "Ni-fit.fgr", ni, 0.0, 10, 0.004},
      // PDFfit2's grid started at 0.99, whose edge rings in its first half Angstrom.
      {"rutile", "TiO2_rutile-fit.stru", "TiO2_rutile-fit.fgr", rutile, 1.6, 30, 0.004},
      {"CdSe X-ray", "CdSe_cadmoselite.cif", "CdSe_cadmoselite_X.fgr", cdse_x, 0.1, 18, 0.004},
      {"CdSe X-ray to its end", "CdSe_cadmoselite.cif", "CdSe_cadmoselite_X.fgr", cdse_x, 0.1, 20, 0.013},
      {"CdSe neutron", "CdSe_cadmoselite.cif", "CdSe_cadmoselite_N.fgr", cdse_n, 0.1, 8, 0.004},
      {"CdSe neutron to its end", "CdSe_cadmoselite.cif", "CdSe_cadmoselite_N.fgr", cdse_n, 0.1, 10, 0.008},
  };
  for (const Case& k : cases) {
    Result<StruFile> s = read_structure(data(k.structure));
    ASSERT_TRUE(s.ok()) << k.name << ": " << s.error().message;
    Result<ModelResult> m = pdf_model(s->structure, k.options);
    ASSERT_TRUE(m.ok()) << k.name << ": " << m.error().message;
    const double share = worst_share(*m, read_fgr(data(k.reference)), k.from, k.to);
    EXPECT_LT(share, k.within) << k.name;
    std::printf("%s: max |G - G_ref| = %.4f %% of max |G_ref|\n", k.name, 100 * share);
  }
}

// A box of thousands of atoms has its pairs binned by distance before their
// Gaussians: its G(r) and partials are the pair-by-pair sum's within the
// binning's bound ((b/sigma)^2/8 of a peak), with two elements of two U
// values, delta2 and sratio below rcut, and either peak division. One atom's U
// made anisotropic by 1e-13 A^2 (which moves G by far less) takes the
// pair-by-pair sum.
TEST(PdfModelBox, ALargeBoxBinnedIsThePairByPairSum) {
  std::ostringstream xyz;
  const int n = 8;
  const double a = 5.64;
  const double basis[8][3] = {{0, 0, 0},   {0.5, 0.5, 0}, {0.5, 0, 0.5}, {0, 0.5, 0.5},
                              {0.5, 0, 0}, {0, 0.5, 0},   {0, 0, 0.5},   {0.5, 0.5, 0.5}};
  xyz << 8 * n * n * n << "\nrock salt, shaken\n";
  unsigned long long state = 12345;
  const auto jitter = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5) * 0.2;
  };
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k)
        for (int q = 0; q < 8; ++q)
          xyz << (q < 4 ? "Na " : "Cl ") << (i + basis[q][0]) * a + jitter() << ' ' << (j + basis[q][1]) * a + jitter()
              << ' ' << (k + basis[q][2]) * a + jitter() << '\n';
  Result<Structure> box = read_xyz_text(xyz.str(), "nacl.xyz");
  ASSERT_TRUE(box.ok()) << box.error().message;
  for (Site& site : box->sites) {
    const double u = site.element == "Na" ? 0.010 : 0.006;
    site.u = Mat3{Vec3{u, 0, 0}, Vec3{0, u, 0}, Vec3{0, 0, u}};
  }
  Structure exact = *box;
  exact.sites[0].u[0][1] = exact.sites[0].u[1][0] = 1e-13;
  for (const PeakNorm norm : {PeakNorm::kPairDistance, PeakNorm::kGridR}) {
    ModelOptions o;
    o.rmin = 0, o.rmax = 8, o.rstep = 0.01, o.partials = true, o.delta2 = 0.5, o.rcut = 3.5, o.sratio = 0.7;
    o.peak_norm = norm;
    const Result<ModelResult> binned = pdf_model(*box, o), by_pair = pdf_model(exact, o);
    ASSERT_TRUE(binned.ok() && by_pair.ok());
    EXPECT_GT(binned->pair_bin, 0.0);
    EXPECT_EQ(by_pair->pair_bin, 0.0);
    EXPECT_EQ(binned->pairs, by_pair->pairs);
    double top = 0, worst = 0;
    for (std::size_t i = 0; i < by_pair->g.size(); ++i) {
      top = std::max(top, std::abs(by_pair->g[i]));
      worst = std::max(worst, std::abs(binned->g[i] - by_pair->g[i]));
    }
    EXPECT_GT(top, 1.0);
    EXPECT_LT(worst, 3e-6 * top) << peak_norm_name(norm);
    std::printf("binned box, peaks over %s: max |G - G_pairs| = %.2e of max |G|\n",
                std::string(peak_norm_name(norm)).c_str(), worst / top);
    ASSERT_EQ(binned->partials.size(), 3u);
    for (std::size_t p = 0; p < 3; ++p)
      for (std::size_t i = 0; i < by_pair->g.size(); ++i)
        ASSERT_NEAR(binned->partials[p].g[i], by_pair->partials[p].g[i], 3e-6 * top) << binned->partials[p].pair;
  }
}

// Two atoms d apart in a box: G = (1/N) 2 w T(r) / d with N = 2, so the
// peak's area times d is 1 whatever the width; its second moment is
// U_xx(1) + U_xx(2) along the pair's direction, sharpened by delta2.
TEST(PdfModelBox, APairsPeakHasItsAreaAndWidth) {
  struct Case {
    const char* name;
    double u1_xx, u2_xx, delta2, sratio, rcut;
    double sigma2;  // the expected variance, by hand
  };
  const double d = 2.5;
  const Case cases[] = {
      {"isotropic", 0.004, 0.004, 0, 1, 0, 0.008},
      {"along the pair only", 0.010, 0.002, 0, 1, 0, 0.012},
      {"delta2", 0.004, 0.004, 1.25, 1, 0, 0.008 * (1 - 1.25 / (d * d))},
      {"sratio below rcut", 0.004, 0.004, 0, 0.5, 3, 0.008 * 0.25},
  };
  for (const Case& k : cases) {
    Result<Structure> box = read_xyz_text("2\npair\nNi 0 0 0\nNi 2.5 0 0\n", "pair.xyz");
    ASSERT_TRUE(box.ok());
    // Off-axis components that must not matter: U_yy, U_zz across the pair.
    box->sites[0].u = Mat3{Vec3{k.u1_xx, 0, 0}, Vec3{0, 0.03, 0}, Vec3{0, 0, 0.02}};
    box->sites[1].u = Mat3{Vec3{k.u2_xx, 0, 0}, Vec3{0, 0.01, 0}, Vec3{0, 0, 0.05}};
    ModelOptions o;
    o.rmin = 0, o.rmax = 5, o.rstep = 0.001, o.delta2 = k.delta2, o.sratio = k.sratio, o.rcut = k.rcut;
    o.partials = true;
    Result<ModelResult> m = pdf_model(*box, o);
    ASSERT_TRUE(m.ok()) << m.error().message;
    EXPECT_EQ(m->rho0, 0.0);
    double area = 0, mean = 0, second = 0;
    for (std::size_t i = 0; i < m->r.size(); ++i) {
      const double w = m->g[i] * d * o.rstep;
      area += w, mean += w * m->r[i], second += w * m->r[i] * m->r[i];
    }
    mean /= area;
    EXPECT_NEAR(area, 1.0, 1e-5) << k.name;
    EXPECT_NEAR(mean, d, 1e-6) << k.name;
    EXPECT_NEAR(second / area - mean * mean, k.sigma2, 1e-4 * k.sigma2) << k.name;
    ASSERT_EQ(m->partials.size(), 1u);
    EXPECT_EQ(m->partials[0].pair, "Ni-Ni");
  }
}

// Rock salt: the partials carry their share of the line and sum to G; the
// unlike pair's weight is 2 c_a f_a c_b f_b / <f>^2 with f = Z - charge.
TEST(PdfModelCrystal, PartialsSumToTheTotalAndCarryTheirWeights) {
  const char* cif = R"(data_nacl
_cell_length_a 5.64 _cell_length_b 5.64 _cell_length_c 5.64
_cell_angle_alpha 90 _cell_angle_beta 90 _cell_angle_gamma 90
loop_ _atom_site_label _atom_site_type_symbol _atom_site_fract_x _atom_site_fract_y _atom_site_fract_z
_atom_site_U_iso_or_equiv
Na1 Na+ 0 0 0 0.01
Na2 Na+ 0 0.5 0.5 0.01
Na3 Na+ 0.5 0 0.5 0.01
Na4 Na+ 0.5 0.5 0 0.01
Cl1 Cl- 0.5 0 0 0.01
Cl2 Cl- 0 0.5 0 0.01
Cl3 Cl- 0 0 0.5 0.01
Cl4 Cl- 0.5 0.5 0.5 0.01
)";
  Result<Structure> s = read_cif_text(cif, "nacl");
  ASSERT_TRUE(s.ok()) << s.error().message;
  ModelOptions o;
  o.rmax = 12, o.rstep = 0.02, o.qmax = 25, o.qdamp = 0.02, o.partials = true;
  o.xray_weights = XrayWeights::kElectrons;
  Result<ModelResult> m = pdf_model(*s, o);
  ASSERT_TRUE(m.ok()) << m.error().message;
  ASSERT_EQ(m->partials.size(), 3u);
  // Na+ has 10 electrons, Cl- 18: <f> = 14.
  EXPECT_EQ(m->partials[1].pair, "Na-Cl");
  EXPECT_NEAR(m->partials[0].weight, 0.25 * 100 / 196, 1e-12);
  EXPECT_NEAR(m->partials[1].weight, 2 * 0.25 * 180 / 196, 1e-12);
  EXPECT_NEAR(m->rho0, 8 / (5.64 * 5.64 * 5.64), 1e-12);
  double worst = 0;
  for (std::size_t i = 0; i < m->r.size(); ++i)
    worst = std::max(worst, std::fabs(m->partials[0].g[i] + m->partials[1].g[i] + m->partials[2].g[i] - m->g[i]));
  EXPECT_LT(worst, 1e-9);
  // The first Na-Cl shell, 6 neighbours at a/2 = 2.82 of each atom, width
  // sqrt(2 U): its top, by hand, less the partial's line. Na-Na has none there.
  std::size_t at = static_cast<std::size_t>(2.82 / 0.02);
  const double damp = std::exp(-0.5 * std::pow(0.02 * 2.82, 2));
  const double top = 6 * (10.0 * 18 / 196) / (std::sqrt(2 * std::numbers::pi) * std::sqrt(0.02) * 2.82) * damp -
                     4 * std::numbers::pi * m->rho0 * 2.82 * m->partials[1].weight * damp;
  EXPECT_NEAR(m->partials[1].g[at], top, 0.01 * top);
  EXPECT_LT(std::fabs(m->partials[0].g[at] + 4 * std::numbers::pi * m->rho0 * 2.82 * m->partials[0].weight *
                                                 std::exp(-0.5 * std::pow(0.02 * 2.82, 2))),
            0.05);
}

TEST(PdfModelCrystal, ParticleEnvelopeEndsAtItsDiameter) {
  Result<StruFile> ni = read_structure(data("Ni.stru"));
  ASSERT_TRUE(ni.ok());
  ModelOptions o;
  o.rmax = 20, o.rstep = 0.05, o.spdiameter = 12;
  Result<ModelResult> crystal = pdf_model(ni->structure, [] {
    ModelOptions c;
    c.rmax = 20;
    c.rstep = 0.05;
    return c;
  }());
  Result<ModelResult> particle = pdf_model(ni->structure, o);
  ASSERT_TRUE(crystal.ok() && particle.ok());
  for (std::size_t i = 0; i < particle->r.size(); ++i) {
    const double x = particle->r[i] / 12;
    const double gamma = x < 1 ? 1 - 1.5 * x + 0.5 * x * x * x : 0;
    EXPECT_NEAR(particle->g[i], gamma * crystal->g[i], 1e-9) << particle->r[i];
  }
}

TEST(PdfModelErrors, RefusesWhatItCannotCompute) {
  Result<StruFile> ni = read_structure(data("Ni.cif"));  // no displacements
  ASSERT_TRUE(ni.ok());
  struct Case {
    const char* name;
    ModelOptions options;
    const char* says;
  };
  const Case cases[] = {
      {"no U", ModelOptions{}, "give uiso"},
      {"qmin above qmax",
       [] {
         ModelOptions c;
         c.qmax = 20;
         c.qmin = 25;
         c.uiso = 0.005;
         return c;
       }(),
       "qmin"},
      {"grid",
       [] {
         ModelOptions c;
         c.rmin = 5;
         c.rmax = 1;
         c.uiso = 0.005;
         return c;
       }(),
       "rmax"},
      {"step",
       [] {
         ModelOptions c;
         c.rstep = 0;
         c.uiso = 0.005;
         return c;
       }(),
       "rstep"},
      {"neutron without a table",
       [] {
         ModelOptions c;
         c.radiation = ModelRadiation::kNeutron;
         c.uiso = 0.005;
         return c;
       }(),
       "table"},
  };
  for (const Case& k : cases) {
    Result<ModelResult> m = pdf_model(ni->structure, k.options);
    ASSERT_FALSE(m.ok()) << k.name;
    EXPECT_NE(m.error().message.find(k.says), std::string::npos) << k.name << ": " << m.error().message;
  }
  Result<Structure> box = read_xyz_text("1\none\nNi 0 0 0\n", "x");
  ASSERT_TRUE(box.ok());
  EXPECT_EQ(pdf_model(*box,
                      [] {
                        ModelOptions c;
                        c.spdiameter = 10;
                        c.uiso = 0.005;
                        return c;
                      }())
                .kind(),
            ErrorKind::kInvalidArgument);
}

}  // namespace
}  // namespace talvo
