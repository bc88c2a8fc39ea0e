// Patterns in: text columns, XRDML, errors, background, outliers.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>

#include "talvo/pdf/pattern.hpp"

namespace talvo::pdf {
namespace {

std::string file_text(const std::string& name) {
  std::ifstream in(std::string(TALVO_TEST_FILES_DIR) + name);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(PdfPattern, TextLayoutsReadTheSameRows) {
  struct Case {
    const char* name;
    const char* text;
  };
  const Case cases[] = {
      {"plain", "10 100\n10.5 121\n11 144\n"},
      {"hash and blank lines", "# 2theta I\n\n10 100\n# note\n10.5 121\n11 144\n"},
      {"apostrophe and bang comments", "'Id: \"\" Anode: \"Mo\"\n! exported\n10 100\r\n10.5 121\r\n11 144\r\n"},
      {"chi header", "title\n2-Theta Angle (Degrees)\nIntensity\n       3\n 10 100\n 10.5 121\n 11 144\n"},
      {"commas and tabs", "10,100\n10.5\t121\n11 , 144\n"},
      {"UTF-8 byte-order mark", "\xef\xbb\xbf" "10 100\n10.5 121\n11 144\n"},
  };
  for (const Case& c : cases) {
    const Result<Pattern> p = parse_text_pattern(c.text, Abscissa::kTwoTheta, "t");
    ASSERT_TRUE(p.ok()) << c.name << ": " << p.error().message;
    ASSERT_EQ(p->x.size(), 3u) << c.name;
    EXPECT_EQ(p->x[1], 10.5) << c.name;
    EXPECT_EQ(p->y[2], 144.0) << c.name;
    EXPECT_EQ(p->sigma_source, SigmaSource::kCounts) << c.name;
    EXPECT_EQ(p->sigma[0], 10.0) << c.name;  // sqrt(100)
    EXPECT_EQ(p->sigma[2], 12.0) << c.name;
  }
}

TEST(PdfPattern, ThirdColumnIsSigma) {
  const Result<Pattern> p = parse_text_pattern("1 5.5 0.25\n2 6.5 0.5\n3 7.5 1\n", Abscissa::kQA, "t");
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p->sigma_source, SigmaSource::kColumn);
  EXPECT_EQ(p->sigma[1], 0.5);
  EXPECT_TRUE(p.warnings().empty());
}

TEST(PdfPattern, ZeroCountsGetTheErrorOfOneCount) {
  const Result<Pattern> p = parse_text_pattern("1 0\n2 4\n3 9\n", Abscissa::kQA, "t");
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p->sigma[0], 1.0);
  EXPECT_EQ(p->sigma[1], 2.0);
}

// Intensities that are not counts: the errors scale sqrt(I) by the scatter
// of the points about their neighbours, which the test knows.
TEST(PdfPattern, ErrorsOfNonCountsFollowTheirScatter) {
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 1.0);
  const double k = 0.03;
  std::string text;
  for (int i = 0; i < 4000; ++i) {
    const double x = 2.0 + 0.02 * i;
    const double y = 50.0 + 30.0 * std::exp(-x / 20.0);
    text += std::to_string(x) + " " + std::to_string(y + k * std::sqrt(y) * noise(rng)) + "\n";
  }
  const Result<Pattern> p = parse_text_pattern(text, Abscissa::kTwoTheta, "t");
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p->sigma_source, SigmaSource::kScaled);
  EXPECT_NEAR(p->sigma_scale, k, 0.1 * k);
  ASSERT_EQ(p.warnings().size(), 1u);
  EXPECT_NE(p.warnings()[0].find("not whole counts"), std::string::npos);
}

