// The picture of a reduction: axes ticked at round numbers with clean labels,
// each panel named with its units and its curves in a legend, -4 pi rho0 r
// only up to G(r)'s first peak, peaks kept however many points, and a title
// of the file's name that stays text whatever bytes the name holds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "talvo/pdf/plot.hpp"

namespace talvo::pdf {
namespace {

struct AxisCase {
  double lo, hi;
  int most;
  std::vector<std::string> labels;
};

TEST(PdfPlot, AxesTickAtRoundNumbersWrittenAsByHand) {
  const AxisCase cases[] = {
      {0.0, 1.0, 6, {"0", "0.2", "0.4", "0.6", "0.8", "1"}},
      {0.0, 0.9, 10, {"0", "0.1", "0.2", "0.3", "0.4", "0.5", "0.6", "0.7", "0.8", "0.9"}},
      {0.1, 0.3, 5, {"0.1", "0.15", "0.2", "0.25", "0.3"}},
      {0.31, 16.62, 8, {"2", "4", "6", "8", "10", "12", "14", "16"}},  // Q of a Mo pattern
      {-33.22, 1211.09, 7, {"0", "200", "400", "600", "800", "1000", "1200"}},
      {-7.3, -2.1, 6, {"-7", "-6", "-5", "-4", "-3"}},                       // all below 0
      {-0.07, 0.07, 4, {"-0.05", "0", "0.05"}},                              // about 0
      {0.0, 5e-5, 5, {"0", "0.00002", "0.00004"}},                           // small, still plain
      {2e-6, 8e-6, 4, {"2e-6", "4e-6", "6e-6", "8e-6"}},                     // tiny
      {1e-12, 3e-12, 5, {"1e-12", "1.5e-12", "2e-12", "2.5e-12", "3e-12"}},  // tinier
      {0.0, 3e8, 4, {"0", "1e8", "2e8", "3e8"}},                             // huge
      {0.0, 1e6, 5, {"0", "5e5", "1e6"}},
      {2e5, 9.5e5, 4, {"200000", "400000", "600000", "800000"}},  // below a million: plain
      {3.0, 1.0, 5, {"1", "1.5", "2", "2.5", "3"}},               // ends the wrong way round
      {5.0, 5.0, 5, {"4.8", "4.9", "5", "5.1", "5.2"}},           // no width: 5 % about the value
      {0.0, 0.0, 4, {"-1", "0", "1"}},                            // no width at 0
      {-250.0, -250.0, 3, {"-260", "-250", "-240"}},
      {NAN, 1.0, 6, {"0", "0.2", "0.4", "0.6", "0.8", "1"}},  // not a range: 0 to 1
      {0.0, 1.0, 1, {"0", "1"}},                              // two ticks at least
  };
  for (const AxisCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.lo) + " to " + std::to_string(c.hi));
    const Axis a = round_axis(c.lo, c.hi, c.most);
    EXPECT_EQ(a.labels, c.labels);
    ASSERT_EQ(a.ticks.size(), a.labels.size());
    for (std::size_t k = 0; k < a.ticks.size(); ++k) {
      EXPECT_EQ(a.ticks[k], std::strtod(a.labels[k].c_str(), nullptr)) << a.labels[k];
      EXPECT_GE(a.ticks[k], a.lo);
      EXPECT_LE(a.ticks[k], a.hi);
    }
  }
  // The range shown is the one given, widened only when it has no width.
  const Axis given = round_axis(-33.22, 1211.09, 7);
  EXPECT_EQ(given.lo, -33.22);
  EXPECT_EQ(given.hi, 1211.09);
  EXPECT_EQ(given.step, 200.0);
  const Axis flat = round_axis(5.0, 5.0, 5);
  EXPECT_DOUBLE_EQ(flat.lo, 4.75);
  EXPECT_DOUBLE_EQ(flat.hi, 5.25);
  // A range too narrow for its doubles is widened the same way, not ticked in ulps.
  const Axis narrow = round_axis(1e15, 1e15 + 1, 5);
  EXPECT_GE(narrow.ticks.size(), 2u);
  EXPECT_GT(narrow.hi - narrow.lo, 1e13);
}

// ---- The SVG, read back with a few string searches.

std::string attribute(const std::string& element, const std::string& name) {
  const std::size_t at = element.find(" " + name + "=\"");
  if (at == std::string::npos) return {};
  const std::size_t from = at + name.size() + 3;
  return element.substr(from, element.find('"', from) - from);
}

