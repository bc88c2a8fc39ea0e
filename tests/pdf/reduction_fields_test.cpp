// The summary's table: every value taken from the member it names, written
// into JSON in the table's order, a none as null or left out, the self-checks
// only with the reduction that made them.
#include "talvo/pdf/reduction_fields.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <variant>

namespace talvo::pdf {
namespace {

// A reduction whose every summary member holds its own value, so that a field
// read from the wrong member shows.
Reduction distinct_reduction() {
  Reduction r;
  r.alpha = 1.5;
  r.alpha_sigma = 0.25;
  r.number_density = 0.0625;
  r.mu = 12.5;
  r.f_table = DispersionTable::kChantlerFfast;
  r.mu_x = 0.75;
  r.absorption_min = 0.125;
  r.absorption_max = 0.875;
  r.compton_subtracted = true;
  r.compton_fraction_at_qmax = 0.375;
  r.qmin = 0.5;
  r.qmax = 24.5;
  r.qstep = 0.01;
  r.extrapolated = 7;
  r.poly_degree = 3;
  r.iterations = 11;
  r.residual = 0.03125;
  Diagnostics d;
  d.high_q_mean = 1.0078125;
  d.high_q_sigma = 0.00390625;
  d.high_q_from = 19.5;
  d.lowest_smoothed = -0.046875;
  d.lowest_at = 2.25;
  d.floor_there = -0.5;
  d.low_r_rms = 0.1875;
  r.diagnostics = d;
  return r;
}

TEST(ReductionFields, EachValueIsItsMembersAndOfItsKind) {
  const Reduction r = distinct_reduction();
  ReductionOptions o;
  o.mode = Mode::kPhysical;
  o.wavelength = 0.71073;
  const std::map<std::string, SummaryValue> expected = {
      {"mode", std::string("physical")},
      {"wavelength", 0.71073},
      {"normalization_constant", 1.5},
      {"normalization_constant_sigma", 0.25},
      {"number_density", 0.0625},
      {"mu", 12.5},
      {"f_table", std::string("chantler-ffast")},
      {"mu_x", 0.75},
      {"absorption_min", 0.125},
      {"absorption_max", 0.875},
      {"compton_subtracted", true},
      {"compton_fraction_at_qmax", 0.375},
      {"qmin", 0.5},
      {"qmax", 24.5},
      {"qstep", 0.01},
      {"extrapolated", 7LL},
      {"poly_degree", 3LL},
      {"iterations", 11LL},
      {"residual", 0.03125},
      {"high_q_mean", 1.0078125},
      {"high_q_mean_sigma", 0.00390625},
      {"high_q_from", 19.5},
      {"lowest_smoothed_s", -0.046875},
      {"lowest_smoothed_s_at", 2.25},
      {"floor_there", -0.5},
      {"low_r_rms", 0.1875},
  };
  std::set<std::string_view> names;
  for (const SummaryField& f : summary_fields()) {
    EXPECT_TRUE(names.insert(f.name).second) << f.name << " twice";
    EXPECT_FALSE(f.meaning.empty()) << f.name;
    EXPECT_EQ(find_summary_field(f.name), &f);
    const SummaryValue v = f.value(r, o);
    const auto it = expected.find(std::string(f.name));
    ASSERT_NE(it, expected.end()) << f.name;
    EXPECT_EQ(v, it->second) << f.name;
    const std::size_t kind_index = f.kind == SummaryKind::kNumber  ? 1
                                   : f.kind == SummaryKind::kWhole ? 2
                                   : f.kind == SummaryKind::kFlag  ? 3
                                                                   : 4;
    EXPECT_EQ(v.index(), kind_index) << f.name;
  }
  EXPECT_EQ(names.size(), expected.size());
  EXPECT_EQ(find_summary_field("alpha"), nullptr);
}

TEST(ReductionFields, JsonInTheTablesOrderWithNonesAsTheTableSays) {
  Reduction r = distinct_reduction();
  ReductionOptions o;
  o.mode = Mode::kAdhoc;
  std::string out;
  {
    json::Object obj(out);
    append_summary_json(obj, r, o);
  }
  // No wavelength: left out; the rest in order.
  EXPECT_EQ(out.find("\"wavelength\""), std::string::npos) << out;
  EXPECT_EQ(out.rfind("{\"mode\": \"adhoc\", \"normalization_constant\": 1.5, ", 0), 0u) << out;
  EXPECT_NE(out.find("\"compton_subtracted\": true, \"compton_fraction_at_qmax\": 0.375"), std::string::npos) << out;
  EXPECT_NE(out.find("\"extrapolated\": 7, \"poly_degree\": 3, \"iterations\": 11"), std::string::npos) << out;
  EXPECT_NE(out.find("\"low_r_rms\": 0.1875}"), std::string::npos) << out;

  // No density, no tables, no self-checks: number_density null, f_table left out, no self-check at all.
  r.number_density.reset();
  r.f_table.reset();
  r.diagnostics.reset();
  out.clear();
  {
    json::Object obj(out);
    append_summary_json(obj, r, o);
  }
  EXPECT_NE(out.find("\"number_density\": null, \"mu\": 12.5, \"mu_x\": 0.75"), std::string::npos) << out;
  EXPECT_EQ(out.find("f_table"), std::string::npos) << out;
  EXPECT_EQ(out.find("high_q"), std::string::npos) << out;
  EXPECT_TRUE(out.ends_with(", \"residual\": 0.03125}")) << out;
  // A self-check that is none (no rho0 for the low-r rms) is null.
  r.diagnostics = Diagnostics{};
  out.clear();
  {
    json::Object obj(out);
    append_summary_json(obj, r, o);
  }
  EXPECT_NE(out.find("\"low_r_rms\": null}"), std::string::npos) << out;
}

}  // namespace
}  // namespace talvo::pdf
