#include "talvo/text/words.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talvo {
namespace {

TEST(SplitWords, RunsBetweenBlanksCommasAndTabs) {
  struct Case {
    std::string text;
    std::vector<std::string_view> words;
  } cases[] = {
      {"H2O 1.0", {"H2O", "1.0"}},
      {"H2O, 1.0", {"H2O", "1.0"}},
      {"  1 ,\t2,,3  ", {"1", "2", "3"}},  // no empty word between separators
      {"\t", {}},
      {"", {}},
      {std::string("a\0b c", 5), {std::string_view("a\0b", 3), "c"}},  // only the three separate
      {"# comment", {"#", "comment"}},
  };
  for (const Case& c : cases) EXPECT_EQ(split_words(c.text), c.words) << c.text;
}

TEST(CaseBlind, OnlyAsciiLettersChangeCase) {
  EXPECT_TRUE(equal_case_blind("abort", "ABORT"));
  EXPECT_TRUE(equal_case_blind("", ""));
  EXPECT_FALSE(equal_case_blind("Fe", "Fe "));     // lengths differ
  EXPECT_FALSE(equal_case_blind("\xe9", "\xc9"));  // é and É are not a-z
  EXPECT_FALSE(equal_case_blind("[", "{"));        // 0x5b and 0x7b differ by 0x20 but are no letters
  EXPECT_EQ(upper_ascii('z'), 'Z');
  EXPECT_EQ(upper_ascii('{'), '{');
  EXPECT_EQ(upper_ascii('\xe9'), '\xe9');
  EXPECT_TRUE(same_symbol("fe ", "FE"));
  EXPECT_FALSE(same_symbol("F", "Fe"));
}

TEST(SameSymbol, TwoCharacterFieldsComparedCaseBlind) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {{"Fe", "FE", true}, {"fe", "Fe ", true}, {"H", "H ", true}, {"H", "He", false},
               {"He", "H", false}, {"", "  ", true},    {"O", "0", false}, {"Alx", "Al", true}};
  for (const auto& c : cases) {
    EXPECT_EQ(same_symbol(c.a, c.b), c.same) << c.a << "|" << c.b;
    EXPECT_EQ(same_symbol(c.b, c.a), c.same) << c.b << "|" << c.a;
  }
}

TEST(Texts, TrailingBlanksAndFixedLengths) {
  EXPECT_EQ(trim_end(std::string("ab \t\0", 5)), "ab");
  EXPECT_EQ(trim_end(" a "), " a");
  EXPECT_EQ(fixed("Fe", 4), "Fe  ");
  EXPECT_EQ(fixed("Fe", 1), "F");
}

}  // namespace
}  // namespace talvo
