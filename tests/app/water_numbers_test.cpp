// The water results checked against values worked out independently, in
// double precision, from the published Sears (1992) data.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "app/driver.hpp"
#include "tests/support/temp_dir.hpp"

namespace talvo {
namespace {

// The number printed after `label` (the first time it appears at or after `from`).
double printed(const std::string& screen, const std::string& label, std::size_t from = 0) {
  const auto at = screen.find(label, from);
  if (at == std::string::npos) ADD_FAILURE() << "missing: " << label;
  return at == std::string::npos ? NAN : std::stod(screen.substr(at + label.size(), 14));
}

// Equal to seven significant figures, one unit in the last place allowed.
void expect_7_figures(double shown, double expected, const std::string& what) {
  const double unit = std::pow(10.0, std::floor(std::log10(std::fabs(expected))) - 6);
  EXPECT_LE(std::fabs(shown - expected), 1.0 * unit + 1e-12) << what << ": " << shown << " vs " << expected;
}

TEST(WaterNumbers, MatchAnIndependentCalculation) {
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

  const auto dir = talvo::test_support::scratch_dir() / "talvo_water_numbers";
  std::filesystem::create_directories(dir);
  std::istringstream in("1\n\n2\nH 2\nO 1\n1.0\n" + (dir / "water").string() + "\n");
  std::ostringstream out;
  Console con{in, out};
  ASSERT_EQ(run_talvo(con, setg_f(TALVO_TEST_DATA_DIR)), 0) << out.str();
  const std::string s = out.str();
  const auto per_atom = s.find("AVERAGE VALUES PER ATOM");
  const auto fz = s.find("Faber-Ziman");

  expect_7_figures(printed(s, " Number of atoms in scattering unit  = "), n, "N");
  expect_7_figures(printed(s, " Atomic weight                            = "), m, "M");
  expect_7_figures(printed(s, " Bound coherent scattering length         = ", per_atom), bmean, "<b>");
  expect_7_figures(printed(s, " Bound coherent cross-section             = "), scoh, "S_coh");
  expect_7_figures(printed(s, " Bound incoherent cross-section           = "), sinc, "S_inc");
  expect_7_figures(printed(s, " Absorption cross-section at 1.8 Angstrom = "), sabs18, "S_abs18");
  expect_7_figures(printed(s, " Density in atoms per cubic Angstrom = "), na, "n_a");
  expect_7_figures(printed(s, " Linear absorption coefficient at 1.8A    = "), mu, "mu");
  expect_7_figures(printed(s, " Mean free (absorption) path (cm) at 1.8A = "), 1 / mu, "mean free path");
  expect_7_figures(printed(s, " H-H   :", fz), ch * ch * bh * bh / (bmean * bmean), "FZ H-H");
  expect_7_figures(printed(s, " O-O   :", fz), co * co * bo * bo / (bmean * bmean), "FZ O-O");
  expect_7_figures(printed(s, " H-O   :", fz), 2 * ch * bh * co * bo / (bmean * bmean), "FZ H-O");
  expect_7_figures(printed(s, " / ", s.find(" H-H   :", fz)), ch * ch * bh * bh * 0.01, "FZ H-H barns");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace talvo
