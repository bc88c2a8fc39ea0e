#include "talvo/classic/sample_file.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/temp_dir.hpp"

namespace talvo::classic {
namespace {

Status read_text(const std::string& text, Composition& s, std::string* screen = nullptr) {
  std::istringstream in(text);
  std::ostringstream out;
  Status st = read_sample(in, s, screen ? 1 : 0, out);
  if (screen) *screen = out.str();
  return st;
}

TEST(ReadSample, AmountsAreNormalisedAndDensityKept) {
  Composition s;
  std::string screen;
  ASSERT_TRUE(read_text("talvo\nsears91.dat\n2 1\nH  1.0000000\nO  2.0000000\n-0.1000000\n", s, &screen).ok());
  ASSERT_EQ(s.elements.size(), 2u);
  EXPECT_EQ(s.elements[0].amount, 1.0f / 3.0f);  // normalised in single precision
  EXPECT_EQ(s.elements[1].amount, 2.0f / 3.0f);
  EXPECT_EQ(s.density, -0.1f);
  EXPECT_EQ(s.elements[1].symbol, "O ");
  EXPECT_EQ(s.kind, SampleKind::kNaturalElements);
  EXPECT_NE(screen.find(" read_sample: Abundances do not add to one, and will be normalised to one...\n"),
            std::string::npos);
  EXPECT_NE(screen.find(" read_sample: Element H  has atomic fraction 0.333333\n"), std::string::npos);
  EXPECT_NE(screen.find(" read_sample: Density is given in atoms/Angstrom as -0.1\n"), std::string::npos);
}

TEST(ReadSample, ErrorNumbers) {
  const std::string iso = "talvo\nsears.ascii\n1 2\nLi 2 1.0000000\n";
  struct Case {
    std::string text;
    int ierr;
    const char* message;
  } cases[] = {
      {iso + "   6 0.5000000 Li\n   7 0.4990000 Li\n0.0000000\n", 0, ""},
      {iso + "   6 0.5000000 Li\n   7 0.4980000 Li\n0.0000000\n", 106,
       "read_sample: Isotopic composition of element must add to ONE, sum = 0.99800003"},
      {"talvo\nsears91.dat\n1 1\nH  1.0000000\n", 102, "Premature end to file"},
      {"talvo\n", 102, "Premature end to file"},
      {"talvo\nx\n1 3\nH 1\n0\n", 103, "read_sample: ERROR: Unrecognised isotope option, value = 3"},
      {"talvo\nx\n1 1\nH\n0\n", 104, "read_sample: ERROR: Insufficient data in record: H"},
      {iso + "   6 0.5\n", 105, "read_sample: ERROR: Insufficient data in record:    6 0.5"},
      {iso + "   6 0.5000000 Li\n   7 0.5000000 Be\n0\n", 107,
       "Symbol Be in isotope record is inconsistent with symbol Li in element record"},
      {"talvo\nx\n1 1\nH abc\n0\n", 101, "Error reading file"},
      {"talvo\nx\nn 1\n", 101, "Error reading file"},
      {"talvo\nx\n101 1\n", 108, "read_sample: ERROR: Number of elements must be 1 to 100, value = 101"},
      {"talvo\nx\n1 2\nFe 21 1.0\n", 109, "read_sample: ERROR: Number of isotopes must be 1 to 20 for element Fe"},
      // A negative or zero amount, or a negative isotope fraction, is refused before anything runs with it.
      {"talvo\nx\n2 1\nH 1.0\nO -1.0\n0\n", 111,
       "read_sample: ERROR: Amount of element O must be above zero, value = -1"},
      {"talvo\nx\n1 1\nH 0\n0\n", 111, "read_sample: ERROR: Amount of element H must be above zero, value = 0"},
      {"talvo\nx\n2 1\nH 3e38\nO 3e38\n0\n", 113,
       "read_sample: ERROR: Amounts of the elements add to more than 3.4E+38"},
      {iso + "   6 1.5 Li\n   7 -0.5 Li\n0\n", 112,
       "read_sample: ERROR: Fraction of isotope 7Li must not be negative, value = -0.5"},
      {"talvo\nx\n1 1\nXx 1.0\n1.0\n", 1, "ele2z: Unrecognised element symbol: Xx"},
  };
  for (const Case& c : cases) {
    Composition s;
    const Status st = read_text(c.text, s);
    EXPECT_EQ(st.ierr, c.ierr) << c.text;
    EXPECT_EQ(st.message, c.message) << c.text;
  }
}

TEST(WriteSample, RoundTripKeepsWideAndTinyValues) {
  const auto path = (talvo::test_support::scratch_dir() / "talvo_round_trip.sample").string();
  Composition s;
  s.kind = SampleKind::kIsotopes;
  s.elements = {{"Li", 12.5, {{6, 0.95f}, {7, 0.05f}}}, {"O ", 1.0, {{0, 1.0}}}};
  s.density = 123.4567891f;
  std::ostringstream console;
  ASSERT_TRUE(write_sample(path, "talvo", "sears.ascii", s, 11, console).ok());
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "talvo\nsears.ascii\n2 2\nLi 2 12.5000000\nO  1 1.0000000\n   6 0.9500000 Li\n   7 0.0500000 Li\n"
            "   0 1.0000000 O \n123.4567871\n");
  in.seekg(0);
  Composition back;
  ASSERT_TRUE(read_sample(in, back, 0, console).ok());
  EXPECT_FLOAT_EQ(static_cast<float>(back.elements[0].amount), 12.5f / 13.5f);
  EXPECT_EQ(back.density, 123.4567891f);
  ASSERT_EQ(back.elements.size(), 2u);
  for (std::size_t k = 0; k < 2; ++k) {
    ASSERT_EQ(back.elements[k].isotopes.size(), s.elements[k].isotopes.size());
    for (std::size_t l = 0; l < s.elements[k].isotopes.size(); ++l) {
      EXPECT_EQ(back.elements[k].isotopes[l].a, s.elements[k].isotopes[l].a);
      EXPECT_EQ(back.elements[k].isotopes[l].fraction, s.elements[k].isotopes[l].fraction);
    }
  }

