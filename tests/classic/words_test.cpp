#include "talvo/classic/words.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <vector>

namespace talvo::classic {
namespace {

TEST(CaseBlindCompare, EqualDifferentAndUnequalLengths) {
  std::ostringstream out;
  EXPECT_EQ(ach_case_blind_compare("Fe", "FE", out), 0);
  EXPECT_EQ(ach_case_blind_compare("Fe", "Fa", out), 1);
  EXPECT_EQ(ach_case_blind_compare("", "", out), 0);
  EXPECT_EQ(ach_case_blind_compare("\xe9", "\xc9", out), 1);  // only a-z change case
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(ach_case_blind_compare("Fe", "Fe ", out), -1);
  EXPECT_EQ(out.str(), " **ERROR in ach$case_blind_compare\n **Strings are of unequal length\n");
}

TEST(CaseBlindCompare, WithoutAStreamNothingIsPrinted) {
  std::ostringstream captured;
  std::streambuf* const screen = std::cout.rdbuf(captured.rdbuf());
  const int unequal = ach_case_blind_compare("Fe", "Fe ");
  const int equal = ach_case_blind_compare("abort", "ABORT");
  std::cout.rdbuf(screen);
  EXPECT_EQ(unequal, -1);
  EXPECT_EQ(equal, 0);
  EXPECT_EQ(captured.str(), "");
}

TEST(CountWord, WordStartsAndOnePastTheLastWord) {
  struct Case {
    const char* text;
    int count;
    std::vector<int> ipos;
  } cases[] = {
      {"Si 1,O 2    ", 4, {1, 4, 6, 8, 9}},
      {"Fe 2.5", 2, {1, 4, 7}},    // the last word runs to the end
      {"a ,b", 3, {1, 3, 4, 5}},   // a comma after a blank begins a word
      {"\tH\t1\t", 2, {2, 4, 5}},  // TABs separate words
      {"   ", 0, {}},              // blanks only: nothing
      {"", 0, {}},
      {" \t, ", 0, {5}},  // separators only, with a TAB
  };
  for (const Case& c : cases) {
    const WordPositions w = count_word(c.text);
    EXPECT_EQ(w.count, c.count) << c.text;
    EXPECT_EQ(w.ipos, c.ipos) << c.text;
  }
  const std::string s = "H  2.5";
  EXPECT_EQ(word_text(s, count_word(s), 1), "H  ");
  EXPECT_EQ(word_text(s, count_word(s), 2), "2.5");
}

TEST(Lengths, IntegersRealsAndTexts) {
  const std::pair<long long, int> ints[] = {{0, 1}, {7, 1}, {-7, 2}, {10, 2}, {999, 3}, {-1000, 5}, {99999999, 9}};
  for (auto [i, n] : ints) EXPECT_EQ(len_int(i), n) << i;
  EXPECT_EQ(len_real(0.0f), 1);
  EXPECT_EQ(len_real(123.4f), 3);
  EXPECT_EQ(len_real(-5.0f), 2);
  EXPECT_EQ(len_real(0.5f), 1);
  EXPECT_EQ(len_string("abc\t  "), 3);
  EXPECT_EQ(len_string(std::string("ab\0", 3)), 2);
  EXPECT_EQ(len_string("   "), 0);
  EXPECT_EQ(len_string(""), 0);
}

}  // namespace
}  // namespace talvo::classic