// The panel's group: from <g id="ID"> to the next panel or the end.
std::string panel(const std::string& svg, const std::string& id) {
  const std::size_t from = svg.find("<g id=\"" + id + "\">");
  if (from == std::string::npos) return {};
  const std::size_t to = svg.find("<g id=\"", from + 1);
  return svg.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

// The texts of the element of class `cls`: its own, or those of a group.
std::vector<std::string> texts(const std::string& part, const std::string& cls) {
  std::vector<std::string> out;
  const std::size_t at = part.find("class=\"" + cls + "\"");
  if (at == std::string::npos) return out;
  const std::size_t start = part.rfind('<', at);
  const std::size_t end = part.compare(start, 3, "<g ") == 0 ? part.find("</g>", at) : part.find("</text>", at) + 7;
  for (std::size_t t = part.find("<text", start); t != std::string::npos && t < end; t = part.find("<text", t + 1)) {
    const std::size_t open = part.find('>', t) + 1;
    out.push_back(part.substr(open, part.find("</text>", open) - open));
  }
  return out;
}

struct Point {
  double x, y;
};

std::vector<std::vector<Point>> polylines(const std::string& part) {
  std::vector<std::vector<Point>> out;
  for (std::size_t at = part.find("<polyline"); at != std::string::npos; at = part.find("<polyline", at + 1)) {
    const std::string points = attribute(part.substr(at, part.find("/>", at) - at), "points");
    std::vector<Point> line;
    const char* p = points.c_str();
    char* end = nullptr;
    for (;;) {
      const double x = std::strtod(p, &end);
      if (end == p) break;
      const double y = std::strtod(end + 1, &end);
      line.push_back({x, y});
      p = end;
    }
    out.push_back(std::move(line));
  }
  return out;
}

struct Box {
  double left, top, width, height;
};

Box frame(const std::string& part) {
  const std::size_t at = part.find("<rect class=\"frame\"");
  const std::string e = part.substr(at, part.find("/>", at) - at);
  return {std::stod(attribute(e, "x")), std::stod(attribute(e, "y")), std::stod(attribute(e, "width")),
          std::stod(attribute(e, "height"))};
}

// A crystal-like reduction: G(r) follows -4 pi rho0 r up to 2 Angstrom, peaks
// of height 6 at 2.5 (the first), 3.6 and 4.4, cut-off ripples of height 9
// below 1 Angstrom; S(Q) a damped oscillation about 1 with a sigma growing
// with Q; 5000 Q points.
Reduction crystal() {
  Reduction r;
  const double rho0 = 0.08;
  for (int i = 0; i < 5000; ++i) {
    const double q = 0.3 + 0.003 * i;
    const double s = 1.0 + std::exp(-0.1 * q) * std::sin(2.5 * q);
    r.sq.x.push_back(q);
    r.sq.y.push_back(s);
    r.sq.sigma.push_back(0.01 * q);
    r.fq.x.push_back(q);
    r.fq.y.push_back(q * (s - 1.0));
    r.fq.sigma.push_back(0.01 * q * q);
    r.iq.x.push_back(q);
    r.iq.y.push_back(50.0 * s * std::exp(-0.05 * q));
    r.iq.sigma.push_back(1e-6);  // thinner than any line
    r.model.push_back(50.0 * std::exp(-0.05 * q));
  }
  for (int i = 0; i <= 1000; ++i) {
    const double x = 0.01 * i;
    double g = -4.0 * std::numbers::pi * rho0 * x * (x < 2.0 ? 1.0 : std::exp(-4.0 * (x - 2.0) * (x - 2.0)));
    for (const double peak : {2.5, 3.6, 4.4}) g += 6.0 * std::exp(-50.0 * (x - peak) * (x - peak));
    if (x < 1.0) g += 9.0 * std::sin(30.0 * x) * (1.0 - x);
    r.gr.x.push_back(x);
    r.gr.y.push_back(g);
    r.gr.sigma.push_back(0.15);
  }
  r.number_density = rho0;
  r.compton_subtracted = true;
  return r;
}

TEST(PdfPlot, PanelsNameTheirAxesCurvesAndBands) {
  const Reduction r = crystal();
  const std::string svg = plot_svg(r, Mode::kPhysical, "/data/beamtime 7/zro2_mo.xy");
  EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  EXPECT_EQ(texts(svg, "title"), std::vector<std::string>{"zro2_mo.xy \u2014 physical mode"});
  EXPECT_EQ(svg.find("beamtime"), std::string::npos);
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
  const std::string q = "Q (\u00c5\u207b\u00b9)";
  const std::string band = "\u00b1\u03c3";
  struct Expected {
    const char* id;
    std::string x_name, y_name;
    std::vector<std::string> legend;
  };
  const Expected panels[] = {
      {"iq", q, "I (a.u.)", {"I(Q)", "self scattering + Compton"}},  // its sigma is too thin to show
      {"sq", q, "S(Q)", {"S(Q)", band}},
      {"fq", q, "F(Q) (\u00c5\u207b\u00b9)", {"F(Q)", band}},
      {"gr", "r (\u00c5)", "G(r) (\u00c5\u207b\u00b2)", {"G(r)", "\u22124\u03c0\u03c1\u2080r", band}},
  };
  for (const Expected& e : panels) {
    SCOPED_TRACE(e.id);
    const std::string p = panel(svg, e.id);
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(texts(p, "x-name"), std::vector<std::string>{e.x_name});
    EXPECT_EQ(texts(p, "y-name"), std::vector<std::string>{e.y_name});
    EXPECT_EQ(texts(p, "legend"), e.legend);
    EXPECT_EQ(p.find("class=\"band\"") != std::string::npos, e.legend.back() == band);
    EXPECT_GE(texts(p, "x-labels").size(), 3u);
    EXPECT_GE(texts(p, "y-labels").size(), 3u);
    // Every point of every curve inside the frame: the ranges hold all the curves.
    const Box b = frame(p);
    for (const auto& line : polylines(p))
      for (const Point& pt : line) {
        EXPECT_GE(pt.x, b.left - 0.05);
        EXPECT_LE(pt.x, b.left + b.width + 0.05);
        EXPECT_GE(pt.y, b.top - 0.05);
        EXPECT_LE(pt.y, b.top + b.height + 0.05);
      }
  }
  // r from 0 to 10 in steps of 2; the line stops at the first peak (2.5 Angstrom), not at a ripple below 1.
  const std::string gr = panel(svg, "gr");
  EXPECT_EQ(texts(gr, "x-labels"), (std::vector<std::string>{"0", "2", "4", "6", "8", "10"}));
  const Box b = frame(gr);
  const auto lines = polylines(gr);
  ASSERT_EQ(lines.size(), 2u);
  const double r_end = 10.0 * (lines[1].back().x - b.left) / b.width;
  EXPECT_NEAR(r_end, 2.5, 0.02);
  // Small: 5000 points a curve become at most two a pixel column.
  EXPECT_LT(svg.size(), 80000u);
  for (const auto& line : polylines(panel(svg, "sq"))) EXPECT_LE(line.size(), 2 * 381u);
}

// Points extrapolated below the data are their own curve in S and F, in
// another colour, meeting the measured curve at its first point.
TEST(PdfPlot, TheExtrapolationBelowTheDataIsItsOwnCurve) {
  Reduction r = crystal();
  Curve* curves[] = {&r.sq, &r.fq};
  for (Curve* c : curves) {
    const double q1 = c->x.front();
    std::vector<double> x, y;
    for (int k = 4; k >= 1; --k) {
      x.push_back(q1 - k * 0.1);
      y.push_back(c == &r.sq ? 0.0 : -x.back());
    }
    c->x.insert(c->x.begin(), x.begin(), x.end());
    c->y.insert(c->y.begin(), y.begin(), y.end());
    c->sigma.insert(c->sigma.begin(), 4, 0.0);
  }
  r.extrapolated = 4;
  const std::string svg = plot_svg(r, Mode::kPhysical, "cut.xy");
  for (const char* id : {"sq", "fq"}) {
    SCOPED_TRACE(id);
    const std::string p = panel(svg, id);
    const std::vector<std::string> legend = texts(p, "legend");
    ASSERT_EQ(legend.size(), 3u);
    EXPECT_EQ(legend[1], "extrapolated");
    const auto lines = polylines(p);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].size(), 5u);                  // the 4 points and the first measured one
    EXPECT_EQ(lines[1].back().x, lines[0].front().x);  // they meet
    EXPECT_LT(lines[1].front().x, lines[0].front().x);
    EXPECT_NE(p.find("stroke=\"#ff7f0e\""), std::string::npos);
  }
  // Without extrapolated points one curve a panel, as before.
  EXPECT_EQ(polylines(panel(plot_svg(crystal(), Mode::kPhysical, "x.xy"), "sq")).size(), 1u);
}

