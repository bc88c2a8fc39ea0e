// Coherent and incoherent scattering of elements given as mixtures of
// isotopes, checked against values worked out by hand from the published
// lengths and cross-sections (Sears 1992): the coherent cross-section of an
// element is that of its mean length, 4 pi bbar^2 / 100.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "app/averages.hpp"
#include "app/driver.hpp"
#include "tests/support/temp_dir.hpp"

namespace talvo {
namespace {

struct MixedIsotope {
  int a;
  float y;
  IsotopeData d;
};

Results one_element(const std::string& symbol, float x, const std::vector<MixedIsotope>& isotopes) {
  Composition c;
  c.kind = kIsotopes;
  Element e{symbol, x, {}};
  std::vector<IsotopeData> data;
  for (const MixedIsotope& i : isotopes) {
    e.isotopes.push_back({i.a, i.y});
    data.push_back(i.d);
  }
  c.elements.push_back(e);
  return compute_averages(c, {data});
}

TEST(IsotopeMixtures, CoherentScatteringComesFromTheMeanLength) {
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

TEST(IsotopeMixtures, ASingleIsotopeIsUnchanged) {
  // y = 1: x 0.12566371 b^2 in the order the averages have always used.
  const Results r = one_element("Fe", 2.0f, {{56, 1.0f, {9.94f, 55.93494f, 12.42f, 2.59f}}});
  EXPECT_EQ(r.unit.sig_coh, 2.0f * 0.12566371f * (9.94f * 9.94f));
}

std::string run(const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out;
  Console con{in, out};
  EXPECT_EQ(run_talvo(con, setg_f(TALVO_TEST_DATA_DIR)), 0) << out.str();
  return out.str();
}

// The results block from the scattering lengths of the elements onwards.
std::string results_from_lengths(const std::string& screen) {
  const auto from = screen.find(" Bound coherent scattering lengths of elements...");
  const auto to = screen.find(" Output is written to file", from);
  return from == std::string::npos ? std::string() : screen.substr(from, to - from);
}

TEST(IsotopeMixtures, NaturalElementsAsIsotopeZeroGiveTheNaturalResults) {
  const talvo::test_support::TempDir dir;
  const std::string natural = run("1\n\n3\nFe 2\nO 3\nCd 0.5\n5.2\n" + dir.file("natural") + "\n");
  const std::string as_isotopes =
      run("2\n\n3\nFe 1 2\nO 1 3\nCd 1 0.5\n0 1\n0 1\n0 1\n5.2\n" + dir.file("isotopes") + "\n");
  ASSERT_FALSE(results_from_lengths(natural).empty());
  EXPECT_EQ(results_from_lengths(natural), results_from_lengths(as_isotopes));
}

TEST(IsotopeMixtures, XenonHasNoNegativeIncoherentScattering) {
  const talvo::test_support::TempDir dir;
  const std::string screen = run("1\n\n1\nXe 1\n0\n" + dir.file("xe") + "\n");
  EXPECT_NE(screen.find(" Bound incoherent cross-section           =  0.0000000E+00"), std::string::npos) << screen;
  EXPECT_NE(screen.find(" Bound scattering cross-section           =  0.2960000E+01"), std::string::npos);
  EXPECT_EQ(screen.find("incoherent cross-section           = -"), std::string::npos);
}

}  // namespace
}  // namespace talvo
