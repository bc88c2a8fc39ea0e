#include "talvo/text/options.hpp"

#include <gtest/gtest.h>

#include <string>

namespace talvo {
namespace {

// A table of the shape a capability declares: a selector, options that
// belong to one of its values, units, ranges, choices, needs and excludes.
constexpr OptionSpec kSpecs[] = {
    {.name = "mode",
     .type = OptionType::kChoice,
     .doc = "how the sample is treated",
     .default_text = "physical",
     .choices = "physical|adhoc"},
    {.name = "density",
     .type = OptionType::kNumber,
     .doc = "the sample's density",
     .quantity = Quantity::kDensity,
     .excludes = "number-density",
     .low = 0.0,
     .low_open = true},
    {.name = "number-density",
     .type = OptionType::kNumber,
     .doc = "atoms per cubic Angstrom",
     .excludes = "density",
     .low = 0.0,
     .low_open = true},
    {.name = "radius",
     .type = OptionType::kNumber,
     .doc = "the cylinder's radius",
     .quantity = Quantity::kLengthMm,
     .default_text = "1",
     .when = "mode=physical",
     .low = 0.0,
     .low_open = true,
     .metavar = "MM"},
    {.name = "rpoly",
     .type = OptionType::kNumber,
     .doc = "the polynomials' r limit",
     .default_text = "0.9",
     .when = "mode=adhoc",
     .low = 0.0,
     .high = 5.0},
    {.name = "sratio", .type = OptionType::kNumber, .doc = "the width ratio below rcut", .needs = "rcut"},
    {.name = "rcut", .type = OptionType::kNumber, .doc = "where sratio ends"},
    {.name = "scan", .type = OptionType::kWhole, .doc = "the scan", .default_text = "0", .low = 0.0, .high = 1000.0},
    {.name = "r", .type = OptionType::kGrid, .doc = "the r grid", .default_text = "0:30:0.01"},
    {.name = "refine", .type = OptionType::kList, .doc = "what to fit", .choices = "a|scale|uiso"},
    {.name = "partials", .type = OptionType::kFlag, .doc = "each pair's G as well"},
};
constexpr OptionTable kTable{"the test", kSpecs};

OptionValues given(std::initializer_list<std::pair<const char*, const char*>> pairs) {
  OptionValues v;
  for (const auto& [k, t] : pairs) v.values[k] = std::string(t);
  return v;
}

TEST(OptionTable, EachFaultHasOneKindAndNamesTheOptionAsSpelled) {
  struct Case {
    std::initializer_list<std::pair<const char*, const char*>> in;
    Spelling spelling;
    ErrorKind kind;
    const char* option;
    const char* message;
  };
  const Case cases[] = {
      {{{"radus", "1"}},
       Spelling::kCommandLine,
       ErrorKind::kInvalidArgument,
       "radus",
       "--radus is not an option of the test"},
      {{{"density", "2"}, {"number-density", "0.1"}},
       Spelling::kKeyword,
       ErrorKind::kInvalidArgument,
       "density",
       "give density or number_density, not both"},
      {{{"mode", "fast"}},
       Spelling::kCommandLine,
       ErrorKind::kInvalidArgument,
       "mode",
       "--mode must be physical or adhoc, not \"fast\""},
      {{{"density", "2 kg"}}, Spelling::kCommandLine, ErrorKind::kParseError, "density", nullptr},
      {{{"density", "0"}},
       Spelling::kCommandLine,
       ErrorKind::kOutOfRange,
       "density",
       "--density must be above 0 g/cm3, not \"0\""},
      {{{"rpoly", "7"}, {"mode", "adhoc"}},
       Spelling::kCommandLine,
       ErrorKind::kOutOfRange,
       "rpoly",
       "--rpoly must be from 0 to 5, not \"7\""},
      {{{"rpoly", "1"}}, Spelling::kKeyword, ErrorKind::kInvalidArgument, "rpoly", "rpoly belongs to mode adhoc"},
      {{{"sratio", "0.8"}}, Spelling::kCommandLine, ErrorKind::kInvalidArgument, "sratio", "--sratio needs --rcut"},
      {{{"scan", "1.5"}}, Spelling::kCommandLine, ErrorKind::kParseError, "scan", nullptr},
      {{{"r", "0:30"}}, Spelling::kCommandLine, ErrorKind::kParseError, "r", nullptr},
      {{{"r", "5:1:0.1"}}, Spelling::kCommandLine, ErrorKind::kOutOfRange, "r", nullptr},
      {{{"refine", "a,,scale"}}, Spelling::kCommandLine, ErrorKind::kInvalidArgument, "refine", nullptr},
      {{{"refine", "a,occ"}},
       Spelling::kCommandLine,
       ErrorKind::kInvalidArgument,
       "refine",
       "--refine takes a, scale or uiso, not \"occ\""},
      {{{"radius", "inf"}}, Spelling::kCommandLine, ErrorKind::kParseError, "radius", nullptr},
  };
  for (const Case& c : cases) {
    const Result<Options> r = read_options(kTable, given(c.in), c.spelling);
    ASSERT_FALSE(r.ok()) << c.in.begin()->first;
    EXPECT_EQ(r.kind(), c.kind) << r.error().message;
    EXPECT_EQ(r.error().option, c.option) << r.error().message;
    if (c.message) {
      EXPECT_EQ(r.error().message, c.message);
    }
  }
}

TEST(OptionTable, ValuesAreReadInTheirUnitAndDefaultsFillTheRest) {
  const Result<Options> r = read_options(
      kTable, given({{"density", "2.5 kg/m3"}, {"radius", "250um"}, {"refine", "a, scale"}, {"partials", ""}}),
      Spelling::kCommandLine);
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_DOUBLE_EQ(r->number("density"), 0.0025);
  EXPECT_DOUBLE_EQ(r->number("radius"), 0.25);
  EXPECT_FALSE(r->number_if("number-density"));
  EXPECT_EQ(r->text("mode"), "physical");
  EXPECT_EQ(r->whole("scan"), 0);
  EXPECT_EQ(r->grid("r"), (std::array<double, 3>{0.0, 30.0, 0.01}));
  EXPECT_EQ(r->list("refine"), (std::vector<std::string>{"a", "scale"}));
  EXPECT_TRUE(r->flag("partials"));
  EXPECT_FALSE(r->given("rpoly"));
  // Numbers filled in directly (Python) are checked as text is.
  OptionValues direct;
  direct.values["scan"] = 3;
  direct.values["r"] = std::array<double, 3>{1.0, 2.0, 0.5};
  direct.values["radius"] = -1.0;
  const Result<Options> bad = read_options(kTable, direct, Spelling::kKeyword);
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.kind(), ErrorKind::kOutOfRange);
  direct.values.erase("radius");
  const Result<Options> good = read_options(kTable, direct, Spelling::kKeyword);
  ASSERT_TRUE(good.ok()) << good.error().message;
  EXPECT_EQ(good->whole("scan"), 3);
}

TEST(OptionTable, AFilesValueYieldsToWhatIsAskedNow) {
  OptionValues v = given({{"density", "2"}, {"number-density", "0.05"}, {"rpoly", "1.2"}});
  v.from_file = {"density", "rpoly"};
  const Result<Options> r = read_options(kTable, v, Spelling::kCommandLine);
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_FALSE(r->given("density"));
  EXPECT_DOUBLE_EQ(r->number("number-density"), 0.05);
  // An option of another mode from a file is kept, not refused: the file holds every option of its run.
  EXPECT_TRUE(r->given("rpoly"));
  EXPECT_FALSE(r->asked("rpoly"));
}

TEST(OptionTable, HeaderTextRereadsToTheSameValues) {
  const Result<Options> r = read_options(
      kTable, given({{"number-density", "0.0913"}, {"r", "1:20:0.02"}, {"partials", ""}}), Spelling::kCommandLine);
  ASSERT_TRUE(r.ok());
  const std::string text = header_text(kTable, *r);
  EXPECT_EQ(text, "mode = physical\nnumber-density = 0.0913\nradius = 1\nscan = 0\nr = 1:20:0.02\npartials = 1\n");
  OptionValues back;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at), eq = text.find(" = ", at);
    back.values[text.substr(at, eq - at)] = text.substr(eq + 3, end - eq - 3);
    at = end + 1;
  }
  const Result<Options> again = read_options(kTable, back, Spelling::kCommandLine);
  ASSERT_TRUE(again.ok()) << again.error().message;
  EXPECT_EQ(header_text(kTable, *again), text);
}

