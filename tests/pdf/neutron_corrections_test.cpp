// The neutron corrections' run: its settings rerun it to the same rows, each
// correction refuses the options it does not read, and the rows are those of
// the routines it calls.
#include "talvo/pdf/neutron_corrections.hpp"

#include <gtest/gtest.h>

#include <string>

#include "talvo/pdf/neutron_attenuation.hpp"

namespace talvo::pdf {
namespace {

const NeutronTable& table() {
  static const NeutronTable t = [] {
    Result<NeutronTable> read = read_neutron_table(std::string(TALVO_TEST_DATA_DIR) + "neutron_sears92.tsv");
    EXPECT_TRUE(read.ok());
    return read.ok() ? std::move(*read) : NeutronTable{};
  }();
  return t;
}

Result<Options> options(std::initializer_list<std::pair<const char*, const char*>> pairs) {
  OptionValues v;
  for (const auto& [k, t] : pairs) v.values[k] = std::string(t);
  return read_options(neutron_correction_options(), v, Spelling::kCommandLine);
}

TEST(NeutronCorrections, SettingsRerunTheSameRows) {
  const Result<Options> o = options({{"sample", "V"},
                                     {"number-density", "0.0721"},
                                     {"radius", "3"},
                                     {"height", "40"},
                                     {"container", "Al"},
                                     {"container-density", "2.7"},
                                     {"container-outer", "3.5"},
                                     {"wavelength", "0.7"},
                                     {"twotheta", "5:175:10"},
                                     {"beam-width", "4"}});
  ASSERT_TRUE(o.ok()) << o.error().message;
  const Result<NeutronCorrectionRun> run = run_neutron_correction(NeutronCorrection::kAttenuation, *o, table());
  ASSERT_TRUE(run.ok()) << run.error().message;
  ASSERT_EQ(run->columns.size(), 4u);
  ASSERT_EQ(run->rows.size(), 18u);
  OptionValues again;
  for (std::size_t from = 0; from < run->settings.size();) {
    const std::size_t end = run->settings.find('\n', from);
    const std::string line = run->settings.substr(from, end - from);
    const std::size_t eq = line.find(" = ");
    again.values[line.substr(0, eq)] = line.substr(eq + 3);
    from = end + 1;
  }
  EXPECT_EQ(again.values.count("temperature"), 0u);  // not the attenuation's
  const Result<Options> o2 = read_options(neutron_correction_options(), again, Spelling::kCommandLine);
  ASSERT_TRUE(o2.ok()) << o2.error().message;
  const Result<NeutronCorrectionRun> rerun = run_neutron_correction(NeutronCorrection::kAttenuation, *o2, table());
  ASSERT_TRUE(rerun.ok()) << rerun.error().message;
  EXPECT_EQ(rerun->rows, run->rows);
  // The row at 45 degrees is the routine's own, the lengths in cm.
  NeutronMuOptions mo;
  mo.wavelength = 0.7;
  mo.number_density = 0.0721;
  NeutronMuOptions co;
  co.wavelength = 0.7;
  co.density = 2.7;
  NeutronCylinder c{0.3, 4.0, neutron_mu("V", table(), mo)->mu, 0.3, 0.35, 4.0, neutron_mu("Al", table(), co)->mu};
  NeutronBeam beam;
  beam.width = 0.4;
  const Result<NeutronFactors> f = cylinder_factors(45.0, 0.0, c, beam, 1e-8);
  ASSERT_TRUE(f.ok());
  EXPECT_NEAR(run->rows[4][1], f->a_s_sc, 2e-6);
  EXPECT_NEAR(run->rows[4][3], f->a_c_c, 2e-6);
}

TEST(NeutronCorrections, EachRefusesWhatItDoesNotRead) {
  struct Case {
    NeutronCorrection c;
    const char* option;
    const char* value;
  };
  const Case cases[] = {{NeutronCorrection::kPlaczek, "radius", "3"},
                        {NeutronCorrection::kPlaczek, "container", "V"},
                        {NeutronCorrection::kAttenuation, "temperature", "300"},
                        {NeutronCorrection::kAttenuation, "histories", "10"},
                        {NeutronCorrection::kMultipleScattering, "tolerance", "1e-3"},
                        {NeutronCorrection::kMultipleScattering, "detector-alpha", "1"}};
  for (const Case& k : cases) {
    const Result<Options> o =
        options({{"sample", "V"}, {"number-density", "0.07"}, {"wavelength", "1"}, {k.option, k.value}});
    ASSERT_TRUE(o.ok()) << o.error().message;
    const Result<NeutronCorrectionRun> run = run_neutron_correction(k.c, *o, table());
    ASSERT_FALSE(run.ok()) << k.option;
    EXPECT_EQ(run.kind(), ErrorKind::kInvalidArgument);
    EXPECT_NE(run.error().message.find(std::string("--") + k.option), std::string::npos) << run.error().message;
  }
  // Every option is read by one correction at least.
  for (const OptionSpec& s : neutron_correction_options().options) {
    bool read = false;
    for (auto c :
         {NeutronCorrection::kAttenuation, NeutronCorrection::kMultipleScattering, NeutronCorrection::kPlaczek}) {
      OptionValues v;
      v.values[std::string(s.name)] = std::string("0.5");
      v.values["sample"] = std::string("V");
      v.values["wavelength"] = std::string("1");
      if (s.when == "geometry=plate") v.values["geometry"] = std::string("plate");
      if (!s.needs.empty()) v.values[std::string(s.needs)] = std::string(s.needs == "container" ? "V" : "0.5");
      if (s.type == OptionType::kChoice) v.values[std::string(s.name)] = std::string(s.default_text);
      if (s.type == OptionType::kWhole) v.values[std::string(s.name)] = std::string("10");
      const Result<Options> one = read_options(neutron_correction_options(), v, Spelling::kCommandLine);
      if (!one.ok()) continue;
      const Result<NeutronCorrectionRun> r = run_neutron_correction(c, *one, table());
      if (r.ok() || r.error().message.find("is not an option of") == std::string::npos) read = true;
    }
    EXPECT_TRUE(read) << s.name;
  }
}

}  // namespace
}  // namespace talvo::pdf
