// The ad hoc method against its reference program's own results on real
// data: nickel measured at a synchrotron, reduced to S(Q), F(Q) and G(r) with
// the settings the reference files' headers record.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "talvo/pdf/reduce.hpp"

namespace talvo::pdf {
namespace {

// The rows after the "#L" line of a reference file, read here on their own.
std::vector<std::vector<double>> reference_rows(const std::string& name) {
  std::ifstream in(std::string(TALVO_TEST_FILES_DIR) + "pdf_reference/ni_kapton_synchrotron/" + name);
  std::vector<std::vector<double>> rows;
  bool data = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("#L", 0) == 0) {
      data = true;
      continue;
    }
    std::istringstream s(line);
    std::vector<double> row;
    for (double v; s >> v;) row.push_back(v);
    if (data && row.size() == 2) rows.push_back(row);
  }
  return rows;
}

Curve reference_curve(const std::string& name) {
  Curve c;
  for (const std::vector<double>& row : reference_rows(name)) {
    c.x.push_back(row[0]);
    c.y.push_back(row[1]);
  }
  return c;
}

// ni.iq: the background-subtracted intensity against Q in 1/A.
Pattern nickel_intensity() {
  Pattern p;
  p.abscissa = Abscissa::kQA;
  for (const std::vector<double>& row : reference_rows("ni.iq")) {
    p.x.push_back(row[0]);
    p.y.push_back(row[1]);
    p.sigma.push_back(std::sqrt(std::max(std::abs(row[1]), 1.0)));
  }
  return p;
}

ReductionOptions nickel_options(double qmax) {
  ReductionOptions o;
  o.mode = Mode::kAdhoc;
  o.sample.composition = "Ni";
  o.qmin = 0.1;
  o.qmaxinst = 31.5;
  o.qmax = qmax;
  o.rpoly = 0.9;
  o.rmin = 0.0;
  o.rmax = 20.0;
  o.rstep = 0.01;
  return o;
}

// The least-squares factor k of k a ~ b, and the rms of k a - b relative to that of b.
struct Match {
  double factor, relative_rms;
};
Match match(std::span<const double> a, std::span<const double> b) {
  double ab = 0.0, aa = 0.0, bb = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    ab += a[i] * b[i];
    aa += a[i] * a[i];
    bb += b[i] * b[i];
  }
  const double k = ab / aa;
  double d = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) d += (k * a[i] - b[i]) * (k * a[i] - b[i]);
  return {k, std::sqrt(d / bb)};
}

// The local maximum of y nearest x0 within +-0.15, refined by a parabola.
double peak_near(const Curve& c, double x0) {
  std::size_t best = 0;
  for (std::size_t j = 1; j + 1 < c.x.size(); ++j)
    if (std::abs(c.x[j] - x0) < 0.15 && (best == 0 || c.y[j] > c.y[best])) best = j;
  const double y0 = c.y[best - 1], y1 = c.y[best], y2 = c.y[best + 1];
  return c.x[best] + 0.5 * (y0 - y2) / (y0 - 2.0 * y1 + y2) * (c.x[best + 1] - c.x[best]);
}

TEST(PdfReference, NickelStructureFunctionsAsTheReferenceProgramGivesThem) {
  const Pattern p = nickel_intensity();
  ASSERT_EQ(p.x.size(), 1796u);
  const Result<Reduction> red = reduce(Inputs{&p}, nickel_options(27.0));
  ASSERT_TRUE(red.ok()) << red.error().message;
  EXPECT_EQ(red->poly_degree, 9);  // round(0.9 x 31.5 / pi)

  // F(Q) on the reference's grid, which is the data's own up to qmax.
  const Curve fq = reference_curve("ni.fq"), sq = reference_curve("ni.sq");
  ASSERT_EQ(red->fq.x.size(), fq.x.size());
  for (std::size_t i = 0; i < fq.x.size(); ++i) ASSERT_NEAR(red->fq.x[i], fq.x[i], 1e-5);
  const Match f = match(red->fq.y, fq.y);
  EXPECT_LT(f.relative_rms, 0.005);
  // The absolute scale, which the shape does not fix.
  EXPECT_NEAR(f.factor, 1.0, 0.05);

  double d2 = 0.0, s2 = 0.0;
  for (std::size_t i = 0; i < sq.x.size(); ++i) {
    d2 += std::pow(red->sq.y[i] - sq.y[i], 2);
    s2 += std::pow(sq.y[i] - 1.0, 2);
  }
  const double n = static_cast<double>(sq.x.size());
  EXPECT_GT(std::sqrt(s2 / n), 0.2);  // S(Q) is far from flat: 0.015 is a real test
  EXPECT_LT(std::sqrt(d2 / n), 0.015);
}

TEST(PdfReference, NickelPairDistributionAsTheReferenceProgramGivesIt) {
  const Pattern p = nickel_intensity();
  const Result<Reduction> red = reduce(Inputs{&p}, nickel_options(31.5));
  ASSERT_TRUE(red.ok()) << red.error().message;
  const Curve ref = reference_curve("ni.gr");
  // The reference resamples F(Q) by straight lines onto a grid from Q = 0 before an FFT, which damps G
  // by |cos(r dQ / 2)| where the data fall between its points: compared up to 15 A only.
  Curve mine, theirs;
  for (std::size_t j = 0; j < ref.x.size(); ++j) {
    if (ref.x[j] < 1.0 - 1e-9 || ref.x[j] > 15.0 + 1e-9) continue;
    const std::size_t k = static_cast<std::size_t>(std::lround(ref.x[j] / 0.01));
    ASSERT_NEAR(red->gr.x[k], ref.x[j], 1e-9);
    mine.x.push_back(ref.x[j]);
    mine.y.push_back(red->gr.y[k]);
    theirs.x.push_back(ref.x[j]);
    theirs.y.push_back(ref.y[j]);
  }
  const Match g = match(mine.y, theirs.y);
  EXPECT_NEAR(g.factor, 1.0, 0.05);
  EXPECT_LT(g.relative_rms, 0.01);

  // The first five neighbour shells of fcc nickel, a sqrt(k/2): where the reference puts them, and on one
  // lattice. These data's lattice comes out 0.3 % above the 3.524 A of nickel at room temperature, in the
  // reference's G(r) as in ours.
  double pd = 0.0, dd = 0.0, peaks[5];
  for (int k = 1; k <= 5; ++k) {
    const double d = std::sqrt(k / 2.0), at = peak_near(mine, 3.524 * d);
    EXPECT_NEAR(at, peak_near(theirs, 3.524 * d), 0.003) << k;
    peaks[k - 1] = at;
    pd += at * d;
    dd += d * d;
  }
  const double a = pd / dd;
  EXPECT_NEAR(a, 3.524, 0.012);
  for (int k = 1; k <= 5; ++k) EXPECT_NEAR(peaks[k - 1], a * std::sqrt(k / 2.0), 0.01) << k;
}

}  // namespace
}  // namespace talvo::pdf
