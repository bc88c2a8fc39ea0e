#include "talvo/classic/elements.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

namespace talvo::classic {
namespace {

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
}  // namespace talvo::classic
