#include "talvo/elements/elements.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>

#include "talvo/text/words.hpp"

namespace talvo {
namespace {

TEST(ElementTable, OrderAndPublishedWeights) {
  const auto table = element_table();
  ASSERT_EQ(table.size(), 97u);
  EXPECT_STREQ(table[0].symbol, "H");
  EXPECT_STREQ(table[1].symbol, "D");
  EXPECT_EQ(table[1].z, 1);
  // He to Cm follow in the order of the atomic number, without a gap.
  for (std::size_t i = 2; i < table.size(); ++i) EXPECT_EQ(table[i].z, static_cast<int>(i)) << table[i].symbol;
  EXPECT_STREQ(table.back().symbol, "Cm");

  // Mean atomic weights (single precision) from the standard tables; for the
  // elements without a stable isotope, the mass number of the longest-lived one.
  struct Case {
    const char* symbol;
    int z;
    float weight;
  } cases[] = {
      {"H", 1, 1.0079f},  {"D", 1, 2.016f},    {"He", 2, 4.0026f},  {"C", 6, 12.011f},
      {"O", 8, 15.9994f}, {"Fe", 26, 55.847f}, {"U", 92, 238.029f}, {"Tc", 43, 97.0f},
      {"Pm", 61, 145.0f}, {"Po", 84, 209.0f},  {"At", 85, 210.0f},  {"Rn", 86, 222.0f},
      {"Fr", 87, 223.0f}, {"Pu", 94, 244.0f},  {"Am", 95, 243.0f},  {"Cm", 96, 247.0f},
  };
  for (const Case& c : cases) {
    const int i = find_element(c.symbol);
    ASSERT_GE(i, 0) << c.symbol;
    EXPECT_EQ(table[static_cast<std::size_t>(i)].z, c.z) << c.symbol;
    EXPECT_EQ(table[static_cast<std::size_t>(i)].weight, c.weight) << c.symbol;
  }
}

TEST(IsotopeTable, NistMassesOfTheListedIsotopesOnly) {
  // Masses (12C = 12) from the NIST atomic weights and isotopic compositions.
  const struct {
    int z, a;
    std::optional<double> mass;
  } cases[] = {
      {1, 1, 1.007825},        {1, 2, 2.014102},      {1, 3, 3.016049},
      {3, 6, 6.015122},        {3, 7, 7.016004},      {6, 12, 12.0},
      {26, 56, 55.934942},     {92, 238, 238.050783}, {96, 248, 248.072342},  // the last
      {3, 5, std::nullopt},    {1, 0, std::nullopt},  {26, 300, std::nullopt},
      {97, 247, std::nullopt}, {0, 1, std::nullopt},  {-1, 1, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(isotope_mass(c.z, c.a), c.mass) << c.z << " " << c.a;
  // Every entry is found again, and its mass lies within 0.1 amu of its mass number
  // (no column slipped in the generator).
  for (const IsotopeEntry& e : isotope_table()) {
    EXPECT_EQ(isotope_mass(e.z, e.a), e.mass);
    EXPECT_NEAR(e.mass, e.a, 0.1) << e.z << " " << e.a;
  }
}

TEST(FindElement, CaseBlindTwoCharacterSymbols) {
  struct Case {
    const char* symbol;
    int index;
  } cases[] = {
      {"fe", 26}, {"FE", 26}, {"Fe ", 26},  // only the first two characters count
      {"h", 0},   {"d", 1},   {"H\t", -1},  // a TAB is no blank here (ele2z turns it into one)
      {"", -1},   {"Xx", -1}, {" H", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(find_element(c.symbol), c.index) << '"' << c.symbol << '"';
}

// The lookup gives what a search of the table in its order gives, for every
// pair of bytes (and a third that does not count).
TEST(FindElement, AgreesWithASearchOfTheTable) {
  const auto table = element_table();
  const auto search = [&](std::string_view symbol) {
    for (std::size_t i = 0; i < table.size(); ++i)
      if (same_symbol(symbol, table[i].symbol)) return static_cast<int>(i);
    return -1;
  };
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) {
      const std::string two{static_cast<char>(a), static_cast<char>(b)};
      ASSERT_EQ(find_element(two), search(two)) << a << ' ' << b;
      ASSERT_EQ(find_element(two + "x"), search(two)) << a << ' ' << b;
    }
  for (int a = 0; a < 256; ++a) {
    const std::string one(1, static_cast<char>(a));
    ASSERT_EQ(find_element(one), search(one)) << a;
  }
}

TEST(Ele2z, TabsBecomeBlanksAndDiagnostics) {
  std::ostringstream out;
  std::string symbol = "O\t";
  int z = 0;
  double w = 0;
  ASSERT_TRUE(ele2z(symbol, z, w, 1, out).ok());
  EXPECT_EQ(symbol, "O ");
  EXPECT_EQ(z, 8);
  EXPECT_EQ(w, static_cast<double>(15.9994f));
  EXPECT_EQ(out.str(), " ele2Z: O\n ele2Z: Z = 8\n ele2Z: A =  0.1599940013885E+02\n");

  std::string unknown = "q\t";
  const Status s = ele2z(unknown, z, w, 0, out);
  EXPECT_EQ(s.ierr, 1);
  EXPECT_EQ(s.message, "ele2z: Unrecognised element symbol: q ");
  EXPECT_EQ(z, 8);  // unchanged
}

TEST(Z2ele, EveryAtomicNumberRoundTrips) {
  for (int z = 1; z <= 96; ++z) {
    std::string symbol;
    double w = 0;
    ASSERT_TRUE(z2ele(symbol, z, w, 0, std::cout).ok()) << z;
    std::string again = symbol;
    int back = 0;
    double w2 = 0;
    ASSERT_TRUE(ele2z(again, back, w2, 0, std::cout).ok()) << symbol;
    EXPECT_EQ(back, z) << symbol;
    EXPECT_EQ(w2, w) << symbol;
  }
  std::ostringstream out;
  std::string symbol = "Fe";
  double w = 1.5;
  EXPECT_EQ(z2ele(symbol, 0, w, 1, out).ierr, 1);
  EXPECT_EQ(symbol, "Fe");
  EXPECT_EQ(w, 1.5);
  EXPECT_EQ(out.str(), "");
  ASSERT_TRUE(z2ele(symbol, 92, w, 1, out).ok());
  EXPECT_EQ(out.str(), " Z2ele: U\n Z2ele: Z = 92\n Z2ele: A =  0.2380290069580E+03\n");
}

}  // namespace
}  // namespace talvo