TEST(PdfPattern, BadTextSaysWhatToChange) {
  struct Case {
    std::string_view text;
    ErrorKind kind;
    const char* says;
  };
  const Case cases[] = {
      {"1\n2\n3\n", ErrorKind::kParseError, "2 columns"},
      {"1 2 3 4\n", ErrorKind::kParseError, "2 columns"},
      {"1 2\n2 3 4\n3 4\n", ErrorKind::kParseError, "line 2: 3 columns where the first row has 2"},
      {"1 2\n2 nan\n3 4\n", ErrorKind::kInvalidArgument, "line 2: \"nan\" is not a finite number"},
      {"1 2\n2 inf\n3 4\n", ErrorKind::kInvalidArgument, "not a finite number"},
      {"1 2\n1 3\n3 4\n", ErrorKind::kInvalidArgument, "sort the pattern"},
      {"1 2 1\n2 3 0\n3 4 1\n", ErrorKind::kInvalidArgument, "sigma = 0 must be above 0"},
      {"# nothing\n1 2\n", ErrorKind::kInvalidArgument, "1 data rows; a pattern needs at least 3"},
      // What the row holds is quoted escaped: an escape sequence does not reach the terminal.
      {"1 2\n2 3\x1b[2J\n3 4\n", ErrorKind::kInvalidArgument, "line 2: \"3\\x1b[2J\" is not a finite number"},
      // UTF-16 (as some Windows programs save) is said once, not quoted NUL by NUL.
      {std::string_view("\xff\xfe" "1\0 \0" "2\0\n\0", 10), ErrorKind::kParseError, "holds NUL bytes (UTF-16 text?)"},
  };
  for (const Case& c : cases) {
    const Result<Pattern> p = parse_text_pattern(c.text, Abscissa::kTwoTheta, "data.xy");
    ASSERT_FALSE(p.ok()) << c.text;
    EXPECT_EQ(p.kind(), c.kind) << c.text;
    EXPECT_NE(p.error().message.find(c.says), std::string::npos) << p.error().message;
    EXPECT_NE(p.error().message.find("data.xy"), std::string::npos) << p.error().message;
  }
}

TEST(PdfPattern, AbscissaStatedByAColumnsName) {
  const double to_degrees = 180.0 / 3.141592653589793;
  const struct {
    const char* name;
    std::optional<Abscissa> abscissa;
    double scale;
  } cases[] = {
      {"Q (Inverse Nanometres)", Abscissa::kQnm, 1},  // Fit2D
      {"q_nm^-1", Abscissa::kQnm, 1},                 // pyFAI
      {"Q($\\AA^{-1}$)", Abscissa::kQA, 1},           // the reference program's #L
      {"Q (1/A)", Abscissa::kQA, 1},
      {"q_A^-1", Abscissa::kQA, 1},
      {"Q [\xc3\x85\xe2\x81\xbb\xc2\xb9]", Abscissa::kQA, 1},  // Q [Å⁻¹]
      {"2-Theta Angle (Degrees)", Abscissa::kTwoTheta, 1},
      {"2\xce\xb8", Abscissa::kTwoTheta, 1},  // 2θ
      {"2th_deg", Abscissa::kTwoTheta, 1},
      {"2theta (rad)", Abscissa::kTwoTheta, to_degrees},
      {"Q", std::nullopt, 0},  // no unit
      {"Quality", std::nullopt, 0},
      {"Intensity", std::nullopt, 0},
      {"", std::nullopt, 0},
  };
  for (const auto& c : cases) {
    const std::optional<StatedAbscissa> s = abscissa_stated(c.name);
    ASSERT_EQ(s.has_value(), c.abscissa.has_value()) << c.name;
    if (!s) continue;
    EXPECT_EQ(s->abscissa, *c.abscissa) << c.name;
    EXPECT_NEAR(s->scale, c.scale, 1e-15) << c.name;
  }
}