TEST(PdfPlot, TheCurveUnderIQIsNamedByTheMode) {
  Reduction r = crystal();
  EXPECT_EQ(texts(panel(plot_svg(r, Mode::kAdhoc, "ni.iq"), "iq"), "legend")[1], "ad hoc background");
  r.compton_subtracted = false;
  EXPECT_EQ(texts(panel(plot_svg(r, Mode::kPhysical, "x.xy"), "iq"), "legend")[1], "self scattering");
  // Without a density there is no line to draw.
  r.number_density.reset();
  EXPECT_EQ(polylines(panel(plot_svg(r, Mode::kAdhoc, "ni.iq"), "gr")).size(), 1u);
  EXPECT_EQ(texts(plot_svg(r, Mode::kAdhoc, "ni.iq"), "title")[0], "ni.iq \u2014 ad hoc mode");
}

TEST(PdfPlot, ASharpPeakKeepsItsHeightAmongManyPoints) {
  Reduction r = crystal();
  r.sq.x.resize(200000);
  r.sq.y.assign(200000, 1.0);
  r.sq.sigma.assign(200000, 0.0);
  for (std::size_t i = 0; i < r.sq.x.size(); ++i) r.sq.x[i] = 1e-4 * static_cast<double>(i);
  r.sq.y[123457] = 9.0;  // one point, a Bragg peak narrower than the grid
  const std::string sq = panel(plot_svg(r, Mode::kPhysical, "x.xy"), "sq");
  const auto lines = polylines(sq);
  ASSERT_EQ(lines.size(), 1u);
  const Box b = frame(sq);
  double highest = INFINITY;
  for (const Point& p : lines[0]) highest = std::min(highest, p.y);
  // The y range is 1 to 9 padded by 4 % each side: the peak sits 4 % of the range below the top.
  EXPECT_NEAR(highest, b.top + b.height * 0.04 / 1.08, 0.1);
}

