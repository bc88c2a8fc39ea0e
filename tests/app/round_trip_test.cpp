// A typed composition saved as a .sample file and read back with option -1
// gives the same results: per-atom values stay, per-unit values scale with
// the number of atoms the typed unit had (the amounts are read back as
// fractions). Single-precision sums in another order may move the last digit.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "app/driver.hpp"
#include "tests/support/temp_dir.hpp"

namespace talvo {
namespace {

namespace fs = std::filesystem;

std::string run(const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out;
  Console con{in, out};
  EXPECT_EQ(run_talvo(con, DataFolder::named(TALVO_TEST_DATA_DIR)), 0) << out.str();
  return out.str();
}

// label -> value of the "label = value" lines of one block of the results.
std::map<std::string, double> block(const std::string& screen, const std::string& from, const std::string& to) {
  std::map<std::string, double> values;
  const auto start = screen.find(from);
  const auto end = screen.find(to, start);
  std::istringstream lines(screen.substr(start, end - start));
  for (std::string l; std::getline(lines, l);)
    if (l.size() == 58 && l[42] == '=') values[l.substr(0, 42)] = std::stod(l.substr(44));
  return values;
}

// Within two units of the seventh figure of `scale` (the value itself, or for
// a difference such as the incoherent cross-section, what it was taken from).
void expect_close(double a, double b, const std::string& what, double scale = 0) {
  if (scale == 0) scale = b;
  const double unit = scale == 0 ? 1e-30 : std::pow(10.0, std::floor(std::log10(std::fabs(scale))) - 6);
  EXPECT_LE(std::fabs(a - b), 2.5 * unit) << what << ": " << a << " vs " << b;
}

TEST(SampleRoundTrip, ReadBackGivesTheSameResults) {
  const fs::path dir = talvo::test_support::scratch_dir() / "talvo_round_trip";
  fs::create_directories(dir);
  const std::string name = (dir / "s").string();
  struct Case {
    std::string typed;
    double atoms;
  } cases[] = {
      {"1\n\n2\nH 2\nO 1\n1.0\n", 3.0},
      {"2\n\n2\nH 1 2\nO 1 1\n2 1\n0 1\n-0.1\n", 3.0},
      {"2\n\n3\nLi 2 0.5\nO 1 1\nH 1 2\n6 0.95\n7 0.05\n0 1\n1 1\n2.013\n", 3.5},
      {"1\n\n3\nSi 1\nO 2.25\nNa 0.125\n0\n", 3.375},
  };
  for (const Case& c : cases) {
    const std::string typed = run(c.typed + name + "\n");
    const std::string again = run("-1\n" + name + "\n\n" + name + "_again\n");
    const auto atom_typed = block(typed, "AVERAGE VALUES PER ATOM", "The total correlation");
    const auto atom_again = block(again, "AVERAGE VALUES PER ATOM", "The total correlation");
    ASSERT_EQ(atom_typed.size(), atom_again.size());
    for (const auto& [label, v] : atom_typed) {
      double scale = 0;  // S_inc = S_b - S_coh: judged on the scale of S_b
      if (label.find("incoherent cross-section/4pi") != std::string::npos)
        scale = atom_typed.at(" Bound scattering cross-section/4pi       ");
      else if (label.find("incoherent cross-section") != std::string::npos)
        scale = atom_typed.at(" Bound scattering cross-section           ");
      expect_close(atom_again.at(label), v, label, scale);
    }
    const auto unit_typed = block(typed, "VALUES PER SCATTERING UNIT", "The total correlation");
    const auto unit_again = block(again, "VALUES PER SCATTERING UNIT", "The total correlation");
    for (const char* label : {" Atomic weight", " Bound coherent cross-section", " Bound scattering cross-section"}) {
      const std::string key = std::string(label) + std::string(42 - std::string(label).size(), ' ');
      expect_close(unit_again.at(key) * c.atoms, unit_typed.at(key), key);
    }
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace talvo