// The files people have: a Fit2D .chi and the reference program's output, read as their headers say.
TEST(PdfPattern, ReferenceFilesReadAsTheirHeadersSay) {
  const std::string dir = "pdf_reference/ni_kapton_synchrotron/";
  // Whatever the caller's default, each header decides the unit.
  const Result<Pattern> chi = parse_text_pattern(file_text(dir + "ni.chi"), Abscissa::kTwoTheta, "ni.chi");
  ASSERT_TRUE(chi.ok()) << chi.error().message;
  EXPECT_EQ(chi->abscissa, Abscissa::kQnm);
  EXPECT_EQ(chi->abscissa_label, "Q (Inverse Nanometres)");
  EXPECT_EQ(chi->x.size(), 2000u);  // the header's count
  EXPECT_EQ(chi->x.front(), 8.7399699E-02);
  EXPECT_FALSE(chi->subtracted_background);
  const Result<Pattern> iq = parse_text_pattern(file_text(dir + "ni.iq"), Abscissa::kQnm, "ni.iq");
  ASSERT_TRUE(iq.ok()) << iq.error().message;
  EXPECT_EQ(iq->abscissa, Abscissa::kQA);  // its #L, not its header's dataformat = Qnm
  EXPECT_EQ(iq->abscissa_label, "Q($\\AA^{-1}$)");
  EXPECT_EQ(iq->x.front(), 0.11362);
  EXPECT_EQ(iq->subtracted_background, "0.0848180823037 x Kapton-bkg.chi");
  // Both cover the same measurement: the .iq's Q in 1/A lies within the .chi's Q in 1/nm over 10.
  EXPECT_GE(iq->x.front(), chi->x.front() / 10);
  EXPECT_LE(iq->x.back(), chi->x.back() / 10);
  EXPECT_GT(iq->x.back(), 31.0);
  // The other outputs hold no pattern.
  for (const auto& [file, what] : {std::pair{"ni.sq", "S(Q)"}, {"ni.fq", "F(Q)"}, {"ni.gr", "G(r)"}}) {
    const Result<Pattern> p = parse_text_pattern(file_text(dir + file), Abscissa::kQA, file);
    ASSERT_FALSE(p.ok()) << file;
    EXPECT_EQ(p.error().message, std::string(file) + " holds the reference program's " + what +
                                     " (outputtype = " + std::string(file).substr(3) +
                                     "), not a measured pattern: reduce the pattern it was made from (inputfile = "
                                     "Ni.chi) or its I(Q) (outputtype = iq)");
  }
  // A 2theta column in radians is read in degrees.
  const Result<Pattern> rad = parse_text_pattern("t\n2theta (rad)\nI\n3\n0.5 1\n0.6 2\n0.7 3\n", Abscissa::kQA, "r");
  ASSERT_TRUE(rad.ok());
  EXPECT_EQ(rad->abscissa, Abscissa::kTwoTheta);
  EXPECT_NEAR(rad->x[1], 0.6 * 180 / 3.141592653589793, 1e-12);
}

// The x unit named by pyFAI's column line or a Fit2D .chi's x name: 2theta
// and Q are read as they say; any other unit (a radius, an azimuth) is kept
// for the caller to refuse, the pattern read with the caller's abscissa.
TEST(PdfPattern, XUnitOfPyFaiAndFit2DColumnNames) {
  const std::string pyfai = "# == pyFAI calibration ==\n# Wavelength: 1.0e-10 m\n# --> /data/ni.edf\n";
  const std::string chi = "ni.edf\n";
  const std::string rows = "1 5\n2 6\n3 7\n";
  const struct {
    std::string text;
    std::optional<Abscissa> abscissa;  // none: kept as foreign
    const char* label;
  } cases[] = {
      {pyfai + "#       q_A^-1             I \n" + rows, Abscissa::kQA, "q_A^-1"},
      {pyfai + "#       q_nm^-1            I \n" + rows, Abscissa::kQnm, "q_nm^-1"},
      {pyfai + "#      2th_deg             I        sigma \n1 5 1\n2 6 1\n3 7 1\n", Abscissa::kTwoTheta, "2th_deg"},
      {pyfai + "#\n#  q_A^-1  I\n\n" + rows, Abscissa::kQA, "q_A^-1"},  // blank lines between
      {pyfai + "#        r_mm              I \n" + rows, std::nullopt, "r_mm"},
      {pyfai + "#      chi_deg             I \n" + rows, std::nullopt, "chi_deg"},
      {pyfai + "#     d*2_A^-2             I \n" + rows, std::nullopt, "d*2_A^-2"},
      {chi + "Radial distance (mm)\nIntensity\n     3\n" + rows, std::nullopt, "Radial distance (mm)"},
      {chi + "Radius (pixels)\nIntensity\n     3\n" + rows, std::nullopt, "Radius (pixels)"},
      {chi + "Azimuth (Degrees)\nIntensity\n     3\n" + rows, std::nullopt, "Azimuth (Degrees)"},
      {chi + "Quality factor\nIntensity\n     3\n" + rows, std::nullopt, "Quality factor"},
      {chi + "Q (Inverse Angstroms)\nIntensity\n     3\n" + rows, Abscissa::kQA, "Q (Inverse Angstroms)"},
  };
  for (const auto& c : cases) {
    const Result<Pattern> p = parse_text_pattern(c.text, Abscissa::kTwoTheta, "f");
    ASSERT_TRUE(p.ok()) << c.label << ": " << p.error().message;
    EXPECT_EQ(p->x[1], 2.0) << c.label;
    if (c.abscissa) {
      EXPECT_EQ(p->abscissa, *c.abscissa) << c.label;
      EXPECT_EQ(p->abscissa_label, c.label);
      EXPECT_EQ(p->foreign_abscissa, "") << c.label;
    } else {
      EXPECT_EQ(p->abscissa, Abscissa::kTwoTheta) << c.label;
      EXPECT_EQ(p->abscissa_label, "") << c.label;
      EXPECT_EQ(p->foreign_abscissa, c.label);
    }
  }
  // Column lines that state nothing leave the caller's abscissa, and nothing to refuse.
  for (const std::string& text :
       {"# x I\n" + rows, "# Q I\n" + rows, "# 2theta scan of ni\n" + rows, "#  q_A^-1  I  sigma\n" + rows}) {
    const Result<Pattern> p = parse_text_pattern(text, Abscissa::kQnm, "f");
    ASSERT_TRUE(p.ok()) << text;
    EXPECT_EQ(p->abscissa, Abscissa::kQnm) << text;
    EXPECT_EQ(p->foreign_abscissa, "") << text;
  }
  // The real nickel pattern as pyFAI lays it out reads as its Fit2D .chi does.
  const std::string fit2d = file_text("pdf_reference/ni_kapton_synchrotron/ni.chi");
  std::string as_pyfai = pyfai + "#       q_nm^-1             I \n";
  std::size_t at = 0;
  for (int line = 0; line < 4; ++line) at = fit2d.find('\n', at) + 1;
  as_pyfai += fit2d.substr(at);
  const Result<Pattern> a = parse_text_pattern(fit2d, Abscissa::kTwoTheta, "ni.chi");
  const Result<Pattern> b = parse_text_pattern(as_pyfai, Abscissa::kTwoTheta, "ni_pyfai.chi");
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_EQ(b->abscissa, Abscissa::kQnm);
  EXPECT_EQ(a->x, b->x);
  EXPECT_EQ(a->y, b->y);
}

