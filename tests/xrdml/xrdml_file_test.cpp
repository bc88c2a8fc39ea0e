#include "talvo/xrdml/xrdml_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "talvo/classic/xrdml.hpp"
#include "tests/support/temp_dir.hpp"

namespace talvo {
namespace {

// A result's error, or its first warning, for assertions and their messages.
template <class T>
std::string message_of(const Result<T>& r) {
  if (!r.ok()) return r.error().message;
  return r.warnings().empty() ? std::string() : r.warnings().front();
}

// No error and no warning.
template <class T>
bool clean(const Result<T>& r) {
  return r.ok() && r.warnings().empty();
}

// The values of a scan that must have them.
XrdmlValues values_of(const XrdmlScan& scan, const XrdmlValueOptions& options = {}) {
  Result<XrdmlValues> v = xrdml_values(scan, options);
  if (!v.ok()) {
    ADD_FAILURE() << v.error().message;
    return {};
  }
  EXPECT_TRUE(v.warnings().empty());
  return std::move(*v);
}

std::string data_file(const std::string& name) { return std::string(TALVO_TEST_FILES_DIR) + "xrdml/" + name; }

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string replace_all(std::string s, std::string_view from, std::string_view to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// A small file around the content of one <dataPoints>.
std::string document(const std::string& data_points, const std::string& scan_attributes = "scanAxis=\"2Theta\"",
                     const std::string& wavelength = "<kAlpha1 unit=\"Angstrom\">1.5405980</kAlpha1>") {
  return "<?xml version=\"1.0\"?>\n<xrdMeasurements><xrdMeasurement><usedWavelength>" + wavelength +
         "</usedWavelength><scan " + scan_attributes + "><dataPoints>" + data_points +
         "</dataPoints></scan></xrdMeasurement></xrdMeasurements>\n";
}

const std::string kRange =
    "<positions axis=\"2Theta\" unit=\"deg\"><startPosition>10</startPosition><endPosition>12</endPosition>"
    "</positions>";

// The numbers below are read off each file's own text.
TEST(XrdmlFile, RealFilesFirstAndLastPoints) {
  struct Point {
    double x, y, attenuation;
  };
  const struct {
    const char* file;
    std::size_t scans, points;
    double wavelength;
    const char* axis;
    Point first_of_first, last_of_first, first_of_last, last_of_last;
  } cases[] = {
      {"single_scan_intensities.xrdml",
       1,
       4489,
       1.5405980,
       "2Theta",
       {5.00835563, 1719, 1},
       {80.00853080, 288, 1},
       {5.00835563, 1719, 1},
       {80.00853080, 288, 1}},
      // counts x attenuation factor (1.00 throughout)
      {"single_scan_counts.xrdml",
       1,
       2999,
       1.5405980,
       "2Theta",
       {65.4600, 1, 1},
       {66.6592, 2, 1},
       {65.4600, 1, 1},
       {66.6592, 2, 1}},
      {"schema10_attenuated.xrdml",
       1,
       395,
       1.541874,
       "2Theta",
       {0.110, 54538740, 148},
       {7.990, 1, 1},
       {0.110, 54538740, 148},
       {7.990, 1, 1}},
      {"schema15_2theta.xrdml",
       1,
       196,
       1.541874,
       "2Theta",
       {30.0500, 8, 1},
       {41.7500, 6, 1},
       {30.0500, 8, 1},
       {41.7500, 6, 1}},
      {"schema21_gonio_counts.xrdml",
       1,
       3998,
       1.541874,
       "2Theta",
       {15.02343028, 10704, 1},
       {119.98691000, 8826, 1},
       {15.02343028, 10704, 1},
       {119.98691000, 8826, 1}},
      {"polefigure_91_scans.xrdml",
       91,
       1199,
       1.541874,
       "Phi",
       {-179.70, 15, 1},
       {179.70, 9, 1},
       {-179.70, 17, 1},
       {179.70, 12, 1}},
      {"rsm_401_scans_list_positions.xrdml",
       401,
       255,
       1.541874,
       "2Theta",
       {67.67550446, 0, 1},
       {69.58109554, 2, 1},
       {67.67550446, 2, 1},
       {69.58109554, 3, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Result<XrdmlFile> r = read_xrdml_file(data_file(c.file));
    ASSERT_TRUE(clean(r)) << message_of(r);
    ASSERT_EQ(r->scans.size(), c.scans);
    // (kAlpha1 + ratio kAlpha2) / (1 + ratio) with 1.5405980, 1.5444260 and ratio 0.5 or 0
    EXPECT_NEAR(r->wavelength, c.wavelength, 1e-12);
    const auto check = [](const XrdmlValues& v, std::size_t j, const Point& p) {
      EXPECT_DOUBLE_EQ(v.x[j], p.x) << "point " << j;
      EXPECT_DOUBLE_EQ(v.y[j], p.y) << "point " << j;
      EXPECT_DOUBLE_EQ(v.e[j], std::sqrt(p.y * p.attenuation)) << "point " << j;
    };
    for (const XrdmlScan* scan : {&r->scans.front(), &r->scans.back()}) {
      const XrdmlValues v = values_of(*scan);
      ASSERT_EQ(v.x.size(), c.points);
      EXPECT_EQ(v.axis, c.axis);
      const bool first = scan == &r->scans.front();
      check(v, 0, first ? c.first_of_first : c.first_of_last);
      check(v, c.points - 1, first ? c.last_of_first : c.last_of_last);
    }
  }
}

TEST(XrdmlFile, PoleFigureTiltPerScan) {
  const Result<XrdmlFile> r = read_xrdml_file(data_file("polefigure_91_scans.xrdml"));
  ASSERT_TRUE(clean(r)) << message_of(r);
  // Psi goes 0.00, 1.00, ... 90.00; 2Theta, Omega, X, Y, Z stay as written.
  for (const XrdmlScan& s : r->scans) {
    const auto fixed = s.fixed_axes();
    ASSERT_EQ(fixed.size(), 6u) << "scan " << s.number;
    EXPECT_EQ(fixed[0], (std::pair<std::string, double>{"2Theta", 53.6860}));
    EXPECT_EQ(fixed[1], (std::pair<std::string, double>{"Omega", 26.8430}));
    EXPECT_EQ(fixed[2], (std::pair<std::string, double>{"Psi", s.number - 1.0}));
    EXPECT_EQ(fixed[5], (std::pair<std::string, double>{"Z", 16.438}));
    EXPECT_EQ(s.scan_axis, "Phi");
  }
  // Phi from -179.70 to 179.70 in 1198 steps of 0.3 degrees.
  const XrdmlValues v = values_of(r->scans[10]);
  EXPECT_NEAR(v.x[1] - v.x[0], 0.3, 1e-12);
  EXPECT_NEAR(v.x[599], 0.0, 1e-12);
}

TEST(XrdmlFile, MapPositionsPerScan) {
  const Result<XrdmlFile> r = read_xrdml_file(data_file("rsm_401_scans_list_positions.xrdml"));
  ASSERT_TRUE(clean(r)) << message_of(r);
  for (const XrdmlScan& s : r->scans) {
    const XrdmlAxis* two_theta = s.axis("2Theta");
    ASSERT_NE(two_theta, nullptr);
    ASSERT_EQ(two_theta->form, XrdmlPositions::kList);
    ASSERT_EQ(two_theta->list.size(), 255u);
    EXPECT_EQ(two_theta->list[0], 67.67550446);
    EXPECT_EQ(two_theta->list[1], 67.68300542);
    EXPECT_EQ(two_theta->list[127], 68.62830000);
    EXPECT_EQ(two_theta->list[254], 69.58109554);
    // Omega steps by 0.005 from 33.0546 to 35.0546.
    const XrdmlAxis* omega = s.axis("omega");
    ASSERT_NE(omega, nullptr);
    EXPECT_NEAR(omega->start, 33.0546 + 0.005 * (s.number - 1), 1e-9) << "scan " << s.number;
    EXPECT_EQ(s.common_time, 2.00);
  }
  // Scan 2 begins "1 1 1 1": with --cps 0.5 counts per second each.
  XrdmlValueOptions cps;
  cps.cps = true;
  const XrdmlValues v = values_of(r->scans[0], cps);
  EXPECT_DOUBLE_EQ(v.y[1], 2 / 2.0);
  EXPECT_DOUBLE_EQ(v.e[1], std::sqrt(2.0) / 2.0);
}

TEST(XrdmlFile, AttenuatedPointsCarryTheirError) {
  const Result<XrdmlFile> r = read_xrdml_file(data_file("schema10_attenuated.xrdml"));
  ASSERT_TRUE(clean(r)) << message_of(r);
  const XrdmlValues v = values_of(r->scans[0]);
  // Point 30: intensity 357568 behind a factor 148 (2416 counts); point 31:
  // 117888 with the attenuator out.
  EXPECT_DOUBLE_EQ(v.y[29], 357568);
  EXPECT_NEAR(v.e[29], 148 * std::sqrt(357568 / 148.0), 1e-9);
  EXPECT_NEAR(v.e[29], 7274.61779065, 1e-6);
  EXPECT_DOUBLE_EQ(v.e[30], std::sqrt(117888.0));
  // The same file with counts (intensity / factor) gives the same numbers.
  const std::string text = slurp(data_file("schema10_attenuated.xrdml"));
  std::string as_counts = replace_all(text, "<intensities unit=\"counts\">54538740 ", "<counts>368505 ");
  as_counts = replace_all(as_counts, "</intensities>", "</counts>");
  const Result<XrdmlFile> c = parse_xrdml(as_counts);
  ASSERT_TRUE(clean(c)) << message_of(c);
  const XrdmlValues w = values_of(c->scans[0]);
  EXPECT_DOUBLE_EQ(w.y[0], 368505.0 * 148);
  EXPECT_DOUBLE_EQ(w.e[0], 148 * std::sqrt(368505.0));
}

TEST(XrdmlFile, AnyLayoutSameNumbers) {
  const std::string original = slurp(data_file("polefigure_91_scans.xrdml"));
  ASSERT_NE(original.find("\r\n"), std::string::npos);
  const std::string lf = replace_all(original, "\r\n", "\n");
  const std::string one_line = replace_all(lf, "\n", "");
  ASSERT_EQ(one_line.find('\n'), std::string::npos);
  // Attributes swapped, single quotes, a namespace prefix and a byte-order mark.
  std::string reordered = "\xEF\xBB\xBF" + replace_all(lf, "<positions axis=\"Psi\" unit=\"deg\">",
                                                       "<positions\n  unit='deg'  axis = 'Psi' >");
  reordered = replace_all(reordered, "<scan appendNumber=\"0\" mode=\"Continuous\" scanAxis=\"Phi\"",
                          "<x:scan scanAxis=\"Phi\" xmlns:x=\"http://www.xrdml.com/XRDMeasurement/1.3\"");
  reordered = replace_all(reordered, "</scan>", "</x:scan>");
  const Result<XrdmlFile> base = parse_xrdml(original);
  ASSERT_TRUE(clean(base)) << message_of(base);
  for (const std::string* text : {&lf, &one_line, static_cast<const std::string*>(&reordered)}) {
    const Result<XrdmlFile> r = parse_xrdml(*text);
    ASSERT_TRUE(clean(r)) << message_of(r);
    ASSERT_EQ(r->scans.size(), base->scans.size());
    EXPECT_EQ(r->wavelength, base->wavelength);
    for (std::size_t k = 0; k < base->scans.size(); ++k) {
      const XrdmlValues a = values_of(base->scans[k]), b = values_of(r->scans[k]);
      ASSERT_EQ(a.x, b.x) << "scan " << k + 1;
      ASSERT_EQ(a.y, b.y) << "scan " << k + 1;
      ASSERT_EQ(a.e, b.e) << "scan " << k + 1;
      ASSERT_EQ(base->scans[k].fixed_axes(), r->scans[k].fixed_axes());
    }
  }
}

TEST(XrdmlFile, FilesThatAreNotWhole) {
  const std::string rsm = slurp(data_file("rsm_401_scans_list_positions.xrdml"));
  const struct {
    const char* name;
    std::string text;
    const char* words;
  } cases[] = {
      {"cut in the middle", rsm.substr(0, rsm.size() / 2), "it is cut short"},
      {"cut inside the last tag", rsm.substr(0, rsm.size() - 5), "it is cut short"},
      {"cut after the last scan", rsm.substr(0, rsm.rfind("</xrdMeasurement>")), "it is cut short"},
      {"plain text", "1719 1766 1688\n1719 1648\n", "not an XRDML file"},
      {"empty", "", "not an XRDML file"},
      {"another XML file", "<?xml version=\"1.0\"?><html><body>scan</body></html>", "not an XRDML file"},
      {"no scan", "<xrdMeasurements><comment>none</comment></xrdMeasurements>", "no scan in the file"},
      {"crossed tags", "<xrdMeasurements><scan></xrdMeasurements></scan>", "broken markup"},
      {"unquoted attribute", "<xrdMeasurements><scan scanAxis=Phi></scan></xrdMeasurements>", "broken markup"},
      {"lone '<'", "<xrdMeasurements>< scan></xrdMeasurements>", "broken markup"},
  };
  for (const auto& c : cases) {
    const Result<XrdmlFile> r = parse_xrdml(c.text);
    ASSERT_FALSE(r.ok()) << c.name;
    EXPECT_EQ(r.kind(), ErrorKind::kParseError) << c.name;
    EXPECT_NE(r.error().message.find(c.words), std::string::npos) << c.name << ": " << r.error().message;
  }
  EXPECT_EQ(parse_xrdml(rsm.substr(0, rsm.find("<intensities", rsm.size() / 2) + 100)).error().message,
            "the file ends inside <intensities>: it is cut short");
  EXPECT_EQ(parse_xrdml(rsm.substr(0, rsm.size() / 2)).error().message,
            "the file ends inside <instrumentControlSoftware>: it is cut short");
}

// A file holds one measurement: two files joined by `cat`, or text before or
// after it, are refused, never read as the first measurement alone. Blanks,
// comments and processing instructions may stand around it.
TEST(XrdmlFile, NothingBesideTheMeasurement) {
  test_support::TempDir dir;
  const std::string one = document(kRange + "<intensities>1 2</intensities>");
  const std::string other = document(kRange + "<intensities>30 40</intensities>");
  const struct {
    const char* name;
    std::string text;
    std::string message;  // empty: read, with the intensities 1 and 2
  } cases[] = {
      {"two files joined", one + other,
       "broken markup: a second measurement <xrdMeasurements> after </xrdMeasurements>"},
      {"numbers after it", one + "30 40\n", "broken markup: text \"30\" outside <xrdMeasurements>"},
      {"text before it", "junk\n" + one, "broken markup: text \"junk\" outside <xrdMeasurements>"},
      {"a stray end tag after it", one + "</scan>", "broken markup: </scan> closes no element"},
      {"blanks, a comment and an instruction around it", " \r\n<!-- a -->\n" + one + "\r\n<!-- end --><?pi x?>\n\n",
       ""},
      {"nothing after it", one.substr(0, one.size() - 1), ""},
  };
  for (const auto& c : cases) {
    const std::string path = dir.write("outside.xrdml", c.text);
    for (const std::size_t piece : {1u, 5u, 1u << 16}) {
      XrdmlReadOptions o;
      o.read_size = piece;
      for (const Result<XrdmlFile>& r : {parse_xrdml(c.text), read_xrdml_file(path, o)}) {
        if (c.message.empty()) {
          ASSERT_TRUE(clean(r)) << c.name << ": " << message_of(r);
          ASSERT_EQ(r->scans.size(), 1u) << c.name;
          EXPECT_EQ(r->scans[0].values, (std::vector<double>{1, 2})) << c.name;
        } else {
          ASSERT_FALSE(r.ok()) << c.name;
          EXPECT_EQ(r.kind(), ErrorKind::kParseError) << c.name;
          EXPECT_EQ(r.error().message, c.message) << c.name << " in pieces of " << piece;
        }
      }
    }
  }
}

TEST(XrdmlFile, NumbersThatAreNotPlain) {
  const struct {
    std::string data_points;
    std::string message;  // empty: read
  } cases[] = {
      {kRange + "<intensities>1719 1,719 3</intensities>",
       "scan 1, point 2: intensity \"1,719\" is not a plain non-negative number"},
      {kRange + "<intensities>1 2 -5</intensities>",
       "scan 1, point 3: intensity \"-5\" is not a plain non-negative number"},
      {kRange + "<counts>nan 2</counts>", "scan 1, point 1: count \"nan\" is not a plain non-negative number"},
      {kRange + "<intensities>1 inf</intensities>",
       "scan 1, point 2: intensity \"inf\" is not a plain non-negative number"},
      {kRange + "<intensities>1 2 3</intensities><beamAttenuationFactors>1 0x10 1</beamAttenuationFactors>",
       "scan 1, point 2: attenuation factor \"0x10\" is not a plain non-negative number"},
      {"<positions axis=\"2Theta\"><startPosition>1O</startPosition><endPosition>2</endPosition></positions>"
       "<intensities>1 2</intensities>",
       "scan 1: start position of axis 2Theta \"1O\" is not a plain number"},
      {"<positions axis=\"Phi\"><commonPosition>1 2</commonPosition></positions><intensities>1</intensities>",
       "scan 1: common position of axis Phi holds more than one number"},
      {kRange + "<intensities>1 2</intensities><beamAttenuationFactors>1</beamAttenuationFactors>",
       "scan 1: 1 attenuation factors for 2 points"},
      {"<positions axis=\"2Theta\"><listPositions>1 2 3</listPositions></positions><intensities>1 2</intensities>",
       "scan 1: axis 2Theta has 3 positions for 2 points"},
      {"<positions axis=\"2Theta\"><startPosition>1</startPosition></positions><intensities>1 2</intensities>",
       "scan 1: axis 2Theta has no end position"},
      {"<intensities>1 2</intensities>", "scan 1: it gives no positions"},
      {kRange, "scan 1: it holds neither intensities nor counts"},
      {kRange + "<intensities>1 2</intensities><intensities>1 2</intensities>",
       "scan 1: it gives its intensities twice"},
      // Forms every number reader must take.
      {kRange + "<intensities>\r\n\t0 .5 1. 2.50 1e3 1234567890123456789 0.1000000000000000055511151231257827 " +
           "</intensities>",
       ""},
  };
  for (const auto& c : cases) {
    const Result<XrdmlFile> r = parse_xrdml(document(c.data_points));
    if (c.message.empty()) {
      ASSERT_TRUE(clean(r)) << message_of(r);
      EXPECT_EQ(r->scans[0].values, (std::vector<double>{0, 0.5, 1, 2.5, 1000, 1234567890123456789.0,
                                                         0.1000000000000000055511151231257827}));
    } else {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.kind(), ErrorKind::kParseError);
      EXPECT_EQ(r.error().message, c.message);
    }
  }
  // Decimals, signs and long mantissas convert exactly as the compiler does.
  const Result<XrdmlFile> r = parse_xrdml(document(
      "<positions axis=\"2Theta\"><listPositions>67.67550446 -0.17 -0 0.30000000000000004 123456.7890123456789 "
      "9007199254740993 0.3</listPositions></positions><intensities>1 2 3 4 5 6 7</intensities>"));
  ASSERT_TRUE(clean(r)) << message_of(r);
  const std::vector<double>& list = r->scans[0].axes[0].list;
  EXPECT_EQ(list, (std::vector<double>{67.67550446, -0.17, -0.0, 0.30000000000000004, 123456.7890123456789,
                                       9007199254740993.0, 0.3}));
  EXPECT_TRUE(std::signbit(list[2]));

  // 41 points from 21.3 to 59.26: the last one is the end position as
  // written, though 40 steps of (59.26 - 21.3) / 40 fall short of it.
  const Result<XrdmlFile> range = parse_xrdml(
      document("<positions axis=\"2Theta\"><startPosition>21.3</startPosition><endPosition>59.26</endPosition>"
               "</positions><intensities>1 2</intensities>"));
  ASSERT_TRUE(clean(range)) << message_of(range);
  const XrdmlAxis& axis = range->scans[0].axes[0];
  EXPECT_EQ(axis.position(0, 41), 21.3);
  EXPECT_NEAR(axis.position(20, 41), (21.3 + 59.26) / 2, 1e-12);
  EXPECT_EQ(axis.position(40, 41), 59.26);
}

TEST(XrdmlFile, TagsAreWholeNames) {
  // Look-alike names, a comment, a CDATA section and a declaration hold nothing to read.
  const std::string text = document(
      "<!-- <intensities>9 9</intensities> --><countsPerSecond>7 7</countsPerSecond>"
      "<![CDATA[<counts>5 5</counts>]]>" +
      kRange + "<intensitiesCorrected>8 8</intensitiesCorrected><counts>3 4</counts>");
  const Result<XrdmlFile> r = parse_xrdml("<!DOCTYPE x [<!ENTITY a '>'>]>" + text.substr(text.find("<xrdM")));
  ASSERT_TRUE(clean(r)) << message_of(r);
  EXPECT_EQ(r->scans[0].values, (std::vector<double>{3, 4}));
  EXPECT_TRUE(r->scans[0].raw_counts);
  // <scanAxisCenter> and <scans> are no scans.
  const Result<XrdmlFile> s = parse_xrdml(
      "<xrdMeasurements><scans><scanAxisCenter><position axis=\"Phi\">0</position></scanAxisCenter>"
      "<scan scanAxis=\"2Theta\"><dataPoints>" +
      kRange + "<intensities>1 2</intensities></dataPoints></scan></scans></xrdMeasurements>");
  ASSERT_TRUE(s.ok()) << message_of(s);
  EXPECT_EQ(s.warnings(), (std::vector<std::string>{"no kAlpha1 wavelength in the file, wavelength = 0"}));
  EXPECT_EQ(s->wavelength, 0.0);
  EXPECT_EQ(s->scans.size(), 1u);
}

TEST(XrdmlFile, AxisAndCountingTime) {
  const std::string two_theta_fixed =
      "<positions axis=\"2Theta\"><commonPosition>40</commonPosition></positions>"
      "<positions axis=\"Omega\"><startPosition>1</startPosition><endPosition>3</endPosition></positions>"
      "<positions axis=\"Phi\"><listPositions>0 90 180</listPositions></positions>";
  const struct {
    std::string scan_attributes, axis_option;
    std::vector<double> x;
    std::string axis;
  } cases[] = {
      {"scanAxis=\"Phi\"", "", {0, 90, 180}, "Phi"},          // the scan's own axis
      {"scanAxis=\"Omega-2Theta\"", "", {1, 2, 3}, "Omega"},  // else the first axis that moves
      {"scanAxis=\"Phi\"", "OMEGA", {1, 2, 3}, "Omega"},
      {"scanAxis=\"Phi\"", "2theta", {40, 40, 40}, "2Theta"},
  };
  for (const auto& c : cases) {
    const Result<XrdmlFile> r = parse_xrdml(document(
        two_theta_fixed + "<countingTimes>1 2 4</countingTimes><intensities>8 8 8</intensities>", c.scan_attributes));
    ASSERT_TRUE(clean(r)) << message_of(r);
    XrdmlValueOptions o;
    o.axis = c.axis_option;
    o.cps = true;
    const XrdmlValues v = values_of(r->scans[0], o);
    EXPECT_EQ(v.x, c.x);
    EXPECT_EQ(v.axis, c.axis);
    EXPECT_EQ(v.y, (std::vector<double>{8, 4, 2}));  // per-point counting times
  }
  const Result<XrdmlFile> r = parse_xrdml(document(two_theta_fixed + "<intensities>8 8 8</intensities>"));
  XrdmlValueOptions o;
  o.axis = "Chi";
  const Result<XrdmlValues> chi = xrdml_values(r->scans[0], o);
  ASSERT_FALSE(chi.ok());
  EXPECT_EQ(chi.kind(), ErrorKind::kNotFound);
  EXPECT_EQ(chi.error().message, "scan 1 has no axis Chi");
  o = {};
  o.cps = true;
  const Result<XrdmlValues> no_time = xrdml_values(r->scans[0], o);
  ASSERT_FALSE(no_time.ok());
  EXPECT_EQ(no_time.kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(no_time.error().message, "scan 1 gives no counting time: no counts per second");
  const Result<XrdmlFile> zero = parse_xrdml(
      document(kRange + "<commonCountingTime unit=\"seconds\">0</commonCountingTime><intensities>1 2</intensities>"));
  const Result<XrdmlValues> v = xrdml_values(zero->scans[0], o);
  ASSERT_FALSE(v.ok());
  EXPECT_EQ(v.kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(v.error().message, "scan 1, point 1: counting time 0, no counts per second");
}

// A file's text in a message cannot act on the terminal that prints it.
TEST(XrdmlFile, InputTextInMessagesIsEscaped) {
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"<\x1b]0;owned\x07><scan/></\x1b]0;owned\x07>",
       "not an XRDML file: its first element is <\\x1b]0;owned\\x07>, not <xrdMeasurements>"},
      {document(kRange + "<intensities>1 1\x1b[2J 3</intensities>"),
       "scan 1, point 2: intensity \"1\\x1b[2J\" is not a plain non-negative number"},
      {document("<positions axis=\"2Theta\x1b[31m\"><startPosition>1</startPosition></positions>"
                "<intensities>1 2</intensities>"),
       "scan 1: axis 2Theta\\x1b[31m has no end position"},
      {document(kRange + "<intensities>1 2</intensities\x1b[8m>"),
       "broken markup: </intensities\\x1b[8m> closes <intensities>"},
      {"<xrdMeasurements><scan\u009b2J>", "the file ends inside <scan\\u009b2J>: it is cut short"},
  };
  for (const auto& c : cases) {
    const Result<XrdmlFile> r = parse_xrdml(c.text);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, c.message);
  }
  const Result<XrdmlFile> r = parse_xrdml(document(kRange + "<intensities>1 2</intensities>"));
  XrdmlValueOptions o;
  o.axis = "Chi\x1b[2J";
  EXPECT_EQ(xrdml_values(r->scans[0], o).error().message, "scan 1 has no axis Chi\\x1b[2J");
  EXPECT_EQ(read_xrdml_file("/no/such/\x1b[2J.xrdml").error().message, "file not found: /no/such/\\x1b[2J.xrdml");
}

// Every number read is finite; what they give is checked too.
TEST(XrdmlFile, ValuesBeyondTheDoubleRange) {
  const std::string huge_range =
      "<positions axis=\"2Theta\"><startPosition>-1.7e308</startPosition><endPosition>1.7e308</endPosition>"
      "</positions>";
  const struct {
    std::string data_points;
    bool cps;
    std::string message;
  } cases[] = {
      {huge_range + "<intensities>1 2 3</intensities>", false,
       "scan 1, point 1: the position of axis 2Theta is beyond the range of a double"},
      {kRange + "<counts>1 2</counts><beamAttenuationFactors>1 1e308</beamAttenuationFactors>", false,
       "scan 1, point 2: the intensity is beyond the range of a double"},
      {kRange + "<intensities>1e308 2</intensities><beamAttenuationFactors>1e308 1</beamAttenuationFactors>", false,
       "scan 1, point 1: the error is beyond the range of a double"},
      {kRange + "<intensities>1 1e300</intensities><countingTimes>1 1e-300</countingTimes>", true,
       "scan 1, point 2: counts per second is beyond the range of a double"},
  };
  for (const auto& c : cases) {
    const Result<XrdmlFile> r = parse_xrdml(document(c.data_points));
    ASSERT_TRUE(clean(r)) << message_of(r);
    XrdmlValueOptions o;
    o.cps = c.cps;
    const Result<XrdmlValues> v = xrdml_values(r->scans[0], o);
    ASSERT_FALSE(v.ok());
    EXPECT_EQ(v.kind(), ErrorKind::kOutOfRange);
    EXPECT_EQ(v.error().message, c.message);
  }
  // Near the edge but inside it: read as written.
  const Result<XrdmlFile> edge = parse_xrdml(document(
      "<positions axis=\"2Theta\"><startPosition>-1e307</startPosition><endPosition>1e307</endPosition></positions>"
      "<intensities>1e308 0 4</intensities>"));
  ASSERT_TRUE(clean(edge)) << message_of(edge);
  const XrdmlValues v = values_of(edge->scans[0]);
  EXPECT_EQ(v.x, (std::vector<double>{-1e307, 0, 1e307}));
  EXPECT_EQ(v.y, (std::vector<double>{1e308, 0, 4}));
  EXPECT_EQ(v.e, (std::vector<double>{1e154, 0, 2}));
  // The mean wavelength (1e308 + 1 x 1e308) / 2 overflows on the way.
  const Result<XrdmlFile> lambda = parse_xrdml(
      document(kRange + "<intensities>1 2</intensities>", "scanAxis=\"2Theta\"",
               "<kAlpha1>1e308</kAlpha1><kAlpha2>1e308</kAlpha2><ratioKAlpha2KAlpha1>1</ratioKAlpha2KAlpha1>"));
  ASSERT_FALSE(lambda.ok());
  EXPECT_EQ(lambda.kind(), ErrorKind::kParseError);
  EXPECT_EQ(lambda.error().message, "the wavelength (kAlpha1 + ratio kAlpha2) / (1 + ratio) is too large to compute");
}

// A wavelength is in Angstrom, as the files write it; one in nm is converted,
// and any other unit is refused rather than read as Angstrom.
TEST(XrdmlFile, WavelengthUnits) {
  const auto read = [](const std::string& lines) {
    return parse_xrdml(document(kRange + "<intensities>1 2</intensities>", "scanAxis=\"2Theta\"", lines));
  };
  const Result<XrdmlFile> nm = read(
      "<kAlpha1 unit=\"nm\">0.15405980</kAlpha1><kAlpha2 unit=\"nm\">0.15444260</kAlpha2>"
      "<ratioKAlpha2KAlpha1>0.5</ratioKAlpha2KAlpha1>");
  ASSERT_TRUE(nm.ok()) << nm.error().message;
  EXPECT_DOUBLE_EQ(nm->k_alpha1, 1.5405980);
  EXPECT_DOUBLE_EQ(nm->k_alpha2, 1.5444260);
  EXPECT_NEAR(nm->wavelength, (1.5405980 + 0.5 * 1.5444260) / 1.5, 1e-12);
  const Result<XrdmlFile> pm = read("<kAlpha1 unit=\"pm\">154.05980</kAlpha1>");
  ASSERT_FALSE(pm.ok());
  EXPECT_EQ(pm.kind(), ErrorKind::kUnsupported);
  EXPECT_EQ(pm.error().message, "kAlpha1 is in \"pm\": Angstrom or nm expected");
}

// The line the measurement meant, as usedWavelength's intended attribute says: the real files' "K-Alpha 1".
TEST(XrdmlFile, IntendedWavelength) {
  for (const char* name : {"single_scan_counts.xrdml", "schema10_attenuated.xrdml", "polefigure_91_scans.xrdml"}) {
    const Result<XrdmlFile> r = read_xrdml_file(data_file(name));
    ASSERT_TRUE(r.ok()) << name;
    EXPECT_EQ(r->intended_wavelength, "K-Alpha 1") << name;
  }
  const Result<XrdmlFile> none =
      parse_xrdml(document(kRange + "<intensities>1 2</intensities>", "scanAxis=\"2Theta\"", "<kAlpha1>1.5</kAlpha1>"));
  ASSERT_TRUE(none.ok());
  EXPECT_EQ(none->intended_wavelength, "");
}

// Angles in radians are degrees once read (20 deg = pi/9 rad); an angle in
// another unit is refused, where the stage's linear axes keep their mm.
TEST(XrdmlFile, PositionUnits) {
  const double pi = 3.14159265358979323846;
  const Result<XrdmlFile> rad = parse_xrdml(document(
      "<positions axis=\"2Theta\" unit=\"rad\"><listPositions>0.3490658503988659 0.5235987755982988"
      "</listPositions></positions><positions axis=\"Omega\" unit=\"rad\"><commonPosition>0.1</commonPosition>"
      "</positions><positions axis=\"Z\" unit=\"mm\"><commonPosition>1.5</commonPosition></positions>"
      "<intensities>1 2</intensities>"));
  ASSERT_TRUE(rad.ok()) << rad.error().message;
  const XrdmlScan& scan = rad->scans[0];
  EXPECT_NEAR(scan.axes[0].list[0], 20.0, 1e-12);
  EXPECT_NEAR(scan.axes[0].list[1], 30.0, 1e-12);
  EXPECT_EQ(scan.axes[0].unit, "deg");
  EXPECT_NEAR(scan.axes[1].start, 0.1 * 180 / pi, 1e-12);
  EXPECT_EQ(scan.axes[2].start, 1.5);
  EXPECT_EQ(scan.axes[2].unit, "mm");
  const XrdmlValues v = values_of(scan);
  EXPECT_NEAR(v.x[1], 30.0, 1e-12);
  const Result<XrdmlFile> grad = parse_xrdml(document(
      "<positions axis=\"2Theta\" unit=\"grad\"><startPosition>10</startPosition><endPosition>12</endPosition>"
      "</positions><intensities>1 2</intensities>"));
  ASSERT_FALSE(grad.ok());
  EXPECT_EQ(grad.kind(), ErrorKind::kUnsupported);
  EXPECT_EQ(grad.error().message, "scan 1: axis 2Theta is in \"grad\": deg or rad expected");
}

// Each list is given room for its numbers before they are read: no memory
// beyond what the result holds, whatever came before in the file.
TEST(XrdmlFile, ListsTakeExactlyTheirNumbers) {
  for (const char* name : {"polefigure_91_scans.xrdml", "rsm_401_scans_list_positions.xrdml",
                           "single_scan_counts.xrdml", "schema10_attenuated.xrdml"}) {
    const Result<XrdmlFile> r = read_xrdml_file(data_file(name));
    ASSERT_TRUE(clean(r)) << name << ": " << message_of(r);
    for (const XrdmlScan& scan : r->scans) {
      EXPECT_EQ(scan.values.capacity(), scan.values.size()) << name << " scan " << scan.number;
      EXPECT_EQ(scan.attenuation.capacity(), scan.attenuation.size()) << name << " scan " << scan.number;
      for (const XrdmlAxis& a : scan.axes) EXPECT_EQ(a.list.capacity(), a.list.size()) << name << " " << a.name;
    }
  }
  // Any blanks between and around the numbers, words across 8-byte boundaries.
  for (const std::string numbers : {"1", " 1", "1 ", "\r\n\t1  22\t333\r\n 4444 55555    6 ", "12345678 1 12345678",
                                    "        1", "1        2        3", "0.5 .5 5. 1e3 \n"}) {
    const Result<XrdmlFile> r = parse_xrdml(document(kRange + "<intensities>" + numbers + "</intensities>"));
    ASSERT_TRUE(clean(r)) << message_of(r);
    EXPECT_EQ(r->scans[0].values.capacity(), r->scans[0].values.size()) << numbers;
  }
  // A scan of 3 points after one of 1199 takes room for 3.
  const std::string two =
      document(kRange + "<intensities>" + replace_all(std::string(1199, '7'), "7", "7 ") +
               "</intensities></dataPoints></scan><scan><dataPoints>" + kRange + "<intensities>1 2 3</intensities>");
  const Result<XrdmlFile> r = parse_xrdml(two);
  ASSERT_TRUE(clean(r)) << message_of(r);
  ASSERT_EQ(r->scans.size(), 2u);
  EXPECT_EQ(r->scans[0].values.capacity(), 1199u);
  EXPECT_EQ(r->scans[1].values.capacity(), 3u);
}

// The file is read a piece at a time: wherever the pieces end (inside a
// number, a tag, a comment longer than a piece, the byte-order mark), the
// result is that of the whole text, errors and their messages included.
TEST(XrdmlFile, PiecesReadAsTheWholeText) {
  test_support::TempDir dir;
  const std::string map = slurp(data_file("rsm_401_scans_list_positions.xrdml"));
  const std::string single = slurp(data_file("single_scan_counts.xrdml"));
  const std::string comment = "<!-- " + std::string(5000, '-').replace(0, 1, " ") + " -->";
  const std::string texts[] = {
      map,
      "\xEF\xBB\xBF" + replace_all(single, "\n", "\r\n"),
      replace_all(single, "<dataPoints>", "<dataPoints>" + comment),
      document(kRange + "<intensities> 1 0.1000000000000000055511151231257827 12345678901234567890 1e3 \r\n" +
               std::string(300, ' ') + "7 </intensities>"),
      map.substr(0, map.size() / 2),                                          // cut short
      document(kRange + "<intensities>1 2 123456789012x45 4</intensities>"),  // a bad number
      document(kRange + "<intensities>1 2</intensities\x1b>"),                // broken markup
  };
  for (const std::string& text : texts) {
    const std::string path = dir.write("pieces.xrdml", text);
    const Result<XrdmlFile> whole = parse_xrdml(text);
    for (const std::size_t piece : {1u, 2u, 3u, 7u, 64u, 4099u, 1u << 16}) {
      if (piece < 64 && text.size() > 100000) continue;  // a syscall every few bytes of 2 MB: slow, no news
      XrdmlReadOptions o;
      o.read_size = piece;
      const Result<XrdmlFile> r = read_xrdml_file(path, o);
      const std::string where = std::to_string(text.size()) + " bytes in pieces of " + std::to_string(piece);
      ASSERT_EQ(r.ok(), whole.ok()) << where << ": " << message_of(r);
      EXPECT_EQ(message_of(r), message_of(whole)) << where;
      EXPECT_EQ(r.warnings(), whole.warnings()) << where;
      if (!r.ok()) {
        EXPECT_EQ(r.kind(), whole.kind()) << where;
        continue;
      }
      ASSERT_EQ(r->scans.size(), whole->scans.size()) << where;
      EXPECT_EQ(r->wavelength, whole->wavelength) << where;
      for (std::size_t k = 0; k < r->scans.size(); ++k) {
        const XrdmlScan &a = r->scans[k], &b = whole->scans[k];
        EXPECT_EQ(a.values, b.values) << where << " scan " << k + 1;
        EXPECT_EQ(a.values.capacity(), a.values.size()) << where << " scan " << k + 1;
        EXPECT_EQ(a.attenuation, b.attenuation) << where;
        EXPECT_EQ(a.common_time, b.common_time) << where;
        ASSERT_EQ(a.axes.size(), b.axes.size()) << where;
        for (std::size_t i = 0; i < a.axes.size(); ++i) {
          EXPECT_EQ(a.axes[i].name, b.axes[i].name) << where;
          EXPECT_EQ(a.axes[i].list, b.axes[i].list) << where;
          EXPECT_EQ(a.axes[i].start, b.axes[i].start) << where;
          EXPECT_EQ(a.axes[i].end, b.axes[i].end) << where;
        }
      }
    }
  }
}

TEST(XrdmlFile, InputThatIsNoRegularFile) {
  test_support::TempDir dir;
  const std::string fifo = dir.file("fifo.xrdml");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    std::string message;
  } cases[] = {
      {"/dev/zero", "not a regular file: /dev/zero"},
      {fifo, "not a regular file: " + fifo},  // no writer: must not wait for one
      {dir.path().string(), "not a regular file: " + dir.path().string()},
      {dir.file("missing.xrdml"), "file not found: " + dir.file("missing.xrdml")},
  };
  for (const auto& c : cases) {
    const Result<XrdmlFile> r = read_xrdml_file(c.path);
    ASSERT_FALSE(r.ok()) << c.path;
    EXPECT_EQ(r.error().message, c.message);
    EXPECT_EQ(r.kind(), c.message.starts_with("file not found") ? ErrorKind::kNotFound : ErrorKind::kIoError);
  }
  // The size limit is checked before anything is read.
  XrdmlReadOptions small;
  small.max_file_size = 1000;
  const Result<XrdmlFile> large = read_xrdml_file(data_file("schema15_2theta.xrdml"), small);
  ASSERT_FALSE(large.ok());
  EXPECT_EQ(large.kind(), ErrorKind::kIoError);
  EXPECT_TRUE(large.error().message.starts_with("file larger than 1000 bytes: ")) << large.error().message;

  // The summed reader refuses them too, and a file in which it finds no scan.
  std::vector<double> x(10), y(10), e(10);
  std::ostringstream out;
  EXPECT_EQ(classic::readxrdml("/dev/zero", x, y, e, 0, 0, 0, out).status.ierr, 1);
  EXPECT_EQ(classic::readxrdml(fifo, x, y, e, 0, 0, 0, out).status.ierr, 1);
  const std::string one_line =
      dir.write("one_line.xrdml", replace_all(slurp(data_file("schema15_2theta.xrdml")), "\n", ""));
  const classic::XrdmlResult none = classic::readxrdml(one_line, x, y, e, 0, 0, 0, out);
  EXPECT_EQ(none.status.ierr, 17);
  EXPECT_EQ(none.status.message, "No scan in file");
  EXPECT_TRUE(clean(read_xrdml_file(one_line)));
}

}  // namespace
}  // namespace talvo
