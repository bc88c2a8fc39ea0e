#include "talvo/classic/nuclear_tables.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "talvo/files/files.hpp"
#include "tests/support/temp_dir.hpp"

namespace talvo::classic {
namespace {

const std::string kData = TALVO_TEST_DATA_DIR;

NuclearTable natural_table(const std::string& name) {
  NuclearTable t;
  EXPECT_TRUE(read_natural_file(name, t).ok()) << name;
  return t;
}

NuclearTable isotope_table(const std::string& name) {
  NuclearTable t;
  EXPECT_TRUE(read_isotope_file(name, t).ok()) << name;
  return t;
}

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
  const NuclearTable t = natural_table(kData + "sears91.dat");
  EXPECT_EQ(t.entries.size(), 89u);
  EXPECT_EQ(t.entries.size(), data_lines(kData + "sears91.dat", 6));
  EXPECT_EQ(t.file, kData + "sears91.dat");
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
  const NuclearTable natural = natural_table(kData + "sears91.dat");
  const NuclearTable isotopes = isotope_table(kData + "sears.ascii");
  const struct {
    const char* symbol;
    int a;
    float b, sig_scatt, sig_abs;
  } published[] = {
      {"Fe", 0, 9.45f, 11.62f, 2.56f}, {"Cd", 0, 4.87f, 6.5f, 2520.0f}, {"Si", 0, 4.1491f, 2.167f, 0.171f},
      {"Xe", 0, 4.92f, 2.96f, 23.9f},  {"Na", 0, 3.63f, 3.28f, 0.53f},  {"Co", 0, 2.49f, 5.6f, 37.18f},
      {"Ca", 44, 1.42f, 0.25f, 0.88f}, {"Er", 0, 7.79f, 8.7f, 159.0f},  {"Fe", 56, 9.94f, 12.42f, 2.59f},
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
  NuclearTable t = isotope_table(kData + "sears.ascii");
  EXPECT_EQ(t.entries.size(), 391u);
  EXPECT_EQ(t.entries.size(), data_lines(kData + "sears.ascii", 38));
  std::vector<AtomicWeight> w;
  ASSERT_TRUE(read_atomic_weights(kData + "at_weights.dat", w).ok());
  EXPECT_EQ(w.size(), 391u);
  EXPECT_TRUE(attach_masses(t, w).empty());  // no entry falls back to its mass number

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

// Reading a natural-element file: its entries, or the status that ends the run.
struct Outcome {
  std::size_t entries = 0;
  Status status;
};

Outcome read_natural(const std::string& name, const std::string& text) {
  NuclearTable t;
  Outcome o;
  o.status = read_natural_file(temp_file(name, text), t);
  o.entries = t.entries.size();
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
  EXPECT_TRUE(full.status.ok());
  EXPECT_EQ(full.entries, 400u);

  Outcome over = read_natural("401", four_hundred + natural_line(401));
  EXPECT_EQ(over.status.ierr, kTooManyEntries);
  EXPECT_EQ(over.status.message, "The data file has more than the maximum allowed number of entries 400");
  EXPECT_EQ(over.entries, 0u);  // nothing is handed back from a file that cannot be used

  const struct {
    const char* name;
    std::string text;
  } unreadable[] = {
      {"header", "x\n" + natural_line(1)},
      {"empty", ""},
      {"nan", "0\n" + natural_line(1).replace(8, 3, "abc")},
  };
  for (const auto& u : unreadable) {
    const Outcome o = read_natural(u.name, u.text);
    EXPECT_EQ(o.status.ierr, kTableUnreadable) << u.name;
    EXPECT_EQ(o.status.message.rfind("Error reading file ", 0), 0u) << u.name;
    EXPECT_TRUE(o.status.failed());
  }

  // A short line ends the entries; those before it count.
  Outcome short_line = read_natural("short", "1\nheader\n" + natural_line(1) + " 2  bad\n" + natural_line(3));
  EXPECT_TRUE(short_line.status.ok());
  EXPECT_EQ(short_line.entries, 1u);

  std::string crlf = "0\r\n" + natural_line(1);
  crlf.insert(crlf.size() - 1, "\r");
  Outcome windows = read_natural("crlf", crlf);
  EXPECT_TRUE(windows.status.ok());
  EXPECT_EQ(windows.entries, 1u);

  NuclearTable t;
  const Status missing = read_natural_file("/no/such/file", t);
  EXPECT_EQ(missing.ierr, kTableMissing);
  EXPECT_EQ(missing.message, "Failure locating file /no/such/file");
}

TEST(IsotopeFile, UncertaintiesMinusByteAndFieldErrors) {
  const std::string head(38, '\n');
  NuclearTable t = isotope_table(temp_file("iso", head + "Li\t\t-1.90(2)\t\t\t\t1.37(3)\t70.5(3)\r\n" +
                                                      "7Li\t92.5\t\xd0"
                                                      "2.22\t\t\t\t1.4\t0.0454\n" +
                                                      "6Li\t\t2.0\t\t\t\t\t940\n"));
  ASSERT_EQ(t.entries.size(), 3u);
  EXPECT_FLOAT_EQ(t.entries[0].b, -1.90f);
  EXPECT_FLOAT_EQ(t.entries[0].sig_scatt, 1.37f);
  EXPECT_FLOAT_EQ(t.entries[0].sig_abs, 70.5f);
  EXPECT_EQ(t.entries[0].z, 3);
  EXPECT_FLOAT_EQ(t.entries[1].b, -2.22f);  // byte 208 is a minus sign
  EXPECT_EQ(t.entries[1].a, 7);
  EXPECT_FLOAT_EQ(t.entries[2].sig_scatt, 0.0f);  // empty field: not measured
  EXPECT_FLOAT_EQ(t.entries[2].sig_abs, 940.0f);

  // An isotope without an atomic weight gets its mass number, and is named for the caller to warn.
  const std::vector<const NuclearEntry*> assumed = attach_masses(t, {{"Li", 3, 6, 6.015122}});
  EXPECT_DOUBLE_EQ(t.entries[1].mass, 7.0);
  EXPECT_DOUBLE_EQ(t.entries[2].mass, 6.015122);
  ASSERT_EQ(assumed.size(), 2u);
  EXPECT_EQ(assumed[0], &t.entries[0]);
  EXPECT_EQ(assumed[1], &t.entries[1]);
  // Where two atomic-weights entries have the same Z and mass number, the last one wins.
  EXPECT_EQ(attach_masses(t, {{"Li", 3, 6, 6.5}, {"Li", 3, 6, 6.015122}, {"Li", 3, 7, 7.016}}).size(), 1u);
  EXPECT_DOUBLE_EQ(t.entries[2].mass, 6.015122);
  EXPECT_DOUBLE_EQ(t.entries[1].mass, 7.016);

  for (const char* bad : {"Li\t\tabc\t\t\t\t1\t1\n", "Li\t\t1\t1\n", "Qq\t\t1\t\t\t\t1\t1\n"}) {
    NuclearTable e;
    const Status s = read_isotope_file(temp_file("bad", head + bad), e);
    EXPECT_EQ(s.ierr, kTableUnreadable) << bad;
  }
}

TEST(MatchComposition, NamesWhatTheTableLacks) {
  NuclearTable t = isotope_table(kData + "sears.ascii");
  Composition c;
  c.kind = SampleKind::kIsotopes;
  c.elements = {{"Fe", 1, {{56, 0.5}, {57, 0.5}}}, {"O ", 1, {{0, 1}}}};
  std::vector<std::vector<const NuclearEntry*>> matched;
  ASSERT_TRUE(match_composition(c, t, matched).ok());
  ASSERT_EQ(matched.size(), 2u);
  EXPECT_EQ(matched[0][1]->a, 57);
  EXPECT_EQ(matched[1][0]->a, 0);

  c.elements[0].isotopes[1].a = 55;  // no such iron isotope
  Status s = match_composition(c, t, matched);
  EXPECT_EQ(s.ierr, kNotInTable);
  EXPECT_EQ(s.message, "Isotope 55Fe is not in " + kData + "sears.ascii");
  EXPECT_EQ(matched.size(), 1u);  // the entries found before it
  EXPECT_EQ(matched[0].size(), 1u);

  c.kind = SampleKind::kNaturalElements;
  c.elements = {{"Xx", 1, {{0, 1}}}};
  s = match_composition(c, natural_table(kData + "sears91.dat"), matched);
  EXPECT_EQ(s.message, "Element Xx is not in " + kData + "sears91.dat");
}

}  // namespace
}  // namespace talvo::classic

namespace talvo::classic {
namespace {

TEST(TableFiles, OnlyRegularFilesOfBoundedLines) {
  NuclearTable t;
  std::vector<AtomicWeight> w;
  EXPECT_EQ(read_natural_file("/dev/zero", t).ierr, kTableUnreadable);
  EXPECT_EQ(read_isotope_file("/dev/zero", t).ierr, kTableUnreadable);
  EXPECT_EQ(read_atomic_weights("/dev/zero", w).ierr, kTableUnreadable);
  const test_support::TempDir dir;
  // A line beyond the limit is unreadable, wherever it stands.
  const std::string endless(kMaxLineLength + 1, '1');
  EXPECT_EQ(read_natural_file(dir.write("a.dat", "0\n" + endless + "\n"), t).ierr, kTableUnreadable);
  EXPECT_EQ(read_isotope_file(dir.write("b.dat", std::string(37, '\n') + endless + "\n"), t).ierr, kTableUnreadable);
  EXPECT_EQ(read_atomic_weights(dir.write("c.dat", endless), w).ierr, kTableUnreadable);
  EXPECT_EQ(read_natural_file(dir.file("none.dat"), t).ierr, kTableMissing);
}

}  // namespace
}  // namespace talvo::classic
