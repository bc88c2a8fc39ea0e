// Output files: their header reads back as the parameters written, numbers
// read back to the same doubles.
#include "talvo/pdf/pdf_files.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

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
