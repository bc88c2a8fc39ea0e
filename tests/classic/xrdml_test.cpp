#include "talvo/classic/xrdml.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "tests/support/temp_dir.hpp"

namespace talvo::classic {
namespace {

namespace fs = std::filesystem;

struct Read {
  XrdmlResult r;
  std::vector<double> x, y, e;
  std::string screen;
};

Read read(const std::string& file, int scan = 0, int mode = 0, std::size_t size = kXrdmlMaxPoints, int print = 0) {
  Read out;
  out.x.assign(size, 0.0);
  out.y.assign(size, 0.0);
  out.e.assign(size, 0.0);
  std::ostringstream screen;
  out.r = readxrdml(file, out.x, out.y, out.e, scan, mode, print, screen);
  out.screen = screen.str();
  return out;
}

// An XRDML file with one scan per entry of `counts`, made for the test.
struct Scan {
  double start, end, time;
  std::vector<int> counts;
};

std::string write_file(const std::string& name, const std::vector<Scan>& scans, const std::string& extra = "") {
  std::ostringstream t;
  t << "<?xml version=\"1.0\"?>\n<xrdMeasurements>\n"
    << "  <kAlpha1 unit=\"Angstrom\">1.5405980</kAlpha1>\n  <kAlpha2 unit=\"Angstrom\">1.5444260</kAlpha2>\n"
    << "  <ratioKAlpha2KAlpha1>0.5</ratioKAlpha2KAlpha1>\n"
    << extra << "  <scans>\n";
  for (const Scan& s : scans) {
    t << "  <scan appendNumber=\"0\">\n    <scanAxisCenter>\n    </scanAxisCenter>\n"
      << "    <positions axis=\"2Theta\" unit=\"deg\">\n      <startPosition>" << s.start
      << "</startPosition>\n      <endPosition>" << s.end << "</endPosition>\n    </positions>\n"
      << "    <commonCountingTime unit=\"seconds\">" << s.time
      << "</commonCountingTime>\n    <intensities unit=\"counts\">";
    for (std::size_t j = 0; j < s.counts.size(); ++j) t << (j ? " " : "") << s.counts[j];
    t << "</intensities>\n  </scan>\n";
  }
  t << "  </scans>\n</xrdMeasurements>\n";
  const fs::path path = talvo::test_support::scratch_dir() / ("talvo_" + name + ".xrdml");
  std::ofstream(path, std::ios::binary) << t.str();
  return path.string();
}

TEST(Xrdml, RealFiles) {
  const std::string dir = std::string(TALVO_TEST_FILES_DIR) + "xrdml/";
  Read a = read(dir + "single_scan_intensities.xrdml");
  ASSERT_TRUE(a.r.status.ok()) << a.r.status.message;
  EXPECT_EQ(a.r.scans, 1);
  ASSERT_EQ(a.r.points, 4489);
  EXPECT_DOUBLE_EQ(a.x[0], 5.00835563);
  EXPECT_NEAR(a.x[4488], 80.00853080, 1e-9);
  EXPECT_EQ(a.y[0], 1719);
  EXPECT_DOUBLE_EQ(a.e[0], std::sqrt(1719.0));
  EXPECT_EQ(a.y[4488], 288);
  EXPECT_DOUBLE_EQ(a.r.wavelength, 1.5405980);  // ratio 0

  // The newer layout: <counts>, a byte-order mark and CR-LF line ends.
  Read b = read(dir + "single_scan_counts.xrdml", 1, 1);
  EXPECT_TRUE(b.r.status.ok()) << b.r.status.message;  // long records read whole draw no warning
  ASSERT_EQ(b.r.points, 2999);
  EXPECT_DOUBLE_EQ(b.x[0], 65.46);
  EXPECT_NEAR(b.x[2998], 66.6592, 1e-9);
  EXPECT_DOUBLE_EQ(b.y[0], 1 / 0.5);
  EXPECT_DOUBLE_EQ(b.y[2998], 2 / 0.5);
  EXPECT_DOUBLE_EQ(b.e[2998], std::sqrt(2.0) / 0.5);
  EXPECT_DOUBLE_EQ(b.r.wavelength, 1.5405980);
}

TEST(Xrdml, TwoScansSummed) {
  const std::string f = write_file("two", {{10, 12, 2.0, {4, 9, 16}}, {10, 12, 3.0, {5, 7, 9}}});
  Read counts = read(f, 0, 0);
  ASSERT_TRUE(counts.r.status.ok()) << counts.r.status.message;
  EXPECT_EQ(counts.r.scans, 2);
  EXPECT_DOUBLE_EQ(counts.y[0], 9);
  EXPECT_DOUBLE_EQ(counts.y[1], 16);
  EXPECT_DOUBLE_EQ(counts.e[2], 5);
  EXPECT_DOUBLE_EQ(counts.x[2], 12);
  Read cps = read(f, 0, 1);
  EXPECT_DOUBLE_EQ(cps.y[0], 9 / 5.0);
  EXPECT_DOUBLE_EQ(cps.e[0], 3 / 5.0);
  Read second = read(f, 2, 1);
  EXPECT_DOUBLE_EQ(second.y[1], 7 / 3.0);
  EXPECT_DOUBLE_EQ(second.r.wavelength, (1.5405980 + 0.5 * 1.5444260) / 1.5);
  Read bad = read(f, 3);
  EXPECT_EQ(bad.r.status.ierr, 3);
  EXPECT_EQ(bad.r.status.message, "Invalid mode = 3");
  EXPECT_EQ(read(f, 0, 2).r.status.ierr, 7);
  EXPECT_EQ(read(f, -1).r.status.ierr, 3);
}

TEST(Xrdml, ShorterScanAndNoStateBetweenCalls) {
  // A previous file's counts must not reach the points a shorter scan lacks.
  read(write_file("long", {{0, 4, 1, {100, 100, 100, 100, 100}}}));
  Read r = read(write_file("short", {{0, 4, 1, {1, 1, 1, 1, 1}}, {0, 2, 1, {2, 2, 2}}}), 0, 1);
  ASSERT_TRUE(r.r.status.ok());
  EXPECT_EQ(r.r.points, 5);
  EXPECT_DOUBLE_EQ(r.y[0], 3 / 2.0);
  EXPECT_DOUBLE_EQ(r.y[4], 1 / 1.0);  // only the scan that has the point
}

TEST(Xrdml, FileErrors) {
  EXPECT_EQ(read(write_file("starts", {{10, 12, 1, {1, 2}}, {11, 13, 1, {1, 2}}})).r.status.ierr, 10);
  EXPECT_EQ(read(write_file("below", {{10, 12, 1, {1, 2}}, {9, 11, 1, {1, 2}}})).r.status.ierr, 10);
  std::vector<Scan> many(21, Scan{1, 2, 1, {1, 2}});
  EXPECT_EQ(read(write_file("many", many)).r.status.message, "Too many scans in file");
  std::vector<Scan> twenty(20, Scan{1, 2, 1, {1, 2}});
  EXPECT_TRUE(read(write_file("twenty", twenty)).r.status.ok());

  Read unmatched = read(write_file("unmatched", {{1, 2, 1, {1, 2}}}, "  <scan extra=\"1\">\n"));
  EXPECT_EQ(unmatched.r.status.ierr, 2);
  EXPECT_EQ(unmatched.r.status.message, "Number of scan starts 2 not equal to number of scan ends 1");

  Read missing = read("/no/such.xrdml");
  EXPECT_EQ(missing.r.status.ierr, 11);
  EXPECT_EQ(missing.r.status.message, "file not found: /no/such.xrdml");

  const std::string text = write_file("word", {{1, 3, 1, {1, 2, 3}}});
  std::string content;
  {
    std::ifstream in(text);
    std::stringstream s;
    s << in.rdbuf();
    content = s.str();
  }
  const auto put = [](const std::string& name, const std::string& body) {
    const fs::path p = talvo::test_support::scratch_dir() / ("talvo_" + name + ".xrdml");
    std::ofstream(p, std::ios::binary) << body;
    return p.string();
  };
  // One field of a good file made unreadable at a time.
  const struct {
    const char* name;
    const char* from;
    const char* to;
    int ierr;
  } edits[] = {
      {"badword", ">1 2 3<", ">1 x 3<", 15},          {"onepoint", ">1 2 3<", ">7<", 16},
      {"badwave", ">1.5405980<", ">abc<", 5},         {"badaxis", "<startPosition>1<", "<startPosition>q<", 4},
      {"badtime", "seconds\">1<", "seconds\">t<", 6},
  };
  for (const auto& e : edits) {
    std::string body = content;
    body.replace(body.find(e.from), std::string_view(e.from).size(), e.to);
    EXPECT_EQ(read(put(e.name, body)).r.status.ierr, e.ierr) << e.name;
  }
  std::string wave = content;
  wave.replace(wave.find(">1.5405980<"), 11, ">abc<");
  EXPECT_EQ(read(put("badwave", wave)).r.status.message, "Problem reading wavelength");
  std::string nowave = content;
  nowave.erase(nowave.find("  <kAlpha1"), nowave.find("  <kAlpha2") - nowave.find("  <kAlpha1"));
  Read nw = read(put("nowave", nowave));
  EXPECT_EQ(nw.r.status.ierr, 14);
  EXPECT_EQ(nw.r.wavelength, 0.0);
  EXPECT_EQ(nw.r.points, 3);
}

TEST(Xrdml, PointLimitsAndRecordRules) {
  std::vector<int> full(5000, 1), over(5001, 1);
  EXPECT_TRUE(read(write_file("5000", {{0, 1, 1, full}})).r.status.ok());
  EXPECT_EQ(read(write_file("5001", {{0, 1, 1, over}})).r.status.message, "Too many data points");
  EXPECT_EQ(read(write_file("small", {{0, 1, 1, {1, 2, 3}}}), 0, 0, 2).r.status.ierr, 9);

  // A record of 301 characters or far more is read whole: no warning, and a
  // tag behind 300 leading blanks is still seen.
  Read longer =
      read(write_file("long301", {{0, 1, 1, {4, 9}}}, "  <comment>" + std::string(301 - 21, 'c') + "</comment>\n"));
  EXPECT_TRUE(longer.r.status.ok()) << longer.r.status.message;
  EXPECT_EQ(longer.r.points, 2);
  EXPECT_DOUBLE_EQ(longer.y[1], 9);
  Read far = read(
      write_file("far", {{0, 1, 1, {4, 9}}}, std::string(300, ' ') + "<ratioKAlpha2KAlpha1>0</ratioKAlpha2KAlpha1>\n"));
  EXPECT_TRUE(far.r.status.ok()) << far.r.status.message;
  EXPECT_DOUBLE_EQ(far.r.wavelength, 1.5405980);

  // A tag that is not the first on its line is not seen; "scans" is no scan start.
  Read second_tag = read(write_file("second", {{0, 1, 1, {4, 9}}}, "  <x/><kAlpha1 unit=\"Angstrom\">9.9</kAlpha1>\n"));
  EXPECT_DOUBLE_EQ(second_tag.r.wavelength, (1.5405980 + 0.5 * 1.5444260) / 1.5);
  EXPECT_EQ(second_tag.r.scans, 1);

  EXPECT_TRUE(keyword_found("  <scan a=\"1\">", "scan "));
  EXPECT_FALSE(keyword_found("<scans>", "scan "));
  EXPECT_FALSE(keyword_found("", "scan "));
  std::vector<int> pos;
  EXPECT_TRUE(keyword_search("a<b>c</b>", "b", pos));
  EXPECT_EQ(pos, (std::vector<int>{2, 6}));
  EXPECT_EQ(count_keyword("1 2 3", ' ', pos), 2);
  EXPECT_EQ(get_values_xrdml("<a x=\"1\">12.5</a>"), "12.5");
}

// Positions near the double range, or counts per second of a scan counted
// for no time: refused rather than returned as inf or NaN.
TEST(Xrdml, ValuesBeyondTheDoubleRange) {
  const std::string huge = write_file("huge_range", {{-1.7e308, 1.7e308, 1, {5, 6, 7}}});
  const std::string no_time = write_file("no_time", {{10, 12, 0, {5, 6, 7}}});
  const struct {
    std::string file;
    int scan, mode, code;
  } cases[] = {
      {huge, 1, 0, 18}, {huge, 0, 0, 18}, {no_time, 1, 1, 18}, {no_time, 0, 1, 18}, {no_time, 1, 0, 0},
  };
  for (const auto& c : cases) {
    const Read r = read(c.file, c.scan, c.mode);
    EXPECT_EQ(r.r.status.ierr, c.code) << c.file << " " << c.scan << " " << c.mode << ": " << r.r.status.message;
    if (c.code == 18) {
      EXPECT_EQ(r.r.status.message, "Value out of range at point 1 of 3");
      EXPECT_EQ(r.r.points, 0);
    }
  }
}

TEST(Xrdml, SummaryAtPrintLevels) {
  const std::string f = write_file("print", {{10, 12, 2.0, {4, 9, 16}}});
  EXPECT_EQ(read(f, 0, 0, kXrdmlMaxPoints, 0).screen, "");
  const std::string summary = read(f, 0, 0, kXrdmlMaxPoints, 2).screen;
  EXPECT_NE(summary.find(" readxrdml: Number of scans = 1\n"), std::string::npos);
  EXPECT_NE(summary.find(" readxrdml: First point x= 0.1000000E+02 y= 0.4000000E+01 e= 0.2000000E+01\n"),
            std::string::npos);
  EXPECT_EQ(summary.find("calling readxrdml2"), std::string::npos);
  const std::string progress = read(f, 0, 0, kXrdmlMaxPoints, 1).screen;
  EXPECT_EQ(progress.rfind(" inqfilerec: Number of records in file =", 0), 0u);
  EXPECT_NE(progress.find(" calling readxrdml2\n opening xrdml file\n closing xrdml file\n searching for scans\n"),
            std::string::npos);
}

}  // namespace
}  // namespace talvo::classic
