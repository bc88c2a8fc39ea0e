#include "talvo/classic/density.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace talvo::classic {
namespace {

TEST(ConvertDensity, WaterBothWaysAndSymbols) {
  std::vector<std::string> sym = {"H ", "O "};
  const std::vector<double> amounts = {2.0, 1.0};
  double out = 0;
  std::ostringstream screen;
  ASSERT_TRUE(convert_density(1.0, out, sym, amounts, 0, screen).ok());
  const double abar = (2 * static_cast<double>(1.0079f) + static_cast<double>(15.9994f)) / 3;
  EXPECT_NEAR(out, 1.0 / (1.6605387926101685 * abar), 1e-15);
  EXPECT_NEAR(out, 0.100284, 5e-7);
  double back = 0;
  ASSERT_TRUE(convert_density(-0.100284, back, sym, amounts, 0, screen).ok());
  EXPECT_NEAR(back, 1.0, 5e-6);

  std::vector<std::string> mixed = {"fe", "D\t"};
  ASSERT_TRUE(convert_density(7.874, out, mixed, std::vector<double>{1.0, 1.0}, 0, screen).ok());
  EXPECT_EQ(mixed[1], "D ");  // the TAB is replaced in the caller's symbol
  EXPECT_NEAR(out, 7.874 / (1.6605387926101685 * (static_cast<double>(55.847f) + 2.016f) / 2), 1e-12);

  out = -5;
  Status zero = convert_density(0.0, out, sym, amounts, 0, screen);
  EXPECT_EQ(zero.ierr, 1);
  EXPECT_EQ(zero.message, "Error: density=zero");
  EXPECT_EQ(out, -5);

  std::vector<std::string> unknown = {"H ", "Qq"};
  std::ostringstream printed;
  Status st = convert_density(1.0, out, unknown, amounts, 1, printed);
  EXPECT_EQ(st.ierr, 1);
  EXPECT_EQ(st.message, "ele2z: Unrecognised element symbol: Qq");
  EXPECT_EQ(printed.str(), " ele2Z: H\n ele2Z: Z = 1\n ele2Z: A =  0.1007899999619E+01\n");
  EXPECT_EQ(out, -5);
}

}  // namespace
}  // namespace talvo::classic
