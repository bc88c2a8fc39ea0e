#include "talvo/text/json.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>

namespace talvo {
namespace {

TEST(Json, StringsAreEscapedAndAlwaysValidUtf8) {
  using namespace std::string_literals;
  const struct {
    std::string text, json;
  } cases[] = {
      {"SiO2", "\"SiO2\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"tab\there\nnl", "\"tab\\u0009here\\u000anl\""},
      {"nul\0end"s, "\"nul\\u0000end\""},
      {"\x1f\x7f", "\"\\u001f\x7f\""},  // DEL needs no escape
      {"\xc3\xa9 \xe2\x88\x92 \xf0\x9f\x98\x80",
       "\"\xc3\xa9 \xe2\x88\x92 \xf0\x9f\x98\x80\""},  // e-acute, minus, emoji
      // Bytes that are no UTF-8 as Python's surrogateescape reads them, each its own \udcXX.
      {"\xff", "\"\\udcff\""},  // no UTF-8 byte at all
      {"a\xe2\x88"
       "b",
       "\"a\\udce2\\udc88b\""},                                  // a sequence cut short
      {"\xc0\xaf", "\"\\udcc0\\udcaf\""},                        // overlong "/"
      {"\xed\xa0\x80", "\"\\udced\\udca0\\udc80\""},             // a surrogate
      {"\xf4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""},  // above U+10FFFF
  };
  for (const auto& c : cases) {
    std::string out;
    json::append_string(out, c.text);
    EXPECT_EQ(out, c.json) << c.text;
  }
}

TEST(Json, NumbersAreShortestAndNullWhereJsonHasNone) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    std::optional<double> value;
    const char* json;
  } cases[] = {
      {0.1, "0.1"},
      {-2.5e-300, "-2.5e-300"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {std::nullopt, "null"},
      {inf, "null"},
      {-inf, "null"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
  };
  for (const auto& c : cases) {
    std::string out;
    json::append_number(out, c.value);
    EXPECT_EQ(out, c.json);
  }
}

TEST(Json, ObjectsAndArraysNestAndCloseInOrder) {
  std::string out;
  {
    json::Object o(out);
    o.number("a", 1.0);
    o.string("b", "x");
    {
      json::Array list(o.key("list"));
      for (int i = 0; i < 2; ++i) {
        json::Object e(list.next());
        e.number("i", i);
      }
      json::Array empty(list.next());
    }
    json::Object inner(o.key("inner"));
  }
  EXPECT_EQ(out, "{\"a\": 1, \"b\": \"x\", \"list\": [{\"i\": 0}, {\"i\": 1}, []], \"inner\": {}}");
}

}  // namespace
}  // namespace talvo
