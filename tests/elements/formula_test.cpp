#include "talvo/elements/formula.hpp"

#include <gtest/gtest.h>

#include <string>

namespace talvo {
namespace {

// "symbol:a=count ..." for each element, isotopes in order: a readable picture of a parse.
std::string picture(const Formula& f) {
  std::string s;
  for (const FormulaElement& e : f.elements) {
    if (!s.empty()) s += ' ';
    s += e.symbol;
    for (const FormulaIsotope& i : e.isotopes) {
      char buf[64];
      std::snprintf(buf, sizeof buf, ":%d=%g", i.a, i.count);
      s += buf;
    }
  }
  return s;
}

TEST(Formula, TheNotationOfTheFieldsTools) {
  const struct {
    const char* text;
    const char* parsed;
  } cases[] = {
      {"H2O", "H:0=2 O:0=1"},
      {"Ni0.3Ti0.7", "Ni:0=0.3 Ti:0=0.7"},
      {"Ca(OH)2", "Ca:0=1 O:0=2 H:0=2"},
      {"Mg3(Si4O10)(OH)2", "Mg:0=3 Si:0=4 O:0=12 H:0=2"},
      {"K4(Fe(CN)6)", "K:0=4 Fe:0=1 C:0=6 N:0=6"},
      {"CuSO4+5H2O", "Cu:0=1 S:0=1 O:0=9 H:0=10"},
      {"Li[6]2O", "Li:6=2 O:0=1"},
      {"D2O", "H:2=2 O:0=1"},
      {"HDO", "H:0=1:2=1 O:0=1"},  // the isotopes of one element group under it
      {"T2", "H:3=2"},
      {"Li[6]0.95Li[7]0.05", "Li:6=0.95:7=0.05"},
      {"H2O+D2O", "H:0=2:2=2 O:0=2"},
      {"0.5H2O+0.5D2O", "H:0=1:2=1 O:0=1"},
      {" Fe2 O3 ", "Fe:0=2 O:0=3"},  // blanks between the parts are ignored
      {"C60", "C:0=60"},
      {".5Fe", "Fe:0=0.5"},
  };
  for (const auto& c : cases) {
    const Result<Formula> f = parse_formula(c.text);
    ASSERT_TRUE(f.ok()) << c.text << ": " << f.error().message;
    EXPECT_EQ(picture(*f), c.parsed) << c.text;
  }
  const Result<Formula> f = parse_formula("CuSO4+5H2O");
  ASSERT_TRUE(f.ok());
  EXPECT_DOUBLE_EQ(f->atoms(), 21.0);
  EXPECT_DOUBLE_EQ(f->elements[0].count, 1.0);
  EXPECT_EQ(f->text, "CuSO4+5H2O");
}

TEST(Formula, ErrorsNameTheTextAndItsPosition) {
  const struct {
    const char* text;
    ErrorKind kind;
    const char* message;
  } cases[] = {
      {"", ErrorKind::kParseError, "empty formula"},
      {"  ", ErrorKind::kParseError, "empty formula"},
      {"NaXx", ErrorKind::kNotFound, "formula \"NaXx\": unknown element \"Xx\" (\"X\" at position 3)"},
      {"Ca(OH", ErrorKind::kParseError, "formula \"Ca(OH\": missing \")\" (\"(\" at position 3)"},
      {"CaOH)2", ErrorKind::kParseError, "formula \"CaOH)2\": \")\" without \"(\" (\")\" at position 5)"},
      {"H2O$", ErrorKind::kParseError, "formula \"H2O$\": unexpected character (\"$\" at position 4)"},
      // What the input holds is quoted as text: a whole character, control bytes and lone bytes escaped.
      {"F\xc3\xa9" "2O3", ErrorKind::kParseError,
       "formula \"F\xc3\xa9" "2O3\": unexpected character (\"\xc3\xa9\" at position 2)"},
      {"H2O\x1b[2J", ErrorKind::kParseError,
       "formula \"H2O\\x1b[2J\": unexpected character (\"\\x1b\" at position 4)"},
      {"F\xc3", ErrorKind::kParseError, "formula \"F\\xc3\": unexpected character (\"\\xc3\" at position 2)"},
      {"h2o", ErrorKind::kParseError, "formula \"h2o\": an element or \"(\" expected (\"h\" at position 1)"},
      {"Li[x]", ErrorKind::kParseError, "formula \"Li[x]\": a mass number in \"[ ]\" expected (\"[\" at position 3)"},
      {"Li[6", ErrorKind::kParseError, "formula \"Li[6\": a mass number in \"[ ]\" expected (\"[\" at position 3)"},
      {"Li[0]", ErrorKind::kOutOfRange, "formula \"Li[0]\": mass number out of range (\"0\" at position 4)"},
      {"D[2]", ErrorKind::kParseError, "formula \"D[2]\": D and T are isotopes already (\"[\" at position 2)"},
      {"H0O", ErrorKind::kOutOfRange, "formula \"H0O\": count \"0\" must be above 0 (\"0\" at position 2)"},
      // An atom has Z electrons to lose: Fe 26, He 2.
      {"Fe{27+}", ErrorKind::kOutOfRange,
       "formula \"Fe{27+}\": an ion of Fe (Z = 26) has a charge of at most 26+, not 27+ (\"{\" at position 3)"},
      {"He{3+}", ErrorKind::kOutOfRange,
       "formula \"He{3+}\": an ion of He (Z = 2) has a charge of at most 2+, not 3+ (\"{\" at position 3)"},
      {"()", ErrorKind::kParseError, "formula \"()\": empty group (\"(\" at position 1)"},
      {"H2O+", ErrorKind::kParseError, "formula \"H2O+\": an element or \"(\" expected (at position 5)"},
      {"Fe.", ErrorKind::kParseError, "formula \"Fe.\": \".\" is not a number (\".\" at position 3)"},
      {"Q", ErrorKind::kNotFound, "formula \"Q\": unknown element \"Q\" (\"Q\" at position 1)"},
  };
  for (const auto& c : cases) {
    const Result<Formula> f = parse_formula(c.text);
    ASSERT_FALSE(f.ok()) << c.text;
    EXPECT_EQ(f.kind(), c.kind) << c.text;
    EXPECT_EQ(f.error().message, c.message) << c.text;
  }
  // Counts of groups in groups multiply: a product beyond 1e100 or below
  // 1e-100 (inf or 0 in the end, and NaN in every average) is refused where
  // the count that takes it there is written.
  const auto nest = [](int groups, const std::string& inner, const std::string& count) {
    std::string text = std::string(static_cast<std::size_t>(groups), '(') + inner;
    for (int i = 0; i < groups; ++i) text += ")" + count;
    return text;
  };
  const std::string e9 = "1000000000", e_10 = ".0000000001";
  const std::string big = nest(11, "H" + e9, e9), small = nest(10, "H" + e_10, e_10);
  const struct {
    std::string text, message;
  } products[] = {
      {big, "the count of H comes to 1e+108, beyond 1e-100 to 1e100 (\"1\" at position " +
                std::to_string(big.rfind(")" + e9) + 2) + ")"},
      {small, "the count of H comes to 1e-110, beyond 1e-100 to 1e100 (\".\" at position " +
                  std::to_string(small.rfind(")" + e_10) + 2) + ")"},
      {e9 + nest(10, "O" + e9, e9) + "H",
       "the count of O comes to 1e+108, beyond 1e-100 to 1e100 (\"1\" at position 1)"},
      {"H." + std::string(100, '0') + "1", "count \"." + std::string(100, '0') + "1\" is below 1e-100"},
  };
  for (const auto& c : products) {
    const Result<Formula> product = parse_formula(c.text);
    ASSERT_FALSE(product.ok()) << c.text;
    EXPECT_EQ(product.kind(), ErrorKind::kOutOfRange) << c.text;
    EXPECT_NE(product.error().message.find(c.message), std::string::npos)
        << product.error().message << "\nwant: " << c.message;
  }
  const Result<Formula> product = parse_formula(nest(10, "H" + e9, e9));
  ASSERT_TRUE(product.ok());  // 1e99 is a count
  EXPECT_NEAR(product->elements[0].count, 1e99, 1e84);
  // Groups in groups to no end would exhaust the stack: refused.
  EXPECT_EQ(parse_formula(std::string(10000, '(') + "H" + std::string(10000, ')')).kind(), ErrorKind::kParseError);
}

TEST(Formula, AtomMassOfNaturalAtomsAndIsotopes) {
  // Natural atoms weigh the element table's mean weight, isotopes their NIST
  // mass (2H 2.014102, 6Li 6.015122, 7Li 7.016004); a mix weighs as its shares.
  const struct {
    const char* text;
    double mass;  // of the first element; 0 when it has none
  } cases[] = {
      {"H2O", 1.0079},
      {"D2O", 2.014102},
      {"H[2]2O", 2.014102},
      {"HDO", (1.0079 + 2.014102) / 2},
      {"Li[6]0.25Li[7]0.75F", 0.25 * 6.015122 + 0.75 * 7.016004},
      {"Li[6]{+}F{-}", 6.015122},
      {"Li[5]F", 0.0},
      {"Fe[300]", 0.0},
  };
  for (const auto& c : cases) {
    const Result<Formula> f = parse_formula(c.text);
    ASSERT_TRUE(f.ok()) << c.text;
    const Result<double> m = atom_mass(f->elements[0]);
    if (c.mass == 0.0) {
      ASSERT_FALSE(m.ok()) << c.text;
      EXPECT_EQ(m.kind(), ErrorKind::kNotFound);
      EXPECT_NE(m.error().message.find(std::string(c.text).substr(0, std::string(c.text).find(']') + 1)),
                std::string::npos)
          << m.error().message;
    } else {
      ASSERT_TRUE(m.ok()) << c.text << ": " << m.error().message;
      EXPECT_NEAR(*m, c.mass, 1e-12) << c.text;
    }
  }
}

}  // namespace
}  // namespace talvo