TEST(PdfPlot, TheTitleIsTextWhateverTheNameHolds) {
  struct Case {
    std::string input, shown;
  };
  const Case cases[] = {
      {"a<b>&c'd\".xy", "a&lt;b&gt;&amp;c&apos;d\\&quot;.xy"},
      {"run\x01\x1b[31m\t1.xy", "run\\x01\\x1b[31m\\x091.xy"},         // controls: the terminal's escape too
      {"bad\xff\xfe\xc3(.xy", "bad\\xff\\xfe\\xc3(.xy"},               // not UTF-8
      {"x\xed\xa0\x80.xy", "x\\xed\\xa0\\x80.xy"},                     // a surrogate
      {"y\xef\xbf\xbe\xef\xbf\xbf.xy", "y\\ufffe\\uffff.xy"},          // UTF-8, but no XML characters
      {"ZrO\xe2\x82\x82 \xc3\x85.xy", "ZrO\xe2\x82\x82 \xc3\x85.xy"},  // UTF-8 stays as it is
      {"dir<x>/in.xy", "in.xy"},
  };
  for (const Case& c : cases) {
    const std::string svg = plot_svg(crystal(), Mode::kPhysical, c.input);
    EXPECT_EQ(texts(svg, "title"), std::vector<std::string>{c.shown + " \u2014 physical mode"}) << c.shown;
    for (const char ch : svg) EXPECT_TRUE(static_cast<unsigned char>(ch) >= 0x20 || ch == '\n') << c.shown;
  }
  EXPECT_EQ(texts(plot_svg(crystal(), Mode::kPhysical, ""), "title"), std::vector<std::string>{"physical mode"});
}

TEST(PdfPlot, CurvesOfDifferentLengthsOrNoPointsDrawNothingOutside) {
  Reduction r = crystal();
  r.model.resize(10);  // shorter than its Q
  r.gr.sigma.clear();  // no band
  r.fq = {};
  const std::string svg = plot_svg(r, Mode::kPhysical, "x.xy");
  // The model's 10 points: Q 0.3 to 0.327 on the Q axis from 0 to 15.297.
  const Box b = frame(panel(svg, "iq"));
  const auto model = polylines(panel(svg, "iq"))[1];
  ASSERT_FALSE(model.empty());
  for (const Point& p : model) EXPECT_LT(p.x, b.left + b.width * 0.33 / 15.297);
  EXPECT_EQ(panel(svg, "gr").find("class=\"band\""), std::string::npos);
  EXPECT_EQ(polylines(panel(svg, "fq"))[0].size(), 0u);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
}

}  // namespace
}  // namespace talvo::pdf