  s.density = 1.0e-9f;  // too small for seven decimals: still kept
  ASSERT_TRUE(write_sample(path, "talvo", "sears.ascii", s, 11, console).ok());
  std::ifstream again(path);
  ASSERT_TRUE(read_sample(again, back, 0, console).ok());
  EXPECT_EQ(back.density, 1.0e-9f);
  std::filesystem::remove(path);
}

TEST(ReadSample, RecordsHaveALineLimit) {
  const std::string head = "talvo\nsears91.dat\n1 1\n";
  Composition s;
  // CR-LF line ends read as LF ones; a record as long as the limit is read.
  ASSERT_TRUE(read_text("talvo\r\n" + std::string(kMaxLineLength, 'x') + "\r\n1 1\r\nFe 1.0\r\n0.0\r\n", s).ok());
  ASSERT_EQ(s.elements.size(), 1u);
  EXPECT_EQ(s.elements[0].symbol, "Fe");
  // One character more, in any record, is a read error and reading stops there.
  const std::string records[] = {
      std::string(kMaxLineLength + 1, 'x') + "\nsears91.dat\n1 1\nFe 1.0\n0.0\n",
      head + "Fe " + std::string(kMaxLineLength, '1') + "\n0.0\n",
      head + "Fe 1.0\n" + std::string(kMaxLineLength * 4, '0'),
  };
  for (const std::string& text : records) {
    const Status st = read_text(text, s);
    EXPECT_EQ(st.ierr, 101);
    EXPECT_EQ(st.message, "Error reading file");
  }
}

}  // namespace
}  // namespace talvo::classic

namespace talvo::classic {
namespace {

// Inputs the fuzzers found, kept so that their faults stay mended: whatever
// the reader accepts, the writer writes in a layout the reader reads again.
TEST(ReadSample, FuzzRegressions) {
  const std::filesystem::path dir = std::filesystem::path(TALVO_TEST_SOURCE_DIR) / "fuzz_regressions/read_sample";
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    Composition s;
    std::ostringstream out;
    const Status st = read_sample(in, s, 1, out);
    ++seen;
    if (!st.ok()) continue;
    const auto path = (talvo::test_support::scratch_dir() / "talvo_regression.sample").string();
    ASSERT_TRUE(write_sample(path, "talvo", "x", s, 11, out).ok());
    std::ifstream again(path);
    Composition back;
    const Status b = read_sample(again, back, 0, out);
    EXPECT_FALSE(b.ierr >= 101 && b.ierr <= 105) << entry.path() << ": " << b.message;
  }
  EXPECT_GT(seen, 0);
  Composition s;
  std::istringstream comma("talvo\nx\n2 1\nH  0.5\n,  1.0\n0\n");
  std::ostringstream out;
  EXPECT_EQ(read_sample(comma, s, 0, out).ierr, 104);  // a lone comma is no symbol
}

}  // namespace
}  // namespace talvo::classic
