// Output files: their header reads back as the parameters written, numbers
// read back to the same doubles.
#include "talvo/pdf/pdf_files.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <span>
#include <sstream>
#include <utility>
#include <vector>

#include "talvo/text/format.hpp"

namespace talvo::pdf {
namespace {

TEST(PdfFiles, HeaderReadsBackAsWritten) {
  const Parameters p = {{"input", "data/CeO2 run.xy"},
                        {"composition", "Fe{3+}2O{2-}3"},
                        {"r", "0:30:0.01"},
                        {"qmax", "16.564974290202816"}};
  const std::vector<std::string> notes = {"normalisation constant alpha: 2.5", "outliers removed at x: none"};
  const Curve c{{0.1, 0.2}, {1.0 / 3.0, -2e-300}, {0.5, 1e300}};
  const std::string text = curve_text("talvo-tools pdf: G(r)", p, notes, "columns: r G sigma", c);
  const Result<Parameters> back = parse_parameters(text);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(*back, p);
  // The rows: every number the shortest text of the same double.
  std::istringstream rows(text.substr(text.find("columns: r G sigma\n") + 19));
  double x = 0, y = 0, s = 0;
  rows >> x >> y >> s;
  EXPECT_EQ(y, 1.0 / 3.0);
  rows >> x >> y >> s;
  EXPECT_EQ(y, -2e-300);
  EXPECT_EQ(s, 1e300);
}

// The abscissa's text is kept from one table to the next; a column that
// differs from the kept one in any value (even only in the sign of a zero,
// or a value beyond the ones kept) is written afresh.
TEST(PdfFiles, RepeatedAbscissaIsWrittenAsItsOwnValues) {
  const auto rows_of = [](std::span<const double> x) {
    const std::vector<double> y(x.size(), 0.5);
    const std::span<const double> table[] = {x, y};
    const std::string text = table_text("t", {}, {}, "columns: x y", table);
    std::string expected;
    for (double v : x) expected += shortest(v) + " 0.5\n";
    return std::make_pair(text.substr(text.find("columns: x y\n") + 13), expected);
  };
  std::vector<double> grid;
  for (int i = 0; i < 500; ++i) grid.push_back(0.01 * i);
  for (int round = 0; round < 2; ++round) {
    std::vector<std::vector<double>> columns(5, grid);
    columns[1][0] = -0.0;
    columns[2][250] = std::nextafter(grid[250], 1.0);
    columns[3].push_back(5.0);
    columns[4].pop_back();
    for (const auto& x : columns) {
      const auto [text, expected] = rows_of(x);
      EXPECT_EQ(text, expected);
    }
  }
}

TEST(PdfFiles, ParametersFromAHandWrittenFile) {
  const Result<Parameters> p =
      parse_parameters("# a comment = not a key\ncomposition = SiO2\n  # density = 2.2  \n0.1 0.2 0.3\nmode=adhoc\n");
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(*p, (Parameters{{"composition", "SiO2"}, {"density", "2.2"}}));
  const Result<Parameters> twice = parse_parameters("qmax = 10\nqmax = 12\n");
  ASSERT_FALSE(twice.ok());
  EXPECT_NE(twice.error().message.find("line 2: \"qmax\" is given twice"), std::string::npos);
}

}  // namespace
}  // namespace talvo::pdf