TEST(OptionTable, UsageManAndKeywordsComeFromTheTable) {
  const std::string usage = usage_text(kTable);
  // Every option once, the docs in one column, the mode's options under their line.
  EXPECT_NE(usage.find("  --density X            the sample's density (g/cm3)\n"), std::string::npos) << usage;
  EXPECT_NE(usage.find(" with --mode physical:\n  --radius MM "), std::string::npos) << usage;
  EXPECT_NE(usage.find("the cylinder's radius (mm; default 1)"), std::string::npos);
  EXPECT_NE(usage.find(" with --mode adhoc:\n  --rpoly X"), std::string::npos);
  const std::string man = man_text(kTable);
  EXPECT_NE(man.find(".TP\n\\fB\\-\\-number\\-density\\fR \\fIX\\fR\natoms per cubic Angstrom\n"), std::string::npos)
      << man;
  const std::string py = python_keywords(kTable);
  EXPECT_NE(py.find("number_density: float | str | None = None"), std::string::npos);
  EXPECT_NE(py.find("partials: bool = False"), std::string::npos);
  EXPECT_EQ(py.find('-'), std::string::npos);
  const std::string json = options_json(kTable);
  EXPECT_NE(json.find("{\"name\":\"mode\",\"type\":\"choice\",\"unit\":\"\",\"default\":\"physical\","
                      "\"choices\":[\"physical\",\"adhoc\"],\"when\":\"\",\"doc\":\"how the sample is treated\"}"),
            std::string::npos)
      << json;
}

// A list's items outlive the text they were cut from: long items (past any
// short-string buffer) come back whole.
TEST(OptionTable, ListItemsOfLongTextComeBackWhole) {
  static constexpr OptionSpec specs[] = {{.name = "refine", .type = OptionType::kList, .doc = "what to fit"}};
  constexpr OptionTable table{"the test", specs};
  const std::string long_items = "lattice_parameter_a=3.52,isotropic_displacement=0.005,scale_factor";
  const Result<Options> r = read_options(table, given({{"refine", long_items.c_str()}}), Spelling::kKeyword);
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(r->list("refine"), (std::vector<std::string>{"lattice_parameter_a=3.52", "isotropic_displacement=0.005",
                                                         "scale_factor"}));
}

}  // namespace
}  // namespace talvo
