#include "talvo/text/quote.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace talvo {
namespace {

TEST(QuoteForMessage, ControlCharactersAreEscaped) {
  const struct {
    std::string text, quoted;
  } cases[] = {
      {"2Theta", "\"2Theta\""},
      {"", "\"\""},
      {"\x1b[31mred\x1b[0m", "\"\\x1b[31mred\\x1b[0m\""},  // colour escape
      {"\x1b]0;title\x07", "\"\\x1b]0;title\\x07\""},      // window title, ended by BEL
      {"a\nb\r\tc\x7f", "\"a\\x0ab\\x0d\\x09c\\x7f\""},
      {std::string("nul\0byte", 8), "\"nul\\x00byte\""},
      {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},                        // the quotes stay readable as quotes
      {"\u009b2J", "\"\\u009b2J\""},                                               // CSI as one C1 character
      {"abc\xe2\x80\xaetxt.exe", "\"abc\\u202etxt.exe\""},                         // right-to-left override
      {"\xc3\x85ngstr\xc3\xb6m \xce\xb8", "\"\xc3\x85ngstr\xc3\xb6m \xce\xb8\""},  // other UTF-8 stays
      {"\xff\xfe", "\"\\xff\\xfe\""},                                              // not UTF-8
      {"\xc0\xaf", "\"\\xc0\\xaf\""},                                              // overlong '/'
      {"\xed\xa0\x80", "\"\\xed\\xa0\\x80\""},                                     // a surrogate
      {"\xe2\x82", "\"\\xe2\\x82\""},                                              // cut sequence
  };
  for (const auto& c : cases) EXPECT_EQ(quote_for_message(c.text), c.quoted) << c.quoted;
  EXPECT_EQ(escape_for_message("axis\x1b[2J"), "axis\\x1b[2J");
}

TEST(QuoteForMessage, LongTextIsCutBetweenCharacters) {
  EXPECT_EQ(quote_for_message("abcdef", 6), "\"abcdef\"");
  EXPECT_EQ(quote_for_message("abcdefg", 6), "\"abcdef\"... (7 bytes)");
  // 'A' and two 2-byte characters: the second does not fit in 4 bytes whole.
  EXPECT_EQ(quote_for_message("A\xc3\x85\xc3\x85", 4), "\"A\xc3\x85\"... (5 bytes)");
  EXPECT_EQ(escape_for_message("\x1b\x1b\x1b", 2), "\\x1b\\x1b... (3 bytes)");
  // A list of 100 000 values quoted in a message: its first 200 bytes and its length.
  const std::string long_text(100000, 'x');
  EXPECT_EQ(quote_for_message(long_text), "\"" + std::string(200, 'x') + "\"... (100000 bytes)");
  EXPECT_EQ(quote_for_message(std::string(200, 'x')), "\"" + std::string(200, 'x') + "\"");
}

// What quote_for_message wrote reads back byte for byte, whatever the bytes; what it cannot have written does not.
TEST(Unquote, ReadsBackEveryQuotedText) {
  std::vector<std::string> texts = {"",
                                    "plain",
                                    "a\nb",
                                    "say \"hi\" \\",
                                    "\x1b[2J\a",
                                    "\xff\xfe\xc0\xaf",
                                    "abc\xe2\x80\xaetxt",
                                    "\u009b",
                                    "\xc3\x85ngstr\xc3\xb6m",
                                    " edges\t"};
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte += static_cast<char>(b);
  texts.push_back(every_byte);
  for (const std::string& t : texts) {
    const std::string quoted = quote_for_message(t, std::string::npos);
    EXPECT_EQ(unquote(quoted), std::optional<std::string>(t)) << quoted;
  }
  for (const char* bad :
       {"", "\"", "no quotes", "\"open", "\"a\"b\"", "\"\\\"", "\"\\q\"", "\"\\x4\"", "\"\\x4g\"", "\"\\u12\""})
    EXPECT_FALSE(unquote(bad)) << bad;
}

}  // namespace
}  // namespace talvo
