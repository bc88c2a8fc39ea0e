#include "app/nuclear_tables.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/run_end.hpp"
#include "tests/support/temp_dir.hpp"

namespace talvo {
namespace {

const std::string kData = TALVO_TEST_DATA_DIR;

struct Quiet {
  std::istringstream in;
  std::ostringstream out;
  Console con{in, out};
};

// Writes `text` to a file of its own in the test's temporary folder.
std::string temp_file(const std::string& name, const std::string& text) {
  const auto path = talvo::test_support::scratch_dir() / ("talvo_tables_" + name);
  std::ofstream(path, std::ios::binary) << text;
  return path.string();
}

std::size_t data_lines(const std::string& path, int skip) {
  std::ifstream in(path);
  std::string l;
  std::size_t n = 0;
  for (int i = 0; std::getline(in, l); ++i)
    if (i >= skip && !l.empty()) ++n;
  return n;
}

TEST(ShippedData, NaturalElementsReadCompletelyWithPublishedValues) {
  Quiet q;
  const auto t = read_natural_file(q.con, kData + "sears91.dat");
  EXPECT_EQ(t.size(), 89u);
  EXPECT_EQ(t.size(), data_lines(kData + "sears91.dat", 6));
  const NuclearEntry* h = find_entry(t, "h", 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->z, 1);
  EXPECT_DOUBLE_EQ(h->mass, 1.00797);
  EXPECT_FLOAT_EQ(h->b, -3.739f);
  EXPECT_FLOAT_EQ(h->sig_scatt, 82.02f);
  EXPECT_FLOAT_EQ(h->sig_abs, 0.3326f);
  const NuclearEntry* o = find_entry(t, "O", 0);
  ASSERT_NE(o, nullptr);
  EXPECT_FLOAT_EQ(o->b, 5.803f);
}

// Entries that the 1991 draft of the list had wrong, as Sears (1992) publishes
// them, in both data files. Xe has no published total: it is the sum of its
// coherent (2.96 b) and incoherent (0) cross-sections.
TEST(ShippedData, PublishedValuesOfCorrectedEntries) {
  Quiet q;
  const auto natural = read_natural_file(q.con, kData + "sears91.dat");
  const auto isotopes = read_isotope_file(q.con, kData + "sears.ascii");
  const struct {
    const char* symbol;
    int a;
    float b, sig_scatt, sig_abs;
  } published[] = {
      {"Fe", 0, 9.45f, 11.62f, 2.56f},   {"Cd", 0, 4.87f, 6.5f, 2520.0f}, {"Si", 0, 4.1491f, 2.167f, 0.171f},
      {"Xe", 0, 4.92f, 2.96f, 23.9f},    {"Na", 0, 3.63f, 3.28f, 0.53f},  {"Co", 0, 2.49f, 5.6f, 37.18f},
      {"Ca", 44, 1.42f, 0.25f, 0.88f},   {"Er", 0, 7.79f, 8.7f, 159.0f},  {"Fe", 56, 9.94f, 12.42f, 2.59f},
      {"Co", 59, 2.49f, 5.6f, 37.18f},  // the one isotope of an element listed by its natural row
  };
  for (const auto& p : published) {
    for (const auto* table : {&natural, &isotopes}) {
      if (table == &natural && p.a != 0) continue;
      const NuclearEntry* e = find_entry(*table, p.symbol, p.a);
      ASSERT_NE(e, nullptr) << p.a << p.symbol;
      EXPECT_FLOAT_EQ(e->b, p.b) << p.a << p.symbol;
      EXPECT_FLOAT_EQ(e->sig_scatt, p.sig_scatt) << p.a << p.symbol;
      EXPECT_FLOAT_EQ(e->sig_abs, p.sig_abs) << p.a << p.symbol;
    }
  }
  // A value the list does not give is 0: 124Xe has only an absorption cross-section.
  const NuclearEntry* xe124 = find_entry(isotopes, "Xe", 124);
  ASSERT_NE(xe124, nullptr);
  EXPECT_EQ(xe124->b, 0.0f);
  EXPECT_EQ(xe124->sig_scatt, 0.0f);
  EXPECT_FLOAT_EQ(xe124->sig_abs, 165.0f);
}

TEST(ShippedData, IsotopesReadCompletelyAndFindTheirMasses) {
  Quiet q;
  auto t = read_isotope_file(q.con, kData + "sears.ascii");
  EXPECT_EQ(t.size(), 391u);
  EXPECT_EQ(t.size(), data_lines(kData + "sears.ascii", 38));
  const auto w = read_atomic_weights(q.con, kData + "at_weights.dat");
  EXPECT_EQ(w.size(), 391u);
  attach_masses(q.con, t, w);
  EXPECT_EQ(q.out.str(), "");  // no entry falls back to its mass number

  const NuclearEntry* d = find_entry(t, "H", 2);
  ASSERT_NE(d, nullptr);
  EXPECT_FLOAT_EQ(d->b, 6.671f);
  EXPECT_FLOAT_EQ(d->sig_scatt, 7.64f);
  EXPECT_DOUBLE_EQ(d->mass, 2.014102);
  const NuclearEntry* gd = find_entry(t, "Gd", 157);
  ASSERT_NE(gd, nullptr);
  EXPECT_FLOAT_EQ(gd->b, -1.14f);
  EXPECT_FLOAT_EQ(gd->sig_abs, 259000.0f);
  EXPECT_EQ(gd->z, 64);
  const NuclearEntry* u = find_entry(t, "U", 238);
  ASSERT_NE(u, nullptr);
  EXPECT_FLOAT_EQ(u->b, 8.402f);
  EXPECT_DOUBLE_EQ(u->mass, 238.050783);
  const NuclearEntry* o = find_entry(t, "O", 0);
  ASSERT_NE(o, nullptr);
  EXPECT_DOUBLE_EQ(o->mass, 15.9994);
  // An element with one isotope is found both ways.
  ASSERT_NE(find_entry(t, "Be", 9), nullptr);
  ASSERT_NE(find_entry(t, "Be", 0), nullptr);
  EXPECT_NE(find_entry(t, "Pu", 239), nullptr);
  EXPECT_EQ(find_entry(t, "Pu", 0), nullptr);
}

// The outcome of reading a natural-element file: entries, or the messages of a run that ended.
struct Outcome {
  std::size_t entries = 0;
  bool ended = false;
  std::string screen;
};

Outcome read_natural(const std::string& name, const std::string& text) {
  Quiet q;
  Outcome o;
  try {
    o.entries = read_natural_file(q.con, temp_file(name, text)).size();
  } catch (const RunEnd& e) {
    o.ended = e.status() != 0;
  }
  o.screen = q.out.str();
  return o;
}

std::string natural_line(int z) {
  std::ostringstream s;
  s << " " << std::string(3 - std::to_string(z % 1000).size(), ' ') << z % 1000
    << "    1.007970  H     -3.73900   82.02000      0.33260\n";
  return s.str();
}

TEST(NaturalFile, EntryLimitAndBadFiles) {
  std::string four_hundred = "0\n";
  for (int i = 1; i <= 400; ++i) four_hundred += natural_line(i);
  Outcome full = read_natural("400", four_hundred);
  EXPECT_FALSE(full.ended);
  EXPECT_EQ(full.entries, 400u);

  Outcome over = read_natural("401", four_hundred + natural_line(401));
  EXPECT_TRUE(over.ended);
  EXPECT_EQ(over.screen, " The data file has more than the maximum allowed number of entries 400\n");

  Outcome header = read_natural("header", "x\n" + natural_line(1));
  EXPECT_TRUE(header.ended);
  EXPECT_NE(header.screen.find(" Error reading file "), std::string::npos);

  Outcome empty = read_natural("empty", "");
  EXPECT_TRUE(empty.ended);
  EXPECT_NE(empty.screen.find(" Error reading file "), std::string::npos);

  std::string bad = natural_line(1);
  bad.replace(8, 3, "abc");
  Outcome not_number = read_natural("nan", "0\n" + bad);
  EXPECT_TRUE(not_number.ended);
  EXPECT_NE(not_number.screen.find(" Error reading file "), std::string::npos);

  // A short line ends the entries; those before it count.
  Outcome short_line = read_natural("short", "1\nheader\n" + natural_line(1) + " 2  bad\n" + natural_line(3));
  EXPECT_FALSE(short_line.ended);
  EXPECT_EQ(short_line.entries, 1u);

  std::string crlf = "0\r\n" + natural_line(1);
  crlf.insert(crlf.size() - 1, "\r");
  Outcome windows = read_natural("crlf", crlf);
  EXPECT_FALSE(windows.ended);
  EXPECT_EQ(windows.entries, 1u);

  Quiet q;
  EXPECT_THROW(read_natural_file(q.con, "/no/such/file"), RunEnd);
  EXPECT_EQ(q.out.str(), " Failure locating file /no/such/file\n");
}

TEST(IsotopeFile, UncertaintiesMinusByteAndFieldErrors) {
  const std::string head(38, '\n');
  Quiet q;
  auto t = read_isotope_file(q.con, temp_file("iso", head + "Li\t\t-1.90(2)\t\t\t\t1.37(3)\t70.5(3)\r\n" +
                                                         "7Li\t92.5\t\xd0"
                                                         "2.22\t\t\t\t1.4\t0.0454\n" +
                                                         "6Li\t\t2.0\t\t\t\t\t940\n"));
  ASSERT_EQ(t.size(), 3u);
  EXPECT_FLOAT_EQ(t[0].b, -1.90f);
  EXPECT_FLOAT_EQ(t[0].sig_scatt, 1.37f);
  EXPECT_FLOAT_EQ(t[0].sig_abs, 70.5f);
  EXPECT_EQ(t[0].z, 3);
  EXPECT_FLOAT_EQ(t[1].b, -2.22f);  // byte 208 is a minus sign
  EXPECT_EQ(t[1].a, 7);
  EXPECT_FLOAT_EQ(t[2].sig_scatt, 0.0f);  // empty field: not measured
  EXPECT_FLOAT_EQ(t[2].sig_abs, 940.0f);

  // An isotope without an atomic weight gets its mass number.
  Quiet w;
  attach_masses(w.con, t, {{"Li", 3, 6, 6.015122}});
  EXPECT_DOUBLE_EQ(t[1].mass, 7.0);
  EXPECT_DOUBLE_EQ(t[2].mass, 6.015122);
  EXPECT_EQ(w.out.str(),
            " An atomic mass value has not been found for   3Li\n A value  0.000E+00 will be assumed\n"
            " An atomic mass value has not been found for   3Li\n A value  0.700E+01 will be assumed\n");

  for (const char* bad : {"Li\t\tabc\t\t\t\t1\t1\n", "Li\t\t1\t1\n", "Qq\t\t1\t\t\t\t1\t1\n"}) {
    Quiet e;
    EXPECT_THROW(read_isotope_file(e.con, temp_file("bad", head + bad)), RunEnd) << bad;
    EXPECT_NE(e.out.str().find(" Error reading file "), std::string::npos);
  }
}

}  // namespace
}  // namespace talvo
