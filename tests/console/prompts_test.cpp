#include "talvo/console/prompts.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "talvo/classic/print.hpp"

namespace talvo {
namespace {

// A console fed with the given replies; out collects what was shown.
struct Scripted {
  explicit Scripted(const std::string& replies) : in(replies) {}
  std::istringstream in;
  std::ostringstream out;
  Console con{in, out};
};

TEST(GetIntd, DefaultsAndReasking) {
  struct Case {
    const char* replies;
    int iopt;
    int start;
    int result;
    const char* screen;
  } cases[] = {
      {"\n", 1, -12, -12, " Give option (-12) > "},
      {"\n4\n", 0, 1, 4, " Give option >  Give option > "},
      {" \n  5\n", 1, 1, 5, " Give option (1) >  Give option (1) > "},
      {"f\nF3\n3,4\n", 1, 1, 3, " Give option (1) >  Give option (1) >  Give option (1) > "},
      {"2.5\n2\n", 1, 1, 2, " Give option (1) >  Give option (1) > "},
      {",\n", 1, 6, 6, " Give option (6) > "},
      {"7\r\n", 1, 1, 7, " Give option (1) > "},
  };
  for (const Case& c : cases) {
    Scripted s(c.replies);
    int v = c.start;
    ASSERT_TRUE(get_intd(s.con, v, "option", c.iopt).ok());
    EXPECT_EQ(v, c.result) << c.replies;
    EXPECT_EQ(s.out.str(), c.screen) << c.replies;
  }
}

TEST(GetIntd, EndOfInputIsReportedNotLoopedOn) {
  Scripted s(" \n");
  int v = 1;
  const Outcome r = get_intd(s.con, v, "option", 1);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.kind(), ErrorKind::kNotFound);
}

TEST(GetStringd, DefaultShownAndRepliesCut) {
  {
    Scripted s("\n");
    std::string name = "sample.dat";
    int nchar = 10;
    ASSERT_TRUE(get_stringd(s.con, name, "file", nchar, 1, 200).ok());
    EXPECT_EQ(s.out.str(), " Give file (sample.dat) > ");
    EXPECT_EQ(name, "sample.dat");
    EXPECT_EQ(nchar, 10);
  }
  {
    Scripted s("x\n");
    std::string name = "sample.dat";
    int nchar = 10;
    ASSERT_TRUE(get_stringd(s.con, name, "file", nchar, 1, 200).ok());
    EXPECT_EQ(name, "x");
    EXPECT_EQ(nchar, 1);
  }
  {
    const std::string longer(95, 'a');
    Scripted s(longer + "\n");
    std::string name;
    int nchar = 0;
    ASSERT_TRUE(get_stringd(s.con, name, "file", nchar, 0, 200).ok());
    EXPECT_EQ(name, std::string(80, 'a'));
    EXPECT_EQ(nchar, 95);  // the typed length, not capped
    Scripted t(longer + "\n");
    ASSERT_TRUE(get_stringd(t.con, name, "file", nchar, 0, 20).ok());
    EXPECT_EQ(name, std::string(20, 'a'));
  }
  {
    Scripted s("\n  \n");  // no default: empty asks again; blanks are a reply
    std::string name;
    int nchar = 0;
    ASSERT_TRUE(get_stringd(s.con, name, "file", nchar, 0, 200).ok());
    EXPECT_EQ(name, "  ");
    EXPECT_EQ(nchar, 2);
  }
}

TEST(GetParamDp, LosesItsDefaultAfterAnUnusableReply) {
  Scripted s("abc\n\n2.5D0\n");
  double v = 1.5;
  int iopt = 1;
  ASSERT_TRUE(get_param_dp(s.con, v, "Qmax", iopt).ok());
  EXPECT_EQ(iopt, 0);
  EXPECT_DOUBLE_EQ(v, 2.5);
  EXPECT_EQ(s.out.str(), " Give Qmax ( 0.1500000E+01) >  Give Qmax >  Give Qmax > ");
}

TEST(SetgF, PrefixLength) {
  EXPECT_EQ(setg_f(nullptr).path_len, 0);
  EXPECT_EQ(setg_f("").path_len, 0);
  EXPECT_EQ(setg_f("/opt/data/").path_len, 10);
  EXPECT_EQ(setg_f("/opt/data/").prefix(), "/opt/data/");
  EXPECT_EQ(setg_f(std::string(80, 'd').c_str()).path_len, -1);
  EXPECT_EQ(setg_f((std::string(79, 'd')).c_str()).path_len, -1);  // one trailing blank is no pair
  EXPECT_EQ(setg_f((std::string(79, 'd')).c_str()).prefix(), "");
  EXPECT_EQ(setg_f("/a b  c").prefix(), "/a b");
}

TEST(PrintLines, LabelThenValueInItsLayout) {
  std::ostringstream out;
  classic::pr_int(out, "ele2Z: Z = ", 8);
  classic::pr_int(out, "n = ", 99999999);
  classic::pr_par(out, "x = ", 1.5f);
  classic::pr_dpar(out, "convert_density: Abar = ", 6.005066712697347);
  classic::pr_dpar_3(out, "a=", 1.0, " b=", -2.0, " c=", 0.0);
  EXPECT_EQ(out.str(),
            " ele2Z: Z = 8\n"
            " n =  99999999\n"
            " x =  0.1500000E+01\n"
            " convert_density: Abar =  0.6005066712697E+01\n"
            " a= 0.1000000E+01 b=-0.2000000E+01 c= 0.0000000E+00\n");
}

}  // namespace
}  // namespace talvo