TEST(PdfPattern, ColumnsInMemoryAreCheckedAsRows) {
  const Result<Pattern> p = pattern_of_columns({1, 2, 3}, {4, 9, 16}, {}, Abscissa::kQA, "the array");
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p->sigma, (std::vector<double>{2, 3, 4}));  // counts
  const struct {
    std::vector<double> x, y, s;
    const char* message;
  } bad[] = {
      {{1, 2, 2}, {1, 1, 1}, {}, "row 3 of the array: x = 2 does not increase; sort the pattern by x"},
      {{1, 2, 3}, {1, NAN, 1}, {}, "row 2 of the array: a value is not a finite number; remove or fix the row"},
      {{1, 2, 3}, {1, 1, 1}, {1, 0, 1}, "row 2 of the array: sigma = 0 must be above 0"},
      {{1, 2}, {1, 1}, {}, "the array: 2 data rows; a pattern needs at least 3"},
  };
  for (const auto& c : bad) {
    const Result<Pattern> r = pattern_of_columns(c.x, c.y, c.s, Abscissa::kQA, "the array");
    ASSERT_FALSE(r.ok()) << c.message;
    EXPECT_EQ(r.error().message, c.message);
  }
}

TEST(PdfPattern, QOfEachAbscissa) {
  Pattern p;
  p.x = {30.0, 60.0, 90.0};
  p.y = p.sigma = {1, 1, 1};
  const Result<std::vector<double>> q = q_of(p, 1.5405980);
  ASSERT_TRUE(q.ok());
  // 4 pi sin(15 deg) / lambda, by hand: 4 pi 0.25881904510252074 / 1.540598.
  EXPECT_NEAR((*q)[0], 2.11113868953018, 1e-12);
  EXPECT_FALSE(q_of(p, std::nullopt).ok());
  EXPECT_NE(q_of(p, std::nullopt).error().message.find("give the wavelength"), std::string::npos);
  p.abscissa = Abscissa::kQnm;
  EXPECT_EQ((*q_of(p, std::nullopt))[2], 9.0);
  p.abscissa = Abscissa::kTwoTheta;
  p.x = {30.0, 60.0, 190.0};
  EXPECT_FALSE(q_of(p, 1.0).ok());
}

