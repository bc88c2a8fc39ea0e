// The long routines ask their caller's StopCheck between pieces of work, and
// stop with kCancelled once it says so: the transforms, sweeps, the XRDML
// reader and the reduction (Python's Ctrl-C goes through this).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "talvo/neutron/material.hpp"
#include "talvo/numeric/filon.hpp"
#include "talvo/numeric/sq2gr.hpp"
#include "talvo/pdf/pattern.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/result.hpp"
#include "talvo/xrdml/xrdml_file.hpp"

namespace talvo {
namespace {

std::vector<double> grid(double from, double step, std::size_t n) {
  std::vector<double> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = from + static_cast<double>(i) * step;
  return v;
}

const NeutronTable& table() {
  static const NeutronTable t = *read_neutron_table(std::string(TALVO_TEST_DATA_DIR) + "neutron_sears92.tsv");
  return t;
}

// Each routine, run with a stop: whether it gave its value, or the kind it failed with.
struct Routine {
  const char* name;
  std::function<Outcome(const StopCheck&)> run;
};

template <class T>
Outcome outcome(const Result<T>& r) {
  if (r.ok()) return Done{};
  return r.error();
}

const std::vector<double> kX = grid(0.0, 0.01, 10001);
const std::vector<double> kF = [] {
  std::vector<double> f(kX.size());
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = std::sin(2.0 * kX[i]) * std::exp(-0.05 * kX[i]);
  return f;
}();
const std::vector<double> kMany = grid(0.5, 0.001, 10000);

const Routine kRoutines[] = {
    {"filon_ft", [](const StopCheck& stop) {
       FilonOptions o;
       o.stop = stop;
       return outcome(filon_ft(kX, kF, kMany, o));
     }},
    {"sq2gr", [](const StopCheck& stop) {
       std::vector<double> s(kF.size());
       for (std::size_t i = 0; i < s.size(); ++i) s[i] = 1.0 + kF[i];
       Sq2grOptions o;
       o.stop = stop;
       return outcome(sq2gr(kX, s, kMany, 0.1, o));
     }},
    {"material_sweep", [](const StopCheck& stop) {
       MaterialOptions o;
       o.density = 7.41;
       o.stop = stop;
       return outcome(material_sweep("Gd2O3", table(), o, kMany));
     }},
    {"read_xrdml_file", [](const StopCheck& stop) {
       XrdmlReadOptions o;
       o.read_size = 4096;
       o.stop = stop;
       return outcome(read_xrdml_file(std::string(TALVO_TEST_FILES_DIR) + "xrdml/polefigure_91_scans.xrdml", o));
     }},
    {"pdf reduce", [](const StopCheck& stop) {
       const Result<pdf::Pattern> p =
           pdf::read_pattern(std::string(TALVO_TEST_FILES_DIR) + "lab_xy/zro2_mo.xy", pdf::InputFormat::kTwoTheta, 0);
       if (!p.ok()) return Outcome(p.error());
       pdf::ReductionOptions o;
       o.wavelength = 0.71073;
       o.sample.composition = "ZrO2";
       o.sample.density = 5.68;
       o.rmin_iterate = 1.5;
       o.stop = stop;
       return outcome(pdf::reduce(*p, nullptr, 1.0, o));
     }},
};

TEST(StopCheck, LongRoutinesAskBetweenPiecesAndStopWhenTold) {
  for (const Routine& r : kRoutines) {
    // Never stopped: the value, asked more than once along the way.
    int asked = 0;
    const Outcome full = r.run([&asked] { return ++asked < 0; });
    ASSERT_TRUE(full.ok()) << r.name << ": " << full.error().message;
    EXPECT_GT(asked, 1) << r.name;
    // Told to stop at the second question: kCancelled, and no question after the answer.
    int until_stop = 0;
    const Outcome stopped = r.run([&until_stop] { return ++until_stop == 2; });
    ASSERT_FALSE(stopped.ok()) << r.name;
    EXPECT_EQ(stopped.kind(), ErrorKind::kCancelled) << r.name;
    EXPECT_EQ(until_stop, 2) << r.name;
    // A stop that says so once and then no more still ends the call, cleanly.
    int once = 0;
    const Outcome changed_its_mind = r.run([&once] { return ++once == 1; });
    ASSERT_FALSE(changed_its_mind.ok()) << r.name;
    EXPECT_EQ(changed_its_mind.kind(), ErrorKind::kCancelled) << r.name;
  }
}

}  // namespace
}  // namespace talvo
