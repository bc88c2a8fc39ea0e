// Grids FROM:TO:STEP: the count, the end rule and the points as written.
#include "talvo/text/grid.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

#include "talvo/text/free_format.hpp"

namespace talvo {
namespace {

std::vector<double> points(double from, double to, double step) {
  return grid_points(from, to, step, static_cast<std::size_t>(grid_count(from, to, step)) + 1);
}

// The grid of the texts as the command line reads them.
std::vector<double> points_of(const char* from, const char* to, const char* step) {
  const std::optional<double> f = parse_real(from), t = parse_real(to), s = parse_real(step);
  EXPECT_TRUE(f && t && s) << from << ":" << to << ":" << step;
  return f && t && s ? points(*f, *t, *s) : std::vector<double>{};
}

TEST(Grid, PointsAreTheDecimalsAsWritten) {
  // 0.05 + 6 * 0.37 in doubles is 2.2699999999999996: the grid gives 2.27.
  ASSERT_NE(0.05 + 6 * 0.37, 2.27);
  EXPECT_EQ(points_of("0.05", "3", "0.37"), (std::vector<double>{0.05, 0.42, 0.79, 1.16, 1.53, 1.9, 2.27, 2.64}));
  // TO is a point when it falls on the grid; 0.1 * 3 in doubles lies above 0.3.
  EXPECT_EQ(points_of("0", "0.3", "0.1"), (std::vector<double>{0, 0.1, 0.2, 0.3}));
  EXPECT_EQ(points_of("-1", "1", "0.25"), (std::vector<double>{-1, -0.75, -0.5, -0.25, 0, 0.25, 0.5, 0.75, 1}));
  // Exponents, as the command line and the page accept them.
  EXPECT_EQ(points_of("0", "1e-4", "2e-5"), (std::vector<double>{0, 2e-5, 4e-5, 6e-5, 8e-5, 1e-4}));
  EXPECT_EQ(points_of("1e2", "150", "2.5E+1"), (std::vector<double>{100, 125, 150}));
  EXPECT_EQ(points_of("+1.5", "2.5", "5e-1"), (std::vector<double>{1.5, 2, 2.5}));
  // Fortran's exponents, which the number reader takes: the same points as 0.05:3:0.37.
  for (const auto& [from_text, step_text] : {std::pair{"0.05d0", "0.37D0"}, std::pair{"5q-2", "37Q-2"},
                                             std::pair{"5-2", "3.7-1"}, std::pair{"0.5-1", "0.037+1"}})
    EXPECT_EQ(points_of(from_text, "3", step_text),
              (std::vector<double>{0.05, 0.42, 0.79, 1.16, 1.53, 1.9, 2.27, 2.64}))
        << from_text << " " << step_text;
}

TEST(Grid, OtherwiseFromPlusIStep) {
  const auto sum = [](double from, double step, std::size_t n) {
    std::vector<double> v;
    for (std::size_t i = 0; i < n; ++i) v.push_back(from + static_cast<double>(i) * step);
    return v;
  };
  // A value whose shortest decimal has 17 digits (0.1 + 0.2, whose units
  // would reach 2^53); units of 10^-23; sums past 2^53 units.
  EXPECT_EQ(points(0.1 + 0.2, 1, 0.37), sum(0.1 + 0.2, 0.37, 2));
  EXPECT_EQ(points(0.05, 1, 0.1 + 0.2), sum(0.05, 0.1 + 0.2, 4));
  EXPECT_EQ(points(0, 1e-22, 1e-23), sum(0, 1e-23, 11));
  EXPECT_EQ(points(1e15, 1e15 + 0.5, 0.1), sum(1e15, 0.1, 6));
}

TEST(Grid, CountsAndLimits) {
  EXPECT_EQ(grid_count(0, 1, 0.1), 11);
  EXPECT_EQ(grid_count(0, 0.999, 0.1), 10);
  EXPECT_EQ(grid_count(0, 0.99995, 0.1), 11);  // within STEP/1000 of a point
  EXPECT_EQ(grid_count(1, 0, 0.1), 0);
  EXPECT_EQ(grid_points(0, 10, 1, 4), (std::vector<double>{0, 1, 2, 3}));
  EXPECT_TRUE(grid_points(0, 10, 0, 100).empty());
  EXPECT_TRUE(grid_points(0, 10, -1, 100).empty());
  EXPECT_TRUE(grid_points(0, 1, 0.1, 0).empty());
}

TEST(Grid, IncreasingUnlessStepBelowTheSpacingOfDoubles) {
  struct Case {
    const char *from, *to, *step;
    bool increasing;
  };
  // Doubles near 1e16 are 2 apart, near 6e14 0.125 apart, near 1 about 2.2e-16.
  for (const Case& c :
       {Case{"0.05", "3", "0.37", true}, Case{"0", "1e-320", "1e-322", true},
        Case{"1e16", "1.000000000000001e16", "1", false}, Case{"600000000000000", "600000000000001", "0.1", false},
        Case{"1", "1.000000000000001", "1e-20", false}})
    EXPECT_EQ(grid_increasing(points_of(c.from, c.to, c.step)), c.increasing) << c.from << ":" << c.to << ":" << c.step;
  EXPECT_TRUE(grid_increasing(std::vector<double>{}));
  EXPECT_FALSE(grid_increasing(std::vector<double>{1, 2, 2}));
}

}  // namespace
}  // namespace talvo
