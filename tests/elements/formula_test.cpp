#include "talvo/elements/formula.hpp"

#include <gtest/gtest.h>

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
    Formula f;
    const Status s = parse_formula(c.text, f);
    ASSERT_TRUE(s.ok()) << c.text << ": " << s.message;
    EXPECT_EQ(picture(f), c.parsed) << c.text;
  }
  Formula f;
  ASSERT_TRUE(parse_formula("CuSO4+5H2O", f).ok());
  EXPECT_DOUBLE_EQ(f.atoms(), 21.0);
  EXPECT_DOUBLE_EQ(f.elements[0].count, 1.0);
  EXPECT_EQ(f.text, "CuSO4+5H2O");
}

TEST(Formula, ErrorsNameTheTextAndItsPosition) {
  const struct {
    const char* text;
    int code;
    const char* message;
  } cases[] = {
      {"", kFormulaEmpty, "empty formula"},
      {"  ", kFormulaEmpty, "empty formula"},
      {"NaXx", kFormulaUnknownElement, "formula \"NaXx\": unknown element \"Xx\" (\"X\" at position 3)"},
      {"Ca(OH", kFormulaSyntax, "formula \"Ca(OH\": missing \")\" (\"(\" at position 3)"},
      {"CaOH)2", kFormulaSyntax, "formula \"CaOH)2\": \")\" without \"(\" (\")\" at position 5)"},
      {"H2O$", kFormulaSyntax, "formula \"H2O$\": unexpected character (\"$\" at position 4)"},
      {"h2o", kFormulaSyntax, "formula \"h2o\": an element or \"(\" expected (\"h\" at position 1)"},
      {"Li[x]", kFormulaSyntax, "formula \"Li[x]\": a mass number in \"[ ]\" expected (\"[\" at position 3)"},
      {"Li[6", kFormulaSyntax, "formula \"Li[6\": a mass number in \"[ ]\" expected (\"[\" at position 3)"},
      {"Li[0]", kFormulaBadCount, "formula \"Li[0]\": mass number out of range (\"0\" at position 4)"},
      {"D[2]", kFormulaSyntax, "formula \"D[2]\": D and T are isotopes already (\"[\" at position 2)"},
      {"H0O", kFormulaBadCount, "formula \"H0O\": count \"0\" must be above 0 (\"0\" at position 2)"},
      {"()", kFormulaSyntax, "formula \"()\": empty group (\"(\" at position 1)"},
      {"H2O+", kFormulaSyntax, "formula \"H2O+\": an element or \"(\" expected (at position 5)"},
      {"Fe.", kFormulaSyntax, "formula \"Fe.\": \".\" is not a number (\".\" at position 3)"},
      {"Q", kFormulaUnknownElement, "formula \"Q\": unknown element \"Q\" (\"Q\" at position 1)"},
  };
  for (const auto& c : cases) {
    Formula f;
    const Status s = parse_formula(c.text, f);
    EXPECT_TRUE(s.failed()) << c.text;
    EXPECT_EQ(s.ierr, c.code) << c.text;
    EXPECT_EQ(s.message, c.message) << c.text;
  }
  // Groups in groups to no end would exhaust the stack: refused.
  Formula f;
  EXPECT_EQ(parse_formula(std::string(10000, '(') + "H" + std::string(10000, ')'), f).ierr, kFormulaSyntax);
}

}  // namespace
}  // namespace talvo
