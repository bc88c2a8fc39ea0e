// The single-precision averages of the report, called directly on the
// shipped data and checked against values worked out independently, in
// double precision, from the published Sears (1992) lengths and cross-sections.
#include "talvo/classic/averages.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "talvo/classic/report.hpp"

namespace talvo::classic {
namespace {

const std::string kData = TALVO_TEST_DATA_DIR;

// Equal to seven significant figures, one unit in the last place allowed.
void expect_7_figures(double got, double expected, const std::string& what) {
  const double unit = std::pow(10.0, std::floor(std::log10(std::fabs(expected))) - 6);
  EXPECT_LE(std::fabs(got - expected), 1.0 * unit + 1e-12) << what << ": " << got << " vs " << expected;
}

Composition natural(std::vector<std::pair<std::string, double>> elements, double density) {
  Composition c;
  for (auto& [symbol, x] : elements) c.elements.push_back({symbol, x, {{0, 1.0}}});
  c.density = density;
  return c;
}

// The averages of a composition matched against a shipped table.
Results compute(const Composition& c, const std::string& file) {
  NuclearTable t;
  const Status read =
      c.kind == SampleKind::kNaturalElements ? read_natural_file(kData + file, t) : read_isotope_file(kData + file, t);
  EXPECT_TRUE(read.ok()) << read.message;
  if (c.kind == SampleKind::kIsotopes) {
    std::vector<AtomicWeight> w;
    EXPECT_TRUE(read_atomic_weights(kData + "at_weights.dat", w).ok());
    EXPECT_TRUE(attach_masses(t, w).empty());
  }
  std::vector<std::vector<const NuclearEntry*>> matched;
  const Status found = match_composition(c, t, matched);
  EXPECT_TRUE(found.ok()) << found.message;
  return compute_averages(c, matched);
}

TEST(Averages, WaterMatchesAnIndependentCalculation) {
  const double bh = -3.739, sh = 82.02, ah = 0.3326, mh = 1.00797;
  const double bo = 5.803, so = 4.232, ao = 0.00019, mo = 15.9994;
  const double n = 3, m = 2 * mh + mo, b = 2 * bh + bo;
  const double scoh = 4 * M_PI / 100 * (2 * bh * bh + bo * bo);
  const double sinc = 2 * sh + so - scoh;
  const double sabs18 = 1.8 * 0.5562009 * (2 * ah + ao);
  const double na = n * 1.0 / (1.6605655 * m);
  const double mu = na * sabs18 / n;
  const double bmean = b / n;
  const double ch = 2 / n, co = 1 / n;

  const Results r = compute(natural({{"H", 2}, {"O", 1}}, 1.0), "sears91.dat");
  expect_7_figures(r.atoms, n, "N");
  expect_7_figures(r.unit.atomic_weight, m, "M");
  expect_7_figures(r.atom.b_bound, bmean, "<b>");
  expect_7_figures(r.unit.sig_coh, scoh, "S_coh");
  expect_7_figures(r.unit.sig_inc, sinc, "S_inc");
  expect_7_figures(r.unit.sig_abs18, sabs18, "S_abs18");
  expect_7_figures(r.atoms_per_a3, na, "n_a");
  expect_7_figures(r.mu, mu, "mu");
  expect_7_figures(r.mean_free_path, 1 / mu, "mean free path");
  ASSERT_EQ(r.fz.size(), 3u);
  expect_7_figures(r.fz[0].value, ch * ch * bh * bh / (bmean * bmean), "FZ H-H");
  expect_7_figures(r.fz[1].value, co * co * bo * bo / (bmean * bmean), "FZ O-O");
  expect_7_figures(r.fz[2].value, 2 * ch * bh * co * bo / (bmean * bmean), "FZ H-O");
  expect_7_figures(r.fz[0].reverse, ch * ch * bh * bh * 0.01, "FZ H-H barns");
  // The T(r) coefficient of H-O, x_H 0.02 b_H b_O, and the same stated for O-H (times x_O / x_H).
  expect_7_figures(r.tr_unit[2].value, 2 * 0.02 * bh * bo, "t H-O");
  expect_7_figures(r.tr_unit[2].reverse, 0.02 * bh * bo, "t O-H");
}

TEST(Averages, DensityGivenAsAtomsPerCubicAngstrom) {
  const Results r = compute(natural({{"H", 2}, {"O", 1}}, -0.1), "sears91.dat");
  EXPECT_FLOAT_EQ(r.atoms_per_a3, 0.1f);
  EXPECT_FLOAT_EQ(r.units_per_a3, 0.1f / 3.0f);
  const Results unknown = compute(natural({{"H", 2}, {"O", 1}}, 0.0), "sears91.dat");
  EXPECT_FALSE(unknown.density_known);
  EXPECT_FALSE(unknown.t0_atom_with_density);
  EXPECT_EQ(unknown.t0_unit, 0.12566371f * (unknown.unit.b_bound * unknown.unit.b_bound));
}

struct MixedIsotope {
  int a;
  float y;
  IsotopeData d;
};

Results one_element(const std::string& symbol, float x, const std::vector<MixedIsotope>& isotopes) {
  Composition c;
  c.kind = SampleKind::kIsotopes;
  Element e{symbol, x, {}};
  std::vector<IsotopeData> data;
  for (const MixedIsotope& i : isotopes) {
    e.isotopes.push_back({i.a, i.y});
    data.push_back(i.d);
  }
  c.elements.push_back(e);
  return compute_averages(c, std::vector<std::vector<IsotopeData>>{data});
}

// The coherent cross-section of an element is that of its mean length,
// 4 pi bbar^2 / 100; the rest of its bound scattering is incoherent.
TEST(Averages, IsotopeMixturesScatterCoherentlyByTheirMeanLength) {
  const IsotopeData h1{-3.7406f, 1.007825f, 82.03f, 0.3326f}, h2{6.671f, 2.014102f, 7.64f, 0.000519f};
  const IsotopeData ni58{14.4f, 57.93535f, 26.1f, 4.6f}, ni62{-8.7f, 61.92835f, 9.5f, 14.5f};
  const IsotopeData li6{2.0f, 6.015122f, 0.97f, 940.0f}, li7{-2.22f, 7.016004f, 1.4f, 0.0454f};
  const struct {
    const char* what;
    Results r;
    double coherent, scattering;  // per atom, barn, by hand
  } cases[] = {
      // bbar = (-3.7406 + 6.671) / 2 = 1.4652 fm: 0.12566371 * 1.4652^2 = 0.26978 b.
      {"50 % H + 50 % D", one_element("H", 2.0f, {{1, 0.5f, h1}, {2, 0.5f, h2}}), 0.269779, 44.835},
      // 0.3766 * 14.4 - 0.6234 * 8.7 = -0.00054 fm: no coherent scattering to speak of.
      {"58Ni/62Ni null mixture", one_element("Ni", 1.0f, {{58, 0.3766f, ni58}, {62, 0.6234f, ni62}}), 3.66e-8,
       15.75156},
      // bbar = 0.95 * 2 - 0.05 * 2.22 = 1.789 fm.
      {"95 % 6Li", one_element("Li", 1.0f, {{6, 0.95f, li6}, {7, 0.05f, li7}}), 0.402188, 0.9915},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(c.r.atom.sig_coh, c.coherent, 2e-6 * c.scattering) << c.what;
    EXPECT_NEAR(c.r.atom.sig_bound, c.scattering, 2e-6 * c.scattering) << c.what;
    EXPECT_NEAR(c.r.atom.sig_inc, c.scattering - c.coherent, 4e-6 * c.scattering) << c.what;
    // The Faber-Ziman weight uses the same mean length.
    EXPECT_NEAR(c.r.fz[0].reverse, 0.01 * c.coherent / 0.12566371, 1e-6) << c.what;
  }
}

TEST(Averages, ASingleIsotopeKeepsItsValue) {
  // y = 1: x 0.12566371 b^2 in the order the averages have always used.
  const Results r = one_element("Fe", 2.0f, {{56, 1.0f, {9.94f, 55.93494f, 12.42f, 2.59f}}});
  EXPECT_EQ(r.unit.sig_coh, 2.0f * 0.12566371f * (9.94f * 9.94f));
}

TEST(Averages, NaturalElementsAsIsotopeZeroGiveTheNaturalResults) {
  const Composition c = natural({{"Fe", 2}, {"O ", 3}, {"Cd", 0.5}}, 5.2);
  Composition as_isotopes = c;
  as_isotopes.kind = SampleKind::kIsotopes;
  const Results a = compute(c, "sears91.dat");
  const Results b = compute(as_isotopes, "sears.ascii");
  // The whole results block but for the isotope lines an isotope sample adds.
  const std::string block_a = results_lines(c, a).text;
  std::string block_b = results_lines(as_isotopes, b).text;
  block_b.erase(0, block_b.find(" Bound coherent scattering lengths"));
  EXPECT_EQ(block_a.substr(block_a.find(" Bound coherent scattering lengths")), block_b);
}

// A block handed on in pieces as it is built (as a run writes it) is the
// block built whole, line for line; 100 elements make some 740 KB of it.
TEST(Averages, TheBlockInPiecesIsTheWholeBlock) {
  const char* symbols[] = {"H", "Li", "B", "C", "N", "O", "Si", "Fe", "Ni", "Cu"};
  for (const int n : {1, 7, 100}) {
    std::vector<std::pair<std::string, double>> elements;
    for (int i = 0; i < n; ++i) elements.emplace_back(symbols[i % 10], 1.0 + 0.25 * i);
    const Composition c = natural(elements, 1.5);
    const Results r = compute(c, "sears91.dat");
    struct Pieces {
      std::string text;
      std::size_t count = 0;
      bool whole_lines = true;
    } pieces;
    TextLines out;
    out.context = &pieces;
    out.sink = [](void* context, std::string_view piece) {
      auto& p = *static_cast<Pieces*>(context);
      p.text += piece;
      ++p.count;
      p.whole_lines = p.whole_lines && !piece.empty() && piece.back() == '\n';
      EXPECT_LE(piece.size(), 3 * TextLines::kPiece);
    };
    results_lines(c, r, out);
    out.finish();
    EXPECT_TRUE(out.text.empty());
    EXPECT_TRUE(pieces.whole_lines);
    EXPECT_EQ(pieces.text, results_lines(c, r).text) << n << " elements";
    if (n == 100) {
      EXPECT_GT(pieces.count, 4u);  // never held whole
    }
  }
}

TEST(Averages, NoNegativeIncoherentCrossSection) {
  // Xe: the published total (2.96 b) is below 4 pi b^2 / 100 (3.04 b) by rounding.
  const Results xe = compute(natural({{"Xe", 1}}, 0.0), "sears91.dat");
  EXPECT_EQ(xe.unit.sig_inc, 0.0f);
  EXPECT_EQ(xe.atom.sig_inc_4pi, 0.0f);
  EXPECT_FLOAT_EQ(xe.unit.sig_bound, 2.96f);
  EXPECT_FLOAT_EQ(xe.unit.sig_coh, 0.12566371f * 4.92f * 4.92f);
}

}  // namespace
}  // namespace talvo::classic
