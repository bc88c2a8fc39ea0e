#include "talvo/elements/elements.hpp"

#include <gtest/gtest.h>

#include <optional>
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
    const std::optional<std::size_t> i = find_element(c.symbol);
    ASSERT_TRUE(i) << c.symbol;
    EXPECT_EQ(table[*i].z, c.z) << c.symbol;
    EXPECT_EQ(table[*i].weight, c.weight) << c.symbol;
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
    std::optional<std::size_t> index;
  } cases[] = {
      {"fe", 26},
      {"FE", 26},
      {"Fe ", 26},  // only the first two characters count
      {"h", 0},
      {"d", 1},
      {"H\t", std::nullopt},  // a TAB is no blank here (ele2z turns it into one)
      {"", std::nullopt},
      {"Xx", std::nullopt},
      {" H", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(find_element(c.symbol), c.index) << '"' << c.symbol << '"';
}

// The lookup gives what a search of the table in its order gives, for every
// pair of bytes (and a third that does not count).
TEST(FindElement, AgreesWithASearchOfTheTable) {
  const auto table = element_table();
  const auto search = [&](std::string_view symbol) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < table.size(); ++i)
      if (same_symbol(symbol, table[i].symbol)) return i;
    return std::nullopt;
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

// The modern lookups: a symbol of 1 or 2 letters exactly, or an atomic
// number; anything else is kNotFound with the input quoted.
TEST(ElementNamed, SymbolsAndAtomicNumbers) {
  const struct {
    const char* symbol;
    const char* found;  // nullptr: kNotFound
    int z;
  } cases[] = {
      {"Fe", "Fe", 26},   {"fe", "Fe", 26},    {"FE", "Fe", 26},    {"D", "D", 1},        {"h", "H", 1},
      {"Cm", "Cm", 96},   {"Fe ", nullptr, 0}, {"Fex", nullptr, 0}, {" H", nullptr, 0},   {"", nullptr, 0},
      {"Qq", nullptr, 0}, {"H\t", nullptr, 0}, {"1", nullptr, 0},   {"Fe3+", nullptr, 0},
  };
  for (const auto& c : cases) {
    const Result<ElementEntry> e = element_named(c.symbol);
    if (c.found == nullptr) {
      ASSERT_FALSE(e.ok()) << '"' << c.symbol << '"';
      EXPECT_EQ(e.kind(), ErrorKind::kNotFound);
      // The symbol as given, a TAB shown as its escape.
      const std::string shown = std::string(c.symbol) == "H\t" ? "H\\x09" : c.symbol;
      EXPECT_EQ(e.error().message, "unknown element symbol \"" + shown + "\"");
      continue;
    }
    ASSERT_TRUE(e.ok()) << c.symbol << ": " << e.error().message;
    EXPECT_STREQ(e->symbol, c.found);
    EXPECT_EQ(e->z, c.z);
  }
  // Z = 1 is H, never D; every Z of the table back to its own symbol.
  EXPECT_STREQ(element_of_z(1)->symbol, "H");
  for (int z = 2; z <= 96; ++z) {
    const Result<ElementEntry> e = element_of_z(z);
    ASSERT_TRUE(e.ok()) << z;
    EXPECT_EQ(element_named(e->symbol)->z, z) << e->symbol;
  }
  for (int z : {0, -1, 97, 200}) {
    const Result<ElementEntry> e = element_of_z(z);
    ASSERT_FALSE(e.ok()) << z;
    EXPECT_EQ(e.kind(), ErrorKind::kNotFound);
    EXPECT_EQ(e.error().message, "no element with Z = " + std::to_string(z) + " in the element table (Z = 1 to 96)");
  }
}

}  // namespace
}  // namespace talvo