TEST(PdfPattern, XrdmlWavelengthAsIntended) {
  const std::string text = file_text("xrdml/single_scan_counts.xrdml");
  const Result<Pattern> ka1 = parse_xrdml_pattern(text, 0, "f");
  ASSERT_TRUE(ka1.ok()) << ka1.error().message;
  EXPECT_EQ(*ka1->wavelength, 1.5405980);
  EXPECT_EQ(ka1->wavelength_line, "K-Alpha 1");
  std::string mean = text;
  mean.replace(mean.find("intended=\"K-Alpha 1\""), 20, "intended=\"K-Alpha\"");
  // This file weighs Kalpha2 by 0; a tube's usual 0.5 shows the mean.
  mean.replace(mean.find("<ratioKAlpha2KAlpha1>0.0000"), 27, "<ratioKAlpha2KAlpha1>0.5000");
  const Result<Pattern> ka = parse_xrdml_pattern(mean, 0, "f");
  ASSERT_TRUE(ka.ok());
  // (Ka1 + 0.5 Ka2) / 1.5 with the file's lines.
  EXPECT_NEAR(*ka->wavelength, (1.5405980 + 0.5 * 1.5444260) / 1.5, 1e-12);
  EXPECT_GT(ka1->x.size(), 100u);
  EXPECT_EQ(ka1->sigma_source, SigmaSource::kCounts);
}

// The line usedWavelength intends is the one used; one the file does not
// give leaves no wavelength, and a warning that says so.
TEST(PdfPattern, XrdmlWavelengthOfEachIntendedLine) {
  const std::string text = file_text("xrdml/single_scan_counts.xrdml");
  const std::string intended = "intended=\"K-Alpha 1\"";
  const auto with = [&](const std::string& line, const char* drop = nullptr) {
    std::string t = text;
    t.replace(t.find(intended), intended.size(), "intended=\"" + line + "\"");
    if (drop) {
      const std::size_t from = t.find(std::string("<") + drop), to = t.find(std::string("</") + drop + ">");
      t.erase(from, to + std::string(drop).size() + 3 - from);
    }
    return t;
  };
  const struct {
    std::string content;
    std::optional<double> wavelength;  // the file's own lines
    const char* line;
    const char* warning;
  } cases[] = {
      {with("K-Beta"), 1.3922500, "K-Beta", ""},
      {with("K-Alpha 2"), 1.5444260, "K-Alpha 2", ""},
      {with("K-Alpha 1"), 1.5405980, "K-Alpha 1", ""},
      {with("K-Beta", "kBeta"), std::nullopt, "",
       "intends the line \"K-Beta\" and gives no kBeta: give the wavelength"},
      {with("K-Alpha 2", "kAlpha2"), std::nullopt, "",
       "intends the line \"K-Alpha 2\" and gives no kAlpha2: give the wavelength"},
      {with("Other"), std::nullopt, "",
       "intends the line \"Other\", which is none of the file's (kAlpha1, kAlpha2, kBeta): give the wavelength"},
      {with("K-\x1b[2JBeta"), std::nullopt, "", "intends the line \"K-\\x1b[2JBeta\""},
  };
  for (const auto& c : cases) {
    const Result<Pattern> p = parse_xrdml_pattern(c.content, 0, "scan.xrdml");
    ASSERT_TRUE(p.ok()) << c.line << p.error().message;
    EXPECT_EQ(p->wavelength, c.wavelength) << c.warning;
    EXPECT_EQ(p->wavelength_line, c.line);
    if (*c.warning == '\0') {
      EXPECT_TRUE(p.warnings().empty()) << p.warnings().front();
    } else {
      ASSERT_EQ(p.warnings().size(), 1u) << c.warning;
      EXPECT_EQ(p.warnings()[0].rfind("scan.xrdml intends the line", 0), 0u) << p.warnings()[0];
      EXPECT_NE(p.warnings()[0].find(c.warning), std::string::npos) << p.warnings()[0];
    }
  }
}

TEST(PdfPattern, XrdmlScansSummedOrChosen) {
  const std::string text = file_text("xrdml/single_scan_counts.xrdml");
  const std::size_t a = text.find("<scan "), b = text.find("</scan>") + 7;
  std::string two = text;
  two.insert(b, text.substr(a, b - a));
  const Result<Pattern> one = parse_xrdml_pattern(text, 0, "f");
  const Result<Pattern> sum = parse_xrdml_pattern(two, 0, "f");
  const Result<Pattern> second = parse_xrdml_pattern(two, 2, "f");
  ASSERT_TRUE(one.ok() && sum.ok() && second.ok());
  for (std::size_t i = 0; i < one->y.size(); i += 97) {
    EXPECT_EQ(sum->y[i], 2.0 * one->y[i]);
    EXPECT_NEAR(sum->sigma[i], std::sqrt(2.0) * one->sigma[i], 1e-9 * sum->sigma[i] + (one->y[i] == 0 ? 1.0 : 0.0));
    EXPECT_EQ(second->y[i], one->y[i]);
  }
  const Result<Pattern> third = parse_xrdml_pattern(two, 3, "f");
  ASSERT_FALSE(third.ok());
  EXPECT_NE(third.error().message.find("scan must be 1 to 2"), std::string::npos);
}

// A map's scans stand at other omegas, a pole figure's move phi at one 2theta: neither sums to a powder pattern.
TEST(PdfPattern, XrdmlMapsAndPoleFiguresAreNoPowderPattern) {
  const Result<Pattern> map = parse_xrdml_pattern(file_text("xrdml/rsm_401_scans_list_positions.xrdml"), 0, "m");
  ASSERT_FALSE(map.ok());
  EXPECT_EQ(map.kind(), ErrorKind::kInvalidArgument);
  EXPECT_NE(map.error().message.find("m: scan 2 stands at Omega = "), std::string::npos) << map.error().message;
  EXPECT_NE(map.error().message.find("choose one with scan"), std::string::npos);
  // One scan of the map is a pattern of its own.
  EXPECT_TRUE(parse_xrdml_pattern(file_text("xrdml/rsm_401_scans_list_positions.xrdml"), 2, "m").ok());
  const Result<Pattern> pole = parse_xrdml_pattern(file_text("xrdml/polefigure_91_scans.xrdml"), 0, "p");
  ASSERT_FALSE(pole.ok());
  EXPECT_EQ(pole.kind(), ErrorKind::kUnsupported);
  EXPECT_NE(pole.error().message.find("and moves Phi: a powder pattern is a scan of 2theta"), std::string::npos)
      << pole.error().message;
}

TEST(PdfPattern, BackgroundInterpolatedAndSubtracted) {
  Pattern s, b;
  s.x = {1.0, 1.5, 2.0};
  s.y = {10, 10, 10};
  s.sigma = {1, 1, 1};
  b.x = {0.0, 1.0, 2.0, 3.0};
  b.y = {0, 2, 4, 6};
  b.sigma = {1, 1, 1, 1};
  const Result<Pattern> d = subtract_background(s, b, 0.5);
  ASSERT_TRUE(d.ok());
  EXPECT_DOUBLE_EQ(d->y[0], 9.0);
  EXPECT_DOUBLE_EQ(d->y[1], 8.5);  // background 3 halfway
  // sigma^2 = 1 + 0.25 (0.25 + 0.25) halfway between two points of sigma 1.
  EXPECT_DOUBLE_EQ(d->sigma[1], std::sqrt(1.125));
  b.x = {5, 6, 7, 8};
  const Result<Pattern> far = subtract_background(s, b, 1.0);
  ASSERT_FALSE(far.ok());
  EXPECT_NE(far.error().message.find("measure the background over the sample's whole range"), std::string::npos);
}

// A zinger or a hot pixel goes; Bragg peaks sampled with a few points go nowhere.
TEST(PdfPattern, OutliersAreIsolatedSpikesOnly) {
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::vector<double> y(600), s(600);
  for (std::size_t i = 0; i < y.size(); ++i) {
    const double x = static_cast<double>(i);
    double v = 1000.0;
    for (double centre : {100.0, 250.0, 400.0}) {
      const double fwhm = centre == 100.0 ? 3.0 : centre == 250.0 ? 1.8 : 6.0;
      v += 40000.0 * std::exp(-4.0 * std::log(2.0) * (x - centre) * (x - centre) / (fwhm * fwhm));
    }
    y[i] = v + std::sqrt(v) * noise(rng);
    s[i] = std::sqrt(v);
  }
  y[170] += 3000.0;  // one point
  y[330] += 2000.0;  // two side by side
  y[331] += 2500.0;
  const std::vector<std::size_t> found = find_outliers(y, s);
  EXPECT_EQ(found, (std::vector<std::size_t>{170, 330, 331}));
}

}  // namespace
}  // namespace talvo::pdf
